; Setup and uninstaller of Pelko Labels, one script for both architectures.
; CMake defines: ARCH (x64 or x86), VERSION (a.b.c.d), OUTFILE, SVR, SHL,
; SHL32 (x64 only: the x86 extension for 32-bit programs), MNGR, MNGR_DIR
; (help, icon schemes, configuration template), HELPER, ICON.
;
; Every step that can fail says which one it was; what this run changed
; before it is undone, so a failed setup leaves the machine as it found it.

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define PRODUCT "Pelko Labels"
!define PUBLISHER "Norvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PelkoLabels"
!define SHORTCUT "$SMPROGRAMS\Pelko Labels.lnk"
; $APPDATA is all users' once SetShellVarContext all has run.
!define DATA_DIR "$APPDATA\Norvane\Pelko Labels"
!define OTHER_SETUP_x64 "PelkoLabels-${VERSION}-x86-setup.exe"
!define OTHER_SETUP_x86 "PelkoLabels-${VERSION}-x64-setup.exe"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ManifestDPIAware true
Icon "${ICON}"
UninstallIcon "${ICON}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\Norvane\Pelko Labels"
!else
  InstallDir "$PROGRAMFILES\Norvane\Pelko Labels"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup (${ARCH})"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage custom un.DataPage un.DataPageLeave
UninstPage instfiles

Var Step            ; what setup is doing, named in a failure
Var Helper          ; PelkoSetupHelper.exe, unpacked for this run
Var Upgrade         ; 1: a Pelko Labels was installed here before
Var Backup          ; where the files it replaces are kept until setup ends
Var RemoveData      ; uninstall: 1 when labels.lst and the configuration go too
Var DataCheckbox

; ---------------------------------------------------------------- shared

; Whether the program runs with administrator rights, and on the Windows
; this setup is for.
!macro CheckMachine UN
Function ${UN}CheckMachine
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} setup needs administrator rights. Start it again with $\"Run as administrator$\"." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
!if "${ARCH}" == "x64"
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "This setup is for 64-bit Windows. On this 32-bit Windows, run ${OTHER_SETUP_x64}." /SD IDOK
    SetErrorLevel 216
    Quit
  ${EndIf}
  SetRegView 64
!else
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "This setup is for 32-bit Windows. On this 64-bit Windows, run ${OTHER_SETUP_x86}." /SD IDOK
    SetErrorLevel 216
    Quit
  ${EndIf}
!endif
  SetShellVarContext all
FunctionEnd
!macroend
!insertmacro CheckMachine ""
!insertmacro CheckMachine "un."

; Runs the helper with one command; on failure $1 holds its exit code.
!macro RunHelper UN
Function ${UN}RunHelper
  Exch $0
  nsExec::ExecToLog '"$Helper" $0'
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro RunHelper ""
!insertmacro RunHelper "un."

; The service's stop, waited for until its process has ended.
!macro StopService UN
Function ${UN}StopService
  StrCpy $Step "stopping the label service"
  DetailPrint "Stopping the label service"
  Push "stop-service"
  Call ${UN}RunHelper
FunctionEnd
!macroend
!insertmacro StopService ""
!insertmacro StopService "un."

; A file that a running program holds (Explorer keeps the extension
; loaded) cannot be replaced or deleted, but it can be renamed: it goes
; aside and is deleted when Windows next starts.
!macro SetHeldFileAside UN
Function ${UN}SetHeldFileAside
  Exch $0
  Push $1
  ${If} ${FileExists} "$0"
    ClearErrors
    FileOpen $1 "$0" a
    ${If} ${Errors}
      GetTempFileName $1 "$INSTDIR"
      Delete "$1"
      Rename "$0" "$1"
      DetailPrint "In use, set aside until the next restart: $0"
      Delete /REBOOTOK "$1"
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro SetHeldFileAside ""
!insertmacro SetHeldFileAside "un."

; Registers (or with /u unregisters) an extension with the regsvr32 of its
; own architecture. $1 is its exit code.
!macro RegisterExtensionWith REGSVR32 ARGUMENTS
  ExecWait '"${REGSVR32}" /s ${ARGUMENTS}' $1
!macroend

; Takes out everything setup puts in the registry and the install folder,
; except the data: the uninstaller's work, and a failed fresh install's undo.
!macro RemoveInstall UN
Function ${UN}RemoveInstall
  ${If} ${FileExists} "$INSTDIR\PelkoLabelShl.dll"
    !insertmacro RegisterExtensionWith "$SYSDIR\regsvr32.exe" '/u "$INSTDIR\PelkoLabelShl.dll"'
  ${EndIf}
