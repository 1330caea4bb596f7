#include <gtest/gtest.h>

#include <windows.h>

#include <propsys.h>
#include <shlwapi.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <thread>

#include "ClassFactory.h"
#include "PDFDocument.h"
#include "PropertyExtension.h"
#include "PropertyValues.h"
#include "TestSupport.h"
#include "WindowsTestSupport.h"
#include "metadata/MetadataDate.h"

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
        return initialize(path.c_str(), mode);
    }
    HRESULT initialize(LPCWSTR path, DWORD mode = STGM_READ) {
        return static_cast<IInitializeWithFile *>(object)->Initialize(path, mode);
    }
    HRESULT initialize(IStream *stream, DWORD mode = STGM_READ) {
        return static_cast<IInitializeWithStream *>(object)->Initialize(stream, mode);
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

std::string readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::map<std::string, Property> kHelloValues = {
    {"System.Title", textProperty(u"Hello, Vellumtag")},
    {"System.Author", listProperty({u"Vellumtag Team"})},
    {"System.Subject", textProperty(u"A one-page sample")},
    {"System.Keywords", listProperty({u"pdf, metadata, sample"})},
    {"System.ApplicationName", textProperty(u"Vellumtag sample writer")},
    {"System.Software.ProductName", textProperty(u"make-samples")},
    {"System.Document.PageCount", countProperty(1)},
    // D:20261208120000+01'00' and D:20261208130500Z: the same instants in every zone.
    {"System.Document.DateCreated", timeProperty(utcFileTime(2026, 12, 8, 11, 0, 0))},
    {"System.Document.DateSaved", timeProperty(utcFileTime(2026, 12, 8, 13, 5, 0))},
};

TEST(PropertyExtension, InitializeResults) {
    TempDir dir;
    const auto sample = sourcePath("samples/hello.pdf");
    const auto copy = [&](const char *name, const std::filesystem::path &from) {
        std::filesystem::copy_file(from, dir.path() / name);
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
        {"a PDF named .txt", copy("hello.txt", sample), STGM_READ, E_NOTIMPL, E_UNEXPECTED},
        {"a fifth letter", copy("hello.pdfx", sample), STGM_READ, E_NOTIMPL, E_UNEXPECTED},
        {"capitals", copy("CAPS.PDF", sample), STGM_READ, S_OK, 9},
        {"mixed case", copy("Mixed.pDf", sample), STGM_READ, S_OK, 9},
        // A failed load says why, and leaves an empty store.
        {"missing file", dir.path() / "missing.pdf", STGM_READ,
         HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0},
        {"missing folder", dir.path() / "none" / "missing.pdf", STGM_READ,
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), 0},
        {"a folder", dir.path() / "folder.pdf", STGM_READ, E_ACCESSDENIED, 0},
        {"empty file", dir.write("empty.pdf", ""), STGM_READ, HRESULT_FROM_WIN32(ERROR_BAD_FORMAT),
         0},
        {"not a PDF", dir.write("text.pdf", "just text\n"), STGM_READ,
         HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), 0},
        {"nothing to read past the header", dir.write("broken.pdf", "%PDF-1.4\n%%EOF\n"), STGM_READ,
         HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), 0},
        {"a user password",
         copy("locked.pdf", sourcePath("tests/data/encrypted-aes128-user-password.pdf")), STGM_READ,
         E_ACCESSDENIED, 0},
    };
    for (const auto &c : cases) {
        Handler handler;
        EXPECT_EQ(handler.initialize(c.path, c.mode), c.expected) << c.what;
        EXPECT_EQ(handler.count(), c.count) << c.what;
    }
    Handler nullPath;
    EXPECT_EQ(nullPath.initialize(static_cast<LPCWSTR>(nullptr)), E_INVALIDARG);
    EXPECT_EQ(nullPath.count(), E_UNEXPECTED);
    Handler nullStream;
    EXPECT_EQ(nullStream.initialize(static_cast<IStream *>(nullptr)), E_INVALIDARG);
    EXPECT_EQ(nullStream.count(), E_UNEXPECTED);
}

