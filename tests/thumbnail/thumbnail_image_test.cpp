// Thumbnails made by the stand-in photo thumbnail provider registered in the
// run's prefix: pictures encoded at test time, and covers that metaflac
// attached to files of the reference encoder, read through the built module.
#include "resources/identifiers.h"
#include "tests/support/module_exports.h"
#include "tests/support/test_files.h"
#include "tests/thumbnail/image_helpers.h"
#include "tests/thumbnail/thumbnail_helpers.h"

#include <gtest/gtest.h>

#include <array>

namespace {

constexpr Pixel red = 0xFFFF0000;
constexpr Pixel green = 0xFF00FF00;
constexpr Pixel blue = 0xFF0000FF;
constexpr Pixel white = 0xFFFFFFFF;

struct Thumbnail {
    HRESULT result = E_FAIL;
    Image image;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;

    static Thumbnail Failed(HRESULT hr)
    {
        Thumbnail thumbnail;
        thumbnail.result = hr;
        return thumbnail;
    }
};

Thumbnail TakeThumbnail(IThumbnailProvider* provider, UINT cx)
{
    Thumbnail thumbnail;
    HBITMAP bitmap = nullptr;
    thumbnail.result = provider->GetThumbnail(cx, &bitmap, &thumbnail.alpha);
    if (SUCCEEDED(thumbnail.result)) {
        thumbnail.image = ReadDib(bitmap);
        DeleteObject(bitmap);
    }
    return thumbnail;
}

// The thumbnail of a FLAC stream whose only picture holds `picture`.
Thumbnail ThumbnailOfPicture(const Bytes& picture, UINT cx)
{
    auto provider = NewThumbnailProvider();
    auto file = StreamOver(FlacWithPictures({{3, picture}}));
    const HRESULT hr = InitializeWith(provider.Get(), file.Get());
    if (FAILED(hr)) {
        return Thumbnail::Failed(hr);
    }
    return TakeThumbnail(provider.Get(), cx);
}

// Expects a thumbnail of `width` x `height` whose four quadrants have the
// given colours (top left, top right, bottom left, bottom right) at their
// centres.
void ExpectQuadrantThumbnail(const Thumbnail& thumbnail, UINT width, UINT height, const std::array<Pixel, 4>& colours,
                             int tolerance)
{
    ASSERT_EQ(thumbnail.result, S_OK);
    const Image& image = thumbnail.image;
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    const UINT xs[] = {width / 4, width * 3 / 4};
    const UINT ys[] = {height / 4, height * 3 / 4};
    for (std::size_t i = 0; i < colours.size(); ++i) {
        EXPECT_PRED3(ColourNear, image.At(xs[i % 2], ys[i / 2]), colours[i], tolerance) << "quadrant " << i;
    }
}

TEST(ThumbnailImage, PngWithAlphaComesBackPixelForPixelAtItsOwnSize)
{
    Image source{24, 16, {}};
    for (UINT y = 0; y < source.height; ++y) {
        for (UINT x = 0; x < source.width; ++x) {
            const Pixel alpha = x < 12 ? 0xFF : 0x40 + y * 8;
            source.pixels.push_back(alpha << 24 | (x * 10) << 16 | (y * 15) << 8 | (x + y) * 5);
        }
    }
    const Thumbnail thumbnail =
        ThumbnailOfPicture(EncodeImage(source, GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA), 24);
    ASSERT_EQ(thumbnail.result, S_OK);
    EXPECT_EQ(thumbnail.alpha, WTSAT_ARGB);
    ASSERT_EQ(thumbnail.image.width, 24u);
    ASSERT_EQ(thumbnail.image.height, 16u);
    EXPECT_EQ(thumbnail.image.pixels, source.pixels) << "pixels, or their rows in top-down order";
}

TEST(ThumbnailImage, OpaquePngIsScaledToFitKeepingItsAspectRatio)
{
    const Bytes landscape =
        EncodeImage(Quadrants(64, 32, red, green, blue, white), GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR);
    const Thumbnail small = ThumbnailOfPicture(landscape, 16);
    ExpectQuadrantThumbnail(small, 16, 8, {red, green, blue, white}, 2);
    EXPECT_EQ(small.alpha, WTSAT_RGB);

    const Bytes portrait =
        EncodeImage(Quadrants(20, 40, green, red, white, blue), GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR);
    ExpectQuadrantThumbnail(ThumbnailOfPicture(portrait, 10), 5, 10, {green, red, white, blue}, 2);
}

TEST(ThumbnailImage, JpegPictureGivesAnOpaqueThumbnail)
{
    const Bytes jpeg =
        EncodeImage(Quadrants(32, 32, red, green, blue, white), GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR);
    ASSERT_GE(jpeg.size(), 2u);
    ASSERT_EQ(jpeg[0], 0xFF);
    ASSERT_EQ(jpeg[1], 0xD8);
    const Thumbnail thumbnail = ThumbnailOfPicture(jpeg, 32);
    ExpectQuadrantThumbnail(thumbnail, 32, 32, {red, green, blue, white}, 24);
    EXPECT_EQ(thumbnail.alpha, WTSAT_RGB);
}

TEST(ThumbnailImage, LinkInsteadOfImageFailsWithThePhotoProvidersCode)
{
    const std::string url = "http://example.com/cover.jpg";
    const Bytes link(url.begin(), url.end());

    ComPtr<IInitializeWithStream> photoProvider;
    ASSERT_EQ(CoCreateInstance(CLSID_PhotoThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IInitializeWithStream,
                               &photoProvider),
              S_OK);
    auto linkStream = StreamOver(link);
    const HRESULT photoResult = photoProvider->Initialize(linkStream.Get(), STGM_READ);
    ASSERT_TRUE(FAILED(photoResult));

    auto provider = NewThumbnailProvider();
    FlacBuilder builder;
    auto file = StreamOver(builder.StreamInfo().Picture(3, "-->", link).Audio(100).Build());
    EXPECT_EQ(InitializeWith(provider.Get(), file.Get()), photoResult);
    EXPECT_EQ(TakeThumbnail(provider.Get(), 32).result, E_FAIL);
}

// Through the built module, as the shell does it.
struct ThumbnailOfFile : testing::Test {
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