!if "${ARCH}" == "x64"
  ${If} ${FileExists} "$INSTDIR\PelkoLabelShl32.dll"
  ${AndIf} ${FileExists} "$WINDIR\SysWOW64\regsvr32.exe"
    !insertmacro RegisterExtensionWith "$WINDIR\SysWOW64\regsvr32.exe" '/u "$INSTDIR\PelkoLabelShl32.dll"'
    ; Each extension leaves the menu and overlay keys the two share while
    ; the other is still registered; now that neither is, the first takes
    ; its view's copies out too.
    ${If} ${FileExists} "$INSTDIR\PelkoLabelShl.dll"
      !insertmacro RegisterExtensionWith "$SYSDIR\regsvr32.exe" '/u "$INSTDIR\PelkoLabelShl.dll"'
    ${EndIf}
  ${EndIf}
!endif
  ${If} ${FileExists} "$INSTDIR\PelkoLabelSvr.exe"
    ExecWait '"$INSTDIR\PelkoLabelSvr.exe" /UnregServer' $1
  ${EndIf}
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Push "$INSTDIR\PelkoLabelShl.dll"
  Call ${UN}SetHeldFileAside
  Delete /REBOOTOK "$INSTDIR\PelkoLabelShl.dll"
!if "${ARCH}" == "x64"
  Push "$INSTDIR\PelkoLabelShl32.dll"
  Call ${UN}SetHeldFileAside
  Delete /REBOOTOK "$INSTDIR\PelkoLabelShl32.dll"
!endif
  Delete "$INSTDIR\PelkoLabelSvr.exe"
  Delete "$INSTDIR\PelkoLabelMngr.exe"
  Delete "$INSTDIR\PelkoLabels.htm"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /r "$INSTDIR\icons\Schemes\Classic"
  RMDir /r "$INSTDIR\icons\Schemes\Shapes"
  RMDir "$INSTDIR\icons\Schemes"
  RMDir "$INSTDIR\icons"
  ; A folder that is this program's working folder cannot go.
  SetOutPath "$TEMP"
  RMDir /REBOOTOK "$INSTDIR"
  RMDir "$INSTDIR\.."
FunctionEnd
!macroend
!insertmacro RemoveInstall ""
!insertmacro RemoveInstall "un."

; ---------------------------------------------------------------- setup

Function .onInit
  Call CheckMachine
FunctionEnd

; Puts back what the run changed, then says which step failed.
Function FailSetup
  DetailPrint "Failed while $Step; undoing this setup"
  Push $Step
  Push "stop-service"
  Call RunHelper
  Pop $Step
  ${If} $Upgrade == 1
    ; The version that was installed comes back, as it was.
    CopyFiles /SILENT "$Backup\*.*" "$INSTDIR"
    ExecWait '"$INSTDIR\PelkoLabelSvr.exe" /Service' $1
    !insertmacro RegisterExtensionWith "$SYSDIR\regsvr32.exe" '"$INSTDIR\PelkoLabelShl.dll"'
!if "${ARCH}" == "x64"
    ${If} ${FileExists} "$INSTDIR\PelkoLabelShl32.dll"
    ${AndIf} ${FileExists} "$WINDIR\SysWOW64\regsvr32.exe"
      !insertmacro RegisterExtensionWith "$WINDIR\SysWOW64\regsvr32.exe" '"$INSTDIR\PelkoLabelShl32.dll"'
    ${EndIf}
!endif
    Push "start-service"
    Call RunHelper
  ${Else}
    Call RemoveInstall
  ${EndIf}
  ; A silent setup shows no message: the reason is also kept in a file.
  FileOpen $2 "$TEMP\PelkoLabels-setup.log" w
  FileWrite $2 "${PRODUCT} ${VERSION} setup failed while $Step; it undid what it had done.$\r$\n"
  FileClose $2
  MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} setup failed while $Step. Nothing was changed; see the details for why." /SD IDOK
  SetErrorLevel 2
  Abort
FunctionEnd

!macro Check WHAT
  ${If} $1 != 0
    StrCpy $Step "${WHAT}"
    Call FailSetup
  ${EndIf}
!macroend

; Copies one file into the install folder; a held one is set aside first.
!macro PutFile SOURCE NAME
  Push "$INSTDIR\${NAME}"
  Call SetHeldFileAside
  ClearErrors
  File "/oname=$INSTDIR\${NAME}" "${SOURCE}"
  ${If} ${Errors}
    StrCpy $Step "copying ${NAME}"
    Call FailSetup
  ${EndIf}
!macroend

Section "Pelko Labels"
  SetOverwrite try
  InitPluginsDir
  StrCpy $Helper "$PLUGINSDIR\PelkoSetupHelper.exe"
  File "/oname=$Helper" "${HELPER}"
  File "/oname=$PLUGINSDIR\PelkoLabelShlCfg.ini.in" "${MNGR_DIR}\PelkoLabelShlCfg.ini.in"

  StrCpy $Upgrade 0
  ${If} ${FileExists} "$INSTDIR\PelkoLabelSvr.exe"
    StrCpy $Upgrade 1
  ${EndIf}

  ; The service saves its labels as it stops; nothing is replaced before
  ; its process has ended.
  Call StopService
  !insertmacro Check "stopping the label service"

  ${If} $Upgrade == 1
    StrCpy $Step "keeping a copy of the installed version"
    StrCpy $Backup "$PLUGINSDIR\installed"
    CreateDirectory "$Backup"
    ClearErrors
    CopyFiles /SILENT "$INSTDIR\*.exe" "$Backup"
    CopyFiles /SILENT "$INSTDIR\*.dll" "$Backup"
    ${If} ${Errors}
      StrCpy $1 1
      !insertmacro Check "keeping a copy of the installed version"
    ${EndIf}
  ${EndIf}

  StrCpy $Step "copying the program files"
  DetailPrint "Copying the program files to $INSTDIR"
  CreateDirectory "$INSTDIR"
  !insertmacro PutFile "${SVR}" "PelkoLabelSvr.exe"
  !insertmacro PutFile "${SHL}" "PelkoLabelShl.dll"
