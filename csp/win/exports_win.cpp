// DllMain and the provider's exports. Every CP* entry point passes through one frame: the core
// returns 0 or an error code; the frame turns it into TRUE, or FALSE with the code as the
// thread's last error. Nothing else in the provider touches the last-error value.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <new>

#include "csp_config.h"
#include "dialogs_win.h"
#include "host_win.h"

namespace cspwin {
namespace {

struct ProcessState {
  WinHost host;
  WinDialogs dialogs{host};
  csp::Provider provider{host, dialogs};
};

ProcessState *gState = nullptr;

template <class Call>
BOOL frame(Call call) {
  uint32_t rc;
  if (!gState) {
    rc = csp::kErrNotEnoughMemory;  // the process state could not be allocated at load
  } else {
    try {
      rc = call(gState->provider);
    } catch (...) {
      rc = csp::kNteFail;
    }
  }
  if (rc == csp::kOk) return TRUE;
  SetLastError(rc);
  return FALSE;
}

// A core call that hands out a handle: the caller's variable is written only on success.
template <class Call>
uint32_t handleOut(ULONG_PTR *out, Call call) {
  uintptr_t h = 0;
  uint32_t rc = call(out ? &h : nullptr);
  if (rc == csp::kOk) *out = h;
  return rc;
}

}  // namespace

csp::Provider *provider() { return gState ? &gState->provider : nullptr; }

}  // namespace cspwin

using cspwin::frame;
using cspwin::handleOut;
using Provider = csp::Provider;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    // The provider stays loaded once loaded. advapi32 frees it after a failed CPAcquireContext
    // of the only context, and unloading it (and the libraries only it uses) would overwrite the
    // error the caller is about to read; the button-confirmation threads must not outlive it
    // either.
    // (GetModuleHandleExA is bound at run time: Windows 2000 lacks it.)
    using PinFn = BOOL(WINAPI *)(DWORD, LPCSTR, HMODULE *);
    auto pin = reinterpret_cast<PinFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetModuleHandleExA")));
    HMODULE self = nullptr;
    if (!pin || !pin(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(&DllMain), &self)) {
      char path[MAX_PATH];
      if (GetModuleFileNameA(module, path, sizeof path)) LoadLibraryA(path);
    }
    cspwin::gState = new (std::nothrow) cspwin::ProcessState;
    DisableThreadLibraryCalls(module);
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    cspwin::addModuleDirectoryToPath(module);
  } else if (reason == DLL_PROCESS_DETACH && !reserved) {
    delete cspwin::gState;
    cspwin::gState = nullptr;
    CoUninitialize();
  }
  return TRUE;
}

BOOL WINAPI CPAcquireContext(HCRYPTPROV *prov, LPSTR container, DWORD flags, void *) {
  return frame([&](Provider &p) {
    return handleOut(prov, [&](uintptr_t *h) { return p.acquireContext(h, container, flags); });
  });
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV prov, DWORD flags) {
  return frame([&](Provider &p) { return p.releaseContext(prov, flags); });
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV prov, DWORD param, BYTE *data, DWORD *len, DWORD flags) {
  return frame([&](Provider &p) {
    return p.getProvParam(prov, param, data, reinterpret_cast<uint32_t *>(len), flags);
  });
}

BOOL WINAPI CPSetProvParam(HCRYPTPROV prov, DWORD param, const BYTE *data, DWORD flags) {
  return frame([&](Provider &p) { return p.setProvParam(prov, param, data, flags); });
}

BOOL WINAPI CPGenKey(HCRYPTPROV prov, ALG_ID algid, DWORD flags, HCRYPTKEY *key) {
  return frame([&](Provider &p) {
    return handleOut(key, [&](uintptr_t *h) { return p.genKey(prov, algid, flags, h); });
  });
}

BOOL WINAPI CPDeriveKey(HCRYPTPROV prov, ALG_ID algid, HCRYPTHASH hash, DWORD flags, HCRYPTKEY *key) {
  return frame([&](Provider &p) {
    return handleOut(key, [&](uintptr_t *h) { return p.deriveKey(prov, algid, hash, flags, h); });
  });
}

BOOL WINAPI CPDestroyKey(HCRYPTPROV prov, HCRYPTKEY key) {
  return frame([&](Provider &p) { return p.destroyKey(prov, key); });
}

BOOL WINAPI CPSetKeyParam(HCRYPTPROV prov, HCRYPTKEY key, DWORD param, const BYTE *data, DWORD flags) {
  return frame([&](Provider &p) { return p.setKeyParam(prov, key, param, data, flags); });
}

BOOL WINAPI CPGetKeyParam(HCRYPTPROV prov, HCRYPTKEY key, DWORD param, BYTE *data, DWORD *len,
                          DWORD flags) {
  return frame([&](Provider &p) {
    return p.getKeyParam(prov, key, param, data, reinterpret_cast<uint32_t *>(len), flags);
  });
}

