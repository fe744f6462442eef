; The Windows installer: the program, the Qt and MinGW libraries it loads, a
; Start-menu shortcut and an uninstaller registered with Windows.
; makensis -DVERSION=<x.y.z> -DSTAGE=<files> -DICON=<.ico> -DOUTFILE=<installer> gstconvert.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\gstconvert"

Name "gstconvert ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\gstconvert"
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "gstconvert"
VIAddVersionKey "FileDescription" "gstconvert ${VERSION} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "gstconvert developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\gstconvert.lnk" "$INSTDIR\gstconvert.exe" "" "$INSTDIR\gstconvert.exe" 0
  WriteRegStr HKLM "${KEY}" "DisplayName" "gstconvert (GST slab conversion)"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "Publisher" "gstconvert developers"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\gstconvert.exe"
  WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there and nothing else: the folder goes only
; when it is left empty. The login settings and the run log live in the
; user's LocalAppData and stay.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\gstconvert.lnk"
  Delete "$INSTDIR\gstconvert.exe"
  Delete "$INSTDIR\Qt6*.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libgcc_s_seh-1.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\imageformats"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
