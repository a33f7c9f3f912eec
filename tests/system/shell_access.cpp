#include "tests/system/shell_access.h"

#include "tests/system/check_log.h"

#include <cstdlib>

namespace {

class PropVariant {
public:
    PropVariant() { PropVariantInit(&value); }
    ~PropVariant() { PropVariantClear(&value); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;
    PROPVARIANT value;
};

class CoString {
public:
    ~CoString() { CoTaskMemFree(text); }
    wchar_t* text = nullptr;
};

} // namespace

ComPtr<IPropertyStore> OpenPropertyStore(const std::wstring& path, GETPROPERTYSTOREFLAGS flags)
{
    ComPtr<IPropertyStore> store;
    ShellCall(SHGetPropertyStoreFromParsingName(path.c_str(), nullptr, flags, IID_PPV_ARGS(&store)),
              "SHGetPropertyStoreFromParsingName");
    return store;
}

std::wstring TextValue(IPropertyStore* store, REFPROPERTYKEY key)
{
    PropVariant value;
    ShellCall(store->GetValue(key, &value.value), "GetValue");
    CoString text;
    ShellCall(PropVariantToStringAlloc(value.value, &text.text), "PropVariantToStringAlloc");
    return text.text;
}

std::vector<std::wstring> TextList(IPropertyStore* store, REFPROPERTYKEY key)
{
    PropVariant value;
    ShellCall(store->GetValue(key, &value.value), "GetValue");
    std::vector<std::wstring> list;
    if (value.value.vt == VT_EMPTY) {
        return list;
    }
    if (value.value.vt == VT_LPWSTR) {
        list.emplace_back(value.value.pwszVal);
        return list;
    }
    Require(value.value.vt == (VT_VECTOR | VT_LPWSTR), "not a list of texts");
    for (ULONG i = 0; i < value.value.calpwstr.cElems; ++i) {
        list.emplace_back(value.value.calpwstr.pElems[i]);
    }
    return list;
}

std::uint64_t NumberValue(IPropertyStore* store, REFPROPERTYKEY key)
{
    PropVariant value;
    ShellCall(store->GetValue(key, &value.value), "GetValue");
    ULONGLONG number = 0;
    ShellCall(PropVariantToUInt64(value.value, &number), "PropVariantToUInt64");
    return number;
}

std::wstring DisplayText(IPropertyStore* store, REFPROPERTYKEY key)
{
    PropVariant value;
    ShellCall(store->GetValue(key, &value.value), "GetValue");
    wchar_t text[256] = {};
    ShellCall(PSFormatForDisplay(key, value.value, PDFF_DEFAULT, text, ARRAYSIZE(text)), "PSFormatForDisplay");
    return text;
}

void SetText(IPropertyStore* store, REFPROPERTYKEY key, const std::wstring& value)
{
    PropVariant variant;
    ShellCall(InitPropVariantFromString(value.c_str(), &variant.value), "InitPropVariantFromString");
    ShellCall(store->SetValue(key, variant.value), "SetValue");
}

namespace {

// The machine this program (and so any module it loads) is built for.
WORD OwnMachine()
{
#if defined(_M_ARM64) || defined(__aarch64__)
    return IMAGE_FILE_MACHINE_ARM64;
#elif defined(_M_X64) || defined(__x86_64__)
    return IMAGE_FILE_MACHINE_AMD64;
#else
    return IMAGE_FILE_MACHINE_I386;
#endif
}

} // namespace

void RequireInstalledModuleLoaded(const std::wstring& installedPath)
{
    Require(!installedPath.empty(), "no --module given: the installed module is not known");
    const std::wstring name = installedPath.substr(installedPath.find_last_of(L'\\') + 1);
    const HMODULE module = GetModuleHandleW(name.c_str());
    Require(module != nullptr, Narrow(name) + " is not loaded in this process");
    wchar_t path[1024];
    const DWORD length = GetModuleFileNameW(module, path, ARRAYSIZE(path));
    Require(length > 0 && length < ARRAYSIZE(path), "GetModuleFileNameW failed");
    Require(CompareStringOrdinal(path, static_cast<int>(length), installedPath.c_str(),
                                 static_cast<int>(installedPath.size()), TRUE) == CSTR_EQUAL,
            "the " + Narrow(name) + " in this process is " + Narrow(path) + ", not the installed " +
                Narrow(installedPath));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
    Require(nt->FileHeader.Machine == OwnMachine(), "the loaded " + Narrow(name) + " is built for machine " +
                                                        std::to_string(nt->FileHeader.Machine) + ", this program for " +
                                                        std::to_string(OwnMachine()));
}

void RequireCover(HBITMAP bitmap, int size, COLORREF colour)
{
    BITMAP info{};
    Require(bitmap && GetObjectW(bitmap, sizeof info, &info) == sizeof info, "no bitmap");
    Require(info.bmWidth == info.bmHeight && info.bmWidth > 0 && info.bmWidth <= size,
            "bitmap of " + std::to_string(info.bmWidth) + "x" + std::to_string(info.bmHeight) +
                ", expected a square of at most " + std::to_string(size));
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = info.bmWidth;
    request.bmiHeader.biHeight = -info.bmHeight; // top-down
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
    HDC screen = GetDC(nullptr);
    const int lines = GetDIBits(screen, bitmap, 0, info.bmHeight, pixels.data(), &request, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    Require(lines == info.bmHeight, "GetDIBits failed");
    const std::uint32_t centre = pixels[static_cast<std::size_t>(info.bmHeight / 2) * info.bmWidth + info.bmWidth / 2];
    const int red = (centre >> 16) & 0xFF, green = (centre >> 8) & 0xFF, blue = centre & 0xFF;
    Require(std::abs(red - GetRValue(colour)) <= 8 && std::abs(green - GetGValue(colour)) <= 8 &&
                std::abs(blue - GetBValue(colour)) <= 8,
            "centre pixel is RGB(" + std::to_string(red) + "," + std::to_string(green) + "," + std::to_string(blue) +
                "), expected RGB(" + std::to_string(GetRValue(colour)) + "," + std::to_string(GetGValue(colour)) + "," +
                std::to_string(GetBValue(colour)) + ")");
}
