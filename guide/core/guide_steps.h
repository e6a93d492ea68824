// The guide's steps as sequences of checks and page updates, over small interfaces that the
// Windows skin implements with the real pages, registry, services and token library (and the
// native tests with recorders). Step 1: the computer's environment and the client software, with
// repair; step 2: the factory PIN replaced; step 3: a certificate on the token, with the bank's
// download page opened while there is none. Portable: no <windows.h>.
#pragma once
#include <stdint.h>

#include <string>

#include "token_ops.h"

namespace guide {

// States of a detail line: its icon and colour.
enum DetailState : int { kDetailDone = 0, kDetailRepairing = 1, kDetailFailed = 2 };

// ---- step 1 -----------------------------------------------------------------------------------

// The step-1 page as the check drives it.
class IStepOnePage {
 public:
  // Re-check button disabled, progress range 0-20 at 0, detail window shown and emptied.
  virtual void BeginCheck() = 0;
  // A text on the status line, the progress bar one step on, a pause of 200 ms.
  virtual void SetStatusText(int textId) = 0;
  virtual void AddDetailLine(int state, const std::wstring &text) = 0;
  virtual void ReplaceLastDetailLine(int state, const std::wstring &text) = 0;
  virtual void EnableRecheck() = 0;
  // Re-check button enabled, progress at 20, detail window hidden.
  virtual void EndCheck() = 0;

 protected:
  ~IStepOnePage() = default;
};

// Outcome of the network check: which call failed, with its code.
struct NetworkResult {
  enum Stage { kReachable, kOpenFailed, kSizeQueryFailed } stage = kReachable;
  uint32_t code = 0;
};

// Results of RepairClient.
constexpr int kRepaired = 0, kDownloadFailed = 1, kSetupFailed = 2;

// The computer as step 1 sees it.
class IEnvironment {
 public:
  virtual bool IsUserAdministrator() = 0;
  virtual int DescribeOperatingSystem(std::wstring *text) = 0;
  virtual int CheckIeVersion(std::wstring *text) = 0;
  // Opens the bank's home page and asks for its size.
  virtual NetworkResult CheckNetwork() = 0;
  virtual int IsBankSiteTrusted() = 0;  // 0 trusted, 1 not
  virtual int TrustBankSite() = 0;      // 0 written
  virtual int CheckZoneSecurity() = 0;  // 0 as required
  virtual int FixZoneSecurity() = 0;    // 0 written
  virtual int CheckClientInstalled() = 0;  // 0 installed

  // What the repair of the client needs.
  // Creates the download folder and gives the setup's path there ("" when there is no folder).
  virtual std::wstring PrepareSetupPath() = 0;
  virtual bool FileExists(const std::wstring &path) = 0;
  virtual void DeleteFile(const std::wstring &path) = 0;
  // Runs the download dialog (caption GuideText 32) for the bank's client setup into path; true
  // when the file was downloaded.
  virtual bool DownloadSetup(const std::wstring &path) = 0;
  // Whether the file is the bank's setup: its signature verifies and names the bank's signer.
  virtual bool IsTrustedSetup(const std::wstring &path) = 0;
  // Starts the setup and waits until it has ended; false when it could not be started.
  virtual bool RunSetup(const std::wstring &path) = 0;

 protected:
  ~IEnvironment() = default;
};

// The whole of step 1: 0 when the environment is acceptable and the client is installed (or was
// repaired), else non-zero and the wizard stays on step 1.
int CheckSoftwareStep(IStepOnePage &page, IEnvironment &env);
// The environment lines (administrator, operating system, Internet Explorer, network, trusted
// site, ActiveX settings, repairing the last two); 1 when the operating system is unsupported.
int CheckEnvironment(IStepOnePage &page, IEnvironment &env);
// Downloads (unless a setup was left from an earlier run), checks and runs the client setup,
// then checks the client again: kRepaired, kDownloadFailed or kSetupFailed. A setup that is not
// the bank's is deleted and never started.
int RepairClient(IStepOnePage &page, IEnvironment &env);

// ---- steps 2 and 3: the token -------------------------------------------------------------------

// A binding of the token library: Bind loads it once (0 bound, 1 missing, 2 incomplete, or the
// library's own result of establishing its context); Api gives the entry points, null when none.
class ITokenBinding {
 public:
  virtual uint32_t Bind() = 0;
  virtual const GuideTokenApi *Api() const = 0;

 protected:
  ~ITokenBinding() = default;
};

// How a wait on one of the guide's events ended.
enum class WaitResult { kSignalled, kFailed, kSuperseded };

// The step-2 page.
class IPinPage {
 public:
  virtual void SetStatus(int textId) = 0;
  virtual void ShowPinControls(bool show) = 0;
  // Creates (or opens) the PIN-changed event, resets it and waits for the page to signal it; a
  // re-check started meanwhile ends the wait as superseded.
  virtual WaitResult WaitForPinChange() = 0;

 protected:
  ~IPinPage() = default;
};

// Step 2: 0 go on (the PIN was changed before, or now); 1 library not bound or the wait failed;
// 2 no token (or it could not be queried). kStepSuperseded when a re-check took over.
int RunPinStep(IPinPage &page, ITokenBinding &binding);
constexpr int kStepSuperseded = -1;

// Where the input focus goes after a message about the PINs typed on the step-2 page.
enum class PinField { kNone, kOldPin, kNewPin };

struct PinSubmission {
  int message = -1;          // GuideText id of the message box, -1 none
  PinField focus = PinField::kNone;
  int status = -1;           // GuideText id for the status line, -1 unchanged
  bool changed = false;      // the PIN was changed: edits and button off, event signalled
};

// The checks of the typed PINs before the token is touched, in order: old PIN length, new PIN
// and confirmation equal, new PIN length, new PIN letters and digits only. message -1: all good.
PinSubmission ValidatePinEntry(const std::wstring &oldPin, const std::wstring &newPin,
                               const std::wstring &confirm);
// The step-2 page's OK button: validation, then binding, then the change on the token.
// toAnsi converts the new PIN to the system's ANSI code page.
PinSubmission SubmitPinChange(ITokenBinding &binding, const std::wstring &oldPin,
                              const std::wstring &newPin, const std::wstring &confirm,
                              std::string (*toAnsi)(const std::wstring &));

// The certificate's holder, issuer and validity, as step 3 shows them.
struct CertificateFacts {
  std::wstring subject, issuer, notBefore, notAfter;  // dates "%d/%02d/%02d", local time
};

// The step-3 page and what step 3 does outside it.
class ICertificatePage {
 public:
  virtual void SetStatusText(const std::wstring &text) = 0;
  virtual void ShowDownloadButton(bool show) = 0;
  // Starts Internet Explorer on the bank's certificate-download page (outcome not checked).
  virtual void OpenDownloadPage() = 0;
  // Waits for the certificate-change event (not reset first); a re-check ends it as superseded.
  virtual WaitResult WaitForCertificate() = 0;
  virtual void BringGuideToFront() = 0;
  // Decodes an X.509 certificate; false when the bytes are not one.
  virtual bool Describe(const uint8_t *der, size_t len, CertificateFacts *facts) = 0;

 protected:
  ~ICertificatePage() = default;
};

// Step 3: 0 go on; 1 library not bound or the wait failed; 2 the certificate could not be read
// or decoded. kStepSuperseded when a re-check took over.
int RunCertificateStep(ICertificatePage &page, ITokenBinding &binding);

}  // namespace guide
