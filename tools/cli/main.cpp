// quillbrook-cli: shows and edits the properties of FLAC files and writes
// their thumbnails, through quillbrook.dll's COM classes as Explorer uses them.
#include "quillbrook_version.h"
#include "resources/identifiers.h"
#include "tools/cli/class_registration.h"
#include "tools/cli/class_source.h"
#include "tools/cli/console_output.h"
#include "tools/cli/flac_binding.h"
#include "tools/cli/registry_value.h"
#include "tools/cli/png_writer.h"
#include "tools/cli/property_names.h"
#include "tools/cli/value_text.h"
#include "tools/safe_save/safe_save_stream.h"

#include <wrl/client.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char* Usage = "usage: quillbrook-cli [--dll PATH] [--json] COMMAND ...\n"
                              "       quillbrook-cli --help | -h | --version\n"
                              "  show FILE...                  the properties of each file\n"
                              "  set FILE NAME=VALUE...        change tags (lists: \"a; b\")\n"
                              "  clear FILE NAME...            remove tags\n"
                              "  thumbnail FILE OUT.png [--size N]\n"
                              "  register [--user]             register quillbrook.dll\n"
                              "  unregister [--user]\n"
                              "  bind [--user] [--x86]         bind .flac to quillbrook, saving what it replaces\n"
                              "  unbind [--user] [--x86]       put the saved binding of .flac back\n"
                              "  status [--user] [--x86]       whether .flac is bound to registered classes of\n"
                              "                                quillbrook (exit code 0) or not (1)\n"
                              "  (--x86: in the registry view of 32-bit programs, for the x86 module; not with\n"
                              "  --user: per-user classes are not kept apart by view)\n"
                              "Options may come before or after COMMAND, but before the file names.\n"
                              "NAME is a property name such as System.Music.Artist, or an alias:\n"
                              "  title artist album albumartist year track disc genre composer\n"
                              "  conductor rating copyright publisher comment\n";

// Decided once, when the program starts.
OutputKind StdoutKind = OutputKind::Utf8Bytes;
OutputKind StderrKind = OutputKind::Utf8Bytes;

void Out(const std::string& text)
{
    WriteText(stdout, StdoutKind, text);
}

void Err(const std::string& text)
{
    WriteText(stderr, StderrKind, text);
    std::fflush(stderr);
}

std::string Hex(HRESULT hr)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

std::string SystemText(HRESULT hr)
{
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length != 0 && text != nullptr ? std::wstring(text, length) : L"";
    LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return message.empty() ? "unknown error" : Utf8(message);
}

// One line: what failed, the code and the system's text for it.
HRESULT Fail(const std::wstring& subject, const std::string& what, HRESULT hr)
{
    Err("quillbrook-cli: " + (subject.empty() ? "" : Utf8(subject) + ": ") + what + " (" + Hex(hr) + ": " +
        SystemText(hr) + ")\n");
    return hr;
}

bool IsNotFound(HRESULT hr)
{
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
           hr == STG_E_FILENOTFOUND || hr == STG_E_PATHNOTFOUND;
}

// Why opening a file failed, in words.
std::string OpenFailure(const std::wstring& file, HRESULT hr, bool forWriting)
{
    if (IsNotFound(hr)) {
        return "file not found";
    }
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (forWriting && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return "read-only file, left unchanged";
    }
    if (forWriting && (hr == E_ACCESSDENIED || hr == STG_E_ACCESSDENIED || hr == STG_E_SHAREVIOLATION ||
                       hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION))) {
        return "cannot be opened for writing (read-only or in use)";
    }
    return "cannot be opened";
}

class Program {
public:
    int Run(std::vector<std::wstring> args);

private:
    HRESULT OpenHandler(const std::wstring& file, IStream* stream, Microsoft::WRL::ComPtr<IPropertyStore>& store);
    HRESULT Show(const std::wstring& file);
    HRESULT Change(const std::wstring& file, const std::vector<std::wstring>& items, bool clear);
    HRESULT Thumbnail(const std::wstring& file, const std::wstring& out, UINT size);
    HRESULT Register(bool doRegister, bool perUser);
    HRESULT Bind(bool doBind, bool perUser);
    int Status(bool perUser);

    ClassSource m_classes;
    std::wstring m_dllPath;
    bool m_json = false;
    bool m_firstJson = true;
    // bind and unbind work in the registry view of 32-bit programs.
    bool m_x86 = false;
};

