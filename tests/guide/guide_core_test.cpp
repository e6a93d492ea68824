// The guide's core without windows: the texts and the language choice, the operating-system
// description for every family of Windows, the Internet Explorer and zone rules, the token
// operations against emulated tokens in-process (factory PINs by serial number, the PIN change,
// the first certificate), and the three steps' sequences with recording pages.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cwctype>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "../objects/objects_harness.h"
#include "../tools/cert_maker.h"
#include "browser_settings.h"
#include "guide_steps.h"
#include "guide_text.h"
#include "os_description.h"
#include "token_ops.h"

#include "../common/utf8_text.h"

using namespace guide;
using Bytes = std::vector<uint8_t>;

namespace {

using testtext::Utf8ToWide;
using testtext::WideToUtf8;

// Language index set for one test, English again afterwards.
struct InLanguage {
  explicit InLanguage(int l) { SetLanguageIndex(l); }
  ~InLanguage() { SetLanguageIndex(ui::kEnglish); }
};

std::vector<std::string> Placeholders(const wchar_t *text) {
  std::vector<std::string> out;
  for (const wchar_t *p = text; *p; ++p) {
    if (*p != L'%') continue;
    std::string ph = "%";
    for (++p; *p && !std::iswalpha(std::wint_t(*p)); ++p) ph += char(*p);
    if (*p) ph += char(*p);
    else break;
    out.push_back(ph);
  }
  return out;
}

}  // namespace

// ---- texts and language ---------------------------------------------------------------------------

TEST(GuideTexts, FiftyEightIdsEachInThreeLanguagesWithTheSamePlaceholders) {
  const ui::CTextTable &t = GuideTextTable();
  ASSERT_EQ(58u, t.Size());
  for (size_t id = 0; id < t.Size(); ++id) {
    for (int l = 0; l < ui::kLanguageCount; ++l)
      EXPECT_NE(L'\0', t.Get(id, l)[0]) << "id " << id << " language " << l;
    EXPECT_EQ(Placeholders(t.Get(id, 0)), Placeholders(t.Get(id, 1))) << "id " << id;
    EXPECT_EQ(Placeholders(t.Get(id, 0)), Placeholders(t.Get(id, 2))) << "id " << id;
  }
  // The certificate text: holder, issuer, start and end, in that order, in every language.
  for (int l = 0; l < ui::kLanguageCount; ++l)
    EXPECT_EQ((std::vector<std::string>{"%s", "%s", "%s", "%s"}), Placeholders(t.Get(20, l)));
  EXPECT_EQ((std::vector<std::string>{"%8d", "%d"}), Placeholders(t.Get(55, 0)));
  EXPECT_EQ((std::vector<std::string>{"%08x"}), Placeholders(t.Get(15, 2)));
}

TEST(GuideTexts, LookupFollowsTheLanguageIndex) {
  EXPECT_STREQ(L"Checking Tool for ORV", GetGuideText(kTextTitle));
  EXPECT_STREQ(L"Checking complete,click \"Exit\" to exit", GetGuideText(kTextComplete));
  {
    InLanguage zh(ui::kSimplifiedChinese);
    EXPECT_EQ("索伦银行一键检测工具", WideToUtf8(GetGuideText(kTextTitle)));
    EXPECT_EQ("新UKEY密码必须由6-10个数字或字母组成，字母区分大小写", WideToUtf8(GetGuideText(kTextPinHint)));
  }
  {
    InLanguage tw(ui::kTraditionalChinese);
    EXPECT_EQ("兩次密码輸入不同, 請重新輸入！", WideToUtf8(GetGuideText(kTextPinMismatch)));
  }
  EXPECT_STREQ(L"", GetGuideText(58));
  EXPECT_STREQ(L"", GetGuideText(-1));
  SetLanguageIndex(7);
  EXPECT_EQ(ui::kEnglish, LanguageIndex());
}

TEST(GuideLanguage, FirstIdentifierThatMapsWins) {
  // The client's choice wins even on an English system.
  EXPECT_EQ(ui::kSimplifiedChinese, LanguageFromCandidates({2052, 1033, 1033, 1033, 1033}));
  // German is skipped: the next source decides.
  EXPECT_EQ(ui::kTraditionalChinese, LanguageFromCandidates({1031, 1028, 2052, 1033, 1033}));
  // A missing value reads as 0 and is skipped too.
  EXPECT_EQ(ui::kSimplifiedChinese, LanguageFromCandidates({0, 0, 0, 2052, 1033}));
  // British and Australian English are English; only the low 16 bits count.
  EXPECT_EQ(ui::kEnglish, LanguageFromCandidates({2057, 2052}));
  EXPECT_EQ(ui::kEnglish, LanguageFromCandidates({3081}));
  EXPECT_EQ(ui::kSimplifiedChinese, LanguageFromCandidates({0x10000u | 2052}));
  // Nothing maps: English.
  EXPECT_EQ(ui::kEnglish, LanguageFromCandidates({1031, 1036, 1041, 0, 1049}));
  EXPECT_EQ(ui::kEnglish, LanguageFromCandidates({}));
}

// ---- operating system ------------------------------------------------------------------------------

namespace {

OsVersion Nt(uint32_t major, uint32_t minor, uint32_t build, const wchar_t *sp, uint8_t type,
             uint16_t arch = kArchX86, uint16_t suites = 0) {
  OsVersion v;
  v.platformId = kPlatformNt;
  v.major = major;
  v.minor = minor;
  v.build = build;
  v.servicePack = sp;
  v.productType = type;
  v.processorArchitecture = arch;
  v.suiteMask = suites;
  return v;
}

std::wstring Describe(const OsVersion &v, int *result = nullptr) {
  std::wstring text;
  int r = DescribeOperatingSystem(v, &text);
  if (result) *result = r;
  return text;
}

}  // namespace

TEST(OperatingSystem, WindowsXpAndSevenAsTheCustomersHaveThem) {
  int r = -1;
  EXPECT_EQ(L"Operating system:Windows XP Professional Service Pack 3 (build 2600)",
            Describe(Nt(5, 1, 2600, L"Service Pack 3", kWorkstation), &r));
  EXPECT_EQ(kOsSupported, r);
  OsVersion seven = Nt(6, 1, 7601, L"Service Pack 1", kWorkstation, kArchAmd64);
  seven.productInfo = 1;
  EXPECT_EQ(L"Operating system:Windows 7 Ultimate Edition Service Pack 1 (build 7601), 64-bit",
            Describe(seven, &r));
  EXPECT_EQ(kOsSupported, r);
  EXPECT_EQ(L"Operating system:Windows XP Home Edition (build 2600)",
            Describe(Nt(5, 1, 2600, L"", kWorkstation, kArchX86, kSuitePersonal)));
}

