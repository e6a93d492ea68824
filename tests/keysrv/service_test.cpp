// The key service as installed under Wine: "-i" creates the service, the service manager starts
// it, it purges our certificates from its "My" store and serves the brokered channel, a stop ends
// its loop within one poll, "-d" deletes it and takes its directory out of the search path.
// Runs the program from a copy under a folder whose name has a space, as an installer would.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "keysrv_core.h"
#include "raw_channel.h"
#include "run_program.h"
#include "service_control.h"
#include "test_certs.h"

namespace {

using testrun::binDir;
using testrun::onConsole;
using testrun::run;
using testrun::RunResult;
using svctest::removeServiceIfPresent;
using svctest::waitState;
using svctest::kService;

const char kEnvKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool readPath(std::string *value, DWORD *type) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnvKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  std::vector<char> buf(32768);
  DWORD size = static_cast<DWORD>(buf.size());
  LONG rc = RegQueryValueExA(key, "Path", nullptr, type, reinterpret_cast<BYTE *>(buf.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return false;
  value->assign(buf.data(), strnlen(buf.data(), size));
  return true;
}

bool writePath(const std::string &value, DWORD type) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnvKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  LONG rc = RegSetValueExA(key, "Path", 0, type, reinterpret_cast<const BYTE *>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

// Certificates put into the current user's "My" store, told apart by their common name.
const char kOursName[] = "UkKeySrv service test ours";
const char kForeignName[] = "UkKeySrv service test foreign";

bool addMyCert(uint8_t serial, const char *cn, const wchar_t *provider) {
  return testcerts::addToMyStore(serial, cn, provider, L"UkKeySrvServiceTest");
}

std::set<std::string> myTestCerts(bool remove) {
  std::set<std::string> names;
  HCERTSTORE store = CertOpenSystemStoreA(0, "My");
  if (!store) return names;
  PCCERT_CONTEXT c = nullptr;
  std::vector<PCCERT_CONTEXT> doomed;
  while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
    char cn[128] = {0};
    CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, cn, sizeof(cn));
    if (std::string(cn).rfind("UkKeySrv service test", 0) == 0) {
      names.insert(cn);
      if (remove) doomed.push_back(CertDuplicateCertificateContext(c));
    }
  }
  for (PCCERT_CONTEXT d : doomed) CertDeleteCertificateFromStore(d);
  if (!doomed.empty()) CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertCloseStore(store, 0);
  return names;
}

// One request cycle on the brokered channel as a client makes it: a connect to a path that does
// not exist. Returns the answer words (type, result, length word) or false without an answer.
bool connectCycle(const char *path, uint32_t *lengthWord, uint32_t *type, uint32_t *result) {
  std::string text(path);
  uint32_t pathLen = static_cast<uint32_t>(text.size() + 1);
  std::vector<uint8_t> request = rawchannel::words({4 + 4 + pathLen, 2, pathLen});
  request.insert(request.end(), text.begin(), text.end());
  request.push_back(0);
  rawchannel::Answer a;
  if (!rawchannel::cycle(request, false, &a)) return false;
  *lengthWord = a.lengthWord;
  *type = a.type;
  *result = a.result;
  return true;
}

class InstalledService : public ::testing::Test {
 protected:
  void SetUp() override {
    removeServiceIfPresent();
    char pf[MAX_PATH];
    ASSERT_TRUE(ExpandEnvironmentStringsA("%ProgramFiles%", pf, MAX_PATH));
    dir_ = std::string(pf) + "\\UkKeySrv Test";
    CreateDirectoryA(dir_.c_str(), nullptr);
    exe_ = dir_ + "\\ORV_KELM_KeySrv.exe";
    ASSERT_TRUE(CopyFileA((binDir() + "ORV_KELM_KeySrv.exe").c_str(), exe_.c_str(), FALSE))
        << GetLastError();
    ASSERT_TRUE(readPath(&savedPath_, &savedType_));
    // Entries an interrupted earlier run may have left behind.
    std::string cleaned = savedPath_;
    for (const std::string &entry : {dir_, dir_ + "2"}) {
      std::vector<char> out(cleaned.size() + 1);
      size_t n = uk::keysrv::removeSearchPathEntry(cleaned.data(), cleaned.size(), entry.c_str(),
                                                   out.data(), out.size());
      ASSERT_NE(static_cast<size_t>(-1), n);
      cleaned.assign(out.data(), n);
    }
    if (cleaned != savedPath_) {
      savedPath_ = cleaned;
      ASSERT_TRUE(writePath(savedPath_, savedType_));
    }
  }
  void TearDown() override {
    removeServiceIfPresent();
    writePath(savedPath_, savedType_);
    myTestCerts(true);
    DeleteFileA(exe_.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  RunResult keysrv(const char *args) { return run("\"" + exe_ + "\" " + args); }

  std::string dir_, exe_, savedPath_;
  DWORD savedType_ = REG_EXPAND_SZ;
};

TEST_F(InstalledService, InstallStartServeStopDelete) {
  // Install.
  RunResult r = keysrv("-i");
  EXPECT_EQ("Install successfully\r", r.out);
  EXPECT_EQ(0u, r.exitCode);

  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(nullptr, scm);
  SC_HANDLE svc = OpenServiceA(scm, kService, SERVICE_ALL_ACCESS);
  ASSERT_NE(nullptr, svc) << GetLastError();
  {
    std::vector<BYTE> buf(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(svc, reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buf.data()),
                                    static_cast<DWORD>(buf.size()), &needed));
    auto *cfg = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buf.data());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), cfg->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), cfg->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), cfg->dwErrorControl);
    // Quoted, because the folder name holds a space.
    EXPECT_EQ("\"" + exe_ + "\"", std::string(cfg->lpBinaryPathName));
    EXPECT_STREQ(kService, cfg->lpDisplayName);
    EXPECT_STREQ("LocalSystem", cfg->lpServiceStartName);
  }

  // A second install fails with the service manager's error, which is also the exit code.
  r = keysrv("-i");
  EXPECT_EQ(onConsole("Install failed,error code: 1073\n") + "Install failed\r", r.out);
  EXPECT_EQ(1073u, r.exitCode);

  // Certificates in the store the service opens: one of ours, one of another provider.
  myTestCerts(true);
  ASSERT_TRUE(addMyCert(0x41, kOursName, L"ZV UKey for ORV Cryptographic Service Provider"));
  ASSERT_TRUE(addMyCert(0x42, kForeignName, L"Microsoft Base Cryptographic Provider v1.0"));
  ASSERT_EQ((std::set<std::string>{kOursName, kForeignName}), myTestCerts(false));

  // Start through the command-line tool, as an administrator would.
  r = run("net start \"ZVUK for ORV Service\"");
  EXPECT_EQ(0u, r.exitCode) << r.out;
  ASSERT_TRUE(waitState(svc, SERVICE_RUNNING, 10000));
  {
    SERVICE_STATUS st;
    ASSERT_TRUE(QueryServiceStatus(svc, &st));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), st.dwControlsAccepted);
  }

  // The purge ran before the service reported running.
  EXPECT_EQ((std::set<std::string>{kForeignName}), myTestCerts(false));

  // The shared objects exist and the loop answers: a connect to a missing device carries the
  // system error back with the short answer.
  Sleep(200);
  HANDLE certEvent = OpenEventA(SYNCHRONIZE, FALSE, "Global\\EVENT_CERT_CHANGE_KELM_ORV");
  EXPECT_NE(nullptr, certEvent);
  if (certEvent) CloseHandle(certEvent);
  HANDLE devMutex = OpenMutexA(SYNCHRONIZE, FALSE, "MUTEX_FOR_DEVICE_EXCLUSIVE_KELM_ORV");
  EXPECT_NE(nullptr, devMutex);
  if (devMutex) CloseHandle(devMutex);
  uint32_t len = 0, type = 0, result = 0;
  ASSERT_TRUE(connectCycle("\\\\.\\UkKeySrvNoSuchDevice", &len, &type, &result));
  EXPECT_EQ(0x10002u, type);
  EXPECT_NE(0u, result);
  EXPECT_EQ(8u, len);

  // Stop: the loop ends on the stop request and the handler's poll sees it at its first check or
  // after one 1500 ms sleep.
  DWORD t0 = GetTickCount();
  SERVICE_STATUS st;
  EXPECT_TRUE(ControlService(svc, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  EXPECT_TRUE(waitState(svc, SERVICE_STOPPED, 10000));
  DWORD elapsed = GetTickCount() - t0;
  EXPECT_LT(elapsed, 3000u);
  printf("stop took %lu ms\n", static_cast<unsigned long>(elapsed));
  // The objects went with the loop.
  HANDLE req = OpenEventA(SYNCHRONIZE, FALSE, "Global\\REDODIV-REQ-EVENT-KELM_ORV");
  EXPECT_EQ(nullptr, req);
  if (req) CloseHandle(req);
  CloseServiceHandle(svc);
  CloseServiceHandle(scm);

  // Delete: the program's directory leaves the search path as a whole entry; a longer entry that
  // starts with the same text stays.
  std::string lookalike = dir_ + "2";
  std::string withUs = savedPath_ + ";" + dir_ + ";" + lookalike;
  ASSERT_TRUE(writePath(withUs, savedType_));
  r = keysrv("-d");
  EXPECT_EQ(onConsole("Delete service successfully\n"), r.out);
  EXPECT_EQ(0u, r.exitCode);
  std::string after;
  DWORD afterType = 0;
  ASSERT_TRUE(readPath(&after, &afterType));
  EXPECT_EQ(savedPath_ + ";" + lookalike, after);
  EXPECT_EQ(savedType_, afterType);

  scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  svc = OpenServiceA(scm, kService, SERVICE_QUERY_STATUS);
  EXPECT_EQ(nullptr, svc);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
  if (svc) CloseServiceHandle(svc);
  CloseServiceHandle(scm);

  // Deleting again fails and leaves the search path alone.
  ASSERT_TRUE(writePath(withUs, savedType_));
  r = keysrv("-d");
  EXPECT_EQ(onConsole("Delete failed\n"), r.out);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), r.exitCode);
  ASSERT_TRUE(readPath(&after, &afterType));
  EXPECT_EQ(withUs, after);
}

}  // namespace
