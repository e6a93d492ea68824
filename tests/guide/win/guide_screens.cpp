// Screenshot driver of the guide (scripts/screenshots.sh runs it under Wine on a virtual display,
// once per language, in the project's prefix and against the emulator the script started). It
// makes the prefix look like a customer's computer with the client installed — the token
// library and the client program where the setup puts them, the provider's registration, the
// key service, the bank's home page served from here, a stand-in for Internet Explorer — runs
// the guide with a factory-PIN token, writes a certificate while step 3 waits for one, and
// brings the guide into each state to be pictured. Everything it added to the prefix is taken
// away again at the end, and the browser settings the guide repairs are put back as they were. For each picture it creates <dir>\request-<name> and waits until the
// script has taken it and created <dir>\done-<name>.
//   guide_screens.exe DIR LANGUAGE_ID
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../../common/shot_request.h"
#include "guide_driver.h"
#include "uk_tokensim_client.h"

using namespace guidetest;

namespace {

std::wstring g_dir;
const std::wstring kKelmFolder = L"C:\\Program Files\\ORVToken\\kelm";
const wchar_t kProviderKey[] =
    L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\ZV UKey for ORV Cryptographic Service Provider";
const wchar_t kDeveloperKey[] = L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer";
const wchar_t kSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\";
const wchar_t *const kZoneValues[] = {L"2201", L"1405", L"1201", L"2000", L"120B", L"1209",
                                      L"1208", L"1200", L"120a", L"1004", L"1001", L"2500"};

bool Exists(const std::wstring &p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Shoot(const wchar_t *name, HWND settle) { return shots::Request(g_dir, name, settle); }

// The bank's home page, answered to every request on 127.0.0.1 (the guide's network check).
class HomePageServer {
 public:
  bool Start() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa)) return false;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (listener_ == INVALID_SOCKET || bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) ||
        listen(listener_, 8) || getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len))
      return false;
    port_ = ntohs(a.sin_port);
    thread_ = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
    return thread_ != nullptr;
  }
  void Stop() {
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    listener_ = INVALID_SOCKET;
    if (thread_) {
      WaitForSingleObject(thread_, 5000);
      CloseHandle(thread_);
    }
    WSACleanup();
  }
  int Port() const { return port_; }

 private:
  static DWORD WINAPI Serve(void *p) {
    HomePageServer *s = static_cast<HomePageServer *>(p);
    for (;;) {
      SOCKET c = accept(s->listener_, nullptr, nullptr);
      if (c == INVALID_SOCKET) return 0;
      std::string request;
      char buf[1024];
      int n;
      while (request.find("\r\n\r\n") == std::string::npos && (n = recv(c, buf, sizeof buf, 0)) > 0)
        request.append(buf, size_t(n));
      std::string body(2000, 'x');
      std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2000\r\n"
                           "Connection: close\r\n\r\n" + body;
      send(c, answer.data(), int(answer.size()), 0);
      shutdown(c, SD_SEND);
      closesocket(c);
    }
  }
  SOCKET listener_ = INVALID_SOCKET;
  HANDLE thread_ = nullptr;
  int port_ = 0;
};

// What the driver changed in the prefix, and how to take it back.
class Staging {
 public:
  ~Staging() { Undo(); }

