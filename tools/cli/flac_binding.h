// The binding of .flac to quillbrook's classes: the property handler, the
// thumbnail provider and the Details-pane layout values.
//
// Windows binds .flac to handlers of its own. Bind saves every value it
// replaces (its type and data, or that it did not exist) under the product's
// own key, Software\Quillbrook\SavedBinding, and Unbind puts them back and
// deletes only what did not exist before. A second Bind keeps the saved
// originals, unless a value of someone else's has replaced quillbrook's
// since: that one is saved instead. Unbind without a saved state removes only
// values that are quillbrook's own, and a value someone else has written
// since Bind is left as it is. Both tell the shell that associations
// changed.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

enum class BindingScope {
    // HKLM: everything, the property handler included.
    Machine,
    // HKCU: the thumbnail provider and the layout values. Windows reads
    // property handlers per machine only, so this binds none.
    User,
};

HRESULT BindFlac(BindingScope scope);
HRESULT UnbindFlac(BindingScope scope);

// The two handler slots of .flac in `scope` (the property handler's in HKLM
// only), with the class each names when bound to quillbrook.
struct HandlerSlot {
    const wchar_t* what;
    std::wstring key;
    CLSID ours;
};
std::vector<HandlerSlot> HandlerSlots(BindingScope scope);
// Whether Bind's record of the originals exists in `scope`.
bool HasSavedBinding(BindingScope scope);
