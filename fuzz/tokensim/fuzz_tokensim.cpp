// libFuzzer target for the token emulator's parsers of outside bytes: request frames (alone and
// as a sequence on one card, with the file system and PINs of a formatted token), token images,
// and control command lines.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "sim_card.h"
#include "sim_server.h"

namespace {

tokensim::TokenConfig config() {
  tokensim::TokenConfig c;
  c.serial = "FUZZ001";
  c.button = tokensim::ButtonMode::Never;
  return c;
}

void checkResponse(const tokensim::Bytes &r) {
  // Every answer is a well-formed response frame.
  if (r.size() < 4 || size_t((r[0] << 8) | r[1]) + 2 != r.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0] % 4;
  ++data;
  --size;
  switch (mode) {
    case 0: {  // one frame
      tokensim::Card card(config());
      card.factoryFormat("482915", "70361524", 10, 10, "L");
      checkResponse(card.processFrame(data, size));
      break;
    }
    case 1: {  // a sequence: each frame preceded by its two-byte length
      tokensim::Card card(config());
      card.factoryFormat("482915", "70361524", 3, 3, "L");
      size_t i = 0;
      while (i + 2 <= size) {
        size_t n = size_t((data[i] << 8) | data[i + 1]);
        i += 2;
        if (n > size - i) n = size - i;
        checkResponse(card.processFrame(data + i, n));
        i += n;
      }
      break;
    }
    case 2: {  // a token image
      auto card = tokensim::Card::loadImage(data, size);
      if (card) {
        tokensim::Bytes again = card->saveImage();
        if (!tokensim::Card::loadImage(again.data(), again.size())) __builtin_trap();
      }
      break;
    }
    case 3: {  // control commands (no state folder: nothing is written)
      tokensim::Registry reg("");
      std::string text(reinterpret_cast<const char *>(data), size);
      size_t start = 0;
      while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(start, nl - start);
        if (line.compare(0, 8, "shutdown") != 0) reg.control(line);
        start = nl + 1;
      }
      break;
    }
  }
  return 0;
}