HRESULT Program::OpenHandler(const std::wstring& file, IStream* stream, Microsoft::WRL::ComPtr<IPropertyStore>& store)
{
    store.Reset();
    Microsoft::WRL::ComPtr<IInitializeWithStream> init;
    HRESULT hr = m_classes.Create(CLSID_PropertyHandler, IID_PPV_ARGS(&init));
    if (FAILED(hr)) {
        return Fail(file, "the property handler is not available (register it, or give --dll)", hr);
    }
    hr = init->Initialize(stream, STGM_READWRITE);
    if (SUCCEEDED(hr)) {
        hr = init.As(&store);
    } else {
        Fail(file, "not a FLAC file, or its metadata is damaged", hr);
    }
    return hr;
}

HRESULT Program::Show(const std::wstring& file)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT hr = SHCreateStreamOnFileEx(file.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                        nullptr, &stream);
    if (FAILED(hr)) {
        return Fail(file, OpenFailure(file, hr, false), hr);
    }
    Microsoft::WRL::ComPtr<IPropertyStore> store;
    hr = OpenHandler(file, stream.Get(), store);
    stream.Reset();
    if (FAILED(hr)) {
        return hr;
    }
    DWORD count = 0;
    store->GetCount(&count);
    std::string json =
        (m_firstJson ? "" : ",\n") + std::string("  {\"file\": ") + JsonString(file) + ", \"properties\": {";
    if (!m_json) {
        Out(Utf8(file) + "\n");
    }
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key{};
        if (FAILED(store->GetAt(i, &key))) {
            continue;
        }
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED(store->GetValue(key, &value))) {
            continue;
        }
        const PropertyName* known = FindProperty(key);
        const std::wstring name = CanonicalName(key);
        if (m_json) {
            json += (i != 0 ? ", " : "") + JsonString(name) + ": " + JsonValue(value);
        } else if (value.vt != VT_EMPTY) {
            Out("  " + Utf8(name) + ": " + Utf8(DisplayText(value, known ? known->kind : ValueKind::Text)) + "\n");
        }
        PropVariantClear(&value);
    }
    store.Reset();
    if (m_json) {
        Out(json + "}}");
        m_firstJson = false;
    }
    return S_OK;
}

HRESULT Program::Change(const std::wstring& file, const std::vector<std::wstring>& items, bool clear)
{
    // Everything is checked before the file is opened, so bad input never
    // touches it.
    struct Change {
        const PropertyName* property;
        PROPVARIANT value;
    };
    std::vector<Change> changes;
    HRESULT hr = S_OK;
    for (const std::wstring& item : items) {
        const std::size_t equals = clear ? std::wstring::npos : item.find(L'=');
        if (!clear && equals == std::wstring::npos) {
            hr = Fail(file, "expected NAME=VALUE, got \"" + Utf8(item) + "\"", E_INVALIDARG);
            break;
        }
        const std::wstring name = clear ? item : item.substr(0, equals);
        const PropertyName* property = FindProperty(name);
        if (property == nullptr) {
            hr = Fail(file, "unknown property name \"" + Utf8(name) + "\"", E_INVALIDARG);
            break;
        }
        Change change{property, {}};
        PropVariantInit(&change.value);
        if (!clear && !ParseTypedValue(item.substr(equals + 1), property->kind, &change.value)) {
            const bool readOnly = property->kind == ValueKind::Duration || property->kind == ValueKind::BitRate ||
                                  property->kind == ValueKind::Flag;
            hr = readOnly ? Fail(file, Utf8(property->canonical) + " cannot be changed",
                                 HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED))
                          : Fail(file,
                                 "\"" + Utf8(item.substr(equals + 1)) + "\" is not a valid value for " +
                                     Utf8(property->canonical) + " (it takes a whole number)",
                                 E_INVALIDARG);
            break;
        }
        changes.push_back(change);
    }

    Microsoft::WRL::ComPtr<SafeSaveStream> stream;
    if (SUCCEEDED(hr)) {
        hr = SafeSaveStream::Open(file, &stream);
        if (FAILED(hr)) {
            Fail(file, OpenFailure(file, hr, true), hr);
        }
    }
    Microsoft::WRL::ComPtr<IPropertyStore> store;
    if (SUCCEEDED(hr)) {
        hr = OpenHandler(file, stream.Get(), store);
    }
    if (SUCCEEDED(hr)) {
        Microsoft::WRL::ComPtr<IPropertyStoreCapabilities> capabilities;
        store.As(&capabilities);
        for (const Change& change : changes) {
            if (capabilities != nullptr && capabilities->IsPropertyWritable(change.property->key) != S_OK) {
                hr = Fail(file, Utf8(change.property->canonical) + " cannot be changed",
                          HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
                break;
            }
            hr = store->SetValue(change.property->key, change.value);
            if (FAILED(hr)) {
                Fail(file, "cannot set " + Utf8(change.property->canonical), hr);
                break;
            }
        }
    }
    if (SUCCEEDED(hr)) {
        hr = store->Commit();
        if (FAILED(hr)) {
            Fail(file,
                 stream->Refusal().empty()
                     ? "the changes could not be written; the file is unchanged or was rewritten whole"
                     : Utf8(stream->Refusal()),
                 hr);
        }
    }
    store.Reset();
    stream.Reset();
    for (Change& change : changes) {
        PropVariantClear(&change.value);
    }
    return hr;
}

