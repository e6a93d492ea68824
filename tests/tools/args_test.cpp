// Command line of ukeytool: commands, options per command, values, and the refusals.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "args.h"

namespace {

using ukt::Cmd;
using ukt::Options;

struct Parsed {
  bool ok;
  Options opt;
  std::string error;
};

Parsed parse(std::initializer_list<const char *> words) {
  std::vector<const char *> argv{"ukeytool"};
  argv.insert(argv.end(), words.begin(), words.end());
  Parsed p;
  p.ok = ukt::parseArgs(static_cast<int>(argv.size()), argv.data(), p.opt, p.error);
  return p;
}

TEST(UkeytoolArgs, CommandsAndSubcommands) {
  EXPECT_EQ(Cmd::List, parse({"list"}).opt.cmd);
  EXPECT_EQ(Cmd::PinChange, parse({"pin", "change"}).opt.cmd);
  EXPECT_EQ(Cmd::PinUnlock, parse({"pin", "unlock"}).opt.cmd);
  EXPECT_EQ(Cmd::DataRead, parse({"data", "read", "3"}).opt.cmd);
  EXPECT_EQ(Cmd::SymDelete, parse({"symkey", "delete", "k1", "--force"}).opt.cmd);
  Parsed p = parse({"export-cert", "My Container", "-o", "c.pem"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(std::vector<std::string>{"My Container"}, p.opt.args);
  EXPECT_EQ("c.pem", p.opt.out);
}

TEST(UkeytoolArgs, UnknownOrIncompleteCommandsAreRefused) {
  Parsed p = parse({"lsit"});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(std::string::npos, p.error.find("unknown command 'lsit'"));
  p = parse({"pin"});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(std::string::npos, p.error.find("needs a subcommand"));
  p = parse({"pin", "reset"});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(std::string::npos, p.error.find("unknown command 'pin reset'"));
  EXPECT_FALSE(parse({}).ok);
}

TEST(UkeytoolArgs, ArgumentCounts) {
  EXPECT_FALSE(parse({"export-cert"}).ok);
  EXPECT_FALSE(parse({"set-label"}).ok);
  EXPECT_FALSE(parse({"set-label", ""}).ok);
  Parsed p = parse({"list", "extra"});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(std::string::npos, p.error.find("'extra'"));
  EXPECT_FALSE(parse({"genkey", "a", "b"}).ok);
}

TEST(UkeytoolArgs, OptionsOutsideTheirCommandAreRefused) {
  Parsed p = parse({"list", "--so"});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(std::string::npos, p.error.find("does not apply to 'list'"));
  EXPECT_FALSE(parse({"format", "--keyspec", "exchange"}).ok);
  EXPECT_FALSE(parse({"sign", "c", "f", "--force"}).ok);
  EXPECT_FALSE(parse({"set-label", "x", "--pin", "1234"}).ok);
  // Global options work before and after the command.
  EXPECT_EQ("2", parse({"-t", "2", "list"}).opt.token);
  EXPECT_EQ("SN1", parse({"show", "--token=SN1"}).opt.token);
  EXPECT_EQ("7", parse({"show", "-t7"}).opt.token);
}

TEST(UkeytoolArgs, OptionValues) {
  EXPECT_FALSE(parse({"list", "--token"}).ok);       // value missing
  EXPECT_FALSE(parse({"list", "--token="}).ok);      // empty value
  EXPECT_FALSE(parse({"list", "--verbose=1"}).ok);   // flag with a value
  EXPECT_FALSE(parse({"list", "-vx"}).ok);           // no grouping
  EXPECT_FALSE(parse({"list", "--nope"}).ok);
  EXPECT_EQ(2, parse({"genkey", "c", "--keyspec", "signature"}).opt.keySpec);
  EXPECT_EQ(1, parse({"genkey", "c", "-s", "1"}).opt.keySpec);
  EXPECT_FALSE(parse({"genkey", "c", "--keyspec", "3"}).ok);
  EXPECT_EQ(2048u, parse({"genkey", "c", "--bits", "2048"}).opt.bits);
  EXPECT_FALSE(parse({"genkey", "c", "--bits", "1536"}).ok);
  EXPECT_EQ(15, parse({"format", "--retries", "15"}).opt.retries);
  EXPECT_FALSE(parse({"format", "--retries", "0"}).ok);
  EXPECT_FALSE(parse({"format", "--retries", "16"}).ok);
  EXPECT_FALSE(parse({"format", "--so-retries", "-1"}).ok);
  EXPECT_FALSE(parse({"format", "--retries", "99999999999"}).ok);
  EXPECT_FALSE(parse({"format", "--force", "--yes"}).ok);  // same option twice
  EXPECT_EQ(0u, parse({"sign", "c", "f", "--wait", "0"}).opt.waitSeconds);
  EXPECT_FALSE(parse({"sign", "c", "f", "--wait", "1e3"}).ok);
}

TEST(UkeytoolArgs, PinSources) {
  Parsed p = parse({"pin", "change", "--pin", "111111", "--pin", "222222"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ((std::vector<std::string>{"111111", "222222"}), p.opt.pins);
  EXPECT_EQ("pins.txt", parse({"pin", "verify", "--pin-file", "pins.txt"}).opt.pinFile);
  EXPECT_TRUE(parse({"pin", "verify", "--pin-stdin"}).opt.pinStdin);
  p = parse({"pin", "verify", "--pin-stdin", "--pin-file", "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(std::string::npos, p.error.find("choose one"));
  EXPECT_FALSE(parse({"pin", "verify", "--pin", "1", "--pin-stdin"}).ok);
}

TEST(UkeytoolArgs, SignTakesTheFileAsArgumentOrOption) {
  Parsed p = parse({"sign", "c", "doc.txt"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ("doc.txt", p.opt.in);
  EXPECT_EQ("doc.txt.sig", p.opt.out);
  EXPECT_EQ(std::vector<std::string>{"c"}, p.opt.args);
  EXPECT_TRUE(p.opt.button);
  p = parse({"sign", "c", "--in", "a", "-o", "b", "--no-button"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ("a", p.opt.in);
  EXPECT_EQ("b", p.opt.out);
  EXPECT_FALSE(p.opt.button);
  EXPECT_FALSE(parse({"sign", "c"}).ok);
  EXPECT_FALSE(parse({"sign", "c", "a", "--in", "b"}).ok);
}

TEST(UkeytoolArgs, OutputFormats) {
  EXPECT_EQ(ukt::OutFormat::Der, parse({"export-cert", "c", "--der", "-o", "x"}).opt.format);
  EXPECT_EQ(ukt::OutFormat::Pem, parse({"export-cert", "c", "--format", "pem"}).opt.format);
  EXPECT_FALSE(parse({"export-cert", "c", "--format", "txt"}).ok);
  EXPECT_FALSE(parse({"export-cert", "c", "--der", "--pem", "-o", "x"}).ok);
  // DER is binary and never goes to the terminal.
  EXPECT_FALSE(parse({"export-pubkey", "c", "--der"}).ok);
}

TEST(UkeytoolArgs, HelpAndVersionWinOverEverythingElse) {
  Parsed p = parse({"sign", "--help"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(Cmd::Help, p.opt.cmd);
  EXPECT_EQ(Cmd::Sign, p.opt.helpFor);
  EXPECT_EQ(Cmd::PinUnlock, parse({"help", "pin", "unlock"}).opt.helpFor);
  EXPECT_EQ(Cmd::Help, parse({"-h"}).opt.cmd);
  EXPECT_EQ(Cmd::Version, parse({"list", "--version"}).opt.cmd);
  EXPECT_FALSE(parse({"help", "nothing"}).ok);
  EXPECT_NE(std::string::npos, ukt::commandHelp(Cmd::Format).find("--force"));
}

TEST(UkeytoolArgs, WritingCommands) {
  Parsed p = parse({"import-cert", "c", "cert.pem", "--keyspec", "sig", "--force"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(Cmd::ImportCert, p.opt.cmd);
  EXPECT_EQ(2, p.opt.keySpec);
  p = parse({"data", "write", "n", "f", "--private", "--id", "x1"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.opt.isPrivate);
  EXPECT_EQ("x1", p.opt.id);
  EXPECT_FALSE(parse({"data", "write", "n", "f", "--id", std::string(80, 'i').c_str()}).ok);
  EXPECT_EQ(5, parse({"symkey", "generate", "k", "--alg", "3des3"}).opt.symAlg);
  EXPECT_EQ(22, parse({"symkey", "generate", "k", "--alg", "22"}).opt.symAlg);
  EXPECT_FALSE(parse({"symkey", "generate", "k"}).ok);           // algorithm required
  EXPECT_FALSE(parse({"symkey", "generate", "k", "--alg", "6"}).ok);
  EXPECT_FALSE(parse({"symkey", "generate", "k", "--alg", "aes"}).ok);
}

TEST(UkeytoolArgs, EverythingAfterDoubleDashIsAnArgument) {
  Parsed p = parse({"set-label", "--", "--odd label"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ("--odd label", p.opt.args[0]);
}

TEST(UkeytoolArgs, ParseUnsigned) {
  uint32_t v = 0;
  EXPECT_TRUE(ukt::parseUnsigned("0", 0, 5, v));
  EXPECT_EQ(0u, v);
  EXPECT_TRUE(ukt::parseUnsigned("4294967295", 0, 0xFFFFFFFFu, v));
  EXPECT_EQ(0xFFFFFFFFu, v);
  EXPECT_FALSE(ukt::parseUnsigned("4294967296", 0, 0xFFFFFFFFu, v));
  EXPECT_FALSE(ukt::parseUnsigned("", 0, 5, v));
  EXPECT_FALSE(ukt::parseUnsigned("+1", 0, 5, v));
  EXPECT_FALSE(ukt::parseUnsigned(" 1", 0, 5, v));
  EXPECT_FALSE(ukt::parseUnsigned("6", 0, 5, v));
}

}  // namespace
