#include "tests/support/flac_layout.h"
#include "tests/support/handler_helpers.h"
#include "tests/support/property_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>

namespace {

HRESULT SetText(IPropertyStore* store, const PROPERTYKEY& key, const wchar_t* text)
{
    PROPVARIANT value;
    InitPropVariantFromString(text, &value);
    const HRESULT hr = store->SetValue(key, value);
    PropVariantClear(&value);
    return hr;
}

HRESULT Clear(IPropertyStore* store, const PROPERTYKEY& key)
{
    PROPVARIANT empty;
    PropVariantInit(&empty);
    return store->SetValue(key, empty);
}

std::vector<std::string> CommentsOf(const Bytes& bytes)
{
    const FlacLayout layout = ParseFlacLayout(bytes);
    const BlockLayout* block = layout.First(VorbisCommentType);
    return block != nullptr ? ParseVorbisCommentBody(block->body).comments : std::vector<std::string>{};
}

const std::vector<std::uint8_t> kStreamInfoCommentPadding = {StreamInfoType, VorbisCommentType, PaddingType};

TEST(CommitInPlace, NoPendingChangeMakesNoStreamCallAtAll)
{
    LoadedHandler h(FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(100).Audio(50).Build());
    ASSERT_EQ(h.result, S_OK);
    const int before = h.stream->TotalCalls();
    EXPECT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(h.stream->TotalCalls(), before);
}

TEST(CommitInPlace, GrowthWithinThePaddingShrinksItAndKeepsTheSize)
{
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({}).Padding(1000).Audio(3000).Build();
    LoadedHandler h(original);
    ASSERT_EQ(h.result, S_OK);
    // TITLE=0123456789abcd is 20 bytes: the padding gives 20 + 4.
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"0123456789abcd"), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);

    const Bytes& written = h.stream->Bytes();
    EXPECT_EQ(written.size(), original.size());
    const FlacLayout layout = ParseFlacLayout(written);
    EXPECT_EQ(layout.Types(), kStreamInfoCommentPadding);
    EXPECT_EQ(layout.First(PaddingType)->length, 976u);
    EXPECT_EQ(Tail(written, layout.audioOffset), Tail(original, ParseFlacLayout(original).audioOffset));
    EXPECT_EQ(CommentsOf(written), std::vector<std::string>{"TITLE=0123456789abcd"});
    EXPECT_EQ(h.stream->Calls(StreamCall::Commit), 1);
    EXPECT_EQ(ParseVorbisCommentBody(layout.First(VorbisCommentType)->body).vendor, "test vendor");
}

TEST(CommitInPlace, StreamCommitsOwnSuccessCodeIsNotPassedOn)
{
    LoadedHandler h(FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(100).Audio(500).Build());
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"b"), S_OK);
    h.stream->FailCall(StreamCall::Commit, 1, S_FALSE);
    EXPECT_EQ(h.store->Commit(), S_OK);
}

TEST(CommitInPlace, SecondCommitWithoutChangeWritesNothing)
{
    LoadedHandler h(FlacBuilder().StreamInfo().VorbisComment({}).Padding(200).Audio(10).Build());
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"x"), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);
    const int before = h.stream->TotalCalls();
    EXPECT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(h.stream->TotalCalls(), before);
}

TEST(CommitInPlace, SettingTheSameValueStillWrites)
{
    LoadedHandler h(FlacBuilder().StreamInfo().VorbisComment({"TITLE=same"}).Padding(200).Audio(10).Build());
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"same"), S_OK);
    const int writes = h.stream->Calls(StreamCall::Write);
    const int commits = h.stream->Calls(StreamCall::Commit);
    ASSERT_EQ(h.store->Commit(), S_OK);
    // The chain is written and the stream committed; only bytes that differ
    // from those on disk reach the stream, and none do.
    EXPECT_GT(h.stream->Calls(StreamCall::Commit), commits);
    EXPECT_EQ(h.stream->Calls(StreamCall::Write), writes);
}

TEST(CommitLayout, WritesTheMapInNameOrderWithUpperCaseNamesAndEveryValue)
{
    LoadedHandler h(FlacBuilder()
                        .StreamInfo()
                        .VorbisComment({"title=b", "ARTIST=a", "MYFIELD=kept"})
                        .Padding(500)
                        .Audio(10)
                        .Build());
    PROPVARIANT artists;
    PCWSTR names[] = {L"one", L"two"};
    ASSERT_EQ(InitPropVariantFromStringVector(names, 2, &artists), S_OK);
    ASSERT_EQ(h.store->SetValue(PKEY_Music_Genre, artists), S_OK);
    PropVariantClear(&artists);
    ASSERT_EQ(h.store->Commit(), S_OK);
    const std::vector<std::string> expected = {"ARTIST=a", "GENRE=one", "GENRE=two", "MYFIELD=kept", "TITLE=b"};
    EXPECT_EQ(CommentsOf(h.stream->Bytes()), expected);
}

