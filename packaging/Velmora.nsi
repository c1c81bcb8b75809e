; Velmora's setup: a per-user install into the user's own programs folder.
; Nothing here needs an administrator: the files go under %LOCALAPPDATA%, the
; shortcut into the user's Start menu, the uninstall entry under HKCU, and
; Quillon2.dll beside the program is found through the program's manifest, so
; nothing is registered.
;
; Built by ./package, which passes
;   ARCH      x86 (what ships) or amd64 (the package checks on machines that
;             cannot run 32-bit code)
;   VERSION   1.0.3, VERSION4 1.0.0.3 (the program's version resource)
;   STAGE     the folder holding Velmora.exe, Quillon2.dll and Velmora.txt
;   ICON      the program icon
;   OUTFILE   the setup to write

!macro REQUIRE NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: build the setup with ./package"
  !endif
!macroend
!insertmacro REQUIRE ARCH
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE VERSION4
!insertmacro REQUIRE STAGE
!insertmacro REQUIRE ICON
!insertmacro REQUIRE OUTFILE

Unicode true
Target ${ARCH}-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
ManifestSupportedOS all

!define PRODUCT "Velmora"
!define PUBLISHER "The Velmora developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"
; The class of every window of the program (program/windows/Form.cpp).
!define FORM_CLASS "VelmoraForm"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
InstallDir "$LOCALAPPDATA\Programs\Velmora"
; An earlier install elsewhere is updated where it is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails hide
ShowUninstDetails hide

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Velmora.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Velmora.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; English where the user's language is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString VelmoraRunning ${LANG_ENGLISH} "Velmora is running. Close it, then choose Retry."
LangString VelmoraRunning ${LANG_GERMAN} "Velmora läuft noch. Schließen Sie das Programm und wählen Sie dann Wiederholen."
LangString ShortcutComment ${LANG_ENGLISH} "Replaces ICQ's advertisement banners with a picture of your choice"
LangString ShortcutComment ${LANG_GERMAN} "Ersetzt die Werbebanner von ICQ durch ein Bild Ihrer Wahl"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "© 2026 ${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"

; A running Velmora holds its exe open: replacing or deleting it would fail
; halfway. Ask until it is closed; Cancel (and silent mode) gives up before
; anything is touched.
!macro WAIT_FOR_VELMORA_CLOSED
  ${Do}
    FindWindow $0 "${FORM_CLASS}"
    ${IfThen} $0 = 0 ${|} ${ExitDo} ${|}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(VelmoraRunning)" /SD IDCANCEL IDRETRY +2
    Abort "$(VelmoraRunning)"
  ${Loop}
!macroend

Section "Velmora"
  SectionIn RO
  !insertmacro WAIT_FOR_VELMORA_CLOSED

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${STAGE}/Velmora.exe"
  File "${STAGE}/Quillon2.dll"
  File "${STAGE}/Velmora.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortCut "$SMPROGRAMS\Velmora.lnk" "$INSTDIR\Velmora.exe" "" "$INSTDIR\Velmora.exe" 0 SW_SHOWNORMAL "" "$(ShortcutComment)"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Velmora.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "https://www.velmora.example/"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "HelpLink" "mailto:support@velmora.example"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes exactly what the setup put there. The settings under
; HKCU\SOFTWARE\velmora.example\Velmora stay, so that installing again brings
; back the user's language and last ICQ folder; deleting that key resets them.
; The originals of ICQ's files in $LOCALAPPDATA\Velmora\Backup stay too: they
; are the only way back for an ICQ whose setup is gone.
Section "Uninstall"
  !insertmacro WAIT_FOR_VELMORA_CLOSED

  Delete "$SMPROGRAMS\Velmora.lnk"
  Delete "$INSTDIR\Velmora.exe"
  Delete "$INSTDIR\Quillon2.dll"
  Delete "$INSTDIR\Velmora.txt"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: whatever the user put there stays.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
