// The operating-system line of the environment check: which Windows this is, in words, and
// whether online banking supports it. Pure logic over the numbers and flags the system reports,
// so every branch is tested without that system. Portable: no <windows.h>.
#pragma once
#include <stdint.h>

#include <string>

namespace guide {

// What the system reports about itself (the extended version information, the native system
// information, and two further queries). Constants below carry the Windows values.
struct OsVersion {
  uint32_t platformId = 0;            // kPlatform*
  uint32_t major = 0, minor = 0, build = 0;
  std::wstring servicePack;           // e.g. L"Service Pack 3"; Windows 9x: L" C", L" A"...
  uint8_t productType = 0;            // kWorkstation, kDomainController, kServer
  uint16_t suiteMask = 0;             // kSuite*
  uint16_t processorArchitecture = 0; // kArch*
  bool serverR2 = false;              // the SM_SERVERR2 system metric is non-zero
  uint32_t productInfo = 0;           // the product type of GetProductInfo (0: none)
};

constexpr uint32_t kPlatformWin32s = 0, kPlatformWindows9x = 1, kPlatformNt = 2;
constexpr uint8_t kWorkstation = 1, kDomainController = 2, kServer = 3;
constexpr uint16_t kSuiteEnterprise = 0x0002, kSuiteDatacenter = 0x0080, kSuitePersonal = 0x0200,
                   kSuiteBlade = 0x0400, kSuiteStorageServer = 0x2000,
                   kSuiteComputeServer = 0x4000;
constexpr uint16_t kArchX86 = 0, kArchIa64 = 6, kArchAmd64 = 9;

// Results of DescribeOperatingSystem (also the state of its detail line).
constexpr int kOsSupported = 0, kOsUnsupported = 2;

// Fills *text with GuideText 35 followed by the system's name, edition, service pack, build and
// (from Windows Vista on) its bitness; for a system online banking does not support (Windows NT
// 4.0 and older, Win32s, Windows 95/98/Me) the name is followed by GuideText 24 and the result
// is kOsUnsupported. The text holds at most 255 characters.
int DescribeOperatingSystem(const OsVersion &v, std::wstring *text);

}  // namespace guide