HRESULT Program::Thumbnail(const std::wstring& file, const std::wstring& out, UINT size)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT hr = SHCreateStreamOnFileEx(file.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                        nullptr, &stream);
    if (FAILED(hr)) {
        return Fail(file, OpenFailure(file, hr, false), hr);
    }
    Microsoft::WRL::ComPtr<IInitializeWithStream> init;
    hr = m_classes.Create(CLSID_ThumbnailProvider, IID_PPV_ARGS(&init));
    if (FAILED(hr)) {
        return Fail(file, "the thumbnail provider is not available (register it, or give --dll)", hr);
    }
    hr = init->Initialize(stream.Get(), STGM_READ);
    stream.Reset();
    Microsoft::WRL::ComPtr<IThumbnailProvider> provider;
    if (FAILED(hr)) {
        Fail(file, "not a FLAC file, or its picture cannot be read", hr);
    } else {
        hr = init.As(&provider);
    }
    init.Reset();
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (SUCCEEDED(hr)) {
        hr = provider->GetThumbnail(size, &bitmap, &alpha);
        provider.Reset();
        if (FAILED(hr)) {
            Fail(file, "no thumbnail (the file has no embedded picture it can show)", hr);
        }
    }
    if (SUCCEEDED(hr)) {
        hr = SaveBitmapAsPng(bitmap, alpha == WTSAT_ARGB, out);
        DeleteObject(bitmap);
        if (FAILED(hr)) {
            Fail(out, "cannot write the PNG file", hr);
        } else if (!m_json) {
            Out(Utf8(file) + ": thumbnail written to " + Utf8(out) + "\n");
        }
    }
    return hr;
}

HRESULT Program::Register(bool doRegister, bool perUser)
{
    const std::wstring path = m_dllPath.empty() ? DefaultModulePath() : m_dllPath;
    HMODULE module = LoadModuleFile(path);
    if (module == nullptr) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        return Fail(path, "cannot load the module", hr);
    }
    HRESULT hr;
    if (perUser) {
        auto install = reinterpret_cast<HRESULT(WINAPI*)(BOOL, PCWSTR)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllInstall")));
        hr = install != nullptr ? install(doRegister, L"user") : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    } else {
        auto entry = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(
            GetProcAddress(module, doRegister ? "DllRegisterServer" : "DllUnregisterServer")));
        hr = entry != nullptr ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    FreeLibrary(module);
    if (FAILED(hr)) {
        return Fail(path, doRegister ? "registration failed" : "unregistration failed", hr);
    }
    Out(Utf8(path) + (doRegister ? ": registered" : ": unregistered") + (perUser ? " for the current user\n" : "\n"));
    return S_OK;
}

// Why the classes of the chosen view cannot be bound (not registered, their
// module missing or of another processor); empty if they can.
std::string RegistrationProblem(bool perUser, bool x86)
{
    const std::string view = x86 ? " for 32-bit programs" : "";
    for (const CLSID* clsid : {&CLSID_PropertyHandler, &CLSID_ThumbnailProvider}) {
        const ClassRegistration registration = FindClassRegistration(*clsid, perUser);
        const std::string name = clsid == &CLSID_PropertyHandler ? "property handler" : "thumbnail provider";
        if (!registration.registered) {
            return "quillbrook's " + name + " is not registered" + view;
        }
        if (!registration.moduleExists) {
            return "the module of quillbrook's " + name + ", " + Utf8(registration.module) + ", does not exist";
        }
        if (registration.machine != ExpectedMachine()) {
            return "the module of quillbrook's " + name + ", " + Utf8(registration.module) + ", is " +
                   Utf8(MachineName(registration.machine)) + ", not " + Utf8(MachineName(ExpectedMachine()));
        }
    }
    return "";
}

