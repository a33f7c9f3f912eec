#include "tests/support/handler_helpers.h"

#include <gtest/gtest.h>

namespace {

Bytes MinimalFlac(const StreamInfoFields& fields = {})
{
    return FlacBuilder().StreamInfo(fields).Padding(100).Audio(1000).Build();
}

TEST(PropertyHandlerInit, ListsTheAudioKeysInByteOrderNotGuidOrder)
{
    LoadedHandler h(MinimalFlac());
    ASSERT_EQ(h.result, S_OK);
    const std::vector<PROPERTYKEY> expected = {
        PKEY_Audio_Format,     PKEY_Media_Duration,     PKEY_Audio_EncodingBitrate, PKEY_Audio_SampleRate,
        PKEY_Audio_SampleSize, PKEY_Audio_ChannelCount, PKEY_DRM_IsProtected,       PKEY_Audio_IsVariableBitRate,
    };
    EXPECT_EQ(h.Keys(), expected);
}

TEST(PropertyHandlerInit, ZeroSampleRateLeavesOutDurationAndBitRate)
{
    LoadedHandler h(MinimalFlac({0, 2, 16, 1000}));
    ASSERT_EQ(h.result, S_OK);
    const std::vector<PROPERTYKEY> expected = {
        PKEY_Audio_Format,       PKEY_Audio_SampleRate, PKEY_Audio_SampleSize,
        PKEY_Audio_ChannelCount, PKEY_DRM_IsProtected,  PKEY_Audio_IsVariableBitRate,
    };
    EXPECT_EQ(h.Keys(), expected);
    PropVariant duration;
    EXPECT_EQ(h.store->GetValue(PKEY_Media_Duration, &duration), S_OK);
    EXPECT_EQ(duration->vt, VT_UI8);
    EXPECT_EQ(duration->uhVal.QuadPart, 0u);
}

TEST(PropertyHandlerInit, NullStreamIsRefusedWithoutReading)
{
    auto store = NewPropertyHandler();
    EXPECT_EQ(InitializeWith(store.Get(), nullptr), E_INVALIDARG);
}

TEST(PropertyHandlerInit, SecondInitializeFailsEvenWithAnotherStream)
{
    LoadedHandler h(MinimalFlac({44100, 2, 16, 44100}));
    ASSERT_EQ(h.result, S_OK);
    auto other = MemoryStream::Create(MinimalFlac({8000, 1, 8, 8000}));
    EXPECT_EQ(InitializeWith(h.store.Get(), other.Get()), E_FAIL);
    EXPECT_EQ(other->TotalCalls(), 0);
    PropVariant rate;
    h.store->GetValue(PKEY_Audio_SampleRate, &rate);
    EXPECT_EQ(rate->ulVal, 44100u);
}

TEST(PropertyHandlerInit, FailedInitializeCanBeRetriedAndKeepsNoStream)
{
    auto store = NewPropertyHandler();
    auto garbage = MemoryStream::Create(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0});
    EXPECT_EQ(InitializeWith(store.Get(), garbage.Get()), E_FAIL);
    EXPECT_EQ(garbage->RefCount(), 1) << "the handler must not keep a stream it failed on";

    auto noStreamInfo = MemoryStream::Create(FlacBuilder().VorbisComment({"TITLE=x"}).Padding(10).Build());
    EXPECT_EQ(InitializeWith(store.Get(), noStreamInfo.Get()), E_FAIL);
    DWORD count = 99;
    EXPECT_EQ(store->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0u);

    auto good = MemoryStream::Create(MinimalFlac());
    EXPECT_EQ(InitializeWith(store.Get(), good.Get()), S_OK);
    EXPECT_EQ(store->GetCount(&count), S_OK);
    EXPECT_EQ(count, 8u);
}

TEST(PropertyHandlerInit, StreamFailuresBecomeResultCodes)
{
    auto store = NewPropertyHandler();
    auto stream = MemoryStream::Create(MinimalFlac());
    stream->FailCall(StreamCall::Seek, 1, STG_E_INVALIDPOINTER);
    EXPECT_EQ(InitializeWith(store.Get(), stream.Get()), STG_E_INVALIDPOINTER) << "the size seek reports itself";
    stream->FailCall(StreamCall::Read, 1);
    EXPECT_EQ(InitializeWith(store.Get(), stream.Get()), E_FAIL) << "a read error is a chain status";
    EXPECT_EQ(InitializeWith(store.Get(), stream.Get()), S_OK);
}

