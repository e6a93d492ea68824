// How every test program ends. GoogleTest's own main returns 0 when no case failed, so a program
// whose cases all skipped themselves (GTEST_SKIP: a Windows version or a tree where they cannot
// run) would count as passed. Here such a program ends with kSkippedExitCode, which ctest counts
// as skipped (uk_add_test sets it as the skip return code). The skip is decided by the program's
// result, not by matching its output: ctest's skip pattern would win even over a failure or a
// crash printed after a skipped case.
//
// A program with passed and skipped cases counts as passed (what passed was verified), and says
// how many cases it skipped on a line of its own, which scripts/test.sh adds up and reports.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>

namespace uktest {

constexpr int kSkippedExitCode = 77;

inline int finish(int result) {
  const testing::UnitTest &u = *testing::UnitTest::GetInstance();
  if (result != 0 || u.failed_test_count() > 0) return result ? result : 1;
  int skipped = u.skipped_test_count();
  if (skipped > 0 && u.successful_test_count() == 0) return kSkippedExitCode;
  if (skipped > 0) printf("uk-test: passed with %d skipped\n", skipped);
  return 0;
}

inline int runAll(int *argc, char **argv) {
  testing::InitGoogleTest(argc, argv);
  return finish(RUN_ALL_TESTS());
}

}  // namespace uktest
