; The Windows installer: makensis -DSTAGE=<program folder> -DVERSION=<x.y>
; -DOUTFILE=<installer path> morvanta.nsi (scripts/build-windows runs it).
;
; As the Debian package: the program folder holds the executables, Settings.ini
; and Logs\. The local group "Morvanta" may change Settings.ini and write Logs\;
; both are the station's, not the package's: made when missing, otherwise left
; as they are, and kept by the uninstaller unless asked.

; 64-bit, as the program: it runs where the program runs (a 64-bit-only wine too).
Target amd64-unicode
!include FileFunc.nsh
SetCompressor /SOLID lzma
RequestExecutionLevel admin

Name "Morvanta ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Morvanta"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvanta"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Morvanta"
  SetShellVarContext all
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${STAGE}\morvanta.exe"
  File "${STAGE}\morvanta-archive.exe"
  File "${STAGE}\*.dll"
  SetOutPath "$INSTDIR\platforms"
  File "${STAGE}\platforms\*.dll"
  SetOutPath "$INSTDIR\styles"
  File /nonfatal "${STAGE}\styles\*.dll"
  SetOutPath "$INSTDIR"

  ; The group first, so that the rights below can name it.
  nsExec::Exec 'net localgroup Morvanta /add /comment:"May change the Morvanta settings of this station"'
  Pop $0
  IfFileExists "$INSTDIR\Settings.ini" settings_done
    File "/oname=Settings.ini" "${STAGE}\Settings.ini.template"
    nsExec::Exec 'icacls "$INSTDIR\Settings.ini" /grant Morvanta:M'
    Pop $0
  settings_done:
  IfFileExists "$INSTDIR\Logs\*.*" logs_done
    CreateDirectory "$INSTDIR\Logs"
    ; Members add logs and append to any member's: inherited by each new log.
    nsExec::Exec 'icacls "$INSTDIR\Logs" /grant Morvanta:(OI)(CI)M'
    Pop $0
  logs_done:

  CreateShortcut "$SMPROGRAMS\Morvanta.lnk" "$INSTDIR\morvanta.exe" "" "$INSTDIR\morvanta.exe" 0
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Morvanta"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Morvanta developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there. Settings.ini and Logs\ stay unless
; asked: "Yes" to the question, or /PURGE on the command line (a silent
; uninstall, /S, keeps them otherwise).
Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  ${un.GetParameters} $R0
  ClearErrors
  ${un.GetOptions} $R0 "/PURGE" $R1
  IfErrors 0 purge
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
    "Also remove this station's Settings.ini and the logs in $INSTDIR\Logs?" /SD IDNO IDYES purge
  Goto program
  purge:
    Delete "$INSTDIR\Settings.ini"
    RMDir /r "$INSTDIR\Logs"
  program:
  Delete "$SMPROGRAMS\Morvanta.lnk"
  Delete "$INSTDIR\morvanta.exe"
  Delete "$INSTDIR\morvanta-archive.exe"
  Delete "$INSTDIR\*.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
