// Step 1's use of the bank's web server: the network check (the home page opened and its size
// asked for), the client setup's download with its progress dialog, and the check that a setup
// is the bank's own signed program before it is started.
#include "environment_win.h"

#include <shellapi.h>

#include "download_dlg.h"
#include "guide_config.h"
#include "guide_text.h"
#include "http_file_client.h"
#include "setup_signature.h"
#include "ui_config.h"

namespace guide {

NetworkResult CWinEnvironment::CheckNetwork() {
  NetworkResult r;
  ui::HttpFileClient http(ui::kGuideHttp);
  uint32_t rc = http.Open(L"http://" + ui::BankWebHost() + kHomePage, L"GET");
  if (rc != 0) {
    r.stage = NetworkResult::kOpenFailed;
    r.code = rc;
  } else {
    uint32_t length = 0;
    rc = http.QueryContentLength(&length);
    if (rc != 0) {
      r.stage = NetworkResult::kSizeQueryFailed;
      r.code = rc;
    }
  }
  http.Close();
  return r;
}

bool CWinEnvironment::DownloadSetup(const std::wstring &path) {
  ui::CDownLoadDlg dlg(ui::kGuideDownload, GetGuideText(kTextDownloadProgress), L"");
  dlg.SetJob(GetGuideText(kTextClientDownloading), L"http://" + ui::BankWebHost() + kClientSetupDownload, path);
  return dlg.Run(owner_) == ui::kDownloaded;
}

bool CWinEnvironment::IsTrustedSetup(const std::wstring &path) {
  return ui::CheckSetupSignature(path).trust == ui::SetupTrust::kTrusted;
}

bool RunSetupAndWait(const std::wstring &path) {
  constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
  // Checked again as it is started, and held against changes until then: the program that runs
  // is the file that was checked.
  ui::CSetupFile setup(path);
  PROCESS_INFORMATION pi{};
  HANDLE process = nullptr;
  if (setup.StartProcess(L"\"" + path + L"\" ", &pi)) {
    CloseHandle(pi.hThread);
    process = pi.hProcess;
  } else if (setup.Trusted() && GetLastError() == kElevationRequired) {
    // The setup asks for administrator rights: started through the shell, which asks the user.
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = L"runas";
    sei.lpFile = path.c_str();
    sei.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&sei)) process = sei.hProcess;
  }
  if (!process) return false;
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
  return true;
}

}  // namespace guide
