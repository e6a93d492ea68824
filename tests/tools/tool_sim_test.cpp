// Command logic of ukeytool natively, under the sanitizers, against the token emulator run
// in-process (the natively built library reaches it through UK_VIRTUAL_TOKEN): console PIN
// entry, confirmations, the button wait and Ctrl+C, and what each refusal leaves on the token.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "script_platform.h"
#include "sim_server.h"
#include "tool.h"

namespace {

tokensim::Registry *g_reg = nullptr;

class SimEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    dir_ = testing::TempDir() + "ukeytool_sim_" + std::to_string(getpid());
    mkdir(dir_.c_str(), 0700);
    reg_ = std::make_unique<tokensim::Registry>(dir_);
    server_ = std::make_unique<tokensim::Server>(*reg_);
    std::string err;
    ASSERT_TRUE(server_->start(0, &err)) << err;
    std::string addr = "127.0.0.1:" + std::to_string(server_->port());
    setenv("UK_VIRTUAL_TOKEN", addr.c_str(), 1);
    g_reg = reg_.get();
  }
  void TearDown() override {
    server_->stop();
    g_reg = nullptr;
  }

 private:
  std::string dir_;
  std::unique_ptr<tokensim::Registry> reg_;
  std::unique_ptr<tokensim::Server> server_;
};
testing::Environment *const g_env = testing::AddGlobalTestEnvironment(new SimEnvironment);

// Raises the platform's Ctrl+C flag after a number of sleeps (the 100 ms polls of a signature).
class ClockPlatform : public ScriptPlatform {
 public:
  int interruptAfterSleeps = -1;
  int sleeps = 0;
  bool realTime = false;
  void sleepMs(uint32_t ms) override {
    ScriptPlatform::sleepMs(ms);
    if (realTime) usleep(ms * 1000);
    if (++sleeps == interruptAfterSleeps) interruptNow = true;
  }
};

class UkeytoolSim : public testing::Test {
 protected:
  void SetUp() override {
    serial_ = std::string("UKSIMT1") + std::to_string(counter_++);
    std::string answer = g_reg->control("create " + serial_ + " button=auto delay=0");
    ASSERT_EQ(0u, answer.find("ok")) << answer;
  }
  void TearDown() override { g_reg->control("delete " + serial_); }

  int run(ScriptPlatform &pf, std::initializer_list<const char *> words) {
    std::vector<const char *> argv{"ukeytool", "-t", serial_.c_str()};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.push_back(nullptr);
    return ukt::runTool(static_cast<int>(argv.size() - 1), argv.data(), pf);
  }

  std::string serial_;
  static int counter_;
};
int UkeytoolSim::counter_ = 100;

TEST_F(UkeytoolSim, ConsolePinEntryAsksTwiceForANewPinAndRefusesAMismatch) {
  ScriptPlatform pf;
  pf.consoleLines = {"482915", "135790", "135791"};
  EXPECT_EQ(ukt::kExitUsage, run(pf, {"pin", "change"}));
  EXPECT_NE(std::string::npos, pf.errText.find("differ"));
  ASSERT_EQ(3u, pf.prompts.size());
  EXPECT_EQ("Enter the new user PIN again: ", pf.prompts[2]);
  // Nothing changed: the old PIN still works.
  ScriptPlatform check;
  check.consoleLines = {"482915"};
  EXPECT_EQ(ukt::kExitOk, run(check, {"pin", "verify"}));
  EXPECT_EQ(check.locks, check.unlocks);
}

TEST_F(UkeytoolSim, DeclinedFormatChangesNothing) {
  ScriptPlatform pf;
  pf.consoleLines = {"482915"};
  ASSERT_EQ(ukt::kExitOk, run(pf, {"genkey", "keep"}));
  ScriptPlatform no;
  no.consoleLines = {"no"};
  EXPECT_EQ(ukt::kExitCancelled, run(no, {"format"}));
  EXPECT_NE(std::string::npos, no.errText.find("nothing was changed"));
  ScriptPlatform show;
  ASSERT_EQ(ukt::kExitOk, run(show, {"show"}));
  EXPECT_NE(std::string::npos, show.outText.find("[1] keep"));
}