    void SetUp() override
    {
        module = LoadLibraryW(BuiltModulePath().c_str());
        ASSERT_NE(module, nullptr);
        auto getClassObject = GetExport<GetClassObjectFn>(module, "DllGetClassObject");
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_EQ(getClassObject(CLSID_ThumbnailProvider, IID_IClassFactory, &factory), S_OK);
    }
    void TearDown() override
    {
        factory.Reset();
        FreeLibrary(module);
    }

    Thumbnail Of(const std::wstring& fixture, UINT cx)
    {
        ComPtr<IInitializeWithStream> init;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, &init), S_OK);
        ComPtr<IStream> stream;
        EXPECT_EQ(SHCreateStreamOnFileEx(FixturePath(fixture).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                         FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream),
                  S_OK);
        if (!init || !stream) {
            return {};
        }
        const HRESULT hr = init->Initialize(stream.Get(), STGM_READ);
        if (FAILED(hr)) {
            return Thumbnail::Failed(hr);
        }
        return TakeThumbnail(As<IThumbnailProvider>(init).Get(), cx);
    }

    HMODULE module = nullptr;
    ComPtr<IClassFactory> factory;
};

TEST_F(ThumbnailOfFile, CoverAttachedByMetaflacIsScaledToTheRequestedSize)
{
    ExpectQuadrantThumbnail(Of(L"cover.flac", 32), 32, 24, {red, green, blue, white}, 2);
}

TEST_F(ThumbnailOfFile, BackCoverBeforeFrontCoverIsTheOneShown)
{
    ExpectQuadrantThumbnail(Of(L"two-covers.flac", 20), 20, 20, {blue, blue, blue, blue}, 2);
}

TEST_F(ThumbnailOfFile, FileWithoutCoverHasNoThumbnail)
{
    EXPECT_EQ(Of(L"plain.flac", 32).result, E_FAIL);
}

} // namespace
