// Writing the tag store back into the file: the VORBIS_COMMENT block is rebuilt
// from the store, the padding gathered at the end, and libFLAC writes the chain
// in place when the padding absorbs the change, or else rewrites the whole
// stream into the destination stream the property system provides. A change
// that would move more than a few blocks' worth of other bytes in place goes
// through a destination too, wherever the stream offers one. After a
// failure once a destination was handed out, every write goes through a
// fresh destination until one has been committed. A write in place reads
// and sends only the windows of the region that change; where there are two
// (the comment block moved into the padding at the end), the one that adds
// the new block is written and committed first, so that the file holds a
// comment block whatever stops the save. One that could not be undone keeps
// the bytes it could not put back, and every later Commit first tries again
// to put them back where the file still holds what the failed write left;
// until that works, a complete copy or, on a stream that hands out no
// destination, the next write in place of the whole region mends the file.
#include "com/atl_exception.h"
#include "flacio/buffered_stream.h"
#include "flacio/metadata_iterator.h"
#include "flacio/region_capture.h"
#include "flacio/stream_io.h"
#include "flacio/stream_range.h"
#include "handler/block_placement.h"
#include "handler/metadata_layout.h"
#include "handler/property_handler.h"
#include "tags/tag_store.h"

#include <algorithm>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

bool IsLegalEntry(const FLAC__StreamMetadata_VorbisComment_Entry& entry) noexcept
{
    return FLAC__format_vorbiscomment_entry_is_legal(entry.entry, entry.length) != 0;
}

// The field name of a comment, upper-cased as the store holds names; empty
// when the comment has no "=".
std::string UpperFieldName(const FLAC__StreamMetadata_VorbisComment_Entry& entry)
{
    const auto* const begin = reinterpret_cast<const char*>(entry.entry);
    const auto* const end = begin + entry.length;
    const auto* const equals = std::find(begin, end, '=');
    std::string name(begin, equals == end ? begin : equals);
    std::transform(name.begin(), name.end(), name.begin(), UpperAscii);
    return name;
}

// A stream's own failure code is not passed on: stream failures reach the
// caller as E_FAIL, as libFLAC's read, seek and write errors do. Memory that
// could not be had stays E_OUTOFMEMORY.
HRESULT StreamFailure(HRESULT hr) noexcept
{
    return SUCCEEDED(hr) || hr == E_OUTOFMEMORY ? hr : E_FAIL;
}

} // namespace

