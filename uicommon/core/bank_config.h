// The bank's web server, as the client manager and the guide reach it. The built-in values below
// hold for the deployment; a machine-wide setting (HKLM, administrators only) may name another
// host, so that tests point the programs at a local server:
//   HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer  "BankWebHost"  REG_SZ  "127.0.0.1:8080"
//                                                       "BankDomain"   REG_SZ  "127.0.0.1"
#pragma once

namespace config {

// Host (and optional ":port") of the bank's web server: news, version file, setup programs,
// the personal web-banking page.
constexpr const wchar_t *kBankWebHost = L"ebank.orvbank.example";
// The bank's domain (trusted-site settings).
constexpr const wchar_t *kBankDomain = L"orvbank.example";
// Path of the personal web-banking entry page (opened with https).
constexpr const wchar_t *kPersonalBankingPath = L"/pweb/";
// The client's software update: the version file the bank publishes, and the setup program taken
// when that file names none (both on the bank's host, over http).
constexpr const wchar_t *kVersionFilePath = L"/portal/zh_CN/upload/Attachment/version.ini";
constexpr const wchar_t *kDefaultSetupPath = L"/update/ORV_ZV_Setup.exe";

// Where the override lives.
constexpr const wchar_t *kDeveloperKey = L"SOFTWARE\\ZV KESTRA IT Co.,Ltd.\\UKey Developer";
constexpr const wchar_t *kWebHostValue = L"BankWebHost";
constexpr const wchar_t *kDomainValue = L"BankDomain";

}  // namespace config
