; SPDX-License-Identifier: MIT
; The Windows installer: velmorin.exe and velmorin-cli.exe in the program
; files folder, a Start-menu entry, and an uninstaller that Apps & Features
; lists. Built by makensis with the files' folder and the version defined:
;   makensis -DVERSION=0.1.0 -DSTAGE=dir -DOUTFILE=velmorin-setup.exe velmorin.nsi
; A 64-bit installer for 64-bit programs (it also runs where no 32-bit layer is).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef STAGE
  !error "STAGE (the folder with the files to install) is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "velmorin-setup.exe"
!endif

!define PRODUCT "velmorin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\velmorin"

Name "velmorin ${VERSION}"
Caption "velmorin ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\velmorin"
InstallDirRegKey HKLM "Software\velmorin" "InstallDir"
Icon "${STAGE}\velmorin.ico"
UninstallIcon "${STAGE}\velmorin.ico"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "velmorin"
VIAddVersionKey "FileDescription" "Firmware update tool for Kestrion chargers"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 The velmorin developers (MIT)"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "${STAGE}\LICENSE.txt"

Section "velmorin"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\velmorin.exe"
  File "${STAGE}\velmorin-cli.exe"
  File "${STAGE}\velmorin.ico"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\velmorin.lnk" "$INSTDIR\velmorin.exe" "" "$INSTDIR\velmorin.ico"
  WriteRegStr HKLM "Software\velmorin" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "velmorin"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The velmorin developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velmorin.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\velmorin.lnk"
  Delete "$INSTDIR\velmorin.exe"
  Delete "$INSTDIR\velmorin-cli.exe"
  Delete "$INSTDIR\velmorin.ico"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\velmorin"
SectionEnd
