#include "sim_server.h"

#include <dirent.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "uk_simnet.h"

namespace tokensim {

namespace sn = uk::simnet;

std::string toHex(const uint8_t *p, size_t n) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

namespace {

bool validSerial(const std::string &s) {
  if (s.empty() || s.size() > 32) return false;
  for (char c : s)
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) return false;
  return true;
}

// Values in control commands are percent-encoded where they hold spaces or other bytes.
std::string decode(const std::string &v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '%' && i + 2 < v.size() &&
        isxdigit(static_cast<unsigned char>(v[i + 1])) &&
        isxdigit(static_cast<unsigned char>(v[i + 2]))) {
      out += char(std::stoi(v.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += v[i];
    }
  }
  return out;
}

std::vector<std::string> split(const std::string &line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

bool keyValue(const std::string &arg, std::string *k, std::string *v) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *k = arg.substr(0, eq);
  *v = decode(arg.substr(eq + 1));
  return true;
}

bool parseNumber(const std::string &v, int base, uint32_t max, uint32_t *out) {
  if (v.empty() || v.size() > 10) return false;
  char *end = nullptr;
  unsigned long n = strtoul(v.c_str(), &end, base);
  if (*end || n > max) return false;
  *out = uint32_t(n);
  return true;
}

const char *ifaceName(Iface i) {
  return i == Iface::CdRom ? "cdrom" : i == Iface::Disk ? "disk" : "none";
}

std::string error(const std::string &why) { return "error " + why + "\n"; }

// Applies one configuration setting; false with a reason on a bad one.
bool applySetting(TokenConfig &c, std::string *label, const std::string &k, const std::string &v,
                  std::string *why) {
  uint32_t n = 0;
  if (k == "label") {
    if (v.size() > 112) { *why = "label too long"; return false; }
    *label = v;
  } else if (k == "cos") {
    if (v.size() > 12) { *why = "cos version longer than 12"; return false; }
    c.cosVersion = v;
  } else if (k == "project") {
    if (v.size() > 16) { *why = "project name longer than 16"; return false; }
    c.projectName = v;
  } else if (k == "vid" || k == "pid") {
    if (!parseNumber(v, 16, 0xFFFF, &n)) { *why = "bad " + k; return false; }
    (k == "vid" ? c.vid : c.pid) = uint16_t(n);
  } else if (k == "iface") {
    if (v == "cdrom") c.iface = Iface::CdRom;
    else if (v == "disk") c.iface = Iface::Disk;
    else if (v == "none") c.iface = Iface::None;
    else { *why = "iface must be cdrom, disk or none"; return false; }
  } else if (k == "button") {
    if (v == "auto") c.button = ButtonMode::Auto;
    else if (v == "never") c.button = ButtonMode::Never;
    else { *why = "button must be auto or never"; return false; }
  } else if (k == "delay") {
    if (!parseNumber(v, 10, 3600000, &n)) { *why = "bad delay"; return false; }
    c.buttonDelayMs = n;
  } else {
    *why = "unknown setting " + k;
    return false;
  }
  return true;
}

constexpr char kSlotMagic[4] = {'U', 'K', 'S', 'L'};

}  // namespace

Registry::Registry(std::string stateDir) : dir_(std::move(stateDir)) {}

