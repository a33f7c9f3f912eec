// The custom actions that bind .flac to quillbrook's classes and put the
// machine's own binding back, run by the packages from their Binary table
// (installer/binding.wxi). Each runs the console program's command of the
// same name in the same process, so that what it did, and why it failed,
// goes to the installer log line by line rather than being lost with an
// exe's output.
#include "binding/binding_commands.h"
#include "binding/registry_value.h"
#include "installer/actions/installer_log.h"

#include <msiquery.h>

#include <exception>

namespace {

UINT RunAction(MSIHANDLE install, const char* action, BindingCommand command, bool x86)
{
    InstallerLog log(install, action);
    UseRegistryView(x86 ? RegistryView::X86 : RegistryView::Native);
    int code = 1;
    try {
        code = RunBindingCommand(command, false, x86, log);
    } catch (const std::exception& error) {
        log.Write(std::string("failed: ") + error.what() + "\n");
    } catch (...) {
        log.Write("failed: unexpected exception\n");
    }
    return code == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

} // namespace

#define QUILLBROOK_ACTION(name, command, x86)                                                                          \
    extern "C" __declspec(dllexport) UINT __stdcall name(MSIHANDLE install)                                            \
    {                                                                                                                  \
        return RunAction(install, #name, command, x86);                                                                \
    }

QUILLBROOK_ACTION(BindFlac, BindingCommand::Bind, false)
QUILLBROOK_ACTION(UnbindFlac, BindingCommand::Unbind, false)
QUILLBROOK_ACTION(SettleFlac, BindingCommand::Settle, false)
QUILLBROOK_ACTION(BindFlacX86, BindingCommand::Bind, true)
QUILLBROOK_ACTION(UnbindFlacX86, BindingCommand::Unbind, true)
QUILLBROOK_ACTION(SettleFlacX86, BindingCommand::Settle, true)
