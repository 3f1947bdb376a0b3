; The Windows installer of Orlin, built by scripts/package with makensis:
;
;   makensis -DVERSION=1.0.0 -DARCH=i686|x86_64 -DSTAGE=DIR -DOUTFILE=FILE [-DPARTIAL=1] orlin.nsi
;
; STAGE is `cmake --install` of the Windows build, with the engine as
; Sync.exe and, when it was built, the other architecture's Ravel DLL as
; Ravel-<arch>.dll beside it. Without PARTIAL, a program the product needs
; (Orlin.exe, AutoUpdater.exe) missing from STAGE is a build error; PARTIAL
; builds an installer of what there is, for trying the installer itself.
;
; Orlin is installed for the user, without administrator rights, into a
; directory the user writes to: Orlin keeps its state files beside its
; executable. /S installs and uninstalls silently (the updater runs the
; installer so).
;
; Uninstalling asks a running Orlin to exit as its tray's Exit does (2024
; to "UIOrlinFrameWnd"/"Orlin"), ends what is left watchdog first (it would
; start a killed Orlin again), then Orlin and the engine, unregisters Ravel,
; removes the autostart value and the This PC entry Orlin may have written,
; and deletes Orlin's files. The sync folder is the user's and stays, also
; when it lies inside the install directory.

!ifndef VERSION | ARCH | STAGE | OUTFILE
  !error "makensis -DVERSION=... -DARCH=i686|x86_64 -DSTAGE=DIR -DOUTFILE=FILE orlin.nsi (scripts/package does this)"
!endif

!if "${ARCH}" == "x86_64"
  Target amd64-unicode
  !define OTHER_ARCH "i686"
!else
  Unicode true
  !define OTHER_ARCH "x86_64"
!endif

!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Orlin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orlin"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define NAMESPACE_CLSID "{A5F4E1C4-B6E2-4E9A-8865-BDBC5DEE6598}"
!define NAMESPACE_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\MyComputer\NameSpace\${NAMESPACE_CLSID}"
!define MSG_QUIT 2024

; The programs of the product; a partial installer leaves out what is not built.
!macro RequireProgram FILE
  !if /FileExists "${STAGE}\${FILE}"
  !else ifdef PARTIAL
    !warning "${FILE} is not built: this installer lacks it"
  !else
    !error "${FILE} is not built yet (${STAGE}\${FILE} is missing): build the Windows program first, or pass -DPARTIAL=1 for an installer of what there is"
  !endif
!macroend
!insertmacro RequireProgram "orlin.exe"
!insertmacro RequireProgram "AutoUpdater.exe"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Orlin"
; An update goes where the running version lies.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Orlin, the desktop sync client of the Tarn NAS: setup"
VIAddVersionKey "CompanyName" "Tarn"
VIAddVersionKey "LegalCopyright" "Tarn"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; --- shared by install (over a running version) and uninstall ------------------

!macro EndOrlin UN
Function ${UN}EndOrlin
  ; As the tray's Exit: Orlin ends its engine and its watchdogs itself.
  FindWindow $0 "UIOrlinFrameWnd" "Orlin"
  ${If} $0 <> 0
    SendMessage $0 ${MSG_QUIT} 0 0 /TIMEOUT=60000
    StrCpy $1 0
    ${Do}
      FindWindow $0 "UIOrlinFrameWnd" "Orlin"
      ${IfThen} $0 = 0 ${|} ${ExitDo} ${|}
      Sleep 200
      IntOp $1 $1 + 1
    ${LoopUntil} $1 >= 300
  ${EndIf}
  ; What is left, watchdog first: it would start a killed Orlin again.
  nsExec::Exec 'taskkill /F /IM Monitoring.exe'
  Pop $0
  nsExec::Exec 'taskkill /F /IM Orlin.exe'
  Pop $0
  nsExec::Exec 'taskkill /F /IM "Tarn Cloud.exe"'
  Pop $0
  nsExec::Exec 'taskkill /F /IM Sync.exe'
  Pop $0
  Sleep 500
FunctionEnd
!macroend
!insertmacro EndOrlin ""
!insertmacro EndOrlin "un."

; Ravel for this user: each DLL through the regsvr32 of its own bitness
; (a 64-bit Explorer loads only the 64-bit extension, 32-bit programs' file
; dialogs only the 32-bit one). $0: "" to register, "/u" to unregister.
!macro Ravel UN
Function ${UN}Ravel
  ${If} ${RunningX64}
    ; The 64-bit regsvr32 lies in System32, which a 32-bit installer sees
    ; as Sysnative; the 32-bit one in SysWOW64.
    !if "${ARCH}" == "x86_64"
      StrCpy $1 "$WINDIR\System32\regsvr32.exe"
    !else
      StrCpy $1 "$WINDIR\Sysnative\regsvr32.exe"
    !endif
    StrCpy $2 "$WINDIR\SysWOW64\regsvr32.exe"
  ${Else}
    StrCpy $1 ""
    StrCpy $2 "$SYSDIR\regsvr32.exe"
  ${EndIf}
  ${If} $1 != ""
  ${AndIf} ${FileExists} "$INSTDIR\Ravel64.dll"
    ExecWait '"$1" /s $0 /n /i:user "$INSTDIR\Ravel64.dll"'
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Ravel32.dll"
    ExecWait '"$2" /s $0 /n /i:user "$INSTDIR\Ravel32.dll"'
  ${EndIf}
FunctionEnd
!macroend
!insertmacro Ravel ""
!insertmacro Ravel "un."

