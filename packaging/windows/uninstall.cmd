@echo off
rem Removes the Vellumtag property handler: puts back the .pdf property handler and property
rem lists that install.cmd found, then unregisters Vellumtag_x64.dll. Run it as administrator.
rem (Each step is followed by "if errorlevel", never "||": Wine's cmd runs "||" even after
rem success, and the tests run this file under Wine.)
setlocal EnableExtensions
set "CLSID={2DA4840E-F01A-44AB-9486-49BD7CC75179}"
set "DLL=%~dp0Vellumtag_x64.dll"
set "HANDLER=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf"
set "LISTS=HKCR\SystemFileAssociations\.pdf"
set "SAVED=HKLM\SOFTWARE\Vellumtag\Install"

reg add "HKLM\SOFTWARE\Vellumtag" /f /reg:64 >nul 2>&1
if errorlevel 1 goto :denied

rem The handler entry is taken back only while it still names this handler.
reg query "%HANDLER%" /ve /reg:64 2>nul | find "%CLSID%" >nul
if errorlevel 1 goto :lists
reg delete "%HANDLER%" /f /reg:64 >nul
if errorlevel 1 goto :failed
reg query "%SAVED%\PropertyHandler" /reg:64 >nul 2>&1
if errorlevel 1 goto :lists
rem A saved handler of our own class (saved by an older install.cmd) would name a DLL that is
rem about to go: it is not put back.
reg query "%SAVED%\PropertyHandler" /ve /reg:64 2>nul | find "%CLSID%" >nul
if not errorlevel 1 goto :lists
reg copy "%SAVED%\PropertyHandler" "%HANDLER%" /f /reg:64 >nul
if errorlevel 1 goto :failed

:lists
for %%V in (FullDetails PreviewDetails InfoTip) do reg delete "%LISTS%" /v %%V /f /reg:64 >nul 2>&1
reg query "%SAVED%\PropertyLists" /reg:64 >nul 2>&1
if errorlevel 1 goto :forget
reg copy "%SAVED%\PropertyLists" "%LISTS%" /f /reg:64 >nul
if errorlevel 1 goto :failed

:forget
reg delete "HKLM\SOFTWARE\Vellumtag" /f /reg:64 >nul
if errorlevel 1 goto :failed

rem The DLL removes its own class; when it is gone already (deleted before this ran) or fails,
rem the class key is deleted here, so that nothing names a missing DLL.
"%SystemRoot%\System32\regsvr32.exe" /u /s "%DLL%" >nul 2>&1
reg query "HKCR\CLSID\%CLSID%" /reg:64 >nul 2>&1
if errorlevel 1 goto :done
reg delete "HKCR\CLSID\%CLSID%" /f /reg:64 >nul
if errorlevel 1 goto :failed

:done
echo Vellumtag property handler removed.
exit /b 0

:denied
echo uninstall.cmd: no write access to HKEY_LOCAL_MACHINE; run it as administrator. 1>&2
exit /b 1

:failed
echo uninstall.cmd: a step failed; see the message above. 1>&2
exit /b 1