TEST(OperatingSystem, WindowsTwoThousandByProductTypeAndSuite) {
  EXPECT_EQ(L"Operating system:Windows 2000 Professional Service Pack 4 (build 2195)",
            Describe(Nt(5, 0, 2195, L"Service Pack 4", kWorkstation)));
  EXPECT_EQ(L"Operating system:Windows 2000 Datacenter Server (build 2195)",
            Describe(Nt(5, 0, 2195, L"", kServer, kArchX86, kSuiteDatacenter | kSuiteEnterprise)));
  EXPECT_EQ(L"Operating system:Windows 2000 Advanced Server (build 2195)",
            Describe(Nt(5, 0, 2195, L"", kDomainController, kArchX86, kSuiteEnterprise)));
  EXPECT_EQ(L"Operating system:Windows 2000 Server (build 2195)", Describe(Nt(5, 0, 2195, L"", kServer)));
}

TEST(OperatingSystem, ServerTwoThousandThreeFamily) {
  OsVersion r2 = Nt(5, 2, 3790, L"Service Pack 2", kServer);
  r2.serverR2 = true;
  EXPECT_EQ(L"Operating system:Windows Server 2003 R2, Standard Edition Service Pack 2 (build 3790)",
            Describe(r2));
  r2.suiteMask = kSuiteEnterprise;
  EXPECT_EQ(L"Operating system:Windows Server 2003 R2, Enterprise Edition Service Pack 2 (build 3790)",
            Describe(r2));
  // The first suite that matches, in the order compute cluster, datacenter, enterprise, blade.
  EXPECT_EQ(L"Operating system:Windows Server 2003, Compute Cluster Edition (build 3790)",
            Describe(Nt(5, 2, 3790, L"", kServer, kArchX86, kSuiteComputeServer | kSuiteDatacenter)));
  EXPECT_EQ(L"Operating system:Windows Server 2003, Datacenter Edition (build 3790)",
            Describe(Nt(5, 2, 3790, L"", kServer, kArchX86, kSuiteDatacenter | kSuiteEnterprise)));
  EXPECT_EQ(L"Operating system:Windows Server 2003, Web Edition (build 3790)",
            Describe(Nt(5, 2, 3790, L"", kServer, kArchX86, kSuiteBlade)));
  EXPECT_EQ(L"Operating system:Windows Server 2003, Enterprise x64 Edition (build 3790)",
            Describe(Nt(5, 2, 3790, L"", kServer, kArchAmd64, kSuiteEnterprise)));
  EXPECT_EQ(L"Operating system:Windows Server 2003, Standard x64 Edition (build 3790)",
            Describe(Nt(5, 2, 3790, L"", kServer, kArchAmd64, kSuiteBlade)));
  EXPECT_EQ(L"Operating system:Windows Server 2003, Datacenter Edition for Itanium-based Systems (build 3790)",
            Describe(Nt(5, 2, 3790, L"", kServer, kArchIa64, kSuiteDatacenter)));
  // Itanium without either suite: no edition.
  EXPECT_EQ(L"Operating system:Windows Server 2003,  (build 3790)", Describe(Nt(5, 2, 3790, L"", kServer, kArchIa64)));
  EXPECT_EQ(L"Operating system:Windows XP Professional x64 Edition Service Pack 2 (build 3790)",
            Describe(Nt(5, 2, 3790, L"Service Pack 2", kWorkstation, kArchAmd64)));
  EXPECT_EQ(L"Operating system:Windows Storage Server 2003Standard Edition (build 3790)",
            Describe(Nt(5, 2, 3790, L"", kServer, kArchX86, kSuiteStorageServer)));
  // 5.3 and later minor versions of the 5 family have no name; the system is still supported.
  int r = -1;
  EXPECT_EQ(L"Operating system: (build 4000)", Describe(Nt(5, 3, 4000, L"", kWorkstation), &r));
  EXPECT_EQ(kOsSupported, r);
}

TEST(OperatingSystem, VistaAndLaterWithEditionAndBitness) {
  OsVersion vista = Nt(6, 0, 6002, L"Service Pack 2", kWorkstation);
  vista.productInfo = 3;
  EXPECT_EQ(L"Operating system:Windows Vista Home Premium Edition Service Pack 2 (build 6002), 32-bit",
            Describe(vista));
  OsVersion server = Nt(6, 1, 7601, L"Service Pack 1", kServer, kArchAmd64);
  server.productInfo = 10;
  EXPECT_EQ(L"Operating system:Windows Server 2008 R2 Enterprise Edition Service Pack 1 (build 7601), 64-bit",
            Describe(server));
  OsVersion s2008 = Nt(6, 0, 6001, L"", kDomainController, kArchAmd64);
  s2008.productInfo = 12;
  EXPECT_EQ(L"Operating system:Windows Server 2008 Datacenter Edition (core installation) (build 6001), 64-bit",
            Describe(s2008));
  // Windows 8 (6.2): a future version of the 6 family, with its edition; an unknown product
  // type adds nothing, and Itanium has no bitness word.
  OsVersion eight = Nt(6, 2, 9200, L"", kWorkstation, kArchAmd64);
  eight.productInfo = 48;
  EXPECT_EQ(L"Operating system:Future Windows Professional (build 9200), 64-bit", Describe(eight));
  eight.productInfo = 101;
  eight.processorArchitecture = kArchIa64;
  EXPECT_EQ(L"Operating system:Future Windows  (build 9200)", Describe(eight));
  // Windows 10 (10.0): a future major version, no edition.
  OsVersion ten = Nt(10, 0, 19045, L"", kWorkstation, kArchAmd64);
  ten.productInfo = 48;
  int r = -1;
  EXPECT_EQ(L"Operating system:Future Windows  (build 19045), 64-bit", Describe(ten, &r));
  EXPECT_EQ(kOsSupported, r);
}

TEST(OperatingSystem, NtFourNineXAndWin32sAreUnsupported) {
  int r = -1;
  EXPECT_EQ(L"Operating system:Windows NT 4.0 The operating system does not support online banking",
            Describe(Nt(4, 0, 1381, L"Service Pack 6", kWorkstation), &r));
  EXPECT_EQ(kOsUnsupported, r);
  OsVersion nine;
  nine.platformId = kPlatformWindows9x;
  nine.major = 4;
  nine.minor = 0;
  nine.servicePack = L" C";
  EXPECT_EQ(L"Operating system:Windows 95 OSR2 The operating system does not support online banking",
            Describe(nine, &r));
  EXPECT_EQ(kOsUnsupported, r);
  nine.servicePack = L" A";
  EXPECT_EQ(L"Operating system:Windows 95 The operating system does not support online banking", Describe(nine));
  nine.minor = 10;
  EXPECT_EQ(L"Operating system:Windows 98 SE The operating system does not support online banking", Describe(nine));
  nine.servicePack = L"";
  EXPECT_EQ(L"Operating system:Windows 98 The operating system does not support online banking", Describe(nine));
  nine.minor = 90;
  EXPECT_EQ(L"Operating system:Windows Millennium EditionThe operating system does not support online banking",
            Describe(nine));
  OsVersion win32s;
  win32s.platformId = kPlatformWin32s;
  win32s.major = 1;
  EXPECT_EQ(L"Operating system:Win32s\nThe operating system does not support online banking", Describe(win32s, &r));
  EXPECT_EQ(kOsUnsupported, r);
}

