#include "flacio/stream_io.h"

#include "tests/support/com_helpers.h"
#include "tests/support/flac_builder.h"
#include "tests/support/memory_stream.h"

#include <gtest/gtest.h>

namespace {

struct StreamIO : testing::Test {
    ComPtr<MemoryStream> stream = MemoryStream::Create(Bytes(10, 0xAB));
    FLAC__IOHandle handle() { return AsIOHandle(stream.Get()); }
};

TEST_F(StreamIO, ReadReturnsWholeElementsOfWhatTheStreamTransferred)
{
    std::uint8_t buffer[16] = {};
    EXPECT_EQ(StreamRead(buffer, 4, 4, handle()), 2u) << "10 bytes are two whole 4-byte elements";
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    stream->SetReadChunk(3);
    EXPECT_EQ(StreamRead(buffer, 1, 4, handle()), 3u) << "a short S_FALSE read counts";
    stream->OverreportNextRead(64);
    EXPECT_EQ(StreamRead(buffer, 1, 4, handle()), 4u) << "never more than was asked";
}

TEST_F(StreamIO, ReadAndWriteRefuseCountsBeyond32BitsWithoutCallingTheStream)
{
    std::uint8_t buffer[1] = {};
    EXPECT_EQ(StreamRead(buffer, 0x10000, 0x10000, handle()), 0u);
    EXPECT_EQ(StreamWrite(buffer, 0x10001, 0x10000, handle()), 0u);
    EXPECT_EQ(stream->Calls(StreamCall::Read), 0);
    EXPECT_EQ(stream->Calls(StreamCall::Write), 0);
    EXPECT_EQ(StreamRead(buffer, 0, 5, handle()), 0u) << "element size 0 must not divide";
}

TEST_F(StreamIO, FailedStreamCallsReportNothingTransferred)
{
    std::uint8_t buffer[4] = {};
    stream->FailCall(StreamCall::Read, 1);
    EXPECT_EQ(StreamRead(buffer, 1, 4, handle()), 0u);
    stream->FailCall(StreamCall::Write, 1);
    EXPECT_EQ(StreamWrite(buffer, 1, 4, handle()), 0u);
    EXPECT_EQ(StreamWrite(buffer, 1, 4, handle()), 4u);
    EXPECT_EQ(stream->Bytes().size(), 10u);
}

TEST_F(StreamIO, SeekTranslatesOriginsAndRefusesUnknownOnes)
{
    EXPECT_EQ(StreamSeek(handle(), 4, SEEK_SET), 0);
    EXPECT_EQ(StreamTell(handle()), 4);
    EXPECT_EQ(StreamSeek(handle(), 2, SEEK_CUR), 0);
    EXPECT_EQ(StreamTell(handle()), 6);
    EXPECT_EQ(StreamSeek(handle(), -1, SEEK_END), 0);
    EXPECT_EQ(StreamTell(handle()), 9);
    const int seeksBefore = stream->Calls(StreamCall::Seek);
    EXPECT_EQ(StreamSeek(handle(), 0, 3), -1);
    EXPECT_EQ(stream->Calls(StreamCall::Seek), seeksBefore);
}

TEST_F(StreamIO, EofIsRecognisedByPositionAndLeavesThePositionAlone)
{
    StreamSeek(handle(), 9, SEEK_SET);
    EXPECT_EQ(StreamEof(handle()), 0);
    EXPECT_EQ(stream->Position(), 9u);
    StreamSeek(handle(), 10, SEEK_SET);
    EXPECT_EQ(StreamEof(handle()), 1);
    StreamSeek(handle(), 12, SEEK_SET);
    EXPECT_EQ(StreamEof(handle()), 0) << "beyond the end is not the end";

    auto empty = MemoryStream::Create();
    EXPECT_EQ(StreamEof(AsIOHandle(empty.Get())), 1);
}

TEST_F(StreamIO, FailingSeekMeansNotAtEndAndUnknownPosition)
{
    stream->FailCall(StreamCall::Seek, 1);
    EXPECT_EQ(StreamEof(handle()), 0);
    stream->FailCall(StreamCall::Seek, 2);
    EXPECT_EQ(StreamEof(handle()), 0);
    stream->FailCall(StreamCall::Seek, 1);
    EXPECT_EQ(StreamTell(handle()), -1);
    stream->FailCall(StreamCall::Seek, 1);
    EXPECT_EQ(StreamSeek(handle(), 0, SEEK_SET), -1);
}

TEST(ChainStatus, MapsEveryStatusToItsResult)
{
    const HRESULT expected[] = {S_OK,         E_INVALIDARG, E_ACCESSDENIED, E_FAIL, E_ACCESSDENIED, E_FAIL,
                                E_FAIL,       E_FAIL,       E_FAIL,         E_FAIL, E_FAIL,         E_OUTOFMEMORY,
                                E_UNEXPECTED, E_POINTER,    E_FAIL,         E_FAIL};
    for (int status = 0; status < 16; ++status) {
        EXPECT_EQ(ChainStatusToHResult(static_cast<FLAC__Metadata_ChainStatus>(status)), expected[status])
            << "status " << status;
    }
    EXPECT_EQ(ChainStatusToHResult(static_cast<FLAC__Metadata_ChainStatus>(16)), E_UNEXPECTED);
    EXPECT_EQ(ChainStatusToHResult(static_cast<FLAC__Metadata_ChainStatus>(1000)), E_UNEXPECTED);
}

} // namespace
