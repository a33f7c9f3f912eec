#include "handler/property_handler.h"

#include "com/atl_exception.h"
#include "com/null_reference.h"
#include "flacio/block_length.h"
#include "flacio/buffered_stream.h"
#include "flacio/metadata_iterator.h"
#include "tags/bindings.h"
#include "tags/vorbis_comment.h"

#include <cstring>

CPropertyHandler::~CPropertyHandler()
{
    m_tags.clear();
    m_keys = KeyList();
}

HRESULT CPropertyHandler::FinalConstruct() noexcept
{
    return m_file.Create();
}

STDMETHODIMP CPropertyHandler::Initialize(IStream* stream, DWORD /*mode*/)
{
    return m_file.Initialize(stream, [&]() -> HRESULT {
        LARGE_INTEGER zero{};
        ULARGE_INTEGER size{};
        HRESULT hr = stream->Seek(zero, STREAM_SEEK_END, &size);
        if (FAILED(hr)) {
            return hr;
        }
        BufferedStream io(stream, BufferedStream::kMetadataBlock);
        io.KnowSize(size.QuadPart);
        io.KnowStreamPosition(size.QuadPart);
        hr = m_file.Read(io);
        if (FAILED(hr)) {
            return hr;
        }
        // libFLAC reads every block but PADDING, which it seeks over, so a
        // stream cut inside its padding reads as whole; the read ends after
        // the last block. Metadata that ends past the end of the stream is a
        // truncated file: its audio byte count would wrap around and a write
        // would add bytes that were never there.
        const ULONGLONG metadataEnd = static_cast<ULONGLONG>(io.Tell());
        if (metadataEnd > size.QuadPart) {
            return E_FAIL;
        }
        MetadataIterator iterator = NewChainIterator(m_file.Chain());
        if (!iterator) {
            return E_OUTOFMEMORY;
        }

        ULONGLONG metadataBytes = 0;
        bool lengthsMatch = true;
        const FLAC__StreamMetadata* streamInfo = nullptr;
        const FLAC__StreamMetadata* vorbisComment = nullptr;
        do {
            const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
            metadataBytes += block->length + 4ULL;
            lengthsMatch = lengthsMatch && LengthMatchesContents(*block);
            if (block->type == FLAC__METADATA_TYPE_STREAMINFO && streamInfo == nullptr) {
                streamInfo = block;
            } else if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && vorbisComment == nullptr) {
                vorbisComment = block;
            }
        } while (FLAC__metadata_iterator_next(iterator.get()));

        KeyList keys;
        keys.Reserve(16);
        keys.AddKey(PKEY_Audio_Format);
        keys.AddKey(PKEY_Audio_IsVariableBitRate);
        keys.AddKey(PKEY_DRM_IsProtected);
        if (streamInfo == nullptr) {
            return E_FAIL;
        }
        const ULONGLONG nonMetadataBytes = size.QuadPart - metadataBytes;
        hr = ReadStreamInfo(*this, *streamInfo, nonMetadataBytes, keys);
        if (FAILED(hr)) {
            return hr;
        }
        TagMap tags;
        if (vorbisComment != nullptr) {
            hr = ParseVorbisComment(*vorbisComment, keys, tags);
            if (FAILED(hr)) {
                return hr;
            }
        }

        m_keys.Swap(keys);
        m_tags.swap(tags);
        m_changed = false;
        m_metadataOffset = metadataEnd - metadataBytes;
        m_metadataBytes = metadataBytes;
        m_nonMetadataBytes = nonMetadataBytes;
        m_editedFields.clear();
        m_lengthsMismatch = !lengthsMatch;
        return S_OK;
    });
}

STDMETHODIMP CPropertyHandler::GetCount(DWORD* count)
{
    if (count == nullptr) {
        return E_INVALIDARG;
    }
    if (m_keys.Count() > 0xFFFFFFFFu) {
        return E_UNEXPECTED;
    }
    *count = static_cast<DWORD>(m_keys.Count());
    return S_OK;
}

STDMETHODIMP CPropertyHandler::GetAt(DWORD index, PROPERTYKEY* key)
{
    if (key == nullptr) {
        return E_INVALIDARG;
    }
    if (index >= m_keys.Count()) {
        std::memset(key, 0, sizeof(*key));
        return E_INVALIDARG;
    }
    *key = m_keys.At(index);
    return S_OK;
}

STDMETHODIMP CPropertyHandler::GetValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (value == nullptr) {
        return E_INVALIDARG;
    }
    if (IsNullReference(key)) {
        PropVariantInit(value);
        return E_POINTER;
    }
    if (const GetterBinding* row = FindGetter(key)) {
        return (this->*row->member)(value);
    }
    PropVariantInit(value);
    return S_OK;
}

STDMETHODIMP CPropertyHandler::SetValue(REFPROPERTYKEY key, REFPROPVARIANT value)
{
    if (IsNullReference(key) || IsNullReference(value)) {
        return E_POINTER;
    }
    if (const SetterBinding* row = FindSetter(key)) {
        return (this->*row->member)(value);
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
}

STDMETHODIMP CPropertyHandler::IsPropertyWritable(REFPROPERTYKEY key)
{
    if (IsNullReference(key)) {
        return E_POINTER;
    }
    return FindSetter(key) != nullptr ? S_OK : S_FALSE;
}
