// Client of the token emulator for tests and tools, natively and in the Windows tree: creates
// and removes tokens, presses their button, reads their trace, and sends raw frames.
#pragma once
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace tokensim {

class Client {
 public:
  explicit Client(uint16_t port = 0) : port_(port) {}
  // The emulator named by the environment variable UK_VIRTUAL_TOKEN ("127.0.0.1:PORT") or, in
  // the Windows tree, by the machine-wide "VirtualToken" value; false when neither is set.
  bool fromSetting();
  uint16_t port() const { return port_; }

  // One control command; the text after the first line of the answer goes to *out. True when
  // the emulator answered "ok".
  bool command(const std::string &line, std::string *out = nullptr);
  const std::string &lastError() const { return error_; }

  using Options = std::vector<std::pair<std::string, std::string>>;
  // Creates a token (factory-formatted unless the options hold blank=1); options are the
  // emulator's create settings (label, cos, project, vid, pid, iface, button, delay, userpin,
  // sopin, retries, soretries, inserted). Values are percent-encoded here.
  bool createToken(const std::string &serial, const Options &options = {});
  bool deleteToken(const std::string &serial) { return command("delete " + serial); }
  bool insert(const std::string &serial) { return command("insert " + serial); }
  bool remove(const std::string &serial) { return command("remove " + serial); }
  bool reset(const std::string &serial) { return command("reset " + serial); }
  bool blank(const std::string &serial) { return command("blank " + serial); }
  bool pressButton(const std::string &serial) { return command("button " + serial + " press"); }
  bool buttonNever(const std::string &serial) { return command("button " + serial + " never"); }
  bool buttonAuto(const std::string &serial, uint32_t delayMs = 0) {
    return command("button " + serial + " auto " + std::to_string(delayMs));
  }
  bool set(const std::string &serial, const Options &settings);
  // "key=value" lines of the info command, as pairs.
  bool info(const std::string &serial, Options *out);
  // Trace lines: "> " request frame after its length bytes, "= " the same command after secure
  // messaging was removed, "< " response data and status word, "# " power events.
  std::vector<std::string> trace(const std::string &serial);
  bool clearTrace(const std::string &serial) { return command("trace-clear " + serial); }

  struct Device {
    std::string serial;
    uint16_t vid = 0, pid = 0;
    std::string iface;
    uint32_t generation = 0;
  };
  // The inserted tokens, as the virtual device bus sees them.
  bool devices(std::vector<Device> *out);
  // One frame to a token of the given generation; status is the uk::simnet answer status.
  bool exchange(const std::string &serial, uint32_t generation, const std::vector<uint8_t> &frame,
                std::vector<uint8_t> *response, uint8_t *status = nullptr);

 private:
  bool roundTrip(const std::vector<uint8_t> &body, std::vector<uint8_t> *answer);
  uint16_t port_;
  std::string error_;
};

// A serial number no other running test uses (process id, time, counter); its seventh character
// is '1' (default user PIN "482915") unless pinClass2 asks for '2' ("937260").
std::string uniqueSerial(const char *prefix = "T", bool pinClass2 = false);

}  // namespace tokensim
