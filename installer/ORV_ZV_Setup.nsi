; ORV_ZV_Setup.exe: installs and removes the UKey middleware.
;
; One script, two flavours (installer/build.sh runs makensis once for each):
;   -DUK_FLAVOUR=x86    32-bit Windows (Windows 2000 and later): the i686 tree.
;   -DUK_FLAVOUR=amd64  64-bit Windows: the x86-64 tree, plus the i686 libraries for 32-bit
;                       programs (a 32-bit browser loads only a 32-bit provider).
; Other definitions from build.sh: UK_VERSION (four numbers), UK_FILES (the generated include
; that lists the deliverables), UK_HELPER (uk_setup_helper.exe of the flavour's architecture),
; UK_OUTFILE, UK_SIGN (command that signs the file given as %1; not defined: unsigned).
;
; What an installation consists of:
;   - every deliverable of the tree in Program Files\ORVToken\kelm (the guide and the key service
;     look there; on 64-bit Windows the 64-bit Program Files);
;   - on 64-bit Windows the 32-bit libraries in Program Files (x86)\ORVToken\kelm;
;   - a copy of each token library in the system folder of its architecture (System32, and
;     SysWOW64 for the 32-bit one). The provider imports the token library, and CryptoAPI loads
;     the provider by its full path into programs that live anywhere: Windows then looks for
;     the imported library in the program's folder, the system folders and the "Path" of the
;     program's environment, never in the provider's own folder. Only the system folder is
;     searched by every process at once, including programs that were already running and
;     services, whose environment a change of the machine "Path" does not reach.
;   - the provider registered under its CryptoAPI name, in each registry view its architecture
;     reads;
;   - the key service installed ("-i") and running;
;   - the client's entry in the Start menu (once the tree builds the client);
;   - the uninstaller and its entry in the list of installed programs.

!ifndef UK_FLAVOUR
  !error "build with installer/build.sh"
!endif
!if "${UK_FLAVOUR}" == "amd64"
  Target amd64-unicode
!else if "${UK_FLAVOUR}" == "x86"
  Target x86-unicode
!else
  !error "UK_FLAVOUR must be x86 or amd64"
!endif
!ifndef UK_VERSION | UK_FILES | UK_HELPER | UK_OUTFILE
  !error "build with installer/build.sh"
!endif

ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma
AllowSkipFiles off
XPStyle on

!include LogicLib.nsh
!include WinVer.nsh
!include x64.nsh
!include FileFunc.nsh
!include MUI2.nsh

!include "${UK_FILES}"

!define UK_PUBLISHER "ZV KESTRA IT Co.,Ltd."
!define UK_SERVICE_EXE "ORV_KELM_KeySrv.exe"
!define UK_TOKENLIB "ORV_KELM_Q57Tokenlib.dll"
!define UK_PROVIDER_DLL "ORV_KELM_csp.dll"
!define UK_CLIENT_EXE "ORV_KELM_Client.exe"
!define UK_PROVIDER_KEY "SOFTWARE\Microsoft\Cryptography\Defaults\Provider\ZV UKey for ORV Cryptographic Service Provider"
!define UK_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ORV_ZV_UKey"
!define UK_USER_KEY "SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Client"
!define UK_COMPANY_KEY "SOFTWARE\ZV KESTRA IT Co.,Ltd."
!define UK_UNINSTALLER "Uninstall.exe"
; Win32 error codes the setup ends with when it cannot go on (0 is success; 3010 success that
; needs a restart to finish, as Windows Installer reports it).
!define UK_EXIT_ACCESS_DENIED 5
!define UK_EXIT_WRONG_MACHINE 216
!define UK_EXIT_OLD_WINDOWS 1150
!define UK_EXIT_REBOOT_REQUIRED 3010

Name "$(UkProductName)"
OutFile "${UK_OUTFILE}"
InstallDir "$PROGRAMFILES\ORVToken\kelm"
BrandingText "${UK_PUBLISHER}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${UK_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "ORV UKEY Client"
VIAddVersionKey /LANG=0 "CompanyName" "${UK_PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "ORV UKEY Client Setup (${UK_FLAVOUR})"
VIAddVersionKey /LANG=0 "FileVersion" "${UK_VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${UK_VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${UK_PUBLISHER}"
VIAddVersionKey /LANG=0 "OriginalFilename" "ORV_ZV_Setup.exe"

!ifdef UK_SIGN
  !finalize `${UK_SIGN}`
  !uninstfinalize `${UK_SIGN}`
!endif

!define MUI_ABORTWARNING
!define MUI_ICON "${NSISDIR}\Contrib\Graphics\Icons\modern-install.ico"
!define MUI_UNICON "${NSISDIR}\Contrib\Graphics\Icons\modern-uninstall.ico"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!ifdef UK_SHIPS_ORV_KELM_Client
  !define MUI_FINISHPAGE_RUN "$INSTDIR\${UK_CLIENT_EXE}"
!endif
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "TradChinese"
!include "${__FILEDIR__}\ORV_ZV_Setup_texts.nsh"

!if "${UK_FLAVOUR}" == "amd64"
  Var UkDir32      ; folder of the 32-bit libraries
  Var UkSysDir32   ; the system folder of 32-bit programs (SysWOW64)
!endif
Var UkHelper       ; the helper program in the plug-in folder
Var UkClientWasRunning

; --- Shared by the installer and the uninstaller -------------------------------------------

!macro UkSharedFunctions PREFIX
; Sets the folders for this machine and the registry view of the setup's architecture.
Function ${PREFIX}UkFolders
  SetShellVarContext all
!if "${UK_FLAVOUR}" == "amd64"
  SetRegView 64
  StrCpy $INSTDIR "$PROGRAMFILES64\ORVToken\kelm"
  ; The Program Files folder of 32-bit programs (a 64-bit setup's $PROGRAMFILES32 names the
  ; 64-bit one): CSIDL_PROGRAM_FILESX86.
  System::Call 'shell32::SHGetFolderPathW(p 0, i 0x2a, p 0, i 0, w .r0) i .r1'
  ${If} $1 <> 0
  ${OrIf} $0 == ""
    !insertmacro UkFail "$(UkNoFolder32)" $1
  ${EndIf}
  StrCpy $UkDir32 "$0\ORVToken\kelm"
  System::Call 'kernel32::GetSystemWow64DirectoryW(w .r0, i ${NSIS_MAX_STRLEN}) i .r1'
  ${If} $1 = 0
    StrCpy $0 "$WINDIR\SysWOW64"
  ${EndIf}
  StrCpy $UkSysDir32 $0
!else
  StrCpy $INSTDIR "$PROGRAMFILES\ORVToken\kelm"
!endif
FunctionEnd

; The checks every run makes before it changes anything.
Function ${PREFIX}UkCheckMachine
  ${IfNot} ${AtLeastWin2000}
    MessageBox MB_OK|MB_ICONSTOP "$(UkNeedsWin2000)" /SD IDOK
    SetErrorLevel ${UK_EXIT_OLD_WINDOWS}
    Quit
  ${EndIf}
!if "${UK_FLAVOUR}" == "x86"
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "$(UkNeeds64BitSetup)" /SD IDOK
    SetErrorLevel ${UK_EXIT_WRONG_MACHINE}
    Quit
  ${EndIf}
!endif
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "$(UkNeedsAdmin)" /SD IDOK
    SetErrorLevel ${UK_EXIT_ACCESS_DENIED}
    Quit
  ${EndIf}
FunctionEnd

; Runs the helper: Push the arguments, Call; Pop the exit code. Its lines go to the details.
Function ${PREFIX}UkRunHelper
  Exch $0
  ${If} $UkHelper == ""
    InitPluginsDir
    StrCpy $UkHelper "$PLUGINSDIR\uk_setup_helper.exe"
    SetOutPath "$PLUGINSDIR"
    File "/oname=uk_setup_helper.exe" "${UK_HELPER}"
  ${EndIf}
  nsExec::ExecToLog '"$UkHelper" $0'
  Pop $0
  Exch $0
FunctionEnd

; The folders whose programs the setup must end before it replaces or removes them.
Function ${PREFIX}UkClosePrograms
!if "${UK_FLAVOUR}" == "amd64"
  Push 'close-programs "$INSTDIR" "$UkDir32"'
!else
  Push 'close-programs "$INSTDIR"'
!endif
  Call ${PREFIX}UkRunHelper
  Pop $0
  ${If} $0 != 0
    !insertmacro UkFail "$(UkProgramsBusy)" $0
  ${EndIf}
FunctionEnd

Function ${PREFIX}UkStopService
  DetailPrint "$(UkStoppingService)"
  Push "stop-service"
  Call ${PREFIX}UkRunHelper
  Pop $0
  ${If} $0 != 0
    !insertmacro UkFail "$(UkServiceStopFailed)" $0
  ${EndIf}
FunctionEnd
!macroend

; Stops the run: tells the user (not in silent mode) and ends with the given exit code.
!macro UkFail TEXT CODE
  StrCpy $0 ${CODE}
  DetailPrint "${TEXT}"
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel $0
  Abort
!macroend

!insertmacro UkSharedFunctions ""
!insertmacro UkSharedFunctions "un."

; --- Installation ----------------------------------------------------------------------------

; Moves a file that is in use (a library loaded by a running program) out of the way: it can
; be renamed though not overwritten; the old copy is deleted at the next restart.
; Push the path; Call.
Function UkMoveAside
  Exch $0
  Push $1
  Push $2
  StrCpy $2 0
  ${Do}
    StrCpy $1 "$0.old$2"
    IntOp $2 $2 + 1
  ${LoopWhile} ${FileExists} $1
  ClearErrors
  Rename "$0" "$1"
  ${IfNot} ${Errors}
    Delete /REBOOTOK "$1"
    DetailPrint "$(UkInUse): $0"
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Puts one file in place (used by the generated list of deliverables).
!macro UkInstallFile DIR SRC NAME
  SetOutPath "${DIR}"
  ClearErrors
  Delete "${DIR}\${NAME}"
  ${If} ${Errors}
    Push "${DIR}\${NAME}"
    Call UkMoveAside
  ${EndIf}
  File "${SRC}"
!macroend

!macro UkRegisterProvider VIEW DIR
  SetRegView ${VIEW}
  ClearErrors
  WriteRegStr HKLM "${UK_PROVIDER_KEY}" "Image Path" "${DIR}\${UK_PROVIDER_DLL}"
  WriteRegDWORD HKLM "${UK_PROVIDER_KEY}" "Type" 1
  ${If} ${Errors}
    !insertmacro UkFail "$(UkProviderFailed)" 1
  ${EndIf}
!macroend

Function .onInit
  Call UkCheckMachine
  Call UkFolders
FunctionEnd

Section "-install"
  ; A program of ours that runs now (the tray client after it downloaded this setup) holds its
  ; files; it is ended before they are replaced and started again afterwards.
  StrCpy $UkClientWasRunning 0
  ${If} ${FileExists} "$INSTDIR\${UK_CLIENT_EXE}"
    Push 'program-running "$INSTDIR\${UK_CLIENT_EXE}"'
    Call UkRunHelper
    Pop $0
    ${If} $0 = 0
      StrCpy $UkClientWasRunning 1
    ${EndIf}
  ${EndIf}
  Call UkStopService
  Call UkClosePrograms

  DetailPrint "$(UkCopyingFiles)"
  !insertmacro UkInstallDeliverables "$INSTDIR"
  !insertmacro UkInstallFile "$SYSDIR" "${UK_STAGE}\${UK_TOKENLIB}" "${UK_TOKENLIB}"
!if "${UK_FLAVOUR}" == "amd64"
  !insertmacro UkInstallDeliverables32 "$UkDir32"
  !insertmacro UkInstallFile "$UkSysDir32" "${UK_STAGE32}\${UK_TOKENLIB}" "${UK_TOKENLIB}"
!endif

!ifdef UK_SHIPS_ORV_KELM_csp
  DetailPrint "$(UkRegisteringProvider)"
  !if "${UK_FLAVOUR}" == "amd64"
    !insertmacro UkRegisterProvider 64 "$INSTDIR"
  !else
    !insertmacro UkRegisterProvider default "$INSTDIR"
  !endif
!endif
!ifdef UK_SHIPS32_ORV_KELM_csp
    !insertmacro UkRegisterProvider 32 "$UkDir32"
    SetRegView 64
!endif

  ; The client's entry in the common Start menu, in the folder of the setup's language; the
  ; folder is recorded so that an upgrade in another language and the uninstaller find it.
  ReadRegStr $0 HKLM "${UK_UNINSTALL_KEY}" "StartMenuFolder"
  ${If} $0 != ""
    Delete "$0\*.lnk"
    RMDir "$0"
  ${EndIf}
!ifdef UK_SHIPS_ORV_KELM_Client
  CreateDirectory "$SMPROGRAMS\$(UkProductName)"
  CreateShortCut "$SMPROGRAMS\$(UkProductName)\$(UkProductName).lnk" "$INSTDIR\${UK_CLIENT_EXE}"
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "StartMenuFolder" "$SMPROGRAMS\$(UkProductName)"
!else
  DeleteRegValue HKLM "${UK_UNINSTALL_KEY}" "StartMenuFolder"
!endif

  WriteUninstaller "$INSTDIR\${UK_UNINSTALLER}"
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "DisplayName" "$(UkProductName)"
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "DisplayVersion" "${UK_VERSION}"
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "Publisher" "${UK_PUBLISHER}"
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UK_UNINSTALLER}"
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UK_UNINSTALLER}"'
  WriteRegStr HKLM "${UK_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UK_UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UK_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UK_UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UK_UNINSTALL_KEY}" "EstimatedSize" $0

  ; The key service: installed once (an installation being upgraded keeps its entry, which
  ; names the same program file), then started.
  DetailPrint "$(UkInstallingService)"
  nsExec::ExecToLog '"$INSTDIR\${UK_SERVICE_EXE}" -i'
  Pop $0
  ${If} $0 != 0
  ${AndIf} $0 != 1073  ; ERROR_SERVICE_EXISTS
    !insertmacro UkFail "$(UkServiceInstallFailed)" $0
  ${EndIf}
  DetailPrint "$(UkStartingService)"
  Push "start-service"
  Call UkRunHelper
  Pop $0
  ${If} $0 != 0
    !insertmacro UkFail "$(UkServiceStartFailed)" $0
  ${EndIf}

  ${If} $UkClientWasRunning = 1
    Exec '"$INSTDIR\${UK_CLIENT_EXE}" /min'
  ${EndIf}
  IfRebootFlag 0 +2
    SetErrorLevel ${UK_EXIT_REBOOT_REQUIRED}
