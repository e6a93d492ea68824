// Two programs using one token at the same time through the brokered road, as the provider in a
// browser and the client manager do: the token library's DLL in two processes, each holding the
// device-exclusive mutex around its whole sequences, every device exchange going through the
// installed key service. For a minute (UK_SHARED_SECONDS) one process signs and has every
// signature verified by Wine's own CryptoAPI, the other lists the containers, reads the
// certificate and the label, and writes, reads back and deletes a data object. Both must finish
// in time with every step succeeding.
//
// The same program is both workers: started with "--worker signer|manager SERIAL SECONDS FILE"
// it runs one of them and writes its tally to FILE.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../common/win_signature_check.h"
#include "../keysrv/run_program.h"
#include "../keysrv/service_control.h"
#include "uk_test_main.h"
#include "uk_tokenlib.h"
#include "uk_tokensim_client.h"

namespace {

using wintest::Bytes;

const char kPin[] = "482915";
const char kContainer[] = "shared";
const char kDataId[] = "shared-data";

// The test certificate: a DER-looking blob whose header gives its length.
Bytes certificate() {
  Bytes c(700);
  for (size_t i = 0; i < c.size(); ++i) c[i] = uint8_t(i * 29 + 5);
  c[0] = 0x30;
  c[1] = 0x82;
  c[2] = uint8_t((c.size() - 4) >> 8);
  c[3] = uint8_t(c.size() - 4);
  return c;
}

// ---- the workers ---------------------------------------------------------------------------

// One token sequence under the device-exclusive mutex: finds the token by serial, connects,
// selects the PKI application and verifies the user PIN, runs the body, logs out and
// disconnects. The failing step, if any, in *why.
class Session {
 public:
  explicit Session(const std::string &serial) : serial_(serial) {
    mutex_ = CreateMutexA(nullptr, FALSE, UK_DEVICE_EXCLUSIVE_MUTEX);
  }
  ~Session() {
    if (mutex_) CloseHandle(mutex_);
  }

  template <class Body>
  bool run(Body body, std::string *why) {
    DWORD w = WaitForSingleObject(mutex_, INFINITE);
    if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) return fail("device mutex", 0, why);
    bool ok = open(why) && body(&dev_, why);
    if (dev_.connection) {
      zksTokenResetUserPinVerifyFlag(&dev_);
      zksTokenDisconnect(&dev_);
    }
    ReleaseMutex(mutex_);
    return ok;
  }

  static bool fail(const char *step, uint32_t rc, std::string *why) {
    char b[160];
    snprintf(b, sizeof b, "%s: 0x%08x", step, unsigned(rc));
    *why = b;
    return false;
  }

 private:
  bool open(std::string *why) {
    UK_DEV_INFO devs[8];
    memset(devs, 0, sizeof devs);
    uint32_t count = 8;
    uint32_t rc = zksTokenListDevices(UK_PROJECT_NAME, devs, &count);
    if (rc) return fail("zksTokenListDevices", rc, why);
    for (uint32_t i = 0; i < count && i < 8; ++i) {
      if (!strstr(devs[i].devicePath, serial_.c_str())) continue;
      dev_ = devs[i];
      if ((rc = zksTokenConnect(&dev_, 0)) != 0) return fail("zksTokenConnect", rc, why);
      if ((rc = zksTokenSelectPkiWorkDF(&dev_, 0)) != 0)
        return fail("zksTokenSelectPkiWorkDF", rc, why);
      uint8_t tries = 0;
      rc = zksTokenVerifyUserPin(&dev_, reinterpret_cast<const uint8_t *>(kPin), 6, &tries);
      return rc ? fail("zksTokenVerifyUserPin", rc, why) : true;
    }
    return fail("token not listed", count, why);
  }

  std::string serial_;
  HANDLE mutex_ = nullptr;
  UK_DEV_INFO dev_{};
};

bool findContainer(UK_DEV_INFO *d, UK_CONTAINER_INFO *c, std::string *why) {
  memset(c, 0, sizeof *c);
  snprintf(c->name, sizeof c->name, "%s", kContainer);
  uint32_t rc = zksTokenGetContainerByName(d, c, kContainer);
  return rc ? Session::fail("zksTokenGetContainerByName", rc, why) : true;
}

