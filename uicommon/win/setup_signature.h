// The one check before a setup program from the network is started (client update, guide
// repair): its Authenticode signature verified by the platform (WinVerifyTrust), the signer's
// chain ending at a root the machine trusts and valid for code signing
// (CertVerifyCertificateChainPolicy), and the signer being our publisher (installer/signer.h).
//
//   ui::CSetupFile setup(path);                 // opened against changes, then checked
//   if (!setup.Trusted()) {
//     MessageBoxW(nullptr, ui::SetupRefusedText(setup.Check(), language).c_str(), title, MB_ICONERROR);
//     setup.Discard();                          // deletes it
//   } else {
//     setup.ShellOpen();                        // or setup.StartProcess(L"\"" + path + L"\" ", &pi)
//   }
//
// From the check until it is started, the file stays open with sharing that refuses writing,
// renaming and deleting: the program that starts is the file that was checked.
#pragma once
#include <windows.h>

#include <string>

#include "setup_trust.h"

namespace ui {

class CSetupFile {
 public:
  explicit CSetupFile(const std::wstring &path);
  ~CSetupFile();
  CSetupFile(const CSetupFile &) = delete;
  CSetupFile &operator=(const CSetupFile &) = delete;

  const SetupCheck &Check() const { return check_; }
  bool Trusted() const { return check_.trust == SetupTrust::kTrusted; }
  const std::wstring &Path() const { return path_; }

  // Only for a trusted file. Opens it with the shell verb "open", shown normally: the shell's
  // value (above 32 on success), or 0 when the file is not trusted.
  INT_PTR ShellOpen();
  // Starts it with CreateProcessW (the checked file as the program, commandLine as its command
  // line, a new console, shown normally). False, with the last error set, when it is not trusted
  // (ERROR_ACCESS_DENIED) or cannot be started. The caller closes pi's handles.
  bool StartProcess(const std::wstring &commandLine, PROCESS_INFORMATION *pi);
  // Closes the file and deletes it.
  void Discard();

 private:
  std::wstring path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  SetupCheck check_;
};

// The check of a file by its path, with no hold on it (for tools and tests).
SetupCheck CheckSetupSignature(const std::wstring &path);

}  // namespace ui
