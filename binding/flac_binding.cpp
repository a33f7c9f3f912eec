#include "binding/flac_binding.h"

#include "binding/details_layout.h"
#include "binding/registry_value.h"
#include "binding/utf8_text.h"
#include "resources/identifiers.h"

#include <vector>

namespace {

constexpr const wchar_t* SavedBindingKey = L"Software\\Quillbrook\\SavedBinding";
constexpr const wchar_t* ProductKey = L"Software\\Quillbrook";
// What each saved entry holds: whether the value existed, the value itself
// (same type and data) if it did, and the topmost key Bind had to create.
constexpr const wchar_t* ExistedName = L"Existed";
constexpr const wchar_t* OriginalName = L"Original";
constexpr const wchar_t* CreatedKeyName = L"CreatedKey";

struct BindingEntry {
    // The name of its record under SavedBindingKey.
    std::wstring id;
    std::wstring key;
    std::wstring valueName;
    std::wstring ours;
};

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

constexpr const wchar_t* PropertyHandlerSlot =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.flac";

std::wstring ThumbnailSlot()
{
    return L"Software\\Classes\\.flac\\ShellEx\\" + GuidText(__uuidof(IThumbnailProvider));
}

std::vector<BindingEntry> Entries(BindingScope scope)
{
    std::vector<BindingEntry> entries;
    if (scope != BindingScope::User) {
        entries.push_back({L"PropertyHandler", PropertyHandlerSlot, L"", GuidText(CLSID_PropertyHandler)});
    }
    if (scope == BindingScope::Machine32) {
        return entries;
    }
    entries.push_back({L"ThumbnailProvider", ThumbnailSlot(), L"", GuidText(CLSID_ThumbnailProvider)});
    for (const LayoutValue& value : LayoutValues()) {
        entries.push_back({value.name, LayoutKey(), value.name, value.ours});
    }
    return entries;
}

HKEY Root(BindingScope scope)
{
    return scope == BindingScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

std::wstring SavedKey(const BindingEntry& entry)
{
    return std::wstring(SavedBindingKey) + L"\\" + entry.id;
}

// The topmost key of `path` that does not exist yet; empty if it exists.
std::wstring FirstMissingKey(HKEY root, const std::wstring& path)
{
    std::wstring missing;
    std::wstring key = path;
    while (!key.empty() && !RegistryKeyExists(root, key)) {
        missing = key;
        const std::size_t slash = key.rfind(L'\\');
        key = slash == std::wstring::npos ? L"" : key.substr(0, slash);
    }
    return missing;
}

// Whether `entry` has a complete record of its original.
bool HasRecord(HKEY root, const BindingEntry& entry, RegistryValue* existed)
{
    return SUCCEEDED(ReadRegistryValue(root, SavedKey(entry), ExistedName, existed)) && existed->type == REG_DWORD &&
           existed->data.size() == 4;
}

// An entry's record as it is, to be put back as it was.
struct RecordCopy {
    bool exists = false;
    std::vector<std::pair<std::wstring, RegistryValue>> values;
};

RecordCopy CopyRecord(HKEY root, const BindingEntry& entry)
{
    RecordCopy copy;
    copy.exists = RegistryKeyExists(root, SavedKey(entry));
    for (const wchar_t* name : {ExistedName, OriginalName, CreatedKeyName}) {
        RegistryValue value;
        if (copy.exists && SUCCEEDED(ReadRegistryValue(root, SavedKey(entry), name, &value))) {
            copy.values.emplace_back(name, value);
        }
    }
    return copy;
}

HRESULT DeleteRecord(HKEY root, const BindingEntry& entry)
{
    // Bind writes values only, but a subkey (left by hand, or by another
    // version) must not make every removal fail.
    const HRESULT hr = DeleteRegistryTree(root, SavedKey(entry));
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
}

void PutRecordBack(HKEY root, const BindingEntry& entry, const RecordCopy& copy)
{
    DeleteRecord(root, entry);
    // Existed last, as SaveOriginal writes it.
    for (auto it = copy.values.rbegin(); it != copy.values.rend(); ++it) {
        WriteRegistryValue(root, SavedKey(entry), it->first, it->second);
    }
}

// Records what `entry` holds before Bind writes it. A record that exists is
// kept while the value is quillbrook's own or absent: a second Bind (a
// repair, a modification, an upgrade) must not take quillbrook's own values
// for the originals. But a value of someone else's, written since the
// record was made, is what Unbind must put back: it is recorded instead.
// (An incomplete record is written again: Bind replaces no value before
// every record is complete.) `changed` tells whether the record was touched.
HRESULT SaveOriginal(HKEY root, const BindingEntry& entry, bool* changed)
{
    *changed = false;
    const std::wstring saved = SavedKey(entry);
    RegistryValue original;
    const HRESULT read = ReadRegistryValue(root, entry.key, entry.valueName, &original);
    if (FAILED(read) && read != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        return read;
    }
    const bool foreign = SUCCEEDED(read) && !HoldsString(original, entry.ours);
    RegistryValue record;
    if (HasRecord(root, entry, &record) && !foreign) {
        return S_OK;
    }
    *changed = true;
    DeleteRecord(root, entry);
    // A value that already is quillbrook's (bound by hand, or by an earlier
    // installer) is no original to restore.
    const bool existed = foreign;
    RegistryValue flag;
    flag.type = REG_DWORD;
    flag.data = {static_cast<BYTE>(existed ? 1 : 0), 0, 0, 0};
    HRESULT hr = existed ? WriteRegistryValue(root, saved, OriginalName, original) : S_OK;
    const std::wstring created = FirstMissingKey(root, entry.key);
    if (SUCCEEDED(hr) && !created.empty()) {
        hr = WriteRegistryValue(root, saved, CreatedKeyName, StringValue(created));
    }
    // Written last: an entry without it is incomplete and not trusted.
    if (SUCCEEDED(hr)) {
        hr = WriteRegistryValue(root, saved, ExistedName, flag);
    }
    return hr;
}

// Deletes `path` and its parents up to `created` while they are empty.
void DeleteCreatedKeys(HKEY root, std::wstring path, const std::wstring& created)
{
    while (path.size() >= created.size() && path.starts_with(created) && DeleteRegistryKeyIfEmpty(root, path)) {
        if (path.size() == created.size()) {
            break;
        }
        path.resize(path.rfind(L'\\'));
    }
}

HRESULT RestoreOriginal(HKEY root, const BindingEntry& entry, std::vector<std::string>* notes)
{
    const std::wstring saved = SavedKey(entry);
    RegistryValue current;
    const bool present = SUCCEEDED(ReadRegistryValue(root, entry.key, entry.valueName, &current));
    const bool ours = present && HoldsString(current, entry.ours);
    RegistryValue existed;
    bool complete = HasRecord(root, entry, &existed);
    RegistryValue original;
    if (complete && existed.data[0] != 0 && FAILED(ReadRegistryValue(root, saved, OriginalName, &original))) {
        // A damaged record: what it should hold is lost. Taken as no record,
        // rather than failing every removal from now on.
        complete = false;
        if (ours && notes != nullptr) {
            notes->push_back("the saved original of " + Utf8(entry.id) +
                             " cannot be read: quillbrook's value removed, nothing put back in its place");
        }
    }
    HRESULT hr = S_OK;
    if (!complete) {
        // No (readable) record of the original: only quillbrook's own value
        // goes.
        if (ours) {
            hr = DeleteRegistryValue(root, entry.key, entry.valueName);
        }
    } else if (ours || !present) {
        // Someone else's value, written after Bind, stays.
        if (existed.data[0] != 0) {
            hr = WriteRegistryValue(root, entry.key, entry.valueName, original);
        } else {
            hr = DeleteRegistryValue(root, entry.key, entry.valueName);
            RegistryValue created;
            if (SUCCEEDED(hr) && SUCCEEDED(ReadRegistryValue(root, saved, CreatedKeyName, &created)) &&
                !TextOf(created).empty()) {
                DeleteCreatedKeys(root, entry.key, TextOf(created));
            }
        }
    }
    if (SUCCEEDED(hr)) {
        hr = DeleteRecord(root, entry);
    }
    return hr;
}

// What Bind did to one entry, so that a failed Bind can undo it alone.
struct BindStep {
    const BindingEntry* entry;
    RecordCopy record;
    bool recordChanged = false;
    // The value before Bind, if there was one, and the topmost key that
    // writing it would create.
    bool hadValue = false;
    RegistryValue value;
    std::wstring createdKey;
    bool written = false;
};

void UndoBind(HKEY root, const std::vector<BindStep>& steps)
{
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        const BindingEntry& entry = *step->entry;
        if (step->written) {
            if (step->hadValue) {
                WriteRegistryValue(root, entry.key, entry.valueName, step->value);
            } else {
                DeleteRegistryValue(root, entry.key, entry.valueName);
                if (!step->createdKey.empty()) {
                    DeleteCreatedKeys(root, entry.key, step->createdKey);
                }
            }
        }
        if (step->recordChanged) {
            PutRecordBack(root, entry, step->record);
        }
    }
    DeleteRegistryKeyIfEmpty(root, SavedBindingKey);
    DeleteRegistryKeyIfEmpty(root, ProductKey);
}

// The notice reaches the programs of this session only: run as LocalSystem
// by the installer (session 0), it reaches no user's Explorer.
void NotifyShell()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace

HRESULT BindFlac(BindingScope scope)
{
    const HKEY root = Root(scope);
    const std::vector<BindingEntry> entries = Entries(scope);
    std::vector<BindStep> steps;
    steps.reserve(entries.size());
    // Every original is saved before the first value is replaced.
    HRESULT hr = S_OK;
    for (const BindingEntry& entry : entries) {
        BindStep& step = steps.emplace_back();
        step.entry = &entry;
        step.record = CopyRecord(root, entry);
        const HRESULT read = ReadRegistryValue(root, entry.key, entry.valueName, &step.value);
        step.hadValue = SUCCEEDED(read);
        step.createdKey = FirstMissingKey(root, entry.key);
        hr = SaveOriginal(root, entry, &step.recordChanged);
        if (FAILED(hr)) {
            break;
        }
    }
    for (std::size_t i = 0; SUCCEEDED(hr) && i < steps.size(); ++i) {
        BindStep& step = steps[i];
        if (step.hadValue && HoldsString(step.value, step.entry->ours)) {
            continue;
        }
        // Marked first: a write that fails may have created keys.
        step.written = true;
        hr = WriteRegistryValue(root, step.entry->key, step.entry->valueName, StringValue(step.entry->ours));
    }
    if (FAILED(hr)) {
        // What this call did is undone; what earlier ones did stays.
        UndoBind(root, steps);
        return hr;
    }
    NotifyShell();
    return S_OK;
}

HRESULT UnbindFlac(BindingScope scope, std::vector<std::string>* notes)
{
    const HKEY root = Root(scope);
    HRESULT result = S_OK;
    for (const BindingEntry& entry : Entries(scope)) {
        const HRESULT hr = RestoreOriginal(root, entry, notes);
        if (FAILED(hr) && SUCCEEDED(result)) {
            result = hr;
        }
    }
    DeleteRegistryKeyIfEmpty(root, SavedBindingKey);
    DeleteRegistryKeyIfEmpty(root, ProductKey);
    NotifyShell();
    return result;
}

std::vector<HandlerSlot> HandlerSlots(BindingScope scope)
{
    std::vector<HandlerSlot> slots;
    if (scope != BindingScope::User) {
        slots.push_back({L"property handler", PropertyHandlerSlot, CLSID_PropertyHandler});
    }
    slots.push_back({L"thumbnail provider", ThumbnailSlot(), CLSID_ThumbnailProvider});
    return slots;
}

bool HasSavedBinding(BindingScope scope)
{
    return RegistryKeyExists(Root(scope), SavedBindingKey);
}

std::wstring LayoutKey()
{
    return L"Software\\Classes\\SystemFileAssociations\\.flac";
}

std::vector<LayoutValue> LayoutValues()
{
    return {{L"PreviewDetails", PreviewDetailsList()},
            {L"FullDetails", FullDetailsList()},
            {L"InfoTip", InfoTipList()},
            {L"ExtendedTileInfo", ExtendedTileInfoList()}};
}
