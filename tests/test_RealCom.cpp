// The steps of tests/real_com.sh that run inside Windows, one test suite per stage: the
// script registers, unregisters, installs and uninstalls between them. Nothing of the handler
// is linked in: every object comes from the DLL that the registry names. Built for x64 and
// x86, each reading and writing its own registry view, as the shell in a process of that
// bitness does; VELLUMTAG_HANDLER_DLL is the handler of that bitness.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PropertyExtension.h"
#include "TestSupport.h"
#include "Version.h"
#include "WindowsTestSupport.h"
#include "metadata/PropertyTable.h"

using namespace vellumtag;
using namespace vellumtag::test;

namespace {

const wchar_t *const kHandlerKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.pdf";
const wchar_t *const kListsKey = L"SystemFileAssociations\\.pdf";
// What another product left before the installer runs; uninstalling must bring it back.
const wchar_t *const kOtherHandler = L"{0B5F1E84-6D4A-4C9E-9B1A-2F3E4D5C6B7A}";
const wchar_t *const kOtherInfoTip = L"prop:System.ItemTypeText;System.Size";

std::wstring classIdText() {
    wchar_t text[64];
    StringFromGUID2(kPropertyExtensionClassId, text, 64);
    return text;
}

std::wstring classKey(const wchar_t *subkey = nullptr) {
    return L"CLSID\\" + classIdText() + (subkey != nullptr ? std::wstring(L"\\") + subkey : L"");
}

// A registry value as stored: its type and raw bytes; type REG_NONE when absent.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::string bytes;

    // The text without its terminator. Self-registration counts none, but RegSetValueExW adds
    // one when the character after the counted data is a NUL, so the data can't show it.
    std::wstring text() const {
        std::wstring out(reinterpret_cast<const wchar_t *>(bytes.data()),
                         bytes.size() / sizeof(wchar_t));
        while (!out.empty() && out.back() == L'\0')
            out.pop_back();
        return out;
    }
};

// Read raw: RegGetValueW would add a terminator that the data may lack. view: the process's
// own registry view, or KEY_WOW64_64KEY or KEY_WOW64_32KEY.
RegistryValue readValue(HKEY root, const std::wstring &key, const wchar_t *name, REGSAM view = 0) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return {};
    RegistryValue out;
    DWORD size = 0;
    if (RegQueryValueExW(handle, name, nullptr, &out.type, nullptr, &size) == ERROR_SUCCESS) {
        out.bytes.resize(size);
        if (RegQueryValueExW(handle, name, nullptr, &out.type,
                             reinterpret_cast<BYTE *>(out.bytes.data()), &size) != ERROR_SUCCESS)
            out = {};
    }
    RegCloseKey(handle);
    return out;
}

bool keyExists(HKEY root, const std::wstring &key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void setValue(HKEY root, const wchar_t *key, const wchar_t *name, const wchar_t *text) {
    const auto bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    ASSERT_EQ(RegSetKeyValueW(root, key, name, REG_SZ, text, bytes), ERROR_SUCCESS);
}

// The DisplayVersion of every entry named Vellumtag in Programs and Features, which lists the
// x64 package in the 64-bit view whatever the reader's bitness.
std::vector<std::wstring> installedVersions() {
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    std::vector<std::wstring> versions;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, uninstall.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                      &handle) != ERROR_SUCCESS)
        return versions;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(handle, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        const std::wstring entry = uninstall + L"\\" + name;
        if (readValue(HKEY_LOCAL_MACHINE, entry, L"DisplayName", KEY_WOW64_64KEY).text() ==
            L"Vellumtag")
            versions.push_back(
                readValue(HKEY_LOCAL_MACHINE, entry, L"DisplayVersion", KEY_WOW64_64KEY).text());
    }
    RegCloseKey(handle);
    return versions;
}

