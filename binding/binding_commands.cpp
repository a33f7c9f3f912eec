#include "binding/binding_commands.h"

#include "binding/class_registration.h"
#include "binding/flac_binding.h"
#include "binding/registry_value.h"
#include "binding/utf8_text.h"
#include "resources/identifiers.h"

#include <string>
#include <vector>

namespace {

constexpr const char* BindFix = "\"quillbrook-cli bind\" as an administrator";
constexpr const char* UserBindFix = "\"quillbrook-cli bind --user\" as that user";
constexpr const char* UserUnregisterFix = "\"quillbrook-cli unregister --user\" as that user";

std::string ClassWhat(const CLSID* clsid)
{
    return clsid == &CLSID_PropertyHandler ? "property handler" : "thumbnail provider";
}

// Why the classes of the chosen view cannot be bound (not registered, their
// module missing or of a processor that Explorer cannot load); empty if
// they can.
std::string RegistrationProblem(bool perUser, bool x86)
{
    const std::string view = x86 ? " for 32-bit programs" : "";
    for (const CLSID* clsid : {&CLSID_PropertyHandler, &CLSID_ThumbnailProvider}) {
        const ClassRegistration registration = FindClassRegistration(*clsid, perUser);
        const std::string name = ClassWhat(clsid);
        if (!registration.registered) {
            return "quillbrook's " + name + " is not registered" + view;
        }
        if (!registration.moduleExists) {
            return "the module of quillbrook's " + name + ", " + Utf8(registration.module) + ", does not exist";
        }
        if (registration.machine != ExpectedMachine()) {
            return "the module of quillbrook's " + name + ", " + Utf8(registration.module) + ", is " +
                   Utf8(MachineName(registration.machine)) + ", not " + Utf8(MachineName(ExpectedMachine())) +
                   " as this machine's " + (x86 ? "32-bit programs need" : "Explorer needs");
        }
    }
    return "";
}

std::string Where(bool perUser, bool x86)
{
    return std::string(perUser ? " for the current user" : " for all users") + (x86 ? " (32-bit programs)" : "");
}

int Bind(BindingScope scope, bool perUser, bool x86, BindingReport& report)
{
    // Bound to classes that do not load, .flac would have no properties or
    // thumbnails at all.
    const std::string problem = RegistrationProblem(perUser, x86);
    if (!problem.empty()) {
        report.Fail(problem + ": .flac left as it is (register the module first)", REGDB_E_CLASSNOTREG);
        return 1;
    }
    const HRESULT hr = BindFlac(scope);
    if (FAILED(hr)) {
        report.Fail("cannot bind .flac; what this bind changed is undone", hr);
        return 1;
    }
    report.Out(".flac bound to quillbrook" + Where(perUser, x86) + "\n");
    if (perUser) {
        report.Out("(no property handler: Windows reads property handlers per machine only; \"quillbrook-cli bind\" as "
                   "an administrator binds it)\n");
    }
    return 0;
}

int Unbind(BindingScope scope, bool perUser, bool x86, BindingReport& report)
{
    std::vector<std::string> notes;
    const HRESULT hr = UnbindFlac(scope, &notes);
    for (const std::string& note : notes) {
        report.Out("note: " + note + "\n");
    }
    if (FAILED(hr)) {
        report.Fail("cannot put the saved binding of .flac back", hr);
        return 1;
    }
    report.Out(".flac binding put back" + Where(perUser, x86) + "\n");
    return 0;
}

int Settle(BindingScope scope, bool x86, BindingReport& report)
{
    const std::string problem = RegistrationProblem(false, x86);
    if (problem.empty()) {
        report.Out("quillbrook's classes are registered and load: binding .flac\n");
        return Bind(scope, false, x86, report);
    }
    report.Out(problem + ": putting the saved binding of .flac back\n");
    return Unbind(scope, false, x86, report);
}

std::wstring ValueText(HKEY root, const std::wstring& key, const std::wstring& name, bool* present,
                       RegistryView view = CurrentRegistryView())
{
    RegistryValue value;
    *present = SUCCEEDED(ReadRegistryValue(root, key, name, &value, view));
    return TextOf(value);
}

// Who a handler slot naming `clsid` belongs to, in words.
std::string Owner(const std::wstring& clsid, const CLSID& ours, bool perUser)
{
    wchar_t text[40] = {};
    StringFromGUID2(ours, text, 40);
    if (clsid.empty()) {
        return "nobody";
    }
    if (_wcsicmp(clsid.c_str(), text) == 0) {
        return "quillbrook";
    }
    const std::wstring name = ClassName(clsid, perUser);
    if (name.empty()) {
        return "a class that is not registered, " + Utf8(clsid);
    }
    return (IsWindowsClass(clsid, perUser) ? "Windows' own " : "another program's ") + Utf8(name) + " " + Utf8(clsid);
}

// What `status` finds: whether the user gets quillbrook's handlers, and
// the fixes for what stops it, each once, in the order found.
class Findings {
public:
    void Problem(const std::string& fix)
    {
        m_ready = false;
        for (const std::string& known : m_fixes) {
            if (known == fix) {
                return;
            }
        }
        m_fixes.push_back(fix);
    }
    bool Ready() const { return m_ready; }
    const std::vector<std::string>& Fixes() const { return m_fixes; }

private:
    bool m_ready = true;
    std::vector<std::string> m_fixes;
};

void ReportClasses(bool perUser, bool x86, Findings& findings, BindingReport& report)
{
    for (const CLSID* clsid : {&CLSID_PropertyHandler, &CLSID_ThumbnailProvider}) {
        const ClassRegistration registration = FindClassRegistration(*clsid, perUser);
        // A registration of the user's own is the user's to remove.
        const bool usersOwn = perUser && FindUserClassRegistration(*clsid).registered;
        std::string line = "  " + ClassWhat(clsid) + " class: ";
        if (!registration.registered) {
            line += "not registered";
            findings.Problem(x86 ? "install the package, which registers the x86 module" : "install the package");
        } else if (!registration.moduleExists) {
            line += "registered, but its module " + Utf8(registration.module) + " does not exist";
            findings.Problem(usersOwn ? UserUnregisterFix : "install the package again (a repair)");
        } else {
            line += "registered, " + Utf8(registration.module) + " (" + Utf8(MachineName(registration.machine)) + ")";
            if (registration.machine != ExpectedMachine()) {
                line += ", not " + Utf8(MachineName(ExpectedMachine())) + " as this machine's " +
                        (x86 ? "32-bit programs need" : "Explorer needs");
                findings.Problem(usersOwn ? UserUnregisterFix
                                          : "install the package built for " + Utf8(MachineName(ExpectedMachine())));
            }
        }
        report.Out(line + "\n");
    }
    if (perUser || x86) {
        return;
    }
    // The current user's own registration of quillbrook's classes takes
    // precedence over the machine's for that user's Explorer.
    for (const CLSID* clsid : {&CLSID_PropertyHandler, &CLSID_ThumbnailProvider}) {
        const ClassRegistration user = FindUserClassRegistration(*clsid);
        const ClassRegistration machine = FindClassRegistration(*clsid, false);
        if (user.registered && _wcsicmp(user.module.c_str(), machine.module.c_str()) != 0) {
            report.Out("  for the current user: quillbrook's " + ClassWhat(clsid) + " class is registered at " +
                       Utf8(user.module) + ", which takes precedence over the machine's\n");
            findings.Problem(UserUnregisterFix);
        }
    }
}

void ReportSlots(BindingScope scope, bool perUser, Findings& findings, BindingReport& report)
{
    for (const HandlerSlot& slot : HandlerSlots(scope)) {
        bool present = false;
        const std::wstring machineValue = ValueText(HKEY_LOCAL_MACHINE, slot.key, L"", &present);
        // The user's own binding, in HKCU's classes: Windows shares .flac's
        // keys there between the views, so that it governs 32-bit programs
        // too. It is read where bind --user writes it, in the native view.
        bool userPresent = false;
        const std::wstring userValue =
            slot.key.find(L"\\Classes\\") == std::wstring::npos
                ? L""
                : ValueText(HKEY_CURRENT_USER, slot.key, L"", &userPresent, RegistryView::Native);
        userPresent = userPresent && !userValue.empty();
        const std::string shown =
            perUser && userPresent ? Owner(userValue, slot.ours, true) : Owner(machineValue, slot.ours, perUser);
        std::string line = "  .flac " + Utf8(slot.what) + ": " + shown;
        if (perUser) {
            line += userPresent ? " (the user's own binding)" : " (the machine's binding)";
        }
        report.Out(line + "\n");
        if (shown != "quillbrook") {
            findings.Problem(perUser && userPresent ? UserBindFix : BindFix);
        }
        if (!perUser && userPresent && Owner(userValue, slot.ours, true) != "quillbrook") {
            report.Out("  for the current user, .flac " + Utf8(slot.what) + ": " + Owner(userValue, slot.ours, true) +
                       " (the user's own binding, which takes precedence)\n");
            findings.Problem(UserBindFix);
        }
    }
    if (perUser) {
        report.Out("  .flac property handler: per machine only (see status without --user)\n");
    }
}

// The Details-pane lists: each as the user gets it (the user's own value
// takes precedence over the machine's).
void ReportLayout(bool perUser, Findings& findings, BindingReport& report)
{
    std::string missing;
    for (const LayoutValue& value : LayoutValues()) {
        bool userPresent = false;
        const std::wstring user = ValueText(HKEY_CURRENT_USER, LayoutKey(), value.name, &userPresent);
        bool machinePresent = false;
        const std::wstring machine = ValueText(HKEY_LOCAL_MACHINE, LayoutKey(), value.name, &machinePresent);
        const std::wstring effective = userPresent ? user : machine;
        if (_wcsicmp(effective.c_str(), value.ours.c_str()) == 0) {
            continue;
        }
        const bool mineToFix = userPresent;
        missing += (missing.empty() ? "" : ", ") + Utf8(value.name) +
                   (!userPresent && !machinePresent ? " missing"
                    : userPresent                   ? " set otherwise by the user's own value"
                                                    : " set otherwise");
        findings.Problem(mineToFix || perUser ? UserBindFix : BindFix);
    }
    report.Out("  .flac Details-pane lists: " + (missing.empty() ? std::string("quillbrook's") : missing) + "\n");
}

int Status(BindingScope scope, bool perUser, bool x86, BindingReport& report)
{
    report.Out(std::string("quillbrook, ") + (perUser ? "for the current user" : "for all users") +
               (x86 ? " (32-bit programs)" : "") + ":\n");
    Findings findings;
    ReportClasses(perUser, x86, findings, report);
    ReportSlots(scope, perUser, findings, report);
    if (!x86) {
        ReportLayout(perUser, findings, report);
    }
    report.Out(std::string("  saved binding: ") + (HasSavedBinding(scope) ? "yes" : "no") + "\n");
    if (findings.Ready()) {
        report.Out(std::string(".flac is bound to quillbrook") + (perUser ? " for the current user" : "") + "\n");
        return 0;
    }
    report.Out(std::string(".flac is not bound to registered classes of quillbrook") +
               (perUser ? " for the current user" : "") + "; to fix it:\n");
    for (const std::string& fix : findings.Fixes()) {
        report.Out("  " + fix + "\n");
    }
    return 1;
}

} // namespace

int RunBindingCommand(BindingCommand command, bool perUser, bool x86, BindingReport& report)
{
    const BindingScope scope = perUser ? BindingScope::User : x86 ? BindingScope::Machine32 : BindingScope::Machine;
    switch (command) {
    case BindingCommand::Bind:
        return Bind(scope, perUser, x86, report);
    case BindingCommand::Unbind:
        return Unbind(scope, perUser, x86, report);
    case BindingCommand::Settle:
        return Settle(scope, x86, report);
    case BindingCommand::Status:
        return Status(scope, perUser, x86, report);
    }
    return 2;
}
