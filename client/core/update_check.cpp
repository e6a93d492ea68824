#include "update_check.h"

#include "bank_config.h"
#include "client_text.h"
#include "commands.h"

namespace client {

namespace {

constexpr size_t kRowUpToDate = 208;       // "UKEY client is the latest version"
constexpr size_t kRowInternetError = 209;  // "Internet Error"
constexpr size_t kRowDownloading = 210;    // "Downloading"
constexpr size_t kRowInstallPrompt = 211;  // "Click OK to install the last version"

constexpr const wchar_t *kSection = L"ORVClient";

}  // namespace

UpdateStep DownloadAndStart(IUpdateHost &host, const std::wstring &folder, const std::wstring &setupUrl,
                            const FourPartVersion &published) {
  std::wstring path = folder + L"\\" + SetupFileName(published);
  if (!host.FileExists(path) && host.RunDownloadDialog(LangString(kRowDownloading), setupUrl, path) != 1) {
    host.RemoveFile(path);
    return UpdateStep::kNotDownloaded;
  }
  // A setup from the network runs with the user's rights (an administrator's, to install):
  // only one our publisher signed is started, whether just downloaded or left from before.
  std::unique_ptr<ISetupProgram> setup = host.OpenSetup(path);
  if (!setup || setup->Check().trust != ui::SetupTrust::kTrusted) {
    ui::SetupCheck check = setup ? setup->Check() : ui::SetupCheck{};
    if (setup) setup->Discard();
    else host.RemoveFile(path);
    host.ShowMessage(ui::SetupRefusedText(check, LanguageIndex()), LangString(kRowTitle), kBoxError);
    return UpdateStep::kRefused;
  }
  host.ShowMessage(LangString(kRowInstallPrompt), LangString(kRowTitle), kBoxOk);
  return setup->Start() == 0 ? UpdateStep::kStarted : UpdateStep::kStartFailed;
}

int CheckForUpdate(IUpdateHost &host, bool quiet) {
  std::wstring folder = host.DataFolder();
  std::wstring ini = folder + L"\\version.ini";
  std::wstring webHost = host.WebHost();
  if (folder.empty() || host.FetchFile(L"http://" + webHost + config::kVersionFilePath, ini) != 0) {
    if (!quiet) host.ShowMessage(LangString(kRowInternetError), L"ERROR", kBoxOk);
    return kUpdateNoVersionFile;
  }
  std::wstring url = host.ReadIniValue(ini, kSection, L"URL", L"http://" + webHost + config::kDefaultSetupPath,
                                       kSetupUrlMax);
  FourPartVersion published =
      ParseVersionText(host.ReadIniValue(ini, kSection, L"version", L"1.0.0.0", kVersionTextMax));
  if (!IsNewer(published, host.OwnVersion())) {
    if (!quiet) host.ShowMessage(LangString(kRowUpToDate), LangString(kRowTitle), kBoxOk);
    return kUpdateChecked;
  }
  DownloadAndStart(host, folder, url, published);
  return kUpdateChecked;
}

}  // namespace client
