#include "browser_settings.h"

#include "guide_text.h"
#include "ui_text.h"

namespace guide {

int CheckIeVersion(const std::wstring *version, std::wstring *text) {
  if (!version) {
    *text = GetGuideText(kTextIeVersionUnknown);
    return kIeTooOld;
  }
  *text = ui::Format(GetGuideText(kTextIeVersion), *version);
  wchar_t first = version->empty() ? L'\0' : (*version)[0];
  if (first < L'6') {
    *text += GetGuideText(kTextIeTooOld);
    return kIeTooOld;
  }
  return kIeAcceptable;
}

namespace {

// A value of the check: equal to, or at most, a number.
struct Condition {
  bool atMost;
  uint32_t value;
  bool Holds(uint32_t v) const { return atMost ? v <= value : v == value; }
};

struct ZoneCheck {
  const wchar_t *name;
  Condition trusted;   // zone 2
  Condition internet;  // zone 3
};

constexpr Condition Eq(uint32_t v) { return {false, v}; }
constexpr Condition AtMost(uint32_t v) { return {true, v}; }

// In the order they are checked.
const ZoneCheck kZoneChecks[] = {
    {L"2201", Eq(0), Eq(0)},   {L"1405", Eq(0), Eq(0)}, {L"2000", Eq(0), Eq(0)},
    {L"120B", Eq(3), Eq(3)},   {L"1209", Eq(0), Eq(0)}, {L"1208", Eq(0), Eq(0)},
    {L"1200", Eq(0), Eq(0)},   {L"120a", Eq(0), Eq(0)}, {L"1004", Eq(0), AtMost(1)},
    {L"1001", Eq(0), AtMost(1)}, {L"2500", Eq(3), Eq(0)}, {L"1201", Eq(0), AtMost(1)},
};

// In the order they are written. "1201" is written twice in each zone: once with the shared
// values and once with the zone's own.
const ZoneWrite kTrustedWrites[] = {
    {L"2201", 0}, {L"1405", 0}, {L"1201", 0}, {L"2000", 0}, {L"120B", 3}, {L"1209", 0},
    {L"1208", 0}, {L"1200", 0}, {L"120a", 0}, {L"1004", 0}, {L"1001", 0}, {L"2500", 3},
    {L"1201", 0},
};
const ZoneWrite kInternetWrites[] = {
    {L"2201", 0}, {L"1405", 0}, {L"1201", 0}, {L"2000", 0}, {L"120B", 3}, {L"1209", 0},
    {L"1208", 0}, {L"1200", 0}, {L"120a", 0}, {L"1004", 1}, {L"1001", 1}, {L"2500", 0},
    {L"1201", 1},
};

int CheckZone(IZoneStore &store, int zone) {
  std::unique_ptr<IZoneKey> key = store.OpenZone(zone, false);
  if (!key) return kZoneKeyUnopened;
  for (const ZoneCheck &c : kZoneChecks) {
    uint32_t v = 0;
    const Condition &want = zone == kTrustedSitesZone ? c.trusted : c.internet;
    if (!key->ReadDword(c.name, &v) || !want.Holds(v)) return kZoneValueDiffers;
  }
  return kZonesAsRequired;
}

int FixZone(IZoneStore &store, int zone) {
  std::unique_ptr<IZoneKey> key = store.OpenZone(zone, true);
  if (!key) return 2;
  const ZoneWrite *writes = nullptr;
  size_t n = ZoneWrites(zone, &writes);
  for (size_t i = 0; i < n; ++i)
    if (!key->WriteDword(writes[i].name, writes[i].value)) return 1;
  return 0;
}

}  // namespace

size_t ZoneWrites(int zone, const ZoneWrite **writes) {
  if (zone == kTrustedSitesZone) {
    *writes = kTrustedWrites;
    return sizeof kTrustedWrites / sizeof kTrustedWrites[0];
  }
  if (zone == kInternetZone) {
    *writes = kInternetWrites;
    return sizeof kInternetWrites / sizeof kInternetWrites[0];
  }
  *writes = nullptr;
  return 0;
}

int CheckZoneSecurity(IZoneStore &store) {
  int r = CheckZone(store, kTrustedSitesZone);
  if (r != kZonesAsRequired) return r;
  return CheckZone(store, kInternetZone);
}

int FixZoneSecurity(IZoneStore &store) {
  int r = FixZone(store, kTrustedSitesZone);
  if (r != 0) return r;
  return FixZone(store, kInternetZone);
}

}  // namespace guide
