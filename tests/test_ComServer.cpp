#include <gtest/gtest.h>

#include <windows.h>

#include <propsys.h>

#include <string>

#include "PropertyExtension.h"
#include "WindowsTestSupport.h"

using namespace vellumtag;
using namespace vellumtag::test;

namespace {

// The built DLL, loaded once beside this program: its exports are what COM calls.
class Server {
public:
    using GetClassObject = HRESULT(WINAPI *)(REFCLSID, REFIID, void **);
    using NoArguments = HRESULT(WINAPI *)();

    static Server &instance() {
        static Server server;
        return server;
    }

    HMODULE module = nullptr;
    GetClassObject getClassObject = nullptr;
    NoArguments canUnloadNow = nullptr, registerServer = nullptr, unregisterServer = nullptr;

private:
    Server() {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        module = LoadLibraryW(
            (std::filesystem::path(self).parent_path() / VELLUMTAG_HANDLER_DLL).c_str());
        getClassObject = function<GetClassObject>("DllGetClassObject");
        canUnloadNow = function<NoArguments>("DllCanUnloadNow");
        registerServer = function<NoArguments>("DllRegisterServer");
        unregisterServer = function<NoArguments>("DllUnregisterServer");
    }
    template <class Function> Function function(const char *name) {
        // Through void(*)() so that the compiler accepts the change of signature.
        return module == nullptr ? nullptr
                                 : reinterpret_cast<Function>(
                                       reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }
};

class ComServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(server.module, nullptr) << "the handler DLL is not beside the test";
        ASSERT_TRUE(server.getClassObject && server.canUnloadNow && server.registerServer &&
                    server.unregisterServer)
            << "the four entry points are exported by their plain names";
        ASSERT_EQ(server.canUnloadNow(), S_OK) << "a test before this one leaked a count";
    }
    ComRef<IClassFactory> factory() {
        ComRef<IClassFactory> out;
        EXPECT_EQ(server.getClassObject(kPropertyExtensionClassId, IID_IClassFactory, out.put()),
                  S_OK);
        return out;
    }
    Server &server = Server::instance();
};

TEST_F(ComServer, CanUnloadNowCountsFactoriesLocksAndObjects) {
    auto first = factory();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "live factory";
    EXPECT_EQ(first->LockServer(TRUE), S_OK);
    first.reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "lock";

    auto second = factory();
    EXPECT_EQ(second->LockServer(FALSE), S_OK);
    ComRef<IPropertyStore> object;
    ASSERT_EQ(second->CreateInstance(nullptr, IID_IPropertyStore, object.put()), S_OK);
    second.reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "live handler object";

    // The object works as it was made by the DLL's own factory.
    ComRef<IInitializeWithFile> initializer;
    ASSERT_EQ(object->QueryInterface(IID_IInitializeWithFile, initializer.put()), S_OK);
    EXPECT_EQ(initializer->Initialize(sourcePath("samples/hello.pdf").c_str(), STGM_READ), S_OK);
    EXPECT_EQ(readAll(*object.get()).values["System.Title"], textProperty(u"Hello, Vellumtag"));
    initializer.reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    object.reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ComServer, GetClassObjectFailuresLeaveNoCount) {
    const CLSID other = {
        0x2DA4840E, 0xF01A, 0x44AB, {0x94, 0x86, 0x49, 0xBD, 0x7C, 0xC7, 0x51, 0x7A}};
    struct Case {
        const char *what;
        const CLSID &clsid;
        const IID &iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"another class", other, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"no class", GUID_NULL, IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {"an interface the factory lacks", kPropertyExtensionClassId, IID_IPropertyStore,
         E_NOINTERFACE},
    };
    for (const auto &c : cases) {
        void *out = this;
        EXPECT_EQ(server.getClassObject(c.clsid, c.iid, &out), c.expected) << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
        EXPECT_EQ(server.canUnloadNow(), S_OK) << c.what;
    }
}

TEST_F(ComServer, FactoryInterfacesAndFailedCreation) {
    ComRef<IUnknown> unknown;
    ASSERT_EQ(server.getClassObject(kPropertyExtensionClassId, IID_IUnknown, unknown.put()), S_OK);
    ComRef<IClassFactory> classFactory;
    ASSERT_EQ(unknown->QueryInterface(IID_IClassFactory, classFactory.put()), S_OK);
    EXPECT_EQ(static_cast<IUnknown *>(classFactory.get()), unknown.get());

    void *out = this;
    EXPECT_EQ(classFactory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = this;
    EXPECT_EQ(classFactory->CreateInstance(unknown.get(), IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    unknown.reset();
    classFactory.reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK) << "the refused object must be gone";
}

} // namespace
