// Command logic of ukeytool with a scripted console, against the natively built token library
// with no token attached: refusals that must happen before, or without, any token.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "script_platform.h"
#include "tool.h"

namespace {

int run(ScriptPlatform &pf, std::initializer_list<const char *> words) {
  std::vector<const char *> argv{"ukeytool"};
  argv.insert(argv.end(), words.begin(), words.end());
  argv.push_back(nullptr);
  return ukt::runTool(static_cast<int>(argv.size() - 1), argv.data(), pf);
}

TEST(UkeytoolCommands, BadCommandLinesExitWith2BeforeTouchingTheDevice) {
  ScriptPlatform pf;
  EXPECT_EQ(ukt::kExitUsage, run(pf, {"frobnicate"}));
  EXPECT_NE(std::string::npos, pf.errText.find("unknown command 'frobnicate'"));
  EXPECT_NE(std::string::npos, pf.errText.find("--help"));
  EXPECT_EQ(ukt::kExitUsage, run(pf, {"format", "--retries", "20"}));
  EXPECT_EQ(0, pf.locks);
  EXPECT_TRUE(pf.outText.empty());
}

TEST(UkeytoolCommands, HelpAndVersionGoToStandardOutput) {
  ScriptPlatform pf;
  EXPECT_EQ(ukt::kExitOk, run(pf, {"--help"}));
  EXPECT_NE(std::string::npos, pf.outText.find("Usage: ukeytool"));
  EXPECT_NE(std::string::npos, pf.outText.find("Exit status"));
  pf.outText.clear();
  EXPECT_EQ(ukt::kExitOk, run(pf, {"help", "sign"}));
  EXPECT_NE(std::string::npos, pf.outText.find("SHA-1"));
  pf.outText.clear();
  EXPECT_EQ(ukt::kExitOk, run(pf, {"--version"}));
  EXPECT_EQ(std::string(ukt::toolVersion()) + "\n", pf.outText);
  EXPECT_TRUE(pf.errText.empty());
}

TEST(UkeytoolCommands, SigningAMissingFileFailsBeforeThePinIsAskedFor) {
  ScriptPlatform pf;
  pf.consoleLines = {"482915"};
  EXPECT_EQ(ukt::kExitFailed, run(pf, {"sign", "c", "missing.txt"}));
  EXPECT_NE(std::string::npos, pf.errText.find("cannot read 'missing.txt'"));
  EXPECT_TRUE(pf.prompts.empty());
  EXPECT_EQ(0, pf.locks);
}

TEST(UkeytoolCommands, MissingPinFileIsAnErrorNotAnEmptyPin) {
  ScriptPlatform pf;
  EXPECT_EQ(ukt::kExitFailed, run(pf, {"pin", "verify", "--pin-file", "nope.txt"}));
  EXPECT_NE(std::string::npos, pf.errText.find("cannot read the PIN file 'nope.txt'"));
  EXPECT_EQ(0, pf.locks);
}

TEST(UkeytoolCommands, NoTokenAttached) {
  ScriptPlatform pf;
  EXPECT_EQ(ukt::kExitOk, run(pf, {"list"}));
  EXPECT_EQ("No token attached.\n", pf.outText);
  EXPECT_EQ(ukt::kExitToken, run(pf, {"show"}));
  EXPECT_NE(std::string::npos, pf.errText.find("no token attached"));
  pf.errText.clear();
  EXPECT_EQ(ukt::kExitToken, run(pf, {"-t", "3", "pin", "verify"}));
  EXPECT_NE(std::string::npos, pf.errText.find("no token number 3 (0 attached)"));
  pf.errText.clear();
  EXPECT_EQ(ukt::kExitToken, run(pf, {"-t", "SN-UNKNOWN", "show"}));
  EXPECT_NE(std::string::npos, pf.errText.find("no token with serial number 'SN-UNKNOWN'"));
  // Every run took the device mutex once and gave it back.
  EXPECT_EQ(4, pf.locks);
  EXPECT_EQ(pf.locks, pf.unlocks);
}

TEST(UkeytoolCommands, LabelLimitsAreCheckedBeforeTheToken) {
  ScriptPlatform pf;
  EXPECT_EQ(ukt::kExitUsage, run(pf, {"set-label", std::string(65, 'x').c_str()}));
  EXPECT_NE(std::string::npos, pf.errText.find("1 to 64 bytes"));
  EXPECT_EQ(ukt::kExitUsage, run(pf, {"format", "--label", std::string(64, 'x').c_str()}));
  EXPECT_EQ(0, pf.locks);
}

TEST(UkeytoolCommands, ABriefHoldOfTheDeviceMutexIsWaitedForSilently) {
  ScriptPlatform pf;
  EXPECT_EQ(ukt::kExitOk, run(pf, {"list"}));
  EXPECT_EQ(std::vector<uint32_t>{1000}, pf.lockWaits);
  EXPECT_EQ(std::string::npos, pf.errText.find("waiting"));
}

TEST(UkeytoolCommands, ALongHoldIsAnnouncedOnceAndTheToolGoesOnWhenItEnds) {
  ScriptPlatform pf;
  pf.busyLocks = 5;
  EXPECT_EQ(ukt::kExitOk, run(pf, {"list"}));
  EXPECT_EQ("ukeytool: waiting for another program using the token...\n", pf.errText);
  EXPECT_EQ("No token attached.\n", pf.outText);
  EXPECT_EQ((std::vector<uint32_t>{1000, 250, 250, 250, 250, 250}), pf.lockWaits);
  EXPECT_EQ(1, pf.locks);
  EXPECT_EQ(1, pf.unlocks);
}

TEST(UkeytoolCommands, CtrlCEndsTheWaitForTheDeviceMutex) {
  ScriptPlatform pf;
  pf.busyLocks = 1000000;
  pf.interruptAfter = 8;  // two seconds into the wait
  pf.files["f.txt"] = {'x'};
  pf.consoleLines = {"482915"};
  EXPECT_EQ(ukt::kExitCancelled, run(pf, {"-t", "1", "sign", "c", "f.txt"}));
  EXPECT_EQ(0u, pf.errText.find("ukeytool: waiting for another program using the token...\n"));
  EXPECT_NE(std::string::npos, pf.errText.find("cancelled"));
  EXPECT_EQ(8u, pf.lockWaits.size());
  // It never held the mutex, asked for no PIN and wrote nothing.
  EXPECT_EQ(0, pf.locks);
  EXPECT_EQ(0, pf.unlocks);
  EXPECT_TRUE(pf.prompts.empty());
  EXPECT_TRUE(pf.outText.empty());
}

TEST(UkeytoolCommands, CtrlCJustAsTheMutexComesFreeStillCancels) {
  ScriptPlatform pf;
  pf.busyLocks = 3;
  pf.interruptAfter = 4;  // pressed during the attempt that gets the mutex
  EXPECT_EQ(ukt::kExitCancelled, run(pf, {"list"}));
  EXPECT_EQ(1, pf.locks);
  EXPECT_EQ(1, pf.unlocks) << "the mutex is given back";
  EXPECT_TRUE(pf.outText.empty());
}

TEST(UkeytoolCommands, TheWaitForTheDeviceMutexIsBounded) {
  ScriptPlatform pf;
  pf.busyLocks = 1000000;
  EXPECT_EQ(ukt::kExitFailed, run(pf, {"show"}));
  uint32_t total = 0;
  for (uint32_t ms : pf.lockWaits) total += ms;
  EXPECT_EQ(120000u, total);
  EXPECT_NE(std::string::npos,
            pf.errText.find("another program is still using the token after 120 seconds"));
  EXPECT_EQ(0, pf.locks);
}

}  // namespace
