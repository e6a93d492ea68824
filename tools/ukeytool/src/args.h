// Command line of ukeytool: "ukeytool [global options] COMMAND [SUBCOMMAND] [options] [ARGS]".
// The parser knows every command, which options it accepts and how many arguments it takes, so
// that a mistyped or misplaced option is refused before any token is touched.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace ukt {

enum class Cmd {
  None,
  Help,
  Version,
  List,
  Show,
  PinVerify,
  PinChange,
  PinUnlock,
  Format,
  SetLabel,
  ExportCert,
  ImportCert,
  ExportPubKey,
  GenKey,
  Sign,
  DataList,
  DataRead,
  DataDelete,
  DataWrite,
  SymList,
  SymRead,
  SymDelete,
  SymGenerate,
};

enum class OutFormat { Auto, Der, Pem };

struct Options {
  Cmd cmd = Cmd::None;
  std::string cmdName;                 // "pin change", as typed (for messages)
  std::vector<std::string> args;       // positional arguments of the command
  Cmd helpFor = Cmd::None;             // "help COMMAND"

  std::string token;                   // -t: index (1-based) or serial number
  std::vector<std::string> pins;       // --pin values, in order (insecure, warned about)
  std::string pinFile;                 // --pin-file: one PIN per line
  bool pinStdin = false;               // --pin-stdin: one PIN per line on standard input
  bool so = false;                     // --so: the administrator PIN
  bool force = false;                  // -f/--force/--yes: no confirmation question
  bool login = false;                  // --login: verify the user PIN first
  std::string label;                   // --label (format)
  bool setPins = false;                // --set-pins (format): PINs from the PIN source
  int retries = -1;                    // --retries (format), 1..15
  int soRetries = -1;                  // --so-retries (format), 1..15
  int keySpec = 0;                     // --keyspec: 0 choose, 1 exchange, 2 signature
  uint32_t bits = 1024;                // --bits (genkey)
  std::string in;                      // -i/--in
  std::string out;                     // -o/--out
  OutFormat format = OutFormat::Auto;  // --der/--pem/--format
  bool button = true;                  // --no-button: sign without the button press
  uint32_t waitSeconds = 120;          // --wait: how long a signature may wait for the button
  bool verbose = false;                // -v
  std::string id;                      // --id (data write, symkey generate)
  bool isPrivate = false;              // --private (data write)
  uint8_t symAlg = 0;                  // --alg (symkey generate), a UK_SYM_ALG_* value
};

// Parses argv[1..argc-1]. On error returns false with a one-line message in error.
bool parseArgs(int argc, const char *const *argv, Options &opt, std::string &error);

// Usage text: the overview, or the help of one command.
std::string usageText();
std::string commandHelp(Cmd cmd);

// Parses a decimal number in [lo, hi]; false on anything else (signs, spaces, overflow).
bool parseUnsigned(const std::string &text, uint32_t lo, uint32_t hi, uint32_t &value);

}  // namespace ukt
