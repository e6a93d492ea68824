; Texts of the setup and the uninstaller in the three languages of the UKey programs. The setup
; shows the language of the user's Windows (English where it is neither Chinese).
; "$0" in a text is the Win32 error code of the failing step.

LangString UkProductName ${LANG_ENGLISH} "ORV UKEY Client"
LangString UkProductName ${LANG_SIMPCHINESE} "索伦银行UKEY客户端工具"
LangString UkProductName ${LANG_TRADCHINESE} "索倫銀行UKEY用戶端工具"

LangString UkNeedsWin2000 ${LANG_ENGLISH} "This software needs Windows 2000 or later."
LangString UkNeedsWin2000 ${LANG_SIMPCHINESE} "本软件需要Windows 2000或更高版本。"
LangString UkNeedsWin2000 ${LANG_TRADCHINESE} "本軟體需要Windows 2000或更新版本。"

LangString UkNeeds64BitSetup ${LANG_ENGLISH} "This setup is for 32-bit Windows. Please run the setup for 64-bit Windows."
LangString UkNeeds64BitSetup ${LANG_SIMPCHINESE} "本安装程序适用于32位Windows，请运行64位Windows的安装程序。"
LangString UkNeeds64BitSetup ${LANG_TRADCHINESE} "本安裝程式適用於32位元Windows，請執行64位元Windows的安裝程式。"

LangString UkNeedsAdmin ${LANG_ENGLISH} "Installing needs administrator rights. Please log on as an administrator and run the setup again."
LangString UkNeedsAdmin ${LANG_SIMPCHINESE} "安装需要管理员权限，请以管理员身份登录后重新运行安装程序。"
LangString UkNeedsAdmin ${LANG_TRADCHINESE} "安裝需要系統管理員權限，請以系統管理員身分登入後重新執行安裝程式。"

LangString UkStoppingService ${LANG_ENGLISH} "Stopping the UKEY key service..."
LangString UkStoppingService ${LANG_SIMPCHINESE} "正在停止UKEY密钥服务..."
LangString UkStoppingService ${LANG_TRADCHINESE} "正在停止UKEY金鑰服務..."

LangString UkCopyingFiles ${LANG_ENGLISH} "Copying the program files..."
LangString UkCopyingFiles ${LANG_SIMPCHINESE} "正在复制程序文件..."
LangString UkCopyingFiles ${LANG_TRADCHINESE} "正在複製程式檔案..."

LangString UkInUse ${LANG_ENGLISH} "In use, replaced at the next restart"
LangString UkInUse ${LANG_SIMPCHINESE} "文件正在使用，将在重新启动后替换"
LangString UkInUse ${LANG_TRADCHINESE} "檔案正在使用，將在重新啟動後取代"

LangString UkRegisteringProvider ${LANG_ENGLISH} "Registering the UKEY cryptographic service provider..."
LangString UkRegisteringProvider ${LANG_SIMPCHINESE} "正在注册UKEY加密服务提供程序..."
LangString UkRegisteringProvider ${LANG_TRADCHINESE} "正在註冊UKEY密碼編譯服務提供者..."

LangString UkInstallingService ${LANG_ENGLISH} "Installing the UKEY key service..."
LangString UkInstallingService ${LANG_SIMPCHINESE} "正在安装UKEY密钥服务..."
LangString UkInstallingService ${LANG_TRADCHINESE} "正在安裝UKEY金鑰服務..."

LangString UkStartingService ${LANG_ENGLISH} "Starting the UKEY key service..."
LangString UkStartingService ${LANG_SIMPCHINESE} "正在启动UKEY密钥服务..."
LangString UkStartingService ${LANG_TRADCHINESE} "正在啟動UKEY金鑰服務..."

LangString UkRemovingService ${LANG_ENGLISH} "Removing the UKEY key service..."
LangString UkRemovingService ${LANG_SIMPCHINESE} "正在删除UKEY密钥服务..."
LangString UkRemovingService ${LANG_TRADCHINESE} "正在刪除UKEY金鑰服務..."

LangString UkRemovingCertificates ${LANG_ENGLISH} "Removing the UKEY certificates from the certificate store..."
LangString UkRemovingCertificates ${LANG_SIMPCHINESE} "正在从证书存储中删除UKEY证书..."
LangString UkRemovingCertificates ${LANG_TRADCHINESE} "正在從憑證存放區中刪除UKEY憑證..."

LangString UkServiceStopFailed ${LANG_ENGLISH} "The UKEY key service could not be stopped (error $0)."
LangString UkServiceStopFailed ${LANG_SIMPCHINESE} "无法停止UKEY密钥服务(错误 $0)。"
LangString UkServiceStopFailed ${LANG_TRADCHINESE} "無法停止UKEY金鑰服務(錯誤 $0)。"

LangString UkProgramsBusy ${LANG_ENGLISH} "A running UKEY program could not be closed (error $0). Please close it and run the setup again."
LangString UkProgramsBusy ${LANG_SIMPCHINESE} "无法关闭正在运行的UKEY程序(错误 $0)，请关闭后重新运行安装程序。"
LangString UkProgramsBusy ${LANG_TRADCHINESE} "無法關閉正在執行的UKEY程式(錯誤 $0)，請關閉後重新執行安裝程式。"

LangString UkProviderFailed ${LANG_ENGLISH} "The UKEY cryptographic service provider could not be registered."
LangString UkProviderFailed ${LANG_SIMPCHINESE} "无法注册UKEY加密服务提供程序。"
LangString UkProviderFailed ${LANG_TRADCHINESE} "無法註冊UKEY密碼編譯服務提供者。"

LangString UkServiceInstallFailed ${LANG_ENGLISH} "The UKEY key service could not be installed (error $0)."
LangString UkServiceInstallFailed ${LANG_SIMPCHINESE} "无法安装UKEY密钥服务(错误 $0)。"
LangString UkServiceInstallFailed ${LANG_TRADCHINESE} "無法安裝UKEY金鑰服務(錯誤 $0)。"

LangString UkServiceStartFailed ${LANG_ENGLISH} "The UKEY key service could not be started (error $0)."
LangString UkServiceStartFailed ${LANG_SIMPCHINESE} "无法启动UKEY密钥服务(错误 $0)。"
LangString UkServiceStartFailed ${LANG_TRADCHINESE} "無法啟動UKEY金鑰服務(錯誤 $0)。"

LangString UkServiceRemoveFailed ${LANG_ENGLISH} "The UKEY key service could not be removed (error $0)."
LangString UkServiceRemoveFailed ${LANG_SIMPCHINESE} "无法删除UKEY密钥服务(错误 $0)。"
LangString UkServiceRemoveFailed ${LANG_TRADCHINESE} "無法刪除UKEY金鑰服務(錯誤 $0)。"

LangString UkNoFolder32 ${LANG_ENGLISH} "The Program Files folder of 32-bit programs was not found (error $0)."
LangString UkNoFolder32 ${LANG_SIMPCHINESE} "找不到32位程序的Program Files文件夹(错误 $0)。"
LangString UkNoFolder32 ${LANG_TRADCHINESE} "找不到32位元程式的Program Files資料夾(錯誤 $0)。"
