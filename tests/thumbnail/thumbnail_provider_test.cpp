// The thumbnail provider against a recording photo provider: what it hands
// over, which codes it passes back, and that it releases what it takes.
#include "tests/thumbnail/recording_photo_provider.h"
#include "tests/thumbnail/thumbnail_helpers.h"

#include <gtest/gtest.h>

namespace {

const Bytes backCover = {'B', 'A', 'C', 'K', 0, 1, 2, 3, 0xFF};
const Bytes frontCover = {'F', 'R', 'O', 'N', 'T'};

TEST(ThumbnailRecording, InProcessRegistrationIsWhatTheProviderCreates)
{
    RecordingPhotoProvider recorder;
    ASSERT_EQ(recorder.RegistrationResult(), S_OK);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(CLSID_PhotoThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              S_OK);
    EXPECT_EQ(recorder.Calls().created, 1);
    EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 1);
    object.Reset();
    EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 0);
}

TEST(ThumbnailProvider, HandsOverTheFirstPictureReadOnlyWhateverItsType)
{
    RecordingPhotoProvider recorder;
    ASSERT_EQ(recorder.RegistrationResult(), S_OK);
    auto file = StreamOver(FlacWithPictures({{4, backCover}, {3, frontCover}}));
    {
        auto provider = NewThumbnailProvider();
        // Write access asked for: still only read, and read-only inward.
        ASSERT_EQ(InitializeWith(provider.Get(), file.Get(), STGM_READWRITE), S_OK);
        EXPECT_EQ(recorder.Calls().created, 1);
        EXPECT_EQ(recorder.Calls().initializeCalls, 1);
        EXPECT_EQ(recorder.Calls().bytes, backCover);
        EXPECT_EQ(recorder.Calls().mode, static_cast<DWORD>(STGM_READ));
        EXPECT_EQ(file->Calls(StreamCall::Write), 0);
        EXPECT_EQ(file->RefCount(), 2) << "the provider keeps the file's stream";
        EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 1);
    }
    EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 0);
    EXPECT_EQ(file->RefCount(), 1);
}

TEST(ThumbnailProvider, ForwardsGetThumbnailAndItsResultUnchanged)
{
    RecordingBehaviour behaviour;
    behaviour.thumbnailBitmap = reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(0x5A5A));
    behaviour.thumbnailAlpha = WTSAT_RGB;
    behaviour.thumbnailResult = S_FALSE;
    RecordingPhotoProvider recorder(behaviour);
    auto file = StreamOver(FlacWithPictures({{3, frontCover}}));
    auto provider = NewThumbnailProvider();
    ASSERT_EQ(InitializeWith(provider.Get(), file.Get()), S_OK);

    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    EXPECT_EQ(provider->GetThumbnail(96, &bitmap, &alpha), S_FALSE);
    EXPECT_EQ(recorder.Calls().cx, 96u);
    EXPECT_EQ(bitmap, behaviour.thumbnailBitmap);
    EXPECT_EQ(alpha, WTSAT_RGB);

    recorder.Behaviour().thumbnailResult = static_cast<HRESULT>(0x8004DEAD);
    EXPECT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), static_cast<HRESULT>(0x8004DEAD));
    EXPECT_EQ(recorder.Calls().cx, 256u);
    EXPECT_EQ(recorder.Calls().thumbnailCalls, 2);
}

TEST(ThumbnailProvider, InnerFailuresComeBackUnchangedAndReleaseEverything)
{
    struct Case {
        const char* name;
        void (*script)(RecordingBehaviour&);
        HRESULT expected;
        int expectedInitializeCalls;
    };
    const Case cases[] = {
        {"creation fails", [](RecordingBehaviour& b) { b.createResult = static_cast<HRESULT>(0x80040154); },
         static_cast<HRESULT>(0x80040154), 0},
        {"no IInitializeWithStream", [](RecordingBehaviour& b) { b.offersInitializeWithStream = false; }, E_NOINTERFACE,
         0},
        {"inner Initialize fails", [](RecordingBehaviour& b) { b.initializeResult = static_cast<HRESULT>(0x88982F50); },
         static_cast<HRESULT>(0x88982F50), 1},
        {"no IThumbnailProvider", [](RecordingBehaviour& b) { b.offersThumbnailProvider = false; }, E_NOINTERFACE, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingBehaviour behaviour;
        c.script(behaviour);
        RecordingPhotoProvider recorder(behaviour);
        auto file = StreamOver(FlacWithPictures({{3, frontCover}}));
        auto provider = NewThumbnailProvider();

        EXPECT_EQ(InitializeWith(provider.Get(), file.Get()), c.expected);
        EXPECT_EQ(recorder.Calls().initializeCalls, c.expectedInitializeCalls);
        EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 0) << "an interface pointer was kept";
        EXPECT_EQ(file->RefCount(), 1) << "a failed Initialize keeps no stream";
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        EXPECT_EQ(provider->GetThumbnail(32, &bitmap, &alpha), E_FAIL);

        // The same object, initialised again once the inner provider works,
        // runs in full over the new stream.
        recorder.Behaviour() = RecordingBehaviour{};
        auto second = StreamOver(FlacWithPictures({{0, backCover}}));
        EXPECT_EQ(InitializeWith(provider.Get(), second.Get()), S_OK);
        EXPECT_EQ(recorder.Calls().bytes, backCover);
        EXPECT_EQ(provider->GetThumbnail(32, &bitmap, &alpha), S_OK);
        EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 1);
        provider.Reset();
        EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 0);
        EXPECT_EQ(second->RefCount(), 1);
    }
}

