// The registry scripts, type library and version information held in the
// built DLL's resources.
#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::string ResourceText(const wchar_t* type, UINT id)
{
    const HMODULE module = LoadLibraryExW(BuiltModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(module, nullptr);
    std::string text;
    if (HRSRC resource =
            FindResourceExW(module, type, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))) {
        const auto data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
        text.assign(data, SizeofResource(module, resource));
    }
    FreeLibrary(module);
    return text;
}

std::string Ascii(REFGUID guid)
{
    return Narrow(GuidText(guid));
}

TEST(ModuleResources, RegistryScriptsHaveTheirExactText)
{
    EXPECT_EQ(ResourceText(L"REGISTRY", 101), "HKCR\r\n"
                                              "{\r\n"
                                              "\tNoRemove AppID\r\n"
                                              "\t{\r\n"
                                              "\t\t'%APPID%' = s 'Quillbrook'\r\n"
                                              "\t}\r\n"
                                              "}\r\n");
    EXPECT_EQ(ResourceText(L"REGISTRY", 102), "HKCR\r\n"
                                              "{\r\n"
                                              "\tNoRemove CLSID\r\n"
                                              "\t{\r\n"
                                              "\t\tForceRemove " +
                                                  Ascii(CLSID_PropertyHandler) +
                                                  " = s 'PropertyHandler Class'\r\n"
                                                  "\t\t{\r\n"
                                                  "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
                                                  "\t\t\t{\r\n"
                                                  "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"
                                                  "\t\t\t}\r\n"
                                                  "\t\t\t'TypeLib' = s '" +
                                                  Ascii(LIBID_QuillbrookLib) +
                                                  "'\r\n"
                                                  "\t\t\tval ManualSafeSave = d 1\r\n"
                                                  "\t\t}\r\n"
                                                  "\t}\r\n"
                                                  "}\r\n");
    EXPECT_EQ(ResourceText(L"REGISTRY", 103), "HKCR\r\n"
                                              "{\r\n"
                                              "\tNoRemove CLSID\r\n"
                                              "\t{\r\n"
                                              "\t\tForceRemove " +
                                                  Ascii(CLSID_ThumbnailProvider) +
                                                  " = s 'ThumbnailProvider Class'\r\n"
                                                  "\t\t{\r\n"
                                                  "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
                                                  "\t\t\t{\r\n"
                                                  "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"
                                                  "\t\t\t}\r\n"
                                                  "\t\t\tTypeLib = s '" +
                                                  Ascii(LIBID_QuillbrookLib) +
                                                  "'\r\n"
                                                  "\t\t}\r\n"
                                                  "\t}\r\n"
                                                  "}\r\n");
}

struct TypeInfoSummary {
    std::wstring name;
    TYPEKIND kind;
    GUID guid;
    std::vector<std::pair<std::wstring, int>> implemented; // name, flags
    WORD functionCount;
};

TypeInfoSummary Summarise(ITypeInfo* info)
{
    TypeInfoSummary summary{};
    BSTR name = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    summary.name = name;
    SysFreeString(name);
    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
    summary.kind = attributes->typekind;
    summary.guid = attributes->guid;
    summary.functionCount = attributes->cFuncs;
    for (UINT i = 0; i < attributes->cImplTypes; ++i) {
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> implemented;
        int flags = 0;
        info->GetRefTypeOfImplType(i, &reference);
        info->GetRefTypeInfo(reference, &implemented);
        info->GetImplTypeFlags(i, &flags);
        BSTR implementedName = nullptr;
        implemented->GetDocumentation(MEMBERID_NIL, &implementedName, nullptr, nullptr, nullptr);
        summary.implemented.emplace_back(implementedName, flags);
        SysFreeString(implementedName);
    }
    info->ReleaseTypeAttr(attributes);
    return summary;
}

TEST(ModuleResources, TypeLibraryDescribesBothClassesAndTheirInterfaces)
{
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(BuiltModulePath().c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_QuillbrookLib));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0x0409u);
    EXPECT_EQ(attributes->syskind, SYS_WIN64);
    library->ReleaseTLibAttr(attributes);

    BSTR name = nullptr;
    BSTR help = nullptr;
    BSTR helpFile = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &help, nullptr, &helpFile), S_OK);
    EXPECT_STREQ(name, L"QuillbrookLib");
    EXPECT_STREQ(help, L"Quillbrook Type Library");
    EXPECT_EQ(helpFile, nullptr);
    SysFreeString(name);
    SysFreeString(help);
    SysFreeString(helpFile);

    std::vector<TypeInfoSummary> coclasses;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(i, &info), S_OK);
        auto summary = Summarise(info.Get());
        if (summary.kind == TKIND_COCLASS) {
            coclasses.push_back(summary);
        }
        EXPECT_NE(summary.name, L"IPropertyStoreCapabilities");
    }
    ASSERT_EQ(coclasses.size(), 2u);
    EXPECT_EQ(coclasses[0].name, L"PropertyHandler");
    EXPECT_TRUE(IsEqualGUID(coclasses[0].guid, CLSID_PropertyHandler));
    using Implemented = std::vector<std::pair<std::wstring, int>>;
    EXPECT_EQ(coclasses[0].implemented,
              (Implemented{{L"IInitializeWithStream", IMPLTYPEFLAG_FDEFAULT}, {L"IPropertyStore", 0}}));
    EXPECT_EQ(coclasses[1].name, L"ThumbnailProvider");
    EXPECT_TRUE(IsEqualGUID(coclasses[1].guid, CLSID_ThumbnailProvider));
    EXPECT_EQ(coclasses[1].implemented,
              (Implemented{{L"IInitializeWithStream", IMPLTYPEFLAG_FDEFAULT}, {L"IThumbnailProvider", 0}}));

    struct Expected {
        const IID* iid;
        WORD functions;
    };
    for (const Expected& expected : {Expected{&IID_IInitializeWithStream, 1}, Expected{&IID_IPropertyStore, 5},
                                     Expected{&__uuidof(IThumbnailProvider), 1}}) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*expected.iid, &info), S_OK) << Narrow(GuidText(*expected.iid));
        const auto summary = Summarise(info.Get());
        EXPECT_EQ(summary.kind, TKIND_INTERFACE);
        EXPECT_EQ(summary.functionCount, expected.functions) << Narrow(summary.name);
    }

    // PROPVARIANT as it lies in memory: 24 bytes on 64-bit Windows.
    ComPtr<ITypeInfo> store;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IPropertyStore, &store), S_OK);
    FUNCDESC* getValue = nullptr;
    ASSERT_EQ(store->GetFuncDesc(2, &getValue), S_OK);
    ASSERT_EQ(getValue->cParams, 2);
    const TYPEDESC& pointer = getValue->lprgelemdescParam[1].tdesc;
    ASSERT_EQ(pointer.vt, VT_PTR);
    ASSERT_EQ(pointer.lptdesc->vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> propVariant;
    ASSERT_EQ(store->GetRefTypeInfo(pointer.lptdesc->hreftype, &propVariant), S_OK);
    TYPEATTR* layout = nullptr;
    ASSERT_EQ(propVariant->GetTypeAttr(&layout), S_OK);
    EXPECT_EQ(layout->cbSizeInstance, sizeof(PROPVARIANT));
    propVariant->ReleaseTypeAttr(layout);
    store->ReleaseFuncDesc(getValue);
}

TEST(ModuleResources, VersionInformationNamesTheProduct)
{
    const std::wstring path = BuiltModulePath();
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, L"quillbrook.dll");
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

} // namespace
