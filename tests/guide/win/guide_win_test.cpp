// The guide's Windows skin in-process, under Wine: the token library loaded by path and bound by
// name (missing, incomplete, complete) and used against an emulated token, the system queries
// behind step 1, the folders, starting and awaiting a program, and the detail window (with the
// guide's own resources linked in) driven through its messages.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display_info_dlg.h"
#include "environment_win.h"
#include "guide_paths.h"
#include "guide_steps.h"
#include "guide_text.h"
#include "guide_token_lib.h"
#include "uk_tokensim_client.h"

using namespace guide;

namespace {

std::wstring Beside(const wchar_t *name) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1) + name;
}

const wchar_t kLibrary[] = L"ORV_KELM_Q57Tokenlib.dll";

}  // namespace

TEST(GuideTokenLib, MissingOrIncompleteLibrariesAreNotBound) {
  CGuideTokenLib missing(Beside(L"no_such_library.dll"));
  EXPECT_EQ(1u, missing.Bind());
  EXPECT_EQ(nullptr, missing.Api());

  // A library without the token library's exports: not bound, and not kept loaded.
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  CGuideTokenLib other(std::wstring(system) + L"\\msimg32.dll");
  EXPECT_EQ(2u, other.Bind());
  EXPECT_EQ(nullptr, other.Api());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"msimg32.dll"));
}

TEST(GuideTokenLib, BoundByNameAndReleasedWithTheBinding) {
  ASSERT_EQ(nullptr, GetModuleHandleW(kLibrary)) << "this test must not import the library";
  tokensim::Client sim;
  ASSERT_TRUE(sim.fromSetting());
  std::string serial = tokensim::uniqueSerial("GW");
  ASSERT_TRUE(sim.createToken(serial));
  {
    CGuideTokenLib library(Beside(kLibrary));
    EXPECT_EQ(0u, library.Bind());
    EXPECT_EQ(0u, library.Bind());  // bound once
    ASSERT_NE(nullptr, library.Api());
    EXPECT_NE(nullptr, GetModuleHandleW(kLibrary));
    uint32_t changed = 7;
    ASSERT_EQ(0u, DetectPinChanged(library.Api(), &changed));
    EXPECT_EQ(0u, changed);
    EXPECT_EQ(kOldPinNotDefault, ChangeDefaultPin(library.Api(), L"937260", "Abc123"));
    EXPECT_EQ(0u, ChangeDefaultPin(library.Api(), L"482915", "Abc123"));
    ASSERT_EQ(0u, DetectPinChanged(library.Api(), &changed));
    EXPECT_NE(0u, changed);
    uint8_t cert[kCertificateCapacity];
    uint32_t len = sizeof cert;
    EXPECT_EQ(0u, ReadFirstCertificate(library.Api(), cert, &len));
    EXPECT_EQ(0u, len);
  }
  EXPECT_EQ(nullptr, GetModuleHandleW(kLibrary));
  sim.deleteToken(serial);
}

TEST(GuideWindows, SystemQueriesBehindStepOne) {
  EXPECT_EQ(1, IsUserAdministrator());  // Wine's user holds the Administrators group
  OsVersion v = ReadOsVersion();
  EXPECT_EQ(kPlatformNt, v.platformId);
  EXPECT_GE(v.major, 5u);
  EXPECT_NE(0u, v.build);
  EXPECT_TRUE(v.processorArchitecture == kArchAmd64 || v.processorArchitecture == kArchX86)
      << v.processorArchitecture;
  std::wstring text;
  EXPECT_EQ(kOsSupported, DescribeOperatingSystem(v, &text));
  EXPECT_EQ(0u, text.find(GetGuideText(kTextOperatingSystem)));
  std::wstring ie;
  ASSERT_TRUE(ReadIeVersion(&ie));
  EXPECT_GE(ie[0], L'6') << "Wine ships Internet Explorer 9 or later";
}

TEST(GuideWindows, FoldersOfTheInstallationAndTheDownload) {
  EXPECT_EQ(L"C:\\Program Files", ProgramFilesFolder());
  EXPECT_EQ(L"C:\\Program Files\\ORVToken\\kelm\\ORV_KELM_Q57Tokenlib.dll", TokenLibraryPath());
  EXPECT_EQ(L"C:\\Program Files\\ORVToken\\kelm\\ORV_KELM_Client.exe", ClientProgramPath());
  EXPECT_EQ(L"C:\\ProgramData\\ORVToken\\ORV_ZV_Setup.exe", SetupDownloadPath());
}

// A setup that is not the bank's signed program is never started: without a signature, altered
// after signing, or missing. (The bank's signed setup started and awaited: guide_e2e_repair.)
TEST(GuideWindows, SetupThatIsNotTheBanksIsNeverStarted) {
  for (const wchar_t *name : {L"probe_unsigned.exe", L"probe_tampered.exe"}) {
    std::wstring probe = Beside(name), started = probe + L".started";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(probe.c_str())) << "built with the download tests";
    DeleteFileW(started.c_str());
    CWinEnvironment env(nullptr);
    EXPECT_FALSE(env.IsTrustedSetup(probe));
    EXPECT_FALSE(RunSetupAndWait(probe));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(started.c_str())) << "started anyway";
  }
  EXPECT_FALSE(RunSetupAndWait(Beside(L"no_such_setup.exe")));
}

// ---- the detail window ------------------------------------------------------------------------