TEST(CommitLayout, ClearingEveryTagKeepsAnEmptyBlockWithItsVendor)
{
    LoadedHandler h(FlacBuilder()
                        .StreamInfo()
                        .VorbisComment({"TITLE=a", "ARTIST=b", "BAND=c"}, "my vendor")
                        .Padding(100)
                        .Audio(10)
                        .Build());
    for (const PROPERTYKEY& key : {PKEY_Title, PKEY_Music_Artist, PKEY_Music_AlbumArtist}) {
        ASSERT_EQ(Clear(h.store.Get(), key), S_OK);
    }
    ASSERT_EQ(h.store->Commit(), S_OK);
    const FlacLayout layout = ParseFlacLayout(h.stream->Bytes());
    const auto body = ParseVorbisCommentBody(layout.First(VorbisCommentType)->body);
    EXPECT_EQ(body.vendor, "my vendor");
    EXPECT_TRUE(body.comments.empty());
}

TEST(CommitLayout, PaddingIsGatheredAfterAllOtherBlocks)
{
    const Bytes original = FlacBuilder()
                               .StreamInfo()
                               .Padding(40)
                               .VorbisComment({"TITLE=a"})
                               .Padding(60)
                               .Picture(3, "image/png", Bytes(30, 7))
                               .Audio(100)
                               .Build();
    LoadedHandler h(original);
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"b"), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);
    const FlacLayout layout = ParseFlacLayout(h.stream->Bytes());
    const std::vector<std::uint8_t> expected = {StreamInfoType, VorbisCommentType, PictureType, PaddingType};
    EXPECT_EQ(layout.Types(), expected);
    EXPECT_EQ(h.stream->Bytes().size(), original.size());
    EXPECT_EQ(layout.First(PaddingType)->length, 40u + 60u + 4u);
}

TEST(CommitLayout, ValuesWithNulAndCommentsTheStoreCannotHoldSurviveAnEditElsewhere)
{
    const std::string withNul("COMMENT=a\0b", 11);
    const std::string badUtf8 = "LYRICS=\xC3\x28 broken";
    const std::string badName = "WEIRD\x01NAME=x";
    // Legal to libFLAC (a 4-byte form above U+10FFFF), but UTF-16 has no
    // character for it: the file's bytes stay, not a replacement character.
    const std::string beyondUnicode = "SOLO=\xF4\x90\x80\x80";
    ASSERT_TRUE(FLAC__format_vorbiscomment_entry_is_legal(reinterpret_cast<const FLAC__byte*>(beyondUnicode.data()),
                                                          static_cast<unsigned>(beyondUnicode.size())));
    LoadedHandler h(FlacBuilder()
                        .StreamInfo()
                        .VorbisComment({withNul, badUtf8, badName, beyondUnicode, "TITLE=old"})
                        .Padding(300)
                        .Audio(10)
                        .Build());
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"new"), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);
    const std::vector<std::string> comments = CommentsOf(h.stream->Bytes());
    EXPECT_NE(std::find(comments.begin(), comments.end(), withNul), comments.end());
    EXPECT_NE(std::find(comments.begin(), comments.end(), badUtf8), comments.end());
    EXPECT_NE(std::find(comments.begin(), comments.end(), badName), comments.end());
    EXPECT_NE(std::find(comments.begin(), comments.end(), beyondUnicode), comments.end());
    EXPECT_NE(std::find(comments.begin(), comments.end(), "TITLE=new"), comments.end());
    EXPECT_EQ(std::find(comments.begin(), comments.end(), "TITLE=old"), comments.end());
}

