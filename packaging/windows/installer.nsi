; Installer of Solvane Database Maintenance: both programs into the suite's
; folder, where the tool finds Environment.ini, gds32.dll, Solvane.exe and
; SLVServer.exe beside itself. SolvaneDBMaint.exe is the 32-bit program
; (for the suite's 32-bit gds32.dll), SolvaneDBMaint64.exe the 64-bit one
; (for a 64-bit client library).
;
; Built by scripts/windows.sh installer:
;   makensis -DVERSION=... -DWIN32_EXE=... -DWIN64_EXE=... -DOUTFILE=... installer.nsi
; Silent install: SolvaneDBMaint-setup.exe /S /D=C:\Solvane

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION
  !define VERSION "0.0.0"
!endif
!define PRODUCT "Solvane Database Maintenance"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\SolvaneDBMaint"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Solvane"
RequestExecutionLevel admin
ShowInstDetails show

!include "MUI2.nsh"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Korean"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_KOREAN} "LegalCopyright" "Solvane"

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=SolvaneDBMaint.exe" "${WIN32_EXE}"
  File "/oname=SolvaneDBMaint64.exe" "${WIN64_EXE}"
  WriteUninstaller "$INSTDIR\SolvaneDBMaint-uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\SolvaneDBMaint.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\SolvaneDBMaint-uninstall.exe"'
SectionEnd

; Only the tool's own files go: the suite's files and Environment.ini stay.
Section "Uninstall"
  Delete "$INSTDIR\SolvaneDBMaint.exe"
  Delete "$INSTDIR\SolvaneDBMaint64.exe"
  Delete "$INSTDIR\SolvaneDBMaint-uninstall.exe"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
