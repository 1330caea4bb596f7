#include "PdfSettingsBackup.h"

#include <utility>
#include <vector>

#include "RegistryKey.h"

namespace vellumtag::setup {

namespace {

const wchar_t *const kProductKey = L"SOFTWARE\\Vellumtag";
const wchar_t *const kSavedKey = L"SOFTWARE\\Vellumtag\\Install";
const wchar_t *const kSavedHandlerKey = L"SOFTWARE\\Vellumtag\\Install\\PropertyHandler";
const wchar_t *const kSavedListsKey = L"SOFTWARE\\Vellumtag\\Install\\PropertyLists";
const wchar_t *const kHandlerKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.pdf";
// HKEY_CLASSES_ROOT's machine part, where a per-machine install writes.
const wchar_t *const kListsKey = L"SOFTWARE\\Classes\\SystemFileAssociations\\.pdf";
const wchar_t *const kListNames[] = {L"FullDetails", L"PreviewDetails", L"InfoTip"};

// The text of string data, without the terminators that it may or may not carry.
std::wstring textOf(const RegistryData &data) {
    if (data.type != REG_SZ && data.type != REG_EXPAND_SZ)
        return {};
    std::wstring text(reinterpret_cast<const wchar_t *>(data.bytes.data()),
                      data.bytes.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

// Copies the named values from one key to another (created when needed); a value missing at
// the source is skipped. onlyWhereUnset leaves values that the target has already.
LSTATUS copyValues(HKEY machine, REGSAM view, const std::wstring &from, const std::wstring &to,
                   const std::vector<std::wstring> &names, bool onlyWhereUnset) {
    LSTATUS status = ERROR_SUCCESS;
    const RegistryKey source = RegistryKey::open(machine, from, view, status);
    if (status != ERROR_SUCCESS)
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    RegistryKey target;
    for (const auto &name : names) {
        RegistryData data, present;
        status = source.read(name, data);
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        if (status != ERROR_SUCCESS)
            return status;
        if (!target.isOpen()) {
            bool created = false;
            target = RegistryKey::create(machine, to, view, created, status);
            if (status != ERROR_SUCCESS)
                return status;
        }
        if (onlyWhereUnset && target.read(name, present) == ERROR_SUCCESS)
            continue;
        status = target.write(name, data);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

// Every value of the key at path; none when it is missing.
LSTATUS valueNamesOf(HKEY machine, REGSAM view, const std::wstring &path,
                     std::vector<std::wstring> &names) {
    names.clear();
    LSTATUS status = ERROR_SUCCESS;
    const RegistryKey key = RegistryKey::open(machine, path, view, status);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    return status == ERROR_SUCCESS ? key.valueNames(names) : status;
}

} // namespace

PdfSettingsBackup::PdfSettingsBackup(HKEY machine, std::wstring classId, REGSAM view)
    : _machine(machine), _classId(std::move(classId)), _view(view) {}

bool PdfSettingsBackup::isOurClass(HKEY root, const std::wstring &path) const {
    LSTATUS status = ERROR_SUCCESS;
    const RegistryKey key = RegistryKey::open(root, path, _view, status);
    RegistryData data;
    if (status != ERROR_SUCCESS || key.read(L"", data) != ERROR_SUCCESS)
        return false;
    // Class identifiers are compared without regard to letter case, as COM reads them.
    const std::wstring text = textOf(data);
    return CompareStringOrdinal(text.c_str(), static_cast<int>(text.size()), _classId.c_str(),
                                static_cast<int>(_classId.size()), TRUE) == CSTR_EQUAL;
}

LSTATUS PdfSettingsBackup::save() const {
    bool created = false;
    LSTATUS status = ERROR_SUCCESS;
    const RegistryKey saved = RegistryKey::create(_machine, kSavedKey, _view, created, status);
    if (status != ERROR_SUCCESS || !created || isOurClass(_machine, kHandlerKey))
        return status;
    status = copyValues(_machine, _view, kHandlerKey, kSavedHandlerKey, {L""}, false);
    if (status == ERROR_SUCCESS)
        status = copyValues(_machine, _view, kListsKey, kSavedListsKey,
                            {std::begin(kListNames), std::end(kListNames)}, false);
    return status;
}

LSTATUS PdfSettingsBackup::restore() const {
    LSTATUS status = ERROR_SUCCESS;
    if (!isOurClass(_machine, kSavedHandlerKey)) {
        std::vector<std::wstring> names;
        status = valueNamesOf(_machine, _view, kSavedHandlerKey, names);
        if (status == ERROR_SUCCESS)
            status = copyValues(_machine, _view, kSavedHandlerKey, kHandlerKey, names, true);
        if (status == ERROR_SUCCESS)
            status = valueNamesOf(_machine, _view, kSavedListsKey, names);
        if (status == ERROR_SUCCESS)
            status = copyValues(_machine, _view, kSavedListsKey, kListsKey, names, true);
    }
    return status == ERROR_SUCCESS ? DeleteRegistryTree(_machine, kProductKey, _view) : status;
}

} // namespace vellumtag::setup
