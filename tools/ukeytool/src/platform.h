// What the command logic of ukeytool needs from the operating system: the console, files, the
// device-exclusive mutex shared with the other programs, a clock and Ctrl+C. The Windows skin
// (win/) and the native skin (native/) implement it; tests use a scripted one. All text crossing
// this interface is UTF-8; token-side text (labels, names) is in the system code page and is
// converted with toLocal/fromLocal.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace ukt {

enum class DeviceLock { Taken, Busy, Failed };

class Platform {
 public:
  virtual ~Platform() = default;

  // Standard output and error, UTF-8 text.
  virtual void out(const std::string &text) = 0;
  virtual void err(const std::string &text) = 0;

  // True when standard input is an interactive console (PINs and confirmations can be typed).
  virtual bool stdinIsConsole() = 0;
  // Shows prompt on the console and reads one line with echo off. False on end of input, on
  // Ctrl+C, or when there is no console.
  virtual bool readSecret(const std::string &prompt, std::string &value) = 0;
  // Shows prompt and reads one line with echo on (confirmations). False on end of input.
  virtual bool readLine(const std::string &prompt, std::string &value) = 0;
  // One line of standard input without a prompt (scripts pipe PINs in). False at its end.
  virtual bool readStdinLine(std::string &value) = 0;

  // Whole files. On failure the text says why (the system's error message).
  virtual bool readFile(const std::string &path, std::vector<uint8_t> &data, std::string &why) = 0;
  virtual bool writeFile(const std::string &path, const std::vector<uint8_t> &data,
                         std::string &why) = 0;

  // The device-exclusive mutex that every program holds around a token sequence (created if
  // absent), waited for at most ms milliseconds: Taken (also when its last holder died holding
  // it), Busy when another program still holds it, Failed (with why) when it cannot be had at
  // all. The command logic waits in slices and announces a long wait.
  virtual DeviceLock lockDevices(uint32_t ms, std::string &why) = 0;
  virtual void unlockDevices() = 0;

  virtual void sleepMs(uint32_t ms) = 0;
  // Current time as "YYYYMMDDHHMMSS" in UTC, for comparing with certificate validity.
  virtual std::string utcNow() = 0;

  // While armed, Ctrl+C does not end the program but is recorded here, so a running token
  // sequence can end cleanly (cancel a waiting signature, disconnect, release the mutex).
  virtual void armInterrupt(bool armed) = 0;
  virtual bool interrupted() = 0;

  // Conversion between UTF-8 and the system code page the token library's strings use.
  virtual std::string toLocal(const std::string &utf8) = 0;
  virtual std::string fromLocal(const std::string &local) = 0;
};

}  // namespace ukt
