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

!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400

; Removes every entry of $INSTDIR whose name matches PATTERN, without following links.
!macro RemoveLeftovers PATTERN
    FindFirst $0 $1 "$INSTDIR\${PATTERN}"
    ${DoWhile} $1 != ""
        StrCpy $R0 "$INSTDIR\$1"
        Call un.RemoveWithoutFollowingLinks
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

; The file version of the launcher this installer carries: CARRIED_1 to CARRIED_4.
!getdllversion "${LAUNCHER_EXE}" CARRIED_

; Sets $R0 to 1 when $INSTDIR\Gatehouse.exe has a newer file version than the launcher this
; installer carries (it has updated itself through its update channel since), else to 0. A
; launcher without a version resource counts as older.
Function InstalledLauncherIsNewer
    StrCpy $R0 0
    ClearErrors
    GetDLLVersion "$INSTDIR\Gatehouse.exe" $R1 $R2
    ${IfNot} ${Errors}
        IntOp $R3 ${CARRIED_1} << 16
        IntOp $R3 $R3 | ${CARRIED_2}
        IntOp $R4 ${CARRIED_3} << 16
        IntOp $R4 $R4 | ${CARRIED_4}
        ${If} $R1 U> $R3
            StrCpy $R0 1
        ${ElseIf} $R1 = $R3
            ${If} $R2 U> $R4
                StrCpy $R0 1
            ${EndIf}
        ${EndIf}
    ${EndIf}
FunctionEnd

; Sets $R0 to the version of the launcher now in $INSTDIR in the form of VERSION (0.6.1).
Function InstalledLauncherVersion
    StrCpy $R0 "${VERSION}"
    ClearErrors
    GetDLLVersion "$INSTDIR\Gatehouse.exe" $R1 $R2
    ${IfNot} ${Errors}
        IntOp $R3 $R1 >> 16
        IntOp $R3 $R3 & 0xFFFF
        IntOp $R4 $R1 & 0xFFFF
        IntOp $R5 $R2 >> 16
        IntOp $R5 $R5 & 0xFFFF
        StrCpy $R0 "$R3.$R4.$R5"
    ${EndIf}
FunctionEnd

Section "启动器" SecLauncher
    SectionIn RO
    SetOutPath "$INSTDIR"
    ; Over an older version only the launcher is replaced: the downloaded client in GameClient,
    ; a launcher.config.json beside the launcher and the remembered account (kept per user
    ; elsewhere) stay as they are. A launcher that has updated itself past this installer's stays too.
    Call InstalledLauncherIsNewer
    ${If} $R0 = 1
        DetailPrint "已安装的启动器版本较新，保留不变。"
    ${Else}
        File "/oname=Gatehouse.exe" "${LAUNCHER_EXE}"
    ${EndIf}
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Gatehouse.exe"
    CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\Gatehouse.exe"
SectionEnd

Section "-Apps & Features"
    SectionGetSize ${SecLauncher} $0
    ; The launcher actually installed, which may be newer than this installer.
    Call InstalledLauncherVersion
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "$R0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Gatehouse.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes the file, link or folder $R0 without ever following a directory link: an entry with the
; reparse-point attribute (junction, symbolic link, mount point) is removed as one entry and the
; folder it points to keeps its files (RMDir /r would descend into it). Changes no register.
Function un.RemoveWithoutFollowingLinks
    Push $R1
    Push $R2
    Push $R3
    System::Call 'kernel32::GetFileAttributesW(w R0) i .R1'
    IntOp $R2 $R1 & ${FILE_ATTRIBUTE_REPARSE_POINT}
    IntOp $R3 $R1 & ${FILE_ATTRIBUTE_DIRECTORY}
    ${If} $R1 = -1
        ; Nothing there.
    ${ElseIf} $R3 = 0
        ; A file, or a link to one: the entry itself.
        SetFileAttributes $R0 NORMAL
        Delete $R0
    ${ElseIf} $R2 <> 0
        ; A directory link: removing it removes the link, never what it points to.
        RMDir $R0
    ${Else}
        FindFirst $R1 $R2 "$R0\*"
        ${DoWhile} $R2 != ""
            ${If} $R2 != "."
            ${AndIf} $R2 != ".."
                Push $R0
                StrCpy $R0 "$R0\$R2"
                Call un.RemoveWithoutFollowingLinks
                Pop $R0
            ${EndIf}
            FindNext $R1 $R2
        ${Loop}
        FindClose $R1
        RMDir $R0
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
FunctionEnd

Section "un.启动器和快捷方式" SecUnLauncher
    SectionIn RO
    Delete "$INSTDIR\Gatehouse.exe"
    ; What the launcher's self-update leaves beside it: the build it replaced, a download it did
    ; not finish and its lock.
    Delete "$INSTDIR\Gatehouse.exe.old"
    Delete "$INSTDIR\Gatehouse.exe.new"
    Delete "$INSTDIR\Gatehouse.exe.update.lock"
    Delete "$INSTDIR\Uninstall.exe"
    ; A launcher.config.json beside the launcher is the site's or the player's: no installer ever
    ; writes one, so none removes it (the folder then stays with it, and a new install uses it).
    ; What a rewrite of it by the launcher left behind when cut off goes.
    Delete "$INSTDIR\launcher.config.json.tmp-*"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$DESKTOP\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless the player ticks it; a silent uninstall keeps the client.
Section /o "un.已下载的游戏客户端" SecUnClient
    ; A directory link inside the client (a junction to another drive, say) goes as a link;
    ; the files it points to stay.
    StrCpy $R0 "$INSTDIR\${CLIENT}"
    Call un.RemoveWithoutFollowingLinks
    Delete "$INSTDIR\${CLIENT}.install.lock"
    ; Staging and previous folders a download that was cut off left behind.
    !insertmacro RemoveLeftovers "${CLIENT}.install-*"
    !insertmacro RemoveLeftovers "${CLIENT}.previous-*"
SectionEnd

Section "-un.Folder"
    ; Only when nothing is left in it: a kept client keeps its folder.
    RMDir "$INSTDIR"
SectionEnd
