// Writing the tag map back into the file: the VORBIS_COMMENT block is rebuilt
// from the map, the padding gathered at the end, and libFLAC writes the chain
// in place when the padding absorbs the change, or else rewrites the whole
// stream into the destination stream the property system provides.
#include "com/atl_exception.h"
#include "com/scoped_interface.h"
#include "flacio/metadata_iterator.h"
#include "flacio/stream_io.h"
#include "handler/property_handler.h"
#include "tags/utf8.h"

namespace {

bool IsLegalEntry(const FLAC__StreamMetadata_VorbisComment_Entry& entry) noexcept
{
    return FLAC__format_vorbiscomment_entry_is_legal(entry.entry, entry.length) != 0;
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
            if (entry.size() > 0xFFFFFFFFu) {
                AtlThrow(E_UNEXPECTED);
            }
            const auto bytes = reinterpret_cast<const FLAC__byte*>(entry.data());
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
    // Comments the map never held (they are not legal Vorbis comments, so the
    // reader skipped them) stay as they are; every legal one is rebuilt from
    // the map.
    FLAC__StreamMetadata_VorbisComment& comments = block.data.vorbis_comment;
    for (FLAC__uint32 i = comments.num_comments; i-- > 0;) {
        if (IsLegalEntry(comments.comments[i]) && !FLAC__metadata_object_vorbiscomment_delete_comment(&block, i)) {
            return E_OUTOFMEMORY;
        }
    }
    for (const std::string& text : entries) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        entry.length = static_cast<FLAC__uint32>(text.size());
        entry.entry = reinterpret_cast<FLAC__byte*>(const_cast<char*>(text.data()));
        if (!FLAC__metadata_object_vorbiscomment_append_comment(&block, entry, /*copy=*/true)) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

STDMETHODIMP CPropertyHandler::Commit()
{
    if (!m_changed) {
        return S_OK;
    }
    if (m_stream == nullptr || m_chainStale) {
        // Nothing was read (or what was read no longer matches the stream),
        // so there is nothing safe to write into.
        return E_UNEXPECTED;
    }
    if (m_lengthsMismatch) {
        // Bad metadata: libFLAC would write blocks whose lengths differ from
        // what their headers say, and overwrite or drop audio bytes.
        return E_FAIL;
    }
    return GuardHResult([&]() -> HRESULT {
        const std::vector<std::string> entries = CommentEntries();

        MetadataIterator iterator = NewChainIterator(m_chain);
        if (!iterator) {
            return E_OUTOFMEMORY;
        }
        FLAC__StreamMetadata* vorbisComment = nullptr;
        do {
            FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
            if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && vorbisComment == nullptr) {
                vorbisComment = block;
            }
        } while (FLAC__metadata_iterator_next(iterator.get()));

        if (vorbisComment == nullptr) {
            // A new block carries the vendor string of the linked libFLAC and
            // goes after the last block; sorting the padding below moves it
            // in front of the padding.
            vorbisComment = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
            if (vorbisComment == nullptr) {
                return E_OUTOFMEMORY;
            }
            if (!FLAC__metadata_iterator_insert_block_after(iterator.get(), vorbisComment)) {
                FLAC__metadata_object_delete(vorbisComment);
                return E_FAIL;
            }
        }

        HRESULT hr = BuildVorbisComment(*vorbisComment, entries);
        if (FAILED(hr)) {
            return hr;
        }
        FLAC__metadata_chain_sort_padding(m_chain);

        if (!FLAC__metadata_chain_check_if_tempfile_needed(m_chain, /*use_padding=*/true)) {
            if (!FLAC__metadata_chain_write_with_callbacks(m_chain, true, AsIOHandle(m_stream), StreamIOCallbacks)) {
                return TakeChainStatus(m_chain);
            }
            hr = m_stream->Commit(STGC_DEFAULT);
        } else {
            hr = RewriteIntoDestination();
        }
        if (FAILED(hr)) {
            return hr;
        }
        m_changed = false;
        return S_OK;
    });
}

HRESULT CPropertyHandler::RewriteIntoDestination()
{
    ScopedInterface<IDestinationStreamFactory> factory;
    m_stream->QueryInterface(IID_IDestinationStreamFactory, factory.PutVoid());
    if (factory.Get() == nullptr) {
        return E_NOINTERFACE;
    }
    ScopedInterface<IStream> destination;
    HRESULT hr = factory->GetDestinationStream(&destination);
    if (FAILED(hr)) {
        return hr;
    }
    if (destination.Get() == nullptr) {
        return E_UNEXPECTED;
    }
    if (!FLAC__metadata_chain_write_with_callbacks_and_tempfile(m_chain, true, AsIOHandle(m_stream), StreamIOCallbacks,
                                                                AsIOHandle(destination.Get()), StreamIOCallbacks)) {
        return TakeChainStatus(m_chain);
    }

    // libFLAC copies the audio until the stream says it is at the end; a
    // stream that fails while answering can end the copy early without an
    // error. The copy must hold everything that is not metadata, or it does
    // not replace the file.
    ULONGLONG metadataBytes = 0;
    MetadataIterator iterator = NewChainIterator(m_chain);
    if (!iterator) {
        hr = E_OUTOFMEMORY;
    } else {
        do {
            metadataBytes += FLAC__metadata_iterator_get_block(iterator.get())->length + 4ULL;
        } while (FLAC__metadata_iterator_next(iterator.get()));
        LARGE_INTEGER zero{};
        ULARGE_INTEGER written{};
        hr = destination->Seek(zero, STREAM_SEEK_END, &written);
        if (SUCCEEDED(hr) && written.QuadPart != m_nonMetadataBytes + metadataBytes) {
            hr = E_FAIL;
        }
    }
    // The copy is finished: let go of it before the commit that puts it in
    // the file's place, so that nothing of ours keeps it open.
    destination.Reset();
    factory.Reset();
    if (SUCCEEDED(hr)) {
        hr = m_stream->Commit(STGC_DEFAULT);
    }
    if (FAILED(hr)) {
        // libFLAC now takes the copy for the file; it is not.
        ResyncChainWithStream();
    }
    return hr;
}

void CPropertyHandler::ResyncChainWithStream() noexcept
{
    if (!FLAC__metadata_chain_read_with_callbacks(m_chain, AsIOHandle(m_stream), StreamIOCallbacks)) {
        FLAC__metadata_chain_status(m_chain);
        m_chainStale = true;
    }
}
