#include "download_dlg.h"

#include <commctrl.h>
#include <process.h>

#include "ui_text.h"

namespace ui {

namespace {

constexpr UINT kProgressMessage = WM_APP + 0x310;  // the worker has news (wParam, lParam unused)
constexpr UINT kFinishedMessage = WM_APP + 0x311;  // the worker has ended; wParam: the dialog result
constexpr size_t kFieldMax = 260;

}  // namespace

CDownLoadDlg::CDownLoadDlg(const DownloadDialogProfile &profile, const std::wstring &progressFormat,
                           const std::wstring &initialText, HINSTANCE resources)
    : CDialogImpl(IDD_UK_DOWNLOAD, resources),
      profile_(profile),
      format_(progressFormat),
      initial_(initialText),
      http_(profile.http) {}

CDownLoadDlg::~CDownLoadDlg() {
  if (worker_) {
    Stop();
    WaitForSingleObject(worker_, INFINITE);
    CloseHandle(worker_);
  }
}

const CDownLoadDlg::Map &CDownLoadDlg::GetMessageMap() {
  static const Map map = {
      Map::Message(WM_INITDIALOG, &CDownLoadDlg::OnInitDialog),
      Map::Message(kProgressMessage, &CDownLoadDlg::OnProgress),
      Map::Message(kFinishedMessage, &CDownLoadDlg::OnFinished),
      Map::Command(IDOK, &CDownLoadDlg::OnOkCancel),
      Map::Command(IDCANCEL, &CDownLoadDlg::OnOkCancel),
  };
  return map;
}

void CDownLoadDlg::SetJob(const std::wstring &caption, const std::wstring &url, const std::wstring &path) {
  caption_ = caption.substr(0, kFieldMax);
  url_ = url.substr(0, kFieldMax);
  path_ = path.substr(0, kFieldMax);
}

INT_PTR CDownLoadDlg::Run(HWND parent) {
  INT_PTR r = DoModal(parent);
  if (worker_) {
    WaitForSingleObject(worker_, INFINITE);
    CloseHandle(worker_);
    worker_ = nullptr;
  }
  return r;
}

LRESULT CDownLoadDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool &) {
  CenterWindow(m_hWnd, GetWindow(m_hWnd, GW_OWNER));
  SetItemText(profile_.textId, initial_.c_str());
  SendMessageW(Item(profile_.progressId), PBM_SETPOS, 0, 0);
  if (!caption_.empty()) SetTitle(caption_.c_str());
  InterlockedExchange(&busy_, 1);
  worker_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Worker, this, 0, nullptr));
  if (!worker_) {
    InterlockedExchange(&busy_, 0);
    result_ = GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    EndDialog(kDownloadFailed);
  }
  return TRUE;
}

unsigned __stdcall CDownLoadDlg::Worker(void *self) {
  static_cast<CDownLoadDlg *>(self)->Work();
  return 0;
}

void CDownLoadDlg::Work() {
  uint32_t rc = http_.Open(url_);
  if (rc == 0) rc = http_.DownloadToFile(path_, this);
  http_.Close();
  result_ = stopped_ ? ERROR_CANCELLED : rc;
  InterlockedExchange(&busy_, 0);
  // A dialog the user already ended (guide) is left alone.
  if (!stopped_) PostMessageW(m_hWnd, kFinishedMessage, rc == 0 ? kDownloaded : kDownloadFailed, 0);
}

void CDownLoadDlg::Stop() {
  InterlockedExchange(&stopped_, 1);
  http_.Abort();
}

void CDownLoadDlg::OnDownloadStarted(uint32_t totalKiB) {
  InterlockedExchange(&total_, LONG(totalKiB));
  InterlockedExchange(&done_, 0);
  InterlockedExchange(&started_, 1);
  if (InterlockedExchange(&pending_, 1) == 0) PostMessageW(m_hWnd, kProgressMessage, 0, 0);
}

void CDownLoadDlg::OnDownloadProgress(uint32_t doneKiB, uint32_t totalKiB) {
  InterlockedExchange(&total_, LONG(totalKiB));
  InterlockedExchange(&done_, LONG(doneKiB));
  // One message on its way at a time: the dialog shows the latest count when it gets to it.
  if (InterlockedExchange(&pending_, 1) == 0) PostMessageW(m_hWnd, kProgressMessage, 0, 0);
}

LRESULT CDownLoadDlg::OnProgress(UINT, WPARAM, LPARAM, bool &) {
  InterlockedExchange(&pending_, 0);
  if (!started_) return 0;
  uint32_t done = uint32_t(done_), total = uint32_t(total_);
  SetItemText(profile_.textId, Format(format_.c_str(), done, total).c_str());
  HWND bar = Item(profile_.progressId);
  if (total) {
    SendMessageW(bar, PBM_SETRANGE32, 0, LPARAM(total));
    SendMessageW(bar, PBM_SETPOS, WPARAM(done < total ? done : total), 0);
  }
  return 0;
}

LRESULT CDownLoadDlg::OnFinished(UINT, WPARAM wParam, LPARAM, bool &) {
  EndDialog(INT_PTR(wParam));
  return 0;
}

void CDownLoadDlg::OnOkCancel(UINT id, UINT, HWND) {
  if (!profile_.okCancelStops) return;  // the client manager's download cannot be interrupted
  Stop();
  EndDialog(id);
}

}  // namespace ui