TEST(OperatingSystem, TextInTheChosenLanguageAndAtMost255Characters) {
  InLanguage zh(ui::kSimplifiedChinese);
  std::wstring t = Describe(Nt(4, 0, 1381, L"", kWorkstation));
  EXPECT_EQ("操作系统：Windows NT 4.0 当前操作系统不支持网银，请更换操作系统", WideToUtf8(t));
  std::wstring longPack(400, L'x');
  t = Describe(Nt(5, 1, 2600, longPack.c_str(), kWorkstation));
  EXPECT_EQ(255u, t.size());
}

// ---- Internet Explorer and zones -----------------------------------------------------------------------

TEST(InternetExplorer, OnlyTheFirstCharacterOfTheVersionCounts) {
  std::wstring text, v = L"9.11.9600.0";
  EXPECT_EQ(kIeAcceptable, CheckIeVersion(&v, &text));
  EXPECT_EQ(L"IE version: 9.11.9600.0", text);
  v = L"6.0.2900.5512";
  EXPECT_EQ(kIeAcceptable, CheckIeVersion(&v, &text));
  v = L"5.50.4807.2300";
  EXPECT_EQ(kIeTooOld, CheckIeVersion(&v, &text));
  EXPECT_EQ(L"IE version: 5.50.4807.2300Please update IE browser", text);
  v = L"10.0.9200.16384";
  EXPECT_EQ(kIeTooOld, CheckIeVersion(&v, &text));
  v = L"";
  EXPECT_EQ(kIeTooOld, CheckIeVersion(&v, &text));
  EXPECT_EQ(kIeTooOld, CheckIeVersion(nullptr, &text));
  EXPECT_EQ(L"Get IE version error", text);
  InLanguage tw(ui::kTraditionalChinese);
  v = L"5.5";
  CheckIeVersion(&v, &text);
  EXPECT_EQ("IE版本: 5.5(請更換IE版本)", WideToUtf8(text));
}

namespace {

// Zone keys in memory: values per zone, every read and write recorded in order; a key can be
// missing, refuse writing, or fail its n-th write.
class FakeZones : public IZoneStore {
 public:
  struct Zone {
    std::map<std::wstring, uint32_t> values;
    bool exists = true, writable = true;
    int failWrite = -1;  // index of the write that fails
    int writes = 0;
  };
  std::map<int, Zone> zones;
  std::vector<std::pair<int, std::wstring>> reads;
  std::vector<std::tuple<int, std::wstring, uint32_t>> writes;
  std::vector<std::pair<int, bool>> opened;

  std::unique_ptr<IZoneKey> OpenZone(int zone, bool forWriting) override {
    opened.push_back({zone, forWriting});
    Zone &z = zones[zone];
    if (!z.exists || (forWriting && !z.writable)) return nullptr;
    return std::unique_ptr<IZoneKey>(new Key(this, zone));
  }

 private:
  class Key : public IZoneKey {
   public:
    Key(FakeZones *s, int zone) : s_(s), zone_(zone) {}
    bool ReadDword(const wchar_t *name, uint32_t *value) override {
      s_->reads.push_back({zone_, name});
      auto &v = s_->zones[zone_].values;
      auto it = v.find(name);
      if (it == v.end()) return false;
      *value = it->second;
      return true;
    }
    bool WriteDword(const wchar_t *name, uint32_t value) override {
      Zone &z = s_->zones[zone_];
      if (z.writes++ == z.failWrite) return false;
      s_->writes.emplace_back(zone_, name, value);
      z.values[name] = value;
      return true;
    }

   private:
    FakeZones *s_;
    int zone_;
  };
};

// The values Wine's fresh prefix has in the trusted-sites and Internet zones (the ones the
// check looks at; "2201", "2000", "120B", "1209", "1208", "120a" and "2500" are absent).
void WineDefaults(FakeZones *z) {
  z->zones[2].values = {{L"1001", 0}, {L"1004", 1}, {L"1200", 0}, {L"1201", 1}, {L"1405", 0}};
  z->zones[3].values = {{L"1001", 1}, {L"1004", 3}, {L"1200", 0}, {L"1201", 3}, {L"1405", 0}};
}

}  // namespace

TEST(ZoneSecurity, RepairWritesExactlyTheListedValuesInOrderAndNothingElse) {
  FakeZones z;
  WineDefaults(&z);
  EXPECT_EQ(kZoneValueDiffers, CheckZoneSecurity(z));
  // The check stopped at the first value of the trusted-sites zone, which is missing.
  ASSERT_EQ(1u, z.reads.size());
  EXPECT_EQ(std::make_pair(2, std::wstring(L"2201")), z.reads[0]);

  EXPECT_EQ(0, FixZoneSecurity(z));
  using W = std::tuple<int, std::wstring, uint32_t>;
  const std::vector<W> expected = {
      W{2, L"2201", 0}, W{2, L"1405", 0}, W{2, L"1201", 0}, W{2, L"2000", 0}, W{2, L"120B", 3},
      W{2, L"1209", 0}, W{2, L"1208", 0}, W{2, L"1200", 0}, W{2, L"120a", 0}, W{2, L"1004", 0},
      W{2, L"1001", 0}, W{2, L"2500", 3}, W{2, L"1201", 0},
      W{3, L"2201", 0}, W{3, L"1405", 0}, W{3, L"1201", 0}, W{3, L"2000", 0}, W{3, L"120B", 3},
      W{3, L"1209", 0}, W{3, L"1208", 0}, W{3, L"1200", 0}, W{3, L"120a", 0}, W{3, L"1004", 1},
      W{3, L"1001", 1}, W{3, L"2500", 0}, W{3, L"1201", 1},
  };
  EXPECT_EQ(expected, z.writes);
  // Both keys opened with full access, the trusted-sites zone first.
  std::vector<std::pair<int, bool>> writesOpened;
  for (auto &o : z.opened)
    if (o.second) writesOpened.push_back(o);
  EXPECT_EQ((std::vector<std::pair<int, bool>>{{2, true}, {3, true}}), writesOpened);

  z.reads.clear();
  EXPECT_EQ(kZonesAsRequired, CheckZoneSecurity(z));
  EXPECT_EQ(24u, z.reads.size());  // twelve values in each zone
}

TEST(ZoneSecurity, InternetZoneAllowsUpToOneWhereTheTableSaysSo) {
  FakeZones z;
  WineDefaults(&z);
  ASSERT_EQ(0, FixZoneSecurity(z));
  for (const wchar_t *name : {L"1004", L"1001", L"1201"}) {
    z.zones[3].values[name] = 0;
    EXPECT_EQ(kZonesAsRequired, CheckZoneSecurity(z)) << WideToUtf8(name);
    z.zones[3].values[name] = 2;
    EXPECT_EQ(kZoneValueDiffers, CheckZoneSecurity(z)) << WideToUtf8(name);
    z.zones[3].values[name] = 1;
  }
  // In the trusted-sites zone they must be 0.
  z.zones[2].values[L"1004"] = 1;
  EXPECT_EQ(kZoneValueDiffers, CheckZoneSecurity(z));
}

