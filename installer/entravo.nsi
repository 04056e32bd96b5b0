; Per-user installer for the Entravo logon agent. Needs no administrator rights: everything
; goes under the user's own profile and HKEY_CURRENT_USER.
;
; makensis -DARCH=win32|win64 -DVERSION=<x.y.z> -DBINDIR=<folder with the .exe files>
;          -DGUIDE=<user guide> -DOUTFILE=<setup.exe> installer/entravo.nsi
; (the build's "installer" target does this; scripts/package.sh makes both architectures)
;
; Silent use: setup.exe /S installs with the start at logon; uninstall.exe /S removes the
; program and leaves the settings, uninstall.exe /S /PURGE removes the settings too.

; The 64-bit installer is a 64-bit program itself, like the agent it installs.
!if "${ARCH}" == "win64"
  Target amd64-unicode
!else
  Target x86-unicode
!endif
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Vantok Entravo"
!ifndef VERSION
  !define VERSION "1.0.0"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Entravo"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Entravo"
!define PROFILE_KEY "Software\Entravo\logonagent"

Name "${PRODUCT}"
!if "${ARCH}" == "win64"
  Caption "${PRODUCT} ${VERSION} Setup (64-bit: only for a 64-bit bus library)"
!endif
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Entravo"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Harrowgate"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) Harrowgate"

!define MUI_FINISHPAGE_RUN "$INSTDIR\logonagent.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start the logon agent now"
!insertmacro MUI_PAGE_WELCOME
; The description under the list, one line wide, rather than in a narrow box beside it.
!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running agent holds its program file open: ask the user to end it rather than end it
; behind their back. A silent run cannot ask, so it fails with status 2 and changes nothing.
!macro WAIT_FOR_NO_RUNNING_AGENT un
Function ${un}WaitForNoRunningAgent
  retry:
  FindWindow $0 "VornStarter" "VornStarter"
  StrCmp $0 0 done
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "The logon agent is running. Exit it (right-click its icon, then Exit) and press Retry." \
    /SD IDCANCEL IDRETRY retry
  SetErrorLevel 2
  Quit
  done:
FunctionEnd
!macroend
!insertmacro WAIT_FOR_NO_RUNNING_AGENT ""
!insertmacro WAIT_FOR_NO_RUNNING_AGENT "un."

Section "!Logon agent" SecProgram
  SectionIn RO
  SetShellVarContext current
  Call WaitForNoRunningAgent
  ; Installing again without the start at logon must take the old entry away.
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  SetOutPath "$INSTDIR"
  File "${BINDIR}\logonagent.exe"
  File "${BINDIR}\lampup.exe"
  File "/oname=User guide.txt" "${GUIDE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\logonagent.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\User guide.lnk" "$INSTDIR\User guide.txt"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start at logon" SecRun
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\logonagent.exe"'
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The tray agent and the program that lights the reader."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecRun} "Starts the agent each time you log on to Windows."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  SetShellVarContext current
  ; Deleting at the next restart needs administrator rights, which this uninstaller never has.
  Call un.WaitForNoRunningAgent
  Delete "$INSTDIR\logonagent.exe"
  Delete "$INSTDIR\lampup.exe"
  Delete "$INSTDIR\User guide.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\User guide.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; The settings stay unless the user asks for them to go.
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PURGE" $R1
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "${PROFILE_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Entravo"
  ${ElseIfNot} ${Silent}
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "Also remove your settings (ports, access URL)?" IDNO keep
    DeleteRegKey HKCU "${PROFILE_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Entravo"
  keep:
  ${EndIf}
SectionEnd
