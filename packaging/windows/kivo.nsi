; The Windows installer of Kivo: installs for the current user, without
; administrator rights, into %LOCALAPPDATA%\Programs\Kivo by default, where
; the program keeps its settings and cache beside itself. Built on Linux with
; makensis (the script is UTF-8):
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.7 -DEXE=path\to\kivo.exe -DICON=path\to\icon.ico -DOUT=kivo-setup-1.7.exe kivo.nsi
; It speaks the system's language (Chinese, or English elsewhere) and shows
; the folder, the start-at-login choice, the progress and a finish page that
; can start Kivo.
; Command line: /S installs silently; /D=FOLDER (last) names the folder;
; /NOAUTORUN leaves start at login off. A running Kivo is asked to end and
; waited for (30 s at most) before any file is replaced; when its program
; still cannot be replaced the installer says so and ends with status 2. A
; Kivo that was running before a silent install is started again after it.
; The uninstaller keeps the user's settings unless /REMOVESETTINGS is given
; (or the box is ticked on its page); /S uninstalls silently.
; A 64-bit installer, like the program it installs.
Target amd64-unicode
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

Name "Kivo"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\Programs\Kivo"
RequestExecutionLevel user
SetCompressor /SOLID lzma
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kivo"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The program's single-instance guard, and how long a running copy is given to end.
!define GUARD "kivo"
!define WAIT_MS 30000

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Kivo"
VIAddVersionKey "FileDescription" "Kivo installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "(C) 2008 Kivo"

Var KivoWasRunning

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\kivo.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(TextRunKivo)"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString TextStartAtLogin ${LANG_SIMPCHINESE} "开机自动启动Kivo"
LangString TextStartAtLogin ${LANG_ENGLISH} "Start Kivo at login"
LangString TextRunKivo ${LANG_SIMPCHINESE} "运行 Kivo"
LangString TextRunKivo ${LANG_ENGLISH} "Run Kivo"
LangString TextSettings ${LANG_SIMPCHINESE} "设置和缓存"
LangString TextSettings ${LANG_ENGLISH} "Settings and cache"
LangString TextStillRunning ${LANG_SIMPCHINESE} "Kivo 仍在运行，无法替换 $INSTDIR\kivo.exe。$\r$\n请退出 Kivo 后重试。"
LangString TextStillRunning ${LANG_ENGLISH} "Kivo is still running, so $INSTDIR\kivo.exe cannot be replaced.$\r$\nQuit Kivo and try again."

; True (1 in $0) while a copy of Kivo holds its guard in this session.
!macro KivoRunning
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${GUARD}") p .r0'
  ${If} $0 P<> 0
    System::Call 'kernel32::CloseHandle(p r0)'
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
!macroend

; Asks a running Kivo to end, as a later start of it does ("kivo.exe --exit"),
; and waits for its guard to go. $0: 0 when none runs any more.
Function WaitForKivo
  !insertmacro KivoRunning
  ${If} $0 == 0
    Return
  ${EndIf}
  StrCpy $KivoWasRunning 1
  ${If} ${FileExists} "$INSTDIR\kivo.exe"
    Exec '"$INSTDIR\kivo.exe" --exit'
  ${EndIf}
  StrCpy $1 0
  ${Do}
    Sleep 250
    IntOp $1 $1 + 250
    !insertmacro KivoRunning
    ${If} $0 == 0
    ${OrIf} $1 >= ${WAIT_MS}
      ${Break}
    ${EndIf}
  ${Loop}
FunctionEnd

; Whether the program file can be written now ($0: 1 when it can).
Function CanReplaceProgram
  StrCpy $0 1
  ${IfNot} ${FileExists} "$INSTDIR\kivo.exe"
    Return
  ${EndIf}
  ClearErrors
  FileOpen $1 "$INSTDIR\kivo.exe" a
  ${If} ${Errors}
    StrCpy $0 0
  ${Else}
    FileClose $1
  ${EndIf}
FunctionEnd

Section "Kivo" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ${Do}
    Call WaitForKivo
    Call CanReplaceProgram
    ${If} $0 == 1
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(TextStillRunning)" /SD IDCANCEL IDRETRY retry
    DetailPrint "$(TextStillRunning)"
    SetErrorLevel 2
    Abort
    retry:
  ${Loop}
  File "/oname=kivo.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Kivo.lnk" "$INSTDIR\kivo.exe" "" "$INSTDIR\kivo.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Kivo"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Kivo"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kivo.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; On by default, as the program's own setting is: the Run value starts this
; copy at login; off, no value is left.
Section "$(TextStartAtLogin)" SecStartAtLogin
  WriteRegStr HKCU "${RUN_KEY}" "kivo" "$INSTDIR\kivo.exe"
SectionEnd

Section "-StartAtLoginOff"
  ${IfNot} ${SectionIsSelected} ${SecStartAtLogin}
    DeleteRegValue HKCU "${RUN_KEY}" "kivo"
  ${EndIf}
SectionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOAUTORUN" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecStartAtLogin}
  ${EndIf}
FunctionEnd

Function .onInstSuccess
  ; The finish page offers to start Kivo; a silent update starts again the
  ; Kivo it ended.
  ${If} ${Silent}
  ${AndIf} $KivoWasRunning == 1
    Exec '"$INSTDIR\kivo.exe"'
  ${EndIf}
FunctionEnd

Section "un.Kivo" SecUnProgram
  SectionIn RO
  Delete "$INSTDIR\kivo.exe"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Kivo.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "kivo"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless chosen: the settings, the page cache and a downloaded installer,
; beside the program and in the user's own folder.
Section /o "un.$(TextSettings)" SecSettings
  Delete "$INSTDIR\Configuration.ini"
  Delete "$INSTDIR\update.exe"
  Delete "$INSTDIR\update.exe.sig"
  RMDir /r "$INSTDIR\prg"
  RMDir /r "$LOCALAPPDATA\Kivo"
SectionEnd

Section "-un.Folder"
  ; Removed only when empty: kept settings keep their folder.
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  IfErrors +2 0
  SectionSetFlags ${SecSettings} ${SF_SELECTED}
FunctionEnd