TEST(ZoneSecurity, ZonesAreCheckedInOrderAndTheInternetZoneOnlyAfterTheTrustedOne) {
  FakeZones z;
  WineDefaults(&z);
  z.zones[2].exists = false;
  EXPECT_EQ(kZoneKeyUnopened, CheckZoneSecurity(z));
  EXPECT_EQ((std::vector<std::pair<int, bool>>{{2, false}}), z.opened);

  FakeZones ok;
  WineDefaults(&ok);
  ASSERT_EQ(0, FixZoneSecurity(ok));
  ok.zones[3].exists = false;
  ok.opened.clear();
  EXPECT_EQ(kZoneKeyUnopened, CheckZoneSecurity(ok));
  EXPECT_EQ((std::vector<std::pair<int, bool>>{{2, false}, {3, false}}), ok.opened);

  // A value of the wrong kind (not readable as a DWORD) counts as missing.
  FakeZones bad;
  WineDefaults(&bad);
  ASSERT_EQ(0, FixZoneSecurity(bad));
  bad.zones[2].values.erase(L"2500");
  bad.reads.clear();
  EXPECT_EQ(kZoneValueDiffers, CheckZoneSecurity(bad));
  EXPECT_EQ(std::make_pair(2, std::wstring(L"2500")), bad.reads.back());
  EXPECT_EQ(11u, bad.reads.size());
}

TEST(ZoneSecurity, AFailedWriteEndsTheRepairAndSparesTheInternetZone) {
  FakeZones z;
  WineDefaults(&z);
  z.zones[2].failWrite = 4;
  EXPECT_EQ(1, FixZoneSecurity(z));
  EXPECT_EQ(4u, z.writes.size());
  for (auto &w : z.writes) EXPECT_EQ(2, std::get<0>(w));

  FakeZones locked;
  WineDefaults(&locked);
  locked.zones[2].writable = false;
  EXPECT_EQ(2, FixZoneSecurity(locked));
  EXPECT_TRUE(locked.writes.empty());

  FakeZones internet;
  WineDefaults(&internet);
  internet.zones[3].writable = false;
  EXPECT_EQ(2, FixZoneSecurity(internet));
  EXPECT_EQ(13u, internet.writes.size());  // the trusted-sites zone was written
  FakeZones late;
  WineDefaults(&late);
  late.zones[3].failWrite = 12;
  EXPECT_EQ(1, FixZoneSecurity(late));
  EXPECT_EQ(13u + 12u, late.writes.size());
}

// ---- token operations ---------------------------------------------------------------------------------

namespace {

// The token library's own exports, bound as the guide binds the loaded library's.
const GuideTokenApi kNativeApi = {
    zksTokenEstablishContext, zksTokenReleaseContext, zksTokenListDevices,    zksTokenConnect,
    zksTokenDisconnect,       zksTokenSelectMF,       zksTokenSelectPkiWorkDF, zksTokenModifyUserPin,
    zksTokenVerifyUserPin,    zksTokenGetDeviceInfo,  zksTokenGetSn,           zksTokenListContainers,
    zksTokenReadCert,
};

class Binding : public ITokenBinding {
 public:
  uint32_t Bind() override {
    ++binds;
    return bindResult;
  }
  const GuideTokenApi *Api() const override { return bindResult == 0 ? &kNativeApi : nullptr; }
  uint32_t bindResult = 0;
  int binds = 0;
};

std::string ToAnsi(const std::wstring &w) { return WideToUtf8(w); }

class GuideTokenTest : public uktest::PlatformFixture {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<objtest::SimBus>();
    installPlatform(bus_.get(), true, "uk_guide_");
  }

  // A factory-formatted token with the default PIN its serial number implies.
  tokensim::Card &AddToken(const std::string &serial) {
    tokensim::Card &c = bus_->add(serial);
    c.factoryFormat(DefaultUserPin(serial.c_str()), "70361524", 10, 10, "ORV-USBKEY");
    return c;
  }

  // Runs fn on a session with the token (connected, application directory selected).
  template <class Fn>
  void OnToken(const std::string &serial, Fn fn) {
    UK_DEV_INFO d{};
    snprintf(d.devicePath, sizeof d.devicePath, "%s", objtest::usbPathOf(serial).c_str());
    ASSERT_EQ(0u, zksTokenConnect(&d, 0));
    ASSERT_EQ(0u, zksTokenSelectPkiWorkDF(&d, 0));
    fn(&d);
    zksTokenDisconnect(&d);
  }

  uint32_t Verify(const std::string &serial, const std::string &pin) {
    uint32_t rc = 0xFFFFFFFF;
    OnToken(serial, [&](UK_DEV_INFO *d) {
      uint8_t tries = 0;
      rc = zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>(pin.data()), uint32_t(pin.size()), &tries);
    });
    return rc;
  }

  // A container with the certificates named (empty: none of that kind); the DER of each.
  std::vector<Bytes> AddContainer(const std::string &serial, const char *name, const std::string &exchangeCn,
                                  const std::string &signatureCn, int bits = 1024, int units = 0) {
    std::vector<Bytes> ders(2);
    OnToken(serial, [&](UK_DEV_INFO *d) {
      uint8_t tries = 0;
      const char *pin = DefaultUserPin(serial.c_str());
      ASSERT_EQ(0u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>(pin), 6, &tries));
      UK_CONTAINER_INFO ci = objtest::namedContainer(name);
      ASSERT_EQ(0u, zksTokenNewContainer(d, &ci));
      const std::string cns[2] = {exchangeCn, signatureCn};
      for (uint32_t spec = 1; spec <= 2; ++spec) {
        if (cns[spec - 1].empty()) continue;
        std::vector<std::pair<std::string, std::string>> subject = {{"CN", cns[spec - 1]}, {"O", "ORV Bank"}};
        // Organisational units of 60 characters each (a name entry holds at most 64).
        for (int u = 0; u < units; ++u) subject.push_back({"OU", std::string(56, 'u') + std::to_string(1000 + u)});
        testcert::Made m = testcert::make(subject, {{"CN", "ORV Test CA"}}, "20260102000000Z",
                                          "20280304000000Z", 7 + spec, bits);
        EVP_PKEY_free(m.key);
        ASSERT_EQ(0u, zksTokenWriteCert(d, &ci, m.der.data(), uint32_t(m.der.size()), spec));
        ders[spec - 1] = m.der;
      }
    });
    return ders;
  }

  std::unique_ptr<objtest::SimBus> bus_;
};

}  // namespace

TEST_F(GuideTokenTest, FactoryPinIsChosenByTheSeventhCharacterOfTheSerialNumber) {
  EXPECT_STREQ("937260", DefaultUserPin("UKQ5712000001"));
  EXPECT_STREQ("482915", DefaultUserPin("UKQ5711000001"));
  EXPECT_STREQ("482915", DefaultUserPin("UKQ572"));  // no seventh character
  EXPECT_STREQ("482915", DefaultUserPin(""));

  AddToken("GDT0022000001");
  // Such a token accepts only its own default as the old PIN.
  EXPECT_EQ(kOldPinNotDefault, ChangeDefaultPin(&kNativeApi, L"482915", "a1b2c3"));
  EXPECT_EQ(kOldPinNotDefault, ChangeDefaultPin(&kNativeApi, L"937260 ", "a1b2c3"));
  EXPECT_EQ(0u, ChangeDefaultPin(&kNativeApi, L"937260", "a1b2c3"));
  EXPECT_EQ(0u, Verify("GDT0022000001", "a1b2c3"));
}

