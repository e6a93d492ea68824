// The Windows binaries as built: the token library's export table, binding by name the way the
// guide does, and the rule that no deliverable imports a function Windows 2000 lacks.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

#include "late_bound.h"
#include "pe_image.h"

namespace {

std::string binDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of('\\') + 1);
}

std::vector<std::string> expectedExports() {
  std::ifstream f(UK_EXPORTS_LIST);
  std::vector<std::string> names;
  for (std::string line; std::getline(f, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

TEST(TokenLibraryExports, ExactlyTheSeventyUndecoratedNames) {
  PeImage img = readPeImage(binDir() + "ORV_KELM_Q57Tokenlib.dll");
  ASSERT_TRUE(img.ok);
  EXPECT_TRUE(img.is32);
  std::vector<std::string> want = expectedExports();
  ASSERT_EQ(70u, want.size());
  std::vector<std::string> got = img.exports;
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(want, got);
  for (const std::string &n : got) EXPECT_EQ(std::string::npos, n.find('@')) << n;
  EXPECT_EQ("ORV_KELM_Q57Tokenlib.dll", img.exportModuleName);
}

TEST(TokenLibraryExports, SharedBodiesShareOneEntryPoint) {
  HMODULE lib = LoadLibraryA("ORV_KELM_Q57Tokenlib.dll");
  ASSERT_NE(nullptr, lib);
  const char *pairs[][2] = {{"zksTokenEstablishContext", "zksTokenReleaseContext"},
                            {"zksTokenSelectDF", "zksTokenSelectEF"},
                            {"zksTokenSelectContainerInfoEF", "zksTokenSelectObjectEF"},
                            {"zksTokenGetDeviceConfigInfo", "zksTokenModifyDeviceConfigInfo"},
                            {"zksTokenHashFinal", "zksTokenUpdate"}};
  for (auto &p : pairs)
    EXPECT_EQ((void *)GetProcAddress(lib, p[0]), (void *)GetProcAddress(lib, p[1])) << p[0];
  FreeLibrary(lib);
}

TEST(TokenLibraryExports, GuideBindsItsThirteenNamesByGetProcAddress) {
  HMODULE lib = LoadLibraryA((binDir() + "ORV_KELM_Q57Tokenlib.dll").c_str());
  ASSERT_NE(nullptr, lib);
  const char *names[] = {"zksTokenEstablishContext", "zksTokenReleaseContext",
                         "zksTokenListDevices",      "zksTokenConnect",
                         "zksTokenDisconnect",       "zksTokenSelectMF",
                         "zksTokenSelectPkiWorkDF",  "zksTokenModifyUserPin",
                         "zksTokenVerifyUserPin",    "zksTokenGetDeviceInfo",
                         "zksTokenGetSn",            "zksTokenListContainers",
                         "zksTokenReadCert"};
  for (const char *n : names) EXPECT_NE(nullptr, (void *)GetProcAddress(lib, n)) << n;
  // A stdcall entry bound by name is callable with the declared argument list.
  typedef uint32_t(__stdcall * Establish)(void);
  auto establish = reinterpret_cast<Establish>(GetProcAddress(lib, "zksTokenEstablishContext"));
  ASSERT_NE(nullptr, establish);
  EXPECT_EQ(0u, establish());
  FreeLibrary(lib);
}

TEST(Deliverables, NoneImportsAFunctionWindows2000Lacks) {
  const char *deliverables[] = {"ORV_KELM_Q57Tokenlib.dll", "ORV_KELM_KeySrv.exe",
                                "ORV_KELM_csp.dll", "ORV_KELM_Client.exe", "ORV_Guide.exe",
                                "ukeytool.exe"};
  std::set<std::string> banned(std::begin(kLateBoundFunctions), std::end(kLateBoundFunctions));
  int checked = 0;
  for (const char *d : deliverables) {
    PeImage img = readPeImage(binDir() + d);
    if (!img.ok) continue;  // not built in this tree yet
    ++checked;
    for (const PeImport &imp : img.imports) {
      EXPECT_EQ(0u, banned.count(imp.function)) << d << " imports " << imp.dll << "!" << imp.function;
      std::string dll = imp.dll;
      std::transform(dll.begin(), dll.end(), dll.begin(), ::tolower);
      // Nothing of the compiler runtime may have to ship beside the deliverables.
      EXPECT_EQ(std::string::npos, dll.find("libstdc++")) << d;
      EXPECT_EQ(std::string::npos, dll.find("libgcc")) << d;
      EXPECT_EQ(std::string::npos, dll.find("winpthread")) << d;
    }
  }
  EXPECT_GE(checked, 1);
}

}  // namespace
