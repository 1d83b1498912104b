; The start-up comparison's conventional installer: an NSIS 3 installer that carries the same six
; programs as the setup program it is measured against and opens on a welcome page. NSIS's defaults
; otherwise (compression, the integrity check of its data at start-up), as a typical installer ships.
; bench/run builds it: makensis -DTARGET=x86-unicode|amd64-unicode -DPAYLOADS=<folder of the six files>
;                      -DOUTFILE=<exe> nsis-welcome.nsi
Unicode true
Target "${TARGET}"
!include "MUI2.nsh"

Name "Zorvik"
OutFile "${OUTFILE}"
InstallDir "C:\zvbench\nsis"
RequestExecutionLevel user

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "Zorvik"
  SetOutPath "$INSTDIR"
  File "${PAYLOADS}\zvmain.exe"
  File "${PAYLOADS}\zvmix.exe"
  File "${PAYLOADS}\zvtune.exe"
  File "${PAYLOADS}\zvlock.exe"
  File "${PAYLOADS}\zvaux.exe"
  File "${PAYLOADS}\zvchat.exe"
SectionEnd
