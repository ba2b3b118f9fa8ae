; Plinthos for Windows: installs qorin.exe and Dravik.exe into Program Files\Plinthos, built for the
; machine's native architecture (x64 or ARM64), with a Start-menu shortcut, an entry in "Add or remove
; programs", an optional entry in the machine's PATH, and an uninstaller that keeps the backups folder.
; /S installs and uninstalls silently; /PATH=1 adds the program folder to the PATH; /D=FOLDER (last)
; installs elsewhere.
;
; scripts/package builds it: makensis -NOCD -DVERSION=3.0.2 -DSTAGE=DIR -DOUTFILE=FILE plinthos.nsi
; STAGE holds x64\qorin.exe, optionally x64\Dravik.exe and dravik.ico, and the same programs under arm64\
; when ARM64 was built. -DSIGN=PROGRAM signs the uninstaller and the setup (PROGRAM FILE signs FILE in place).

!ifndef VERSION | STAGE | OUTFILE
  !error "VERSION, STAGE and OUTFILE must be defined"
!endif

Unicode true
; The x86 stub: Windows 10 on ARM64 emulates x86 only. It installs the native x64 or ARM64 programs into
; the 64-bit Program Files. Tests on a machine whose Wine runs no 32-bit programs build the amd64 stub.
!ifdef STUB_TARGET
  Target ${STUB_TARGET}
!else
  Target x86-unicode
!endif
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!define PUBLISHER "Morvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Plinthos"
!define SHORTCUT "$SMPROGRAMS\Plinthos.lnk"
!define IMAGE_FILE_MACHINE_AMD64 34404
!define IMAGE_FILE_MACHINE_ARM64 43620
!define IMAGE_FILE_MACHINE_I386 332
; What the programs give their backups folder: Administrators own it, only they and SYSTEM write, and
; nothing is inherited from above. Every folder the setup makes gets it.
!define PROTECTED_SDDL "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"'
  !finalize '"${SIGN}" "%1"'
!endif

!if /FileExists "${STAGE}/arm64/qorin.exe"
  !define HAVE_ARM64
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

Name "Plinthos ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Plinthos"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Plinthos ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Plinthos"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "Plinthos ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 ${PUBLISHER}"

Var Arch       ; "x64" or "arm64": which programs this machine gets
Var Backups    ; the programs' backups folder, which the uninstaller keeps

!define MUI_ABORTWARNING
!if /FileExists "${STAGE}/dravik.ico"
  !define MUI_ICON "${STAGE}/dravik.ico"
  !define MUI_UNICON "${STAGE}/dravik.ico"
!endif
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "Plinthos has been removed"
!define MUI_FINISHPAGE_TEXT "Plinthos has been removed from this computer.$\r$\n$\r$\nYour boot-sector backups were kept in $Backups. They can still undo a serial change; delete that folder yourself once you no longer need them."
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; Puts the IMAGE_FILE_MACHINE value of the Windows this runs on into $0. IsWow64Process2 answers for the
; machine itself even when this x64 installer is emulated on ARM64, where GetNativeSystemInfo says x64.
Function NativeMachine
  !ifdef PRETEND_NATIVE_MACHINE
    StrCpy $0 ${PRETEND_NATIVE_MACHINE}  ; test builds only: the ARM64 branch cannot run on this machine
  !else
    System::Call 'kernel32::IsWow64Process2(p -1, *i 0 r1, *i 0 r0) i .r2'
    ; Missing before Windows 10 1709, which ran on ARM64 only in previews: there this x86 program runs
    ; under WOW64 on x64 Windows, or natively on x86 Windows.
    ${If} $2 == "error"
    ${OrIf} $2 == 0
      System::Call 'kernel32::IsWow64Process(p -1, *i 0 r1) i .r2'
      ${If} $2 <> 0
      ${AndIf} $1 <> 0
        StrCpy $0 ${IMAGE_FILE_MACHINE_AMD64}
      ${Else}
        StrCpy $0 ${IMAGE_FILE_MACHINE_I386}
      ${EndIf}
    ${EndIf}
  !endif
FunctionEnd

; The backups folder the programs use: %ProgramData%\Morvane\Plinthos\Backups.
!macro BackupsFolder un
Function ${un}BackupsFolder
  ReadEnvStr $Backups "ProgramData"
  ${If} $Backups == ""
    StrCpy $Backups "C:\ProgramData"
  ${EndIf}
  StrCpy $Backups "$Backups\Morvane\Plinthos\Backups"
FunctionEnd
!macroend
!insertmacro BackupsFolder ""
!insertmacro BackupsFolder "un."

