#include "tools/cli/tag_commands.h"

#include "propkeys/property_names.h"
#include "resources/identifiers.h"
#include "tools/cli/cli_output.h"
#include "tools/cli/value_text.h"
#include "tools/safe_save/safe_save_stream.h"

#include <wrl/client.h>

#include <cstdio>

namespace {

HRESULT OpenHandler(const ClassSource& classes, const std::wstring& file, IStream* stream,
                    Microsoft::WRL::ComPtr<IPropertyStore>& store)
{
    store.Reset();
    Microsoft::WRL::ComPtr<IInitializeWithStream> init;
    HRESULT hr = classes.Create(CLSID_PropertyHandler, IID_PPV_ARGS(&init));
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

// One file's properties; `json` collects them, `first` tells whether a
// separator goes before.
HRESULT Show(const ClassSource& classes, const std::wstring& file, bool json, bool first)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT hr = SHCreateStreamOnFileEx(file.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                        nullptr, &stream);
    if (FAILED(hr)) {
        return Fail(file, OpenFailure(file, hr, false), hr);
    }
    Microsoft::WRL::ComPtr<IPropertyStore> store;
    hr = OpenHandler(classes, file, stream.Get(), store);
    stream.Reset();
    if (FAILED(hr)) {
        return hr;
    }
    DWORD count = 0;
    store->GetCount(&count);
    std::string text = (first ? "" : ",\n") + std::string("  {\"file\": ") + JsonString(file) + ", \"properties\": {";
    if (!json) {
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
        if (json) {
            text += (i != 0 ? ", " : "") + JsonString(name) + ": " + JsonValue(value);
        } else if (value.vt != VT_EMPTY) {
            Out("  " + Utf8(name) + ": " + Utf8(DisplayText(value, known ? known->kind : ValueKind::Text)) + "\n");
        }
        PropVariantClear(&value);
    }
    store.Reset();
    if (json) {
        Out(text + "}}");
    }
    return S_OK;
}

// The changed properties' values as `store` reads them, as text.
std::vector<std::wstring> ValuesOf(IPropertyStore* store, const std::vector<const PropertyName*>& properties)
{
    std::vector<std::wstring> values;
    for (const PropertyName* property : properties) {
        PROPVARIANT value;
        PropVariantInit(&value);
        store->GetValue(property->key, &value);
        values.push_back(DisplayText(value, property->kind));
        PropVariantClear(&value);
    }
    return values;
}

// What a save that failed left, from the file read again: its old values, the
// new ones, some of each, or metadata that no longer reads.
std::string WhatAFailedSaveLeft(const ClassSource& classes, const std::wstring& file,
                                const std::vector<const PropertyName*>& properties,
                                const std::vector<std::wstring>& before, const std::vector<std::wstring>& wanted)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    Microsoft::WRL::ComPtr<IInitializeWithStream> init;
    Microsoft::WRL::ComPtr<IPropertyStore> store;
    HRESULT hr = SHCreateStreamOnFileEx(file.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                        nullptr, &stream);
    if (SUCCEEDED(hr)) {
        hr = classes.Create(CLSID_PropertyHandler, IID_PPV_ARGS(&init));
    }
    if (SUCCEEDED(hr)) {
        hr = init->Initialize(stream.Get(), STGM_READ);
    }
    if (SUCCEEDED(hr)) {
        hr = init.As(&store);
    }
    if (FAILED(hr)) {
        return "the changes could not be written, and the file's metadata cannot be read back: it may be damaged";
    }
    const std::vector<std::wstring> now = ValuesOf(store.Get(), properties);
    if (now == before) {
        return "the changes could not be written; the file reads as before";
    }
    if (now == wanted) {
        return "the save reported a failure, yet the file reads with the new values";
    }
    return "the changes could not be written completely; the file reads with some of them";
}

} // namespace

int ShowProperties(const ClassSource& classes, const std::vector<std::wstring>& files, bool json)
{
    int failures = 0;
    bool first = true;
    if (json) {
        Out("[\n");
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files.size() > 3) {
            Err("[" + std::to_string(i + 1) + "/" + std::to_string(files.size()) + "] " + Utf8(files[i]) + "\n");
        }
        if (FAILED(Show(classes, files[i], json, first))) {
            ++failures;
        } else {
            first = false;
        }
        // Each file's result goes out with its progress line, also when
        // stdout is a pipe or a file (fully buffered then).
        std::fflush(stdout);
    }
    if (json) {
        Out("\n]\n");
    }
    return failures == 0 ? 0 : 1;
}

int ChangeTags(const ClassSource& classes, const std::wstring& file, const std::vector<std::wstring>& items, bool clear)
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
        hr = OpenHandler(classes, file, stream.Get(), store);
    }
    std::vector<const PropertyName*> properties;
    std::vector<std::wstring> wanted;
    for (const Change& change : changes) {
        properties.push_back(change.property);
        wanted.push_back(DisplayText(change.value, change.property->kind));
    }
    // What the file held, to tell what a failed save left.
    const std::vector<std::wstring> old = store ? ValuesOf(store.Get(), properties) : wanted;
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
        const std::wstring refusal = FAILED(hr) ? stream->Refusal() : std::wstring();
        store.Reset();
        stream.Reset();
        if (FAILED(hr)) {
            Fail(file, refusal.empty() ? WhatAFailedSaveLeft(classes, file, properties, old, wanted) : Utf8(refusal),
                 hr);
        }
    }
    store.Reset();
    stream.Reset();
    for (Change& change : changes) {
        PropVariantClear(&change.value);
    }
    return FAILED(hr) ? 1 : 0;
}
