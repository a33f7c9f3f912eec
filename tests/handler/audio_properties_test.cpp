#include "tests/support/handler_helpers.h"

#include <gtest/gtest.h>

namespace {

ULONG UInt32Value(IPropertyStore* store, const PROPERTYKEY& key)
{
    PropVariant value;
    EXPECT_EQ(store->GetValue(key, &value), S_OK);
    EXPECT_EQ(value->vt, VT_UI4);
    return value->ulVal;
}

ULONGLONG Duration(IPropertyStore* store)
{
    PropVariant value;
    EXPECT_EQ(store->GetValue(PKEY_Media_Duration, &value), S_OK);
    EXPECT_EQ(value->vt, VT_UI8);
    return value->uhVal.QuadPart;
}

TEST(AudioProperties, StreamInfoFieldsAreHandedOut)
{
    LoadedHandler h(FlacBuilder().StreamInfo({96000, 6, 24, 960000}).Build());
    ASSERT_EQ(h.result, S_OK);
    EXPECT_EQ(UInt32Value(h.store.Get(), PKEY_Audio_SampleRate), 96000u);
    EXPECT_EQ(UInt32Value(h.store.Get(), PKEY_Audio_ChannelCount), 6u);
    EXPECT_EQ(UInt32Value(h.store.Get(), PKEY_Audio_SampleSize), 24u);
    EXPECT_EQ(Duration(h.store.Get()), 100000000u);
}

TEST(AudioProperties, DurationIsTruncatedNotRounded)
{
    LoadedHandler h(FlacBuilder().StreamInfo({3, 1, 16, 1}).Build());
    ASSERT_EQ(h.result, S_OK);
    EXPECT_EQ(Duration(h.store.Get()), 3333333u);
}

TEST(AudioProperties, LargestSampleCountDoesNotOverflowTheDuration)
{
    const std::uint64_t samples = 0xFFFFFFFFFULL;
    LoadedHandler h(FlacBuilder().StreamInfo({1, 1, 16, samples}).Build());
    ASSERT_EQ(h.result, S_OK);
    EXPECT_EQ(Duration(h.store.Get()), samples * 10000000ULL);
}

TEST(AudioProperties, BitRateCountsEverythingButMetadataBlocksAsAudio)
{
    // 44100 samples at 44100 Hz: one second. Audio bytes = 5000 + the 4-byte
    // marker + the ID3v2 tag (10 + 300 bytes) that libFLAC skips.
    const Bytes bytes =
        FlacBuilder().Id3v2Prefix(300).StreamInfo({44100, 2, 16, 44100}).Padding(64).Audio(5000).Build();
    LoadedHandler h(bytes);
    ASSERT_EQ(h.result, S_OK);
    EXPECT_EQ(UInt32Value(h.store.Get(), PKEY_Audio_EncodingBitrate), (5000u + 4u + 310u) * 8u);
}

TEST(AudioProperties, ZeroTotalSamplesGivesZeroButListedDurationAndBitRate)
{
    LoadedHandler h(FlacBuilder().StreamInfo({44100, 2, 16, 0}).Audio(100).Build());
    ASSERT_EQ(h.result, S_OK);
    EXPECT_EQ(h.Keys().size(), 8u);
    EXPECT_EQ(Duration(h.store.Get()), 0u);
    EXPECT_EQ(UInt32Value(h.store.Get(), PKEY_Audio_EncodingBitrate), 0u);
}

TEST(AudioProperties, ConstantsAnswerForEveryFileEvenUninitialised)
{
    auto store = NewPropertyHandler();
    EXPECT_EQ(UInt32Value(store.Get(), PKEY_Audio_SampleRate), 0u);

    PropVariant vbr;
    EXPECT_EQ(store->GetValue(PKEY_Audio_IsVariableBitRate, &vbr), S_OK);
    EXPECT_EQ(vbr->vt, VT_BOOL);
    EXPECT_EQ(vbr->boolVal, VARIANT_TRUE);
    PropVariant drm;
    EXPECT_EQ(store->GetValue(PKEY_DRM_IsProtected, &drm), S_OK);
    EXPECT_EQ(drm->vt, VT_BOOL);
    EXPECT_EQ(drm->boolVal, VARIANT_FALSE);

    PropVariant first;
    PropVariant second;
    EXPECT_EQ(store->GetValue(PKEY_Audio_Format, &first), S_OK);
    EXPECT_EQ(store->GetValue(PKEY_Audio_Format, &second), S_OK);
    ASSERT_EQ(first->vt, VT_LPWSTR);
    EXPECT_STREQ(first->pwszVal, L"FLAC");
    EXPECT_NE(first->pwszVal, second->pwszVal) << "each call hands out its own copy";
}

} // namespace