size_t Registry::loadAll() {
  DIR *d = opendir(dir_.c_str());
  if (!d) return 0;
  std::vector<std::string> names;
  while (struct dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tok") == 0) names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  size_t loaded = 0;
  for (const std::string &n : names) {
    FILE *f = fopen((dir_ + "/" + n).c_str(), "rb");
    if (!f) continue;
    Bytes b;
    uint8_t buf[8192];
    size_t r;
    while ((r = fread(buf, 1, sizeof buf, f)) > 0 && b.size() < (16u << 20)) b.insert(b.end(), buf, buf + r);
    fclose(f);
    if (b.size() < 6 || memcmp(b.data(), kSlotMagic, 4) != 0 || b[4] != 1) {
      fprintf(stderr, "tokensim: %s is not a token image, skipped\n", n.c_str());
      continue;
    }
    auto card = Card::loadImage(b.data() + 6, b.size() - 6);
    if (!card || !validSerial(card->config().serial) ||
        n != card->config().serial + ".tok") {
      fprintf(stderr, "tokensim: %s is damaged, skipped\n", n.c_str());
      continue;
    }
    auto slot = std::make_shared<TokenSlot>();
    slot->inserted = b[5] != 0;
    slot->card = std::move(card);
    std::lock_guard<std::mutex> g(lock_);
    slot->order = nextOrder_++;
    tokens_[slot->card->config().serial] = slot;
    ++loaded;
  }
  return loaded;
}

bool Registry::save(const std::string &serial, TokenSlot &slot) {
  if (dir_.empty()) return true;
  Bytes img(kSlotMagic, kSlotMagic + 4);
  img.push_back(1);
  img.push_back(slot.inserted ? 1 : 0);
  Bytes card = slot.card->saveImage();
  img.insert(img.end(), card.begin(), card.end());
  std::string path = dir_ + "/" + serial + ".tok", tmp = path + ".tmp";
  FILE *f = fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(img.data(), 1, img.size(), f) == img.size();
  ok = fclose(f) == 0 && ok;
  return ok && rename(tmp.c_str(), path.c_str()) == 0;
}

std::shared_ptr<TokenSlot> Registry::find(const std::string &serial) {
  std::lock_guard<std::mutex> g(lock_);
  auto it = tokens_.find(serial);
  return it == tokens_.end() ? nullptr : it->second;
}

std::string Registry::listDevices() {
  std::vector<std::shared_ptr<TokenSlot>> all;
  {
    std::lock_guard<std::mutex> g(lock_);
    for (auto &t : tokens_) all.push_back(t.second);
  }
  std::sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a->order < b->order; });
  std::string out;
  for (auto &s : all) {
    std::lock_guard<std::mutex> g(s->lock);
    if (!s->inserted) continue;
    const TokenConfig &c = s->card->config();
    char line[128];
    snprintf(line, sizeof line, "%s %04x %04x %s %u\n", c.serial.c_str(), c.vid, c.pid,
             ifaceName(c.iface), s->generation);
    out += line;
  }
  return out;
}

uint8_t Registry::exchange(const std::string &serial, uint32_t generation, const uint8_t *frame,
                           size_t len, Bytes *response) {
  auto slot = find(serial);
  if (!slot) return sn::kNoToken;
  std::lock_guard<std::mutex> g(slot->lock);
  if (!slot->inserted || slot->generation != generation) return sn::kStale;
  bool changed = false;
  if (slot->pullAt && --slot->pullAt == 0) {
    // The armed pull: the frame never arrives, or its answer never leaves.
    if (slot->pullAfterFrame) slot->card->processFrame(frame, len, &changed);
    pullOut(*slot, "# pull");
    if (!save(serial, *slot)) fprintf(stderr, "tokensim: cannot save %s\n", serial.c_str());
    return sn::kStale;
  }
  *response = slot->card->processFrame(frame, len, &changed);
  auto &tr = slot->trace;
  tr.push_back("> " + toHex(frame + (len >= 2 ? 2 : len), len >= 2 ? len - 2 : 0));
  if (!slot->card->lastUnwrapped().empty()) {
    const Bytes &u = slot->card->lastUnwrapped();
    tr.push_back("= " + toHex(u.data() + 2, u.size() - 2));
  }
  tr.push_back("< " + toHex(response->data() + 2, response->size() - 2));
  while (tr.size() > kMaxTraceLines) tr.pop_front();
  if (changed && !save(serial, *slot)) fprintf(stderr, "tokensim: cannot save %s\n", serial.c_str());
  return sn::kDone;
}

void Registry::pullOut(TokenSlot &slot, const char *event) {
  slot.inserted = false;
  slot.generation++;
  slot.pullAt = 0;
  slot.card->powerCycle();
  slot.trace.push_back(event);
}

std::string Registry::newSerial() {
  // Generated serial numbers carry '1' as their seventh character (default user PIN "482915").
  for (;;) {
    char s[32];
    snprintf(s, sizeof s, "UKQ5711%07u", serialCounter_++);
    std::lock_guard<std::mutex> g(lock_);
    if (!tokens_.count(s)) return s;
  }
}

