; The Windows installer: per-user, into a folder the user can write to, because zembrix.cfg lives
; beside tarvel.exe. makensis is given VERSION (from CMake's project()), SOURCE (the folder with the files)
; and OUTFILE.
Unicode false
SetCompressor /SOLID lzma
Name "Tarvel Pro"
Caption "Tarvel Pro ${VERSION} Setup"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Tarvel Pro"
InstallDirRegKey HKCU "Software\Tarvel 32" "Install Dir"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Tarvel Pro"
VIAddVersionKey "FileDescription" "Tarvel Pro Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Tarvel Pro developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvelPro"

Section "Tarvel Pro"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${SOURCE}\tarvel.exe"
    File "${SOURCE}\zembrix.ico"
    File "${SOURCE}\zembrix.url"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKCU "Software\Tarvel 32" "Install Dir" "$INSTDIR"
    CreateDirectory "$SMPROGRAMS\Tarvel Pro"
    CreateShortcut "$SMPROGRAMS\Tarvel Pro\Tarvel Pro.lnk" "$INSTDIR\tarvel.exe"
    CreateShortcut "$SMPROGRAMS\Tarvel Pro\Uninstall Tarvel Pro.lnk" "$INSTDIR\uninstall.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Tarvel Pro"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvel.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$INSTDIR\tarvel.exe"
    Delete "$INSTDIR\zembrix.ico"
    Delete "$INSTDIR\zembrix.url"
    Delete "$INSTDIR\uninstall.exe"
    ; zembrix.cfg holds the user's settings and address book: it stays, and so does the folder then.
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Tarvel Pro\Tarvel Pro.lnk"
    Delete "$SMPROGRAMS\Tarvel Pro\Uninstall Tarvel Pro.lnk"
    RMDir "$SMPROGRAMS\Tarvel Pro"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegValue HKCU "Software\Tarvel 32" "Install Dir"
SectionEnd