TEST(ThumbnailProvider, WithoutPictureInitializeSucceedsAndThereIsNoThumbnail)
{
    RecordingPhotoProvider recorder;
    auto file = StreamOver(FlacBuilder().StreamInfo().Padding(10).Audio(100).Build());
    auto provider = NewThumbnailProvider();
    EXPECT_EQ(InitializeWith(provider.Get(), file.Get()), S_OK);
    EXPECT_EQ(recorder.Calls().created, 0);
    EXPECT_EQ(file->RefCount(), 2);
    // The out-parameters are set even on failure; null ones are refused.
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    WTS_ALPHATYPE alpha = WTSAT_ARGB;
    EXPECT_EQ(provider->GetThumbnail(64, &bitmap, &alpha), E_FAIL);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(alpha, WTSAT_UNKNOWN);
    EXPECT_EQ(provider->GetThumbnail(64, nullptr, &alpha), E_POINTER);
    EXPECT_EQ(provider->GetThumbnail(64, &bitmap, nullptr), E_POINTER);
    // Already initialised, even without a picture.
    auto other = StreamOver(FlacWithPictures({{3, frontCover}}));
    EXPECT_EQ(InitializeWith(provider.Get(), other.Get()), E_FAIL);
    EXPECT_EQ(other->TotalCalls(), 0);
}

TEST(ThumbnailProvider, SecondInitializeFailsAndTheFirstPictureStays)
{
    RecordingPhotoProvider recorder;
    auto first = StreamOver(FlacWithPictures({{3, frontCover}}));
    auto provider = NewThumbnailProvider();
    ASSERT_EQ(InitializeWith(provider.Get(), first.Get()), S_OK);

    auto second = StreamOver(FlacWithPictures({{3, backCover}}));
    EXPECT_EQ(InitializeWith(provider.Get(), second.Get()), E_FAIL);
    EXPECT_EQ(second->TotalCalls(), 0);
    EXPECT_EQ(second->RefCount(), 1);
    EXPECT_EQ(recorder.Calls().created, 1);
    EXPECT_EQ(recorder.Calls().bytes, frontCover);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    EXPECT_EQ(provider->GetThumbnail(16, &bitmap, &alpha), S_OK);
    EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 1);
}

TEST(ThumbnailProvider, EmptyPictureIsHandedOverAndTheInnerResultReturned)
{
    RecordingBehaviour behaviour;
    behaviour.initializeResult = static_cast<HRESULT>(0x88982F61);
    RecordingPhotoProvider recorder(behaviour);
    auto file = StreamOver(FlacWithPictures({{3, Bytes{}}}));
    auto provider = NewThumbnailProvider();
    EXPECT_EQ(InitializeWith(provider.Get(), file.Get()), static_cast<HRESULT>(0x88982F61));
    EXPECT_EQ(recorder.Calls().initializeCalls, 1);
    EXPECT_TRUE(recorder.Calls().bytes.empty());
    EXPECT_EQ(RecordingPhotoProvider::LiveObjects(), 0);
}

TEST(ThumbnailProvider, RefusesMissingStreamsAndNonFlacWithoutCreatingAnything)
{
    RecordingPhotoProvider recorder;
    auto provider = NewThumbnailProvider();
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    EXPECT_EQ(provider->GetThumbnail(32, &bitmap, &alpha), E_FAIL);
    EXPECT_EQ(InitializeWith(provider.Get(), nullptr), E_INVALIDARG);

    auto notFlac = StreamOver(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});
    EXPECT_EQ(InitializeWith(provider.Get(), notFlac.Get()), E_FAIL);
    EXPECT_EQ(notFlac->RefCount(), 1);
    auto broken = StreamOver(FlacWithPictures({{3, frontCover}}));
    broken->FailCall(StreamCall::Read, 1);
    EXPECT_EQ(InitializeWith(provider.Get(), broken.Get()), E_FAIL);
    EXPECT_EQ(recorder.Calls().created, 0);
    EXPECT_EQ(provider->GetThumbnail(32, &bitmap, &alpha), E_FAIL);
}

TEST(ThumbnailProvider, AnswersItsTwoInterfacesWithInitializeWithStreamAsIdentity)
{
    auto provider = NewThumbnailProvider();
    ASSERT_TRUE(provider);
    auto init = As<IInitializeWithStream>(provider);
    auto unknown = As<IUnknown>(provider);
    ASSERT_TRUE(init);
    EXPECT_EQ(static_cast<IUnknown*>(init.Get()), unknown.Get());
    EXPECT_FALSE(As<IPropertyStore>(provider));
}

} // namespace
