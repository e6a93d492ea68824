#include "args.h"

#include <string.h>

namespace ukt {
namespace {

enum : uint32_t {
  O_TOKEN = 1u << 0,
  O_PIN = 1u << 1,
  O_PINFILE = 1u << 2,
  O_PINSTDIN = 1u << 3,
  O_SO = 1u << 4,
  O_FORCE = 1u << 5,
  O_LOGIN = 1u << 6,
  O_LABEL = 1u << 7,
  O_SETPINS = 1u << 8,
  O_RETRIES = 1u << 9,
  O_SORETRIES = 1u << 10,
  O_KEYSPEC = 1u << 11,
  O_BITS = 1u << 12,
  O_IN = 1u << 13,
  O_OUT = 1u << 14,
  O_DER = 1u << 15,
  O_PEM = 1u << 16,
  O_FORMAT = 1u << 17,
  O_NOBUTTON = 1u << 18,
  O_WAIT = 1u << 19,
  O_VERBOSE = 1u << 20,
  O_HELP = 1u << 21,
  O_VERSION = 1u << 22,
  O_ID = 1u << 23,
  O_PRIVATE = 1u << 24,
  O_ALG = 1u << 25,
};
const uint32_t kPinSource = O_PIN | O_PINFILE | O_PINSTDIN;
const uint32_t kAlways = O_HELP | O_VERBOSE | O_TOKEN;

struct OptDef {
  const char *longName;
  char shortName;
  bool takesValue;
  uint32_t bit;
};

const OptDef kOpts[] = {
    {"token", 't', true, O_TOKEN},      {"pin", 0, true, O_PIN},
    {"pin-file", 0, true, O_PINFILE},   {"pin-stdin", 0, false, O_PINSTDIN},
    {"so", 0, false, O_SO},             {"force", 'f', false, O_FORCE},
    {"yes", 'y', false, O_FORCE},       {"login", 0, false, O_LOGIN},
    {"label", 0, true, O_LABEL},        {"set-pins", 0, false, O_SETPINS},
    {"retries", 0, true, O_RETRIES},    {"so-retries", 0, true, O_SORETRIES},
    {"keyspec", 's', true, O_KEYSPEC},        {"bits", 0, true, O_BITS},
    {"in", 'i', true, O_IN},            {"out", 'o', true, O_OUT},
    {"der", 0, false, O_DER},           {"pem", 0, false, O_PEM},
    {"format", 0, true, O_FORMAT},      {"no-button", 0, false, O_NOBUTTON},
    {"wait", 0, true, O_WAIT},          {"verbose", 'v', false, O_VERBOSE},
    {"help", 'h', false, O_HELP},       {"version", 0, false, O_VERSION},
    {"id", 0, true, O_ID},              {"private", 0, false, O_PRIVATE},
    {"alg", 0, true, O_ALG},
};

struct CmdDef {
  const char *word1;
  const char *word2;  // subcommand or null
  Cmd cmd;
  uint32_t allowed;
  int minArgs, maxArgs;
  const char *synopsis;
  const char *help;
};

const CmdDef kCmds[] = {
    {"list", nullptr, Cmd::List, 0, 0, 0, "list",
     "Lists the attached tokens: index, display name, serial number, label, COS version and\n"
     "PIN state (factory default PIN still set, user PIN locked). With -t only that token.\n"},
    {"show", nullptr, Cmd::Show, O_LOGIN | kPinSource, 0, 0, "show",
     "Shows the token's containers with their key pairs and certificates (subject, issuer,\n"
     "serial number, validity), its symmetric keys and its data objects.\n"},
    {"pin", "verify", Cmd::PinVerify, O_SO | kPinSource, 0, 0, "pin verify [--so]",
     "Checks the user PIN (or with --so the administrator PIN) and reports the tries left\n"
     "after a wrong one.\n"},
    {"pin", "change", Cmd::PinChange, O_SO | kPinSource, 0, 0, "pin change [--so]",
     "Changes the user PIN (or with --so the administrator PIN). Asks for the current PIN,\n"
     "then twice for the new one (6 to 10 characters). From a PIN file or standard input:\n"
     "line 1 the current PIN, line 2 the new one.\n"},
    {"pin", "unlock", Cmd::PinUnlock, kPinSource, 0, 0, "pin unlock",
     "Resets a blocked user PIN with the administrator PIN. From a PIN file or standard\n"
     "input: line 1 the administrator PIN, line 2 the new user PIN.\n"},
    {"format", nullptr, Cmd::Format,
     O_FORCE | O_LABEL | O_SETPINS | O_RETRIES | O_SORETRIES | kPinSource, 0, 0,
     "format [--force] [--label TEXT] [--set-pins] [--retries N] [--so-retries N]",
     "Erases everything on the token and rebuilds its file system. Asks for confirmation\n"
     "unless --force is given. By default the token gets its factory PINs (user PIN 937260\n"
     "when the serial number's seventh character is 2, else 482915; administrator PIN\n"
     "70361524; 10 tries each); with --set-pins the new\n"
     "user PIN and administrator PIN are read (PIN file or standard input: line 1 user PIN,\n"
     "line 2 administrator PIN). --retries/--so-retries: tries before blocking, 1 to 15.\n"},
    {"set-label", nullptr, Cmd::SetLabel, 0, 1, 1, "set-label LABEL",
     "Changes the token's label (1 to 64 bytes in the system code page).\n"},
    {"export-cert", nullptr, Cmd::ExportCert, O_KEYSPEC | O_OUT | O_DER | O_PEM | O_FORMAT, 1, 1,
     "export-cert CONTAINER [--keyspec exchange|signature] [-o FILE] [--der|--pem]",
     "Writes a container's certificate to FILE, as DER or PEM (by default PEM when FILE ends\n"
     "in .pem, DER otherwise). Without -o the PEM text goes to standard output. --keyspec is\n"
     "needed only when the container holds two certificates.\n"},
    {"import-cert", nullptr, Cmd::ImportCert, O_KEYSPEC | O_FORCE | kPinSource, 2, 2,
     "import-cert CONTAINER FILE [--keyspec exchange|signature] [--force]",
     "Writes a certificate (DER or PEM) to a container with a key pair. The certificate's\n"
     "public key must be the key pair's; --force replaces a certificate already there (and\n"
     "skips the key check). Needs the user PIN.\n"},
    {"export-pubkey", nullptr, Cmd::ExportPubKey, O_KEYSPEC | O_OUT | O_DER | O_PEM | O_FORMAT, 1, 1,
     "export-pubkey CONTAINER [--keyspec exchange|signature] [-o FILE] [--der|--pem]",
     "Writes a key pair's public key as a SubjectPublicKeyInfo (PEM unless --der), e.g. for\n"
     "\"openssl dgst -sha1 -verify pub.pem -signature file.sig file\".\n"},
    {"genkey", nullptr, Cmd::GenKey, O_KEYSPEC | O_BITS | kPinSource, 1, 1,
     "genkey CONTAINER [--keyspec exchange|signature] [--bits 1024|2048]",
     "Generates an RSA key pair on the token in CONTAINER (created when absent). Needs the\n"
     "user PIN. The default key pair is the exchange pair.\n"},
    {"sign", nullptr, Cmd::Sign,
     O_KEYSPEC | O_IN | O_OUT | O_NOBUTTON | O_WAIT | kPinSource, 1, 2,
     "sign CONTAINER FILE [-o SIGFILE] [--keyspec exchange|signature] [--no-button] [--wait S]",
     "Signs the SHA-1 digest of FILE (PKCS #1 v1.5) with the container's private key and\n"
     "writes the signature, most significant byte first, to SIGFILE (default FILE.sig).\n"
     "Needs the user PIN. The token waits for its button unless --no-button is given; the\n"
     "tool then waits up to --wait seconds (default 120, 0 without limit); Ctrl+C cancels.\n"},
    {"data", "list", Cmd::DataList, O_LOGIN | kPinSource, 0, 0, "data list",
     "Lists the data objects (record, name, ID, private flag).\n"},
    {"data", "read", Cmd::DataRead, O_OUT | O_LOGIN | kPinSource, 1, 1,
     "data read OBJECT [-o FILE]",
     "Reads a data object (OBJECT: record number 1-8 or name). Writes the bytes to FILE, or a\n"
     "hex dump to standard output. Asks for the user PIN if the token requires it.\n"},
    {"data", "write", Cmd::DataWrite, O_ID | O_PRIVATE | kPinSource, 2, 2,
     "data write NAME FILE [--id TEXT] [--private]",
     "Stores FILE (1 to 255 bytes) as a new data object; its ID is --id or the name. Needs\n"
     "the user PIN.\n"},
    {"data", "delete", Cmd::DataDelete, O_FORCE | kPinSource, 1, 1,
     "data delete OBJECT [--force]", "Deletes a data object (needs the user PIN).\n"},
    {"symkey", "list", Cmd::SymList, O_LOGIN | kPinSource, 0, 0, "symkey list",
     "Lists the symmetric keys (record, algorithm, name, ID).\n"},
    {"symkey", "read", Cmd::SymRead, O_OUT | O_LOGIN | kPinSource, 1, 1,
     "symkey read KEY [-o FILE]",
     "Reads a symmetric key's value (KEY: record number 1-8 or name); a hex dump on standard\n"
     "output or the raw bytes to FILE. Asks for the user PIN if the token requires it.\n"},
    {"symkey", "generate", Cmd::SymGenerate, O_ID | O_ALG | kPinSource, 1, 1,
     "symkey generate NAME --alg des|3des2|3des3|NUMBER [--id TEXT]",
     "Has the token generate a symmetric key (des: DES; 3des2/3des3: Triple-DES with 16 or 24\n"
     "key bytes; or an algorithm identifier 1, 2, 20, 21, 22). Its ID is --id or the name.\n"
     "Needs the user PIN.\n"},
    {"symkey", "delete", Cmd::SymDelete, O_FORCE | kPinSource, 1, 1,
     "symkey delete KEY [--force]", "Deletes a symmetric key (needs the user PIN).\n"},
    {"help", nullptr, Cmd::Help, 0, 0, 2, "help [COMMAND]", "Shows the help of a command.\n"},
};

const OptDef *findLong(const std::string &name) {
  for (const OptDef &o : kOpts)
    if (name == o.longName) return &o;
  return nullptr;
}
const OptDef *findShort(char c) {
  for (const OptDef &o : kOpts)
    if (o.shortName == c) return &o;
  return nullptr;
}

const CmdDef *findCmd(Cmd cmd) {
  for (const CmdDef &c : kCmds)
    if (c.cmd == cmd) return &c;
  return nullptr;
}

bool hasSubcommands(const std::string &word) {
  for (const CmdDef &c : kCmds)
    if (word == c.word1 && c.word2) return true;
  return false;
}

bool isKnownWord(const std::string &word) {
  for (const CmdDef &c : kCmds)
    if (word == c.word1) return true;
  return false;
}

const CmdDef *lookup(const std::string &w1, const std::string &w2) {
  for (const CmdDef &c : kCmds) {
    if (w1 != c.word1) continue;
    if (!c.word2 || w2 == c.word2) return &c;
  }
  return nullptr;
}

std::string optDisplay(const OptDef &o) { return std::string("--") + o.longName; }

bool parseKeySpec(const std::string &v, int &keySpec) {
  if (v == "1" || v == "exchange" || v == "ex" || v == "x") return keySpec = 1, true;
  if (v == "2" || v == "signature" || v == "sig" || v == "s") return keySpec = 2, true;
  return false;
}

struct Given {
  const OptDef *def;
  std::string value;
};

}  // namespace

bool parseUnsigned(const std::string &text, uint32_t lo, uint32_t hi, uint32_t &value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v < lo || v > hi) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool parseArgs(int argc, const char *const *argv, Options &opt, std::string &error) {
  opt = Options();
  std::vector<std::string> words;
  std::vector<Given> given;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i] ? argv[i] : "";
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      words.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    const OptDef *def = nullptr;
    std::string value;
    bool haveValue = false;
    if (a[1] == '-') {
      std::string name = a.substr(2);
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        haveValue = true;
      }
      def = findLong(name);
      if (!def) {
        error = "unknown option '--" + name + "'";
        return false;
      }
      if (haveValue && !def->takesValue) {
        error = "option '--" + name + "' takes no value";
        return false;
      }
    } else {
      def = findShort(a[1]);
      if (!def) {
        error = std::string("unknown option '-") + a[1] + "'";
        return false;
      }
      if (a.size() > 2) {
        if (!def->takesValue) {
          error = "unknown option '" + a + "' (short options cannot be grouped)";
          return false;
        }
        value = a.substr(2);
        haveValue = true;
      }
    }
    if (def->takesValue && !haveValue) {
      if (i + 1 >= argc || !argv[i + 1]) {
        error = "option '" + optDisplay(*def) + "' needs a value";
        return false;
      }
      value = argv[++i];
    }
    given.push_back({def, value});
  }

  // Help and version are answered whatever else is on the line.
  bool wantHelp = false;
  for (const Given &g : given) {
    if (g.def->bit == O_VERSION) {
      opt.cmd = Cmd::Version;
      return true;
    }
    if (g.def->bit == O_HELP) wantHelp = true;
  }

  if (words.empty()) {
    if (wantHelp) {
      opt.cmd = Cmd::Help;
      return true;
    }
    error = "no command given";
    return false;
  }

  const CmdDef *cmd = nullptr;
  size_t used = 1;
  const std::string &w1 = words[0];
  if (!isKnownWord(w1)) {
    error = "unknown command '" + w1 + "'";
    return false;
  }
  if (hasSubcommands(w1)) {
    if (words.size() < 2) {
      if (wantHelp) {
        opt.cmd = Cmd::Help;
        opt.helpFor = lookup(w1, "list") ? lookup(w1, "list")->cmd : lookup(w1, "verify")->cmd;
        return true;
      }
      error = "'" + w1 + "' needs a subcommand";
      return false;
    }
    cmd = lookup(w1, words[1]);
    if (!cmd) {
      error = "unknown command '" + w1 + " " + words[1] + "'";
      return false;
    }
    used = 2;
  } else {
    cmd = lookup(w1, "");
  }
  opt.cmd = cmd->cmd;
  opt.cmdName = cmd->word2 ? std::string(cmd->word1) + " " + cmd->word2 : cmd->word1;

  if (wantHelp) {
    opt.helpFor = opt.cmd;
    opt.cmd = Cmd::Help;
    return true;
  }

  opt.args.assign(words.begin() + static_cast<long>(used), words.end());
  if (opt.cmd == Cmd::Help) {
    if (!opt.args.empty()) {
      std::string h2 = opt.args.size() > 1 ? opt.args[1] : "";
      const CmdDef *target = isKnownWord(opt.args[0]) ? lookup(opt.args[0], h2) : nullptr;
      if (!target && isKnownWord(opt.args[0]) && hasSubcommands(opt.args[0]) && h2.empty())
        target = lookup(opt.args[0], lookup(opt.args[0], "list") ? "list" : "verify");
      if (!target) {
        error = "no help for unknown command '" + opt.args[0] + (h2.empty() ? "" : " " + h2) + "'";
        return false;
      }
      opt.helpFor = target->cmd;
    }
    opt.args.clear();
    return true;
  }
  if (static_cast<int>(opt.args.size()) < cmd->minArgs) {
    error = "'" + opt.cmdName + "' needs " +
            (cmd->minArgs == 1 ? std::string("an argument") : "more arguments") +
            " (usage: ukeytool " + cmd->synopsis + ")";
    return false;
  }
  if (static_cast<int>(opt.args.size()) > cmd->maxArgs) {
    error = "too many arguments for '" + opt.cmdName + "': '" +
            opt.args[static_cast<size_t>(cmd->maxArgs)] + "'";
    return false;
  }

  uint32_t seen = 0;
  for (const Given &g : given) {
    uint32_t bit = g.def->bit;
    if (!(bit & (cmd->allowed | kAlways))) {
      error = "option '" + optDisplay(*g.def) + "' does not apply to '" + opt.cmdName + "'";
      return false;
    }
    if ((seen & bit) && bit != O_PIN) {
      error = "option '" + optDisplay(*g.def) + "' given twice";
      return false;
    }
    seen |= bit;
    const std::string &v = g.value;
    switch (bit) {
      case O_TOKEN:
        if (v.empty()) return error = "option '--token' needs a value", false;
        opt.token = v;
        break;
      case O_PIN: opt.pins.push_back(v); break;
      case O_PINFILE:
        if (v.empty()) return error = "option '--pin-file' needs a file name", false;
        opt.pinFile = v;
        break;
      case O_PINSTDIN: opt.pinStdin = true; break;
      case O_SO: opt.so = true; break;
      case O_FORCE: opt.force = true; break;
      case O_LOGIN: opt.login = true; break;
      case O_LABEL: opt.label = v; break;
      case O_SETPINS: opt.setPins = true; break;
      case O_RETRIES:
      case O_SORETRIES: {
        uint32_t n = 0;
        if (!parseUnsigned(v, 1, 15, n)) {
          error = "option '" + optDisplay(*g.def) + "' wants a number from 1 to 15, not '" + v + "'";
          return false;
        }
        (bit == O_RETRIES ? opt.retries : opt.soRetries) = static_cast<int>(n);
        break;
      }
      case O_KEYSPEC:
        if (!parseKeySpec(v, opt.keySpec)) {
          error = "option '--keyspec' wants 'exchange' or 'signature', not '" + v + "'";
          return false;
        }
        break;
      case O_BITS:
        if (v != "1024" && v != "2048") {
          error = "option '--bits' wants 1024 or 2048, not '" + v + "'";
          return false;
        }
        opt.bits = v == "1024" ? 1024 : 2048;
        break;
      case O_IN:
        if (v.empty()) return error = "option '--in' needs a file name", false;
        opt.in = v;
        break;
      case O_OUT:
        if (v.empty()) return error = "option '--out' needs a file name", false;
        opt.out = v;
        break;
      case O_DER: opt.format = OutFormat::Der; break;
      case O_PEM: opt.format = OutFormat::Pem; break;
      case O_FORMAT:
        if (v == "der" || v == "DER") {
          opt.format = OutFormat::Der;
        } else if (v == "pem" || v == "PEM") {
          opt.format = OutFormat::Pem;
        } else {
          error = "option '--format' wants 'der' or 'pem', not '" + v + "'";
          return false;
        }
        break;
      case O_NOBUTTON: opt.button = false; break;
      case O_WAIT:
        if (!parseUnsigned(v, 0, 86400, opt.waitSeconds)) {
          error = "option '--wait' wants seconds from 0 to 86400, not '" + v + "'";
          return false;
        }
        break;
      case O_VERBOSE: opt.verbose = true; break;
      case O_ID:
        if (v.empty() || v.size() > 79) return error = "option '--id' wants 1 to 79 characters", false;
        opt.id = v;
        break;
      case O_PRIVATE: opt.isPrivate = true; break;
      case O_ALG: {
        uint32_t n = 0;
        if (v == "des") opt.symAlg = 3;
        else if (v == "3des2") opt.symAlg = 4;
        else if (v == "3des3" || v == "3des") opt.symAlg = 5;
        else if (parseUnsigned(v, 1, 22, n) && (n == 1 || n == 2 || (n >= 3 && n <= 5) || n >= 20))
          opt.symAlg = static_cast<uint8_t>(n);
        else
          return error = "option '--alg' wants des, 3des2, 3des3 or 1, 2, 3, 4, 5, 20, 21, 22, not '" + v + "'", false;
        break;
      }
      default: break;
    }
  }
  if ((seen & O_DER) && (seen & (O_PEM | O_FORMAT))) {
    error = "choose one of '--der', '--pem' and '--format'";
    return false;
  }
  if ((seen & O_PEM) && (seen & O_FORMAT)) {
    error = "choose one of '--der', '--pem' and '--format'";
    return false;
  }
  int sources = ((seen & O_PIN) ? 1 : 0) + ((seen & O_PINFILE) ? 1 : 0) + ((seen & O_PINSTDIN) ? 1 : 0);
  if (sources > 1) {
    error = "choose one of '--pin', '--pin-file' and '--pin-stdin'";
    return false;
  }
  if (opt.cmd == Cmd::Sign) {
    // "sign CONTAINER FILE" or "sign CONTAINER --in FILE".
    if (opt.args.size() == 2 && !opt.in.empty()) {
      error = "give the file to sign once (as argument or with '--in')";
      return false;
    }
    if (opt.args.size() == 2) {
      opt.in = opt.args[1];
      opt.args.pop_back();
    }
    if (opt.in.empty()) {
      error = "'sign' needs the file to sign (usage: ukeytool " + std::string(cmd->synopsis) + ")";
      return false;
    }
    if (opt.out.empty()) opt.out = opt.in + ".sig";
  }
  if ((opt.cmd == Cmd::ExportCert || opt.cmd == Cmd::ExportPubKey) && opt.out.empty() &&
      opt.format == OutFormat::Der) {
    error = "DER output is binary: give a file with '-o FILE'";
    return false;
  }
  if (opt.cmd == Cmd::SymGenerate && !opt.symAlg) {
    error = "'symkey generate' needs '--alg'";
    return false;
  }
  if (opt.cmd == Cmd::SetLabel && opt.args[0].empty()) {
    error = "the label must not be empty";
    return false;
  }
  return true;
}

