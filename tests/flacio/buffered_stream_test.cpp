#include "flacio/buffered_stream.h"
#include "flacio/stream_range.h"

#include "tests/support/handler_helpers.h"
#include "tests/thumbnail/recording_photo_provider.h"
#include "tests/thumbnail/thumbnail_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace {

struct Buffered : testing::Test {
    Buffered()
    {
        Bytes bytes(100);
        std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
        stream = MemoryStream::Create(bytes);
    }
    ComPtr<MemoryStream> stream;
};

TEST_F(Buffered, ReadsAcrossTheBufferEndAndSeeksBackIntoItWithoutCalls)
{
    BufferedStream io(stream.Get(), 16);
    std::uint8_t bytes[20] = {};
    ASSERT_EQ(io.Read(bytes, 1, 10), 10u);
    ASSERT_EQ(io.Read(bytes, 2, 5), 5u) << "6 bytes buffered, 4 read ahead again";
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[9], 19);
    EXPECT_EQ(stream->Calls(StreamCall::Read), 2);
    const int calls = stream->TotalCalls();
    ASSERT_EQ(io.Seek(-4, SEEK_CUR), 0);
    ASSERT_EQ(io.Read(bytes, 1, 8), 8u);
    EXPECT_EQ(bytes[0], 16);
    EXPECT_EQ(io.Tell(), 24);
    EXPECT_EQ(stream->TotalCalls(), calls);
    ASSERT_EQ(io.Seek(40, SEEK_SET), 0);
    ASSERT_EQ(io.Read(bytes, 1, 20), 20u) << "larger than the read-ahead, none of it read ahead: one call";
    EXPECT_EQ(bytes[19], 59);
    ASSERT_EQ(io.Read(bytes, 1, 16), 16u);
    EXPECT_EQ(bytes[15], 75);
    EXPECT_EQ(stream->Calls(StreamCall::Read), 4);
    ASSERT_EQ(io.Seek(95, SEEK_SET), 0);
    EXPECT_EQ(io.Read(bytes, 2, 4), 2u) << "whole elements of what there was";
    EXPECT_EQ(io.Eof(), 1);
    EXPECT_EQ(io.Read(bytes, 0, 4), 0u);
}

TEST_F(Buffered, WriteAfterReadIsGatheredAndReadBack)
{
    BufferedStream io(stream.Get(), 16);
    io.KnowSize(100);
    std::uint8_t bytes[8] = {};
    ASSERT_EQ(io.Read(bytes, 1, 4), 4u);
    const std::uint8_t written[] = {'a', 'b', 'c'};
    ASSERT_EQ(io.Write(written, 1, 3), 3u);
    ASSERT_EQ(io.Write(written, 3, 1), 1u);
    EXPECT_EQ(stream->Calls(StreamCall::Write), 0);
    EXPECT_EQ(io.Eof(), 0);
    ASSERT_EQ(io.Seek(4, SEEK_SET), 0) << "a seek elsewhere sends the gathered writes";
    EXPECT_EQ(stream->Calls(StreamCall::Write), 1);
    ASSERT_EQ(io.Read(bytes, 1, 8), 8u);
    EXPECT_EQ(Bytes(bytes, bytes + 8), (Bytes{'a', 'b', 'c', 'a', 'b', 'c', 10, 11}));
    ASSERT_EQ(io.Seek(0, SEEK_END), 0);
    ASSERT_EQ(io.Write(written, 1, 3), 3u);
    EXPECT_EQ(io.Eof(), 1);
    ASSERT_TRUE(io.Flush());
    EXPECT_EQ(stream->Bytes().size(), 103u);
}

TEST_F(Buffered, FailureInTheMiddleOfAFlushFailsTheCallThatFlushes)
{
    BufferedStream io(stream.Get(), 16);
    const std::uint8_t written[] = {1, 2, 3, 4};
    ASSERT_EQ(io.Write(written, 1, 4), 4u);
    stream->FailCall(StreamCall::Write, 1);
    EXPECT_EQ(io.Seek(50, SEEK_SET), -1);
    EXPECT_EQ(stream->Bytes()[0], 0) << "nothing was written";
    ASSERT_EQ(io.Write(written, 2, 2), 2u);
    stream->FailCall(StreamCall::Seek, 1);
    std::uint8_t bytes[4];
    EXPECT_EQ(io.Read(bytes, 1, 4), 0u) << "the read sends the writes first, and that failed";
    EXPECT_TRUE(io.Flush()) << "what failed was dropped";
}

