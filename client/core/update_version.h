// Versions of the software update: the published version text of the bank's version.ini, the
// client's own file version, their comparison and the name of a downloaded setup.
// Portable; the version text comes from the network.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace client {

// Major, minor, build, revision. Each part fits the 16 bits of a Windows file version.
struct FourPartVersion {
  uint32_t part[4] = {0, 0, 0, 0};
};

// At most this many characters of the published version text are read.
constexpr size_t kVersionTextMax = 15;

// The published version text: at most its first 15 characters, split at each "."; each piece
// counts its leading decimal digits (none gives 0, a value above 65535 gives 65535) and fills the
// next of the four places; places without a piece stay 0 and pieces beyond the fourth are
// ignored.
FourPartVersion ParseVersionText(const std::wstring &text);

// From the 32-bit most and least significant words of a file version (VS_FIXEDFILEINFO).
FourPartVersion VersionFromWords(uint32_t ms, uint32_t ls);

// The two 32-bit keys the versions are compared by: major*65536+minor and build*65536+revision.
inline uint32_t HighKey(const FourPartVersion &v) { return (v.part[0] << 16) + (v.part[1] & 0xFFFFu); }
inline uint32_t LowKey(const FourPartVersion &v) { return (v.part[2] << 16) + (v.part[3] & 0xFFFFu); }

// True when `published` is newer than `own`: a greater high key, or equal high keys and a greater
// low key. Equal versions are not newer.
bool IsNewer(const FourPartVersion &published, const FourPartVersion &own);

// "1.0.1.7"
std::wstring VersionText(const FourPartVersion &v);

// The file name of a downloaded setup of that version: "ORV_ZV_Setup_1_0_1_7.exe".
std::wstring SetupFileName(const FourPartVersion &v);

}  // namespace client