std::string Registry::cmdCreate(const std::vector<std::string> &args) {
  TokenConfig c;
  std::string label = "ORV-USBKEY", userPin, soPin = "70361524", why;
  bool blank = false, inserted = true;
  uint32_t userTries = 10, soTries = 10;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string k, v;
    if (!keyValue(args[i], &k, &v)) {
      if (i == 1 && c.serial.empty()) { c.serial = args[i]; continue; }
      return error("bad argument " + args[i]);
    }
    if (k == "serial") c.serial = v;
    else if (k == "blank") blank = v == "1";
    else if (k == "inserted") inserted = v != "0";
    else if (k == "userpin") userPin = v;
    else if (k == "sopin") soPin = v;
    else if (k == "retries" || k == "soretries") {
      uint32_t n;
      if (!parseNumber(v, 10, 15, &n) || n == 0) return error("retries must be 1 to 15");
      (k == "retries" ? userTries : soTries) = n;
    } else if (!applySetting(c, &label, k, v, &why)) {
      return error(why);
    }
  }
  if (c.serial.empty()) c.serial = newSerial();
  if (!validSerial(c.serial)) return error("serial must be 1 to 32 letters, digits, - or _");
  if (userPin.empty()) userPin = Card::defaultUserPin(c.serial);
  if (userPin.size() < 4 || userPin.size() > 16 || soPin.size() < 4 || soPin.size() > 16)
    return error("PINs must have 4 to 16 characters");
  auto slot = std::make_shared<TokenSlot>();
  slot->card = std::make_unique<Card>(c);
  if (!blank) slot->card->factoryFormat(userPin, soPin, uint8_t(userTries), uint8_t(soTries), label);
  else slot->card->setLabel(label);
  slot->card->powerCycle();
  slot->inserted = inserted;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (tokens_.count(c.serial)) return error("token exists");
    if (tokens_.size() >= kMaxTokens) return error("too many tokens");
    slot->order = nextOrder_++;
    tokens_[c.serial] = slot;
  }
  std::lock_guard<std::mutex> g(slot->lock);
  if (!save(c.serial, *slot)) return error("cannot write the image");
  return "ok " + c.serial + "\n";
}

