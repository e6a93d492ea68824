#include "os_description.h"

#include "guide_text.h"

namespace guide {

namespace {

constexpr size_t kMaxText = 255;

// Editions of Windows Vista and later by the product type GetProductInfo reports.
const wchar_t *EditionOf(uint32_t productInfo) {
  switch (productInfo) {
    case 1: return L"Ultimate Edition";
    case 2: return L"Home Basic Edition";
    case 3: return L"Home Premium Edition";
    case 4: return L"Enterprise Edition";
    case 6: return L"Business Edition";
    case 7: return L"Standard Edition";
    case 8: return L"Datacenter Edition";
    case 9: return L"Small Business Server";
    case 10: return L"Enterprise Edition";
    case 11: return L"Starter Edition";
    case 12: return L"Datacenter Edition (core installation)";
    case 13: return L"Standard Edition (core installation)";
    case 14: return L"Enterprise Edition (core installation)";
    case 15: return L"Enterprise Edition for Itanium-based Systems";
    case 17: return L"Web Server Edition";
    case 18: return L"Cluster Server Edition";
    case 25: return L"Small Business Server Premium Edition";
    case 48: return L"Professional";
    default: return L"";
  }
}

bool Has(const OsVersion &v, uint16_t suite) { return (v.suiteMask & suite) != 0; }

// Windows Server 2003 family (5.2): the family name, then for servers the edition.
void DescribeServer2003(const OsVersion &v, std::wstring *t) {
  if (v.serverR2) *t += L"Windows Server 2003 R2, ";
  else if (Has(v, kSuiteStorageServer)) *t += L"Windows Storage Server 2003";
  else if (v.productType == kWorkstation && v.processorArchitecture == kArchAmd64)
    *t += L"Windows XP Professional x64 Edition";
  else *t += L"Windows Server 2003, ";
  if (v.productType == kWorkstation) return;
  if (v.processorArchitecture == kArchIa64) {
    if (Has(v, kSuiteDatacenter)) *t += L"Datacenter Edition for Itanium-based Systems";
    else if (Has(v, kSuiteEnterprise)) *t += L"Enterprise Edition for Itanium-based Systems";
  } else if (v.processorArchitecture == kArchAmd64) {
    if (Has(v, kSuiteDatacenter)) *t += L"Datacenter x64 Edition";
    else if (Has(v, kSuiteEnterprise)) *t += L"Enterprise x64 Edition";
    else *t += L"Standard x64 Edition";
  } else {
    if (Has(v, kSuiteComputeServer)) *t += L"Compute Cluster Edition";
    else if (Has(v, kSuiteDatacenter)) *t += L"Datacenter Edition";
    else if (Has(v, kSuiteEnterprise)) *t += L"Enterprise Edition";
    else if (Has(v, kSuiteBlade)) *t += L"Web Edition";
    else *t += L"Standard Edition";
  }
}

void DescribeSupported(const OsVersion &v, std::wstring *t) {
  bool workstation = v.productType == kWorkstation;
  if (v.major == 6) {
    if (v.minor == 0) *t += workstation ? L"Windows Vista " : L"Windows Server 2008 ";
    else if (v.minor == 1) *t += workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ";
    else *t += L"Future Windows ";
    *t += EditionOf(v.productInfo);
  } else if (v.major == 5 && v.minor == 0) {
    *t += L"Windows 2000 ";
    if (workstation) *t += L"Professional";
    else if (Has(v, kSuiteDatacenter)) *t += L"Datacenter Server";
    else if (Has(v, kSuiteEnterprise)) *t += L"Advanced Server";
    else *t += L"Server";
  } else if (v.major == 5 && v.minor == 1) {
    *t += L"Windows XP ";
    *t += Has(v, kSuitePersonal) ? L"Home Edition" : L"Professional";
  } else if (v.major == 5 && v.minor == 2) {
    DescribeServer2003(v, t);
  } else if (v.major > 6) {
    *t += L"Future Windows ";
  }
  // 5.x with a minor version above 2: no name.
  if (!v.servicePack.empty()) *t += L" " + v.servicePack;
  *t += L" (build " + std::to_wstring(v.build) + L")";
  if (v.major >= 6) {
    if (v.processorArchitecture == kArchAmd64) *t += L", 64-bit";
    else if (v.processorArchitecture == kArchX86) *t += L", 32-bit";
  }
}

void DescribeUnsupported(const OsVersion &v, std::wstring *t) {
  if (v.platformId == kPlatformNt) {
    *t += L"Windows NT 4.0 ";
  } else if (v.platformId != kPlatformWindows9x) {
    *t += L"Win32s\n";
  } else if (v.major == 4) {
    wchar_t second = v.servicePack.size() > 1 ? v.servicePack[1] : L'\0';
    if (v.minor == 0) {
      *t += L"Windows 95 ";
      if (second == L'C' || second == L'B') *t += L"OSR2 ";
    } else if (v.minor == 10) {
      *t += L"Windows 98 ";
      if (second == L'A' || second == L'B') *t += L"SE ";
    } else if (v.minor == 90) {
      *t += L"Windows Millennium Edition";
    }
  }
  *t += GetGuideText(kTextSystemUnsupported);
}

}  // namespace

int DescribeOperatingSystem(const OsVersion &v, std::wstring *text) {
  std::wstring t = GetGuideText(kTextOperatingSystem);
  int result = kOsSupported;
  if (v.platformId == kPlatformNt && v.major >= 5) {
    DescribeSupported(v, &t);
  } else {
    DescribeUnsupported(v, &t);
    result = kOsUnsupported;
  }
  if (t.size() > kMaxText) t.resize(kMaxText);
  *text = t;
  return result;
}

}  // namespace guide