TEST_F(GuideTokenTest, PinChangeIsDetectedBeforeAndAfter) {
  AddToken("GDT0011000002");
  uint32_t changed = 99;
  ASSERT_EQ(0u, DetectPinChanged(&kNativeApi, &changed));
  EXPECT_EQ(0u, changed);
  // A new PIN equal to the default changes nothing on the token.
  EXPECT_EQ(kNewPinIsDefault, ChangeDefaultPin(&kNativeApi, L"482915", "482915"));
  ASSERT_EQ(0u, DetectPinChanged(&kNativeApi, &changed));
  EXPECT_EQ(0u, changed);
  EXPECT_EQ(kOldPinNotDefault, ChangeDefaultPin(&kNativeApi, L"937260", "Abc123"));

  ASSERT_EQ(0u, ChangeDefaultPin(&kNativeApi, L"482915", "Abc123"));
  ASSERT_EQ(0u, DetectPinChanged(&kNativeApi, &changed));
  EXPECT_NE(0u, changed);
  EXPECT_EQ(0u, Verify("GDT0011000002", "Abc123"));
  EXPECT_TRUE(UKLR_IS_WRONG_PIN(Verify("GDT0011000002", "482915")));
  // Changing again from the default: the token refuses the old PIN; its error comes through.
  uint32_t rc = ChangeDefaultPin(&kNativeApi, L"482915", "Xyz789");
  EXPECT_TRUE(UKLR_IS_WRONG_PIN(rc)) << std::hex << rc;
}

TEST_F(GuideTokenTest, NoLibraryNoTokenAndTheFirstOfTwoTokens) {
  uint32_t changed = 0;
  uint8_t buf[16];
  uint32_t len = sizeof buf;
  EXPECT_EQ(kNotBound, DetectPinChanged(nullptr, &changed));
  EXPECT_EQ(kNotBound, ChangeDefaultPin(nullptr, L"482915", "Abc123"));
  EXPECT_EQ(kNotBound, ReadFirstCertificate(nullptr, buf, &len));
  EXPECT_EQ(kNoDevice, DetectPinChanged(&kNativeApi, &changed));
  EXPECT_EQ(kNoDevice, ChangeDefaultPin(&kNativeApi, L"482915", "Abc123"));
  EXPECT_EQ(kNoDevice, ReadFirstCertificate(&kNativeApi, buf, &len));

  AddToken("GDT0011000003");
  AddToken("GDT0011000004");
  ASSERT_EQ(0u, ChangeDefaultPin(&kNativeApi, L"482915", "First1"));
  EXPECT_EQ(0u, Verify("GDT0011000003", "First1"));
  EXPECT_EQ(0u, Verify("GDT0011000004", "482915"));
}

// The device-exclusive lock around each operation: held from the listing to the disconnect, and
// a lock that cannot be had leaves the token untouched.
struct LockRecorder {
  static bool grant;
  static int locks, unlocks;
  static bool Lock() {
    ++locks;
    return grant;
  }
  static void Unlock() { ++unlocks; }
};
bool LockRecorder::grant = true;
int LockRecorder::locks = 0, LockRecorder::unlocks = 0;

TEST_F(GuideTokenTest, EveryOperationHoldsTheDeviceLockAndABusyTokenIsLeftAlone) {
  const DeviceLockHooks hooks = {LockRecorder::Lock, LockRecorder::Unlock};
  SetDeviceLock(&hooks);
  struct Unset {
    ~Unset() { SetDeviceLock(nullptr); }
  } unset;
  LockRecorder::grant = true;
  LockRecorder::locks = LockRecorder::unlocks = 0;
  AddToken("GDT0011000005");
  uint32_t changed = 1;
  uint8_t buf[16];
  uint32_t len = sizeof buf;
  EXPECT_EQ(0u, DetectPinChanged(&kNativeApi, &changed));
  EXPECT_EQ(0u, ReadFirstCertificate(&kNativeApi, buf, &len));
  EXPECT_EQ(0u, ChangeDefaultPin(&kNativeApi, L"482915", "Locked1"));
  EXPECT_EQ(3, LockRecorder::locks);
  EXPECT_EQ(3, LockRecorder::unlocks);

  LockRecorder::grant = false;
  EXPECT_EQ(kDeviceBusy, ChangeDefaultPin(&kNativeApi, L"482915", "Other22"));
  EXPECT_EQ(kDeviceBusy, DetectPinChanged(&kNativeApi, &changed));
  EXPECT_EQ(3, LockRecorder::unlocks);  // a lock not had is not released
  EXPECT_EQ(0u, Verify("GDT0011000005", "Locked1"));
}

TEST_F(GuideTokenTest, FirstCertificateInContainerOrderExchangeBeforeSignature) {
  AddToken("GDT0011000005");
  uint8_t buf[kCertificateCapacity];
  uint32_t len = sizeof buf;
  ASSERT_EQ(0u, ReadFirstCertificate(&kNativeApi, buf, &len));
  EXPECT_EQ(0u, len);  // no containers

  AddContainer("GDT0011000005", "keys-only", "", "");
  len = sizeof buf;
  ASSERT_EQ(0u, ReadFirstCertificate(&kNativeApi, buf, &len));
  EXPECT_EQ(0u, len);  // a container without certificates

  std::vector<Bytes> second = AddContainer("GDT0011000005", "signing", "", "Li Na");
  std::vector<Bytes> third = AddContainer("GDT0011000005", "both", "Wang Fang", "Zhao Lei");
  len = sizeof buf;
  ASSERT_EQ(0u, ReadFirstCertificate(&kNativeApi, buf, &len));
  EXPECT_EQ(second[1], Bytes(buf, buf + len));

  AddToken("GDT0011000006");
  bus_->card("GDT0011000005").blank();
  // The first listed token decides; here it no longer has a file system.
  len = sizeof buf;
  EXPECT_NE(0u, ReadFirstCertificate(&kNativeApi, buf, &len));
}

TEST_F(GuideTokenTest, ExchangeCertificateComesFirstWithinAContainer) {
  AddToken("GDT0011000007");
  std::vector<Bytes> both = AddContainer("GDT0011000007", "both", "Wang Fang", "Zhao Lei");
  uint8_t buf[kCertificateCapacity];
  uint32_t len = sizeof buf;
  ASSERT_EQ(0u, ReadFirstCertificate(&kNativeApi, buf, &len));
  EXPECT_EQ(both[0], Bytes(buf, buf + len));
}

TEST_F(GuideTokenTest, CertificatesLargerThanTwoKilobytesAreReadWhole) {
  AddToken("GDT0011000008");
  // A 4096-bit key and a long subject make a certificate of well over 2048 bytes (the token
  // holds up to 4096).
  std::vector<Bytes> ders = AddContainer("GDT0011000008", "large", "Large Holder", "", 4096, 16);
  ASSERT_GT(ders[0].size(), 2048u);
  uint8_t buf[kCertificateCapacity];
  uint32_t len = sizeof buf;
  ASSERT_EQ(0u, ReadFirstCertificate(&kNativeApi, buf, &len));
  EXPECT_EQ(ders[0], Bytes(buf, buf + len));
}

