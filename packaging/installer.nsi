; The player's installer: a per-user install of the launcher into %LOCALAPPDATA%\Programs\曜石纪元,
; without elevation, so that the launcher can download the game client into the GameClient
; folder beside itself. Built by packaging/make-installer, which defines VERSION (0.6.1),
; VERSION4 (0.6.1.0), LAUNCHER_EXE, ICON and OUT_FILE, and SIGN_COMMAND when the uninstaller is
; to be signed.

; 64-bit like the launcher, which no 32-bit Windows can run anyway.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
; No build times in the installer: installed files get the time they are installed at.
SetDateSave off

!include MUI2.nsh
!include LogicLib.nsh

!define PRODUCT "曜石纪元"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Gatehouse"
; The launcher's install directory (its built-in configuration) with its lock file beside it.
!define CLIENT "GameClient"

; Removes every folder of $INSTDIR whose name matches PATTERN.
!macro RemoveLeftovers PATTERN
    FindFirst $0 $1 "$INSTDIR\${PATTERN}"
    ${DoWhile} $1 != ""
        RMDir /r "$INSTDIR\$1"
        FindNext $0 $1
    ${Loop}
    FindClose $0
!macroend

Name "${PRODUCT}"
Caption "${PRODUCT} 安装"
UninstallCaption "${PRODUCT} 卸载"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails hide
ShowUninstDetails hide

!ifdef SIGN_COMMAND
    ; The uninstaller is written at install time: sign it while it is built, before it is packed.
    !uninstfinalize '"${SIGN_COMMAND}" "%1"'
!endif

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Gatehouse.exe"
!define MUI_FINISHPAGE_RUN_TEXT "启动${PRODUCT}"
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_TEXT_TOP "启动器、快捷方式和“应用和功能”中的条目将被删除。$\r$\n已下载的游戏客户端默认保留，重新安装后无需再次下载。"
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"

Section "启动器" SecLauncher
    SectionIn RO
    SetOutPath "$INSTDIR"
    ; Over an older version only the launcher is replaced: the downloaded client in GameClient
    ; and the remembered account (kept per user elsewhere) stay as they are.
    File "/oname=Gatehouse.exe" "${LAUNCHER_EXE}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Gatehouse.exe"
    CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\Gatehouse.exe"
SectionEnd

Section "-Apps & Features"
    SectionGetSize ${SecLauncher} $0
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Gatehouse.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "un.启动器和快捷方式" SecUnLauncher
    SectionIn RO
    Delete "$INSTDIR\Gatehouse.exe"
    Delete "$INSTDIR\Uninstall.exe"
    ; The configuration beside the launcher, which the launcher may rewrite when it upgrades it.
    Delete "$INSTDIR\launcher.config.json"
    Delete "$INSTDIR\launcher.config.json.tmp-*"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$DESKTOP\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless the player ticks it; a silent uninstall keeps the client.
Section /o "un.已下载的游戏客户端" SecUnClient
    RMDir /r "$INSTDIR\${CLIENT}"
    Delete "$INSTDIR\${CLIENT}.install.lock"
    ; Staging and previous folders a download that was cut off left behind.
    !insertmacro RemoveLeftovers "${CLIENT}.install-*"
    !insertmacro RemoveLeftovers "${CLIENT}.previous-*"
SectionEnd

Section "-un.Folder"
    ; Only when nothing is left in it: a kept client keeps its folder.
    RMDir "$INSTDIR"
SectionEnd