std::string usageText() {
  std::string s =
      "Usage: ukeytool [-t TOKEN] COMMAND [options] [arguments]\n"
      "\n"
      "Support and script tool for the UKey USB token.\n"
      "\n"
      "Commands:\n";
  for (const CmdDef &c : kCmds) s += std::string("  ") + c.synopsis + "\n";
  s +=
      "\n"
      "Common options:\n"
      "  -t, --token TOKEN   the token: its index in 'list' or its serial number (default: the\n"
      "                      only attached token)\n"
      "  --pin-file FILE     read PINs from FILE, one per line\n"
      "  --pin-stdin         read PINs from standard input, one per line\n"
      "  --pin PIN           PIN on the command line (visible to other users; repeat for a\n"
      "                      second PIN); without any of these the PINs are asked for on the\n"
      "                      console without echo\n"
      "  -v, --verbose       show the library's result codes\n"
      "  -h, --help          help; 'ukeytool help COMMAND' for one command\n"
      "  --version           version of the tool\n"
      "\n"
      "Exit status: 0 success, 1 the operation failed, 2 bad command line, 3 no such token\n"
      "(or several and none chosen), 4 PIN rejected or blocked, 5 cancelled.\n";
  return s;
}

std::string commandHelp(Cmd cmd) {
  const CmdDef *c = findCmd(cmd);
  if (!c) return usageText();
  return std::string("Usage: ukeytool [-t TOKEN] ") + c->synopsis + "\n\n" + c->help;
}

}  // namespace ukt