SectionEnd

; --- Removal -----------------------------------------------------------------------------------

Function un.onInit
  Call un.UkCheckMachine
  Call un.UkFolders
FunctionEnd

Section "un.remove"
  Call un.UkStopService
  Call un.UkClosePrograms

  ; The key service deletes its entry and takes its own folder out of the machine "Path".
  DetailPrint "$(UkRemovingService)"
  ${If} ${FileExists} "$INSTDIR\${UK_SERVICE_EXE}"
    nsExec::ExecToLog '"$INSTDIR\${UK_SERVICE_EXE}" -d'
    Pop $0
    ${If} $0 != 0
    ${AndIf} $0 != 1060  ; ERROR_SERVICE_DOES_NOT_EXIST
      DetailPrint "$(UkServiceRemoveFailed)"
    ${EndIf}
  ${EndIf}

  ; Each provider adds its folder to the machine "Path" when it is loaded by an administrator;
  ; the folders come out whether or not the service's own clean-up ran.
!if "${UK_FLAVOUR}" == "amd64"
  Push 'remove-path "$INSTDIR" "$UkDir32"'
!else
  Push 'remove-path "$INSTDIR"'
!endif
  Call un.UkRunHelper
  Pop $0

  ; Certificates registered for the provider in this user's store (the client removes them
  ; when it exits; a client that was ended leaves them behind).
  DetailPrint "$(UkRemovingCertificates)"
  Push "purge-store"
  Call un.UkRunHelper
  Pop $0

