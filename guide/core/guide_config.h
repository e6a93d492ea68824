// The names the guide looks for and the addresses it opens: files and folders of the installation,
// the key service, the provider's registration, the kernel objects it shares with the other
// programs, and the paths on the bank's web server (whose host is the GUI layer's configuration,
// uicommon/core/bank_config.h). Portable: no <windows.h>.
#pragma once

namespace guide {

// Single instance: a second guide ends at once when this mutex exists.
constexpr const wchar_t *kInstanceMutex = L"OVR_GUIDE_KELM";

// Under the Program Files folder.
constexpr const wchar_t *kClientProgram = L"\\ORVToken\\kelm\\ORV_KELM_Client.exe";
constexpr const wchar_t *kTokenLibrary = L"\\ORVToken\\kelm\\ORV_KELM_Q57Tokenlib.dll";
constexpr const wchar_t *kInternetExplorer = L"\\Internet Explorer\\iexplore.exe";
// Under the common application-data folder: the downloaded client setup.
constexpr const wchar_t *kDownloadFolder = L"\\ORVToken";
constexpr const wchar_t *kSetupFile = L"\\ORV_ZV_Setup.exe";

// The key service and the provider's registration (HKEY_LOCAL_MACHINE).
constexpr const wchar_t *kKeyServiceName = L"ZVUK for ORV Service";
constexpr const wchar_t *kProviderKey =
    L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
    L"ZV UKey for ORV Cryptographic Service Provider";
// Internet Explorer's version (HKEY_LOCAL_MACHINE, value "Version").
constexpr const wchar_t *kInternetExplorerKey = L"SOFTWARE\\Microsoft\\Internet Explorer";

// Events: the step-2 page signals the first after the PIN change; the provider signals the
// second after writing a certificate to the token.
constexpr const char *kPinChangedEvent = "ORV_GURID_MODIFY_PIN_EVENT";
constexpr const char *kCertChangeEvent = "Global\\EVENT_CERT_CHANGE_KELM_ORV";

// On the bank's web server (http:// or https:// + host + path).
constexpr const wchar_t *kHomePage = L"/portal/zh_CN/home/index.html";
constexpr const wchar_t *kClientSetupDownload = L"/portal/zh_CN/upload/Attachment/orvwy.exe";
constexpr const wchar_t *kCertificateDownloadPage =
    L"/pweb/CertDownloadPre.do?UserId=orv&BankId=9999";

}  // namespace guide