TEST(CommitLayout, UnreadableTwinsOfEditedFieldsAreDroppedOthersStayByteForByte)
{
    // Latin-1 values the reader skips: Explorer shows no title, the user sets
    // one, and other players must not go on showing the old one.
    const std::string oldTitle = "title=Caf\xE9";
    const std::string oldComment = "Comment=\xFF";
    const std::string otherField = "ALBUM=Caf\xE9";
    LoadedHandler h(
        FlacBuilder().StreamInfo().VorbisComment({oldTitle, oldComment, otherField}).Padding(300).Audio(10).Build());
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"Caf\u00E9"), S_OK);
    ASSERT_EQ(Clear(h.store.Get(), PKEY_Comment), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(CommentsOf(h.stream->Bytes()), (std::vector<std::string>{otherField, "TITLE=Caf\xC3\xA9"}));
}

TEST(CommitRefusal, ValueNoCommentCanHoldFailsBeforeAnythingIsWritten)
{
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(300).Audio(10).Build();
    LoadedHandler h(original);
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"bad\xFFFF"), S_OK);
    const int writes = h.stream->Calls(StreamCall::Write);
    EXPECT_EQ(h.store->Commit(), E_INVALIDARG);
    EXPECT_EQ(h.stream->Calls(StreamCall::Write), writes);
    EXPECT_EQ(h.stream->Bytes(), original);
    EXPECT_EQ(h.store->Commit(), E_INVALIDARG) << "the change stays pending";
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"good"), S_OK);
    EXPECT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(CommentsOf(h.stream->Bytes()), std::vector<std::string>{"TITLE=good"});
}

TEST(CommitRefusal, PendingChangeOnAnUninitialisedHandlerTouchesNothing)
{
    auto store = NewPropertyHandler();
    ASSERT_EQ(SetText(store.Get(), PKEY_Title, L"x"), S_OK);
    EXPECT_EQ(store->Commit(), E_UNEXPECTED);
}

TEST(CommitRewrite, GrowthBeyondThePaddingNeedsADestinationStream)
{
    const Bytes original = FlacBuilder().StreamInfo().Audio(500).Build();
    LoadedHandler h(original);
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"new title"), S_OK);
    EXPECT_EQ(h.store->Commit(), E_NOINTERFACE);
    EXPECT_EQ(h.stream->Bytes(), original);
    EXPECT_EQ(h.stream->Calls(StreamCall::Write), 0);
}

TEST(CommitRewrite, NewBlockGoesBeforeThePaddingWithTheLinkedVendor)
{
    const Bytes original = FlacBuilder().Id3v2Prefix(64).StreamInfo().Padding(8).Audio(5000).Build();
    LoadedHandler h(original);
    h.stream->EnableSafeSave();
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Music_Artist, L"Someone with a long name"), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);

    const Bytes& written = h.stream->Bytes();
    const FlacLayout layout = ParseFlacLayout(written);
    EXPECT_EQ(layout.Types(), kStreamInfoCommentPadding);
    const auto body = ParseVorbisCommentBody(layout.First(VorbisCommentType)->body);
    EXPECT_EQ(body.vendor, FLAC__VENDOR_STRING);
    EXPECT_EQ(body.comments, std::vector<std::string>{"ARTIST=Someone with a long name"});
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 74), Bytes(original.begin(), original.begin() + 74))
        << "the ID3v2 tag and the marker stay as they were";
    EXPECT_EQ(Tail(written, layout.audioOffset), Tail(original, ParseFlacLayout(original).audioOffset));

    // The rewritten stream reads back and edits again in place.
    LoadedHandler again(written);
    PropVariant artist;
    again.store->GetValue(PKEY_Music_Artist, &artist);
    ASSERT_EQ(artist->vt, VT_VECTOR | VT_LPWSTR);
    EXPECT_STREQ(artist->calpwstr.pElems[0], L"Someone with a long name");
}

