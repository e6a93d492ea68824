// Cases with a known outcome, run in chosen sets by outcome_test.sh to check how a test program
// ends (uk_test_main.h): the exit code decides whether ctest counts it passed, failed or skipped.
#include <gtest/gtest.h>

#include <cstdlib>

TEST(Outcome, Passes) { SUCCEED(); }
TEST(Outcome, Skips) { GTEST_SKIP() << "not here"; }
TEST(Outcome, Fails) { ADD_FAILURE() << "on purpose"; }
TEST(Outcome, Crashes) { std::abort(); }
