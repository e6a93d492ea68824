#include "update_win.h"

#include <windows.h>
#include <process.h>
#include <shlobj.h>

#include <vector>

#include "client_text.h"
#include "download_dlg.h"
#include "setup_signature.h"
#include "ui_config.h"
#include "ui_look.h"

namespace client {

namespace {

constexpr size_t kRowProgress = 212;                      // "Downloading : %8dk/%dk"
constexpr wchar_t kInitialProgress[] = L"获取网络文件大小";  // until the size is known
constexpr uint64_t kVersionFileMax = 64 * 1024;            // version.ini is a few lines

// One check at a time in the process.
class CCheckLock {
 public:
  CCheckLock() { InitializeCriticalSection(&cs_); }
  ~CCheckLock() { DeleteCriticalSection(&cs_); }
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};
CCheckLock g_checks;

unsigned __stdcall CheckThread(void *quiet) {
  g_checks.Enter();
  CUpdateHostWin host;
  CheckForUpdate(host, quiet != nullptr);
  g_checks.Leave();
  return 0;
}

class CSetupProgramWin : public ISetupProgram {
 public:
  explicit CSetupProgramWin(const std::wstring &path) : file_(path) {}
  const ui::SetupCheck &Check() const override { return file_.Check(); }
  uint32_t Start() override {
    INT_PTR r = file_.ShellOpen();
    return r > 32 ? 0 : uint32_t(r);
  }
  void Discard() override { file_.Discard(); }

 private:
  ui::CSetupFile file_;
};

}  // namespace

void StartUpdateCheck(bool quiet) {
  HANDLE t = reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, CheckThread, quiet ? reinterpret_cast<void *>(1) : nullptr, 0, nullptr));
  if (t) CloseHandle(t);
}

std::wstring CUpdateHostWin::DataFolder() {
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (FAILED(SHGetFolderLocation(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, &pidl)) || !pidl) return L"";
  wchar_t path[MAX_PATH] = {0};
  BOOL ok = SHGetPathFromIDListW(pidl, path);
  CoTaskMemFree(pidl);
  if (!ok || !path[0]) return L"";
  std::wstring folder = std::wstring(path) + L"\\ORVToken";
  // The longest name put into it ("\ORV_ZV_Setup_65535_65535_65535_65535.exe") must still fit.
  if (folder.size() + 42 >= MAX_PATH) return L"";
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return L"";
  return folder;
}

std::wstring CUpdateHostWin::WebHost() { return ui::BankWebHost(); }

uint32_t CUpdateHostWin::FetchFile(const std::wstring &url, const std::wstring &path) {
  ui::HttpFileClient http(ui::kClientHttp);
  uint32_t rc = http.Open(url);
  if (rc == 0) rc = http.DownloadToFile(path, nullptr, kVersionFileMax);
  http.Close();
  return rc;
}

std::wstring CUpdateHostWin::ReadIniValue(const std::wstring &path, const wchar_t *section, const wchar_t *key,
                                          const std::wstring &fallback, size_t maxChars) {
  std::vector<wchar_t> buf(maxChars + 1, L'\0');
  DWORD n = GetPrivateProfileStringW(section, key, fallback.c_str(), buf.data(), DWORD(buf.size()), path.c_str());
  return std::wstring(buf.data(), n < buf.size() ? n : buf.size() - 1);
}

FourPartVersion CUpdateHostWin::OwnVersion() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (!n || n >= MAX_PATH) return {};
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(self, &handle);
  if (!size) return {};
  std::vector<BYTE> info(size);
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT len = 0;
  if (!GetFileVersionInfoW(self, 0, size, info.data()) ||
      !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &len) || !fixed ||
      len < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD)
    return {};
  return VersionFromWords(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
}

bool CUpdateHostWin::FileExists(const std::wstring &path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void CUpdateHostWin::RemoveFile(const std::wstring &path) { DeleteFileW(path.c_str()); }

int CUpdateHostWin::RunDownloadDialog(const std::wstring &caption, const std::wstring &url, const std::wstring &path) {
  ui::CDialogLook look;
  ui::CDownLoadDlg dlg(ui::kClientDownload, LangString(kRowProgress), kInitialProgress);
  dlg.SetJob(caption, url, path);
  dlg.UseLook(&look);
  return int(dlg.Run(GetActiveWindow()));
}

std::unique_ptr<ISetupProgram> CUpdateHostWin::OpenSetup(const std::wstring &path) {
  return std::make_unique<CSetupProgramWin>(path);
}

int CUpdateHostWin::ShowMessage(const std::wstring &text, const std::wstring &caption, unsigned style) {
  return MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
}

}  // namespace client