; --- install -------------------------------------------------------------------

Section "Orlin"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  Call EndOrlin
  ; The updater that runs this installer is AutoUpdater.exe itself: a running
  ; program cannot be replaced, but it can be renamed out of the way.
  Delete "$INSTDIR\AutoUpdater.old"
  ${If} ${FileExists} "$INSTDIR\AutoUpdater.exe"
    Rename "$INSTDIR\AutoUpdater.exe" "$INSTDIR\AutoUpdater.old"
  ${EndIf}
  ; An update over an older version: its Ravel goes before the new one comes.
  StrCpy $0 "/u"
  Call Ravel

  !if /FileExists "${STAGE}\orlin.exe"
    File "/oname=Orlin.exe" "${STAGE}\orlin.exe"
  !endif
  !if /FileExists "${STAGE}\Tarn Cloud.exe"
    File "${STAGE}\Tarn Cloud.exe"
  !endif
  !if /FileExists "${STAGE}\AutoUpdater.exe"
    File "${STAGE}\AutoUpdater.exe"
  !endif
  File "${STAGE}\Monitoring.exe"
  File "${STAGE}\orlin-cli.exe"
  File "${STAGE}\orlin-ctl.exe"
  File "${STAGE}\Sync.exe"
  ; The DLL of each bitness under a name that says which.
  !if "${ARCH}" == "x86_64"
    File "/oname=Ravel64.dll" "${STAGE}\Ravel.dll"
    !if /FileExists "${STAGE}\Ravel-${OTHER_ARCH}.dll"
      File "/oname=Ravel32.dll" "${STAGE}\Ravel-${OTHER_ARCH}.dll"
    !endif
  !else
    File "/oname=Ravel32.dll" "${STAGE}\Ravel.dll"
    !if /FileExists "${STAGE}\Ravel-${OTHER_ARCH}.dll"
      File "/oname=Ravel64.dll" "${STAGE}\Ravel-${OTHER_ARCH}.dll"
    !endif
  !endif
  ; Skins and images are the program's; the product information is the
  ; installer's.
  File /x lang.xml /x setting.xml /x userconfig.xml "${STAGE}\*.xml"
  File /r "${STAGE}\res"
  File "${STAGE}\Orlin.ini"
  ; The state files are the user's: an update keeps them.
  SetOverwrite off
  File "${STAGE}\lang.xml"
  File "${STAGE}\setting.xml"
  File "${STAGE}\userconfig.xml"
  SetOverwrite on

  StrCpy $0 ""
  Call Ravel

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${FileExists} "$INSTDIR\Orlin.exe"
    CreateShortCut "$SMPROGRAMS\Orlin.lnk" "$INSTDIR\Orlin.exe" "" "$INSTDIR\Orlin.exe" 0
  ${EndIf}
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Orlin"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Tarn"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Orlin.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; Started by hand, the installer ends with Orlin running; the updater
  ; (silent) starts Orlin itself.
  ${IfNot} ${Silent}
  ${AndIf} ${FileExists} "$INSTDIR\Orlin.exe"
    Exec '"$INSTDIR\Orlin.exe"'
  ${EndIf}
SectionEnd

; --- uninstall -----------------------------------------------------------------

Section "Uninstall"
  SetShellVarContext current
  Call un.EndOrlin
  StrCpy $0 "/u"
  Call un.Ravel

  ; What Orlin wrote into the registry: the autostart value, the This PC
  ; entry (in the registry's 64-bit view, where Orlin writes it), its
  ; framework key, and the installer's own entry.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  DeleteRegValue HKCU "${RUN_KEY}" "Orlin"
  DeleteRegKey HKCU "${NAMESPACE_KEY}"
  DeleteRegKey HKCU "Software\Classes\CLSID\${NAMESPACE_CLSID}"
  SetRegView 32
  DeleteRegValue HKCU "${RUN_KEY}" "Orlin"
  DeleteRegKey HKCU "${NAMESPACE_KEY}"
  DeleteRegKey HKCU "Software\Classes\CLSID\${NAMESPACE_CLSID}"
  SetRegView default
  DeleteRegKey HKCU "Software\Orlin"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$SMPROGRAMS\Orlin.lnk"

  ; Orlin's files by name, never the whole folder: the sync folder may lie
  ; inside it and is the user's.
  Delete "$INSTDIR\Orlin.exe"
  Delete "$INSTDIR\Tarn Cloud.exe"
  Delete "$INSTDIR\AutoUpdater.exe"
  Delete "$INSTDIR\AutoUpdater.old"
  Delete "$INSTDIR\Monitoring.exe"
  Delete "$INSTDIR\orlin-cli.exe"
  Delete "$INSTDIR\orlin-ctl.exe"
  Delete "$INSTDIR\Sync.exe"
  Delete /REBOOTOK "$INSTDIR\Ravel32.dll"
  Delete /REBOOTOK "$INSTDIR\Ravel64.dll"
  !include "${STAGE}\skins.nsh"
  Delete "$INSTDIR\lang.xml"
  Delete "$INSTDIR\setting.xml"
  Delete "$INSTDIR\userconfig.xml"
  Delete "$INSTDIR\Orlin.ini"
  Delete "$INSTDIR\orlin.clean-exit"
  RMDir /r "$INSTDIR\res"
  RMDir /r "$INSTDIR\syncconfig"
  RMDir /r "$INSTDIR\log"
  RMDir /r "$INSTDIR\dmp"
  RMDir /r "$INSTDIR\update"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
