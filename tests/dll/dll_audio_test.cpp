// Loads the built quillbrook.dll the way the shell does and reads files made
// by the reference encoder, compared with what metaflac reports.
#include "server/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tests/support/module_exports.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

struct DllAudio : testing::Test {
    void SetUp() override
    {
        module = LoadLibraryW(BuiltModulePath().c_str());
        ASSERT_NE(module, nullptr);
        getClassObject = GetExport<GetClassObjectFn>(module, "DllGetClassObject");
        ASSERT_NE(getClassObject, nullptr);
    }

    ComPtr<IPropertyStore> OpenFile(const std::wstring& path)
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject(CLSID_PropertyHandler, IID_IClassFactory, factory.PutVoid()), S_OK);
        ComPtr<IInitializeWithStream> init;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, init.PutVoid()), S_OK);
        ComPtr<IStream> stream;
        EXPECT_EQ(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                         nullptr, stream.Put()),
                  S_OK);
        EXPECT_EQ(init->Initialize(stream.Get(), STGM_READ), S_OK);
        return init.As<IPropertyStore>();
    }

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

TEST_F(DllAudio, ReadsWhatMetaflacReportsThroughTheExportedClassObject)
{
    for (const wchar_t* name : {L"plain.flac", L"mono.flac"}) {
        const std::wstring path = FixturePath(name);
        const ToolResult listing =
            RunUnixTool("/usr/bin/metaflac --list --block-type=STREAMINFO " + ShellQuote(ToUnixPath(path)));
        ASSERT_EQ(listing.exitCode, 0) << listing.output;
        const auto rate = MetaflacNumber(listing.output, "sample_rate");
        const auto channels = MetaflacNumber(listing.output, "channels");
        const auto bits = MetaflacNumber(listing.output, "bits-per-sample");
        const auto samples = MetaflacNumber(listing.output, "total samples");

        auto store = OpenFile(path);
        ASSERT_TRUE(store);
        PropVariant value;
        store->GetValue(PKEY_Audio_SampleRate, value.Reset());
        EXPECT_EQ(value->ulVal, rate);
        store->GetValue(PKEY_Audio_ChannelCount, value.Reset());
        EXPECT_EQ(value->ulVal, channels);
        store->GetValue(PKEY_Audio_SampleSize, value.Reset());
        EXPECT_EQ(value->ulVal, bits);
        store->GetValue(PKEY_Media_Duration, value.Reset());
        EXPECT_EQ(value->uhVal.QuadPart, samples * 10000000ULL / rate);
        store->GetValue(PKEY_Audio_Format, value.Reset());
        EXPECT_STREQ(value->pwszVal, L"FLAC");
    }
}

TEST_F(DllAudio, ModuleStaysLoadedWhileObjectsLive)
{
    using CanUnloadFn = HRESULT(WINAPI*)();
    auto canUnload = GetExport<CanUnloadFn>(module, "DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    {
        auto store = OpenFile(FixturePath(L"plain.flac"));
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), S_OK);
}

} // namespace