std::vector<std::string> CPropertyHandler::CommentEntries() const
{
    std::vector<std::string> entries;
    entries.reserve(m_tags.All().size());
    for (const TagStore::Entry& stored : m_tags.All()) {
        const std::string_view name = m_tags.NameOf(stored);
        const std::string_view value = m_tags.ValueOf(stored);
        std::string entry;
        entry.reserve(name.size() + 1 + value.size());
        entry += name;
        entry += '=';
        entry += value;
        if (entry.size() > 0xFFFFFFFFU) {
            AtlThrow(E_UNEXPECTED);
        }
        const auto* const bytes = reinterpret_cast<const FLAC__byte*>(entry.data());
        if (!FLAC__format_vorbiscomment_entry_is_legal(bytes, static_cast<unsigned>(entry.size()))) {
            // A value Vorbis comments cannot hold (U+FFFE, U+FFFF): refuse
            // before anything is changed.
            AtlThrow(E_INVALIDARG);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

HRESULT CPropertyHandler::BuildVorbisComment(FLAC__StreamMetadata& block,
                                             const std::vector<std::string>& entries) noexcept
{
    return GuardHResult([&]() -> HRESULT {
        // Comments the store never held (they are not legal Vorbis comments, so
        // the reader skipped them) stay as they are, unless the user has since
        // replaced or removed their field: other programs would show the old
        // value again. Every legal comment is rebuilt from the store.
        FLAC__StreamMetadata_VorbisComment& comments = block.data.vorbis_comment;
        for (FLAC__uint32 i = comments.num_comments; i-- > 0;) {
            const FLAC__StreamMetadata_VorbisComment_Entry& comment = comments.comments[i];
            const bool keep = !IsLegalEntry(comment) && !m_editedFields.contains(UpperFieldName(comment));
            if (!keep && !FLAC__metadata_object_vorbiscomment_delete_comment(&block, i)) {
                return E_OUTOFMEMORY;
            }
        }
        for (const std::string& text : entries) {
            FLAC__StreamMetadata_VorbisComment_Entry entry;
            entry.length = static_cast<FLAC__uint32>(text.size());
            // libFLAC copies the entry (copy=true); its struct only lacks const.
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast)
            entry.entry = reinterpret_cast<FLAC__byte*>(const_cast<char*>(text.data()));
            if (!FLAC__metadata_object_vorbiscomment_append_comment(&block, entry, /*copy=*/true)) {
                return E_OUTOFMEMORY;
            }
        }
        return S_OK;
    });
}

HRESULT CPropertyHandler::RebuildVorbisComment(const std::vector<std::string>& entries)
{
    MetadataIterator iterator = NewChainIterator(m_file.Chain());
    if (!iterator) {
        return E_OUTOFMEMORY;
    }
    FLAC__StreamMetadata* vorbisComment = nullptr;
    unsigned oldLength = 0;
    do {
        FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
        if (block->type != FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            continue;
        }
        if (vorbisComment == nullptr) {
            vorbisComment = block;
            oldLength = block->length;
        } else if (!FLAC__metadata_iterator_delete_block(iterator.get(), /*replace_with_padding=*/true)) {
            // Readers take the first comment block, and so does every later
            // save: another one (left by a save stopped between its two
            // writes) is stale, and becomes padding of its own length.
            return E_OUTOFMEMORY;
        }
    } while (FLAC__metadata_iterator_next(iterator.get()));

    if (vorbisComment == nullptr) {
        // A new block carries the vendor string of the linked libFLAC and goes
        // after the last block; sorting the padding below moves it in front
        // of the padding.
        vorbisComment = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
        if (vorbisComment == nullptr) {
            return E_OUTOFMEMORY;
        }
        if (!FLAC__metadata_iterator_insert_block_after(iterator.get(), vorbisComment)) {
            FLAC__metadata_object_delete(vorbisComment);
            return E_FAIL;
        }
    }
    const bool existed = oldLength != 0;
    const HRESULT hr = BuildVorbisComment(*vorbisComment, entries);
    if (SUCCEEDED(hr) && !(existed && KeepLargeBlocksInPlace(m_file.Chain(), vorbisComment, oldLength))) {
        FLAC__metadata_chain_sort_padding(m_file.Chain());
    }
    return hr;
}

STDMETHODIMP CPropertyHandler::Commit()
{
    if (!m_changed) {
        return S_OK;
    }
    const HRESULT writable = CheckWritable();
    if (FAILED(writable)) {
        return writable;
    }
    return GuardHResult([&]() -> HRESULT {
        PutBackUnrestored();
        HRESULT hr = PutTagsIntoChain();
        if (SUCCEEDED(hr)) {
            hr = WriteChain();
        }
        if (SUCCEEDED(hr)) {
            m_changed = false;
        }
        return hr;
    });
}

HRESULT CPropertyHandler::CheckWritable() const noexcept
{
    if (m_file.Stream() == nullptr) {
        // Nothing was read, so there is nothing safe to write into.
        return E_UNEXPECTED;
    }
    if (m_lengthsMismatch) {
        // Bad metadata: libFLAC would write blocks whose lengths differ from
        // what their headers say, and overwrite or drop audio bytes.
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CPropertyHandler::PutTagsIntoChain()
{
    if (m_chainStale && !m_unrestored.empty()) {
        // The file holds part of a failed write's metadata: read now, it
        // could describe blocks that are not there.
        return E_FAIL;
    }
    const HRESULT hr = m_chainStale ? ReadChainAgain() : S_OK;
    if (FAILED(hr)) {
        return hr;
    }
    return RebuildVorbisComment(CommentEntries());
}

HRESULT CPropertyHandler::WriteChain()
{
    const bool fitsInPlace = !FLAC__metadata_chain_check_if_tempfile_needed(m_file.Chain(), /*use_padding=*/true);
    if (fitsInPlace) {
        const HRESULT hr = SettlePadding();
        if (FAILED(hr)) {
            return hr;
        }
    }
    bool inPlace = fitsInPlace && !m_destinationOnly && m_unrestored.empty();
    if (inPlace && MovedBytes(m_fileLayout, LayoutOf(m_file.Chain())) > kLargestMove) {
        // Blocks that large moved in place take a long write, which a kill or
        // a power cut tears: a stream that can take a complete copy gets one.
        // One that cannot has no other way, and its write can be undone.
        ComPtr<IDestinationStreamFactory> factory;
        inPlace = FAILED(m_file.Stream()->QueryInterface(IID_IDestinationStreamFactory, &factory)) || !factory;
    }
    return inPlace ? WriteInPlace(/*wholeRegion=*/false) : WriteThroughDestination(fitsInPlace);
}

HRESULT CPropertyHandler::SettlePadding()
{
    // libFLAC lengthens, adds or shortens the last padding as it writes in
    // place, so that the metadata keeps its length. A write that reaches no
    // stream leaves the chain as the file will hold it.
    RegionCapture nowhere({});
    if (!FLAC__metadata_chain_write_with_callbacks(m_file.Chain(), true, nowhere.Handle(), RegionCaptureCallbacks)) {
        return TakeChainStatus(m_file.Chain());
    }
    return S_OK;
}

std::vector<CPropertyHandler::RegionWrite> CPropertyHandler::GatherRegionWrites(const MetadataLayout& layout,
                                                                                bool wholeRegion, HRESULT& hr)
{
    const std::vector<RegionRange> ranges =
        wholeRegion ? std::vector<RegionRange>{{0, m_metadataBytes}} : ChangedWindows(m_fileLayout, layout);
    // The old bytes of every window that held more than padding: to put
    // back should the write fail, and to leave out what stays the same. A
    // window that held only padding needs its padding headers alone back.
    std::vector<std::vector<std::uint8_t>> previous(ranges.size());
    std::vector<RegionCapture::Window> windows;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const RegionRange& range = ranges[i];
        windows.push_back({m_metadataOffset + range.start, m_metadataOffset + range.end, {}});
        if (wholeRegion || !OnlyPadding(m_fileLayout, range)) {
            hr = ReadRange(m_file.Stream(), m_metadataOffset + range.start, range.end - range.start, previous[i]);
            if (FAILED(hr)) {
                hr = StreamFailure(hr);
                return {};
            }
        }
    }
    RegionCapture capture(std::move(windows));
    if (!FLAC__metadata_chain_write_with_callbacks(m_file.Chain(), true, capture.Handle(), RegionCaptureCallbacks)) {
        hr = TakeChainStatus(m_file.Chain());
        return {};
    }
    const PlacedBlock* const comment = FirstOfType(layout, FLAC__METADATA_TYPE_VORBIS_COMMENT);
    std::vector<RegionWrite> writes;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const std::vector<std::uint8_t>& now = capture.Windows()[i].bytes;
        const std::vector<std::uint8_t>& old = previous[i];
        std::size_t first = 0;
        std::size_t last = now.size();
        if (!old.empty()) {
            while (first < last && old[first] == now[first]) {
                ++first;
            }
            while (last > first && old[last - 1] == now[last - 1]) {
                --last;
            }
        }
        if (first == last) {
            continue;
        }
        RegionWrite write;
        write.offset = m_metadataOffset + ranges[i].start + first;
        write.bytes.assign(now.begin() + first, now.begin() + last);
        write.addsComment = comment != nullptr && comment->offset >= ranges[i].start && comment->offset < ranges[i].end;
        if (!old.empty()) {
            write.undo.push_back(
                {write.offset, std::vector<std::uint8_t>(old.begin() + first, old.begin() + last), write.bytes});
        } else {
            for (const PlacedBlock& block : m_fileLayout) {
                if (block.offset >= ranges[i].start && block.offset + 4 <= ranges[i].end) {
                    const auto header = block.Header();
                    const auto* const written = now.data() + (block.offset - ranges[i].start);
                    write.undo.push_back({m_metadataOffset + block.offset,
                                          std::vector<std::uint8_t>(header.begin(), header.end()),
                                          std::vector<std::uint8_t>(written, written + 4)});
                }
            }
        }
        writes.push_back(std::move(write));
    }
    // The window that adds the new comment block goes first.
    std::stable_partition(writes.begin(), writes.end(), [](const RegionWrite& w) { return w.addsComment; });
    hr = S_OK;
    return writes;
}

HRESULT CPropertyHandler::WriteInPlace(bool wholeRegion)
{
    MetadataLayout layout = LayoutOf(m_file.Chain());
    HRESULT hr = S_OK;
    const std::vector<RegionWrite> writes = GatherRegionWrites(layout, wholeRegion, hr);
    if (FAILED(hr)) {
        return hr;
    }
    std::vector<OverwrittenBytes> undo;
    for (std::size_t i = 0; i < writes.size() && SUCCEEDED(hr); ++i) {
        if (i == 1 && writes.front().addsComment) {
            // The new comment block is on the disk before the old one is
            // retired: storage that keeps only some of the writes at a power
            // cut still holds a comment block.
            hr = m_file.Stream()->Commit(STGC_DEFAULT);
            if (FAILED(hr)) {
                break;
            }
        }
        undo.insert(undo.begin(), writes[i].undo.begin(), writes[i].undo.end());
        hr = StreamFailure(WriteRange(m_file.Stream(), writes[i].offset, writes[i].bytes));
    }
    if (SUCCEEDED(hr)) {
        // A stream's own success code (S_FALSE) is not this Commit's.
        hr = m_file.Stream()->Commit(STGC_DEFAULT);
        hr = FAILED(hr) ? hr : S_OK;
    }
    if (SUCCEEDED(hr)) {
        // Every byte of the region is now what the chain says.
        m_unrestored.clear();
        m_fileLayout = std::move(layout);
        return S_OK;
    }
    if (!undo.empty() && FAILED(PutBack(undo))) {
        // The file may hold part of the new metadata. Every later Commit
        // tries first to put these bytes back; meanwhile a complete copy
        // written from the chain mends the file, and so does a write in
        // place of the whole region, which leaves it as the chain says.
        m_unrestored.push_back(std::move(undo));
    }
    return hr;
}

HRESULT CPropertyHandler::PutBack(const std::vector<OverwrittenBytes>& undo) noexcept
{
    for (const OverwrittenBytes& bytes : undo) {
        const HRESULT hr = WriteRange(m_file.Stream(), bytes.offset, bytes.bytes);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

void CPropertyHandler::PutBackUnrestored() noexcept
{
    if (m_unrestored.empty()) {
        return;
    }
    // A destination that may still be pending would go in the file's place
    // with the stream's Commit below: it is dropped first.
    if (m_destinationOnly && FAILED(m_file.Stream()->Revert())) {
        return;
    }
    // The newest first: an older failed write's bytes are the older ones.
    // Only where the file still holds what the failed write left (each byte
    // the old one or the one being written): a file replaced since must not
    // take old bytes of another.
    for (auto undo = m_unrestored.rbegin(); undo != m_unrestored.rend(); ++undo) {
        bool left = true;
        for (const OverwrittenBytes& bytes : *undo) {
            std::vector<std::uint8_t> now;
            if (FAILED(ReadRange(m_file.Stream(), bytes.offset, bytes.bytes.size(), now))) {
                return;
            }
            for (std::size_t i = 0; i < now.size() && left; ++i) {
                left = now[i] == bytes.bytes[i] || now[i] == bytes.written[i];
            }
        }
        if (left && FAILED(PutBack(*undo))) {
            return;
        }
    }
    if (SUCCEEDED(m_file.Stream()->Commit(STGC_DEFAULT))) {
        m_unrestored.clear();
    }
}

HRESULT CPropertyHandler::WriteThroughDestination(bool fitsInPlace)
{
    ComPtr<IDestinationStreamFactory> factory;
    m_file.Stream()->QueryInterface(IID_IDestinationStreamFactory, &factory);
    if (!factory) {
        // Nothing can be pending on a stream that hands out no destination;
        // a region that a failed write left damaged is written in place again.
        return fitsInPlace && !m_destinationOnly ? WriteInPlace(/*wholeRegion=*/!m_unrestored.empty()) : E_NOINTERFACE;
    }
    bool handedOut = false;
    bool chainRewritten = false;
    HRESULT hr = WriteNewDestination(*factory.Get(), fitsInPlace, handedOut, chainRewritten);
    MetadataLayout layout;
    if (SUCCEEDED(hr)) {
        hr = GuardHResult([&]() -> HRESULT {
            layout = LayoutOf(m_file.Chain());
            return S_OK;
        });
    }
    if (SUCCEEDED(hr)) {
        hr = m_file.Stream()->Commit(STGC_DEFAULT);
        // The copy may be in the file's place even when the Commit failed (a
        // rename whose reply was lost): old bytes kept for the file that was
        // there must never land in it.
        m_unrestored.clear();
    }
    if (FAILED(hr)) {
        if (handedOut) {
            DropDestination(chainRewritten);
        }
        return hr;
    }
    m_destinationOnly = false;
    m_metadataBytes = ChainMetadataBytes(m_file.Chain());
    m_fileLayout = std::move(layout);
    return S_OK;
}

HRESULT CPropertyHandler::WriteNewDestination(IDestinationStreamFactory& factory, bool fitsInPlace, bool& handedOut,
                                              bool& chainRewritten)
{
    ComPtr<IStream> destination;
    const HRESULT hr = factory.GetDestinationStream(&destination);
    if (FAILED(hr)) {
        return hr;
    }
    handedOut = true;
    return destination ? WriteDestination(destination.Get(), fitsInPlace, chainRewritten) : E_UNEXPECTED;
}

void CPropertyHandler::DropDestination(bool chainRewritten) noexcept
{
    // The destination stays pending on the file stream, whose next Commit
    // would put it, unfinished or unwanted, in the file's place. Drop it;
    // and since that may have failed too, write only through fresh
    // destinations from now on.
    m_file.Stream()->Revert();
    m_destinationOnly = true;
    if (chainRewritten) {
        // libFLAC now takes the copy for the file; it is not. A file that a
        // failed write in place left damaged is read again only once its old
        // bytes are back (by the next Commit): what it holds now could read
        // as metadata of another length.
        if (m_unrestored.empty()) {
            ReadChainAgain();
        } else {
            m_chainStale = true;
        }
    }
}

HRESULT CPropertyHandler::WriteDestination(IStream* destination, bool fitsInPlace, bool& chainRewritten)
{
    BufferedStream target(destination, BufferedStream::kMetadataBlock);
    if (fitsInPlace) {
        // libFLAC writes metadata that fits only over the file it came from:
        // copy the file, then write the metadata into the copy.
        const HRESULT hr = CopyWholeStream(m_file.Stream(), destination);
        if (FAILED(hr)) {
            return StreamFailure(hr);
        }
        target.KnowSize(m_nonMetadataBytes + m_metadataBytes);
        if (!FLAC__metadata_chain_write_with_callbacks(m_file.Chain(), true, target.Handle(), BufferedIOCallbacks)) {
            target.Discard();
            return TakeChainStatus(m_file.Chain());
        }
    } else {
        // The audio is read and written a large block at a time.
        BufferedStream source(m_file.Stream(), BufferedStream::kLargeBlock);
        source.KnowSize(m_nonMetadataBytes + m_metadataBytes);
        chainRewritten = FLAC__metadata_chain_write_with_callbacks_and_tempfile(
            m_file.Chain(), true, source.Handle(), BufferedIOCallbacks, target.Handle(), BufferedIOCallbacks);
        if (!chainRewritten) {
            target.Discard();
            return TakeChainStatus(m_file.Chain());
        }
    }
    if (!target.Flush()) {
        return E_FAIL; // a write that failed, as libFLAC reports one
    }
    // libFLAC copies the audio until the stream says it is at the end; a
    // stream that fails while answering can end the copy early without an
    // error. The copy must hold everything that is not metadata, or it does
    // not replace the file.
    const ULONGLONG metadataBytes = ChainMetadataBytes(m_file.Chain());
    if (metadataBytes == 0) {
        return E_OUTOFMEMORY;
    }
    LARGE_INTEGER zero{};
    ULARGE_INTEGER written{};
    const HRESULT hr = destination->Seek(zero, STREAM_SEEK_END, &written);
    if (FAILED(hr)) {
        return StreamFailure(hr);
    }
    return written.QuadPart == m_nonMetadataBytes + metadataBytes ? S_OK : E_FAIL;
}

HRESULT CPropertyHandler::ReadChainAgain() noexcept
{
    const HRESULT hr = GuardHResult([&]() -> HRESULT {
        // The checks of Initialize: a truncated file, block lengths that
        // disagree with their contents, no STREAMINFO.
        FileLayout layout;
        HRESULT read = ReadChain(m_file.Stream(), layout);
        if (FAILED(read)) {
            return read;
        }
        MetadataBlocks blocks = FindMetadataBlocks();
        if (blocks.streamInfo == nullptr) {
            return E_FAIL;
        }
        layout.metadataBytes = blocks.bytes;
        TakeLayout(layout, blocks);
        return S_OK;
    });
    m_chainStale = FAILED(hr);
    return hr;
}
