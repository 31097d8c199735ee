; The Windows installer of Kivo: installs for the current user, without
; administrator rights, into %LOCALAPPDATA%\Programs\Kivo, where the program
; keeps its settings and cache beside itself. Built on Linux with makensis:
;   makensis -DVERSION=1.7 -DEXE=path\to\kivo.exe -DICON=path\to\icon.ico -DOUT=kivo-setup-1.7.exe kivo.nsi
; /S installs silently. The uninstaller keeps the user's settings unless
; /REMOVESETTINGS is given (or the box is ticked on its page).
; A 64-bit installer, like the program it installs.
Target amd64-unicode
!include MUI2.nsh
!include FileFunc.nsh

Name "Kivo"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\Programs\Kivo"
RequestExecutionLevel user
SetCompressor /SOLID lzma
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kivo"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Kivo"
VIAddVersionKey "FileDescription" "Kivo installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "(C) 2008 Kivo"

!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Section "Kivo"
  SetOutPath "$INSTDIR"
  ; A running copy holds its executable: ask it to end first is not possible
  ; from here, so the file is replaced as soon as it is free.
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

Section "un.Kivo" SecProgram
  SectionIn RO
  Delete "$INSTDIR\kivo.exe"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Kivo.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "kivo"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless chosen: the settings, the page cache and a downloaded installer,
; beside the program and in the user's own folder.
Section /o "un.Settings and cache" SecSettings
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