// libFLAC reads STREAMINFO and PICTURE blocks by their fields, whatever length
// their headers give, salvages what it can of a damaged VORBIS_COMMENT block,
// and writes every block back under the length it read. Such a stream is
// shown, but a Commit leaves it untouched.
TEST(CommitRefusal, BlockLengthsThatDisagreeWithTheirContentsAreNotWrittenBack)
{
    const Bytes shortStreamInfo = FlacBuilder().StreamInfo().Block(0, Bytes(30, 0)).Audio(3000).Build();
    Bytes shortPicture =
        FlacBuilder().StreamInfo().Padding(50).Picture(3, "image/png", Bytes(40, 9)).Audio(3000).Build();
    // The picture's header claims 4 bytes less than its fields hold.
    shortPicture[ParseFlacLayout(shortPicture).blocks.back().offset + 3] -= 4;
    // A second comment block whose count promises more comments than it holds.
    Bytes damagedComments = FlacBuilder()
                                .StreamInfo()
                                .VorbisComment({"TITLE=a"})
                                .Padding(400)
                                .VorbisComment({"ARTIST=b", "ALBUM=c"})
                                .Audio(3000)
                                .Build();
    const BlockLayout& second = ParseFlacLayout(damagedComments).blocks.back();
    damagedComments[second.offset + 4 + 4 + 11] = 9; // comment count, after "test vendor"
    const Bytes partialSeekTable = FlacBuilder().StreamInfo().Padding(300).Block(3, Bytes(20, 0)).Audio(3000).Build();

    for (const Bytes& original : {shortStreamInfo, shortPicture, damagedComments, partialSeekTable}) {
        LoadedHandler h(original);
        h.stream->EnableSafeSave();
        ASSERT_EQ(h.result, S_OK) << "what libFLAC read is shown";
        for (const bool grow : {false, true}) {
            ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, grow ? std::wstring(200, L'x').c_str() : L"t"), S_OK);
            EXPECT_EQ(h.store->Commit(), E_FAIL);
            EXPECT_EQ(h.stream->Bytes(), original);
        }
    }
}

TEST(CommitRewrite, AnId3v2PrefixedStreamWithConsistentLengthsIsWritten)
{
    const Bytes original = FlacBuilder().Id3v2Prefix(300).StreamInfo().VorbisComment({"TITLE=a"}).Audio(900).Build();
    LoadedHandler h(original);
    h.stream->EnableSafeSave();
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a longer title"), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(CommentsOf(h.stream->Bytes()), std::vector<std::string>{"TITLE=a longer title"});
}

// Fails each stream call of a successful Commit in turn: a failure is
// reported with the change still pending and, on the rewrite path, the
// original untouched; a success is exactly the expected result.
void FailEveryCall(const Bytes& original, bool rewrite)
{
    const auto makeHandler = [&] {
        auto h = std::make_unique<LoadedHandler>(original);
        if (rewrite) {
            h->stream->EnableSafeSave();
        }
        EXPECT_EQ(SetText(h->store.Get(), PKEY_Title, L"a title long enough to need room"), S_OK);
        return h;
    };
    auto reference = makeHandler();
    const std::map<StreamCall, int> before = {
        {StreamCall::Read, reference->stream->Calls(StreamCall::Read)},
        {StreamCall::Write, reference->stream->Calls(StreamCall::Write)},
        {StreamCall::Seek, reference->stream->Calls(StreamCall::Seek)},
        {StreamCall::Commit, reference->stream->Calls(StreamCall::Commit)},
        {StreamCall::GetDestination, reference->stream->Calls(StreamCall::GetDestination)},
    };
    ASSERT_EQ(reference->store->Commit(), S_OK);
    const Bytes expected = reference->stream->Bytes();

    int injected = 0;
    for (const auto& [kind, start] : before) {
        const int calls = reference->stream->Calls(kind) - start;
        for (int n = 1; n <= calls; ++n) {
            auto h = makeHandler();
            h->stream->FailCall(kind, n);
            const HRESULT hr = h->store->Commit();
            const std::string call = "call kind " + std::to_string(static_cast<int>(kind)) + " #" + std::to_string(n);
            if (SUCCEEDED(hr)) {
                // A failure the write does not depend on (an end-of-stream
                // query answered another way) may pass, but then the result
                // must be exactly right.
                EXPECT_EQ(h->stream->Bytes(), expected) << call;
            } else {
                if (rewrite) {
                    EXPECT_EQ(h->stream->Bytes(), original) << call;
                }
                EXPECT_EQ(h->store->Commit(), S_OK) << "the change stays pending after a failure: " << call;
                EXPECT_EQ(h->stream->Bytes(), expected) << call;
            }
            ++injected;
        }
    }
    // Reads and writes go in large blocks: a handful of calls, every kind
    // failed at least once.
    EXPECT_GE(injected, 5);
}

