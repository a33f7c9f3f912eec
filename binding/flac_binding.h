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
//
// A Bind that fails part way undoes only what it did itself: the values it
// wrote and the records it made or replaced go back to what they were
// before it, so that a failed repair or upgrade keeps the binding and the
// records of the first install.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

enum class BindingScope {
    // HKLM: everything, the property handler included.
    Machine,
    // HKLM as 32-bit programs see it: the property handler only. Windows
    // keeps PropertyHandlers apart per view (under WOW6432Node), but shares
    // the file-association keys of Software\Classes (.flac and
    // SystemFileAssociations) between the views: they are Machine's.
    Machine32,
    // HKCU: the thumbnail provider and the layout values. Windows reads
    // property handlers per machine only, so this binds none.
    User,
};

HRESULT BindFlac(BindingScope scope);
// A record that cannot be read (Existed kept, Original missing or
// unreadable) counts as no record: only quillbrook's own value goes, and a
// line for `notes` says which value could not be put back.
HRESULT UnbindFlac(BindingScope scope, std::vector<std::string>* notes);

// The two handler slots of .flac that programs of `scope` read (the
// property handler's in HKLM only), with the class each names when bound to
// quillbrook.
struct HandlerSlot {
    const wchar_t* what;
    std::wstring key;
    CLSID ours;
};
std::vector<HandlerSlot> HandlerSlots(BindingScope scope);
// Whether Bind's record of the originals exists in `scope`.
bool HasSavedBinding(BindingScope scope);

// The Details-pane layout values of .flac that Bind writes in `root`
// (HKLM or HKCU): the value's name and quillbrook's list.
struct LayoutValue {
    std::wstring name;
    std::wstring ours;
};
std::wstring LayoutKey();
std::vector<LayoutValue> LayoutValues();
