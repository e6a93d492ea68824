// The provider DLL of both Windows trees as built, read as a file: module name "zkscsp.dll" in the
// export directory, exactly the 25 CP* entry points and zksGetCode with undecorated names, the
// tree's architecture, and the token library bound through the import table.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "../win/pe_image.h"

namespace {

// The export names of the .def (the part before "=").
std::vector<std::string> defNames() {
  std::ifstream f(UK_CSP_DEF);
  std::vector<std::string> names;
  for (std::string line; std::getline(f, line);) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    size_t start = line.find_first_not_of(' ');
    names.push_back(line.substr(start, eq - start));
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Tree {
  const char *name;
  bool pe32;
};

class ProviderDll : public ::testing::TestWithParam<Tree> {};

TEST_P(ProviderDll, ExportsAndImports) {
  const Tree &t = GetParam();
  PeImage img = readPeImage(std::string(UK_BUILD_ROOT) + "/" + t.name + "/bin/ORV_KELM_csp.dll");
  ASSERT_TRUE(img.ok) << "build/" << t.name << "/bin/ORV_KELM_csp.dll is missing: build the Windows "
                      << "trees first (scripts/build.sh win win64)";
  EXPECT_EQ(t.pe32, img.is32);
  EXPECT_EQ("zkscsp.dll", img.exportModuleName);
  std::vector<std::string> want = defNames();
  ASSERT_EQ(26u, want.size());
  std::vector<std::string> got = img.exports;
  std::sort(got.begin(), got.end());
  EXPECT_EQ(want, got);
  bool tokenLibrary = false;
  for (const PeImport &i : img.imports) {
    tokenLibrary = tokenLibrary || i.dll == "ORV_KELM_Q57Tokenlib.dll";
    EXPECT_EQ(std::string::npos, i.dll.find("libstdc++")) << i.dll;
    EXPECT_EQ(std::string::npos, i.dll.find("libwinpthread")) << i.dll;
  }
  EXPECT_TRUE(tokenLibrary);
}

INSTANTIATE_TEST_SUITE_P(BothTrees, ProviderDll,
                         ::testing::Values(Tree{"win", true}, Tree{"win64", false}),
                         [](const ::testing::TestParamInfo<Tree> &i) { return std::string(i.param.name); });

}  // namespace