// Control commands (arguments separated by spaces, values percent-encoded):
//   ping | list | shutdown
//   create [SERIAL] [serial= label= cos= project= vid= pid= iface=cdrom|disk|none button=auto|never
//           delay=MS userpin= sopin= retries= soretries= blank=1 inserted=0]
//   delete S | insert S | remove S | reset S | blank S | info S | trace S | trace-clear S
//   pull S N [after]     (the token goes out at its N-th next frame; see TokenSlot::pullAt)
//   format S [userpin= sopin= retries= soretries= label=]
//   button S press | button S never | button S auto [MS]
//   set S key=value...   (label cos project vid pid iface button delay)
std::string Registry::control(const std::string &line) {
  std::vector<std::string> a = split(line);
  if (a.empty()) return error("empty command");
  const std::string &cmd = a[0];
  if (cmd == "ping") return "ok\n";
  if (cmd == "shutdown") {
    shutdown_ = true;
    return "ok\n";
  }
  if (cmd == "create") return cmdCreate(a);
  if (cmd == "list") {
    std::vector<std::shared_ptr<TokenSlot>> all;
    {
      std::lock_guard<std::mutex> g(lock_);
      for (auto &t : tokens_) all.push_back(t.second);
    }
    std::sort(all.begin(), all.end(), [](const auto &x, const auto &y) { return x->order < y->order; });
    std::string out = "ok\n";
    for (auto &s : all) {
      std::lock_guard<std::mutex> g(s->lock);
      const TokenConfig &c = s->card->config();
      char l[160];
      snprintf(l, sizeof l, "%s inserted=%d blank=%d vid=%04x pid=%04x iface=%s\n", c.serial.c_str(),
               s->inserted ? 1 : 0, s->card->hasFileSystem() ? 0 : 1, c.vid, c.pid, ifaceName(c.iface));
      out += l;
    }
    return out;
  }
  static const char *const kPerToken[] = {"delete", "insert", "remove", "pull", "reset", "blank",
                                           "format", "button", "set", "info", "trace",
                                           "trace-clear"};
  if (std::find_if(std::begin(kPerToken), std::end(kPerToken),
                   [&](const char *k) { return cmd == k; }) == std::end(kPerToken))
    return error("unknown command " + cmd);
  if (a.size() < 2) return error("missing serial");
  const std::string &serial = a[1];
  if (cmd == "delete") {
    std::shared_ptr<TokenSlot> slot;
    {
      std::lock_guard<std::mutex> g(lock_);
      auto it = tokens_.find(serial);
      if (it == tokens_.end()) return error("no such token");
      slot = it->second;
      tokens_.erase(it);
    }
    std::lock_guard<std::mutex> g(slot->lock);
    if (!dir_.empty()) unlink((dir_ + "/" + serial + ".tok").c_str());
    return "ok\n";
  }
  auto slot = find(serial);
  if (!slot) return error("no such token");
  std::lock_guard<std::mutex> g(slot->lock);
  Card &card = *slot->card;
  std::string reply = "ok\n";
  bool persist = false;
  if (cmd == "insert") {
    if (!slot->inserted) {
      slot->inserted = true;
      slot->generation++;
      card.powerCycle();
      slot->trace.push_back("# insert");
      persist = true;
    }
  } else if (cmd == "remove") {
    if (slot->inserted) {
      pullOut(*slot, "# remove");
      persist = true;
    }
  } else if (cmd == "pull") {
    uint32_t n = 0;
    if (a.size() < 3 || !parseNumber(a[2], 10, 1000000, &n) || n == 0)
      return error("pull needs a frame count from 1");
    if (a.size() > 3 && a[3] != "after") return error("pull: unknown word " + a[3]);
    slot->pullAt = n;
    slot->pullAfterFrame = a.size() > 3;
  } else if (cmd == "reset") {
    card.powerCycle();
    slot->trace.push_back("# reset");
  } else if (cmd == "blank") {
    card.blank();
    persist = true;
  } else if (cmd == "format") {
    std::string userPin = Card::defaultUserPin(serial), soPin = "70361524", label = "ORV-USBKEY";
    uint32_t ut = 10, st = 10;
    for (size_t i = 2; i < a.size(); ++i) {
      std::string k, v;
      if (!keyValue(a[i], &k, &v)) return error("bad argument " + a[i]);
      if (k == "userpin") userPin = v;
      else if (k == "sopin") soPin = v;
      else if (k == "label") label = v;
      else if (k == "retries" || k == "soretries") {
        uint32_t n;
        if (!parseNumber(v, 10, 15, &n) || n == 0) return error("retries must be 1 to 15");
        (k == "retries" ? ut : st) = n;
      } else return error("unknown setting " + k);
    }
    if (userPin.size() < 4 || userPin.size() > 16 || soPin.size() < 4 || soPin.size() > 16)
      return error("PINs must have 4 to 16 characters");
    card.factoryFormat(userPin, soPin, uint8_t(ut), uint8_t(st), label);
    persist = true;
  } else if (cmd == "button") {
    if (a.size() < 3) return error("button needs press, never or auto");
    if (a[2] == "press") {
      if (!card.pressButton()) return error("no signature waiting");
    } else if (a[2] == "never") {
      card.config().button = ButtonMode::Never;
      persist = true;
    } else if (a[2] == "auto") {
      uint32_t ms = 0;
      if (a.size() > 3 && !parseNumber(a[3], 10, 3600000, &ms)) return error("bad delay");
      card.config().button = ButtonMode::Auto;
      card.config().buttonDelayMs = ms;
      persist = true;
    } else {
      return error("button needs press, never or auto");
    }
  } else if (cmd == "set") {
    TokenConfig c = card.config();
    std::string label = card.label(), why;
    for (size_t i = 2; i < a.size(); ++i) {
      std::string k, v;
      if (!keyValue(a[i], &k, &v)) return error("bad argument " + a[i]);
      if (!applySetting(c, &label, k, v, &why)) return error(why);
    }
    card.config() = c;
    card.setLabel(label);
    persist = true;
  } else if (cmd == "info") {
    const TokenConfig &c = card.config();
    char l[512];
    snprintf(l, sizeof l,
             "serial=%s\ninserted=%d\ngeneration=%u\nblank=%d\nvid=%04x\npid=%04x\niface=%s\n"
             "cos=%s\nproject=%s\nbutton=%s\ndelay=%u\nwaiting=%d\n",
             c.serial.c_str(), slot->inserted ? 1 : 0, slot->generation, card.hasFileSystem() ? 0 : 1,
             c.vid, c.pid, ifaceName(c.iface), c.cosVersion.c_str(), c.projectName.c_str(),
             c.button == ButtonMode::Auto ? "auto" : "never", c.buttonDelayMs,
             card.signatureWaiting() ? 1 : 0);
    reply += l;
    reply += "label=" + card.label() + "\n";
  } else if (cmd == "trace") {
    for (const std::string &t : slot->trace) reply += t + "\n";
  } else if (cmd == "trace-clear") {
    slot->trace.clear();
  } else {
    return error("unknown command " + cmd);
  }
  if (persist && !save(serial, *slot)) return error("cannot write the image");
  return reply;
}

