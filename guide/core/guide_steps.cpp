#include "guide_steps.h"

#include <cwctype>

#include "guide_text.h"
#include "os_description.h"
#include "ui_text.h"

namespace guide {

// ---- step 1 -----------------------------------------------------------------------------------

int CheckSoftwareStep(IStepOnePage &page, IEnvironment &env) {
  page.BeginCheck();
  page.SetStatusText(kTextEnvironmentStart);
  if (CheckEnvironment(page, env) != 0) {
    page.SetStatusText(kTextEnvironmentError);
    page.EnableRecheck();
    return 1;
  }
  page.SetStatusText(kTextClientCheckStart);
  int result = 0;
  if (env.CheckClientInstalled() == 0) {
    page.AddDetailLine(kDetailDone, GetGuideText(kTextClientInstalled));
    page.SetStatusText(kTextEnvironmentOk);
  } else {
    page.AddDetailLine(kDetailRepairing, GetGuideText(kTextClientRepairing));
    page.SetStatusText(kTextRepairStart);
    result = RepairClient(page, env);
    if (result == kRepaired) page.ReplaceLastDetailLine(kDetailDone, GetGuideText(kTextClientInstalled));
    else if (result == kDownloadFailed)
      page.ReplaceLastDetailLine(kDetailFailed, GetGuideText(kTextClientDownloadError));
    else page.ReplaceLastDetailLine(kDetailFailed, GetGuideText(kTextClientInstallError));
  }
  page.EndCheck();
  return result;
}

namespace {

// A line that says "being repaired" while the repair runs, then how it went. The texts have no
// wording for a failed repair: the line keeps its "repairing" text and turns red.
void RepairLine(IStepOnePage &page, int repairingText, int doneText, bool (*repair)(IEnvironment &),
                IEnvironment &env) {
  page.AddDetailLine(kDetailRepairing, GetGuideText(repairingText));
  if (repair(env)) page.ReplaceLastDetailLine(kDetailDone, GetGuideText(doneText));
  else page.ReplaceLastDetailLine(kDetailFailed, GetGuideText(repairingText));
}

}  // namespace

int CheckEnvironment(IStepOnePage &page, IEnvironment &env) {
  if (env.IsUserAdministrator()) page.AddDetailLine(kDetailDone, GetGuideText(kTextAdministrator));
  else page.AddDetailLine(kDetailFailed, GetGuideText(kTextNotAdministrator));

  std::wstring text;
  int os = env.DescribeOperatingSystem(&text);
  page.AddDetailLine(os, text);
  if (os == kOsUnsupported) {
    page.SetStatusText(kTextSystemUnsupported);
    return 1;
  }

  int ie = env.CheckIeVersion(&text);
  page.AddDetailLine(ie, text);

  NetworkResult net = env.CheckNetwork();
  if (net.stage == NetworkResult::kOpenFailed)
    page.AddDetailLine(kDetailFailed, ui::Format(GetGuideText(kTextConnectError), net.code));
  else if (net.stage == NetworkResult::kSizeQueryFailed)
    page.AddDetailLine(kDetailFailed, ui::Format(GetGuideText(kTextSizeQueryError), net.code));
  else page.AddDetailLine(kDetailDone, GetGuideText(kTextConnectionOk));

  if (env.IsBankSiteTrusted() != 0)
    RepairLine(page, kTextTrustRepairing, kTextTrustOk,
               [](IEnvironment &e) { return e.TrustBankSite() == 0; }, env);
  else page.AddDetailLine(kDetailDone, GetGuideText(kTextTrustOk));

  if (env.CheckZoneSecurity() != 0)
    RepairLine(page, kTextActiveXRepairing, kTextActiveXOk,
               [](IEnvironment &e) { return e.FixZoneSecurity() == 0; }, env);
  else page.AddDetailLine(kDetailDone, GetGuideText(kTextActiveXOk));
  return 0;
}

int RepairClient(IStepOnePage &page, IEnvironment &env) {
  std::wstring setup = env.PrepareSetupPath();
  if (setup.empty()) return kDownloadFailed;
  // A setup left from an earlier run is used again, but only if it is still the bank's.
  bool have = env.FileExists(setup);
  if (have && !env.IsTrustedSetup(setup)) {
    env.DeleteFile(setup);
    have = false;
  }
  if (!have) {
    page.ReplaceLastDetailLine(kDetailDone, GetGuideText(kTextClientDownloading));
    if (!env.DownloadSetup(setup)) return kDownloadFailed;
    page.ReplaceLastDetailLine(kDetailDone, GetGuideText(kTextClientDownloaded));
    if (!env.IsTrustedSetup(setup)) {
      env.DeleteFile(setup);
      return kDownloadFailed;
    }
  }
  page.ReplaceLastDetailLine(kDetailDone, GetGuideText(kTextClientInstalling));
  if (!env.RunSetup(setup)) return kSetupFailed;
  return env.CheckClientInstalled() == 0 ? kRepaired : kSetupFailed;
}

// ---- step 2 -----------------------------------------------------------------------------------

int RunPinStep(IPinPage &page, ITokenBinding &binding) {
  if (binding.Bind() != 0) {
    page.SetStatus(kTextReinstall);
    page.ShowPinControls(false);
    return 1;
  }
  uint32_t changed = 0;
  if (DetectPinChanged(binding.Api(), &changed) != 0) {
    page.SetStatus(kTextNoToken);
    page.ShowPinControls(false);
    return 2;
  }
  if (changed) {
    page.SetStatus(kTextPinAlreadyChanged);
    page.ShowPinControls(false);
    return 0;
  }
  page.SetStatus(kTextChangePinFirst);
  page.ShowPinControls(true);
  switch (page.WaitForPinChange()) {
    case WaitResult::kSignalled: return 0;
    case WaitResult::kSuperseded: return kStepSuperseded;
    default: return 1;
  }
}

namespace {

constexpr size_t kPinMin = 6, kPinMax = 10;

bool LengthOk(const std::wstring &pin) { return pin.size() >= kPinMin && pin.size() <= kPinMax; }

PinSubmission Message(int text, PinField focus) {
  PinSubmission s;
  s.message = text;
  s.focus = focus;
  return s;
}

}  // namespace

PinSubmission ValidatePinEntry(const std::wstring &oldPin, const std::wstring &newPin,
                               const std::wstring &confirm) {
  if (!LengthOk(oldPin)) return Message(kTextPinLength, PinField::kOldPin);
  if (newPin != confirm) return Message(kTextPinMismatch, PinField::kNewPin);
  if (!LengthOk(newPin)) return Message(kTextPinLength, PinField::kNewPin);
  for (wchar_t c : newPin)
    if (!std::iswalnum(std::wint_t(c))) return Message(kTextPinCharacters, PinField::kNewPin);
  return PinSubmission{};
}

PinSubmission SubmitPinChange(ITokenBinding &binding, const std::wstring &oldPin,
                              const std::wstring &newPin, const std::wstring &confirm,
                              std::string (*toAnsi)(const std::wstring &)) {
  PinSubmission s = ValidatePinEntry(oldPin, newPin, confirm);
  if (s.message >= 0) return s;
  if (binding.Bind() != 0) {
    s.status = kTextReinstall;
    return s;
  }
  uint32_t rc = ChangeDefaultPin(binding.Api(), oldPin, toAnsi(newPin));
  if (rc == kNewPinIsDefault) return Message(kTextPinEqualsDefault, PinField::kNewPin);
  if (rc == kOldPinNotDefault) return Message(kTextWrongOldPin, PinField::kOldPin);
  if (rc != 0) return Message(kTextPinChangeFailed, PinField::kNewPin);
  s.status = kTextPinChanged;
  s.changed = true;
  return s;
}

// ---- step 3 -----------------------------------------------------------------------------------

int RunCertificateStep(ICertificatePage &page, ITokenBinding &binding) {
  if (binding.Bind() != 0) {
    page.SetStatusText(GetGuideText(kTextReinstall));
    return 1;
  }
  uint8_t cert[kCertificateCapacity];
  uint32_t len = sizeof cert;
  uint32_t rc = ReadFirstCertificate(binding.Api(), cert, &len);
  if (rc != 0) {
    page.SetStatusText(ui::Format(GetGuideText(kTextCertificateReadError), rc));
    return 2;
  }
  if (len == 0) {
    page.SetStatusText(GetGuideText(kTextNoCertificate));
    page.ShowDownloadButton(true);
    page.OpenDownloadPage();
    WaitResult w = page.WaitForCertificate();
    if (w == WaitResult::kSuperseded) return kStepSuperseded;
    if (w != WaitResult::kSignalled) {
      page.SetStatusText(GetGuideText(kTextCertificateDownloadError));
      return 1;
    }
    page.BringGuideToFront();
  }
  page.SetStatusText(GetGuideText(kTextCertificateDownloaded));
  page.ShowDownloadButton(false);
  len = sizeof cert;
  if (ReadFirstCertificate(binding.Api(), cert, &len) != 0) {
    page.SetStatusText(GetGuideText(kTextNoToken));
    return 2;
  }
  CertificateFacts facts;
  if (len == 0 || !page.Describe(cert, len, &facts)) {
    page.SetStatusText(GetGuideText(kTextCertificateUndecodable));
    return 2;
  }
  page.SetStatusText(ui::Format(GetGuideText(kTextCertificateInfo), facts.subject, facts.issuer,
                                facts.notBefore, facts.notAfter));
  return 0;
}

}  // namespace guide
