#include "tools/cli/flac_binding.h"

#include "resources/identifiers.h"
#include "tools/cli/details_layout.h"
#include "tools/cli/registry_value.h"

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
    const wchar_t* id;
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
    const std::wstring layout = L"Software\\Classes\\SystemFileAssociations\\.flac";
    std::vector<BindingEntry> entries;
    if (scope == BindingScope::Machine) {
        entries.push_back({L"PropertyHandler", PropertyHandlerSlot, L"", GuidText(CLSID_PropertyHandler)});
    }
    entries.push_back({L"ThumbnailProvider", ThumbnailSlot(), L"", GuidText(CLSID_ThumbnailProvider)});
    entries.push_back({L"PreviewDetails", layout, L"PreviewDetails", PreviewDetailsList()});
    entries.push_back({L"FullDetails", layout, L"FullDetails", FullDetailsList()});
    entries.push_back({L"InfoTip", layout, L"InfoTip", InfoTipList()});
    entries.push_back({L"ExtendedTileInfo", layout, L"ExtendedTileInfo", ExtendedTileInfoList()});
    return entries;
}

HKEY Root(BindingScope scope)
{
    return scope == BindingScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
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

// Records what `entry` holds before Bind writes it. A record that exists is
// kept while the value is quillbrook's own or absent: a second Bind (a
// repair, a modification, an upgrade) must not take quillbrook's own values
// for the originals. But a value of someone else's, written since the
// record was made, is what Unbind must put back: it is recorded instead.
// (An incomplete record is written again: Bind replaces no value before
// every record is complete.)
HRESULT SaveOriginal(HKEY root, const BindingEntry& entry)
{
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
    RegDeleteKeyExW(root, saved.c_str(), RegistryViewAccess(), 0);
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

HRESULT RestoreOriginal(HKEY root, const BindingEntry& entry)
{
    const std::wstring saved = SavedKey(entry);
    RegistryValue current;
    const bool present = SUCCEEDED(ReadRegistryValue(root, entry.key, entry.valueName, &current));
    const bool ours = present && HoldsString(current, entry.ours);
    RegistryValue existed;
    const bool complete = HasRecord(root, entry, &existed);
    HRESULT hr = S_OK;
    if (!complete) {
        // No (complete) record of the original: only quillbrook's own value
        // goes.
        if (ours) {
            hr = DeleteRegistryValue(root, entry.key, entry.valueName);
        }
    } else if (ours || !present) {
        // Someone else's value, written after Bind, stays.
        if (existed.data[0] != 0) {
            RegistryValue original;
            hr = ReadRegistryValue(root, saved, OriginalName, &original);
            if (SUCCEEDED(hr)) {
                hr = WriteRegistryValue(root, entry.key, entry.valueName, original);
            }
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
        // The record has values only.
        const LSTATUS status = RegDeleteKeyExW(root, saved.c_str(), RegistryViewAccess(), 0);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            hr = HRESULT_FROM_WIN32(status);
        }
    }
    return hr;
}

void NotifyShell()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace

HRESULT BindFlac(BindingScope scope)
{
    const HKEY root = Root(scope);
    const std::vector<BindingEntry> entries = Entries(scope);
    // Every original is saved before the first value is replaced.
    HRESULT hr = S_OK;
    for (const BindingEntry& entry : entries) {
        hr = SaveOriginal(root, entry);
        if (FAILED(hr)) {
            break;
        }
    }
    for (std::size_t i = 0; SUCCEEDED(hr) && i < entries.size(); ++i) {
        hr = WriteRegistryValue(root, entries[i].key, entries[i].valueName, StringValue(entries[i].ours));
    }
    if (FAILED(hr)) {
        // Half a binding is undone.
        UnbindFlac(scope);
        return hr;
    }
    NotifyShell();
    return S_OK;
}

HRESULT UnbindFlac(BindingScope scope)
{
    const HKEY root = Root(scope);
    HRESULT result = S_OK;
    for (const BindingEntry& entry : Entries(scope)) {
        const HRESULT hr = RestoreOriginal(root, entry);
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
    if (scope == BindingScope::Machine) {
        slots.push_back({L"property handler", PropertyHandlerSlot, CLSID_PropertyHandler});
    }
    slots.push_back({L"thumbnail provider", ThumbnailSlot(), CLSID_ThumbnailProvider});
    return slots;
}

bool HasSavedBinding(BindingScope scope)
{
    return RegistryKeyExists(Root(scope), SavedBindingKey);
}
