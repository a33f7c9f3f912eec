#include "tools/cli/value_text.h"

#include <cwctype>

namespace {

std::wstring Trim(const std::wstring& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::iswspace(text[first])) {
        ++first;
    }
    while (last > first && std::iswspace(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

std::wstring TwoDigits(ULONGLONG n)
{
    return (n < 10 ? L"0" : L"") + std::to_wstring(n);
}

} // namespace

std::wstring DisplayText(const PROPVARIANT& value, ValueKind kind)
{
    switch (value.vt) {
    case VT_LPWSTR:
        return value.pwszVal != nullptr ? value.pwszVal : L"";
    case VT_VECTOR | VT_LPWSTR: {
        std::wstring joined;
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i) {
            if (i != 0) {
                joined += L"; ";
            }
            joined += value.calpwstr.pElems[i] != nullptr ? value.calpwstr.pElems[i] : L"";
        }
        return joined;
    }
    case VT_UI4:
        if (kind == ValueKind::BitRate) {
            return std::to_wstring(value.ulVal / 1000) + L" kbps";
        }
        return std::to_wstring(value.ulVal);
    case VT_UI8:
        if (kind == ValueKind::Duration) {
            const ULONGLONG seconds = value.uhVal.QuadPart / 10000000ULL;
            return std::to_wstring(seconds / 3600) + L":" + TwoDigits(seconds / 60 % 60) + L":" +
                   TwoDigits(seconds % 60);
        }
        return std::to_wstring(value.uhVal.QuadPart);
    case VT_BOOL:
        return value.boolVal != VARIANT_FALSE ? L"Yes" : L"No";
    default:
        return L"";
    }
}

std::string JsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (const char c : Utf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonValue(const PROPVARIANT& value)
{
    switch (value.vt) {
    case VT_LPWSTR:
        return JsonString(value.pwszVal != nullptr ? value.pwszVal : L"");
    case VT_VECTOR | VT_LPWSTR: {
        std::string out = "[";
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i) {
            out +=
                (i != 0 ? ", " : "") + JsonString(value.calpwstr.pElems[i] != nullptr ? value.calpwstr.pElems[i] : L"");
        }
        return out + "]";
    }
    case VT_UI4:
        return std::to_string(value.ulVal);
    case VT_UI8:
        return std::to_string(value.uhVal.QuadPart);
    case VT_BOOL:
        return value.boolVal != VARIANT_FALSE ? "true" : "false";
    default:
        return "null";
    }
}

bool ParseTypedValue(const std::wstring& text, ValueKind kind, PROPVARIANT* value)
{
    PropVariantInit(value);
    switch (kind) {
    case ValueKind::Text:
        return SUCCEEDED(InitPropVariantFromString(text.c_str(), value));
    case ValueKind::TextList: {
        std::vector<std::wstring> parts;
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = text.find(L';', start);
            const std::wstring part = Trim(text.substr(start, end == std::wstring::npos ? end : end - start));
            if (!part.empty()) {
                parts.push_back(part);
            }
            if (end == std::wstring::npos) {
                break;
            }
            start = end + 1;
        }
        std::vector<PCWSTR> pointers;
        for (const auto& part : parts) {
            pointers.push_back(part.c_str());
        }
        return SUCCEEDED(InitPropVariantFromStringVector(pointers.data(), static_cast<ULONG>(pointers.size()), value));
    }
    case ValueKind::Number: {
        const std::wstring digits = Trim(text);
        if (digits.empty() || digits.size() > 10 || digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
            return false;
        }
        const unsigned long long number = std::stoull(digits);
        if (number > 0xFFFFFFFFULL) {
            return false;
        }
        value->vt = VT_UI4;
        value->ulVal = static_cast<ULONG>(number);
        return true;
    }
    default:
        return false;
    }
}
