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
#include <new>

namespace {

// Nothing may throw out of a custom action: the installer's custom-action
// server would end with it. Everything that can throw, the log's
// allocations included, runs inside the try, and the handlers allocate
// nothing.
UINT RunAction(MSIHANDLE install, const char* action, BindingCommand command, bool x86) noexcept
{
    try {
        InstallerLog log(install, action);
        UseRegistryView(x86 ? RegistryView::X86 : RegistryView::Native);
        const int code = RunBindingCommand(command, false, x86, log);
        log.Flush();
        return code == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
    } catch (const std::bad_alloc&) {
        InstallerLog::WriteWithoutMemory(install, action, "failed: out of memory");
    } catch (const std::exception& error) {
        InstallerLog::WriteWithoutMemory(install, action, "failed: ", error.what());
    } catch (...) {
        InstallerLog::WriteWithoutMemory(install, action, "failed: unexpected exception");
    }
    return ERROR_INSTALL_FAILURE;
}

} // namespace

#define QUILLBROOK_ACTION(name, command, x86)                                                                          \
    extern "C" __declspec(dllexport) UINT __stdcall name(MSIHANDLE install) noexcept                                   \
    {                                                                                                                  \
        return RunAction(install, #name, command, x86);                                                                \
    }

QUILLBROOK_ACTION(BindFlac, BindingCommand::Bind, false)
QUILLBROOK_ACTION(UnbindFlac, BindingCommand::Unbind, false)
QUILLBROOK_ACTION(SettleFlac, BindingCommand::Settle, false)
QUILLBROOK_ACTION(BindFlacX86, BindingCommand::Bind, true)
QUILLBROOK_ACTION(UnbindFlacX86, BindingCommand::Unbind, true)
QUILLBROOK_ACTION(SettleFlacX86, BindingCommand::Settle, true)