// Signs a fresh message with the container's signature key, waiting for the button as the
// provider does; the signature and the public key come back for checking outside the mutex.
bool signOnce(UK_DEV_INFO *d, const Bytes &msg, Bytes *sig, UK_RSA_PUBLIC_KEY *pub,
              std::string *why) {
  UK_CONTAINER_INFO c;
  if (!findContainer(d, &c, why)) return false;
  uint32_t rc = zksTokenReadRsaPubKey(d, &c, pub, UK_KEYSPEC_SIGNATURE);
  if (rc) return Session::fail("zksTokenReadRsaPubKey", rc, why);
  Bytes di = wintest::sha1DigestInfo(msg);
  uint8_t out[256];
  uint32_t len = sizeof out;
  rc = zksTokenRsaPriEncrypt(d, &c, di.data(), uint32_t(di.size()), out, &len,
                             UK_KEYSPEC_SIGNATURE, 1);
  for (int polls = 0; rc == UKLR_SIGN_PENDING && polls < 500; ++polls) {
    Sleep(10);
    len = sizeof out;
    rc = zksTokenRsaPriEncryptFinal(d, out, &len, 0);
  }
  if (rc) return Session::fail("zksTokenRsaPriEncrypt", rc, why);
  sig->assign(out, out + len);
  return true;
}

bool manageOnce(UK_DEV_INFO *d, int round, std::string *why) {
  UK_CONTAINER_INFO all[5];
  uint32_t n = 0;
  uint32_t rc = zksTokenListContainers(d, all, &n);
  if (rc) return Session::fail("zksTokenListContainers", rc, why);
  if (n != 1 || strcmp(all[0].name, kContainer) != 0) return Session::fail("container list", n, why);
  uint8_t cert[4096];
  uint32_t len = sizeof cert;
  if ((rc = zksTokenReadCert(d, &all[0], cert, &len, UK_KEYSPEC_SIGNATURE)) != 0)
    return Session::fail("zksTokenReadCert", rc, why);
  if (Bytes(cert, cert + len) != certificate()) return Session::fail("certificate bytes", len, why);
  char label[128] = {0};
  len = sizeof label;
  if ((rc = zksTokenGetDeviceLabel(d, label, &len)) != 0)
    return Session::fail("zksTokenGetDeviceLabel", rc, why);
  if (strcmp(label, "Shared") != 0) return Session::fail("label", len, why);

  UK_DATA_OBJECT_INFO obj{};
  memcpy(obj.name, "round", 5);
  obj.id[0] = uint8_t(strlen(kDataId));
  memcpy(obj.id + 1, kDataId, strlen(kDataId));
  Bytes data(150);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(round + i);
  if ((rc = zksTokenWriteDataObject(d, &obj, data.data(), uint32_t(data.size()))) != 0)
    return Session::fail("zksTokenWriteDataObject", rc, why);
  uint8_t back[255];
  len = sizeof back;
  if ((rc = zksTokenReadDataObject(d, &obj, back, &len)) != 0)
    return Session::fail("zksTokenReadDataObject", rc, why);
  if (Bytes(back, back + len) != data) return Session::fail("data object bytes", len, why);
  if ((rc = zksTokenDeleteDataObject(d, &obj)) != 0)
    return Session::fail("zksTokenDeleteDataObject", rc, why);
  return true;
}

// Runs one worker for the given time; its tally ("rounds N" or "failed ...") goes to the file.
int worker(const std::string &role, const std::string &serial, DWORD seconds,
           const std::string &file) {
  Session session(serial);
  std::string why;
  int rounds = 0;
  const DWORD start = GetTickCount();
  bool ok = true;
  while (ok && GetTickCount() - start < seconds * 1000) {
    if (role == "signer") {
      Bytes msg = {uint8_t(rounds), uint8_t(rounds >> 8), 's', 'i', 'g', 'n'};
      Bytes sig;
      UK_RSA_PUBLIC_KEY pub;
      ok = session.run([&](UK_DEV_INFO *d, std::string *w) { return signOnce(d, msg, &sig, &pub, w); },
                       &why);
      if (ok && !wintest::cryptoApiVerifies(pub, msg, sig)) {
        why = "signature does not verify";
        ok = false;
      }
    } else {
      ok = session.run([&](UK_DEV_INFO *d, std::string *w) { return manageOnce(d, rounds, w); },
                       &why);
    }
    if (ok) ++rounds;
  }
  FILE *f = fopen(file.c_str(), "w");
  if (f) {
    if (ok)
      fprintf(f, "rounds %d\n", rounds);
    else
      fprintf(f, "failed in round %d: %s\n", rounds, why.c_str());
    fclose(f);
  }
  return ok ? 0 : 1;
}

// ---- the test ------------------------------------------------------------------------------