BOOL WINAPI CPExportKey(HCRYPTPROV prov, HCRYPTKEY key, HCRYPTKEY expKey, DWORD type, DWORD flags,
                        BYTE *data, DWORD *len) {
  return frame([&](Provider &p) {
    return p.exportKey(prov, key, expKey, type, flags, data, reinterpret_cast<uint32_t *>(len));
  });
}

BOOL WINAPI CPImportKey(HCRYPTPROV prov, const BYTE *data, DWORD len, HCRYPTKEY impKey, DWORD flags,
                        HCRYPTKEY *key) {
  return frame([&](Provider &p) {
    return handleOut(key, [&](uintptr_t *h) { return p.importKey(prov, data, len, impKey, flags, h); });
  });
}

BOOL WINAPI CPEncrypt(HCRYPTPROV prov, HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags,
                      BYTE *data, DWORD *len, DWORD bufLen) {
  return frame([&](Provider &p) {
    return p.encrypt(prov, key, hash, final != FALSE, flags, data, reinterpret_cast<uint32_t *>(len),
                     bufLen);
  });
}

BOOL WINAPI CPDecrypt(HCRYPTPROV prov, HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags,
                      BYTE *data, DWORD *len) {
  return frame([&](Provider &p) {
    return p.decrypt(prov, key, hash, final != FALSE, flags, data, reinterpret_cast<uint32_t *>(len));
  });
}

BOOL WINAPI CPCreateHash(HCRYPTPROV prov, ALG_ID algid, HCRYPTKEY key, DWORD flags, HCRYPTHASH *hash) {
  return frame([&](Provider &p) {
    return handleOut(hash, [&](uintptr_t *h) { return p.createHash(prov, algid, key, flags, h); });
  });
}

BOOL WINAPI CPHashData(HCRYPTPROV prov, HCRYPTHASH hash, const BYTE *data, DWORD len, DWORD flags) {
  return frame([&](Provider &p) { return p.hashData(prov, hash, data, len, flags); });
}

BOOL WINAPI CPHashSessionKey(HCRYPTPROV prov, HCRYPTHASH hash, HCRYPTKEY key, DWORD flags) {
  return frame([&](Provider &p) { return p.hashSessionKey(prov, hash, key, flags); });
}

BOOL WINAPI CPSignHash(HCRYPTPROV prov, HCRYPTHASH hash, DWORD keySpec, LPCWSTR, DWORD flags,
                       BYTE *sig, DWORD *len) {
  return frame([&](Provider &p) {
    return p.signHash(prov, hash, keySpec, flags, sig, reinterpret_cast<uint32_t *>(len));
  });
}

BOOL WINAPI CPDestroyHash(HCRYPTPROV prov, HCRYPTHASH hash) {
  return frame([&](Provider &p) { return p.destroyHash(prov, hash); });
}

BOOL WINAPI CPVerifySignature(HCRYPTPROV prov, HCRYPTHASH hash, const BYTE *sig, DWORD len,
                              HCRYPTKEY key, LPCWSTR, DWORD flags) {
  return frame([&](Provider &p) { return p.verifySignature(prov, hash, sig, len, key, flags); });
}

BOOL WINAPI CPGenRandom(HCRYPTPROV prov, DWORD len, BYTE *out) {
  return frame([&](Provider &p) { return p.genRandom(prov, len, out); });
}

BOOL WINAPI CPGetUserKey(HCRYPTPROV prov, DWORD keySpec, HCRYPTKEY *key) {
  return frame([&](Provider &p) {
    return handleOut(key, [&](uintptr_t *h) { return p.getUserKey(prov, keySpec, h); });
  });
}

BOOL WINAPI CPSetHashParam(HCRYPTPROV prov, HCRYPTHASH hash, DWORD param, const BYTE *data, DWORD flags) {
  return frame([&](Provider &p) { return p.setHashParam(prov, hash, param, data, flags); });
}

BOOL WINAPI CPGetHashParam(HCRYPTPROV prov, HCRYPTHASH hash, DWORD param, BYTE *data, DWORD *len,
                           DWORD flags) {
  return frame([&](Provider &p) {
    return p.getHashParam(prov, hash, param, data, reinterpret_cast<uint32_t *>(len), flags);
  });
}

BOOL WINAPI CPDuplicateHash(HCRYPTPROV prov, HCRYPTHASH hash, DWORD *reserved, DWORD flags,
                            HCRYPTHASH *out) {
  return frame([&](Provider &p) {
    return handleOut(out, [&](uintptr_t *h) { return p.duplicateHash(prov, hash, reserved, flags, h); });
  });
}

BOOL WINAPI CPDuplicateKey(HCRYPTPROV prov, HCRYPTKEY key, DWORD *reserved, DWORD flags,
                           HCRYPTKEY *out) {
  return frame([&](Provider &p) {
    return handleOut(out, [&](uintptr_t *h) { return p.duplicateKey(prov, key, reserved, flags, h); });
  });
}

BOOL WINAPI zksGetCode(BYTE *buf, DWORD *len) {
  return csp::providerCode(buf, reinterpret_cast<uint32_t *>(len));
}

}  // extern "C"