!if "${UK_FLAVOUR}" == "amd64"
  SetRegView 32
  DeleteRegKey HKLM "${UK_PROVIDER_KEY}"
  DeleteRegKey /ifempty HKLM "${UK_COMPANY_KEY}"
  SetRegView 64
!endif
  DeleteRegKey HKLM "${UK_PROVIDER_KEY}"
  DeleteRegKey /ifempty HKLM "${UK_COMPANY_KEY}"
  DeleteRegKey HKCU "${UK_USER_KEY}"
  DeleteRegKey /ifempty HKCU "${UK_COMPANY_KEY}"

  Delete /REBOOTOK "$SYSDIR\${UK_TOKENLIB}"
  RMDir /r /REBOOTOK "$INSTDIR"
  RMDir "$INSTDIR\.."
!if "${UK_FLAVOUR}" == "amd64"
  Delete /REBOOTOK "$UkSysDir32\${UK_TOKENLIB}"
  RMDir /r /REBOOTOK "$UkDir32"
  RMDir "$UkDir32\.."
!endif
  ReadRegStr $0 HKLM "${UK_UNINSTALL_KEY}" "StartMenuFolder"
  ${If} $0 != ""
    Delete "$0\*.lnk"
    RMDir "$0"
  ${EndIf}
  ; Downloaded setups, the version file and the news kept by the programs.
  RMDir /r "$APPDATA\ORVToken"

  DeleteRegKey HKLM "${UK_UNINSTALL_KEY}"
  IfRebootFlag 0 +2
    SetErrorLevel ${UK_EXIT_REBOOT_REQUIRED}
SectionEnd
