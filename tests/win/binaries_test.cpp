// The token library as Windows loads it: entries that share one body, and binding by name the
// way the guide does. (The files themselves are checked natively by deliverables_pe_test.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string binDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of('\\') + 1);
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
  auto establish = reinterpret_cast<Establish>(
      reinterpret_cast<void *>(GetProcAddress(lib, "zksTokenEstablishContext")));
  ASSERT_NE(nullptr, establish);
  EXPECT_EQ(0u, establish());
  FreeLibrary(lib);
}

}  // namespace
