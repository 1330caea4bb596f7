@echo off
rem Installs the Vellumtag property handler for .pdf files: registers Vellumtag_x64.dll and, for
rem 32-bit programs, Vellumtag_x86.dll from this folder, makes each the property handler of .pdf
rem in its registry view and lists its properties in Explorer's Details pane, Preview pane and
rem tooltips. What it replaces is kept, in each view, for uninstall.cmd.
rem Run it as administrator; the DLLs stay where they are, so unpack the folder to its place
rem first. (Each step is followed by "if errorlevel", never "||": Wine's cmd runs "||" even
rem after success, and the tests run this file under Wine.)
setlocal EnableExtensions
set "CLSID={2DA4840E-F01A-44AB-9486-49BD7CC75179}"
set "HANDLER=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf"
set "LISTS=HKCR\SystemFileAssociations\.pdf"
set "SAVED=HKLM\SOFTWARE\Vellumtag\Install"
set "PDF_PROPERTIES=System.Title;System.Author;System.Subject;System.Keywords;System.Comment;System.Category;System.Company;System.Document.PageCount;System.Document.DateCreated;System.Document.DateSaved;System.ApplicationName;System.Software.ProductName;System.Language;System.Copyright;System.Rating"
set "FULL=prop:System.PropGroup.Description;System.Title;System.Subject;System.Keywords;System.Category;System.Comment;System.PropGroup.Origin;System.Author;System.Company;System.Document.DateCreated;System.Document.DateSaved;System.ApplicationName;System.Software.ProductName;System.Copyright;System.PropGroup.Content;System.Document.PageCount;System.Language;System.Rating;System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;System.DateCreated;System.DateModified;System.FileAttributes"
set "PREVIEW=prop:%PDF_PROPERTIES%;System.Size;System.DateModified"
set "INFOTIP=prop:System.Title;System.Author;System.Document.PageCount;System.ItemTypeText;System.Size;System.DateModified"

if not exist "%~dp0Vellumtag_x64.dll" goto :missing
if not exist "%~dp0Vellumtag_x86.dll" goto :missing
reg add "HKLM\SOFTWARE\Vellumtag" /f /reg:64 >nul 2>&1
if errorlevel 1 goto :denied

rem 64-bit programs find their handler in the 64-bit view, 32-bit ones in the 32-bit view.
call :install 64 "%SystemRoot%\System32\regsvr32.exe" "%~dp0Vellumtag_x64.dll"
if errorlevel 1 goto :failed
call :install 32 "%SystemRoot%\SysWOW64\regsvr32.exe" "%~dp0Vellumtag_x86.dll"
if errorlevel 1 goto :failed

echo Vellumtag property handler installed from %~dp0 for 64-bit and 32-bit programs.
echo Explorer windows opened before now may need to be reopened to show the properties.
exit /b 0

:missing
echo install.cmd: Vellumtag_x64.dll and Vellumtag_x86.dll must be beside this script. 1>&2
exit /b 1

:denied
echo install.cmd: no write access to HKEY_LOCAL_MACHINE; run it as administrator. 1>&2
exit /b 1

:failed
echo install.cmd: a registration step failed; see the message above. 1>&2
exit /b 1

rem One registry view (%1: 64 or 32): registers the DLL %3 with the regsvr32 %2 of its bitness,
rem saves what the handler entry and the lists hold there, then sets them.
:install
"%~2" /s "%~3"
if errorlevel 1 exit /b 1

rem Save the previous settings only once, so that installing again keeps the original ones.
rem A handler of our own class (left by the MSI or an earlier install) is not a previous one,
rem and neither are the lists written beside it: nothing of them is saved.
reg query "%SAVED%" /reg:%1 >nul 2>&1
if not errorlevel 1 goto :set
reg add "%SAVED%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
reg query "%HANDLER%" /ve /reg:%1 2>nul | find "%CLSID%" >nul
if not errorlevel 1 goto :set
reg query "%HANDLER%" /reg:%1 >nul 2>&1
if errorlevel 1 goto :savelists
reg copy "%HANDLER%" "%SAVED%\PropertyHandler" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
:savelists
reg query "%LISTS%" /reg:%1 >nul 2>&1
if errorlevel 1 goto :set
reg copy "%LISTS%" "%SAVED%\PropertyLists" /f /reg:%1 >nul
if errorlevel 1 exit /b 1

:set
reg add "%HANDLER%" /ve /t REG_SZ /d "%CLSID%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
reg add "%LISTS%" /v FullDetails /t REG_SZ /d "%FULL%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
reg add "%LISTS%" /v PreviewDetails /t REG_SZ /d "%PREVIEW%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
reg add "%LISTS%" /v InfoTip /t REG_SZ /d "%INFOTIP%" /f /reg:%1 >nul
if errorlevel 1 exit /b 1
exit /b 0
