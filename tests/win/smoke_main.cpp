// Smoke program: loads the token library by path, binds every export by name and calls the ones
// that need no token. Prints one line per step; exit code 0 when everything answered as expected.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char *const kExports[] = {
#include "exports_list.inc"
};

typedef unsigned(__stdcall *Fn0)(void);
typedef unsigned(__stdcall *Fn1)(void *);
typedef unsigned(__stdcall *Fn2)(void *, void *);
typedef unsigned(__stdcall *Fn3)(void *, void *, void *);
typedef unsigned(__stdcall *Fn6)(void *, void *, void *, void *, void *, void *);
typedef unsigned(__stdcall *Fn9)(void *, void *, void *, void *, void *, void *, void *, void *, void *);

}  // namespace

int main(int argc, char **argv) {
  char path[MAX_PATH];
  if (argc > 1) {
    snprintf(path, sizeof path, "%s", argv[1]);
  } else {
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char *slash = strrchr(path, '\\');
    snprintf(slash ? slash + 1 : path, MAX_PATH - (slash ? slash + 1 - path : 0), "%s",
             "ORV_KELM_Q57Tokenlib.dll");
  }
  HMODULE lib = LoadLibraryA(path);
  if (!lib) {
    printf("cannot load %s (error %lu)\n", path, GetLastError());
    return 1;
  }
  printf("loaded %s\n", path);

  int bound = 0, failures = 0;
  for (const char *name : kExports) {
    if (GetProcAddress(lib, name)) {
      ++bound;
    } else {
      printf("missing export %s\n", name);
      ++failures;
    }
  }
  printf("bound %d of %u exports by name\n", bound, (unsigned)(sizeof kExports / sizeof *kExports));

  struct Call {
    const char *name;
    unsigned expected;
    unsigned got;
  } calls[] = {
      {"zksTokenEstablishContext", 0, ((Fn0)GetProcAddress(lib, "zksTokenEstablishContext"))()},
      {"zksTokenSetLanguage", 0, ((Fn2)GetProcAddress(lib, "zksTokenSetLanguage"))(nullptr, (void *)2052)},
      {"zksTokenSelectContainerInfoEF", 0, ((Fn1)GetProcAddress(lib, "zksTokenSelectContainerInfoEF"))(nullptr)},
      {"zksTokenSelectObjectEF", 0, ((Fn1)GetProcAddress(lib, "zksTokenSelectObjectEF"))(nullptr)},
      {"zksTokenCreateEF", 0, ((Fn3)GetProcAddress(lib, "zksTokenCreateEF"))(nullptr, nullptr, nullptr)},
      {"zksTokenGetDeviceConfigInfo", 0, ((Fn6)GetProcAddress(lib, "zksTokenGetDeviceConfigInfo"))(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)},
      {"zksTokenModifyDeviceConfigInfo", 0, ((Fn6)GetProcAddress(lib, "zksTokenModifyDeviceConfigInfo"))(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)},
      {"zksTokenHashInit", 11, ((Fn2)GetProcAddress(lib, "zksTokenHashInit"))(nullptr, nullptr)},
      {"zksTokenHashFinal", 11, ((Fn3)GetProcAddress(lib, "zksTokenHashFinal"))(nullptr, nullptr, nullptr)},
      {"zksTokenUpdate", 11, ((Fn3)GetProcAddress(lib, "zksTokenUpdate"))(nullptr, nullptr, nullptr)},
      {"zksTokenGetUserInputData4QRB", 11, ((Fn6)GetProcAddress(lib, "zksTokenGetUserInputData4QRB"))(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)},
      {"zksTokenRsaPriEncrypt4QRB", 11, ((Fn9)GetProcAddress(lib, "zksTokenRsaPriEncrypt4QRB"))(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)},
      {"zksTokenReleaseContext", 0, ((Fn0)GetProcAddress(lib, "zksTokenReleaseContext"))()},
  };
  for (const Call &c : calls) {
    bool ok = c.got == c.expected;
    failures += !ok;
    printf("%-32s -> %u%s\n", c.name, c.got, ok ? "" : "  (unexpected)");
  }
  FreeLibrary(lib);
  printf(failures ? "smoke: FAILED\n" : "smoke: ok\n");
  return failures ? 1 : 0;
}