// ---- step 1 --------------------------------------------------------------------------------------

namespace {

struct Line {
  int state;
  std::wstring text;
  bool operator==(const Line &o) const { return state == o.state && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const Line &l) { return os << l.state << ":" << WideToUtf8(l.text); }

// The step-1 page as a record of what was shown.
class RecordingPage : public IStepOnePage {
 public:
  void BeginCheck() override { events.push_back("begin"); lines.clear(); }
  void SetStatusText(int id) override { statuses.push_back(id); }
  void AddDetailLine(int state, const std::wstring &t) override { lines.push_back({state, t}); history.push_back({state, t}); }
  void ReplaceLastDetailLine(int state, const std::wstring &t) override {
    if (!lines.empty()) lines.pop_back();
    lines.push_back({state, t});
    history.push_back({state, t});
  }
  void EnableRecheck() override { events.push_back("recheck"); }
  void EndCheck() override { events.push_back("end"); }

  std::vector<std::string> events;
  std::vector<int> statuses;
  std::vector<Line> lines, history;
};

// A computer whose every answer the test sets.
class FakeEnvironment : public IEnvironment {
 public:
  bool admin = true;
  int os = kOsSupported, ie = kIeAcceptable;
  NetworkResult net;
  int trusted = 0, trust = 0, zones = 0, fixZones = 0;
  std::vector<int> installed = {0};  // answers of CheckClientInstalled, in turn (last repeats)
  std::wstring setupPath = L"C:\\ProgramData\\ORVToken\\ORV_ZV_Setup.exe";
  std::set<std::wstring> files;
  bool download = true, trustedSetup = true, runs = true;
  std::vector<std::string> calls;