// The FileVersion and ProductVersion texts of a binary's VERSIONINFO resource.
std::vector<std::wstring> versionTexts(const std::wstring &path) {
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    if (block.empty() ||
        !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
        return {};
    std::vector<std::wstring> texts;
    for (const wchar_t *name : {L"FileVersion", L"ProductVersion"}) {
        void *text = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (VerQueryValueW(block.data(), query.c_str(), &text, &length) && length > 0)
            texts.emplace_back(static_cast<const wchar_t *>(text));
    }
    return texts;
}

std::wstring wide(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// Where the MSI puts the binaries: the folder of the DLL that the class names.
std::filesystem::path installFolder() {
    return std::filesystem::path(
               readValue(HKEY_CLASSES_ROOT, classKey(L"InprocServer32"), nullptr).text())
        .parent_path();
}

// COM for the calling thread, as a client of the shell would have it.
struct ComApartment {
    ComApartment() { EXPECT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    ~ComApartment() { CoUninitialize(); }
};

// Creates the handler of the class through the registry and initializes it on path; store
// holds the object whatever Initialize returned.
HRESULT createAndInitialize(const CLSID &clsid, const std::filesystem::path &path,
                            ComRef<IPropertyStore> &store) {
    ComRef<IInitializeWithFile> initializer;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IInitializeWithFile,
                                  initializer.put());
    if (FAILED(hr))
        return hr;
    hr = initializer->Initialize(path.c_str(), STGM_READ);
    if (SUCCEEDED(initializer->QueryInterface(IID_IPropertyStore, store.put())))
        return hr;
    return E_NOINTERFACE;
}

TEST(BeforeRegistering, AnEarlierVersionsRegistration) {
    // What earlier versions wrote, which registering this one must take away.
    const std::wstring key = classKey();
    const DWORD one = 1;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"DisableProcessIsolation", REG_DWORD,
                              &one, sizeof one),
              ERROR_SUCCESS);
}

TEST(Registered, RegistryLayout) {
    const auto server = readValue(HKEY_CLASSES_ROOT, classKey(L"InprocServer32"), nullptr);
    ASSERT_EQ(server.type, static_cast<DWORD>(REG_SZ));
    const std::filesystem::path path = server.text();
    EXPECT_EQ(path.filename(), VELLUMTAG_HANDLER_DLL);

    struct Case {
        std::wstring key;
        const wchar_t *name;
        std::wstring text;
    };
    const Case texts[] = {
        {classKey(), nullptr, L"Vellumtag.PropertyHandler Class"},
        {classKey(L"InprocServer32"), L"ThreadingModel", L"Both"},
    };
    for (const auto &c : texts) {
        const auto value = readValue(HKEY_CLASSES_ROOT, c.key, c.name);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value.text(), c.text);
    }
    // The handler runs in the indexer's isolated process like any other.
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, classKey(), L"DisableProcessIsolation").type,
              static_cast<DWORD>(REG_NONE));
}

TEST(Registered, ValuesInTheirSchemaTypesWithoutEmptyOnes) {
    ComApartment apartment;
    TempDir dir;
    // Language, Copyright and Rating from /Lang and XMP; no other property of theirs.
    const std::string xmp =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
        "22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/"
        "elements/1.1/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"3\">"
        "<dc:rights><rdf:Alt><rdf:li xml:lang=\"x-default\">(c) A</rdf:li></rdf:Alt></dc:rights>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>";
    const auto path = dir.write(
        "typed.pdf",
        PdfBuilder()
            .object(1, "<< /Type /Catalog /Pages 3 0 R /Lang (de-CH) /Metadata 6 0 R >>")
            .object(2, "<< /Title () /Author (A; B) /Keywords (;) /Subject <00> "
                       "/CreationDate (D:20230115103000+02'00') /ModDate (never) >>")
            .object(3, "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 >>")
            .object(4, "<< /Type /Page /Parent 3 0 R >>")
            .object(5, "<< /Type /Page /Parent 3 0 R >>")
            .stream(
                6, "<< /Type /Metadata /Subtype /XML /Length " + std::to_string(xmp.size()) + " >>",
                xmp)
            .build("/Root 1 0 R /Info 2 0 R"));
    ComRef<IPropertyStore> store;
    ASSERT_EQ(createAndInitialize(kPropertyExtensionClassId, path, store), S_OK);
    const std::map<std::string, Property> expected = {
        {"System.Author", listProperty({u"A", u"B"})},
        {"System.Document.PageCount", countProperty(2)},
        {"System.Document.DateCreated", timeProperty(utcFileTime(2023, 1, 15, 8, 30, 0))},
        {"System.Language", textProperty(u"de-CH")},
        {"System.Copyright", textProperty(u"(c) A")},
        {"System.Rating", ratingProperty(50)},
    };
    const auto contents = readAll(*store.get());
    EXPECT_EQ(contents.values, expected);
    DWORD count = 0;
    ASSERT_EQ(store->GetCount(&count), S_OK);
    EXPECT_EQ(count, expected.size());
}

