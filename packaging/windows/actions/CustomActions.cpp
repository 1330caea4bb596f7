// The installer's custom actions (named in VellumtagActions.def), which Vellumtag.wxs runs
// deferred and without impersonation: SavePdfSettings before the registry is written on an
// install or repair, RestorePdfSettings after our values are removed on the final uninstall.
// They touch only the registry, so the DLL needs no msi.dll: the handle goes unused.
#include <windows.h>

#include <msi.h>

#include "PdfSettingsBackup.h"

using vellumtag::setup::PdfSettingsBackup;

namespace {

// Windows Installer's codes: success, or a fatal error that rolls the installation back.
UINT resultOf(LSTATUS status) {
    return status == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

PdfSettingsBackup machineBackup() {
    return PdfSettingsBackup(HKEY_LOCAL_MACHINE, VELLUMTAG_CLASS_ID);
}

} // namespace

extern "C" UINT __stdcall SavePdfSettings(MSIHANDLE) {
    try {
        return resultOf(machineBackup().save());
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}

extern "C" UINT __stdcall RestorePdfSettings(MSIHANDLE) {
    try {
        return resultOf(machineBackup().restore());
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}
