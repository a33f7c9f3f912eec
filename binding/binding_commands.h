// bind, unbind, settle and status: the binding of .flac to quillbrook's
// classes, per machine (in the registry view that registry_value.h works
// in) or for the current user.
#pragma once

#include "binding/binding_report.h"

enum class BindingCommand {
    // Binds .flac, saving what it replaces; refused if the classes would
    // not load.
    Bind,
    // Puts the saved binding back.
    Unbind,
    // Binds if the classes are registered and their modules load, and
    // unbinds otherwise: what a rollback runs once everything else is
    // undone, whatever state that leaves.
    Settle,
    // Tells whether the user gets quillbrook's handlers, and what fixes it.
    Status,
};

// The exit code: 0 on success (status: bound), 1 otherwise. What the
// command finds and does, and why it fails, goes to `report`.
int RunBindingCommand(BindingCommand command, bool perUser, bool x86, BindingReport& report);
