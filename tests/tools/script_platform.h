// A scripted Platform for the command logic of ukeytool: console input from a list, files in
// memory, and a record of what was written and whether the device mutex was balanced.
#pragma once
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform.h"

class ScriptPlatform : public ukt::Platform {
 public:
  std::string outText, errText;
  bool console = true;
  std::deque<std::string> consoleLines;  // secrets and answers, in order
  std::deque<std::string> stdinLines;
  std::vector<std::string> prompts;
  std::map<std::string, std::vector<uint8_t>> files;
  int locks = 0, unlocks = 0;
  size_t busyLocks = 0, interruptAfter = 0;
  std::vector<uint32_t> lockWaits;  // the wait of every attempt, in milliseconds
  bool interruptNow = false;
  int armed = 0;
  uint32_t slept = 0;

  void out(const std::string &t) override { outText += t; }
  void err(const std::string &t) override { errText += t; }
  bool stdinIsConsole() override { return console; }
  bool readSecret(const std::string &prompt, std::string &v) override { return next(prompt, v); }
  bool readLine(const std::string &prompt, std::string &v) override { return next(prompt, v); }
  bool readStdinLine(std::string &v) override {
    if (stdinLines.empty()) return false;
    v = stdinLines.front();
    stdinLines.pop_front();
    return true;
  }
  bool readFile(const std::string &path, std::vector<uint8_t> &data, std::string &why) override {
    auto it = files.find(path);
    if (it == files.end()) return why = "No such file or directory", false;
    data = it->second;
    return true;
  }
  bool writeFile(const std::string &path, const std::vector<uint8_t> &data, std::string &why) override {
    if (path.find("/nonexistent/") == 0) return why = "No such file or directory", false;
    files[path] = data;
    return true;
  }
  // The device mutex is held by another program for the first busyLocks calls; interruptAfter
  // calls in, the user presses Ctrl+C (0: never).
  ukt::DeviceLock lockDevices(uint32_t ms, std::string &) override {
    lockWaits.push_back(ms);
    if (interruptAfter && lockWaits.size() >= interruptAfter) interruptNow = true;
    if (lockWaits.size() <= busyLocks) return ukt::DeviceLock::Busy;
    return ++locks, ukt::DeviceLock::Taken;
  }
  void unlockDevices() override { ++unlocks; }
  void sleepMs(uint32_t ms) override { slept += ms; }
  std::string utcNow() override { return "20300101000000"; }
  void armInterrupt(bool a) override { armed += a ? 1 : 0; }
  bool interrupted() override { return interruptNow; }
  std::string toLocal(const std::string &s) override { return s; }
  std::string fromLocal(const std::string &s) override { return s; }

 private:
  bool next(const std::string &prompt, std::string &v) {
    prompts.push_back(prompt);
    if (!console || consoleLines.empty()) return false;
    v = consoleLines.front();
    consoleLines.pop_front();
    return true;
  }
};
