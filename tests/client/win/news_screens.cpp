// The client's news as a user meets them, under Wine on a display, against the local news server
// (its port in the file named by UK_NEWS_PORT_FILE): the client started with fresh news files
// fetches, blinks (tray tip "您有未读消息"), shows the multiple popup at the work area's corner,
// translucent until the mouse is over it; a second fetch gives the single popup with its picture
// (larger than its box: scaled down whole); hostile answers, each waited for until the server has
// served it, leave it running; the settings dialog refuses a refresh of 121 and saves 30;
// Exit writes the database.
//
// Both a test (ctest news_e2e_test: DIR "-") and the screenshot driver of scripts/screenshots.sh
// (DIR a folder: for each picture it creates DIR\request-<name> and waits for DIR\done-<name>).
//   news_screens.exe DIR LANGUAGE_ID
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "client_text.h"
#include "e2e_support.h"
#include "news_net.h"
#include "news_store.h"

using namespace e2e;

namespace {

std::wstring g_dir;
int g_lang = 0;
int g_failures = 0;

void Check(bool ok, const char *what) {
  fprintf(stderr, "%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++g_failures;
}

bool Exists(const std::wstring &p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

const wchar_t *Row(size_t row) { return client::ClientTextTable().Get(row, g_lang); }

void Shoot(HWND settle, const wchar_t *name) {
  DWORD_PTR r;
  if (settle) {
    // Painted before the picture: the paint is sent (and waited for), not left in the queue.
    RedrawWindow(settle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageTimeoutW(settle, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &r);
  }
  if (g_dir == L"-") return;
  // Wine hands a window's drawing to the X server from its window surface a moment later.
  Sleep(700);
  std::wstring req = g_dir + L"\\request-" + name, done = g_dir + L"\\done-" + name;
  DeleteFileW(done.c_str());
  HANDLE f = CreateFileW(req.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  CloseHandle(f);
  bool ok = WaitFor([&] { return Exists(done); }, 30000);
  DeleteFileW(done.c_str());
  fwprintf(stderr, L"%ls: %ls\n", name, ok ? L"taken" : L"no answer");
}

std::wstring g_host;
void Scenario(const wchar_t *name) {
  client::QueryNewsService(L"http://" + g_host + L"/ctl/scenario?name=" + name, client::NewsProxy{});
}

// How many news queries the server has answered in full under this scenario.
int Served(const std::wstring &scenario) {
  const std::string lines =
      client::QueryNewsService(L"http://" + g_host + L"/ctl/served", client::NewsProxy{});
  const std::string want(scenario.begin(), scenario.end());
  const std::string line = want + "\tNewsAcquire\n";
  int n = 0;
  for (size_t at = 0; (at = lines.find(line, at)) != std::string::npos; at += line.size())
    if (at == 0 || lines[at - 1] == '\n') ++n;
  return n;
}

// Makes the client fetch the news under this scenario and waits until the server has answered
// it. The client takes "Get news now" only while no fetch of its own is under way (it is ignored
// otherwise), so the command is given again until an answer has gone out: a served answer also
// shows that the client had finished with the one before.
bool FetchServed(HWND main, const wchar_t *scenario) {
  Scenario(scenario);
  const int before = Served(scenario);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 60000) {
    PostMessageW(main, WM_COMMAND, 57672, 0);
    if (WaitFor([&] { return Served(scenario) > before; }, 3000)) return true;
  }
  return false;
}

bool TipIs(const wchar_t *tip) {
  for (const std::wstring &t : TrayTips())
    if (t == tip) return true;
  return false;
}

struct Find {
  DWORD pid;
  const wchar_t *title;
  HWND found;
};
BOOL CALLBACK FindClientWindow(HWND w, LPARAM p) {
  Find *f = reinterpret_cast<Find *>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == f->pid && IsWindowVisible(w) && Text(w) == f->title) {
    f->found = w;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level window of the client with this title.
HWND ClientWindow(DWORD pid, const wchar_t *title) {
  Find f{pid, title, nullptr};
  EnumWindows(FindClientWindow, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

void CheckPopupPlace(HWND pop, const char *what) {
  RECT work, r;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(pop, &r);
  Check(r.right == work.right && r.bottom == work.bottom, what);
  Check((GetWindowLongW(pop, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_TOOLWINDOW)) ==
            (WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_TOOLWINDOW),
        "popup: layered, topmost tool window");
  BYTE alpha = 0;
  DWORD flags = 0;
  if (GetLayeredWindowAttributes(pop, nullptr, &alpha, &flags)) {
    Check(alpha == 102, "popup: 40 % opaque while the mouse is away");
    SendMessageW(pop, WM_SETCURSOR, reinterpret_cast<WPARAM>(pop), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    GetLayeredWindowAttributes(pop, nullptr, &alpha, &flags);
    Check(alpha == 255, "popup: opaque with the mouse over it");
    SendMessageW(pop, WM_MOUSELEAVE, 0, 0);
  }
}

// The message box the settings dialog shows, closed with its button; its text.
std::wstring AnswerMessageBox(DWORD pid) {
  HWND box = nullptr;
  WaitFor([&] { return (box = ClientWindow(pid, Row(client::kRowTitle))) != nullptr && GetDlgItem(box, 0xFFFF); }, 10000);
  if (!box) return L"";
  std::wstring text = Text(GetDlgItem(box, 0xFFFF));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  WaitFor([&] { return !IsWindow(box); }, 5000);
  return text;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: news_screens DIR LANGUAGE_ID\n");
    return 2;
  }
  g_dir = argv[1];
  DWORD lang = wcstoul(argv[2], nullptr, 10);
  g_lang = lang == 2052 ? 1 : lang == 1028 ? 2 : 0;
  const char *portFile = getenv("UK_NEWS_PORT_FILE");
  std::string port;
  if (portFile) std::ifstream(portFile) >> port;
  if (port.empty()) {
    fwprintf(stderr, L"no news server (UK_NEWS_PORT_FILE)\n");
    return 1;
  }
  g_host = L"127.0.0.1:" + Widen(port);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  // The client reaches the news server as the bank's web server; the setting goes back after.
  const wchar_t *devKey = L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer";
  wchar_t previous[256] = {0};
  DWORD size = sizeof previous - sizeof(wchar_t);
  const bool hadHost = RegGetValueW(HKEY_LOCAL_MACHINE, devKey, L"BankWebHost", RRF_RT_REG_SZ, nullptr, previous, &size) == ERROR_SUCCESS;
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, devKey, L"BankWebHost", REG_SZ, g_host.c_str(), DWORD((g_host.size() + 1) * 2));
  RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD, &lang,
                  sizeof lang);

  // Fresh news files; popups stay a minute so that they can be pictured.
  const std::wstring config = client::NewsConfigPath(), db = client::NewsDbPath();
  DeleteFileW(db.c_str());
  DeleteFileW(config.c_str());
  client::NewsSettings s;
  s.popupSeconds = 60;
  client::SaveNewsConfig(config, s, L"");
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring picture = std::wstring(temp) + L"ORV\\wide.gif";
  DeleteFileW(picture.c_str());
  Scenario(L"normal");

  HANDLE process = Start();
  DWORD pid = process ? GetProcessId(process) : 0;
  HWND main = nullptr;
  const wchar_t *unreadTip = L"\u60a8\u6709\u672a\u8bfb\u6d88\u606f";
  if (process && WaitFor([&] { return (main = FindWindowW(L"DEZOda_client_main_dialog", nullptr)) != nullptr; })) {
    SetCursorPos(5, 5);
    const UINT trayMessage = RegisterWindowMessageW(L"WM_TRAYICON");
    Check(WaitFor([&] { return TipIs(unreadTip); }, 30000), "first fetch: the tray blinks with the unread tip");

    // Three unread items: the multiple popup, newest last in the answer first in the tree.
    PostMessageW(main, trayMessage, 222, WM_LBUTTONUP);
    HWND pop = nullptr;
    Check(WaitFor([&] { return (pop = ClientWindow(pid, Row(215))) != nullptr; }, 10000), "multiple popup shown");
    if (pop) {
      CheckPopupPlace(pop, "multiple popup at the work area's bottom-right corner");
      RemoteTree tree(GetDlgItem(pop, 1000));
      std::vector<std::wstring> lines = tree.Lines();
      Check(lines.size() == 6 && lines[0] == L"Rates from December" && lines[1] == L"  content" &&
                lines[4] == L"Branch hours",
            "multiple popup: titles with their contents, newest first");
      Check(TipIs(Row(client::kRowTitle)), "the popup stops the blinking");
      Shoot(pop, L"multiple");
      PostMessageW(pop, WM_COMMAND, 1075, 0);
      Check(WaitFor([&] { return !IsWindow(pop); }, 5000), "close mark closes the popup");
    }

    // One more item: the single popup with its picture.
    Scenario(L"more");
    PostMessageW(main, WM_COMMAND, 57672, 0);
    Check(WaitFor([&] { return TipIs(unreadTip); }, 30000), "second fetch: blinking again");
    PostMessageW(main, trayMessage, 222, WM_LBUTTONUP);
    Check(WaitFor([&] { return (pop = ClientWindow(pid, Row(215))) != nullptr; }, 10000), "single popup shown");
    if (pop) {
      CheckPopupPlace(pop, "single popup at the work area's bottom-right corner");
      Check(Text(GetDlgItem(pop, 1063)) == L"Card fee waived", "single popup: the title");
      Check(Text(GetDlgItem(pop, 1064)) == L"The annual card fee is waived for customers who ...",
            "single popup: a content above 50 characters cut to 48 and \"...\"");
      Check(WaitFor([&] { return Exists(picture); }, 10000), "the picture arrives in the cache");
      // 160 x 100 in the box of 85 x 85: scaled down whole to 85 x 53, in the box's middle.
      HWND box = GetDlgItem(pop, 1065);
      RECT r{};
      Check(WaitFor([&] { return GetClientRect(box, &r) && r.right == 85 && r.bottom == 53; }, 10000),
            "single popup: a larger picture scaled down to the box, proportions kept");
      GetWindowRect(box, &r);
      MapWindowPoints(nullptr, pop, reinterpret_cast<POINT *>(&r), 2);
      Check(r.left == 10 && r.top == 54 + 16, "single popup: the picture centred in its box");
      Shoot(pop, L"single");
      PostMessageW(pop, WM_COMMAND, 1075, 0);
      WaitFor([&] { return !IsWindow(pop); }, 5000);
    }

    // Hostile and huge answers: the client stays.
    // Each answer is known to have been handled once the next one is served; an empty answer
    // comes last.
    for (const wchar_t *bad : {L"hostile", L"many", L"malformed", L"doctype", L"huge", L"empty"}) {
      Check(FetchServed(main, bad), "the client fetches again after the answer before");
      DWORD_PTR r;
      Check(SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &r) != 0 &&
                WaitForSingleObject(process, 0) == WAIT_TIMEOUT,
            "a hostile answer leaves the client running");
    }
    Scenario(L"normal");

    // The settings dialog.
    PostMessageW(main, WM_COMMAND, 57673, 0);
    HWND set = nullptr;
    Check(WaitFor([&] { return (set = ClientWindow(pid, Row(214))) != nullptr; }, 10000), "settings dialog open");
    if (set) {
      Check(Text(GetDlgItem(set, 1058)) == L"10" && Text(GetDlgItem(set, 1060)) == L"60", "settings: the file's values");
      Shoot(set, L"settings");
      SetWindowTextW(GetDlgItem(set, 1058), L"121");
      PostMessageW(set, WM_COMMAND, 1061, 0);
      Check(AnswerMessageBox(pid) == Row(230), "refresh 121 refused");
      SetWindowTextW(GetDlgItem(set, 1058), L"30");
      SetWindowTextW(GetDlgItem(set, 1034), L"");
      PostMessageW(set, WM_COMMAND, 1061, 0);
      Check(AnswerMessageBox(pid) == Row(228), "saved, with an empty port");
      Check(WaitFor([&] { return !IsWindow(set); }, 5000), "the dialog closes after saving");
      client::NewsSettings back;
      Check(client::LoadNewsConfig(config, back) && back.refreshMinutes == 30, "refresh 30 in the file");
    }
    PostMessageW(main, WM_COMMAND, 32776, 0);
  } else {
    Check(false, "client started");
  }
  if (process) {
    Check(WaitForSingleObject(process, 20000) == WAIT_OBJECT_0, "Exit ends the client");
    TerminateProcess(process, 9);
    CloseHandle(process);
  }
  client::CNewsDatabase saved;
  // The last answer with items held 1000 of 10 000 (m10000 first): the newest ten are kept.
  Check(client::LoadNewsDb(db, saved) && saved.HasTitle(L"m10000") && saved.Items().size() == 10,
        "the database is saved at exit, trimmed to the back count");

  if (hadHost)
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, devKey, L"BankWebHost", REG_SZ, previous, DWORD((lstrlenW(previous) + 1) * 2));
  else
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, devKey, L"BankWebHost");
  if (g_dir != L"-") {
    HANDLE f = CreateFileW((g_dir + L"\\finished").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  }
  CoUninitialize();
  fprintf(stderr, "%d failed\n", g_failures);
  return g_failures ? 1 : 0;
}
