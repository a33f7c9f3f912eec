// Loads the built quillbrook.dll the way the shell does and reads files made
// by the reference encoder, compared with what metaflac reports.
#include "tests/support/built_module.h"

namespace {

using DllAudio = BuiltModuleTest;

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
