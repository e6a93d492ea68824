// The Windows binaries of both trees as built, read as files (natively, so the check runs on
// every machine whether or not it can start the tree under Wine): each expected deliverable is
// there and of its tree's architecture, the token library exports exactly its undecorated names
// under its own module name, and no deliverable (nor the setup's helper program) imports a
// function Windows 2000 lacks or a compiler-runtime DLL.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "late_bound.h"
#include "pe_image.h"

namespace {

struct Tree {
  const char *name;
  bool pe32;
  uint16_t machine;
};
const Tree kTrees[] = {{"win", true, 0x14C}, {"win64", false, 0x8664}};

std::string binDir(const Tree &t) { return std::string(UK_BUILD_ROOT) + "/" + t.name + "/bin/"; }

std::vector<std::string> lines(const std::string &path) {
  std::ifstream f(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(f, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

// The deliverables a tree's build declares, and every binary of the tree that must run on all
// supported Windows versions (both lists written by its CMake configuration).
std::vector<std::string> deliverables(const Tree &t) {
  return lines(std::string(UK_BUILD_ROOT) + "/" + t.name + "/deliverables.txt");
}
std::vector<std::string> win32RuntimeBinaries(const Tree &t) {
  return lines(std::string(UK_BUILD_ROOT) + "/" + t.name + "/win32-runtime.txt");
}

class EachTree : public ::testing::TestWithParam<Tree> {};

TEST_P(EachTree, EveryDeclaredDeliverableIsBuiltForTheTreesArchitecture) {
  const Tree &t = GetParam();
  std::vector<std::string> names = deliverables(t);
  ASSERT_FALSE(names.empty()) << "no deliverables.txt in build/" << t.name
                              << ": build the Windows trees first (scripts/build.sh win win64)";
  for (const char *must : {"ORV_KELM_Q57Tokenlib.dll", "ORV_KELM_KeySrv.exe"})
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), must)) << must;
  // The support tool is built and checked, but customers do not get it.
  EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "ukeytool.exe"));
  std::vector<std::string> all = win32RuntimeBinaries(t);
  for (const char *must : {"ORV_KELM_Q57Tokenlib.dll", "ukeytool.exe", "uk_setup_helper.exe"})
    EXPECT_NE(all.end(), std::find(all.begin(), all.end(), must)) << must;
  names.insert(names.end(), all.begin(), all.end());
  for (const std::string &n : names) {
    PeImage img = readPeImage(binDir(t) + n);
    ASSERT_TRUE(img.ok) << binDir(t) << n << " is missing or not a PE file";
    EXPECT_EQ(t.pe32, img.is32) << n;
    EXPECT_EQ(t.machine, img.machine) << n;
  }
}

TEST_P(EachTree, TokenLibraryExportsExactlyTheSeventyUndecoratedNames) {
  const Tree &t = GetParam();
  PeImage img = readPeImage(binDir(t) + "ORV_KELM_Q57Tokenlib.dll");
  ASSERT_TRUE(img.ok);
  std::vector<std::string> want = lines(UK_EXPORTS_LIST);
  ASSERT_EQ(70u, want.size());
  std::vector<std::string> got = img.exports;
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(want, got);
  for (const std::string &n : got) EXPECT_EQ(std::string::npos, n.find('@')) << n;
  EXPECT_EQ("ORV_KELM_Q57Tokenlib.dll", img.exportModuleName);
}

TEST_P(EachTree, NoDeliverableImportsALateBoundFunctionOrARuntimeDll) {
  const Tree &t = GetParam();
  std::set<std::string> banned(std::begin(kLateBoundFunctions), std::end(kLateBoundFunctions));
  std::vector<std::string> names = win32RuntimeBinaries(t);
  ASSERT_FALSE(names.empty());
  for (const std::string &d : names) {
    PeImage img = readPeImage(binDir(t) + d);
    ASSERT_TRUE(img.ok) << d;
    EXPECT_FALSE(img.imports.empty()) << d;
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
}

INSTANTIATE_TEST_SUITE_P(Trees, EachTree, ::testing::ValuesIn(kTrees),
                         [](const ::testing::TestParamInfo<Tree> &i) { return std::string(i.param.name); });

}  // namespace
