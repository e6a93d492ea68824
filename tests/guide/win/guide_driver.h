// Shared by the guide's Wine tests and its screenshot driver: the guide started as its own
// process and reached through its windows (found by class, title and control ids, never by
// position), read and typed into across the process boundary.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "../../client/win/e2e_support.h"
#include "guide_text.h"

namespace guidetest {

using e2e::Text;
using e2e::WaitFor;

constexpr const wchar_t *kMainClass = L"ORV_Guide_Main";
enum Step { kSoftware = 0, kPin = 1, kCertificate = 2, kExit = 3 };
const UINT kStepButtons[4] = {1009, 1010, 1011, 1};
// A control that only that page has.
const int kPageMarkers[4] = {1017, 1019, 1018, 1029};

inline std::wstring GuideString(int id, int language) {
  return guide::GuideTextTable().Get(size_t(id), language);
}

inline std::wstring ClassOf(HWND w) {
  wchar_t c[64] = {0};
  GetClassNameW(w, c, 64);
  return c;
}

inline bool Visible(HWND w) { return w && IsWindowVisible(w); }

// One line of the detail window.
struct DetailLine {
  int state = -1;
  std::wstring text;
  bool operator==(const DetailLine &o) const { return state == o.state && text == o.text; }
};

class GuideProcess {
 public:
  ~GuideProcess() { Close(); }

  // Starts ORV_Guide.exe (path: UK_GUIDE, else beside this program).
  bool Start() {
    wchar_t env[MAX_PATH] = {0};
    std::wstring exe = GetEnvironmentVariableW(L"UK_GUIDE", env, MAX_PATH) ? std::wstring(env)
                                                                            : e2e::ProgramPath(L"ORV_Guide.exe");
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    return true;
  }
  HANDLE Process() const { return process_; }

  // The main window of this process (waits for it).
  HWND Main(DWORD ms = 30000) {
    if (main_ && IsWindow(main_)) return main_;
    WaitFor([&] { return (main_ = FindOwn(kMainClass, nullptr)) != nullptr; }, ms);
    return main_;
  }
  DWORD UiThread() { return GetWindowThreadProcessId(Main(), nullptr); }

  HWND Page(int step) {
    Search f{0, kPageMarkers[step], nullptr};
    EnumChildWindows(Main(), FindPage, reinterpret_cast<LPARAM>(&f));
    return f.found;
  }
  HWND Item(int step, int id) { return GetDlgItem(Page(step), id); }
  std::wstring ItemText(int step, int id) { return Text(Item(step, id)); }
  HWND StepButton(int step) { return GetDlgItem(Main(), int(kStepButtons[step])); }

  // The detail window (top-level, with the list 1030).
  HWND Details() { return FindOwnWith(1030); }

  // The visible message box of the guide: a dialog with an empty title and no list.
  HWND MessageBox() {
    Search f{pid_, 0, nullptr};
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&f));
    return f.found;
  }
  // The message text of a message box (its longest static text).
  static std::wstring MessageText(HWND box) {
    std::wstring best;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (ClassOf(c) == L"Static" && Text(c).size() > best.size()) best = Text(c);
    return best;
  }

  std::vector<DetailLine> DetailLines() {
    std::vector<DetailLine> out;
    HWND list = GetDlgItem(Details(), 1030);
    if (!list) return out;
    e2e::RemoteMemory mem(list);
    if (!mem.ok()) return out;
    int n = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      LVITEMW it{};
      it.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
      it.iItem = i;
      it.pszText = mem.At<wchar_t>(1024);
      it.cchTextMax = 1024;
      mem.Write(0, &it, sizeof it);
      SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(mem.At<char>(0)));
      LVITEMW got{};
      mem.Read(0, &got, sizeof got);
      DetailLine l;
      l.state = got.iImage == int(got.lParam) ? got.iImage : -100 - got.iImage;
      l.text = mem.ReadText(1024, 1023);
      out.push_back(l);
    }
    return out;
  }

  // Types text into an edit as keystrokes (the edit's length limit applies).
  static void Type(HWND edit, const std::wstring &text) {
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 0);
  }
  // A button pressed: the command its parent receives from a click.
  static void Click(HWND button) {
    PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  }
  HWND Focus() {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    return GetGUIThreadInfo(UiThread(), &gti) ? gti.hwndFocus : nullptr;
  }

  // The exit code once the process ended within ms; STILL_ACTIVE otherwise.
  DWORD ExitCode(DWORD ms) {
    if (!process_ || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
  }
  void Close() {
    if (!process_) return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
      if (Main(0)) PostMessageW(main_, WM_COMMAND, IDCANCEL, 0);
      if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 9);
    }
    CloseHandle(process_);
    process_ = nullptr;
  }

 private:
  struct Search {
    DWORD pid;
    int marker;
    HWND found;
  };
  static BOOL CALLBACK FindPage(HWND w, LPARAM p) {
    Search *f = reinterpret_cast<Search *>(p);
    if (ClassOf(w) == L"#32770" && GetDlgItem(w, f->marker)) {
      f->found = w;
      return FALSE;
    }
    return TRUE;
  }
  static BOOL CALLBACK FindMessageBox(HWND w, LPARAM p) {
    Search *f = reinterpret_cast<Search *>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == f->pid && IsWindowVisible(w) && ClassOf(w) == L"#32770" && Text(w).empty() &&
        !GetDlgItem(w, 1030)) {
      f->found = w;
      return FALSE;
    }
    return TRUE;
  }
  HWND FindOwn(const wchar_t *cls, const wchar_t *title) {
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, cls, title))) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == pid_) return w;
    }
    return nullptr;
  }
  HWND FindOwnWith(int id) {
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, L"#32770", nullptr))) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == pid_ && GetDlgItem(w, id)) return w;
    }
    return nullptr;
  }

  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
};

}  // namespace guidetest