!if "${ARCH}" == "x64"
  !insertmacro PutFile "${SHL32}" "PelkoLabelShl32.dll"
!endif
  !insertmacro PutFile "${MNGR}" "PelkoLabelMngr.exe"
  !insertmacro PutFile "${MNGR_DIR}\PelkoLabels.htm" "PelkoLabels.htm"
  ClearErrors
  SetOutPath "$INSTDIR\icons\Schemes"
  File /r "${MNGR_DIR}\icons\Schemes\*.*"
  SetOutPath "$INSTDIR"
  ${If} ${Errors}
    StrCpy $1 1
    !insertmacro Check "copying the icon schemes"
  ${EndIf}
  ClearErrors
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    StrCpy $1 1
    !insertmacro Check "writing the uninstaller"
  ${EndIf}

  DetailPrint "Registering the label service"
  ExecWait '"$INSTDIR\PelkoLabelSvr.exe" /Service' $1
  !insertmacro Check "registering the label service"
  DetailPrint "Registering the shell extension"
  !insertmacro RegisterExtensionWith "$SYSDIR\regsvr32.exe" '"$INSTDIR\PelkoLabelShl.dll"'
  !insertmacro Check "registering the shell extension"
!if "${ARCH}" == "x64"
  ; 32-bit programs' file dialogs load the x86 extension; a 64-bit Windows
  ; without its 32-bit part has no such programs.
  ${If} ${FileExists} "$WINDIR\SysWOW64\regsvr32.exe"
    !insertmacro RegisterExtensionWith "$WINDIR\SysWOW64\regsvr32.exe" '"$INSTDIR\PelkoLabelShl32.dll"'
    !insertmacro Check "registering the shell extension for 32-bit programs"
  ${EndIf}
!endif

  DetailPrint "Starting the label service"
  Push "start-service"
  Call RunHelper
  !insertmacro Check "starting the label service"
  ; The service has made the data folder; an existing configuration (the
  ; user's scheme and label names) stays as it is.
  DetailPrint "Writing the configuration, unless there is one"
  Push '"write-config" "$PLUGINSDIR\PelkoLabelShlCfg.ini.in" "$INSTDIR"'
  Call RunHelper
  !insertmacro Check "writing the configuration"

  ClearErrors
  CreateShortcut "${SHORTCUT}" "$INSTDIR\PelkoLabelMngr.exe" "" "$INSTDIR\PelkoLabelMngr.exe" 0 SW_SHOWNORMAL "" "Lists, opens and clears labelled files and folders"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $2 $3
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\PelkoLabelMngr.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} ${Errors}
    StrCpy $1 1
    !insertmacro Check "adding the Start-menu shortcut and the Apps & Features entry"
  ${EndIf}
SectionEnd

; ---------------------------------------------------------------- uninstall

Function un.onInit
  Call un.CheckMachine
  ; Silent: the data stays, unless /REMOVEDATA says otherwise.
  StrCpy $RemoveData 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveData 1
  ${EndIf}
FunctionEnd

Function un.DataPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u "${PRODUCT} will be removed from $INSTDIR. Your labels and label names are kept, so that a later install finds them again, unless you tick the box."
  Pop $0
  ${NSD_CreateCheckbox} 0 44u 100% 12u "Also remove my labels"
  Pop $DataCheckbox
  ${If} $RemoveData == 1
    ${NSD_Check} $DataCheckbox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.DataPageLeave
  ${NSD_GetState} $DataCheckbox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveData 1
  ${Else}
    StrCpy $RemoveData 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  InitPluginsDir
  StrCpy $Helper "$PLUGINSDIR\PelkoSetupHelper.exe"
  File "/oname=$Helper" "${HELPER}"
  Call un.StopService
  ${If} $1 != 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} could not be removed: the label service did not stop. Nothing was removed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Call un.RemoveInstall
  ${If} $RemoveData == 1
    DetailPrint "Removing the labels and the configuration"
    Delete "${DATA_DIR}\labels.lst"
    Delete "${DATA_DIR}\labels.lst.tmp"
    Delete "${DATA_DIR}\labels.lst.bad-*"
    Delete "${DATA_DIR}\PelkoLabelShlCfg.ini"
    RMDir "${DATA_DIR}"
    RMDir "${DATA_DIR}\.."
  ${EndIf}
SectionEnd