  bool IsUserAdministrator() override { return admin; }
  int DescribeOperatingSystem(std::wstring *t) override {
    *t = os == kOsSupported ? L"OS fine" : L"OS too old";
    return os;
  }
  int CheckIeVersion(std::wstring *t) override {
    *t = L"IE";
    return ie;
  }
  NetworkResult CheckNetwork() override { calls.push_back("network"); return net; }
  int IsBankSiteTrusted() override { return trusted; }
  int TrustBankSite() override { calls.push_back("trust"); return trust; }
  int CheckZoneSecurity() override { return zones; }
  int FixZoneSecurity() override { calls.push_back("zones"); return fixZones; }
  int CheckClientInstalled() override {
    calls.push_back("installed?");
    int r = installed.front();
    if (installed.size() > 1) installed.erase(installed.begin());
    return r;
  }
  std::wstring PrepareSetupPath() override { return setupPath; }
  bool FileExists(const std::wstring &p) override { return files.count(p) != 0; }
  void DeleteFile(const std::wstring &p) override { calls.push_back("delete"); files.erase(p); }
  bool DownloadSetup(const std::wstring &p) override {
    calls.push_back("download");
    if (download) files.insert(p);
    return download;
  }
  bool IsTrustedSetup(const std::wstring &) override { calls.push_back("verify"); return trustedSetup; }
  bool RunSetup(const std::wstring &) override { calls.push_back("run"); return runs; }
};

const wchar_t *T(int id) { return GetGuideText(id); }

}  // namespace

TEST(StepOne, EverythingInPlace) {
  RecordingPage page;
  FakeEnvironment env;
  EXPECT_EQ(0, CheckSoftwareStep(page, env));
  EXPECT_EQ((std::vector<std::string>{"begin", "end"}), page.events);
  EXPECT_EQ((std::vector<int>{2, 4, 10}), page.statuses);
  EXPECT_EQ((std::vector<Line>{{0, T(22)}, {0, L"OS fine"}, {0, L"IE"}, {0, T(25)}, {0, T(29)},
                               {0, T(31)}, {0, T(7)}}),
            page.lines);
  EXPECT_EQ((std::vector<std::string>{"network", "installed?"}), env.calls);
}

TEST(StepOne, WarningsDoNotStopTheCheck) {
  RecordingPage page;
  FakeEnvironment env;
  env.admin = false;
  env.ie = kIeTooOld;
  env.net.stage = NetworkResult::kOpenFailed;
  env.net.code = 12029;
  EXPECT_EQ(0, CheckSoftwareStep(page, env));
  EXPECT_EQ((Line{2, T(23)}), page.lines[0]);
  EXPECT_EQ((Line{2, L"IE"}), page.lines[2]);
  EXPECT_EQ((Line{2, L"Connection error,code:0x00002efd"}), page.lines[3]);

  RecordingPage page2;
  env.net.stage = NetworkResult::kSizeQueryFailed;
  env.net.code = 0x40000000u | 12152;
  InLanguage zh(ui::kSimplifiedChinese);
  EXPECT_EQ(0, CheckSoftwareStep(page2, env));
  EXPECT_EQ("获取文件大小失败，RET is  0x40002f78", WideToUtf8(page2.lines[3].text));
  EXPECT_EQ(2, page2.lines[3].state);
}

TEST(StepOne, UnsupportedSystemStopsWithTheRecheckButtonEnabled) {
  RecordingPage page;
  FakeEnvironment env;
  env.os = kOsUnsupported;
  EXPECT_EQ(1, CheckSoftwareStep(page, env));
  EXPECT_EQ((std::vector<int>{2, 24, 3}), page.statuses);
  EXPECT_EQ((std::vector<std::string>{"begin", "recheck"}), page.events);  // details stay shown
  EXPECT_EQ((std::vector<Line>{{0, T(22)}, {2, L"OS too old"}}), page.lines);
  EXPECT_TRUE(env.calls.empty());
}

TEST(StepOne, TrustedSiteAndZonesRepairedAndFailuresShown) {
  RecordingPage page;
  FakeEnvironment env;
  env.trusted = 1;
  env.zones = 1;
  EXPECT_EQ(0, CheckSoftwareStep(page, env));
  EXPECT_EQ((std::vector<Line>{{0, T(22)}, {0, L"OS fine"}, {0, L"IE"}, {0, T(25)}, {1, T(28)}, {0, T(29)},
                               {1, T(30)}, {0, T(31)}, {0, T(7)}}),
            page.history);
  EXPECT_EQ((std::vector<std::string>{"network", "trust", "zones", "installed?"}), env.calls);

  // A repair that could not write keeps its line, in red.
  RecordingPage failed;
  env.trust = 2;
  env.fixZones = 1;
  env.calls.clear();
  EXPECT_EQ(0, CheckSoftwareStep(failed, env));
  EXPECT_EQ((Line{2, T(28)}), failed.lines[4]);
  EXPECT_EQ((Line{2, T(30)}), failed.lines[5]);
}

TEST(StepOne, MissingClientIsDownloadedCheckedInstalledAndCheckedAgain) {
  RecordingPage page;
  FakeEnvironment env;
  env.installed = {1, 0};
  EXPECT_EQ(0, CheckSoftwareStep(page, env));
  EXPECT_EQ((std::vector<int>{2, 4, 6}), page.statuses);
  EXPECT_EQ((std::vector<std::string>{"network", "installed?", "download", "verify", "run", "installed?"}),
            env.calls);
  std::vector<Line> tail(page.history.end() - 5, page.history.end());
  EXPECT_EQ((std::vector<Line>{{1, T(5)}, {0, T(32)}, {0, T(33)}, {0, T(34)}, {0, T(7)}}), tail);
  EXPECT_EQ((Line{0, T(7)}), page.lines.back());
  EXPECT_EQ(7u, page.lines.size());  // the repair kept to one line
  EXPECT_EQ("end", page.events.back());
}

TEST(StepOne, SetupLeftFromAnEarlierRunIsUsedWithoutDownloading) {
  RecordingPage page;
  FakeEnvironment env;
  env.installed = {1, 0};
  env.files.insert(env.setupPath);
  EXPECT_EQ(0, CheckSoftwareStep(page, env));
  EXPECT_EQ((std::vector<std::string>{"network", "installed?", "verify", "run", "installed?"}), env.calls);
}

TEST(StepOne, SetupThatIsNotTheBanksIsDeletedAndNeverStarted) {
  // A leftover file that fails the check is replaced by a fresh download.
  RecordingPage page;
  FakeEnvironment env;
  env.installed = {1, 0};
  env.files.insert(env.setupPath);
  env.trustedSetup = false;
  EXPECT_EQ(1, CheckSoftwareStep(page, env));
  EXPECT_EQ((std::vector<std::string>{"network", "installed?", "verify", "delete", "download", "verify", "delete"}),
            env.calls);
  EXPECT_EQ((Line{2, T(8)}), page.lines.back());
  EXPECT_TRUE(env.files.empty());
}

TEST(StepOne, DownloadAndSetupFailures) {
  RecordingPage noDownload;
  FakeEnvironment env;
  env.installed = {1};
  env.download = false;
  EXPECT_EQ(kDownloadFailed, CheckSoftwareStep(noDownload, env));
  EXPECT_EQ((Line{2, T(8)}), noDownload.lines.back());
  EXPECT_EQ((std::vector<std::string>{"begin", "end"}), noDownload.events);

  RecordingPage noStart;
  FakeEnvironment env2;
  env2.installed = {1};
  env2.runs = false;
  EXPECT_EQ(kSetupFailed, CheckSoftwareStep(noStart, env2));
  EXPECT_EQ((Line{2, T(9)}), noStart.lines.back());

  RecordingPage stillMissing;
  FakeEnvironment env3;
  env3.installed = {1, 1};
  EXPECT_EQ(kSetupFailed, CheckSoftwareStep(stillMissing, env3));
  EXPECT_EQ((Line{2, T(9)}), stillMissing.lines.back());

  RecordingPage noFolder;
  FakeEnvironment env4;
  env4.installed = {1};
  env4.setupPath.clear();
  EXPECT_EQ(kDownloadFailed, CheckSoftwareStep(noFolder, env4));
  EXPECT_EQ((std::vector<std::string>{"network", "installed?"}), env4.calls);
}

// ---- steps 2 and 3 against the emulated token ---------------------------------------------------

namespace {

class RecordingPinPage : public IPinPage {
 public:
  void SetStatus(int id) override { statuses.push_back(id); }
  void ShowPinControls(bool show) override { shown.push_back(show); }
  WaitResult WaitForPinChange() override {
    ++waits;
    if (onWait) onWait();
    return wait;
  }
  std::vector<int> statuses;
  std::vector<bool> shown;
  int waits = 0;
  WaitResult wait = WaitResult::kSignalled;
  std::function<void()> onWait;
};

}  // namespace

TEST_F(GuideTokenTest, StepTwoOutcomes) {
  Binding missing;
  missing.bindResult = 1;
  RecordingPinPage p1;
  EXPECT_EQ(1, RunPinStep(p1, missing));
  EXPECT_EQ((std::vector<int>{11}), p1.statuses);
  EXPECT_EQ((std::vector<bool>{false}), p1.shown);

  Binding bound;
  RecordingPinPage p2;
  EXPECT_EQ(2, RunPinStep(p2, bound));  // no token
  EXPECT_EQ((std::vector<int>{12}), p2.statuses);
  EXPECT_EQ((std::vector<bool>{false}), p2.shown);

  AddToken("GDT0011000009");
  RecordingPinPage p3;
  // The user changes the PIN while the step waits.
  p3.onWait = [&] {
    PinSubmission s = SubmitPinChange(bound, L"482915", L"Abc123", L"Abc123", ToAnsi);
    EXPECT_TRUE(s.changed);
    EXPECT_EQ(54, s.status);
  };
  EXPECT_EQ(0, RunPinStep(p3, bound));
  EXPECT_EQ((std::vector<int>{14}), p3.statuses);
  EXPECT_EQ((std::vector<bool>{true}), p3.shown);
  EXPECT_EQ(1, p3.waits);

  // Run again: the PIN was changed, no wait.
  RecordingPinPage p4;
  EXPECT_EQ(0, RunPinStep(p4, bound));
  EXPECT_EQ((std::vector<int>{13}), p4.statuses);
  EXPECT_EQ((std::vector<bool>{false}), p4.shown);
  EXPECT_EQ(0, p4.waits);

  AddToken("GDT0011000010");
  bus_->card("GDT0011000009").blank();
  RecordingPinPage p5;
  EXPECT_EQ(2, RunPinStep(p5, bound));  // the first token cannot be queried
}

TEST_F(GuideTokenTest, StepTwoWaitFailedOrSuperseded) {
  AddToken("GDT0011000011");
  Binding bound;
  RecordingPinPage failed;
  failed.wait = WaitResult::kFailed;
  EXPECT_EQ(1, RunPinStep(failed, bound));
  RecordingPinPage superseded;
  superseded.wait = WaitResult::kSuperseded;
  EXPECT_EQ(kStepSuperseded, RunPinStep(superseded, bound));
  EXPECT_EQ((std::vector<int>{14}), superseded.statuses);
}

TEST_F(GuideTokenTest, PinEntryIsValidatedInOrderBeforeTheTokenIsTouched) {
  AddToken("GDT0011000012");
  Binding bound;
  struct Case {
    const wchar_t *oldPin, *newPin, *confirm;
    int message;
    PinField focus;
  };
  const Case cases[] = {
      {L"48291", L"Abc123", L"Abc123", 49, PinField::kOldPin},        // old PIN too short
      {L"48291548291", L"Abc123", L"Abc123", 49, PinField::kOldPin},  // old PIN too long
      {L"48291", L"Abc123", L"Abc124", 49, PinField::kOldPin},        // the old PIN is looked at first
      {L"482915", L"Abc123", L"Abc124", 48, PinField::kNewPin},       // mismatch before length
      {L"482915", L"Abc12", L"Abc12", 49, PinField::kNewPin},
      {L"482915", L"Abc1234567890", L"Abc1234567890", 49, PinField::kNewPin},  // 13: typed, refused
      {L"482915", L"Abc-123", L"Abc-123", 50, PinField::kNewPin},
      {L"482915", L"Abc 123", L"Abc 123", 50, PinField::kNewPin},
      {L"937260", L"Abc123", L"Abc123", 52, PinField::kOldPin},       // not this token's default
      {L"482915", L"482915", L"482915", 51, PinField::kNewPin},       // new equal to the default
  };
  for (const Case &c : cases) {
    PinSubmission s = SubmitPinChange(bound, c.oldPin, c.newPin, c.confirm, ToAnsi);
    EXPECT_EQ(c.message, s.message) << WideToUtf8(c.oldPin) << " " << WideToUtf8(c.newPin);
    EXPECT_EQ(c.focus, s.focus) << WideToUtf8(c.oldPin) << " " << WideToUtf8(c.newPin);
    EXPECT_FALSE(s.changed);
  }
  EXPECT_EQ(0u, Verify("GDT0011000012", "482915"));  // nothing changed on the token

  Binding missing;
  missing.bindResult = 2;
  PinSubmission s = SubmitPinChange(missing, L"482915", L"Abc123", L"Abc123", ToAnsi);
  EXPECT_EQ(-1, s.message);
  EXPECT_EQ(11, s.status);
  EXPECT_FALSE(s.changed);

  s = SubmitPinChange(bound, L"482915", L"Abc123", L"Abc123", ToAnsi);
  EXPECT_TRUE(s.changed);
  EXPECT_EQ(-1, s.message);
  EXPECT_EQ(54, s.status);
  EXPECT_EQ(0u, Verify("GDT0011000012", "Abc123"));

  // Any other failure of the token: text 53.
  s = SubmitPinChange(bound, L"482915", L"Xyz789", L"Xyz789", ToAnsi);
  EXPECT_EQ(53, s.message);
  EXPECT_EQ(PinField::kNewPin, s.focus);
}

namespace {

class RecordingCertificatePage : public ICertificatePage {
 public:
  void SetStatusText(const std::wstring &t) override { texts.push_back(t); }
  void ShowDownloadButton(bool show) override { button.push_back(show); }
  void OpenDownloadPage() override { ++browsers; }
  WaitResult WaitForCertificate() override {
    ++waits;
    if (onWait) onWait();
    return wait;
  }
  void BringGuideToFront() override { ++fronts; }
  bool Describe(const uint8_t *der, size_t len, CertificateFacts *f) override {
    const unsigned char *p = der;
    X509 *x = d2i_X509(nullptr, &p, long(len));
    if (!x) return false;
    f->subject = Cn(X509_get_subject_name(x));
    f->issuer = Cn(X509_get_issuer_name(x));
    f->notBefore = Date(X509_get0_notBefore(x));
    f->notAfter = Date(X509_get0_notAfter(x));
    X509_free(x);
    return true;
  }
  std::vector<std::wstring> texts;
  std::vector<bool> button;
  int browsers = 0, waits = 0, fronts = 0;
  WaitResult wait = WaitResult::kSignalled;
  std::function<void()> onWait;