HRESULT Program::Bind(bool doBind, bool perUser)
{
    const BindingScope scope = perUser ? BindingScope::User : BindingScope::Machine;
    if (doBind) {
        // Bound to classes that do not load, .flac would have no properties
        // or thumbnails at all.
        const std::string problem = RegistrationProblem(perUser, m_x86);
        if (!problem.empty()) {
            return Fail(L"", problem + ": .flac left as it is (register the module first)", REGDB_E_CLASSNOTREG);
        }
    }
    const HRESULT hr = doBind ? BindFlac(scope) : UnbindFlac(scope);
    if (FAILED(hr)) {
        return Fail(L"", doBind ? "cannot bind .flac" : "cannot put the saved binding of .flac back", hr);
    }
    const std::string where =
        std::string(perUser ? " for the current user" : " for all users") + (m_x86 ? " (32-bit programs)" : "");
    Out(doBind ? ".flac bound to quillbrook" + where + "\n" : ".flac binding put back" + where + "\n");
    if (perUser && doBind) {
        Out("(no property handler: Windows reads property handlers per machine only; \"quillbrook-cli bind\" as "
            "an administrator binds it)\n");
    }
    return S_OK;
}

int Program::Status(bool perUser)
{
    const BindingScope scope = perUser ? BindingScope::User : BindingScope::Machine;
    Out(std::string("quillbrook, ") + (perUser ? "for the current user" : "for all users") +
        (m_x86 ? " (32-bit programs)" : "") + ":\n");
    bool ready = true;
    for (const CLSID* clsid : {&CLSID_PropertyHandler, &CLSID_ThumbnailProvider}) {
        const ClassRegistration registration = FindClassRegistration(*clsid, perUser);
        std::string line =
            clsid == &CLSID_PropertyHandler ? "  property handler class: " : "  thumbnail provider class: ";
        if (!registration.registered) {
            line += "not registered";
            ready = false;
        } else if (!registration.moduleExists) {
            line += "registered, but its module " + Utf8(registration.module) + " does not exist";
            ready = false;
        } else {
            line += "registered, " + Utf8(registration.module) + " (" + Utf8(MachineName(registration.machine)) + ")";
            if (registration.machine != ExpectedMachine()) {
                line += ", not " + Utf8(MachineName(ExpectedMachine())) + " as this view needs";
                ready = false;
            }
        }
        Out(line + "\n");
    }
    HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    for (const HandlerSlot& slot : HandlerSlots(scope)) {
        RegistryValue value;
        std::string owner;
        if (FAILED(ReadRegistryValue(root, slot.key, L"", &value)) || TextOf(value).empty()) {
            owner = "nobody";
            ready = false;
        } else {
            wchar_t ours[40] = {};
            StringFromGUID2(slot.ours, ours, 40);
            const std::wstring clsid = TextOf(value);
            const std::wstring name = ClassName(clsid, perUser);
            if (_wcsicmp(clsid.c_str(), ours) == 0) {
                owner = "quillbrook";
            } else if (name.empty()) {
                owner = "a class that is not registered, " + Utf8(clsid);
                ready = false;
            } else {
                owner = (IsWindowsClass(clsid, perUser) ? "Windows' own " : "another program's ") + Utf8(name) + " " +
                        Utf8(clsid);
                ready = false;
            }
        }
        Out("  .flac " + Utf8(slot.what) + ": " + owner + "\n");
    }
    if (perUser) {
        Out("  .flac property handler: per machine only (see status without --user)\n");
    }
    Out(std::string("  saved binding: ") + (HasSavedBinding(scope) ? "yes" : "no") + "\n");
    Out(ready ? ".flac is bound to quillbrook\n"
              : ".flac is not bound to registered classes of quillbrook (\"quillbrook-cli bind\" binds it)\n");
    return ready ? 0 : 1;
}

