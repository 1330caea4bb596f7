#pragma once

#include <windows.h>

#include <string>

namespace vellumtag::setup {

// The .pdf settings that installing the handler replaces, the property handler of .pdf and
// the property lists of Explorer's Details pane, Preview pane and tooltips, kept under
// SOFTWARE\Vellumtag\Install until the final uninstall puts them back. install.cmd and
// uninstall.cmd keep them in the same place and the same shape: the handler key's values in
// its subkey PropertyHandler, the lists' values in PropertyLists.
class PdfSettingsBackup {
public:
    // machine is HKEY_LOCAL_MACHINE, or a key that stands for it; classId is the handler's
    // class identifier in registry form ("{...}").
    PdfSettingsBackup(HKEY machine, std::wstring classId);

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
};

} // namespace vellumtag::setup