namespace {

// Stands in for the step-1 page and the main window: records what they are sent.
struct Recorder {
  std::vector<LPARAM> details;
  std::vector<WPARAM> commands;
};
Recorder g_recorder;

LRESULT CALLBACK RecorderProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_GUIDE_DETAILS) g_recorder.details.push_back(lp);
  if (msg == WM_COMMAND) g_recorder.commands.push_back(wp);
  return DefWindowProcW(w, msg, wp, lp);
}

HWND MakeRecorder() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = RecorderProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"GuideTestRecorder";
  RegisterClassW(&wc);
  return CreateWindowW(L"GuideTestRecorder", L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                       GetModuleHandleW(nullptr), nullptr);
}

struct Row {
  int state;
  std::wstring text;
  int image;
};

std::vector<Row> Rows(HWND list) {
  std::vector<Row> out;
  int n = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t buf[512] = {0};
    LVITEMW it{};
    it.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    it.iItem = i;
    it.pszText = buf;
    it.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
    out.push_back({int(it.lParam), buf, it.iImage});
  }
  return out;
}

COLORREF TextColourOf(HWND dialog, int state) {
  NMLVCUSTOMDRAW cd{};
  cd.nmcd.hdr.hwndFrom = GetDlgItem(dialog, 1030);
  cd.nmcd.hdr.idFrom = 1030;
  cd.nmcd.hdr.code = NM_CUSTOMDRAW;
  cd.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
  cd.nmcd.lItemlParam = state;
  cd.clrText = RGB(1, 2, 3);
  SendMessageW(dialog, WM_NOTIFY, 1030, reinterpret_cast<LPARAM>(&cd));
  return cd.clrText;
}

}  // namespace

TEST(DetailWindow, LinesWithStateIconsAndColoursAndItsButtons) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  g_recorder = Recorder{};
  HWND page = MakeRecorder(), guideWnd = MakeRecorder();
  ASSERT_TRUE(page && guideWnd);
  CDisplayInfoDlg details(page, guideWnd);
  ASSERT_TRUE(details.Create(page));
  HWND dlg = details.m_hWnd;
  EXPECT_EQ(std::wstring(GetGuideText(kTextDetailTitle)), ui::WindowText(dlg));
  EXPECT_EQ(std::wstring(GetGuideText(kTextDetailOk)), ui::WindowText(GetDlgItem(dlg, 1031)));
  RECT r;
  GetWindowRect(dlg, &r);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN) / 2 + 63, r.left);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN) / 2 - 180, r.top);
  HWND list = GetDlgItem(dlg, 1030);
  EXPECT_EQ(470, SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
  HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ASSERT_NE(nullptr, images);
  EXPECT_EQ(3, ImageList_GetImageCount(images));
  int cx = 0, cy = 0;
  ImageList_GetIconSize(images, &cx, &cy);
  EXPECT_EQ(18, cx);
  EXPECT_EQ(18, cy);

  details.AddLine(kDetailDone, L"first");
  details.AddLine(kDetailRepairing, L"second");
  details.ReplaceLastLine(kDetailFailed, L"second, failed");
  details.AddLine(kDetailDone, L"third");
  std::vector<Row> rows = Rows(list);
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ(L"second, failed", rows[1].text);
  EXPECT_EQ(kDetailFailed, rows[1].state);
  EXPECT_EQ(kDetailFailed, rows[1].image);
  EXPECT_EQ(kDetailDone, rows[2].image);
  EXPECT_EQ(RGB(0, 0, 0), TextColourOf(dlg, kDetailDone));
  EXPECT_EQ(RGB(0, 0, 255), TextColourOf(dlg, kDetailRepairing));
  EXPECT_EQ(RGB(255, 0, 0), TextColourOf(dlg, kDetailFailed));

  // Shown and hidden by the program: no message to the page (it sets its button itself).
  details.SetShown(true);
  EXPECT_TRUE(IsWindowVisible(dlg));
  EXPECT_TRUE(g_recorder.details.empty());
  // The details button, the OK button and the close box: the page is told each time.
  details.Toggle();
  EXPECT_FALSE(IsWindowVisible(dlg));
  details.Toggle();
  EXPECT_TRUE(IsWindowVisible(dlg));
  SendMessageW(dlg, WM_COMMAND, 1031, 0);
  EXPECT_FALSE(details.Shown());
  details.Toggle();
  SendMessageW(dlg, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(dlg));
  EXPECT_EQ((std::vector<LPARAM>{0, 1, 0, 1, 0}), g_recorder.details);
  // Cancel (Escape) ends the guide: the main window is told.
  EXPECT_TRUE(g_recorder.commands.empty());
  SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ((std::vector<WPARAM>{IDCANCEL}), g_recorder.commands);

  // A line wider than the column widens it, so that it can be scrolled into view whole; short
  // lines never narrow it.
  std::wstring longLine = GetGuideText(kTextOperatingSystem);
  longLine += L"Windows Server 2003 R2, Enterprise Edition for Itanium-based Systems Service Pack 2 (build 3790)";
  details.AddLine(kDetailDone, longLine);
  int width = int(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
  EXPECT_GT(width, int(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(longLine.c_str()))));
  details.AddLine(kDetailDone, L"short");
  EXPECT_EQ(width, SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));

  details.Clear();
  EXPECT_EQ(0, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  details.ReplaceLastLine(kDetailDone, L"only");  // on an empty list: simply the first line
  EXPECT_EQ(1u, Rows(list).size());
  details.DestroyWindow();
  DestroyWindow(page);
  DestroyWindow(guideWnd);
}
