// CDownLoadDlg: the modal progress dialog of a download. It runs an HttpFileClient on a worker
// thread and shows "Downloading :      12k/3072k" (the program's text) above a progress bar.
//
//   ui::CDownLoadDlg dlg(ui::kClientDownload, LangString(212), L"获取网络文件大小");
//   dlg.SetJob(LangString(210), url, path);           // caption, source, target
//   dlg.UseLook(&look);                               // optional
//   INT_PTR r = dlg.Run(GetActiveWindow());           // 1 downloaded, 2 failed; guide: IDOK/IDCANCEL
//
// The template is download_dlg.rc (IDD_UK_DOWNLOAD), in the program's own resources. The worker
// never waits on the dialog (it posts its progress), and Run returns only after the worker has
// ended, so nothing outlives the dialog object. The guide's OK or Cancel stops the transfer at
// once and the partial file is removed; the client manager ignores both while the download runs.
#pragma once
#include <windows.h>

#include <string>

#include "download_ids.h"
#include "http_file_client.h"
#include "ui_window.h"

namespace ui {

// What differs between the programs' download dialogs.
struct DownloadDialogProfile {
  int textId, progressId;   // the controls of the program's template
  HttpProfile http;
  bool okCancelStops;       // true: OK or Cancel ends the dialog with that id (guide)
};
constexpr DownloadDialogProfile kClientDownload = {IDC_CLIENT_DOWNLOAD_TEXT, IDC_CLIENT_DOWNLOAD_PROGRESS,
                                                   kClientHttp, false};
constexpr DownloadDialogProfile kGuideDownload = {IDC_GUIDE_DOWNLOAD_TEXT, IDC_GUIDE_DOWNLOAD_PROGRESS,
                                                  kGuideHttp, true};

// Dialog results besides IDOK/IDCANCEL (guide).
constexpr INT_PTR kDownloaded = 1;
constexpr INT_PTR kDownloadFailed = 2;

class CDownLoadDlg : public CDialogImpl<CDownLoadDlg>, private IDownloadProgress {
 public:
  // progressFormat: the program's progress text with two numbers (KiB done, KiB in all);
  // initialText: shown until the size is known.
  CDownLoadDlg(const DownloadDialogProfile &profile, const std::wstring &progressFormat,
               const std::wstring &initialText, HINSTANCE resources = ThisModule());
  ~CDownLoadDlg() override;
  static const Map &GetMessageMap();

  // Caption, URL and local file (each cut to 260 characters), set before Run.
  void SetJob(const std::wstring &caption, const std::wstring &url, const std::wstring &path);
  // Runs the dialog modally over parent and returns when both it and the download have ended.
  INT_PTR Run(HWND parent);
  // The outcome of the download: 0, kTooSmall, an error code, or ERROR_CANCELLED.
  uint32_t Result() const { return result_; }

 private:
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnProgress(UINT, WPARAM, LPARAM, bool &);
  LRESULT OnFinished(UINT, WPARAM, LPARAM, bool &);
  void OnOkCancel(UINT id, UINT, HWND);

  void OnDownloadStarted(uint32_t totalKiB) override;
  void OnDownloadProgress(uint32_t doneKiB, uint32_t totalKiB) override;
  bool DownloadCancelled() override { return stopped_ != 0; }

  static unsigned __stdcall Worker(void *self);
  void Work();
  void Stop();

  DownloadDialogProfile profile_;
  std::wstring format_, initial_, caption_, url_, path_;
  HttpFileClient http_;
  HANDLE worker_ = nullptr;
  volatile LONG busy_ = 0;      // the worker runs
  volatile LONG stopped_ = 0;   // the user ended the dialog (guide)
  volatile LONG pending_ = 0;   // a progress message is on its way
  volatile LONG done_ = 0, total_ = 0, started_ = 0;
  uint32_t result_ = 0;
};

}  // namespace ui