TEST(Registered, SamePropertiesOnMultithreadedAndSingleThreadedThreads) {
    const auto path = sourcePath("samples/hello.pdf");
    std::map<std::string, Property> seen[2];
    HRESULT results[2] = {E_FAIL, E_FAIL};
    const DWORD models[2] = {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED};
    for (int i = 0; i < 2; ++i) {
        std::thread([&, i] {
            if (FAILED(CoInitializeEx(nullptr, models[i])))
                return;
            {
                ComRef<IPropertyStore> store;
                results[i] = createAndInitialize(kPropertyExtensionClassId, path, store);
                if (store.get() != nullptr)
                    seen[i] = readAll(*store.get()).values;
            }
            CoUninitialize();
        }).join();
    }
    EXPECT_EQ(results[0], S_OK) << "multithreaded apartment";
    EXPECT_EQ(results[1], S_OK) << "single-threaded apartment";
    EXPECT_EQ(seen[0].size(), 9u);
    EXPECT_EQ(seen[0], seen[1]);
}

TEST(Registered, StreamsGiveWhatTheFileGives) {
    ComApartment apartment;
    for (const char *sample : {"hello.pdf", "unicode-title.pdf", "xmp-only.pdf"}) {
        const auto path = sourcePath(std::string("samples/") + sample);
        ComRef<IPropertyStore> byPath;
        ASSERT_EQ(createAndInitialize(kPropertyExtensionClassId, path, byPath), S_OK) << sample;
        const auto expected = readAll(*byPath.get()).values;
        ASSERT_FALSE(expected.empty()) << sample;

        ComRef<IStream> fileStream;
        ASSERT_EQ(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                         FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                         reinterpret_cast<IStream **>(fileStream.put())),
                  S_OK);
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        const ComRef<IStream> memoryStream(SHCreateMemStream(
            reinterpret_cast<const BYTE *>(bytes.data()), static_cast<UINT>(bytes.size())));
        for (IStream *stream : {fileStream.get(), memoryStream.get()}) {
            ComRef<IInitializeWithStream> initializer;
            ASSERT_EQ(CoCreateInstance(kPropertyExtensionClassId, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IInitializeWithStream, initializer.put()),
                      S_OK);
            ASSERT_EQ(initializer->Initialize(stream, STGM_READ), S_OK) << sample;
            ComRef<IPropertyStore> store;
            ASSERT_EQ(initializer->QueryInterface(IID_IPropertyStore, store.put()), S_OK);
            EXPECT_EQ(readAll(*store.get()).values, expected) << sample;
        }
    }
}

TEST(Registered, FileOpenForWritingElsewhere) {
    ComApartment apartment;
    TempDir dir;
    const auto path = dir.path() / "busy.pdf";
    std::filesystem::copy_file(sourcePath("samples/hello.pdf"), path);
    WritingElsewhere writer(path);
    ASSERT_TRUE(writer.isOpen());
    ComRef<IPropertyStore> store;
    EXPECT_EQ(createAndInitialize(kPropertyExtensionClassId, path, store), S_OK);
    writer.close();
    EXPECT_EQ(readAll(*store.get()).values["System.Title"], textProperty(u"Hello, Vellumtag"));
}

