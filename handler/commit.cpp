// Writing the tag map back into the file: the VORBIS_COMMENT block is rebuilt
// from the map, the padding gathered at the end, and libFLAC writes the chain
// in place when the padding absorbs the change, or else rewrites the whole
// stream into the destination stream the property system provides. After a
// failure once a destination was handed out, every write goes through a
// fresh destination until one has been committed. A write in place sends
// only the bytes that change. One that could not be undone keeps the bytes
// it could not put back, and every later Commit first tries again to put
// them back; until that works, a complete copy or, on a stream that hands
// out no destination, the next write in place mends the file.
#include "com/atl_exception.h"
#include "flacio/buffered_stream.h"
#include "flacio/changed_spans.h"
#include "flacio/metadata_iterator.h"
#include "flacio/stream_io.h"
#include "flacio/stream_range.h"
#include "handler/block_placement.h"
#include "handler/property_handler.h"
#include "tags/utf8.h"

#include <algorithm>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

bool IsLegalEntry(const FLAC__StreamMetadata_VorbisComment_Entry& entry) noexcept
{
    return FLAC__format_vorbiscomment_entry_is_legal(entry.entry, entry.length) != 0;
}

// The field name of a comment, upper-cased as the map holds names; empty
// when the comment has no "=".
std::string UpperFieldName(const FLAC__StreamMetadata_VorbisComment_Entry& entry)
{
    const auto* const begin = reinterpret_cast<const char*>(entry.entry);
    const auto* const end = begin + entry.length;
    const auto* const equals = std::find(begin, end, '=');
    std::string name(begin, equals == end ? begin : equals);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
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
    for (const auto& [name, values] : m_tags) {
        for (const std::wstring& value : values) {
            std::string entry = name;
            entry += '=';
            entry += WideToUtf8(value);
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
    }
    return entries;
}

HRESULT CPropertyHandler::BuildVorbisComment(FLAC__StreamMetadata& block,
                                             const std::vector<std::string>& entries) noexcept
{
    return GuardHResult([&]() -> HRESULT {
        // Comments the map never held (they are not legal Vorbis comments, so
        // the reader skipped them) stay as they are, unless the user has since
        // replaced or removed their field: other programs would show the old
        // value again. Every legal comment is rebuilt from the map.
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
        if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && vorbisComment == nullptr) {
            vorbisComment = block;
            oldLength = block->length;
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
    const HRESULT hr = m_chainStale ? ReadChainAgain() : S_OK;
    if (FAILED(hr)) {
        return hr;
    }
    return RebuildVorbisComment(CommentEntries());
}

HRESULT CPropertyHandler::WriteChain()
{
    const bool fitsInPlace = !FLAC__metadata_chain_check_if_tempfile_needed(m_file.Chain(), /*use_padding=*/true);
    return fitsInPlace && !m_destinationOnly && m_unrestored.empty() ? WriteInPlace()
                                                                     : WriteThroughDestination(fitsInPlace);
}

HRESULT CPropertyHandler::WriteInPlace()
{
    // A write that fails part way, or a Commit of the stream that fails after
    // it, would leave the file half old and half new: keep what is
    // overwritten, to put it back. The old bytes also tell which bytes
    // change: only those are sent.
    std::vector<std::uint8_t> previous;
    HRESULT hr = ReadRange(m_file.Stream(), m_metadataOffset, m_metadataBytes, previous);
    if (FAILED(hr)) {
        return StreamFailure(hr);
    }
    BufferedStream io(m_file.Stream(), BufferedStream::kMetadataBlock, BufferedStream::kWholeWrite);
    io.KnowSize(m_nonMetadataBytes + m_metadataBytes);
    std::vector<ByteSpan> written;
    if (!FLAC__metadata_chain_write_with_callbacks(m_file.Chain(), true, io.Handle(), BufferedIOCallbacks)) {
        // What libFLAC gathered before it failed never reaches the file.
        hr = TakeChainStatus(m_file.Chain());
        io.Discard();
    } else if (!io.WroteToStream() && io.GatheredStart() == m_metadataOffset &&
               io.Gathered().size() == previous.size()) {
        written = ChangedSpans(previous.data(), io.Gathered().data(), previous.size());
        hr = WriteSpans(io.Gathered(), written);
        io.Discard();
    } else {
        // libFLAC wrote elsewhere than over the metadata it read: sent as it
        // was written.
        hr = io.Flush() ? S_OK : E_FAIL; // a write that failed, as libFLAC reports one
    }
    if (io.WroteToStream()) {
        written.assign(1, ByteSpan{0, previous.size()});
    }
    if (SUCCEEDED(hr)) {
        // A stream's own success code (S_FALSE) is not this Commit's.
        hr = m_file.Stream()->Commit(STGC_DEFAULT);
        hr = FAILED(hr) ? hr : S_OK;
    }
    if (SUCCEEDED(hr)) {
        // Every byte of the region is now what the chain says.
        m_unrestored.clear();
        return S_OK;
    }
    if (!written.empty()) {
        std::vector<OverwrittenBytes> undo;
        for (const ByteSpan& span : written) {
            const auto* const first = previous.data() + span.offset;
            undo.push_back({m_metadataOffset + span.offset, std::vector<std::uint8_t>(first, first + span.length)});
        }
        if (FAILED(PutBack(undo))) {
            // The file may hold part of the new metadata. Every later Commit
            // tries first to put these bytes back; meanwhile a complete copy
            // written from the chain mends the file, and so does a write in
            // place, which leaves the whole region as the chain says.
            m_unrestored.push_back(std::move(undo));
        }
    }
    return hr;
}

HRESULT CPropertyHandler::WriteSpans(const std::vector<std::uint8_t>& bytes, const std::vector<ByteSpan>& spans)
{
    // The last span first: where the comment block moved into the padding at
    // the end, a file stopped between the two writes holds it twice, and
    // readers take the first, the old one.
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        const auto* const first = bytes.data() + span->offset;
        const HRESULT hr = WriteRange(m_file.Stream(), m_metadataOffset + span->offset,
                                      std::vector<std::uint8_t>(first, first + span->length));
        if (FAILED(hr)) {
            return StreamFailure(hr);
        }
    }
    return S_OK;
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
    for (auto undo = m_unrestored.rbegin(); undo != m_unrestored.rend(); ++undo) {
        if (FAILED(PutBack(*undo))) {
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
        return fitsInPlace && !m_destinationOnly ? WriteInPlace() : E_NOINTERFACE;
    }
    bool handedOut = false;
    bool chainRewritten = false;
    HRESULT hr = WriteNewDestination(*factory.Get(), fitsInPlace, handedOut, chainRewritten);
    if (SUCCEEDED(hr)) {
        hr = m_file.Stream()->Commit(STGC_DEFAULT);
    }
    if (FAILED(hr)) {
        if (handedOut) {
            DropDestination(chainRewritten);
        }
        return hr;
    }
    m_destinationOnly = false;
    m_unrestored.clear();
    m_metadataBytes = ChainMetadataBytes(m_file.Chain());
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
    BufferedStream io(m_file.Stream(), BufferedStream::kMetadataBlock);
    const HRESULT hr = m_file.Read(io);
    m_chainStale = FAILED(hr);
    if (m_chainStale) {
        return hr;
    }
    m_metadataBytes = ChainMetadataBytes(m_file.Chain());
    return S_OK;
}
