; Installer of the VOST shell extension: copies vost.dll, registers it as a
; property-sheet handler for every file, and writes an uninstaller that
; removes both. Built by installer/CMakeLists.txt:
;   makensis -DDLL=<vost.dll> -DCLSID=<{class id}> -DOUTFILE=<vost-setup.exe> vost.nsi

!ifndef DLL
  !error "define DLL, the path of the built vost.dll"
!endif
!ifndef CLSID
  !error "define CLSID, the component's class id in braces"
!endif
!ifndef OUTFILE
  !define OUTFILE "vost-setup.exe"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VOST"
!define HANDLER_KEY "*\shellex\PropertySheetHandlers\VOST"
!define SETTINGS_KEY "Software\Aldervane\VOST"

Unicode true
Name "VOST"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\VOST"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "VOST"
  SetOutPath "$INSTDIR"
  File "/oname=vost.dll" "${DLL}"
  WriteRegStr HKCR "CLSID\${CLSID}" "" "VOST Dependencies page"
  WriteRegStr HKCR "CLSID\${CLSID}\InprocServer32" "" "$INSTDIR\vost.dll"
  WriteRegStr HKCR "CLSID\${CLSID}\InprocServer32" "ThreadingModel" "Apartment"
  WriteRegStr HKCR "${HANDLER_KEY}" "" "${CLSID}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "VOST Dependencies page"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Unregister first, so the shell loads the DLL no more.
  DeleteRegKey HKCR "${HANDLER_KEY}"
  DeleteRegKey HKCR "CLSID\${CLSID}"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Aldervane"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; A shell that still has the DLL loaded keeps it until the next restart.
  Delete /REBOOTOK "$INSTDIR\vost.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd
