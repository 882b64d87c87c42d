; The installer of qm4107-panel for 64-bit Windows, made by scripts/windows:
;   makensis -DVERSION=... -DSTAGE=<the unpacked zip's folder> -DFILES=<its file list> -DICON=... -DOUTFILE=...
; It puts the folder under Program Files, adds Start-menu entries for the panel and the guided checkout and an
; entry in "Apps and features", and its uninstaller removes exactly what it installed. /S installs or
; uninstalls silently.
; A 64-bit installer: it runs on every 64-bit Windows, and under Wine where 32-bit programs cannot.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "QM4107开关量采集模块"
!define CHECKOUT "QM4107调试向导"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qm4107-panel"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\QM4107"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "开关量IO 模块"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetRegView 64
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File /r "${STAGE}/*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\qm4107-panel.exe" "" "$INSTDIR\qm4107-panel.exe" 0
    CreateShortCut "$SMPROGRAMS\${CHECKOUT}.lnk" "$INSTDIR\qm4107-checkout.exe" "" "$INSTDIR\qm4107-checkout.exe" 0
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qm4107-panel.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetRegView 64
    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${CHECKOUT}.lnk"
    ; One Delete per installed file and one RMDir per folder, deepest first: nothing the user put there goes.
    !include "${FILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