TEST_F(Buffered, RefillFailingPartWayDeliversWhatWasHandedOverThenFails)
{
    // Reporting nothing for bytes already copied out made libFLAC take the
    // failure for the end of the file, and a rewrite lose its last audio.
    BufferedStream io(stream.Get(), 16);
    std::uint8_t bytes[20] = {};
    ASSERT_EQ(io.Read(bytes, 1, 10), 10u);
    stream->FailCall(StreamCall::Read, 1);
    EXPECT_EQ(io.Read(bytes, 1, 20), 6u);
    EXPECT_EQ(bytes[5], 15);
    EXPECT_EQ(io.Tell(), 16);
    stream->FailCall(StreamCall::Read, 1);
    EXPECT_EQ(io.Read(bytes, 1, 4), 0u);
    EXPECT_EQ(io.Eof(), 0) << "a failure, not the end";
}

TEST_F(Buffered, RefillFailingWithACountEndsTheRead)
{
    // A stream that fails with E_PENDING and still reports a count made the
    // read refill for ever once part of the request had been handed over
    // (1.5 million calls in 5 s). Bounded here: after 1000 failures the
    // stream reads again.
    BufferedStream io(stream.Get(), 16);
    std::uint8_t bytes[20] = {};
    ASSERT_EQ(io.Read(bytes, 1, 10), 10u);
    stream->FailReadsReporting(1000, 16);
    EXPECT_EQ(io.Read(bytes, 1, 20), 6u);
    EXPECT_EQ(stream->Calls(StreamCall::Read), 2);
    EXPECT_EQ(io.Read(bytes, 1, 4), 0u) << "a failed call counts as 0 bytes";
    EXPECT_EQ(io.Tell(), 16);
}

TEST_F(Buffered, LargeReadLandsInTheCallersBufferInOneCall)
{
    // A picture read through the read-ahead was held twice at once: in the
    // layer's buffer and in libFLAC's.
    BufferedStream io(stream.Get(), 16);
    std::uint8_t bytes[60] = {};
    ASSERT_EQ(io.Read(bytes, 1, 10), 10u);
    ASSERT_EQ(io.Read(bytes, 1, 50), 50u) << "6 bytes read ahead, 44 more than the read-ahead holds";
    EXPECT_EQ(stream->Calls(StreamCall::Read), 2);
    EXPECT_EQ(stream->LastReadBuffer(), bytes) << "the stream filled the caller's own buffer";
    EXPECT_EQ(stream->LastReadCount(), 50u);
    for (std::size_t i = 0; i < 50; ++i) {
        ASSERT_EQ(bytes[i], static_cast<std::uint8_t>(10 + i)) << "at " << i;
    }
    ASSERT_EQ(io.Read(bytes, 1, 6), 6u) << "what follows the request came with it";
    EXPECT_EQ(bytes[5], 65);
    EXPECT_EQ(stream->Calls(StreamCall::Read), 2);
}

TEST(BufferedLargeRead, StreamReturningShortCountsIsAskedAgainUntilTheReadIsWhole)
{
    // A network redirector returns at most 32 KB a call with S_OK: a picture
    // read in one call came back short.
    Bytes bytes(300000);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    auto stream = MemoryStream::Create(bytes);
    stream->SetReadChunk(32768);
    BufferedStream io(stream.Get(), BufferedStream::kMetadataBlock);
    Bytes first(10);
    ASSERT_EQ(io.Read(first.data(), 1, first.size()), first.size());
    Bytes picture(200000);
    ASSERT_EQ(io.Read(picture.data(), 1, picture.size()), picture.size());
    EXPECT_TRUE(std::equal(picture.begin(), picture.end(), bytes.begin() + 10));
    Bytes next(4);
    ASSERT_EQ(io.Read(next.data(), 1, next.size()), next.size());
    EXPECT_TRUE(std::equal(next.begin(), next.end(), bytes.begin() + 200010));
    stream->FailEveryCall(StreamCall::Read, STG_E_READFAULT);
    ASSERT_EQ(io.Seek(100000, SEEK_SET), 0);
    EXPECT_LT(io.Read(picture.data(), 1, 70000), 70000u) << "a failing call ends the read";
}

TEST(CopyWholeStream, StreamReportingMoreThanAskedCopiesOnlyWhatItHas)
{
    Bytes bytes((3U << 20) / 2);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{3});
    auto source = MemoryStream::Create(bytes);
    auto destination = MemoryStream::Create();
    source->OverreportNextRead(4096);
    ASSERT_EQ(CopyWholeStream(source.Get(), destination.Get()), S_OK);
    EXPECT_EQ(destination->Bytes(), bytes);
}

