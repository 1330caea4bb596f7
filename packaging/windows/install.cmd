@echo off
rem Installs the Vellumtag property handler for .pdf files: registers Vellumtag_x64.dll from
rem this folder, makes it the property handler of .pdf and lists its properties in Explorer's
rem Details pane, Preview pane and tooltips. What it replaces is kept for uninstall.cmd.
rem Run it as administrator; the DLL stays where it is, so unpack the folder to its place first.
rem (Each step is followed by "if errorlevel", never "||": Wine's cmd runs "||" even after
rem success, and the tests run this file under Wine.)
setlocal EnableExtensions
set "CLSID={2DA4840E-F01A-44AB-9486-49BD7CC75179}"
set "DLL=%~dp0Vellumtag_x64.dll"
set "HANDLER=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.pdf"
set "LISTS=HKCR\SystemFileAssociations\.pdf"
set "SAVED=HKLM\SOFTWARE\Vellumtag\Install"
set "PDF_PROPERTIES=System.Title;System.Author;System.Subject;System.Keywords;System.Comment;System.Category;System.Company;System.Document.PageCount;System.Document.DateCreated;System.Document.DateSaved;System.ApplicationName;System.Software.ProductName;System.Language;System.Copyright;System.Rating"
set "FULL=prop:System.PropGroup.Description;System.Title;System.Subject;System.Keywords;System.Category;System.Comment;System.PropGroup.Origin;System.Author;System.Company;System.Document.DateCreated;System.Document.DateSaved;System.ApplicationName;System.Software.ProductName;System.Copyright;System.PropGroup.Content;System.Document.PageCount;System.Language;System.Rating;System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;System.DateCreated;System.DateModified;System.FileAttributes"
set "PREVIEW=prop:%PDF_PROPERTIES%;System.Size;System.DateModified"
set "INFOTIP=prop:System.Title;System.Author;System.Document.PageCount;System.ItemTypeText;System.Size;System.DateModified"

if not exist "%DLL%" (
    echo install.cmd: Vellumtag_x64.dll is not beside this script. 1>&2
    exit /b 1
)
reg add "HKLM\SOFTWARE\Vellumtag" /f /reg:64 >nul 2>&1
if errorlevel 1 goto :denied

"%SystemRoot%\System32\regsvr32.exe" /s "%DLL%"
if errorlevel 1 goto :failed

rem Save the previous settings only once, so that installing again keeps the original ones.
rem A handler of our own class (left by the MSI or an earlier install) is not a previous one,
rem and neither are the lists written beside it: nothing of them is saved.
reg query "%SAVED%" /reg:64 >nul 2>&1
if not errorlevel 1 goto :set
reg add "%SAVED%" /f /reg:64 >nul
if errorlevel 1 goto :failed
reg query "%HANDLER%" /ve /reg:64 2>nul | find "%CLSID%" >nul
if not errorlevel 1 goto :set
reg query "%HANDLER%" /reg:64 >nul 2>&1
if errorlevel 1 goto :savelists
reg copy "%HANDLER%" "%SAVED%\PropertyHandler" /f /reg:64 >nul
if errorlevel 1 goto :failed
:savelists
reg query "%LISTS%" /reg:64 >nul 2>&1
if errorlevel 1 goto :set
reg copy "%LISTS%" "%SAVED%\PropertyLists" /f /reg:64 >nul
if errorlevel 1 goto :failed

:set
reg add "%HANDLER%" /ve /t REG_SZ /d "%CLSID%" /f /reg:64 >nul
if errorlevel 1 goto :failed
reg add "%LISTS%" /v FullDetails /t REG_SZ /d "%FULL%" /f /reg:64 >nul
if errorlevel 1 goto :failed
reg add "%LISTS%" /v PreviewDetails /t REG_SZ /d "%PREVIEW%" /f /reg:64 >nul
if errorlevel 1 goto :failed
reg add "%LISTS%" /v InfoTip /t REG_SZ /d "%INFOTIP%" /f /reg:64 >nul
if errorlevel 1 goto :failed

echo Vellumtag property handler installed from %DLL%.
echo Explorer windows opened before now may need to be reopened to show the properties.
exit /b 0

:denied
echo install.cmd: no write access to HKEY_LOCAL_MACHINE; run it as administrator. 1>&2
exit /b 1

:failed
echo install.cmd: a registration step failed; see the message above. 1>&2
exit /b 1