TEST(CommitRecovery, RewriteThatGotNoDestinationLeavesInPlaceWritesWorking)
{
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(8192).Audio(2000).Build();
    for (const bool factory : {false, true}) {
        SCOPED_TRACE(factory ? "GetDestinationStream fails" : "no destination factory");
        LoadedHandler h(original);
        if (factory) {
            h.stream->EnableSafeSave();
            h.stream->FailCall(StreamCall::GetDestination, 1, E_OUTOFMEMORY);
        }
        ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, std::wstring(9000, L'x').c_str()), S_OK);
        EXPECT_EQ(h.store->Commit(), factory ? E_OUTOFMEMORY : E_NOINTERFACE);
        EXPECT_EQ(h.stream->Bytes(), original);
        ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"short"), S_OK);
        EXPECT_EQ(h.store->Commit(), S_OK);
        EXPECT_EQ(h.stream->Calls(StreamCall::GetDestination), factory ? 1 : 0) << "written in place";
        EXPECT_EQ(h.stream->Calls(StreamCall::Revert), 0) << "nothing was pending";
        EXPECT_EQ(CommentsOf(h.stream->Bytes()), std::vector<std::string>{"TITLE=short"});
        EXPECT_EQ(h.stream->Bytes().size(), original.size());
    }
}

TEST(CommitRecovery, WriteAndUndoFailingOnAFullDiskAreMendedInPlaceOnceThereIsRoom)
{
    // No destination factory: the damaged region can only be written again.
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(400).Audio(2000).Build();
    LoadedHandler h(original);
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a title that fits the padding"), S_OK);
    h.stream->LimitWrites(40);
    EXPECT_EQ(h.store->Commit(), E_FAIL);
    EXPECT_NE(h.stream->Bytes(), original) << "40 bytes landed and could not be put back";
    EXPECT_EQ(h.store->Commit(), E_FAIL) << "still full: the same failure";
    h.stream->LimitWrites(std::nullopt);
    EXPECT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(CommentsOf(h.stream->Bytes()), std::vector<std::string>{"TITLE=a title that fits the padding"});
    EXPECT_EQ(h.stream->Bytes().size(), original.size());
    EXPECT_TRUE(std::equal(original.end() - 2000, original.end(), h.stream->Bytes().end() - 2000));
}

TEST(CommitFailures, AStreamsOwnFailureReachesTheCallerAsEFail)
{
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(400).Audio(2000).Build();
    const std::pair<StreamCall, HRESULT> failures[] = {{StreamCall::Read, STG_E_READFAULT},
                                                       {StreamCall::Write, STG_E_WRITEFAULT},
                                                       {StreamCall::Seek, STG_E_SEEKERROR}};
    for (const auto& [kind, failure] : failures) {
        SCOPED_TRACE("every call of kind " + std::to_string(static_cast<int>(kind)) + " fails");
        LoadedHandler h(original);
        ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a title that fits"), S_OK);
        h.stream->FailEveryCall(kind, failure);
        EXPECT_EQ(h.store->Commit(), E_FAIL);
    }
    // The size check of a finished copy.
    const Bytes tight = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Audio(2000).Build();
    auto reference = std::make_unique<LoadedHandler>(tight);
    reference->stream->EnableSafeSave();
    ASSERT_EQ(SetText(reference->store.Get(), PKEY_Title, L"a title that needs room"), S_OK);
    ASSERT_EQ(reference->store->Commit(), S_OK);
    const int seeks = reference->stream->DestinationCalls(StreamCall::Seek);
    ASSERT_GE(seeks, 1);
    LoadedHandler h(tight);
    h.stream->EnableSafeSave();
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a title that needs room"), S_OK);
    h.stream->FailDestinationCall(StreamCall::Seek, seeks, STG_E_SEEKERROR);
    EXPECT_EQ(h.store->Commit(), E_FAIL);
    EXPECT_EQ(h.stream->Bytes(), tight);
}

TEST(CommitRecovery, BytesAFailedUndoCouldNotPutBackArePutBackFirstByTheNextCommit)
{
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(400).Audio(2000).Build();
    for (const bool factory : {true, false}) {
        SCOPED_TRACE(factory ? "a stream that hands out destinations" : "no destination factory");
        LoadedHandler h(original);
        if (factory) {
            h.stream->EnableSafeSave();
        }
        // The disk fills during the write in place: the write and its undo
        // both fail, and the file holds part of the new metadata.
        ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a title that fits the padding"), S_OK);
        h.stream->LimitWrites(60);
        EXPECT_EQ(h.store->Commit(), E_FAIL);
        ASSERT_NE(h.stream->Bytes(), original);
        h.stream->LimitWrites(std::nullopt);
        // An edit that needs a rewrite, which fails after libFLAC finished
        // (or finds no destination): the old bytes are back all the same.
        ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, std::wstring(9000, L'x').c_str()), S_OK);
        h.stream->FailCall(StreamCall::Commit, 1);
        h.stream->FailCall(StreamCall::Commit, 2);
        EXPECT_EQ(h.store->Commit(), factory ? STG_E_ACCESSDENIED : E_NOINTERFACE);
        EXPECT_EQ(h.stream->Bytes(), original);
        h.stream->ClearFailures();
        // Nothing is stuck: a short title is written in place.
        ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"short"), S_OK);
        EXPECT_EQ(h.store->Commit(), S_OK);
        EXPECT_EQ(CommentsOf(h.stream->Bytes()), std::vector<std::string>{"TITLE=short"});
        EXPECT_EQ(h.stream->Bytes().size(), original.size());
    }
}

