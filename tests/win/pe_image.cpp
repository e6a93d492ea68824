#include "pe_image.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

struct Section {
  uint32_t va, vsize, raw, rawSize;
};

class Reader {
 public:
  explicit Reader(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {}
  bool has(size_t off, size_t n) const { return off <= b_.size() && n <= b_.size() - off; }
  uint16_t u16(size_t off) const { return has(off, 2) ? uint16_t(b_[off] | b_[off + 1] << 8) : 0; }
  uint32_t u32(size_t off) const {
    return has(off, 4) ? uint32_t(b_[off]) | uint32_t(b_[off + 1]) << 8 |
                             uint32_t(b_[off + 2]) << 16 | uint32_t(b_[off + 3]) << 24
                       : 0;
  }
  std::string str(size_t off) const {
    std::string s;
    while (has(off, 1) && b_[off] && s.size() < 512) s += char(b_[off++]);
    return s;
  }
  std::vector<Section> sections;
  // File offset of a relative virtual address, or 0 when it lies in no section.
  size_t rva(uint32_t a) const {
    for (const Section &s : sections)
      if (a >= s.va && a < s.va + std::max(s.vsize, s.rawSize)) return a - s.va + s.raw;
    return 0;
  }

 private:
  std::vector<uint8_t> b_;
};

}  // namespace

PeImage readPeImage(const std::string &path) {
  PeImage img;
  std::ifstream f(path, std::ios::binary);
  if (!f) return img;
  Reader r(std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {}));
  uint32_t pe = r.u32(0x3C);
  if (r.u32(pe) != 0x4550) return img;  // "PE\0\0"
  img.machine = r.u16(pe + 4);
  uint16_t nsec = r.u16(pe + 6);
  uint16_t optSize = r.u16(pe + 20);
  size_t opt = pe + 24;
  uint16_t magic = r.u16(opt);
  img.is32 = magic == 0x10B;
  size_t dirs = opt + (img.is32 ? 96 : 112);
  size_t sec = opt + optSize;
  for (uint16_t i = 0; i < nsec; ++i) {
    size_t s = sec + 40 * i;
    r.sections.push_back({r.u32(s + 12), r.u32(s + 8), r.u32(s + 20), r.u32(s + 16)});
  }
  uint32_t expRva = r.u32(dirs), impRva = r.u32(dirs + 8);
  if (expRva) {
    size_t e = r.rva(expRva);
    img.exportModuleName = r.str(r.rva(r.u32(e + 12)));
    uint32_t n = r.u32(e + 24);
    size_t names = r.rva(r.u32(e + 32));
    for (uint32_t i = 0; i < n && i < 4096; ++i) img.exports.push_back(r.str(r.rva(r.u32(names + 4 * i))));
  }
  if (impRva) {
    for (size_t d = r.rva(impRva); r.has(d, 20) && r.u32(d + 12); d += 20) {
      std::string dll = r.str(r.rva(r.u32(d + 12)));
      uint32_t thunks = r.u32(d) ? r.u32(d) : r.u32(d + 16);
      for (size_t t = r.rva(thunks);; t += img.is32 ? 4 : 8) {
        uint32_t v = r.u32(t);
        if (!v || !r.has(t, 4)) break;
        bool byOrdinal = img.is32 ? (v & 0x80000000u) : (r.u32(t + 4) & 0x80000000u);
        img.imports.push_back({dll, byOrdinal ? std::string() : r.str(r.rva(v) + 2)});
      }
    }
  }
  img.ok = true;
  return img;
}
