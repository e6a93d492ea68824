// Cost of the send operation's own work per APDU, natively: framing alone, and framing with
// secure messaging (command encipher and MAC, response MAC check and decipher) with the
// library's Triple-DES. The device exchange itself is not part of it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "uk_transport.h"

namespace {

const uint8_t kEnc[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const uint8_t kMac[16] = {0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98,
                          0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F, 0x10};
const uint8_t kChallenge[8] = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7};

std::vector<uint8_t> command(size_t dataLen) {
  std::vector<uint8_t> apdu = {0x84, 0xD6, 0x00, 0x00};
  if (dataLen < 256) {
    apdu.push_back(uint8_t(dataLen));
  } else {
    apdu.insert(apdu.end(), {0x00, uint8_t(dataLen >> 8), uint8_t(dataLen)});
  }
  for (size_t i = 0; i < dataLen; ++i) apdu.push_back(uint8_t(i));
  return apdu;
}

// A response as the card wraps it: 00, length, data, padding; enciphered; MAC; status word.
std::vector<uint8_t> wrappedResponse(size_t dataLen) {
  std::vector<uint8_t> plain = {0x00, uint8_t(dataLen >> 8), uint8_t(dataLen)};
  for (size_t i = 0; i < dataLen; ++i) plain.push_back(uint8_t(i * 3));
  if (plain.size() % 8) {
    plain.push_back(0x80);
    while (plain.size() % 8) plain.push_back(0);
  }
  std::vector<uint8_t> body(plain.size());
  uk::tdesCbcEncrypt(kEnc, kChallenge, plain.data(), uint32_t(plain.size()), body.data());
  std::vector<uint8_t> macIn = body;
  macIn.insert(macIn.end(), {0x80, 0, 0, 0, 0, 0, 0, 0});
  std::vector<uint8_t> macOut(macIn.size());
  uk::tdesCbcEncrypt(kMac, kChallenge, macIn.data(), uint32_t(macIn.size()), macOut.data());
  std::vector<uint8_t> frame = {0, 0};
  frame.insert(frame.end(), body.begin(), body.end());
  frame.insert(frame.end(), macOut.end() - 8, macOut.end());
  frame.insert(frame.end(), {0x90, 0x00});
  uint32_t follow = uint32_t(frame.size() - 2);
  frame[0] = uint8_t(follow >> 8);
  frame[1] = uint8_t(follow);
  return frame;
}

void BM_Framing(benchmark::State &state) {
  std::vector<uint8_t> apdu = command(size_t(state.range(0)));
  uint8_t frame[uk::kMaxFrame];
  const uint8_t resp[] = {0x00, 0x04, 0xAB, 0xCD, 0x90, 0x00};
  for (auto _ : state) {
    uk::ApduParts p;
    uk::parseApdu(apdu.data(), uint32_t(apdu.size()), &p);
    uint32_t n = uk::buildFrame(p.cla, p.ins, p.p1, p.p2, p.data, p.lc, p.le, frame);
    uint32_t len = 0;
    uk::checkResponseFrame(resp, sizeof resp, &len);
    benchmark::DoNotOptimize(n + len);
    benchmark::ClobberMemory();
  }
}

void BM_FramingWithSecureMessaging(benchmark::State &state) {
  size_t n = size_t(state.range(0));
  std::vector<uint8_t> apdu = command(n);
  std::vector<uint8_t> response = wrappedResponse(n);
  uk::SmContext sm{UK_SM_MAC | UK_SM_ENC, kEnc, kMac, kChallenge};
  uint8_t data[uk::kMaxWrappedData], frame[uk::kMaxFrame], resp[uk::kMaxResponse];
  for (auto _ : state) {
    uk::ApduParts p;
    uk::parseApdu(apdu.data(), uint32_t(apdu.size()), &p);
    uint32_t lc = 0;
    uk::smWrapCommand(sm, p, data, &lc);
    uint32_t flen = uk::buildFrame(p.cla, p.ins, p.p1, p.p2, data, lc, p.le, frame);
    memcpy(resp, response.data(), response.size());
    uint32_t len = 0;
    uk::checkResponseFrame(resp, uint32_t(response.size()), &len);
    if (uk::smUnwrapResponse(sm, resp, &len) != 0) state.SkipWithError("response did not verify");
    benchmark::DoNotOptimize(flen + len);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_Framing)->Arg(16)->Arg(128)->Arg(255);
BENCHMARK(BM_FramingWithSecureMessaging)->Arg(16)->Arg(128)->Arg(255);
BENCHMARK_MAIN();
