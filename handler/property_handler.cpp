#include "handler/property_handler.h"

#include "com/atl_exception.h"
#include "com/null_reference.h"
#include "flacio/block_length.h"
#include "flacio/buffered_stream.h"
#include "handler/property_bindings.h"
#include "tags/vorbis_comment.h"

#include <cstring>

CPropertyHandler::~CPropertyHandler()
{
    m_tags.Clear();
    m_keys = KeyList();
}

HRESULT CPropertyHandler::FinalConstruct() noexcept
{
    return m_file.Create();
}

STDMETHODIMP CPropertyHandler::Initialize(IStream* stream, DWORD /*mode*/)
{
    return m_file.Initialize(stream, [&]() { return ReadMetadata(stream); });
}

HRESULT CPropertyHandler::ReadMetadata(IStream* stream)
{
    FileLayout layout;
    HRESULT hr = ReadChain(stream, layout);
    if (FAILED(hr)) {
        return hr;
    }
    MetadataBlocks blocks = FindMetadataBlocks();
    layout.metadataBytes = blocks.bytes;
    KeyList keys;
    TagStore tags;
    hr = ReadProperties(blocks, layout.streamBytes - blocks.bytes, keys, tags);
    if (FAILED(hr)) {
        return hr;
    }
    TakeFile(layout, blocks, keys, tags);
    return S_OK;
}

HRESULT CPropertyHandler::ReadChain(IStream* stream, FileLayout& layout)
{
    LARGE_INTEGER zero{};
    ULARGE_INTEGER size{};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_END, &size);
    if (FAILED(hr)) {
        return hr;
    }
    BufferedStream io(stream, BufferedStream::kMetadataBlock);
    io.StartWith(BufferedStream::kFirstMetadataBlock);
    io.KnowSize(size.QuadPart);
    io.KnowStreamPosition(size.QuadPart);
    hr = m_file.Read(io);
    if (FAILED(hr)) {
        return hr;
    }
    // libFLAC reads every block but PADDING, which it seeks over, so a
    // stream cut inside its padding reads as whole; the read ends after the
    // last block. Metadata that ends past the end of the stream is a
    // truncated file: its audio byte count would wrap around and a write
    // would add bytes that were never there.
    layout.streamBytes = size.QuadPart;
    layout.metadataEnd = static_cast<ULONGLONG>(io.Tell());
    return layout.metadataEnd > layout.streamBytes ? E_FAIL : S_OK;
}

CPropertyHandler::MetadataBlocks CPropertyHandler::FindMetadataBlocks() const
{
    MetadataBlocks blocks;
    blocks.placed = LayoutOf(m_file.Chain());
    for (const PlacedBlock& placed : blocks.placed) {
        const FLAC__StreamMetadata* block = placed.block;
        blocks.bytes += block->length + 4ULL;
        blocks.lengthsMatch = blocks.lengthsMatch && LengthMatchesContents(*block);
        if (block->type == FLAC__METADATA_TYPE_STREAMINFO && blocks.streamInfo == nullptr) {
            blocks.streamInfo = block;
        } else if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && blocks.vorbisComment == nullptr) {
            blocks.vorbisComment = block;
        }
    }
    return blocks;
}

HRESULT CPropertyHandler::ReadProperties(const MetadataBlocks& blocks, ULONGLONG nonMetadataBytes, KeyList& keys,
                                         TagStore& tags)
{
    keys.Reserve(16);
    keys.AddKey(PKEY_Audio_Format);
    keys.AddKey(PKEY_Audio_IsVariableBitRate);
    keys.AddKey(PKEY_DRM_IsProtected);
    if (blocks.streamInfo == nullptr) {
        return E_FAIL;
    }
    const HRESULT hr = ReadStreamInfo(*this, *blocks.streamInfo, nonMetadataBytes, keys);
    if (FAILED(hr) || blocks.vorbisComment == nullptr) {
        return hr;
    }
    return ParseVorbisComment(*blocks.vorbisComment, keys, tags);
}

void CPropertyHandler::TakeFile(const FileLayout& layout, MetadataBlocks& blocks, KeyList& keys, TagStore& tags)
{
    TakeLayout(layout, blocks);
    m_keys.Swap(keys);
    m_tags.Swap(tags);
    m_changed = false;
    m_editedFields.clear();
}

void CPropertyHandler::TakeLayout(const FileLayout& layout, MetadataBlocks& blocks) noexcept
{
    m_fileLayout.swap(blocks.placed);
    m_metadataOffset = layout.metadataEnd - layout.metadataBytes;
    m_metadataBytes = layout.metadataBytes;
    m_nonMetadataBytes = layout.streamBytes - layout.metadataBytes;
    m_lengthsMismatch = !blocks.lengthsMatch;
}

STDMETHODIMP CPropertyHandler::GetCount(DWORD* count)
{
    if (count == nullptr) {
        return E_INVALIDARG;
    }
    if (m_keys.Count() > 0xFFFFFFFFU) {
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