TEST(CommitFailures, EveryStreamCallFailingInPlace)
{
    FailEveryCall(FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(400).Audio(2000).Build(), false);
}

TEST(CommitFailures, EveryStreamCallFailingInARewrite)
{
    FailEveryCall(FlacBuilder().Id3v2Prefix(20).StreamInfo().VorbisComment({"TITLE=a"}).Audio(20000).Build(), true);
}

// Every file a stopped save can leave: killed after any of its writes, or cut
// off by a power failure that keeps any of the writes made since the last
// Commit of the stream (each subset of them, over what that Commit made
// durable).
std::vector<Bytes> StatesAStoppedSaveCanLeave(const Bytes& before, const std::vector<MemoryStream::LoggedCall>& log)
{
    std::vector<Bytes> states;
    Bytes durable = before;
    std::vector<const MemoryStream::LoggedCall*> pending;
    const auto apply = [](Bytes& bytes, const MemoryStream::LoggedCall& write) {
        bytes.resize(std::max<std::size_t>(bytes.size(), write.offset + write.bytes.size()));
        std::copy(write.bytes.begin(), write.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(write.offset));
    };
    const auto commit = [&] {
        const std::size_t count = std::min<std::size_t>(pending.size(), 10);
        for (std::size_t subset = 0; subset < (std::size_t{1} << count); ++subset) {
            Bytes state = durable;
            for (std::size_t i = 0; i < count; ++i) {
                if ((subset >> i & 1) != 0) {
                    apply(state, *pending[i]);
                }
            }
            states.push_back(std::move(state));
        }
        for (const auto* write : pending) {
            apply(durable, *write);
        }
        pending.clear();
    };
    for (const MemoryStream::LoggedCall& call : log) {
        if (call.kind == StreamCall::Write) {
            pending.push_back(&call);
        } else {
            commit();
        }
    }
    commit();
    return states;
}

// Each of those files reads, with the same pictures and audio as `original`,
// and its title is one of `titles`.
void ExpectEveryStoppedStateReads(const Bytes& original, const MemoryStream& stream,
                                  const std::vector<std::wstring>& titles)
{
    const FlacLayout before = ParseFlacLayout(original);
    const auto picturesOf = [](const FlacLayout& layout) {
        const std::vector<std::uint8_t> types = layout.Types();
        return std::count(types.begin(), types.end(), PictureType);
    };
    for (const Bytes& state : StatesAStoppedSaveCanLeave(original, stream.Log())) {
        LoadedHandler h(state);
        ASSERT_EQ(h.result, S_OK) << "a stopped save left a file that does not read";
        const std::wstring title = ValueOf(h.store.Get(), PKEY_Title);
        EXPECT_NE(std::find(titles.begin(), titles.end(), title), titles.end()) << "title read back: " << title;
        const FlacLayout layout = ParseFlacLayout(state);
        EXPECT_EQ(picturesOf(layout), picturesOf(before));
        EXPECT_EQ(Tail(state, layout.audioOffset), Tail(original, before.audioOffset));
    }
}

Bytes Pattern(std::size_t length)
{
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{3});
    return bytes;
}

TEST(CommitSafety, BlocksOfRepeatedBytesThatShiftAreWrittenInOneGo)
{
    // Their equal bytes once split the write in two, and a file stopped
    // between the writes held headers pointing into shifted data.
    const Bytes original = FlacBuilder()
                               .StreamInfo()
                               .VorbisComment({"TITLE=a"})
                               .Picture(3, "image/bmp", Bytes(40 * 1024, 0))
                               .Padding(8192)
                               .Audio(3000)
                               .Build();
    LoadedHandler h(original);
    h.stream->StartLog();
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a longer title"), S_OK);
    ASSERT_EQ(h.store->Commit(), S_OK);
    ExpectEveryStoppedStateReads(original, *h.stream.Get(), {L"s:a", L"s:a longer title"});
    EXPECT_EQ(ValueOf(LoadedHandler(h.stream->Bytes()).store.Get(), PKEY_Title), L"s:a longer title");
}