TEST_F(UkeytoolSim, FormatWithNewPinsFromAFile) {
  ScriptPlatform pf;
  pf.files["pins"] = {'2', '4', '6', '8', '0', '2', '\r', '\n', '9', '7', '5', '3', '1', '1', '\n'};
  EXPECT_EQ(ukt::kExitOk, run(pf, {"format", "--force", "--set-pins", "--pin-file", "pins",
                                   "--retries", "3"}));
  ScriptPlatform bad;
  bad.consoleLines = {"482915"};
  EXPECT_EQ(ukt::kExitPin, run(bad, {"pin", "verify"}));
  EXPECT_NE(std::string::npos, bad.errText.find("2 tries left"));
  ScriptPlatform user;
  user.consoleLines = {"246802"};
  EXPECT_EQ(ukt::kExitOk, run(user, {"pin", "verify"}));
  ScriptPlatform so;
  so.consoleLines = {"975311"};
  EXPECT_EQ(ukt::kExitOk, run(so, {"pin", "verify", "--so"}));
}

TEST_F(UkeytoolSim, SignatureWaitsForTheButtonAndPollsEvery100ms) {
  g_reg->control("button " + serial_ + " auto 250");
  ClockPlatform pf;
  pf.realTime = true;
  pf.consoleLines = {"482915", "482915"};
  pf.files["doc"] = {'a', 'b', 'c'};
  ASSERT_EQ(ukt::kExitOk, run(pf, {"genkey", "s"}));
  ASSERT_EQ(ukt::kExitOk, run(pf, {"sign", "s", "doc"}));
  EXPECT_NE(std::string::npos, pf.outText.find("Press the button"));
  ASSERT_EQ(1u, pf.files.count("doc.sig"));
  EXPECT_EQ(128u, pf.files["doc.sig"].size());
  EXPECT_GT(pf.slept, 0u);
  EXPECT_EQ(0u, pf.slept % 100);
}

TEST_F(UkeytoolSim, CtrlCCancelsAWaitingSignatureOnTheToken) {
  g_reg->control("button " + serial_ + " never");
  ClockPlatform pf;
  pf.consoleLines = {"482915", "482915"};
  pf.files["doc"] = {'x'};
  pf.interruptAfterSleeps = 3;
  ASSERT_EQ(ukt::kExitOk, run(pf, {"genkey", "s"}));
  g_reg->control("trace-clear " + serial_);
  EXPECT_EQ(ukt::kExitCancelled, run(pf, {"sign", "s", "doc"}));
  EXPECT_NE(std::string::npos, pf.errText.find("signature cancelled"));
  EXPECT_EQ(0u, pf.files.count("doc.sig"));
  std::string trace = g_reg->control("trace " + serial_);
  EXPECT_NE(std::string::npos, trace.find("> 00540000")) << trace;
  EXPECT_EQ(3, pf.sleeps);
  EXPECT_EQ(pf.locks, pf.unlocks);
}

TEST_F(UkeytoolSim, ReadsAskForThePinOnlyWhenTheTokenWantsIt) {
  ScriptPlatform pf;
  pf.consoleLines = {"482915"};
  pf.files["obj"] = {1, 2, 3};
  ASSERT_EQ(ukt::kExitOk, run(pf, {"data", "write", "open", "obj"}));
  ScriptPlatform reader;
  EXPECT_EQ(ukt::kExitOk, run(reader, {"data", "read", "open", "-o", "back"}));
  EXPECT_TRUE(reader.prompts.empty());
  EXPECT_EQ(pf.files["obj"], reader.files["back"]);
}

TEST_F(UkeytoolSim, WritingToAMissingFolderFailsCleanly) {
  ScriptPlatform pf;
  pf.consoleLines = {"482915"};
  ASSERT_EQ(ukt::kExitOk, run(pf, {"genkey", "k"}));
  EXPECT_EQ(ukt::kExitFailed, run(pf, {"export-pubkey", "k", "-o", "/nonexistent/pub.pem"}));
  EXPECT_NE(std::string::npos, pf.errText.find("cannot write '/nonexistent/pub.pem'"));
  EXPECT_EQ(pf.locks, pf.unlocks);
}

}  // namespace