// ---- server

bool Server::start(uint16_t port, std::string *err) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    *err = strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t al = sizeof a;
  if (bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listenFd_, 64) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &al) != 0) {
    *err = strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  port_ = ntohs(a.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

void Server::stop() {
  if (listenFd_ < 0) return;
  stopping_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
  listenFd_ = -1;
  std::vector<Conn> conns;
  {
    std::lock_guard<std::mutex> g(connLock_);
    for (Conn &c : conns_) ::shutdown(c.fd, SHUT_RDWR);
    conns.swap(conns_);
  }
  for (Conn &c : conns) {
    c.thread.join();
    ::close(c.fd);
  }
}

void Server::reapFinished() {
  std::lock_guard<std::mutex> g(connLock_);
  for (auto it = conns_.begin(); it != conns_.end();) {
    if (*it->done) {
      it->thread.join();
      ::close(it->fd);
      it = conns_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::acceptLoop() {
  while (!stopping_) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_) break;
      if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
        if (errno == EMFILE || errno == ENFILE) usleep(10000);
        reapFinished();
        continue;
      }
      break;
    }
    // Answers go out as several small writes: without this each one waits for the peer's
    // delayed acknowledgement.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    reapFinished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> g(connLock_);
    if (stopping_) {
      ::close(fd);
      break;
    }
    conns_.push_back(Conn{fd, std::thread([this, fd, done] {
                            serve(fd);
                            *done = true;
                          }),
                          done});
  }
}

void Server::serve(int fd) {
  const sn::Socket s = fd;
  Bytes body;
  for (;;) {
    uint32_t len = 0;
    if (!sn::recvLength(s, &len, sn::kMaxBody) || len == 0) {
      if (len > sn::kMaxBody || len == 0) {
        const uint8_t e[] = {sn::kError, 'b', 'a', 'd', ' ', 'l', 'e', 'n', 'g', 't', 'h'};
        sn::sendMessage(s, e, sizeof e);
      }
      return;
    }
    body.resize(len);
    if (!sn::recvAll(s, body.data(), len)) return;
    Bytes answer;
    switch (body[0]) {
      case sn::kOpList: {
        std::string t = reg_.listDevices();
        answer.push_back(sn::kDone);
        answer.insert(answer.end(), t.begin(), t.end());
        break;
      }
      case sn::kOpControl: {
        std::string t = reg_.control(std::string(body.begin() + 1, body.end()));
        answer.push_back(t.compare(0, 2, "ok") == 0 ? sn::kDone : sn::kError);
        answer.insert(answer.end(), t.begin(), t.end());
        break;
      }
      case sn::kOpExchange: {
        auto nul = std::find(body.begin() + 1, body.end(), uint8_t(0));
        if (nul == body.end() || body.end() - nul < 5) {
          const char t[] = "malformed exchange";
          answer.push_back(sn::kError);
          answer.insert(answer.end(), t, t + sizeof t - 1);
          break;
        }
        std::string serial(body.begin() + 1, nul);
        const uint8_t *g = &*(nul + 1);
        uint32_t gen = (uint32_t(g[0]) << 24) | (uint32_t(g[1]) << 16) | (uint32_t(g[2]) << 8) | g[3];
        const uint8_t *frame = g + 4;
        size_t flen = size_t(body.data() + body.size() - frame);
        Bytes resp;
        uint8_t st = reg_.exchange(serial, gen, frame, flen, &resp);
        answer.push_back(st);
        answer.insert(answer.end(), resp.begin(), resp.end());
        break;
      }
      default: {
        const char t[] = "unknown operation";
        answer.push_back(sn::kError);
        answer.insert(answer.end(), t, t + sizeof t - 1);
      }
    }
    if (!sn::sendMessage(s, answer.data(), answer.size())) return;
    if (reg_.shutdownRequested()) return;
  }
}

}  // namespace tokensim