 private:
  static std::wstring Cn(X509_NAME *n) { return Utf8ToWide(testcert::commonName(n)); }
  static std::wstring Date(const ASN1_TIME *t) { return Utf8ToWide(testcert::dayText(t, "%d/%02d/%02d")); }
};

}  // namespace

TEST_F(GuideTokenTest, StepThreeWithACertificateAlreadyOnTheToken) {
  AddToken("GDT0011000013");
  AddContainer("GDT0011000013", "bank", "张伟", "");
  Binding bound;
  RecordingCertificatePage page;
  EXPECT_EQ(0, RunCertificateStep(page, bound));
  EXPECT_EQ(0, page.browsers);
  EXPECT_EQ(0, page.waits);
  ASSERT_EQ(2u, page.texts.size());
  EXPECT_EQ(T(18), page.texts[0]);
  EXPECT_EQ(L"Certificate information:\nIssued to: " + Utf8ToWide("张伟") +
                L" \nIssued by: ORV Test CA\nValid: 2026/01/02 - 2028/03/04",
            page.texts[1]);
  EXPECT_EQ((std::vector<bool>{false}), page.button);
}

TEST_F(GuideTokenTest, StepThreeOpensTheBankPageAndWaitsForTheCertificate) {
  AddToken("GDT0011000014");
  Binding bound;
  RecordingCertificatePage page;
  // The provider writes the certificate while the guide waits.
  page.onWait = [&] { AddContainer("GDT0011000014", "bank", "", "Li Na"); };
  {
    InLanguage zh(ui::kSimplifiedChinese);
    EXPECT_EQ(0, RunCertificateStep(page, bound));
    EXPECT_EQ(1, page.browsers);
    EXPECT_EQ(1, page.waits);
    EXPECT_EQ(1, page.fronts);
    EXPECT_EQ((std::vector<bool>{true, false}), page.button);
    ASSERT_EQ(3u, page.texts.size());
    EXPECT_EQ(T(16), page.texts[0]);
    EXPECT_EQ(T(18), page.texts[1]);
    EXPECT_EQ("证书信息如下：\n颁发给：Li Na \n颁发者：ORV Test CA\n有效期：2026/01/02 - 2028/03/04",
              WideToUtf8(page.texts[2]));
  }
}

TEST_F(GuideTokenTest, StepThreeFailures) {
  Binding missing;
  missing.bindResult = 1;
  RecordingCertificatePage p1;
  EXPECT_EQ(1, RunCertificateStep(p1, missing));
  EXPECT_EQ((std::vector<std::wstring>{T(11)}), p1.texts);

  Binding bound;
  RecordingCertificatePage p2;
  EXPECT_EQ(2, RunCertificateStep(p2, bound));  // no token: the read error with its code
  EXPECT_EQ((std::vector<std::wstring>{L"Certificate checking error,code: 0x00000003"}), p2.texts);

  AddToken("GDT0011000015");
  RecordingCertificatePage p3;
  p3.wait = WaitResult::kFailed;
  EXPECT_EQ(1, RunCertificateStep(p3, bound));
  EXPECT_EQ(T(17), p3.texts.back());

  RecordingCertificatePage p4;
  p4.wait = WaitResult::kSuperseded;
  EXPECT_EQ(kStepSuperseded, RunCertificateStep(p4, bound));
  EXPECT_EQ(0, p4.fronts);
  EXPECT_EQ(1u, p4.texts.size());

  // Signalled, but still no certificate (a signal left from an earlier write): not decodable.
  RecordingCertificatePage p5;
  EXPECT_EQ(2, RunCertificateStep(p5, bound));
  EXPECT_EQ(T(19), p5.texts.back());

  // Bytes on the token that are no certificate.
  OnToken("GDT0011000015", [&](UK_DEV_INFO *d) {
    uint8_t tries = 0;
    ASSERT_EQ(0u, zksTokenVerifyUserPin(d, reinterpret_cast<const uint8_t *>("482915"), 6, &tries));
    UK_CONTAINER_INFO ci = objtest::namedContainer("junk");
    ASSERT_EQ(0u, zksTokenNewContainer(d, &ci));
    // Well-formed DER, but a sequence of one octet string rather than a certificate.
    const uint8_t junk[] = {0x30, 0x12, 0x04, 0x10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(0u, zksTokenWriteCert(d, &ci, junk, sizeof junk, 2));
  });
  RecordingCertificatePage p6;
  EXPECT_EQ(2, RunCertificateStep(p6, bound));
  EXPECT_EQ((std::vector<std::wstring>{T(18), T(19)}), p6.texts);
}
