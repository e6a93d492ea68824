#include "fake_token.h"

#include <openssl/evp.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "uk_transport.h"

namespace fake {
namespace {

uint32_t be16(const uint8_t *p) { return (uint32_t(p[0]) << 8) | p[1]; }

Bytes last8(const Bytes &b) { return Bytes(b.end() - 8, b.end()); }

// Two-key Triple-DES as K1 K2 K1 through OpenSSL's three-key cipher.
Bytes run(const EVP_CIPHER *cipher, const uint8_t key[16], const uint8_t *iv, const Bytes &in,
          bool encrypt) {
  if (in.size() % 8) throw std::logic_error("not whole blocks");
  uint8_t k3[24];
  memcpy(k3, key, 16);
  memcpy(k3 + 16, key, 8);
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, cipher, nullptr, k3, iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Bytes out(in.size() + 8);
  int n = 0, m = 0;
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bool sameNoCase(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

Bytes tdesCbc(const uint8_t key[16], const uint8_t iv[8], const Bytes &in, bool encrypt) {
  return run(EVP_des_ede3_cbc(), key, iv, in, encrypt);
}
Bytes tdesEcb(const uint8_t key[16], const Bytes &in) {
  return run(EVP_des_ede3_ecb(), key, nullptr, in, true);
}

Card::Card() {
  for (int i = 0; i < 16; ++i) transportKey[i] = uint8_t(0x40 + i * 7);
}

Bytes Card::answer(const Bytes &data, uint16_t sw) {
  Bytes out;
  uint32_t follow = uint32_t(data.size()) + 2;
  out.push_back(uint8_t(follow >> 8));
  out.push_back(uint8_t(follow));
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(uint8_t(sw >> 8));
  out.push_back(uint8_t(sw));
  return out;
}

Bytes Card::answerWrapped(const Bytes &data, uint16_t sw) {
  if (data.empty()) return answer(data, sw);
  uint32_t inner = uint32_t(data.size()) + (inflatedInnerLength ? 16 : 0);
  Bytes plain = cat({{0x00, uint8_t(inner >> 8), uint8_t(inner)}, data});
  if (plain.size() % 8) {
    plain.push_back(0x80);
    while (plain.size() % 8) plain.push_back(0);
  }
  Bytes body = tdesCbc(sEnc_, challenge_, plain, true);
  if (oddCipherLength) body.insert(body.end(), {1, 2, 3});
  // MAC over the body, 80 and seven zeros, rounded up to whole blocks.
  Bytes macIn = cat({body, {0x80, 0, 0, 0, 0, 0, 0, 0}});
  while (macIn.size() % 8) macIn.push_back(0);
  Bytes mac = last8(tdesCbc(sMac_, challenge_, macIn, true));
  if (tamperResponseMac) mac[3] ^= 0x01;
  return answer(cat({body, mac}), sw);
}

Bytes Card::process(const Bytes &f) {
  frames.push_back(f);
  if (f.size() < 12 || be16(f.data()) + 2 != f.size()) return answer({}, 0x6700);
  uint8_t cla = f[2], ins = f[3], p1 = f[4], p2 = f[5];
  uint32_t lc = be16(f.data() + 7);
  if (f.size() != lc + 12) return answer({}, 0x6700);
  Bytes data(f.begin() + 9, f.begin() + 9 + lc);
  lastCommandWasWrapped = false;

  if (ins == 0x84 && cla == 0x00) {  // get challenge
    for (int i = 0; i < 8; ++i) challenge_[i] = uint8_t(0xC0 + counter_ * 13 + i * 29);
    ++counter_;
    return answer(Bytes(challenge_, challenge_ + 8), 0x9000);
  }
  if (ins == 0xF0 && p2 == 0x05) {  // project name, 16 bytes padded with FF
    Bytes name(project.begin(), project.end());
    name.resize(16, 0xFF);
    return answer(name, 0x9000);
  }
  if (cla == 0x80 && ins == 0x50) {  // initialize update
    if (lc != 8) return answer({}, 0x6700);
    memcpy(hc_, data.data(), 8);
    for (int i = 0; i < 8; ++i) cc_[i] = uint8_t(0x5A ^ (i * 17 + counter_));
    ++counter_;
    const uint8_t *d = diversification;
    Bytes div1 = {0, 0, d[6], d[7], d[8], d[9], 0xF0, 0x01, 0, 0, d[6], d[7], d[8], d[9], 0x0F, 0x01};
    Bytes div2 = div1;
    div2[7] = div2[15] = 0x02;
    Bytes k1 = tdesEcb(transportKey, div1), k2 = tdesEcb(transportKey, div2);
    Bytes deriv = {cc_[4], cc_[5], cc_[6], cc_[7], hc_[0], hc_[1], hc_[2], hc_[3],
                   cc_[0], cc_[1], cc_[2], cc_[3], hc_[4], hc_[5], hc_[6], hc_[7]};
    Bytes se = tdesEcb(k1.data(), deriv), sm = tdesEcb(k2.data(), deriv);
    memcpy(sEnc_, se.data(), 16);
    memcpy(sMac_, sm.data(), 16);
    static const uint8_t zero[8] = {};
    Bytes crypt = last8(tdesCbc(sEnc_, zero, cat({Bytes(hc_, hc_ + 8), Bytes(cc_, cc_ + 8),
                                                  {0x80, 0, 0, 0, 0, 0, 0, 0}}), true));
    if (wrongCardCryptogram) crypt[0] ^= 0xFF;
    secureChannel = false;
    return answer(cat({Bytes(d, d + 10), {0x01, 0x01}, Bytes(cc_, cc_ + 8), crypt}), 0x9000);
  }
  if (cla == 0x84 && ins == 0x82) {  // external authenticate
    static const uint8_t zero[8] = {};
    Bytes host = last8(tdesCbc(sEnc_, zero, cat({Bytes(cc_, cc_ + 8), Bytes(hc_, hc_ + 8),
                                                 {0x80, 0, 0, 0, 0, 0, 0, 0}}), true));
    Bytes macIn = cat({{0x84, 0x82, 0x03, 0x00, 0x00, 0x00, 0x10}, host, {0x80}});
    Bytes mac = last8(tdesCbc(sMac_, zero, macIn, true));
    bool ok = p1 == 0x03 && lc == 16 && Bytes(data.begin(), data.begin() + 8) == host &&
              Bytes(data.begin() + 8, data.end()) == mac;
    secureChannel = ok;
    return answer({}, ok ? 0x9000 : 0x6300);
  }
  if (ins == 0xCA) return answer({}, uint16_t((p1 << 8) | p2));  // answers the status word asked for
  if (ins == 0xEE) {  // echoes its (unwrapped) data, plus echoPadding bytes
    bool wrapped = secureChannel && (cla & 0x0F) == 4;
    lastCommandWasWrapped = wrapped;
    Bytes plainData = data;
    if (wrapped) {
      if (lc < 8) return answer({}, 0x6988);
      Bytes body(data.begin(), data.end() - 8), mac(data.end() - 8, data.end());
      Bytes macIn = cat({{cla, ins, p1, p2, 0x00, uint8_t(lc >> 8), uint8_t(lc)}, body, {0x80}});
      while (macIn.size() % 8) macIn.push_back(0);
      lastMacValid = last8(tdesCbc(sMac_, challenge_, macIn, true)) == mac;
      if (!lastMacValid) return answer({}, 0x6988);
      plainData.clear();
      if (!body.empty()) {
        Bytes p = tdesCbc(sEnc_, challenge_, body, false);
        uint32_t n = be16(p.data() + 1);
        plainData.assign(p.begin() + 3, p.begin() + 3 + n);
      }
    }
    lastPlainData = plainData;
    Bytes out = plainData;
    out.resize(out.size() + echoPadding, 0xA5);
    return wrapped ? answerWrapped(out, 0x9000) : answer(out, 0x9000);
  }
  return answer({}, 0x6D00);
}

Device &Bus::addToken(const std::string &serial, bool diskOnly) {
  Device d;
  d.usbPath = "\\\\?\\usb#vid_0b0c&pid_10ae#" + serial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  d.childId = "USBSTOR\\CDROM&VEN_KESTRA&PROD_UKEY&REV_1.00\\" + serial + "&0";
  if (!diskOnly)
    d.cdromPath = "\\\\?\\usbstor#cdrom&ven_kestra&prod_ukey&rev_1.00#" + serial +
                  "&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  d.diskPath = "\\\\?\\usbstor#disk&ven_kestra&prod_ukey&rev_1.00#" + serial +
               "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  d.card = std::make_shared<Card>();
  devices.push_back(d);
  return devices.back();
}

bool Bus::listUsbInterfaces(char (*paths)[256], uint32_t max, uint32_t *found) {
  *found = 0;
  if (enumerationFails) return false;
  for (size_t i = 0; i < devices.size() && *found < max; ++i) {
    snprintf(paths[*found], 256, "%s", devices[i].usbPath.c_str());
    ++*found;
  }
  return true;
}

uint32_t Bus::firstChild(const char *instanceId, char *child, uint32_t cap) {
  for (const Device &d : devices) {
    char id[260];
    if (uk::usbInstanceId(d.usbPath.c_str(), id, sizeof id) == 0 && sameNoCase(id, instanceId)) {
      snprintf(child, cap, "%s", d.childId.c_str());
      return 0;
    }
  }
  return 13;  // CR_NO_SUCH_DEVNODE
}

uint32_t Bus::interfacePath(const char *deviceId, uk::DevClass cls, char *path, uint32_t cap,
                            const char **failedCall) {
  for (const Device &d : devices) {
    if (!sameNoCase(d.childId, deviceId)) continue;
    const std::string &p = cls == uk::DevClass::CdRom ? d.cdromPath : d.diskPath;
    if (p.empty()) {
      *failedCall = "SetupDiGetDeviceInterfaceDetailA";
      return 259;
    }
    snprintf(path, cap, "%s", p.c_str());
    return 0;
  }
  *failedCall = "SetupDiOpenDeviceInfoA";
  return 13;
}

uint32_t Bus::open(const char *path, uintptr_t *handle) {
  opened.push_back(path);
  for (size_t i = 0; i < devices.size(); ++i) {
    const Device &d = devices[i];
    if ((!d.cdromPath.empty() && sameNoCase(d.cdromPath, path)) || sameNoCase(d.diskPath, path)) {
      if (d.openError) return d.openError;
      uintptr_t h = next_;
      next_ += 4;
      handles_[h] = i;
      ++openHandles;
      *handle = h;
      return 0;
    }
  }
  return 2;
}

uint32_t Bus::scsi(uintptr_t handle, const uint8_t cdb[10], bool dataIn, uint8_t *buf,
                   uint32_t len, uint32_t *transferred) {
  cdbs.emplace_back(cdb, cdb + 10);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return 6;
  if (!dataIn) {
    if (writeError) return writeError;
    pending_[handle] = devices[it->second].card->process(Bytes(buf, buf + len));
    *transferred = len;
    return 0;
  }
  if (readError) return readError;
  const Bytes &r = pending_[handle];
  uint32_t n = std::min<uint32_t>(len, uint32_t(r.size()));
  memcpy(buf, r.data(), n);
  if (reportWholeBuffer) {
    memset(buf + n, 0, len - n);
    n = len;
  }
  *transferred = n;
  return 0;
}

void Bus::close(uintptr_t handle) {
  if (handles_.erase(handle)) --openHandles;
  pending_.erase(handle);
}

uk::MutexFailure Host::openDeviceMutex(const char *name, uintptr_t *mutex, uint32_t *error) {
  if (mutexFailure != uk::MutexFailure::None) {
    *error = 5;
    return mutexFailure;
  }
  std::lock_guard<std::mutex> g(lock_);
  mutexNames.push_back(name);
  auto &m = mutexes_[name];
  if (!m) m = std::make_unique<std::timed_mutex>();
  *mutex = reinterpret_cast<uintptr_t>(m.get());
  return uk::MutexFailure::None;
}

bool Host::waitDeviceMutex(uintptr_t mutex, uint32_t ms) {
  if (mutexTimesOut) return false;
  return reinterpret_cast<std::timed_mutex *>(mutex)->try_lock_for(std::chrono::milliseconds(ms));
}

void Host::releaseDeviceMutex(uintptr_t mutex) {
  reinterpret_cast<std::timed_mutex *>(mutex)->unlock();
}

namespace {
std::vector<std::string> *g_reports = nullptr;
void collect(const char *text) {
  if (g_reports) g_reports->push_back(text);
}
}  // namespace

int Host::channelCycle(const uint8_t *request, uint32_t reqLen, uint8_t *answerBlock) {
  if (!serverUp || !serverBus) return -1;
  requests.emplace_back(request, request + reqLen);
  static uint8_t block[kBlockSize];
  memset(block, 0xCC, sizeof block);
  memcpy(block, request, reqLen);
  if (pid) uk::stampOwner(block, kBlockSize, pid);
  uint32_t type = 0;
  g_reports = &reports;
  bool answered = uk::serveRequest(block, kBlockSize, *serverBus, table, &type, collect);
  g_reports = nullptr;
  if (!answered) return -1;  // a real client would give up after the time limit here
  if (tamperAnswer) tamperAnswer(block);
  uint32_t lw = uint32_t(block[0]) | uint32_t(block[1]) << 8 | uint32_t(block[2]) << 16 |
                uint32_t(block[3]) << 24;
  answers.emplace_back(block, block + std::min<uint32_t>(lw + 4, kBlockSize));
  memcpy(answerBlock, block, kBlockSize);
  return 0;
}

}  // namespace fake