TEST(CommitSafety, TheNewCommentBlockIsCommittedBeforeTheOldOneIsRetired)
{
    // The comment block outgrows the padding behind it and moves into the
    // padding at the end, past a large picture: two windows.
    const Bytes original = FlacBuilder()
                               .StreamInfo()
                               .VorbisComment({"TITLE=a"})
                               .Padding(16)
                               .Picture(3, "image/jpeg", Pattern(100 * 1024))
                               .Padding(8192)
                               .Audio(3000)
                               .Build();
    LoadedHandler h(original);
    const std::wstring title = L"a title that outgrows the padding behind it";
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, title.c_str()), S_OK);
    h.stream->StartLog();
    const int before = h.stream->TotalCalls();
    ASSERT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(h.stream->Calls(StreamCall::Write), 2);
    EXPECT_EQ(h.stream->Calls(StreamCall::Commit), 2) << "one between the windows, one at the end";
    EXPECT_LE(h.stream->TotalCalls() - before, 8);
    ExpectEveryStoppedStateReads(original, *h.stream.Get(), {L"s:a", L"s:" + title});
    EXPECT_EQ(h.stream->Bytes().size(), original.size());
    EXPECT_EQ(ValueOf(LoadedHandler(h.stream->Bytes()).store.Get(), PKEY_Title), L"s:" + title);

    // The Commit between the windows fails: its own result is returned, and
    // the first window is put back (the padding it was written into gets its
    // header back; what its body holds is no one's).
    LoadedHandler failing(original);
    ASSERT_EQ(SetText(failing.store.Get(), PKEY_Title, title.c_str()), S_OK);
    failing.stream->FailCall(StreamCall::Commit, 1, STG_E_MEDIUMFULL);
    EXPECT_EQ(failing.store->Commit(), STG_E_MEDIUMFULL);
    EXPECT_EQ(ParseFlacLayout(failing.stream->Bytes()).Types(), ParseFlacLayout(original).Types());
    EXPECT_EQ(ValueOf(LoadedHandler(failing.stream->Bytes()).store.Get(), PKEY_Title), L"s:a");
    EXPECT_EQ(failing.store->Commit(), S_OK);
    EXPECT_EQ(failing.stream->Bytes(), h.stream->Bytes());
}

TEST(CommitSafety, LargeBlocksAreNotMovedInPlaceWhereACopyCanBeMade)
{
    // The padding is split: neither part holds the grown comment block, both
    // together do, and gathering them would move every picture in place.
    const Bytes split = FlacBuilder()
                            .StreamInfo()
                            .VorbisComment({"TITLE=a"})
                            .Padding(4096)
                            .Picture(3, "image/jpeg", Pattern(100 * 1024))
                            .Picture(4, "image/jpeg", Pattern(100 * 1024))
                            .Picture(5, "image/jpeg", Pattern(100 * 1024))
                            .Padding(4096)
                            .Audio(3000)
                            .Build();
    // No comment block at all: the new one goes in front of the padding.
    const Bytes noComments =
        FlacBuilder().StreamInfo().Padding(8192).Picture(3, "image/jpeg", Pattern(100 * 1024)).Audio(3000).Build();
    const std::wstring comment(6000, L'c');
    for (const Bytes* original : {&split, &noComments}) {
        for (const bool factory : {true, false}) {
            SCOPED_TRACE(std::string(original == &split ? "split padding" : "no comment block") +
                         (factory ? ", a stream that hands out destinations" : ", no destination factory"));
            LoadedHandler h(*original);
            if (factory) {
                h.stream->EnableSafeSave();
            }
            ASSERT_EQ(SetText(h.store.Get(), PKEY_Comment, comment.c_str()), S_OK);
            ASSERT_EQ(h.store->Commit(), S_OK);
            // Where the stream has no other way, the write in place stays,
            // with its undo.
            EXPECT_EQ(h.stream->Calls(StreamCall::GetDestination), factory ? 1 : 0);
            EXPECT_EQ(h.stream->Calls(StreamCall::Write), factory ? 0 : 1);
            LoadedHandler again(h.stream->Bytes());
            EXPECT_EQ(ValueOf(again.store.Get(), PKEY_Comment), L"s:" + comment);
            const FlacLayout layout = ParseFlacLayout(h.stream->Bytes());
            EXPECT_EQ(Tail(h.stream->Bytes(), layout.audioOffset),
                      Tail(*original, ParseFlacLayout(*original).audioOffset));
        }
    }
}

