#include <gtest/gtest.h>

#include <windows.h>

#include <propsys.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>

#include "ClassFactory.h"
#include "MetadataDate.h"
#include "PDFDocument.h"
#include "PropertyExtension.h"
#include "PropertyValues.h"
#include "TestSupport.h"
#include "WindowsTestSupport.h"

using namespace vellumtag;
using namespace vellumtag::test;

// While set, every allocation through operator new fails: the way to run a COM method out of
// memory.
static std::atomic<bool> failAllocations{false};

void *operator new(std::size_t size) {
    if (failAllocations)
        throw std::bad_alloc();
    if (void *memory = HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void *memory) noexcept { HeapFree(GetProcessHeap(), 0, memory); }
void operator delete(void *memory, std::size_t) noexcept { HeapFree(GetProcessHeap(), 0, memory); }

namespace {

// A new handler, released with the last reference.
struct Handler {
    PropertyExtension *object = new PropertyExtension();
    Handler() = default;
    Handler(const Handler &) = delete;
    Handler &operator=(const Handler &) = delete;
    ~Handler() { object->Release(); }

    HRESULT initialize(const std::filesystem::path &path, DWORD mode = STGM_READ) {
        return object->Initialize(path.c_str(), mode);
    }
    std::map<std::string, Property> values() { return readAll(*object).values; }
    // GetCount's count, or its failure.
    HRESULT count() {
        DWORD count = 99;
        const HRESULT hr = object->GetCount(&count);
        return SUCCEEDED(hr) ? static_cast<HRESULT>(count) : hr;
    }
};

const PROPERTYKEY kTitle = toPlatformKey(kPropertyTable[0].key);
constexpr PROPERTYKEY kUnknownKey = {
    {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}, 99};

Property dateOf(std::u16string_view text) { return timeProperty(*ConvertMetadataDate(text)); }

// Two instants, whatever the zone: the dates of samples/hello.pdf, D:20261208120000+01'00' and
// D:20261208130500Z.
constexpr std::uint64_t kDec8At1100Utc = 134'412'012'000'000'000; // 2026-12-08 11:00 UTC
constexpr std::uint64_t kDec8At1305Utc = 134'412'087'000'000'000; // 2026-12-08 13:05 UTC

TEST(PropertyExtension, InitializeResults) {
    TempDir dir;
    const auto sample = sourcePath("samples/hello.pdf");
    const auto copy = [&](const char *name) {
        std::filesystem::copy_file(sample, dir.path() / name);
        return dir.path() / name;
    };
    std::filesystem::create_directory(dir.path() / "folder.pdf");
    // What GetCount gives afterwards: E_UNEXPECTED without a store, 0 for an empty one.
    struct Case {
        const char *what;
        std::filesystem::path path;
        DWORD mode;
        HRESULT expected, count;
    };
    const Case cases[] = {
        {"read-write", sample, STGM_READWRITE, STG_E_ACCESSDENIED, E_UNEXPECTED},
        {"read-write, exclusive", sample, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STG_E_ACCESSDENIED,
         E_UNEXPECTED},
        {"write bit alone: not examined", sample, STGM_WRITE, S_OK, 9},
        {"three characters", L"pdf", STGM_READ, E_NOTIMPL, E_UNEXPECTED},
        {"empty path", L"", STGM_READ, E_NOTIMPL, E_UNEXPECTED},
        {"a PDF named .txt", copy("hello.txt"), STGM_READ, E_NOTIMPL, E_UNEXPECTED},
        {"a fifth letter", copy("hello.pdfx"), STGM_READ, E_NOTIMPL, E_UNEXPECTED},
        {"capitals", copy("CAPS.PDF"), STGM_READ, S_OK, 9},
        {"mixed case", copy("Mixed.pDf"), STGM_READ, S_OK, 9},
        {"missing file", dir.path() / "missing.pdf", STGM_READ, E_NOTIMPL, 0},
        {"not a PDF", dir.write("text.pdf", "just text\n"), STGM_READ, E_NOTIMPL, 0},
        {"a folder", dir.path() / "folder.pdf", STGM_READ, E_NOTIMPL, 0},
    };
    for (const auto &c : cases) {
        Handler handler;
        EXPECT_EQ(handler.initialize(c.path, c.mode), c.expected) << c.what;
        EXPECT_EQ(handler.count(), c.count) << c.what;
    }
    Handler nullPath;
    EXPECT_EQ(nullPath.object->Initialize(nullptr, STGM_READ), E_INVALIDARG);
    EXPECT_EQ(nullPath.count(), E_UNEXPECTED);
}

TEST(PropertyExtension, InitializeRefusedWhereComCannotBeInitialized) {
    // A thread already in the multithreaded apartment makes CoInitialize fail at creation.
    HRESULT joined = S_OK, result = S_OK, counted = S_OK;
    std::thread([&] {
        joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        Handler handler;
        result = handler.initialize(sourcePath("samples/hello.pdf"));
        counted = handler.count();
        CoUninitialize();
    }).join();
    ASSERT_EQ(joined, S_OK);
    EXPECT_EQ(result, E_UNEXPECTED);
    EXPECT_EQ(counted, E_UNEXPECTED);
}

TEST(PropertyExtension, ReadsWithoutAStoreClearTheirOutputs) {
    Handler handler;
    DWORD count = 7;
    EXPECT_EQ(handler.object->GetCount(&count), E_UNEXPECTED);
    EXPECT_EQ(count, 0u);
    PROPERTYKEY key = kTitle;
    EXPECT_EQ(handler.object->GetAt(0, &key), E_UNEXPECTED);
    EXPECT_TRUE(IsEqualGUID(key.fmtid, GUID_NULL) && key.pid == 0);
    PROPVARIANT value;
    value.vt = VT_I4;
    EXPECT_EQ(handler.object->GetValue(kTitle, &value), E_UNEXPECTED);
    EXPECT_EQ(value.vt, VT_EMPTY);
}

TEST(PropertyExtension, ServesTheSamples) {
    const std::pair<const char *, std::map<std::string, Property>> cases[] = {
        {"hello.pdf",
         {{"System.Title", textProperty(u"Hello, Vellumtag")},
          {"System.Author", textProperty(u"Vellumtag Team")},
          {"System.Subject", textProperty(u"A one-page sample")},
          {"System.Keywords", textProperty(u"pdf, metadata, sample")},
          {"System.ApplicationName", textProperty(u"Vellumtag sample writer")},
          {"System.Software.ProductName", textProperty(u"make-samples")},
          {"System.Document.PageCount", textProperty(u"1")},
          {"System.Document.DateCreated", timeProperty(kDec8At1100Utc)},
          {"System.Document.DateSaved", timeProperty(kDec8At1305Utc)}}},
        {"updated.pdf",
         {{"System.Title", textProperty(u"Final version")},
          {"System.Author", textProperty(u"Vellumtag Team")},
          {"System.Category", textProperty(u"Samples")},
          {"System.Comment", textProperty(u"Saved twice: the newer /Info wins")},
          {"System.Company", textProperty(u"Vellumtag")},
          {"System.Document.PageCount", textProperty(u"1")}}},
    };
    for (const auto &[sample, expected] : cases) {
        Handler handler;
        ASSERT_EQ(handler.initialize(sourcePath(std::string("samples/") + sample)), S_OK);
        // The store chooses the order in which GetAt lists the keys; each comes once.
        const auto contents = readAll(*handler.object);
        EXPECT_EQ(contents.values, expected) << sample;
        EXPECT_EQ(contents.order.size(), expected.size()) << sample;
        PROPERTYKEY key{};
        EXPECT_FALSE(SUCCEEDED(handler.object->GetAt(static_cast<DWORD>(expected.size()), &key)));
        PROPVARIANT value;
        PropVariantInit(&value);
        EXPECT_EQ(handler.object->GetValue(kUnknownKey, &value), S_OK);
        EXPECT_EQ(value.vt, VT_EMPTY);
    }
    Handler unicode;
    ASSERT_EQ(unicode.initialize(sourcePath("samples/unicode-title.pdf")), S_OK);
    EXPECT_EQ(unicode.values()["System.Title"],
              textProperty(u"\u00DCn\u00EFc\u00F8d\u00E9 \u2014 "
                           u"\u65E5\u672C\u8A9E\u306E\u30BF\u30A4\u30C8\u30EB \U0001F4DA"));
}

TEST(PropertyExtension, StoresWhatTheDocumentHoldsReadOnly) {
    TempDir dir;
    struct Case {
        const char *what, *info;
        std::map<std::string, Property> values;
    };
    const Case cases[] = {
        {"title only", "/Title (Only a title)", {{"System.Title", textProperty(u"Only a title")}}},
        {"text up to a NUL",
         "/Title (Before\\000After) /Author <00>",
         {{"System.Title", textProperty(u"Before")}, {"System.Author", textProperty(u"")}}},
        {"dates that can't be converted",
         "/CreationDate (D:20261308120000) /ModDate (D:2026120)",
         {{"System.Document.DateCreated", Property{}}, {"System.Document.DateSaved", Property{}}}},
        {"partial dates",
         "/CreationDate (D:2026) /ModDate (2026-12-08T12:00+01:00)",
         {{"System.Document.DateCreated", dateOf(u"D:2026")},
          {"System.Document.DateSaved", timeProperty(kDec8At1100Utc)}}},
        {"empty values are left out",
         "/Title () /Subject (   ) /Keywords (k)",
         {{"System.Keywords", textProperty(u"k")}}},
        {"keys are case-sensitive", "/title (t) /AUTHOR (a) /Comment (c)", {}},
    };
    for (const auto &c : cases) {
        const auto pdf = PdfBuilder()
                             .object(1, "<< /Type /Catalog >>")
                             .object(2, std::string("<< ") + c.info + " >>")
                             .build("/Root 1 0 R /Info 2 0 R");
        const auto path = dir.write("info.pdf", pdf);
        Handler handler;
        ASSERT_EQ(handler.initialize(path), S_OK) << c.what;
        EXPECT_EQ(handler.values(), c.values) << c.what;

        // The handler's values come from StoreProperties: into a store of the test's own, it
        // puts the same values, each marked read-only.
        PDFDocument document;
        ASSERT_EQ(document.load(path), PDFResult::Ok) << c.what;
        ComRef<IPropertyStoreCache> store;
        ASSERT_EQ(PSCreateMemoryPropertyStore(IID_IPropertyStoreCache, store.put()), S_OK);
        StoreProperties(*store.get(), document.values());
        EXPECT_EQ(readAll(*store.get()).values, c.values) << c.what;
        for (const auto &row : kPropertyTable) {
            PSC_STATE state = PSC_NORMAL;
            store->GetState(toPlatformKey(row.key), &state);
            if (c.values.count(std::string(row.canonicalName)) != 0) {
                EXPECT_EQ(state, PSC_READONLY) << c.what << " " << row.canonicalName;
            }
        }
    }
}

TEST(PropertyExtension, RefusesEveryChange) {
    Handler handler;
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = const_cast<wchar_t *>(L"changed");
    for (const bool initialized : {false, true}) {
        if (initialized) {
            ASSERT_EQ(handler.initialize(sourcePath("samples/hello.pdf")), S_OK);
        }
        for (const auto &key : {kTitle, toPlatformKey(kPropertyTable[4].key), kUnknownKey}) {
            EXPECT_EQ(handler.object->SetValue(key, value), STG_E_ACCESSDENIED);
            EXPECT_EQ(handler.object->IsPropertyWritable(key), S_FALSE);
        }
        EXPECT_EQ(handler.object->Commit(), E_NOTIMPL);
    }
    EXPECT_EQ(handler.values()["System.Title"], textProperty(u"Hello, Vellumtag"));
}

TEST(PropertyExtension, InitializeOnlyOnce) {
    const auto sample = sourcePath("samples/hello.pdf");
    const HRESULT again = HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    ASSERT_EQ(again, static_cast<HRESULT>(0x800704DF));

    Handler succeeded;
    ASSERT_EQ(succeeded.initialize(sample), S_OK);
    EXPECT_EQ(succeeded.initialize(sourcePath("samples/updated.pdf")), again);
    EXPECT_EQ(succeeded.values()["System.Title"], textProperty(u"Hello, Vellumtag"));

    Handler failed;
    ASSERT_EQ(failed.object->Initialize(nullptr, STGM_READ), E_INVALIDARG);
    EXPECT_EQ(failed.initialize(sample), again);
    EXPECT_EQ(failed.count(), E_UNEXPECTED);
}

TEST(PropertyExtension, ThreeInterfacesOneObject) {
    Handler handler;
    ComRef<IUnknown> identity;
    ASSERT_EQ(handler.object->QueryInterface(IID_IUnknown, identity.put()), S_OK);
    for (const auto &iid :
         {IID_IPropertyStore, IID_IInitializeWithFile, IID_IPropertyStoreCapabilities}) {
        ComRef<IUnknown> face, unknown;
        ASSERT_EQ(handler.object->QueryInterface(iid, face.put()), S_OK);
        ASSERT_EQ(face->QueryInterface(IID_IUnknown, unknown.put()), S_OK);
        EXPECT_EQ(unknown.get(), identity.get());
    }
    for (const auto &iid : {IID_IPropertyStoreCache, IID_IClassFactory, IID_IPersistFile}) {
        void *out = &handler;
        EXPECT_EQ(handler.object->QueryInterface(iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    // The faces share one reference count.
    EXPECT_EQ(static_cast<IInitializeWithFile *>(handler.object)->AddRef(), 3u);
    EXPECT_EQ(static_cast<IPropertyStoreCapabilities *>(handler.object)->Release(), 2u);
}

TEST(PropertyExtension, OutOfMemoryBecomesAResult) {
    Handler handler;
    failAllocations = true;
    const HRESULT initialized = handler.object->Initialize(L"Z:\\any\\file.pdf", STGM_READ);
    failAllocations = false;
    EXPECT_EQ(initialized, E_OUTOFMEMORY);

    ClassFactory *factory = new ClassFactory();
    void *object = &handler;
    failAllocations = true;
    const HRESULT created = factory->CreateInstance(nullptr, IID_IPropertyStore, &object);
    failAllocations = false;
    EXPECT_EQ(created, E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
    factory->Release();
}

} // namespace