; Puts into $2 the list $0 (entries separated by ";") without the entries equal to $1, ignoring case;
; every other entry, empty ones too, stays as it was.
!macro WithoutEntry un
Function ${un}WithoutEntry
  StrCpy $2 ""
  StrCpy $3 ""  ; the entry being read
  StrCpy $4 0   ; position in $0
  StrCpy $6 0   ; entries kept
  ${Do}
    StrCpy $5 $0 1 $4
    ${If} $5 == ";"
    ${OrIf} $5 == ""
      ${If} $3 != $1
        ${If} $6 > 0
          StrCpy $2 "$2;"
        ${EndIf}
        StrCpy $2 "$2$3"
        IntOp $6 $6 + 1
      ${EndIf}
      StrCpy $3 ""
    ${Else}
      StrCpy $3 "$3$5"
    ${EndIf}
    IntOp $4 $4 + 1
  ${LoopUntil} $5 == ""
FunctionEnd
!macroend
!insertmacro WithoutEntry ""
!insertmacro WithoutEntry "un."

; Reads the machine's PATH into $0; $9 is "" when it can be changed safely, else why not. A PATH longer
; than this setup's strings would come back cut short and must not be written back.
!macro ReadPath un
Function ${un}ReadPath
  StrCpy $9 ""
  ClearErrors
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrLen $7 $0
  StrLen $8 $INSTDIR
  IntOp $7 $7 + $8
  IntOp $7 $7 + 2
  ${If} ${Errors}
  ${OrIf} $7 >= ${NSIS_MAX_STRLEN}
    StrCpy $9 "The machine's PATH could not be read whole, so it was left as it is."
  ${EndIf}
FunctionEnd
!macroend
!insertmacro ReadPath ""
!insertmacro ReadPath "un."

; Opens folder $0 without following a link, refuses a link (a junction a user planted would hand the
; DACL to its target), and gives it PROTECTED_SDDL: owner Administrators, the DACL protected. $1 is ""
; on success, else what went wrong.
Function SecureFolder
  StrCpy $1 ""
  ; READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES, sharing everything, OPEN_EXISTING,
  ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
  System::Call 'kernel32::CreateFileW(w r0, i 0xE0080, i 7, p 0, i 3, i 0x02200000, p 0) p .r2 ?e'
  Pop $3
  ${If} $2 = -1
    StrCpy $1 "it could not be opened (error $3)"
    Return
  ${EndIf}
  ; BY_HANDLE_FILE_INFORMATION starts with its attributes; 0x400 is FILE_ATTRIBUTE_REPARSE_POINT.
  System::Call '*(&i52) p .r4'
  System::Call 'kernel32::GetFileInformationByHandle(p r2, p r4) i .r3'
  System::Call '*$4(i .r5)'
  System::Free $4
  IntOp $5 $5 & 0x400
  ${If} $3 = 0
    StrCpy $1 "its attributes could not be read"
  ${ElseIf} $5 <> 0
    StrCpy $1 "it is a link; remove it and run the setup again"
  ${Else}
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${PROTECTED_SDDL}", i 1, *p 0 r4, p 0) i .r3'
    ${If} $3 = 0
      StrCpy $1 "the security descriptor could not be made"
    ${Else}
      System::Call 'advapi32::GetSecurityDescriptorOwner(p r4, *p 0 r5, *i 0) i'
      System::Call 'advapi32::GetSecurityDescriptorDacl(p r4, *i 0, *p 0 r6, *i 0) i'
      ; SE_FILE_OBJECT; OWNER | DACL | PROTECTED_DACL_SECURITY_INFORMATION
      System::Call 'advapi32::SetSecurityInfo(p r2, i 1, i 0x80000005, p r5, p 0, p r6, p 0) i .r3'
      System::Call 'kernel32::LocalFree(p r4)'
      ${If} $3 <> 0
        StrCpy $1 "its permissions could not be set (error $3)"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r2)'
FunctionEnd

; Creates folder $0 when missing and secures it; a failure stops the setup before any program is copied.
Function MakeSecureFolder
  CreateDirectory $0
  Call SecureFolder
  ${If} $1 != ""
    MessageBox MB_OK|MB_ICONSTOP "Plinthos was not installed: the folder $0 could not be protected ($1)." /SD IDOK
    SetErrorLevel 1
    Quit
  ${EndIf}
FunctionEnd

; Files already at the programs' names may be another user's: written over, they would keep that user's
; owner and access list, or a hard link would carry the new program to that user's own copy. They go, so
; what is copied is made anew in the protected folder.
Function RemoveOldPrograms
  Delete "$INSTDIR\qorin.exe"
  Delete "$INSTDIR\Dravik.exe"
  Delete "$INSTDIR\uninstall.exe"
  ${If} ${FileExists} "$INSTDIR\qorin.exe"
  ${OrIf} ${FileExists} "$INSTDIR\Dravik.exe"
  ${OrIf} ${FileExists} "$INSTDIR\uninstall.exe"
    MessageBox MB_OK|MB_ICONSTOP "Plinthos was not installed: the folder $INSTDIR could not be protected (a program in it could not be removed; close Plinthos and run the setup again)." /SD IDOK
    SetErrorLevel 1
    Quit
  ${EndIf}
FunctionEnd

