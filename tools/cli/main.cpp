// quillbrook-cli: shows and edits the properties of FLAC files and writes
// their thumbnails, through quillbrook.dll's COM classes as Explorer uses them,
// and registers and binds them. This file parses the command line and hands
// each command to its family's file.
#include "quillbrook_version.h"
#include "binding/binding_commands.h"
#include "binding/registry_value.h"
#include "tools/cli/class_source.h"
#include "tools/cli/cli_output.h"
#include "tools/cli/registration_commands.h"
#include "tools/cli/tag_commands.h"
#include "tools/cli/thumbnail_command.h"
#include "tools/cli/value_text.h"

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
                              "  settle [--x86]                bind if quillbrook's classes load, else unbind\n"
                              "  status [--user] [--x86]       whether the current user gets quillbrook's\n"
                              "                                handlers for .flac (exit code 0) or not (1)\n"
                              "  (--x86: in the registry view of 32-bit programs, for the x86 module; not with\n"
                              "  --user: per-user classes are not kept apart by view)\n"
                              "Options may come before or after COMMAND, but before the file names.\n"
                              "NAME is a property name such as System.Music.Artist, or an alias:\n"
                              "  title artist album albumartist year track disc genre composer\n"
                              "  conductor rating copyright publisher comment\n";

int Run(std::vector<std::wstring> args)
{
    // The options may come anywhere before the file names: before the
    // command or after it.
    std::wstring command;
    std::wstring dllPath;
    bool json = false;
    bool perUser = false;
    // bind, unbind, settle and status work in the registry view of 32-bit
    // programs.
    bool x86 = false;
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
            json = true;
        } else if (arg == L"--user") {
            perUser = true;
        } else if (arg == L"--x86") {
            UseRegistryView(RegistryView::X86);
            x86 = true;
        } else if ((arg == L"--dll" || arg == L"--size") && next + 1 < args.size()) {
            if (arg == L"--dll") {
                dllPath = args[++next];
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
    const bool binding = command == L"bind" || command == L"unbind" || command == L"settle" || command == L"status";
    std::set<std::wstring> accepted;
    if (command == L"show") {
        accepted = {L"--dll", L"--json"};
    } else if (command == L"set" || command == L"clear") {
        accepted = {L"--dll"};
    } else if (command == L"thumbnail") {
        accepted = {L"--dll", L"--json", L"--size"};
    } else if (command == L"register" || command == L"unregister") {
        accepted = {L"--dll", L"--user"};
    } else if (command == L"settle") {
        accepted = {L"--x86"};
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
    if (binding && perUser && x86) {
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
        if (command.ends_with(L"register")) {
            return RegisterModule(dllPath, command == L"register", perUser);
        }
        const BindingCommand which = command == L"bind"     ? BindingCommand::Bind
                                     : command == L"unbind" ? BindingCommand::Unbind
                                     : command == L"settle" ? BindingCommand::Settle
                                                            : BindingCommand::Status;
        ConsoleReport report;
        return RunBindingCommand(which, perUser, x86, report);
    }
    ClassSource classes;
    const HRESULT loaded = classes.Load(dllPath);
    if (FAILED(loaded)) {
        Fail(dllPath, "cannot load the module", loaded);
        return 1;
    }
    if (command == L"show" && !args.empty()) {
        return ShowProperties(classes, args, json);
    }
    if ((command == L"set" || command == L"clear") && args.size() >= 2) {
        const std::vector<std::wstring> items(args.begin() + 1, args.end());
        return ChangeTags(classes, args[0], items, command == L"clear");
    }
    if (command == L"thumbnail" && (args.size() == 2 || (args.size() == 4 && args[2] == L"--size"))) {
        if (args.size() == 4) {
            size = static_cast<UINT>(std::wcstoul(args[3].c_str(), nullptr, 10));
        }
        if (size == 0 || size > 4096) {
            Fail(L"", "--size takes a number of pixels from 1 to 4096", E_INVALIDARG);
            return 2;
        }
        return WriteThumbnail(classes, args[0], args[1], size, json);
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
    ChooseCliOutput(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE));
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    const int result = Run(std::vector<std::wstring>(argv + 1, argv + argc));
    std::fflush(stdout);
    CoUninitialize();
    return result;
}
