// The installer's custom actions (named in VellumtagActions.def), which Vellumtag.wxs runs
// deferred and without impersonation: SavePdfSettings before the registry is written on an
// install or repair, RestorePdfSettings after our values are removed on the final uninstall,
// each in the 64-bit registry view and then in the 32-bit one, where the MSI registers
// Vellumtag_x86.dll. They touch only the registry, so the DLL needs no msi.dll: the handle goes
// unused.
#include <windows.h>

#include <msi.h>

#include "PdfSettingsBackup.h"

using vellumtag::setup::PdfSettingsBackup;

namespace {

// Windows Installer's codes: success, or a fatal error that rolls the installation back.
UINT resultOf(LSTATUS status) {
    return status == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

const REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

// Saves or restores in every view; a failure in one view does not keep the other from being
// done, and the result is the first failure's.
template <class Step> LSTATUS inEveryView(Step step) {
    LSTATUS result = ERROR_SUCCESS;
    for (const REGSAM view : kViews) {
        const LSTATUS status =
            step(PdfSettingsBackup(HKEY_LOCAL_MACHINE, VELLUMTAG_CLASS_ID, view));
        if (result == ERROR_SUCCESS)
            result = status;
    }
    return result;
}

} // namespace

extern "C" UINT __stdcall SavePdfSettings(MSIHANDLE) {
    try {
        return resultOf(inEveryView([](const PdfSettingsBackup &backup) { return backup.save(); }));
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}

extern "C" UINT __stdcall RestorePdfSettings(MSIHANDLE) {
    try {
        return resultOf(
            inEveryView([](const PdfSettingsBackup &backup) { return backup.restore(); }));
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}
