#include "uk_tokensim_client.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <sstream>

#include "uk_simnet.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tokensim {

namespace sn = uk::simnet;

namespace {
std::string encode(const std::string &v) {
  std::string out;
  char b[4];
  for (unsigned char c : v) {
    if (c <= ' ' || c == '%' || c >= 0x7F || c == '=') {
      snprintf(b, sizeof b, "%%%02X", c);
      out += b;
    } else {
      out += char(c);
    }
  }
  return out;
}
}  // namespace

bool Client::fromSetting() {
  const char *env = getenv("UK_VIRTUAL_TOKEN");
  if (env && sn::parseAddress(env, &port_)) return true;
#ifdef _WIN32
  if (sn::settingAddress(&port_)) return true;
#endif
  return false;
}

bool Client::roundTrip(const std::vector<uint8_t> &body, std::vector<uint8_t> *answer) {
  if (!port_) {
    error_ = "no emulator address";
    return false;
  }
  sn::Socket s = sn::connectLoopback(port_, 60000);
  if (s == sn::kNoSocket) {
    error_ = "cannot connect to the emulator";
    return false;
  }
  uint32_t len = 0;
  bool ok = sn::sendMessage(s, body.data(), body.size()) && sn::recvLength(s, &len, sn::kMaxBody) &&
            len >= 1;
  if (ok) {
    answer->resize(len);
    ok = sn::recvAll(s, answer->data(), len);
  }
  sn::closeSocket(s);
  if (!ok) error_ = "no answer from the emulator";
  return ok;
}

bool Client::command(const std::string &line, std::string *out) {
  std::vector<uint8_t> body(1, sn::kOpControl), ans;
  body.insert(body.end(), line.begin(), line.end());
  if (!roundTrip(body, &ans)) return false;
  std::string text(ans.begin() + 1, ans.end());
  size_t nl = text.find('\n');
  std::string first = text.substr(0, nl);
  if (out) *out = nl == std::string::npos ? std::string() : text.substr(nl + 1);
  if (ans[0] != sn::kDone) {
    error_ = first;
    return false;
  }
  return true;
}

bool Client::createToken(const std::string &serial, const Options &options) {
  std::string line = "create " + serial;
  for (const auto &o : options) line += " " + o.first + "=" + encode(o.second);
  return command(line);
}

bool Client::set(const std::string &serial, const Options &settings) {
  std::string line = "set " + serial;
  for (const auto &o : settings) line += " " + o.first + "=" + encode(o.second);
  return command(line);
}

bool Client::info(const std::string &serial, Options *out) {
  std::string text;
  if (!command("info " + serial, &text)) return false;
  out->clear();
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    size_t eq = l.find('=');
    if (eq != std::string::npos) out->emplace_back(l.substr(0, eq), l.substr(eq + 1));
  }
  return true;
}

std::vector<std::string> Client::trace(const std::string &serial) {
  std::vector<std::string> lines;
  std::string text;
  if (!command("trace " + serial, &text)) return lines;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l))
    if (!l.empty()) lines.push_back(l);
  return lines;
}

bool Client::devices(std::vector<Device> *out) {
  std::vector<uint8_t> ans;
  if (!roundTrip({sn::kOpList}, &ans) || ans[0] != sn::kDone) return false;
  out->clear();
  std::istringstream in(std::string(ans.begin() + 1, ans.end()));
  std::string l;
  while (std::getline(in, l)) {
    std::istringstream f(l);
    Device d;
    std::string vid, pid;
    if (f >> d.serial >> vid >> pid >> d.iface >> d.generation) {
      d.vid = uint16_t(strtoul(vid.c_str(), nullptr, 16));
      d.pid = uint16_t(strtoul(pid.c_str(), nullptr, 16));
      out->push_back(d);
    }
  }
  return true;
}

bool Client::exchange(const std::string &serial, uint32_t generation,
                      const std::vector<uint8_t> &frame, std::vector<uint8_t> *response,
                      uint8_t *status) {
  std::vector<uint8_t> body(1, sn::kOpExchange), ans;
  body.insert(body.end(), serial.begin(), serial.end());
  body.push_back(0);
  for (int sh = 24; sh >= 0; sh -= 8) body.push_back(uint8_t(generation >> sh));
  body.insert(body.end(), frame.begin(), frame.end());
  if (!roundTrip(body, &ans)) return false;
  if (status) *status = ans[0];
  response->assign(ans.begin() + 1, ans.end());
  return ans[0] == sn::kDone;
}

std::string uniqueSerial(const char *prefix, bool pinClass2) {
  static std::atomic<unsigned> counter{0};
#ifdef _WIN32
  unsigned pid = unsigned(GetCurrentProcessId());
#else
  unsigned pid = unsigned(getpid());
#endif
  unsigned n = counter++;
  unsigned t = unsigned(time(nullptr));
  // Seven leading characters fix the seventh one: prefix, padded with '0', then the class digit.
  std::string head = std::string(prefix ? prefix : "T").substr(0, 6);
  while (head.size() < 6) head += '0';
  char tail[40];
  snprintf(tail, sizeof tail, "%c%05x%05x%03x", pinClass2 ? '2' : '1', pid & 0xFFFFF, t & 0xFFFFF,
           n & 0xFFF);
  return head + tail;
}

}  // namespace tokensim