TEST(Registered, CoCreateInstanceReadsRealFilesNotHeldOpen) {
    ComApartment apartment;
    TempDir dir;
    const std::pair<const char *, std::u16string> cases[] = {
        {"hello.pdf", u"Hello, Vellumtag"},
        {"xmp-only.pdf", u"Notes on Metadata \u2014 XMP only"},
        {"broken.pdf", u""}, // a failed load must let go of the file as well
    };
    // Its startxref leads to no cross-reference section: the reader's 199, unspecified.
    for (const auto &[name, title] : cases) {
        const auto path = dir.path() / name;
        if (title.empty())
            dir.write(name, "%PDF-1.4\nstartxref\n9\n%%EOF\n");
        else
            std::filesystem::copy_file(sourcePath(std::string("samples/") + name), path);
        ComRef<IPropertyStore> store;
        ASSERT_EQ(createAndInitialize(kPropertyExtensionClassId, path, store),
                  title.empty() ? E_FAIL : S_OK)
            << name;
        const Property expected = title.empty() ? Property{} : textProperty(title);
        EXPECT_EQ(readAll(*store.get()).values["System.Title"], expected) << name;

        // The shell may rename or delete a file whose handler is still alive.
        const auto renamed = dir.path() / (std::string("renamed-") + name);
        EXPECT_TRUE(MoveFileW(path.c_str(), renamed.c_str())) << name << " " << GetLastError();
        EXPECT_TRUE(DeleteFileW(renamed.c_str())) << name;
        EXPECT_EQ(readAll(*store.get()).values["System.Title"], expected) << name;
    }

    // The object came from the registered DLL, loaded from the registered path.
    const HMODULE module = GetModuleHandleW(VELLUMTAG_HANDLER_DLL);
    ASSERT_NE(module, nullptr);
    wchar_t loaded[MAX_PATH];
    GetModuleFileNameW(module, loaded, MAX_PATH);
    EXPECT_EQ(
        _wcsicmp(loaded,
                 readValue(HKEY_CLASSES_ROOT, classKey(L"InprocServer32"), nullptr).text().c_str()),
        0);
}

// Every property of every sample and test file, into the file that VELLUMTAG_PROPERTY_DUMP
// names: tests/real_com.sh requires the same from the x64 and the x86 handler.
TEST(PropertyDump, EverySampleAndTestFile) {
    wchar_t target[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableW(L"VELLUMTAG_PROPERTY_DUMP", target, MAX_PATH), 0u);
    ComApartment apartment;
    std::ostringstream out;
    int read = 0;
    for (const char *folder : {"samples", "tests/data"}) {
        std::vector<std::filesystem::path> files;
        for (const auto &entry : std::filesystem::directory_iterator(sourcePath(folder)))
            if (entry.path().extension() == ".pdf")
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto &file : files) {
            ComRef<IPropertyStore> store;
            const HRESULT hr = createAndInitialize(kPropertyExtensionClassId, file, store);
            out << folder << '/' << file.filename().string() << ": " << std::hex
                << static_cast<unsigned long>(hr) << std::dec << '\n';
            if (hr != S_OK)
                continue;
            ++read;
            for (const auto &[name, value] : readAll(*store.get()).values)
                out << "  " << name << " = " << ::testing::PrintToString(value) << '\n';
        }
    }
    EXPECT_GT(read, 10);
    std::ofstream(std::filesystem::path(target), std::ios::binary) << out.str();
}

TEST(Unregistered, NothingLeftAndUnregisteringAgainFails) {
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey()));
    ComApartment apartment;
    ComRef<IPropertyStore> store;
    EXPECT_EQ(CoCreateInstance(kPropertyExtensionClassId, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IPropertyStore, store.put()),
              REGDB_E_CLASSNOTREG);

    const HMODULE module = LoadLibraryW(hostPath(VELLUMTAG_PACKAGE_DLL).c_str());
    ASSERT_NE(module, nullptr);
    const auto entry = [module](const char *name) {
        return reinterpret_cast<HRESULT(WINAPI *)()>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    };
    const auto registerServer = entry("DllRegisterServer");
    const auto unregister = entry("DllUnregisterServer");
    ASSERT_NE(registerServer, nullptr);
    ASSERT_NE(unregister, nullptr);
    EXPECT_EQ(unregister(), static_cast<HRESULT>(0x80070002));
    // The exact results, which regsvr32 reduces to success or failure; unregistered again.
    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_EQ(unregister(), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey()));
    EXPECT_EQ(unregister(), static_cast<HRESULT>(0x80070002));
    FreeLibrary(module);
}

TEST(BeforeInstall, AnotherProductsSettings) {
    setValue(HKEY_LOCAL_MACHINE, kHandlerKey, nullptr, kOtherHandler);
    setValue(HKEY_CLASSES_ROOT, kListsKey, L"InfoTip", kOtherInfoTip);
}