  void Install(const std::wstring &bin) {
    if (!Exists(L"C:\\Program Files\\ORVToken")) {
      CreateDirectoryW(L"C:\\Program Files\\ORVToken", nullptr);
      folders_.push_back(L"C:\\Program Files\\ORVToken");
    }
    if (!Exists(kKelmFolder)) {
      CreateDirectoryW(kKelmFolder.c_str(), nullptr);
      folders_.push_back(kKelmFolder);
    }
    for (const wchar_t *name : {L"ORV_KELM_Q57Tokenlib.dll", L"ORV_KELM_Client.exe"}) {
      std::wstring to = kKelmFolder + L"\\" + name;
      if (!Exists(to) && CopyFileW((bin + name).c_str(), to.c_str(), TRUE)) files_.push_back(to);
    }
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
    } else if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                               nullptr) == ERROR_SUCCESS) {
      DWORD type = 1;
      RegSetValueExW(key, L"Type", 0, REG_DWORD, reinterpret_cast<BYTE *>(&type), sizeof type);
      RegCloseKey(key);
      providerKey_ = true;
    }
    // Internet Explorer's stand-in, which only records its start (step 3 opens the bank's page).
    if (MoveFileExW(kBrowser, kBrowserSaved, MOVEFILE_REPLACE_EXISTING) || !Exists(kBrowser)) {
      browserMoved_ = Exists(kBrowserSaved);
      CopyFileW((bin + L"browser_probe.exe").c_str(), kBrowser, FALSE);
      browserCopied_ = true;
    }
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceW(m, L"ZVUK for ORV Service", SERVICE_QUERY_STATUS) : nullptr;
    if (s) CloseServiceHandle(s);
    if (m) CloseServiceHandle(m);
    if (!s) {
      keyService_ = bin + L"ORV_KELM_KeySrv.exe";
      Run(L"\"" + keyService_ + L"\" -i");
    }
  }

  // The browser settings the guide may repair, and the bank host it reaches.
  void RememberSettings(const std::wstring &domain) {
    domain_ = std::wstring(kSettings) + L"ZoneMap\\Domains\\" + domain;
    HKEY key;
    domainExisted_ = RegOpenKeyExW(HKEY_CURRENT_USER, domain_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (domainExisted_) RegCloseKey(key);
    for (int zone : {2, 3})
      for (const wchar_t *name : kZoneValues) {
        Saved v{zone, name, 0, false};
        DWORD size = sizeof v.value;
        v.present = RegGetValueW(HKEY_CURRENT_USER, (std::wstring(kSettings) + L"Zones\\" + std::to_wstring(zone)).c_str(),
                                 name, RRF_RT_REG_DWORD, nullptr, &v.value, &size) == ERROR_SUCCESS;
        saved_.push_back(v);
      }
    wchar_t host[256] = {0};
    DWORD size = sizeof host;
    hadHost_ = RegGetValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost", RRF_RT_REG_SZ, nullptr, host, &size) ==
               ERROR_SUCCESS;
    host_ = host;
  }

  void Undo() {
    if (!keyService_.empty()) {
      Run(L"net stop \"ZVUK for ORV Service\"");
      Run(L"\"" + keyService_ + L"\" -d");
      keyService_.clear();
    }
    if (browserCopied_) DeleteFileW(kBrowser);
    if (browserMoved_) MoveFileExW(kBrowserSaved, kBrowser, MOVEFILE_REPLACE_EXISTING);
    browserCopied_ = browserMoved_ = false;
    for (const std::wstring &f : files_) DeleteFileW(f.c_str());
    files_.clear();
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(it->c_str());
    folders_.clear();
    if (providerKey_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProviderKey);
    providerKey_ = false;
    for (const Saved &v : saved_) {
      HKEY key;
      std::wstring path = std::wstring(kSettings) + L"Zones\\" + std::to_wstring(v.zone);
      if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) continue;
      if (v.present) RegSetValueExW(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v.value), sizeof v.value);
      else RegDeleteValueW(key, v.name);
      RegCloseKey(key);
    }
    saved_.clear();
    if (!domain_.empty() && !domainExisted_) RegDeleteTreeW(HKEY_CURRENT_USER, domain_.c_str());
    domain_.clear();
    if (restoreHost_) {
      HKEY key;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeveloperKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        if (hadHost_)
          RegSetValueExW(key, L"BankWebHost", 0, REG_SZ, reinterpret_cast<const BYTE *>(host_.c_str()),
                         DWORD((host_.size() + 1) * sizeof(wchar_t)));
        else RegDeleteValueW(key, L"BankWebHost");
        RegCloseKey(key);
      }
      restoreHost_ = false;
    }
  }

  void PointAt(int port) {
    std::wstring host = L"127.0.0.1:" + std::to_wstring(port);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankWebHost", REG_SZ, host.c_str(),
                    DWORD((host.size() + 1) * sizeof(wchar_t)));
    restoreHost_ = true;
  }

 private:
  static void Run(std::wstring line) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
      return;
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  struct Saved {
    int zone;
    const wchar_t *name;
    DWORD value;
    bool present;
  };
  static constexpr const wchar_t *kBrowser = L"C:\\Program Files\\Internet Explorer\\iexplore.exe";
  static constexpr const wchar_t *kBrowserSaved = L"C:\\Program Files\\Internet Explorer\\iexplore.exe.uk-saved";
  std::vector<std::wstring> files_, folders_;
  bool browserMoved_ = false, browserCopied_ = false;
  bool providerKey_ = false;
  std::wstring keyService_;
  std::vector<Saved> saved_;
  std::wstring domain_;
  bool domainExisted_ = false;
  bool hadHost_ = false, restoreHost_ = false;
  std::wstring host_;
};

std::wstring BankDomain() {
  wchar_t domain[256] = L"orvbank.example";
  DWORD size = sizeof domain;
  RegGetValueW(HKEY_LOCAL_MACHINE, kDeveloperKey, L"BankDomain", RRF_RT_REG_SZ, nullptr, domain, &size);
  return domain;
}

