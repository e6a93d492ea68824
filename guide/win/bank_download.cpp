// Step 1's use of the bank's web server: the network check (the home page opened and its size
// asked for), the download of the client setup with its progress dialog, and the check that a
// downloaded setup is the bank's own signed program. All three go through the HTTP file client,
// the download dialog and the setup-signature check, which this tree does not have yet. Until
// they are here the network counts as unreachable, nothing is downloaded, and no file counts as
// the bank's setup, so the repair never starts a program it has not verified.
#include "environment_win.h"

namespace guide {

NetworkResult CWinEnvironment::CheckNetwork() {
  NetworkResult r;
  r.stage = NetworkResult::kOpenFailed;
  r.code = ERROR_CALL_NOT_IMPLEMENTED;
  return r;
}

bool CWinEnvironment::DownloadSetup(const std::wstring &) { return false; }

bool CWinEnvironment::IsTrustedSetup(const std::wstring &) { return false; }

}  // namespace guide
