; Installer of the VOST shell extension. It copies the 32-bit vost.dll into
; the 32-bit program folder and registers it in the 32-bit registry view and,
; on 64-bit Windows, when built with the 64-bit DLL, also copies that one into
; the 64-bit program folder and registers it in the 64-bit view: Explorer and
; 64-bit programs load the one, 32-bit programs' file dialogs the other. Its
; uninstaller removes both. Beside each DLL go the recorder helpers that its
; page's "Run and Record..." starts, one per bitness of the programs it runs
; (vostrun32.exe, and on 64-bit Windows vostrun64.exe). Built by
; installer/CMakeLists.txt:
;   makensis -DDLL=<32-bit vost.dll> [-DDLL64=<64-bit vost.dll>] -DRUN32=<vostrun32.exe>
;            [-DRUN64=<vostrun64.exe>] -DCLSID=<{class id}> -DOUTFILE=<vost-setup.exe> vost.nsi
;
; The class id is the same in both views. The property-sheet handler key
; (HKCR\*\shellex\PropertySheetHandlers\VOST) is one key that both views
; share, so it is removed only when neither view registers the class any more.

!ifndef DLL
  !error "define DLL, the path of the built 32-bit vost.dll"
!endif
!ifndef RUN32
  !error "define RUN32, the path of the built vostrun32.exe"
!endif
!ifndef CLSID
  !error "define CLSID, the component's class id in braces"
!endif
!ifndef OUTFILE
  !define OUTFILE "vost-setup.exe"
!endif

!include "x64.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VOST"
!define HANDLER_KEY "*\shellex\PropertySheetHandlers\VOST"
!define SETTINGS_KEY "Software\Aldervane\VOST"

Unicode true
Name "VOST"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\VOST"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Registers the class in the current registry view with the DLL at $0.
!macro RegisterClass
  WriteRegStr HKCR "CLSID\${CLSID}" "" "VOST Dependencies page"
  WriteRegStr HKCR "CLSID\${CLSID}\InprocServer32" "" "$0"
  WriteRegStr HKCR "CLSID\${CLSID}\InprocServer32" "ThreadingModel" "Apartment"
!macroend

Section "VOST"
  SetRegView 32
  SetOutPath "$INSTDIR"
  File "/oname=vost.dll" "${DLL}"
  File "/oname=vostrun32.exe" "${RUN32}"
!ifdef RUN64
  ${If} ${RunningX64}
    File "/oname=vostrun64.exe" "${RUN64}"
  ${EndIf}
!endif
  StrCpy $0 "$INSTDIR\vost.dll"
  !insertmacro RegisterClass
  WriteRegStr HKCR "${HANDLER_KEY}" "" "${CLSID}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "VOST Dependencies page"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

!ifdef DLL64
  ${If} ${RunningX64}
    ; The installer is a 32-bit program: the 64-bit program folder and view
    ; are reached with redirection off and the view named.
    ${DisableX64FSRedirection}
    SetOutPath "$PROGRAMFILES64\VOST"
    File "/oname=vost.dll" "${DLL64}"
    File "/oname=vostrun32.exe" "${RUN32}"
!ifdef RUN64
    File "/oname=vostrun64.exe" "${RUN64}"
!endif
    ${EnableX64FSRedirection}
    SetRegView 64
    StrCpy $0 "$PROGRAMFILES64\VOST\vost.dll"
    !insertmacro RegisterClass
    WriteRegStr HKCR "${HANDLER_KEY}" "" "${CLSID}"
    SetRegView 32
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation64" "$PROGRAMFILES64\VOST"
  ${EndIf}
!endif
SectionEnd

Section "Uninstall"
  ; Unregister first, so that no shell loads the DLLs any more.
  SetRegView 32
  DeleteRegKey HKCR "CLSID\${CLSID}"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Aldervane"
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation64"
  ${If} ${RunningX64}
    SetRegView 64
    ; Only a class that this installer registered: its DLL in the 64-bit
    ; folder it wrote down.
    ReadRegStr $2 HKCR "CLSID\${CLSID}\InprocServer32" ""
    ${If} $1 != ""
    ${AndIf} $2 == "$1\vost.dll"
      DeleteRegKey HKCR "CLSID\${CLSID}"
    ${EndIf}
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Aldervane"
    ; The shared handler key goes when neither view has the class any more.
    ReadRegStr $2 HKCR "CLSID\${CLSID}\InprocServer32" ""
    SetRegView 32
    ReadRegStr $3 HKCR "CLSID\${CLSID}\InprocServer32" ""
    ${If} $2 == ""
    ${AndIf} $3 == ""
      ; Through both views: the system decides which of them reaches it.
      DeleteRegKey HKCR "${HANDLER_KEY}"
      SetRegView 64
      DeleteRegKey HKCR "${HANDLER_KEY}"
      SetRegView 32
    ${EndIf}
  ${Else}
    DeleteRegKey HKCR "${HANDLER_KEY}"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; A shell that still has a DLL loaded keeps it until the next restart.
  ${If} $1 != ""
    ${DisableX64FSRedirection}
    Delete /REBOOTOK "$1\vost.dll"
    Delete /REBOOTOK "$1\vostrun32.exe"
    Delete /REBOOTOK "$1\vostrun64.exe"
    RMDir /REBOOTOK "$1"
    ${EnableX64FSRedirection}
  ${EndIf}
  Delete /REBOOTOK "$INSTDIR\vost.dll"
  Delete /REBOOTOK "$INSTDIR\vostrun32.exe"
  Delete /REBOOTOK "$INSTDIR\vostrun64.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd
