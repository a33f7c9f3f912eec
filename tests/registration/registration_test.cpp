// Registration and unregistration of the built DLL. These tests change the
// registry: they run one at a time in a Wine prefix of their own, and each
// puts the keys it touches back as it found them (on Windows, tests/windows/
// run.ps1 runs them on a machine that may have the product installed).
#include "com/registration.h"
#include "com/script_replacement.h"
#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tests/support/loaded_server.h"
#include "tests/support/module_exports.h"
#include "tests/support/registry_snapshot.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// The type library's system kind: that of the module under test.
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

const std::wstring kMachineClasses = L"Software\\Classes\\";
const std::wstring kAppIdKey = L"AppID\\" + GuidText(APPID_Quillbrook);
const std::wstring kHandlerKey = L"CLSID\\" + GuidText(CLSID_PropertyHandler);
const std::wstring kThumbnailKey = L"CLSID\\" + GuidText(CLSID_ThumbnailProvider);

RegistryTree AppIdTable()
{
    return {{L"", L"", REG_SZ, L"Quillbrook"}};
}

RegistryTree HandlerTable(const std::wstring& module)
{
    return {{L"", L"", REG_SZ, L"PropertyHandler Class"},
            {L"", L"ManualSafeSave", REG_DWORD, L"1"},
            {L"InprocServer32", L"", REG_SZ, module},
            {L"InprocServer32", L"ThreadingModel", REG_SZ, L"Apartment"},
            {L"TypeLib", L"", REG_SZ, GuidText(LIBID_QuillbrookLib)}};
}

RegistryTree ThumbnailTable(const std::wstring& module)
{
    return {{L"", L"", REG_SZ, L"ThumbnailProvider Class"},
            {L"InprocServer32", L"", REG_SZ, module},
            {L"InprocServer32", L"ThreadingModel", REG_SZ, L"Apartment"},
            {L"TypeLib", L"", REG_SZ, GuidText(LIBID_QuillbrookLib)}};
}

bool TypeLibraryLoads()
{
    ComPtr<ITypeLib> library;
    return LoadRegTypeLib(LIBID_QuillbrookLib, 1, 0, 0x0409, &library) == S_OK;
}

// The keys registration writes, under the machine's and the user's classes.
std::vector<std::wstring> RegistrationKeys()
{
    std::vector<std::wstring> keys;
    for (const auto& key : {kAppIdKey, kHandlerKey, kThumbnailKey, L"TypeLib\\" + GuidText(LIBID_QuillbrookLib)}) {
        keys.push_back(kMachineClasses + key);
    }
    return keys;
}

struct Registration : testing::Test {
    // Every test starts from a registry without the module's entries. The
    // keys as they were (on a machine where the product is installed, its
    // registration) are saved first and put back by TearDown.
    void SetUp() override
    {
        if (m_saved.empty()) {
            for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
                m_saved.emplace_back(root, RegistrationKeys());
            }
        }
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            for (const auto& key : {kAppIdKey, kHandlerKey, kThumbnailKey}) {
                DeleteRegistryTree(root, kMachineClasses + key);
            }
        }
        UnRegisterTypeLib(LIBID_QuillbrookLib, 1, 0, 0x0409, kSysKind);
    }

    void TearDown() override
    {
        for (const auto& saved : m_saved) {
            saved.Restore();
        }
    }

    std::vector<SavedRegistryKeys> m_saved;

    static RegistryTree Read(HKEY root, const std::wstring& key)
    {
        return ReadRegistryTree(root, kMachineClasses + key);
    }

    // The module's entries under one root: all present with the exact
    // content, or (present false) none at all.
    static void ExpectEntries(HKEY root, bool present, const std::wstring& module = BuiltModulePath())
    {
        const char* where = root == HKEY_LOCAL_MACHINE ? "machine" : "user";
        if (!present) {
            EXPECT_TRUE(Read(root, kAppIdKey).empty()) << where;
            EXPECT_TRUE(Read(root, kHandlerKey).empty()) << where;
            EXPECT_TRUE(Read(root, kThumbnailKey).empty()) << where;
            return;
        }
        EXPECT_EQ(Read(root, kAppIdKey), AppIdTable()) << where;
        EXPECT_EQ(Read(root, kHandlerKey), HandlerTable(module)) << where;
        if (HasThumbnailClass()) {
            EXPECT_EQ(Read(root, kThumbnailKey), ThumbnailTable(module)) << where;
        }
    }

    // Whether the object map has its second entry (the thumbnail provider).
    static bool HasThumbnailClass()
    {
        LoadedServer server;
        ComPtr<IUnknown> factory;
        return server.getClassObject(CLSID_ThumbnailProvider, IID_IUnknown, &factory) == S_OK;
    }
};

TEST_F(Registration, PerMachineWritesExactlyTheTableAndTheTypeLibrary)
{
    LoadedServer server;
    ASSERT_EQ(server.registerServer(), S_OK);
    ExpectEntries(HKEY_LOCAL_MACHINE, true);
    ExpectEntries(HKEY_CURRENT_USER, false);
    EXPECT_TRUE(TypeLibraryLoads());
}

TEST_F(Registration, ThumbnailClassIsRegisteredWithItsTable)
{
    if (!HasThumbnailClass()) {
        GTEST_SKIP() << "needs object-map entry 2 (the thumbnail provider)";
    }
    LoadedServer server;
    ASSERT_EQ(server.registerServer(), S_OK);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kThumbnailKey), ThumbnailTable(BuiltModulePath()));
    ASSERT_EQ(server.unregisterServer(), S_OK);
    EXPECT_TRUE(Read(HKEY_LOCAL_MACHINE, kThumbnailKey).empty());
}

// Script 103 run through the registrar directly, as the module runs it.
TEST_F(Registration, ThumbnailScriptWritesAndRemovesItsClassKey)
{
    ComPtr<IRegistrar> registrar;
    ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IRegistrar), &registrar), S_OK);
    const std::wstring module = BuiltModulePath();
    ASSERT_EQ(registrar->AddReplacement(L"MODULE", module.c_str()), S_OK);
    ASSERT_EQ(registrar->ResourceRegister(module.c_str(), 103, L"REGISTRY"), S_OK);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kThumbnailKey), ThumbnailTable(module));
    ASSERT_EQ(registrar->ResourceUnregister(module.c_str(), 103, L"REGISTRY"), S_OK);
    EXPECT_TRUE(Read(HKEY_LOCAL_MACHINE, kThumbnailKey).empty());
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"CLSID"));
}

TEST_F(Registration, UnregistrationRemovesClassesTypeLibraryAndAppIdButKeepsParents)
{
    LoadedServer server;
    ASSERT_EQ(server.registerServer(), S_OK);
    ASSERT_EQ(server.unregisterServer(), S_OK);
    ExpectEntries(HKEY_LOCAL_MACHINE, false);
    EXPECT_FALSE(TypeLibraryLoads());
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"TypeLib\\" + GuidText(LIBID_QuillbrookLib)));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"AppID"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"CLSID"));
}

TEST_F(Registration, InstallForUserInAnyLetterCaseWritesOnlyTheUsersClasses)
{
    for (const wchar_t* commandLine : {L"user", L"USER", L"User"}) {
        SCOPED_TRACE(Narrow(commandLine));
        SetUp();
        LoadedServer server; // a fresh load: the per-user switch starts off
        ASSERT_EQ(server.install(TRUE, commandLine), S_OK);
        ExpectEntries(HKEY_CURRENT_USER, true);
        ExpectEntries(HKEY_LOCAL_MACHINE, false);
        EXPECT_TRUE(TypeLibraryLoads());
        EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kMachineClasses + L"CLSID"));

        // The switch stays on: a later plain registration also goes to the user.
        ASSERT_EQ(server.registerServer(), S_OK);
        ExpectEntries(HKEY_LOCAL_MACHINE, false);

        ASSERT_EQ(server.install(FALSE, commandLine), S_OK);
        ExpectEntries(HKEY_CURRENT_USER, false);
        EXPECT_FALSE(TypeLibraryLoads());
        EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kMachineClasses + L"AppID"));
        EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kMachineClasses + L"CLSID"));
    }
}

// Everything under the machine's class trees that registration could touch.
std::map<std::wstring, RegistryTree> MachineClassTrees()
{
    std::map<std::wstring, RegistryTree> trees;
    for (const wchar_t* tree : {L"AppID", L"CLSID", L"TypeLib", L"Interface"}) {
        trees[tree] = ReadRegistryTree(HKEY_LOCAL_MACHINE, kMachineClasses + tree);
    }
    return trees;
}

// Whether the platform's own RegisterTypeLibForUser registers for the machine
// (Wine's does: it calls RegisterTypeLib), found by calling it directly.
bool PlatformRegistersUserTypeLibrariesForTheMachine()
{
    using RegisterFn = HRESULT(WINAPI*)(ITypeLib*, LPOLESTR, LPOLESTR);
    using UnregisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    const HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
    const auto registerForUser = GetExport<RegisterFn>(oleaut, "RegisterTypeLibForUser");
    const auto unregisterForUser = GetExport<UnregisterFn>(oleaut, "UnRegisterTypeLibForUser");
    ComPtr<ITypeLib> library;
    std::wstring module = BuiltModulePath();
    if (registerForUser == nullptr || unregisterForUser == nullptr ||
        FAILED(LoadTypeLibEx(module.c_str(), REGKIND_NONE, &library)) ||
        FAILED(registerForUser(library.Get(), module.data(), nullptr))) {
        return false;
    }
    const bool machineWide =
        RegistryKeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + L"TypeLib\\" + GuidText(LIBID_QuillbrookLib));
    unregisterForUser(LIBID_QuillbrookLib, 1, 0, 0x0409, kSysKind);
    return machineWide;
}

TEST_F(Registration, PerUserInstallAndUninstallWriteNothingForTheMachine)
{
    const auto before = MachineClassTrees();
    ASSERT_FALSE(before.at(L"CLSID").empty()) << "the machine's class tree is readable";
    // Where the platform itself puts a per-user type library under the
    // machine, that one key is the platform's doing, not the module's.
    const bool platformTypeLibForMachine = PlatformRegistersUserTypeLibrariesForTheMachine();
    const std::wstring ourTypeLib = GuidText(LIBID_QuillbrookLib);
    const auto withoutOurTypeLib = [&](RegistryTree tree) {
        if (platformTypeLibForMachine) {
            std::erase_if(tree, [&](const RegistryValue& value) { return value.key.starts_with(ourTypeLib); });
        }
        return tree;
    };
    {
        LoadedServer server;
        ASSERT_EQ(server.install(TRUE, L"user"), S_OK);
        ExpectEntries(HKEY_CURRENT_USER, true);
        const auto registered = MachineClassTrees();
        for (const auto& [name, tree] : before) {
            EXPECT_EQ(withoutOurTypeLib(registered.at(name)), tree)
                << Narrow(name) << " changed under HKEY_LOCAL_MACHINE";
        }
        ASSERT_EQ(server.install(FALSE, L"user"), S_OK);
    }
    const auto after = MachineClassTrees();
    for (const auto& [name, tree] : before) {
        EXPECT_EQ(after.at(name), tree) << Narrow(name) << " changed under HKEY_LOCAL_MACHINE";
    }
}

TEST_F(Registration, InstallWithAnythingButUserRegistersPerMachine)
{
    for (const wchar_t* commandLine : {L"users", L"user ", L"", static_cast<const wchar_t*>(nullptr)}) {
        SCOPED_TRACE(testing::Message() << "command line " << (commandLine ? Narrow(commandLine) : "null"));
        SetUp();
        LoadedServer server;
        ASSERT_EQ(server.install(TRUE, commandLine), S_OK);
        ExpectEntries(HKEY_LOCAL_MACHINE, true);
        ExpectEntries(HKEY_CURRENT_USER, false);
        ASSERT_EQ(server.install(FALSE, commandLine), S_OK);
        ExpectEntries(HKEY_LOCAL_MACHINE, false);
    }
}

// A copy of the module whose type library resource is not a type library:
// registration writes the AppID and the classes, then fails at the type
// library.
std::wstring ModuleWithBrokenTypeLibrary()
{
    const std::wstring copy = ScratchDir() + L"\\broken-typelib.dll";
    CopyFixture(BuiltModulePath(), copy);
    HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    char garbage[] = "not a type library";
    EXPECT_TRUE(UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                garbage, sizeof(garbage)));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    ComPtr<ITypeLib> library;
    EXPECT_TRUE(FAILED(LoadTypeLibEx(copy.c_str(), REGKIND_NONE, &library)));
    return copy;
}

TEST_F(Registration, FailedInstallIsUndoneByUnregistration)
{
    const std::wstring copy = ModuleWithBrokenTypeLibrary();
    HRESULT plainResult = S_OK;
    {
        LoadedServer server(copy);
        plainResult = server.registerServer();
        EXPECT_TRUE(FAILED(plainResult));
        EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kHandlerKey), HandlerTable(copy)) << "registration is not rolled back";
    }
    SetUp();
    LoadedServer server(copy);
    EXPECT_EQ(server.install(TRUE, nullptr), plainResult);
    EXPECT_TRUE(Read(HKEY_LOCAL_MACHINE, kHandlerKey).empty()) << "the unregistration removed the class";
    // The unregistration itself stops at the missing type library, before
    // the AppID.
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kAppIdKey), AppIdTable());
}

TEST(ScriptReplacement, DoublesEverySingleQuote)
{
    EXPECT_EQ(EscapeScriptReplacement(L"C:\\Users\\O'Brien\\quillbrook.dll"), L"C:\\Users\\O''Brien\\quillbrook.dll");
    EXPECT_EQ(EscapeScriptReplacement(L"''x'"), L"''''x''");
    EXPECT_EQ(EscapeScriptReplacement(L"{795131CE-63F4-4DBF-A65A-8D70F437A83F}"),
              L"{795131CE-63F4-4DBF-A65A-8D70F437A83F}");
}

// Registers per machine through DllRegisterServer, or per user through
// DllInstall.
HRESULT Register(LoadedServer& server, bool perUser)
{
    return perUser ? server.install(TRUE, L"user") : server.registerServer();
}

// Either the classes point at the full path, or the registration fails and
// leaves nothing behind; never S_OK for a path cut at the apostrophe.
TEST_F(Registration, ModulePathWithApostropheIsRegisteredWholeOrNotAtAll)
{
    const std::wstring folder = ScratchDir() + L"\\O'Brien";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\quillbrook.dll";
    CopyFixture(BuiltModulePath(), copy);
    for (const bool perUser : {false, true}) {
        SCOPED_TRACE(perUser ? "per user" : "per machine");
        SetUp();
        const HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        LoadedServer server(copy);
        const HRESULT result = Register(server, perUser);
        if (result == S_OK) {
            ExpectEntries(root, true, copy);
        } else {
            EXPECT_TRUE(FAILED(result)) << std::hex << result;
            ExpectEntries(root, false);
        }
    }
}

// A copy of the module whose thumbnail provider script names another file
// than the module, as a registrar that cut the path would write.
std::wstring ModuleRegisteringElsewhere()
{
    std::string script;
    {
        const HMODULE data = LoadLibraryExW(BuiltModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        const HRSRC found = FindResourceW(data, MAKEINTRESOURCEW(103), L"REGISTRY");
        EXPECT_NE(found, nullptr);
        script.assign(static_cast<const char*>(LockResource(LoadResource(data, found))), SizeofResource(data, found));
        FreeLibrary(data);
    }
    const std::string module = "%MODULE%";
    const auto at = script.find(module);
    EXPECT_NE(at, std::string::npos);
    script.replace(at, module.size(), "C:\\Elsewhere\\quillbrook.dll");
    const std::wstring copy = ScratchDir() + L"\\registers-elsewhere.dll";
    CopyFixture(BuiltModulePath(), copy);
    HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    EXPECT_TRUE(UpdateResourceW(update, L"REGISTRY", MAKEINTRESOURCEW(103),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), script.data(),
                                static_cast<DWORD>(script.size())));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    return copy;
}

TEST_F(Registration, RegistrationNamingAnotherFileIsUndoneAndFails)
{
    const std::wstring copy = ModuleRegisteringElsewhere();
    for (const bool perUser : {false, true}) {
        SCOPED_TRACE(perUser ? "per user" : "per machine");
        SetUp();
        LoadedServer server(copy);
        EXPECT_EQ(Register(server, perUser), SELFREG_E_CLASS);
        ExpectEntries(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, false);
        EXPECT_FALSE(TypeLibraryLoads());
    }
}

DWORD RunRegsvr32(const std::wstring& arguments)
{
    std::wstring commandLine = L"regsvr32.exe " + arguments + L" \"" + BuiltModulePath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "cannot start regsvr32";
        return ~0u;
    }
    WaitForSingleObject(process.hProcess, 120000);
    DWORD exitCode = ~0u;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

// Whether the machine's classes in the registry view of the other
// architecture (x86 for x64, x64 for x86) hold `key`.
bool InOtherView(const std::wstring& key)
{
#ifdef _WIN64
    constexpr REGSAM otherView = KEY_WOW64_32KEY;
#else
    constexpr REGSAM otherView = KEY_WOW64_64KEY;
#endif
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kMachineClasses + key).c_str(), 0, KEY_READ | otherView, &opened) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

TEST_F(Registration, Regsvr32RegistersAndUnregistersPerMachineAndPerUser)
{
    // The regsvr32 of this architecture (a 32-bit process finds the 32-bit
    // one) writes into its own registry view only.
    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
    ExpectEntries(HKEY_LOCAL_MACHINE, true);
    EXPECT_TRUE(TypeLibraryLoads());
    EXPECT_FALSE(InOtherView(kHandlerKey));
    EXPECT_FALSE(InOtherView(kThumbnailKey));
    ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
    ExpectEntries(HKEY_LOCAL_MACHINE, false);
    EXPECT_FALSE(TypeLibraryLoads());

    ASSERT_EQ(RunRegsvr32(L"/n /i:user /s"), 0u);
    ExpectEntries(HKEY_CURRENT_USER, true);
    ExpectEntries(HKEY_LOCAL_MACHINE, false);
    ASSERT_EQ(RunRegsvr32(L"/u /n /i:user /s"), 0u);
    ExpectEntries(HKEY_CURRENT_USER, false);
}

TEST_F(Registration, RegisteredPropertyHandlerWorksThroughCoCreateInstance)
{
    {
        LoadedServer server;
        ASSERT_EQ(server.registerServer(), S_OK);
    }
    ComPtr<IInitializeWithStream> init;
    ASSERT_EQ(CoCreateInstance(CLSID_PropertyHandler, nullptr, CLSCTX_INPROC_SERVER, IID_IInitializeWithStream, &init),
              S_OK);
    ComPtr<IStream> stream;
    ASSERT_EQ(SHCreateStreamOnFileEx(FixturePath(L"plain.flac").c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                     FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream),
              S_OK);
    ASSERT_EQ(init->Initialize(stream.Get(), STGM_READ), S_OK);
    auto store = As<IPropertyStore>(init);
    ASSERT_TRUE(store);
    PropVariant rate;
    ASSERT_EQ(store->GetValue(PKEY_Audio_SampleRate, &rate), S_OK);
    EXPECT_EQ(rate->vt, VT_UI4);
    EXPECT_EQ(rate->ulVal, 44100u) << "plain.flac is encoded at 44100 Hz";
}

} // namespace
