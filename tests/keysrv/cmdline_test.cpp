// The command line's parameter error text as the program writes it: converted to the system's
// ANSI code page (run once in the default locale and once in a Chinese one).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "keysrv_core.h"
#include "run_program.h"

namespace {

using testrun::binDir;
using testrun::onConsole;
using testrun::run;
using testrun::RunResult;

TEST(CommandLineTexts, ParameterErrorInTheAnsiCodePage) {
  for (const char *args : {"-x", "-i -d", "/i", "-D"}) {
    RunResult r = run("\"" + binDir() + "ORV_KELM_KeySrv.exe\" " + args);
    char ansi[128];
    int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t *>(uk::keysrv::kParamError),
                                -1, ansi, sizeof(ansi), nullptr, nullptr);
    ASSERT_GT(n, 1);
    EXPECT_EQ(onConsole(std::string(ansi, n - 1)), r.out) << args;
    EXPECT_EQ(0u, r.exitCode) << args;
  }
#ifdef UK_EXPECT_ACP_936
  // In a Chinese locale the full-width commas are the GBK pair A3 AC.
  ASSERT_EQ(936u, GetACP());
  RunResult r = run("\"" + binDir() + "ORV_KELM_KeySrv.exe\" -x");
  EXPECT_EQ(onConsole("Error parameter\xA3\xAC-i install\xA3\xAC-d delete\n"), r.out);
#endif
}


}  // namespace
