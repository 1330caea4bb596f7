@echo off
rem Removes the Vellumtag property handler: in each registry view, puts back the .pdf property
rem handler and property lists that install.cmd found, then unregisters the DLL of that view's
rem bitness (Vellumtag_x86.dll for the 32-bit view, Vellumtag_x64.dll for the 64-bit one). Run
rem it as administrator.
rem (Each step is followed by "if errorlevel", never "||": Wine's cmd runs "||" even after
rem success, and the tests run this file under Wine.)
setlocal EnableExtensions
set "CLSID={2DA4840E-F01A-44AB-9486-49BD7CC75179}"
set "HANDLER=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf"
set "LISTS=HKCR\SystemFileAssociations\.pdf"
set "SAVED=HKLM\SOFTWARE\Vellumtag\Install"

reg add "HKLM\SOFTWARE\Vellumtag" /f /reg:64 >nul 2>&1
if errorlevel 1 goto :denied

rem The 32-bit view first: Windows shares the lists' key between the views, and the lists that
rem the 32-bit view saved may be ours, which install.cmd had just written for the 64-bit view.
rem The 64-bit view's saved lists, put back last, are the ones from before.
call :uninstall 32 "%SystemRoot%\SysWOW64\regsvr32.exe" "%~dp0Vellumtag_x86.dll"
if errorlevel 1 goto :failed
call :uninstall 64 "%SystemRoot%\System32\regsvr32.exe" "%~dp0Vellumtag_x64.dll"
if errorlevel 1 goto :failed

echo Vellumtag property handler removed.
exit /b 0

:denied
echo uninstall.cmd: no write access to HKEY_LOCAL_MACHINE; run it as administrator. 1>&2
exit /b 1

:failed
echo uninstall.cmd: a step failed; see the message above. 1>&2
exit /b 1

rem One registry view (%1: 64 or 32), with the regsvr32 %2 of its bitness and its DLL %3.
:uninstall
rem The handler entry is taken back only while it still names this handler.
reg query "%HANDLER%" /ve /reg:%1 2>nul | find "%CLSID%" >nul
if errorlevel 1 goto :lists
reg delete "%HANDLER%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
reg query "%SAVED%\PropertyHandler" /reg:%1 >nul 2>&1
if errorlevel 1 goto :lists
rem A saved handler of our own class (saved by an older install.cmd) would name a DLL that is
rem about to go: it is not put back.
reg query "%SAVED%\PropertyHandler" /ve /reg:%1 2>nul | find "%CLSID%" >nul
if not errorlevel 1 goto :lists
reg copy "%SAVED%\PropertyHandler" "%HANDLER%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1

:lists
for %%V in (FullDetails PreviewDetails InfoTip) do reg delete "%LISTS%" /v %%V /f /reg:%1 >nul 2>&1
reg query "%SAVED%\PropertyLists" /reg:%1 >nul 2>&1
if errorlevel 1 goto :forget
reg copy "%SAVED%\PropertyLists" "%LISTS%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1

:forget
reg query "HKLM\SOFTWARE\Vellumtag" /reg:%1 >nul 2>&1
if errorlevel 1 goto :unregister
reg delete "HKLM\SOFTWARE\Vellumtag" /f /reg:%1 >nul
if errorlevel 1 exit /b 1

rem The DLL removes its own class; when it is gone already (deleted before this ran) or fails,
rem the class key is deleted here, so that nothing names a missing DLL.
:unregister
"%~2" /u /s "%~3" >nul 2>&1
reg query "HKCR\CLSID\%CLSID%" /reg:%1 >nul 2>&1
if errorlevel 1 exit /b 0
reg delete "HKCR\CLSID\%CLSID%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
exit /b 0