// libFLAC seeks over PADDING instead of reading it, so a stream cut inside its
// final padding block reads as a whole chain. Such a stream has lost its
// audio; taking it would give an audio byte count wrapped around below zero.
TEST(PropertyHandlerInit, StreamCutInsideItsPaddingIsRefused)
{
    Bytes cut = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(500).Audio(1000).Build();
    cut.resize(cut.size() - 1000 - 200);
    LoadedHandler h(cut);
    EXPECT_EQ(h.result, E_FAIL);
    DWORD count = 99;
    EXPECT_EQ(h.store->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(h.stream->RefCount(), 1);

    Bytes whole = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(500).Build();
    LoadedHandler complete(whole);
    EXPECT_EQ(complete.result, S_OK) << "metadata that ends exactly at the end of the stream is whole";
}

TEST(PropertyHandlerKeys, GetAtPastTheEndZeroesTheKey)
{
    LoadedHandler h(MinimalFlac());
    PROPERTYKEY key = PKEY_Title;
    EXPECT_EQ(h.store->GetAt(8, &key), E_INVALIDARG);
    const PROPERTYKEY zero{};
    EXPECT_TRUE(key == zero);
    EXPECT_EQ(h.store->GetAt(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(h.store->GetCount(nullptr), E_INVALIDARG);
}

TEST(PropertyHandlerKeys, UnboundKeysAnswerEmptyAndAreReadOnly)
{
    LoadedHandler h(MinimalFlac());
    const PROPERTYKEY unknown = {{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}, 42};
    PropVariant value;
    EXPECT_EQ(h.store->GetValue(unknown, &value), S_OK);
    EXPECT_EQ(value->vt, VT_EMPTY);
    EXPECT_EQ(h.store->GetValue(unknown, nullptr), E_INVALIDARG);

    PROPVARIANT text;
    InitPropVariantFromString(L"x", &text);
    EXPECT_EQ(h.store->SetValue(unknown, text), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(h.store->SetValue(PKEY_Audio_SampleRate, text), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    PropVariantClear(&text);

    auto caps = As<IPropertyStoreCapabilities>(h.store);
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->IsPropertyWritable(unknown), S_FALSE);
    EXPECT_EQ(caps->IsPropertyWritable(PKEY_Audio_SampleRate), S_FALSE);
    EXPECT_EQ(caps->IsPropertyWritable(PKEY_Audio_Format), S_FALSE);
}

// What a C caller passes for a null REFPROPERTYKEY or REFPROPVARIANT.
template <class T> const T& NullReference()
{
    const T* address = nullptr;
    asm("" : "+r"(address));
    return *address;
}

TEST(PropertyHandlerKeys, NullKeyOrValuePointersAreRefusedWithoutChange)
{
    LoadedHandler h(MinimalFlac());
    PropVariant value;
    EXPECT_EQ(h.store->GetValue(NullReference<PROPERTYKEY>(), &value), E_POINTER);
    EXPECT_EQ(value->vt, VT_EMPTY);
    PROPVARIANT text;
    InitPropVariantFromString(L"x", &text);
    EXPECT_EQ(h.store->SetValue(NullReference<PROPERTYKEY>(), text), E_POINTER);
    PropVariantClear(&text);
    EXPECT_EQ(h.store->SetValue(PKEY_Title, NullReference<PROPVARIANT>()), E_POINTER);
    EXPECT_EQ(As<IPropertyStoreCapabilities>(h.store)->IsPropertyWritable(NullReference<PROPERTYKEY>()), E_POINTER);
    // Nothing was changed: there is nothing to write.
    const int calls = h.stream->TotalCalls();
    EXPECT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(h.stream->TotalCalls(), calls);
}

TEST(PropertyHandlerIdentity, EveryInterfaceLeadsToTheSameObject)
{
    auto store = NewPropertyHandler();
    ComPtr<IUnknown> fromStore;
    ASSERT_EQ(store->QueryInterface(IID_IUnknown, &fromStore), S_OK);
    auto init = As<IInitializeWithStream>(store);
    ASSERT_TRUE(init);
    EXPECT_EQ(fromStore.Get(), static_cast<IUnknown*>(init.Get()));
    auto caps = As<IPropertyStoreCapabilities>(init);
    EXPECT_TRUE(caps);
    ComPtr<IThumbnailProvider> thumbs;
    EXPECT_EQ(store->QueryInterface(__uuidof(IThumbnailProvider), &thumbs), E_NOINTERFACE);
    EXPECT_FALSE(thumbs);
    EXPECT_EQ(store->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

} // namespace
