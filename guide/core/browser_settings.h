// The browser side of the environment check: the Internet Explorer version rule, the bank's
// trusted-site entry and the URL-action values of the trusted-sites and Internet zones that
// online banking needs. Rules and tables only; the registry is reached through IZoneStore.
// Portable: no <windows.h>.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>

namespace guide {

// Results of CheckIeVersion (also the state of its detail line).
constexpr int kIeAcceptable = 0, kIeTooOld = 2;

// The Internet Explorer line: version is the "Version" string of the browser's registry key, or
// null when it cannot be read (then GuideText 36). Otherwise GuideText 37 with the version, and
// GuideText 38 appended when its first character is below '6' (only that character counts: "10"
// is refused as well as "5.50").
int CheckIeVersion(const std::wstring *version, std::wstring *text);

// Registry paths under HKEY_CURRENT_USER.
constexpr const wchar_t *kZoneMapDomainsKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";
constexpr const wchar_t *kZonesKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\";
constexpr int kTrustedSitesZone = 2, kInternetZone = 3;

// One open zone key.
class IZoneKey {
 public:
  virtual ~IZoneKey() = default;
  // False when the value is missing or is not a DWORD.
  virtual bool ReadDword(const wchar_t *name, uint32_t *value) = 0;
  virtual bool WriteDword(const wchar_t *name, uint32_t value) = 0;
};

// The zone keys of the current user.
class IZoneStore {
 public:
  virtual ~IZoneStore() = default;
  // Null when the key cannot be opened (for reading, or with full access for writing).
  virtual std::unique_ptr<IZoneKey> OpenZone(int zone, bool forWriting) = 0;
};

// Results of CheckZoneSecurity.
constexpr int kZonesAsRequired = 0, kZoneValueDiffers = 1, kZoneKeyUnopened = 2;

// Checks the trusted-sites zone, then (only when it passed) the Internet zone, value by value in
// a fixed order, stopping at the first value that is missing or out of range.
int CheckZoneSecurity(IZoneStore &store);
// Writes the values online banking needs: first the trusted-sites zone, then the Internet zone,
// each in a fixed order, and nothing else. 0 written; 2 a zone key cannot be opened; 1 a write
// failed (a failure in the trusted-sites zone leaves the Internet zone untouched).
int FixZoneSecurity(IZoneStore &store);

// The writes of FixZoneSecurity for one zone, in order (for the tests and the documentation).
struct ZoneWrite {
  const wchar_t *name;
  uint32_t value;
};
size_t ZoneWrites(int zone, const ZoneWrite **writes);

}  // namespace guide
