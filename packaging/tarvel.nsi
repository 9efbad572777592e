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

; Removes the registry key $1 (under HKCU, or HKLM for $2 = "HKLM") when the command in its default value
; $0 starts the program of this folder, quoted or (as older copies wrote it) not; keys of other programs stay.
Function un.RemoveIfOurs
    StrCpy $3 '"$INSTDIR\tarvel.exe"'
    StrLen $4 $3
    StrCpy $5 $0 $4
    StrCmp $5 $3 ours
    StrCpy $3 '$INSTDIR\tarvel.exe '
    StrLen $4 $3
    StrCpy $5 $0 $4
    StrCmp $5 $3 ours
    StrCmp $0 '$INSTDIR\tarvel.exe' ours
    Return
ours:
    StrCmp $2 "HKLM" machine
    DeleteRegKey HKCU $1
    Return
machine:
    ; The machine's handler key belongs to the system: only the command that names this program goes.
    DeleteRegValue HKLM $1 ""
FunctionEnd

Section "Uninstall"
    SetShellVarContext current
    ; Every "mailto:" registration that starts this folder's tarvel.exe, and nothing else.
    StrCpy $2 "HKCU"
    ReadRegStr $0 HKCU "Software\Classes\mailto\shell\open\command" ""
    StrCpy $1 "Software\Classes\mailto"
    Call un.RemoveIfOurs
    ReadRegStr $0 HKCU "Software\Classes\TarvelPro.mailto\shell\open\command" ""
    StrCpy $1 "Software\Classes\TarvelPro.mailto"
    Call un.RemoveIfOurs
    ReadRegStr $0 HKCU "Software\Clients\Mail\Tarvel Pro\shell\open\command" ""
    StrCpy $1 "Software\Clients\Mail\Tarvel Pro"
    Call un.RemoveIfOurs
    ; Default apps lists the program as long as this value names its capabilities: it goes with them
    ; (a copy elsewhere that still has its key keeps it).
    ClearErrors
    ReadRegStr $0 HKCU "Software\Clients\Mail\Tarvel Pro" ""
    IfErrors 0 +2
    DeleteRegValue HKCU "Software\RegisteredApplications" "Tarvel Pro"
    ClearErrors
    StrCpy $2 "HKLM"
    ReadRegStr $0 HKLM "SOFTWARE\Classes\MailTo\Shell\Open\command" ""
    StrCpy $1 "SOFTWARE\Classes\MailTo\Shell\Open\command"
    Call un.RemoveIfOurs
    ReadRegStr $0 HKCU "Software\Tarvel 32" "Command Line"
    StrCmp $0 "$INSTDIR\tarvel.exe" 0 +2
    DeleteRegValue HKCU "Software\Tarvel 32" "Command Line"
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
    DeleteRegKey /ifempty HKCU "Software\Tarvel 32"
SectionEnd