; $0 is "" when the install folder is missing, empty or holds only Plinthos' own files, else the name
; of something else in it: the setup would take that folder's permissions away from its owner.
Function ForeignEntry
  StrCpy $0 ""
  FindFirst $1 $2 "$INSTDIR\*"
  ${DoWhile} $2 != ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
    ${AndIf} $2 != "qorin.exe"
    ${AndIf} $2 != "Dravik.exe"
    ${AndIf} $2 != "uninstall.exe"
      StrCpy $0 $2
      ${Break}
    ${EndIf}
    FindNext $1 $2
  ${Loop}
  FindClose $1
FunctionEnd

!define FOREIGN_FOLDER_TEXT "Please choose a new or empty folder for Plinthos"

Function DirectoryLeave
  Call ForeignEntry
  ${If} $0 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$INSTDIR already holds other files ($0).$\r$\n${FOREIGN_FOLDER_TEXT}: only administrators may change the folder the programs run from."
    Abort
  ${EndIf}
FunctionEnd

Function .onInit
  SetShellVarContext all
  SetRegView 64
  Call NativeMachine
  ${If} $0 = ${IMAGE_FILE_MACHINE_AMD64}
    StrCpy $Arch "x64"
  ${ElseIf} $0 = ${IMAGE_FILE_MACHINE_ARM64}
    !ifdef HAVE_ARM64
      StrCpy $Arch "arm64"
    !else
      ; x64 programs would run emulated here; installing them unasked would not be what this machine needs.
      MessageBox MB_OK|MB_ICONSTOP "This Plinthos setup holds no programs for Windows on ARM64, so nothing was installed.$\r$\nPlease use a Plinthos setup built with the ARM64 programs." /SD IDOK
      SetErrorLevel 3
      Quit
    !endif
  ${Else}
    MessageBox MB_OK|MB_ICONSTOP "Plinthos runs on x64 and ARM64 Windows only (this machine's type is $0), so nothing was installed." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}

  Call PathFromCommandLine
  ${If} ${Silent}
    Call ForeignEntry
    ${If} $0 != ""
      MessageBox MB_OK|MB_ICONSTOP "$INSTDIR already holds other files ($0), so nothing was installed.$\r$\n${FOREIGN_FOLDER_TEXT}." /SD IDOK
      SetErrorLevel 3
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Plinthos" SectionPrograms
  SectionIn RO
  ; The programs' folders are protected before anything is copied into them.
  StrCpy $0 $INSTDIR
  Call MakeSecureFolder
  Call RemoveOldPrograms
  Call BackupsFolder
  ${GetParent} $Backups $R1
  ${GetParent} $R1 $R0
  StrCpy $0 $R0
  Call MakeSecureFolder
  StrCpy $0 $R1
  Call MakeSecureFolder
  StrCpy $0 $Backups
  Call MakeSecureFolder

  SetOutPath "$INSTDIR"
  ${If} $Arch == "arm64"
    !ifdef HAVE_ARM64
      File "${STAGE}/arm64/qorin.exe"
      !if /FileExists "${STAGE}/arm64/Dravik.exe"
        File "${STAGE}/arm64/Dravik.exe"
      !endif
    !endif
  ${Else}
    File "${STAGE}/x64/qorin.exe"
    !if /FileExists "${STAGE}/x64/Dravik.exe"
      File "${STAGE}/x64/Dravik.exe"
    !endif
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ${If} ${FileExists} "$INSTDIR\Dravik.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\Dravik.exe" "" "$INSTDIR\Dravik.exe" 0
    StrCpy $1 "$INSTDIR\Dravik.exe,0"
  ${Else}
    StrCpy $1 "$INSTDIR\uninstall.exe,0"
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Plinthos"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$1"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
  IntFmt $2 "0x%08X" $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $2
SectionEnd

Section /o "Add qorin to the PATH" SectionPath
  Call ReadPath
  ${If} $9 != ""
    DetailPrint $9
    MessageBox MB_OK|MB_ICONEXCLAMATION "$9$\r$\nAdd $INSTDIR to it yourself to run qorin from any folder." /SD IDOK
    Return
  ${EndIf}
  StrCpy $1 $INSTDIR
  Call WithoutEntry
  ${If} $2 != $0
    Return  ; already there: not ours to remove later
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 $INSTDIR
  ${Else}
    StrCpy $0 "$0;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "PathEntry" $INSTDIR
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
SectionEnd

; /PATH=1 ticks "Add qorin to the PATH" (off by default).
Function PathFromCommandLine
  ${GetOptions} $CMDLINE "/PATH=" $0
  ${IfNot} ${Errors}
  ${AndIf} $0 == "1"
    SectionSetFlags ${SectionPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  Call un.BackupsFolder
FunctionEnd

Section "Uninstall"
  ; The PATH entry goes only when this setup added it.
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "PathEntry"
  ${If} $1 != ""
    Call un.ReadPath
    ${If} $9 == ""
      Call un.WithoutEntry
      ${If} $2 != $0
        WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $2
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
      ${EndIf}
    ${Else}
      DetailPrint "$9 Remove $1 from it yourself."
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\qorin.exe"
  Delete "$INSTDIR\Dravik.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DetailPrint "Your boot-sector backups were kept in $Backups."
SectionEnd