int Program::Run(std::vector<std::wstring> args)
{
    // The options may come anywhere before the file names: before the
    // command or after it.
    std::wstring command;
    bool perUser = false;
    UINT size = 256;
    // The options given, to check them against the command's.
    std::set<std::wstring> options;
    std::size_t next = 0;
    for (; next < args.size(); ++next) {
        const std::wstring& arg = args[next];
        if (arg == L"--help" || arg == L"-h") {
            Out(Usage);
            return 0;
        }
        if (arg == L"--version") {
            Out("quillbrook-cli " QUILLBROOK_VERSION_TEXT "\n");
            return 0;
        }
        if (arg == L"--json" || arg == L"--user" || arg == L"--x86" ||
            ((arg == L"--dll" || arg == L"--size") && next + 1 < args.size())) {
            options.insert(arg);
        }
        if (arg == L"--json") {
            m_json = true;
        } else if (arg == L"--user") {
            perUser = true;
        } else if (arg == L"--x86") {
            UseRegistryView(RegistryView::X86);
            m_x86 = true;
        } else if ((arg == L"--dll" || arg == L"--size") && next + 1 < args.size()) {
            if (arg == L"--dll") {
                m_dllPath = args[++next];
            } else {
                size = static_cast<UINT>(std::wcstoul(args[++next].c_str(), nullptr, 10));
            }
        } else if (arg.starts_with(L"--")) {
            Fail(L"", "unknown option " + Utf8(arg) + ", or an option without its value", E_INVALIDARG);
            Err(Usage);
            return 2;
        } else if (command.empty()) {
            command = arg;
        } else {
            break;
        }
    }
    args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(next));
    if (command.empty()) {
        Err(Usage);
        return 2;
    }
    // Each command's options; any other is refused rather than ignored.
    const bool binding = command == L"bind" || command == L"unbind" || command == L"status";
    std::set<std::wstring> accepted;
    if (command == L"show") {
        accepted = {L"--dll", L"--json"};
    } else if (command == L"set" || command == L"clear") {
        accepted = {L"--dll"};
    } else if (command == L"thumbnail") {
        accepted = {L"--dll", L"--json", L"--size"};
    } else if (command == L"register" || command == L"unregister") {
        accepted = {L"--dll", L"--user"};
    } else if (binding) {
        accepted = {L"--user", L"--x86"};
    }
    for (const std::wstring& option : options) {
        if (!accepted.empty() && !accepted.contains(option)) {
            Fail(L"", Utf8(command) + " takes no option " + Utf8(option), E_INVALIDARG);
            Err(Usage);
            return 2;
        }
    }
    if (binding && perUser && m_x86) {
        // HKCU's classes and the saved record are the same for both views:
        // --user --x86 would bind, or undo, the per-user binding of 64-bit
        // programs.
        Fail(L"", "--user and --x86 cannot go together: Windows keeps no separate per-user binding for 32-bit programs",
             E_INVALIDARG);
        return 2;
    }

    if (command == L"register" || command == L"unregister" || binding) {
        if (!args.empty()) {
            Err(Usage);
            return 2;
        }
        if (command == L"status") {
            return Status(perUser);
        }
        const HRESULT hr = command.ends_with(L"register") ? Register(command == L"register", perUser)
                                                          : Bind(command == L"bind", perUser);
        return FAILED(hr) ? 1 : 0;
    }
    const HRESULT loaded = m_classes.Load(m_dllPath);
    if (FAILED(loaded)) {
        Fail(m_dllPath, "cannot load the module", loaded);
        return 1;
    }
    if (command == L"show" && !args.empty()) {
        int failures = 0;
        if (m_json) {
            Out("[\n");
        }
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args.size() > 3) {
                Err("[" + std::to_string(i + 1) + "/" + std::to_string(args.size()) + "] " + Utf8(args[i]) + "\n");
            }
            failures += FAILED(Show(args[i])) ? 1 : 0;
            // Each file's result goes out with its progress line, also when
            // stdout is a pipe or a file (fully buffered then).
            std::fflush(stdout);
        }
        if (m_json) {
            Out("\n]\n");
        }
        return failures == 0 ? 0 : 1;
    }
    if ((command == L"set" || command == L"clear") && args.size() >= 2) {
        const std::vector<std::wstring> items(args.begin() + 1, args.end());
        return FAILED(Change(args[0], items, command == L"clear")) ? 1 : 0;
    }
    if (command == L"thumbnail" && (args.size() == 2 || (args.size() == 4 && args[2] == L"--size"))) {
        if (args.size() == 4) {
            size = static_cast<UINT>(std::wcstoul(args[3].c_str(), nullptr, 10));
        }
        if (size == 0 || size > 4096) {
            Fail(L"", "--size takes a number of pixels from 1 to 4096", E_INVALIDARG);
            return 2;
        }
        return FAILED(Thumbnail(args[0], args[1], size)) ? 1 : 0;
    }
    Err(Usage);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // DLLs loaded by name come from the system folder only, never from this
    // program's folder or the current one (which anyone may be able to
    // write to): quillbrook.dll is loaded by its full path. The program
    // imports known DLLs only, which Windows takes from the system folder
    // anyway.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    StdoutKind = ChooseOutput(GetStdHandle(STD_OUTPUT_HANDLE));
    StderrKind = ChooseOutput(GetStdHandle(STD_ERROR_HANDLE));
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    int result;
    {
        Program program;
        result = program.Run(std::vector<std::wstring>(argv + 1, argv + argc));
    }
    std::fflush(stdout);
    CoUninitialize();
    return result;
}