TEST(Installed, HandlerAndPropertyLists) {
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kHandlerKey, nullptr).text(), classIdText());
    for (const wchar_t *list : {L"FullDetails", L"PreviewDetails"}) {
        const auto value = readValue(HKEY_CLASSES_ROOT, kListsKey, list);
        ASSERT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        // Names are separated by ';' after "prop:"; every property of the handler is listed.
        const std::wstring text = value.text();
        ASSERT_EQ(text.substr(0, 5), L"prop:");
        const std::wstring names = L";" + text.substr(5) + L";";
        for (const auto &row : kPropertyTable) {
            const std::wstring name(row.canonicalName.begin(), row.canonicalName.end());
            EXPECT_NE(names.find(L";" + name + L";"), std::wstring::npos) << row.canonicalName;
        }
    }
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kListsKey, L"InfoTip").text().substr(0, 5), L"prop:");
}

TEST(Installed, TheShellsWayToTheHandler) {
    // As the shell does it: the class named for ".pdf", created through the registry.
    const std::wstring text = readValue(HKEY_LOCAL_MACHINE, kHandlerKey, nullptr).text();
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromString(text.c_str(), &clsid), NOERROR);
    ComApartment apartment;
    ComRef<IPropertyStore> store;
    ASSERT_EQ(createAndInitialize(clsid, sourcePath("samples/hello.pdf"), store), S_OK);
    EXPECT_EQ(readAll(*store.get()).values["System.Author"], listProperty({u"Vellumtag Team"}));
}

TEST(Uninstalled, PreviousSettingsBack) {
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kHandlerKey, nullptr).text(), kOtherHandler);
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kListsKey, L"InfoTip").text(), kOtherInfoTip);
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kListsKey, L"FullDetails").type,
              static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kListsKey, L"PreviewDetails").type,
              static_cast<DWORD>(REG_NONE));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey()));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vellumtag"));
}

TEST(OursLeftBehind, OurHandlerWithoutARecord) {
    setValue(HKEY_LOCAL_MACHINE, kHandlerKey, nullptr, classIdText().c_str());
}

TEST(NothingOfOursLeft, NoHandlerNoListsNoClass) {
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kHandlerKey, nullptr).type,
              static_cast<DWORD>(REG_NONE));
    for (const wchar_t *list : {L"FullDetails", L"PreviewDetails", L"InfoTip"})
        EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, kListsKey, list).type, static_cast<DWORD>(REG_NONE))
            << list;
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey()));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vellumtag"));
}

TEST(InstalledByMsi, ClassEntryAndVersions) {
    const std::filesystem::path folder = installFolder();
    EXPECT_EQ(folder.filename(), L"Vellumtag");
    // Each view names the DLL of its own bitness.
    EXPECT_EQ(std::filesystem::path(
                  readValue(HKEY_CLASSES_ROOT, classKey(L"InprocServer32"), nullptr).text())
                  .filename(),
              VELLUMTAG_HANDLER_DLL);
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, classKey(L"InprocServer32"), L"ThreadingModel").text(),
              L"Both");
    EXPECT_EQ(installedVersions(), std::vector<std::wstring>{wide(kVersion)});
    for (const wchar_t *binary : {L"Vellumtag.exe", VELLUMTAG_HANDLER_DLL})
        EXPECT_EQ(versionTexts(folder / binary),
                  (std::vector<std::wstring>{wide(kVersion), wide(kVersion)}))
            << binary;
    EXPECT_EQ(
        readValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vellumtag\\Install\\PropertyHandler", nullptr)
            .text(),
        kOtherHandler);
}

TEST(UpgradedByMsi, OneEntryOfTheNewVersionAndTheFirstSavedSettings) {
    EXPECT_EQ(installedVersions(), std::vector<std::wstring>{wide(VELLUMTAG_NEXT_VERSION)});
    EXPECT_TRUE(std::filesystem::exists(installFolder() / L"Vellumtag.exe"));
    EXPECT_EQ(
        readValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vellumtag\\Install\\PropertyHandler", nullptr)
            .text(),
        kOtherHandler);
}

TEST(UninstalledByMsi, NoEntryNoFiles) {
    EXPECT_TRUE(installedVersions().empty());
    wchar_t programFiles[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableW(L"ProgramW6432", programFiles, MAX_PATH), 0u);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(programFiles) / L"Vellumtag"));
}

} // namespace