TEST_F(Buffered, RangeLargerThanAnyBufferIsRefusedBeforeAnyCall)
{
    // Past 4 GB on x86, where the length once wrapped to a small buffer that
    // the read then overran.
    const ULONGLONG tooLarge = sizeof(std::size_t) == 4 ? (1ULL << 32) + 16 : 1ULL << 42;
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadRange(stream.Get(), 0, tooLarge, bytes), E_OUTOFMEMORY);
    EXPECT_EQ(stream->TotalCalls(), 0);
    ASSERT_EQ(ReadRange(stream.Get(), 90, 10, bytes), S_OK);
    EXPECT_EQ(bytes.back(), 99);
}

// A file as a collection holds it: ten tags, a 200 KB cover and 8 KB of
// padding; every stream call is a round trip on a network share.
Bytes CollectionFile(std::size_t audioBytes, std::size_t coverBytes = 200 * 1024)
{
    std::vector<std::string> tags;
    for (const char* name : {"TITLE", "ARTIST", "ALBUM", "DATE", "TRACKNUMBER", "GENRE", "ALBUMARTIST", "COMPOSER",
                             "DISCNUMBER", "COMMENT"}) {
        tags.push_back(std::string(name) + "=value of " + name);
    }
    Bytes cover(coverBytes);
    std::iota(cover.begin(), cover.end(), std::uint8_t{7});
    return FlacBuilder()
        .StreamInfo()
        .VorbisComment(tags)
        .Picture(3, "image/jpeg", cover)
        .Padding(8192)
        .Audio(audioBytes, 5)
        .Build();
}

TEST(StreamCalls, EachOperationTakesAHandfulOfCalls)
{
    const Bytes file = CollectionFile(100 * 1024);
    LoadedHandler h(file);
    ASSERT_EQ(h.result, S_OK);
    EXPECT_LE(h.stream->TotalCalls(), 4) << "property handler Initialize: " << h.stream->Calls(StreamCall::Seek)
                                         << " seeks, " << h.stream->Calls(StreamCall::Read) << " reads";

    RecordingPhotoProvider recorder;
    auto thumbnailStream = StreamOver(file);
    ASSERT_EQ(InitializeWith(NewThumbnailProvider().Get(), thumbnailStream.Get()), S_OK);
    EXPECT_EQ(recorder.Calls().bytes.size(), 200u * 1024);
    EXPECT_LE(thumbnailStream->TotalCalls(), 4) << "thumbnail provider Initialize";

    PROPVARIANT title;
    InitPropVariantFromString(L"a new title", &title);
    ASSERT_EQ(h.store->SetValue(PKEY_Title, title), S_OK);
    int before = h.stream->TotalCalls();
    ASSERT_EQ(h.store->Commit(), S_OK);
    // The cover stays where it is: the comment block moves into the padding
    // behind it and leaves padding in its place, two windows. A seek and a
    // read of the old comment block's window, to put it back should the write
    // fail (the other held padding alone); a seek and a write for each
    // window, the one that adds the new block first, and the stream's Commit
    // after each.
    EXPECT_LE(h.stream->TotalCalls() - before, 8) << "in-place Commit";
    EXPECT_EQ(h.stream->Calls(StreamCall::Write), 2);
    EXPECT_EQ(h.stream->Calls(StreamCall::Commit), 2);
    EXPECT_EQ(h.stream->Bytes().size(), file.size());

    // However large the cover, the same two writes, which leave it alone.
    LoadedHandler bigCover(CollectionFile(1024, 3 << 20));
    ASSERT_EQ(bigCover.store->SetValue(PKEY_Title, title), S_OK);
    before = bigCover.stream->TotalCalls();
    ASSERT_EQ(bigCover.store->Commit(), S_OK);
    EXPECT_LE(bigCover.stream->TotalCalls() - before, 8);
    EXPECT_EQ(bigCover.stream->Calls(StreamCall::Write), 2);

    LoadedHandler large(CollectionFile(32 << 20));
    ASSERT_EQ(large.result, S_OK);
    large.stream->EnableSafeSave();
    PropVariantClear(&title);
    InitPropVariantFromString(std::wstring(9000, L'x').c_str(), &title);
    ASSERT_EQ(large.store->SetValue(PKEY_Title, title), S_OK);
    PropVariantClear(&title);
    before = large.stream->TotalCalls();
    ASSERT_EQ(large.store->Commit(), S_OK);
    int destination = 0;
    for (StreamCall kind : {StreamCall::Read, StreamCall::Write, StreamCall::Seek, StreamCall::Commit}) {
        destination += large.stream->DestinationCalls(kind);
    }
    EXPECT_LE(large.stream->TotalCalls() - before + destination, 200) << "rewrite of a 32 MB file";
    EXPECT_GT(large.stream->Bytes().size(), 32u << 20);
}

} // namespace
