// Publisher identity of the setup programs.
//
// ORV_ZV_Setup.exe (both flavours) and its uninstaller carry an Authenticode signature made with
// a code-signing certificate whose subject is built from these values. The build's own test
// certificate is generated from them by installer/make-signing-cert.sh (the script reads the
// three defines below, so this header is the one place they are written); programs that
// download and start a setup compare the signer of the file with them before they run it.
//
// Kept free of anything but plain defines so that C, C++, resource scripts and shell scripts
// can all read it.
#pragma once

#define UK_SIGNER_COUNTRY "CN"
#define UK_SIGNER_ORGANIZATION "ZV KESTRA IT Co.,Ltd."
#define UK_SIGNER_COMMON_NAME "ZV KESTRA UKey Setup Signing (test)"

// Issuer of the test certificate: a certification authority made for the build alone. A
// release build signs with a purchased certificate instead and leaves these names unused.
#define UK_SIGNER_TEST_ROOT_COMMON_NAME "ZV KESTRA UKey Test Root CA"
