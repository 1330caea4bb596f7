#pragma once

#include <windows.h>

#include <string>

namespace vellumtag::setup {

// The .pdf settings that installing the handler replaces, the property handler of .pdf and
// the property lists of Explorer's Details pane, Preview pane and tooltips, kept under
// SOFTWARE\Vellumtag\Install until the final uninstall puts them back. install.cmd and
// uninstall.cmd keep them in the same place and the same shape: the handler key's values in
// its subkey PropertyHandler, the lists' values in PropertyLists. One backup covers one
// registry view: the 64-bit one, which the shell of 64-bit programs reads, or the 32-bit one,
// where 32-bit programs find the handler for their own bitness. Each view keeps its own saved
// settings. (Windows shares the lists' key between the views; then both save the same values,
// and the first restore puts them back for both.)
class PdfSettingsBackup {
public:
    // machine is HKEY_LOCAL_MACHINE, or a key that stands for it; classId is the handler's
    // class identifier in registry form ("{...}"); view is KEY_WOW64_64KEY or KEY_WOW64_32KEY.
    PdfSettingsBackup(HKEY machine, std::wstring classId, REGSAM view);

    // Saves the handler and the three lists as they are now, unless settings are saved
    // already: the first saved are the ones from before any install. A handler of our own
    // class, left by an earlier install, is not saved, and neither are the lists beside it,
    // which that install wrote.
    LSTATUS save() const;

    // Puts the saved values back wherever no value is set now (ours are removed by then; any
    // other was set after ours by someone else), then deletes SOFTWARE\Vellumtag. A saved
    // handler of our own class is not restored, nor the lists saved with it. Nothing saved:
    // nothing to restore.
    LSTATUS restore() const;

private:
    bool isOurClass(HKEY root, const std::wstring &path) const;

    HKEY _machine;
    std::wstring _classId;
    REGSAM _view;
};

} // namespace vellumtag::setup