TEST(PropertyExtension, SameValuesInEveryApartment) {
    // No COM at all, a single-threaded and a multithreaded apartment: the object needs none of
    // its own, and must not take one that the thread can't have.
    const DWORD models[] = {~DWORD{0}, COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED};
    for (const DWORD model : models) {
        HRESULT joined = S_OK, result = E_FAIL;
        std::map<std::string, Property> values;
        std::thread([&] {
            if (model != ~DWORD{0})
                joined = CoInitializeEx(nullptr, model);
            {
                Handler handler;
                result = handler.initialize(sourcePath("samples/hello.pdf"));
                values = handler.values();
            }
            if (model != ~DWORD{0})
                CoUninitialize();
        }).join();
        ASSERT_EQ(joined, S_OK) << model;
        EXPECT_EQ(result, S_OK) << model;
        EXPECT_EQ(values, kHelloValues) << model;
    }
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

TEST(PropertyExtension, ServesTheSamplesInTheirSchemaTypes) {
    const std::pair<const char *, std::map<std::string, Property>> cases[] = {
        {"hello.pdf", kHelloValues},
        {"updated.pdf",
         {{"System.Title", textProperty(u"Final version")},
          {"System.Author", listProperty({u"Vellumtag Team"})},
          {"System.Category", textProperty(u"Samples")},
          {"System.Comment", textProperty(u"Saved twice: the newer /Info wins")},
          {"System.Company", textProperty(u"Vellumtag")},
          {"System.Document.PageCount", countProperty(1)}}},
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

TEST(PropertyExtension, StoresWhatTheDocumentHoldsReadOnlyAndNothingEmpty) {
    TempDir dir;
    struct Case {
        const char *what, *info;
        std::map<std::string, Property> values;
    };
    const Case cases[] = {
        {"title only", "/Title (Only a title)", {{"System.Title", textProperty(u"Only a title")}}},
        {"text up to a NUL, none when that is empty",
         "/Title (Before\\000After) /Subject <00> /Author (\\000A)",
         {{"System.Title", textProperty(u"Before")}}},
        {"authors and keywords split at ';', trimmed, empty items dropped",
         "/Author (A; B) /Keywords ( one ;;two;  ; three\\t)",
         {{"System.Author", listProperty({u"A", u"B"})},
          {"System.Keywords", listProperty({u"one", u"two", u"three"})}}},
        {"a list of separators only is no property", "/Author (; ;) /Keywords (;)", {}},
        {"a date with its zone is that instant, a partial one has its defaults",
         "/CreationDate (2023-01-15T10:30+02:00) /ModDate (D:2023)",
         {{"System.Document.DateCreated", timeProperty(utcFileTime(2023, 1, 15, 8, 30, 0))},
          {"System.Document.DateSaved", dateOf(u"D:20230101000000")}}},
        {"dates that can't be read are no property",
         "/CreationDate (D:20261308120000) /ModDate (D:2026120)",
         {}},
        {"empty values are left out",
         "/Title () /Subject (   ) /Keywords (k)",
         {{"System.Keywords", listProperty({u"k"})}}},
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
        EXPECT_EQ(handler.count(), static_cast<HRESULT>(c.values.size())) << c.what;

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

// System.Language from /Lang or else dc:language, System.Copyright from dc:rights or else
// xmpRights:UsageTerms, System.Rating from xmp:Rating on the shell's scale; nothing stored for
// what is missing, unrated or rejected.
TEST(PropertyExtension, LanguageCopyrightAndRating) {
    TempDir dir;
    const auto packet = [](const std::string &properties) {
        return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/"
               "1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
               "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
               "xmlns:xmpRights=\"http://ns.adobe.com/xap/1.0/rights/\">" +
               properties + "</rdf:Description></rdf:RDF></x:xmpmeta>";
    };
    struct Case {
        const char *what, *catalog;
        std::string xmp;
        std::map<std::string, Property> values;
    };
    const Case cases[] = {
        {"/Lang wins over dc:language; dc:rights over the usage terms; four stars",
         "/Lang (de-CH)",
         packet("<dc:language><rdf:Bag><rdf:li>en</rdf:li></rdf:Bag></dc:language>"
                "<dc:rights><rdf:Alt><rdf:li xml:lang=\"x-default\">(c) Ann</rdf:li></rdf:Alt>"
                "</dc:rights><xmpRights:UsageTerms>Terms</xmpRights:UsageTerms>"
                "<xmp:Rating>4</xmp:Rating>"),
         {{"System.Language", textProperty(u"de-CH")},
          {"System.Copyright", textProperty(u"(c) Ann")},
          {"System.Rating", ratingProperty(75)}}},
        {"the fallbacks, one star",
         "",
         packet("<dc:language><rdf:Bag><rdf:li>fr</rdf:li></rdf:Bag></dc:language>"
                "<xmpRights:UsageTerms>Terms</xmpRights:UsageTerms><xmp:Rating>1</xmp:Rating>"),
         {{"System.Language", textProperty(u"fr")},
          {"System.Copyright", textProperty(u"Terms")},
          {"System.Rating", ratingProperty(1)}}},
        {"five stars",
         "",
         packet("<xmp:Rating>5</xmp:Rating>"),
         {{"System.Rating", ratingProperty(99)}}},
        {"unrated and rejected store nothing", "", packet("<xmp:Rating>0</xmp:Rating>"), {}},
        {"rejected", "", packet("<xmp:Rating>-1</xmp:Rating>"), {}},
        {"nothing at all", "", "", {}},
    };
    for (const auto &c : cases) {
        PdfBuilder builder;
        builder.object(1, std::string("<< /Type /Catalog ") + c.catalog +
                              (c.xmp.empty() ? "" : " /Metadata 2 0 R") + " >>");
        if (!c.xmp.empty())
            builder.stream(2,
                           "<< /Type /Metadata /Subtype /XML /Length " +
                               std::to_string(c.xmp.size()) + " >>",
                           c.xmp);
        const auto path = dir.write("facts.pdf", builder.build("/Root 1 0 R"));
        Handler handler;
        ASSERT_EQ(handler.initialize(path), S_OK) << c.what;
        auto values = handler.values();
        for (const char *name : {"System.Language", "System.Copyright", "System.Rating"})
            EXPECT_EQ(values.count(name) != 0, c.values.count(name) != 0) << c.what << " " << name;
        for (const auto &[name, value] : c.values)
            EXPECT_EQ(values[name], value) << c.what << " " << name;
    }
}

TEST(PropertyExtension, StreamsGiveWhatTheFileGives) {
    TempDir dir;
    std::vector<std::filesystem::path> files;
    for (const char *sample : {"hello.pdf", "updated.pdf", "unicode-title.pdf", "xmp-only.pdf"})
        files.push_back(sourcePath(std::string("samples/") + sample));
    files.push_back(sourcePath("tests/data/encrypted-aes256.pdf"));
    files.push_back(dir.write("text.pdf", "just text\n"));
    for (const auto &path : files) {
        Handler byPath;
        const HRESULT expected = byPath.initialize(path);
        const auto values = byPath.values();

        // The shell's stream on the file, and a stream in memory of the same bytes.
        ComRef<IStream> fileStream;
        ASSERT_EQ(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                         FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                         reinterpret_cast<IStream **>(fileStream.put())),
                  S_OK);
        const std::string bytes = readFile(path);
        const ComRef<IStream> memoryStream(SHCreateMemStream(
            reinterpret_cast<const BYTE *>(bytes.data()), static_cast<UINT>(bytes.size())));
        ASSERT_NE(memoryStream.get(), nullptr);
        TestStream ownStream(bytes);
        ownStream.statFails = true; // its size comes from seeking to the end
        for (IStream *stream :
             {fileStream.get(), memoryStream.get(), static_cast<IStream *>(&ownStream)}) {
            Handler byStream;
            EXPECT_EQ(byStream.initialize(stream), expected) << path;
            EXPECT_EQ(byStream.values(), values) << path;
        }
        // Nothing keeps the stream.
        EXPECT_EQ(ownStream.references(), 1);
    }
}

TEST(PropertyExtension, StreamsAreReadInPiecesAndTheirFailuresReported) {
    // Metadata at both ends of 8 MiB: the reader looks at the ends, never at all of it.
    const std::string big = PdfBuilder()
                                .object(1, "<< /Type /Catalog /Pages 3 0 R >>")
                                .object(2, "<< /Title (Far apart) >>")
                                .object(3, "<< /Type /Pages /Kids [] /Count 0 >>")
                                .hole(8u << 20)
                                .object(4, "<< /Type /Pages /Kids [] /Count 0 >>")
                                .build("/Root 1 0 R /Info 2 0 R");
    TestStream whole(big);
    Handler reader;
    ASSERT_EQ(reader.initialize(&whole), S_OK);
    EXPECT_EQ(reader.values()["System.Title"], textProperty(u"Far apart"));
    EXPECT_LT(whole.bytesRead(), std::uint64_t{1} << 20);

    const std::string hello = readFile(sourcePath("samples/hello.pdf"));
    struct Case {
        const char *what;
        std::uint64_t failAt, claimed;
        HRESULT failure, expected;
    };
    const HRESULT lost = HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED);
    const Case cases[] = {
        {"fails at once", 0, hello.size(), lost, lost},
        {"fails after the header", 16, hello.size(), STG_E_READFAULT, STG_E_READFAULT},
        {"fails near the end", hello.size() - 64, hello.size(), lost, lost},
        {"ends before its size", UINT64_MAX, hello.size() + 4096, S_OK,
         HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
    };
    for (const auto &c : cases) {
        TestStream stream(hello);
        stream.failAt = c.failAt;
        stream.failure = c.failure;
        stream.claimSize(c.claimed);
        Handler handler;
        EXPECT_EQ(handler.initialize(&stream), c.expected) << c.what;
        EXPECT_EQ(handler.count(), 0) << c.what;
        EXPECT_EQ(stream.references(), 1) << c.what;
    }
}

TEST(PropertyExtension, FilesSharedWithWritersAndNeverHeld) {
    TempDir dir;
    const auto path = dir.path() / "busy.pdf";
    std::filesystem::copy_file(sourcePath("samples/hello.pdf"), path);
    // A viewer saving it, a download in progress: another handle has it open for writing.
    WritingElsewhere writer(path);
    ASSERT_TRUE(writer.isOpen());
    Handler handler;
    EXPECT_EQ(handler.initialize(path), S_OK);
    writer.close();
    EXPECT_EQ(handler.values(), kHelloValues);

    // Once Initialize returned, the file is free: opened exclusively, renamed, deleted.
    const HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(exclusive, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(exclusive);
    const auto renamed = dir.path() / "renamed.pdf";
    EXPECT_TRUE(MoveFileW(path.c_str(), renamed.c_str())) << GetLastError();
    EXPECT_TRUE(DeleteFileW(renamed.c_str())) << GetLastError();
    EXPECT_EQ(handler.values(), kHelloValues);
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

TEST(PropertyExtension, InitializeOnlyOnceThroughEitherInterface) {
    const auto sample = sourcePath("samples/hello.pdf");
    const HRESULT again = HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    ASSERT_EQ(again, static_cast<HRESULT>(0x800704DF));
    TestStream stream(readFile(sourcePath("samples/updated.pdf")));

    Handler succeeded;
    ASSERT_EQ(succeeded.initialize(sample), S_OK);
    EXPECT_EQ(succeeded.initialize(sourcePath("samples/updated.pdf")), again);
    EXPECT_EQ(succeeded.initialize(&stream), again);
    EXPECT_EQ(succeeded.values()["System.Title"], textProperty(u"Hello, Vellumtag"));

    Handler failed;
    ASSERT_EQ(failed.initialize(static_cast<LPCWSTR>(nullptr)), E_INVALIDARG);
    EXPECT_EQ(failed.initialize(sample), again);
    EXPECT_EQ(failed.count(), E_UNEXPECTED);

    Handler streamFirst;
    ASSERT_EQ(streamFirst.initialize(&stream), S_OK);
    EXPECT_EQ(streamFirst.initialize(sample), again);
    EXPECT_EQ(streamFirst.values()["System.Title"], textProperty(u"Final version"));
}

TEST(PropertyExtension, FourInterfacesOneObject) {
    Handler handler;
    ComRef<IUnknown> identity;
    ASSERT_EQ(handler.object->QueryInterface(IID_IUnknown, identity.put()), S_OK);
    for (const auto &iid : {IID_IPropertyStore, IID_IInitializeWithFile, IID_IInitializeWithStream,
                            IID_IPropertyStoreCapabilities}) {
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
    const HRESULT initialized = handler.initialize(L"Z:\\any\\file.pdf");
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