int Drive(int language, const std::string &serial) {
  GuideProcess guide;
  if (!guide.Start() || !guide.Main()) return 1;
  HWND main = guide.Main();
  SetCursorPos(1000, 740);
  // Step 2 waits for the new PIN.
  if (!WaitFor([&] { return Visible(guide.Page(kPin)) && guide.ItemText(kPin, 1019) == GuideString(14, language); },
               60000)) {
    fwprintf(stderr, L"step 2 not reached: %ls\n", guide.ItemText(kPin, 1019).c_str());
    return 1;
  }
  HWND oldPin = guide.Item(kPin, 1001), newPin = guide.Item(kPin, 1013), confirm = guide.Item(kPin, 1002);
  GuideProcess::Type(oldPin, L"482915");
  GuideProcess::Type(newPin, L"Abc123");
  GuideProcess::Type(confirm, L"Abc124");
  Shoot(L"step2-pin", main);
  GuideProcess::Click(guide.Item(kPin, 1003));
  HWND box = nullptr;
  if (WaitFor([&] { return (box = guide.MessageBox()) != nullptr; }, 10000)) {
    Shoot(L"step2-message", box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return guide.MessageBox() == nullptr; }, 10000);
  }

  // Step 1 again, finished, with and without its detail window.
  GuideProcess::Click(guide.StepButton(kSoftware));
  WaitFor([&] { return Visible(guide.Page(kSoftware)); }, 5000);
  Shoot(L"step1", main);
  GuideProcess::Click(guide.Item(kSoftware, 1005));
  WaitFor([&] { return Visible(guide.Details()); }, 5000);
  Shoot(L"step1-details", guide.Details());
  PostMessageW(guide.Details(), WM_COMMAND, 1031, 0);
  WaitFor([&] { return !Visible(guide.Details()); }, 5000);

  GuideProcess::Click(guide.StepButton(kPin));
  WaitFor([&] { return Visible(guide.Page(kPin)); }, 5000);
  GuideProcess::Type(confirm, L"Abc123");
  GuideProcess::Click(guide.Item(kPin, 1003));
  // Step 3 without a certificate: the bank's page opened (a probe here), the step waiting.
  if (!WaitFor([&] { return Visible(guide.Page(kCertificate)) && guide.ItemText(kCertificate, 1018) == GuideString(16, language); },
               60000)) {
    fwprintf(stderr, L"step 3 not waiting: %ls\n", guide.ItemText(kCertificate, 1018).c_str());
    return 1;
  }
  Shoot(L"step3-waiting", main);
  // The certificate arrives, and the signal with it.
  std::string why;
  if (!e2e::PrepareToken(serial, "Abc123", "shots-" + serial, L"Zhang Wei", L"Li Na", &why)) {
    fwprintf(stderr, L"token: %hs\n", why.c_str());
    return 1;
  }
  if (HANDLE e = CreateEventW(nullptr, TRUE, FALSE, L"Global\\EVENT_CERT_CHANGE_KELM_ORV")) {
    SetEvent(e);
    CloseHandle(e);
  }
  if (!WaitFor([&] { return Visible(guide.Page(kExit)); }, 60000)) {
    fwprintf(stderr, L"step 4 not reached: %ls\n", guide.ItemText(kCertificate, 1018).c_str());
    return 1;
  }
  Shoot(L"step4", main);
  GuideProcess::Click(guide.StepButton(kCertificate));
  WaitFor([&] { return Visible(guide.Page(kCertificate)); }, 5000);
  Shoot(L"step3-certificate", main);
  GuideProcess::Click(guide.StepButton(kExit));
  return guide.ExitCode(10000) == 1 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: guide_screens DIR LANGUAGE_ID\n");
    return 2;
  }
  g_dir = argv[1];
  DWORD lang = wcstoul(argv[2], nullptr, 10);
  int language = ui::MapLanguageId(lang) < 0 ? 0 : ui::MapLanguageId(lang);
  tokensim::Client sim;
  if (!sim.fromSetting()) {
    fwprintf(stderr, L"no emulator configured\n");
    return 1;
  }
  std::string serial = tokensim::uniqueSerial("GS");
  if (!sim.createToken(serial, {{"label", "ORV UKey"}})) return 1;
  int rc = 1;
  RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Client", L"Language", REG_DWORD,
                  &lang, sizeof lang);
  // A certificate-change signal left from an earlier write would end step 3's wait at once.
  if (HANDLE e = CreateEventW(nullptr, TRUE, FALSE, L"Global\\EVENT_CERT_CHANGE_KELM_ORV")) {
    ResetEvent(e);
    CloseHandle(e);
  }
  Staging staging;
  HomePageServer server;
  staging.RememberSettings(BankDomain());
  staging.Install(e2e::ProgramPath(L""));
  if (server.Start()) {
    staging.PointAt(server.Port());
    rc = Drive(language, serial);
  }
  staging.Undo();
  server.Stop();
  sim.deleteToken(serial);
  HANDLE f = CreateFileW((g_dir + L"\\finished").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return rc;
}
