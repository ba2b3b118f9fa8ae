; Plinthos for Windows: installs qorin.exe and Dravik.exe into Program Files\Plinthos, built for the
; machine's native architecture (x64 or ARM64), with a Start-menu shortcut, an entry in "Add or remove
; programs" and an uninstaller that keeps the backups folder. /S installs and uninstalls silently.
;
; scripts/package builds it: makensis -NOCD -DVERSION=3.0.2 -DSTAGE=DIR -DOUTFILE=FILE plinthos.nsi
; STAGE holds x64\qorin.exe, optionally x64\Dravik.exe and dravik.ico, and the same programs under arm64\
; when ARM64 was built.

!ifndef VERSION | STAGE | OUTFILE
  !error "VERSION, STAGE and OUTFILE must be defined"
!endif

Unicode true
; The 64-bit stub: it runs on x64 Windows and, emulated, on Windows 11 on ARM64 (and under wine64).
Target amd64-unicode
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!define PUBLISHER "Morvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Plinthos"
!define SHORTCUT "$SMPROGRAMS\Plinthos.lnk"
!define IMAGE_FILE_MACHINE_AMD64 34404
!define IMAGE_FILE_MACHINE_ARM64 43620

!if /FileExists "${STAGE}/arm64/qorin.exe"
  !define HAVE_ARM64
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

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
    ; Missing before Windows 10 1709: such a Windows runs x64 programs only natively.
    ${If} $2 == "error"
    ${OrIf} $2 == 0
      StrCpy $0 ${IMAGE_FILE_MACHINE_AMD64}
    ${EndIf}
  !endif
FunctionEnd

; The backups folder the programs use: %ProgramData%\Morvane\Plinthos\Backups.
Function un.BackupsFolder
  ReadEnvStr $Backups "ProgramData"
  ${If} $Backups == ""
    StrCpy $Backups "C:\ProgramData"
  ${EndIf}
  StrCpy $Backups "$Backups\Morvane\Plinthos\Backups"
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
FunctionEnd

Section "Plinthos"
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

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  Call un.BackupsFolder
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\qorin.exe"
  Delete "$INSTDIR\Dravik.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DetailPrint "Your boot-sector backups were kept in $Backups."
SectionEnd