TEST(CommitSafety, AStaleSecondCommentBlockBecomesPaddingAndLaterSavesReadBack)
{
    // A save stopped between its two writes: the new comment block is in the
    // padding at the end, the old one still first.
    Bytes file = FlacBuilder()
                     .StreamInfo()
                     .VorbisComment({"TITLE=before"})
                     .Padding(16)
                     .Picture(3, "image/jpeg", Pattern(100 * 1024))
                     .VorbisComment({"TITLE=killed save"})
                     .Padding(8000)
                     .Audio(3000)
                     .Build();
    for (const wchar_t* title : {L"second save", L"third save", L"fifth save"}) {
        LoadedHandler h(file);
        ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, title), S_OK);
        ASSERT_EQ(h.store->Commit(), S_OK);
        file = h.stream->Bytes();
        EXPECT_EQ(ValueOf(LoadedHandler(file).store.Get(), PKEY_Title), std::wstring(L"s:") + title);
        const std::vector<std::uint8_t> types = ParseFlacLayout(file).Types();
        EXPECT_EQ(std::count(types.begin(), types.end(), VorbisCommentType), 1);
    }
}

TEST(CommitRecovery, AFileReplacedByACommitThatFailedGetsNoOldBytes)
{
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(400).Audio(2000).Build();
    LoadedHandler h(original);
    h.stream->EnableSafeSave();
    // A write in place and its undo fail on a full disk: old bytes wait.
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a title that fits the padding"), S_OK);
    h.stream->LimitWrites(20);
    EXPECT_EQ(h.store->Commit(), E_FAIL);
    // A rewrite whose rename took effect, though the Commit failed.
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, std::wstring(900, L'x').c_str()), S_OK);
    h.stream->FailNextCommitAfterReplacing(STG_E_ACCESSDENIED);
    EXPECT_EQ(h.store->Commit(), STG_E_ACCESSDENIED);
    const Bytes replaced = h.stream->Bytes();
    ASSERT_EQ(ValueOf(LoadedHandler(replaced).store.Get(), PKEY_Title), L"s:" + std::wstring(900, L'x'));
    h.stream->LimitWrites(std::nullopt);
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"after"), S_OK);
    EXPECT_EQ(h.store->Commit(), S_OK);
    LoadedHandler again(h.stream->Bytes());
    ASSERT_EQ(again.result, S_OK);
    EXPECT_EQ(ValueOf(again.store.Get(), PKEY_Title), L"s:after");
    EXPECT_EQ(Tail(h.stream->Bytes(), ParseFlacLayout(h.stream->Bytes()).audioOffset),
              Tail(original, ParseFlacLayout(original).audioOffset));
}

TEST(CommitRecovery, ADamagedFileIsNotReadAgainWhileItsOldBytesWait)
{
    const Bytes original = FlacBuilder().StreamInfo().VorbisComment({"TITLE=a"}).Padding(400).Audio(2000).Build();
    LoadedHandler h(original);
    h.stream->EnableSafeSave();
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, L"a title that fits the padding"), S_OK);
    h.stream->LimitWrites(60);
    EXPECT_EQ(h.store->Commit(), E_FAIL);
    const Bytes damaged = h.stream->Bytes();
    ASSERT_NE(damaged, original);
    // A rewrite that fails once libFLAC is done: the chain no longer
    // describes the file, which is still full.
    ASSERT_EQ(SetText(h.store.Get(), PKEY_Title, std::wstring(900, L'x').c_str()), S_OK);
    h.stream->FailDestinationCall(StreamCall::Write, 1, STG_E_WRITEFAULT);
    EXPECT_TRUE(FAILED(h.store->Commit()));
    const int destinations = h.stream->Calls(StreamCall::GetDestination);
    EXPECT_EQ(h.store->Commit(), E_FAIL) << "the old bytes could not be put back yet";
    EXPECT_EQ(h.stream->Calls(StreamCall::GetDestination), destinations) << "nothing written from a damaged read";
    EXPECT_EQ(h.stream->Bytes(), damaged);
    h.stream->LimitWrites(std::nullopt);
    ASSERT_EQ(h.store->Commit(), S_OK);
    EXPECT_EQ(ValueOf(LoadedHandler(h.stream->Bytes()).store.Get(), PKEY_Title), L"s:" + std::wstring(900, L'x'));
}

} // namespace
