// A test fixture over the built quillbrook.dll, loaded the way the shell
// loads it, with property handlers opened on files through its class object.
#pragma once

#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tests/support/module_exports.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

struct BuiltModuleTest : testing::Test {
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

    void SetUp() override
    {
        module = LoadLibraryW(BuiltModulePath().c_str());
        ASSERT_NE(module, nullptr);
        getClassObject = GetExport<GetClassObjectFn>(module, "DllGetClassObject");
        ASSERT_NE(getClassObject, nullptr);
    }

    // A property handler of the module, initialised over the file at `path`.
    ComPtr<IPropertyStore> OpenFile(const std::wstring& path)
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject(CLSID_PropertyHandler, IID_IClassFactory, &factory), S_OK);
        ComPtr<IInitializeWithStream> init;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, &init), S_OK);
        ComPtr<IStream> stream;
        EXPECT_EQ(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                         nullptr, &stream),
                  S_OK);
        EXPECT_EQ(init->Initialize(stream.Get(), STGM_READ), S_OK);
        return As<IPropertyStore>(init);
    }

    // The number after "field: " in a metaflac listing.
    static unsigned long long MetaflacNumber(const std::string& listing, const std::string& field)
    {
        std::smatch match;
        const std::regex pattern(field + ": ([0-9]+)");
        if (!std::regex_search(listing, match, pattern)) {
            ADD_FAILURE() << field << " not in metaflac's listing";
            return 0;
        }
        return std::stoull(match[1]);
    }

    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
};
