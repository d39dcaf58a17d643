; The package's real installer (english\setup.exe): asks for the folder of
; the logic analyzer's program, puts flashdecode.dll into the analyzer's
; PlugInsA folder two levels above it and the help file, one per language,
; into PlugInsA\Help\Eng|Si|Tr\ where the configuration sheet's Help button
; looks for it; writes an uninstaller that takes all of it away again.
;
; Built by scripts/package-win:
;   makensis -DVERSION=1.0.0 -DARCH=x86 -DPLUGIN_DLL=path\flashdecode.dll
;            -DHELP_DIR=dir-with-Eng-Si-Tr -DOUTFILE=setup.exe [-DTARGET=amd64-unicode]
;            flashdecode.nsi
; Silent use: setup.exe /S /D=C:\Analyzer\Program\Bin   (the /D= folder is the
; one holding the analyzer's .exe; it must come last and without quotes).

; The installer itself is a 32-bit program unless TARGET says otherwise
; (amd64-unicode for 64-bit-only systems, and for the test under 64-bit Wine).
!ifdef TARGET
  Target ${TARGET}
!else
  Unicode true
!endif
SetCompressor /SOLID lzma
; The launcher starts the installer by the name english\setup.exe; the name
; is ours to keep, whatever makensis thinks of it.
!pragma warning disable 9000
RequestExecutionLevel admin

!ifndef VERSION
  !error "define VERSION"
!endif
!ifndef ARCH
  !define ARCH x86
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "flashdecode"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\flashdecode"
!define UNINSTALLER "flashdecode-uninstall.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Logic Analyzer\Program\Bin"
BrandingText "${PRODUCT} ${VERSION} (${ARCH})"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey FileDescription "${PRODUCT} CompactFlash True IDE decoder setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "the flashdecode developers"

Var PluginDir  ; <two levels above the analyzer's program folder>\PlugInsA

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "Install the ${PRODUCT} decoder"
!define MUI_WELCOMEPAGE_TEXT "This installs ${PRODUCT} ${VERSION}, the CompactFlash 4.1 True IDE bus decoder, into your logic analyzer software.$\r$\n$\r$\nClose the logic analyzer software before you continue."
!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the folder that holds the logic analyzer's program file (its .exe). The decoder is installed into the analyzer's PlugInsA folder two levels above it, with its help in PlugInsA\Help."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Logic analyzer program folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckAnalyzerFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed. Start the logic analyzer software and choose the flashdecode bus; its settings' Help button opens the user guide."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; <folder>\..\.. \PlugInsA, without a doubled separator at a drive root.
!macro PluginFolderOf folder result
  GetFullPathName ${result} "${folder}\..\.."
  StrCpy $R9 ${result} 1 -1
  ${If} $R9 == "\"
    StrCpy ${result} ${result} -1
  ${EndIf}
  StrCpy ${result} "${result}\PlugInsA"
!macroend

Function CheckAnalyzerFolder
  ; A folder without any program in it is most likely the wrong one.
  FindFirst $0 $1 "$INSTDIR\*.exe"
  FindClose $0
  ${If} $1 == ""
    MessageBox MB_YESNO|MB_ICONEXCLAMATION "There is no program (.exe) in$\r$\n$INSTDIR.$\r$\n$\r$\nflashdecode must be installed relative to the logic analyzer's program folder. Install here anyway?" IDYES +2
    Abort
  ${EndIf}
FunctionEnd

Section "flashdecode" SecMain
  SectionIn RO
  !insertmacro PluginFolderOf "$INSTDIR" $PluginDir
  DetailPrint "Plug-in folder: $PluginDir"

  SetOutPath "$PluginDir"
  File "/oname=flashdecode.dll" "${PLUGIN_DLL}"
  SetOutPath "$PluginDir\Help\Eng"
  File "/oname=DIZeruve.viz" "${HELP_DIR}\Eng\DIZeruve.viz"
  SetOutPath "$PluginDir\Help\Si"
  File "/oname=DIZeruve.viz" "${HELP_DIR}\Si\DIZeruve.viz"
  SetOutPath "$PluginDir\Help\Tr"
  File "/oname=DIZeruve.viz" "${HELP_DIR}\Tr\DIZeruve.viz"

  WriteUninstaller "$PluginDir\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (CompactFlash True IDE decoder, ${ARCH})"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the flashdecode developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$PluginDir"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$PluginDir\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$PluginDir\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The uninstaller lives in the plug-in folder, so $INSTDIR is that folder.
; Only what we installed is removed; folders go only when they are empty.
Section "Uninstall"
  Delete "$INSTDIR\flashdecode.dll"
  Delete "$INSTDIR\Help\Eng\DIZeruve.viz"
  Delete "$INSTDIR\Help\Si\DIZeruve.viz"
  Delete "$INSTDIR\Help\Tr\DIZeruve.viz"
  RMDir "$INSTDIR\Help\Eng"
  RMDir "$INSTDIR\Help\Si"
  RMDir "$INSTDIR\Help\Tr"
  RMDir "$INSTDIR\Help"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