bool brokeredSystem() {
  OSVERSIONINFOA v;
  ZeroMemory(&v, sizeof(v));
  v.dwOSVersionInfoSize = sizeof(v);
  return GetVersionExA(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion > 5;
}

DWORD sharedSeconds() {
  char v[32] = {0};
  DWORD n = GetEnvironmentVariableA("UK_SHARED_SECONDS", v, sizeof v);
  DWORD s = (n && n < sizeof v) ? DWORD(strtoul(v, nullptr, 10)) : 0;
  return s ? s : 60;
}

std::string readFile(const std::string &path) {
  std::string s;
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return s;
  char buf[512];
  size_t got;
  while ((got = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, got);
  fclose(f);
  return s;
}

class SharedToken : public testing::Test {
 protected:
  void SetUp() override {
    if (!brokeredSystem()) GTEST_SKIP() << "the library opens devices directly on this version";
    ASSERT_TRUE(sim_.fromSetting()) << "no emulator named in the machine-wide setting";
    serial_ = tokensim::uniqueSerial("SH");
    // The button is pressed at once, so the signer goes through the wait and the fetch.
    ASSERT_TRUE(sim_.createToken(serial_, {{"label", "Shared"}, {"button", "auto"}}))
        << sim_.lastError();
    svctest::removeServiceIfPresent();
    testrun::RunResult r = testrun::run("\"" + testrun::binDir() + "ORV_KELM_KeySrv.exe\" -i");
    ASSERT_EQ(0u, r.exitCode) << r.out;
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, scm);
    SC_HANDLE svc = OpenServiceA(scm, svctest::kService, SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, svc);
    bool started = StartServiceA(svc, 0, nullptr) && svctest::waitState(svc, SERVICE_RUNNING, 10000);
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    ASSERT_TRUE(started);

    // A container with a signature key pair and a certificate, made through the service too.
    Session setup(serial_);
    std::string why;
    ASSERT_TRUE(setup.run(
        [](UK_DEV_INFO *d, std::string *w) {
          UK_CONTAINER_INFO c{};
          snprintf(c.name, sizeof c.name, "%s", kContainer);
          uint32_t rc = zksTokenNewContainer(d, &c);
          if (!rc) rc = zksTokenGenRsaKeyPair(d, &c, UK_KEYSPEC_SIGNATURE);
          Bytes cert = certificate();
          if (!rc) rc = zksTokenWriteCert(d, &c, cert.data(), uint32_t(cert.size()), UK_KEYSPEC_SIGNATURE);
          return rc ? Session::fail("setup", rc, w) : true;
        },
        &why))
        << why;
  }
  void TearDown() override {
    svctest::removeServiceIfPresent();
    if (!serial_.empty()) sim_.deleteToken(serial_);
  }

  tokensim::Client sim_;
  std::string serial_;
};

TEST_F(SharedToken, SignerAndManagerTogetherForAMinute) {
  const DWORD seconds = sharedSeconds();
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string exe = testrun::binDir() + "tokenlib_shared_token_win_test.exe";
  const char *roles[2] = {"signer", "manager"};
  HANDLE procs[2] = {nullptr, nullptr};
  std::string files[2];
  for (int i = 0; i < 2; ++i) {
    files[i] = std::string(temp) + "uk-shared-" + serial_ + "-" + roles[i] + ".txt";
    DeleteFileA(files[i].c_str());
    std::string cmd = "\"" + exe + "\" --worker " + roles[i] + " " + serial_ + " " +
                      std::to_string(seconds) + " \"" + files[i] + "\"";
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                               &pi))
        << GetLastError();
    CloseHandle(pi.hThread);
    procs[i] = pi.hProcess;
  }
  // No hang: both end within the minute and a generous margin for the last round.
  DWORD w = WaitForMultipleObjects(2, procs, TRUE, (seconds + 60) * 1000);
  EXPECT_EQ(WAIT_OBJECT_0, w) << "a worker hangs";
  for (int i = 0; i < 2; ++i) {
    DWORD code = 0xFFFFFFFF;
    if (w != WAIT_OBJECT_0) TerminateProcess(procs[i], 99);
    GetExitCodeProcess(procs[i], &code);
    CloseHandle(procs[i]);
    std::string tally = readFile(files[i]);
    DeleteFileA(files[i].c_str());
    EXPECT_EQ(0u, code) << roles[i] << ": " << tally;
    int rounds = 0;
    EXPECT_EQ(1, sscanf(tally.c_str(), "rounds %d", &rounds)) << roles[i] << ": " << tally;
    // Each program gets its turns: neither is starved by the other.
    EXPECT_GE(rounds, 3) << roles[i];
    printf("%s: %d rounds in %lu s\n", roles[i], rounds, static_cast<unsigned long>(seconds));
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 6 && strcmp(argv[1], "--worker") == 0)
    return worker(argv[2], argv[3], DWORD(strtoul(argv[4], nullptr, 10)), argv[5]);
  return uktest::runAll(&argc, argv);
}
