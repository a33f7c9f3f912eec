// The one header through which the project reaches Windows: the system,
// shell, property-system and thumbnail headers, plus what mingw-w64 lacks or
// gets wrong (property keys, the string-vector PROPVARIANT initialiser).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <propidl.h>
#include <propsys.h>
#include <propvarutil.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <thumbcache.h>
#include <comcat.h>
#include <wincodec.h>
#include <psapi.h>

#ifdef _INC_PROPKEY
#error "propkey.h has wrong identifiers for several audio keys; use the keys defined below"
#endif

static_assert(sizeof(PROPERTYKEY) == 20, "key order relies on the 20-byte key image");

// Property keys, with the identifiers Windows uses. Each translation unit has
// its own copy (internal linkage): mingw-w64's libuuid defines the same names,
// with propkey.h's wrong identifiers, in the member that every COM module
// links for its IIDs, and lld takes that definition over an inline one.
#define QUILLBROOK_KEY(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8, pid)                                           \
    constexpr PROPERTYKEY name = {{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}, pid}

// {56A3372E-CE9C-11D2-9F0E-006097C686F6}: music
QUILLBROOK_KEY(PKEY_Music_Artist, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 2);
QUILLBROOK_KEY(PKEY_Music_AlbumTitle, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 4);
QUILLBROOK_KEY(PKEY_Media_Year, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 5);
QUILLBROOK_KEY(PKEY_Music_TrackNumber, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 7);
QUILLBROOK_KEY(PKEY_Music_Genre, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 11);
QUILLBROOK_KEY(PKEY_Music_AlbumArtist, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 13);
QUILLBROOK_KEY(PKEY_Music_Conductor, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 36);
QUILLBROOK_KEY(PKEY_Music_PartOfSet, 0x56A3372E, 0xCE9C, 0x11D2, 0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6, 37);
// {64440490-4C8B-11D1-8B70-080036B11A03}: audio
QUILLBROOK_KEY(PKEY_Audio_Format, 0x64440490, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 2);
QUILLBROOK_KEY(PKEY_Media_Duration, 0x64440490, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 3);
QUILLBROOK_KEY(PKEY_Audio_EncodingBitrate, 0x64440490, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03,
               4);
QUILLBROOK_KEY(PKEY_Audio_SampleRate, 0x64440490, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 5);
QUILLBROOK_KEY(PKEY_Audio_SampleSize, 0x64440490, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 6);
QUILLBROOK_KEY(PKEY_Audio_ChannelCount, 0x64440490, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 7);
// {64440492-4C8B-11D1-8B70-080036B11A03}: media summary
QUILLBROOK_KEY(PKEY_Rating, 0x64440492, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 9);
QUILLBROOK_KEY(PKEY_Copyright, 0x64440492, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 11);
QUILLBROOK_KEY(PKEY_Music_Composer, 0x64440492, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 19);
QUILLBROOK_KEY(PKEY_Media_Publisher, 0x64440492, 0x4C8B, 0x11D1, 0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03, 30);
// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}: summary information
QUILLBROOK_KEY(PKEY_Title, 0xF29F85E0, 0x4FF9, 0x1068, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9, 2);
QUILLBROOK_KEY(PKEY_Comment, 0xF29F85E0, 0x4FF9, 0x1068, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9, 6);
// {AEAC19E4-89AE-4508-B9B7-BB867ABEE2ED}: DRM
QUILLBROOK_KEY(PKEY_DRM_IsProtected, 0xAEAC19E4, 0x89AE, 0x4508, 0xB9, 0xB7, 0xBB, 0x86, 0x7A, 0xBE, 0xE2, 0xED, 2);
// {E6822FEE-8C17-4D62-823C-8E9CFCBD1D5C}: variable bit rate
QUILLBROOK_KEY(PKEY_Audio_IsVariableBitRate, 0xE6822FEE, 0x8C17, 0x4D62, 0x82, 0x3C, 0x8E, 0x9C, 0xFC, 0xBD, 0x1D, 0x5C,
               100);

#undef QUILLBROOK_KEY

// Fills `value` with a VT_VECTOR | VT_LPWSTR holding CoTaskMem copies of the
// `count` strings. On failure `value` is VT_EMPTY and nothing stays allocated.
// (Declared here because mingw-w64 does not, and Wine's propsys export of the
// same name is a stub that aborts the process.)
HRESULT InitPropVariantFromStringVector(PCWSTR* strings, ULONG count, PROPVARIANT* value) noexcept;

// The registry-script interpreter of atl.dll (the platform's registrar);
// mingw-w64 has no atliface.h.
inline constexpr CLSID CLSID_Registrar = {0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

struct IRegistrarBase : IUnknown {
    STDMETHOD(AddReplacement)(LPCOLESTR key, LPCOLESTR item) = 0;
    STDMETHOD(ClearReplacements)() = 0;
};

struct IRegistrar : IRegistrarBase {
    STDMETHOD(ResourceRegisterSz)(LPCOLESTR resFileName, LPCOLESTR id, LPCOLESTR type) = 0;
    STDMETHOD(ResourceUnregisterSz)(LPCOLESTR resFileName, LPCOLESTR id, LPCOLESTR type) = 0;
    STDMETHOD(FileRegister)(LPCOLESTR fileName) = 0;
    STDMETHOD(FileUnregister)(LPCOLESTR fileName) = 0;
    STDMETHOD(StringRegister)(LPCOLESTR data) = 0;
    STDMETHOD(StringUnregister)(LPCOLESTR data) = 0;
    STDMETHOD(ResourceRegister)(LPCOLESTR resFileName, UINT id, LPCOLESTR type) = 0;
    STDMETHOD(ResourceUnregister)(LPCOLESTR resFileName, UINT id, LPCOLESTR type) = 0;
};
__CRT_UUID_DECL(IRegistrar, 0x44EC053B, 0x400F, 0x11D0, 0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3)
