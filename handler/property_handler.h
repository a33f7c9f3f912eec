// The property handler: one object per FLAC file, initialised with the file's
// stream. It lists the keys the file offers, answers their values, accepts new
// tag values and writes them back on Commit.
#pragma once

#include "com/co_class.h"
#include "flacio/stream_chain.h"
#include "handler/metadata_layout.h"
#include "propkeys/key_list.h"
#include "resources/identifiers.h"
#include "resources/resource_ids.h"
#include "tags/field_names.h"
#include "tags/tag_store.h"

#include <FLAC/metadata.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

class CPropertyHandler : public CComObjectRootEx<CComSingleThreadModel>,
                         public CComCoClass<CPropertyHandler, &CLSID_PropertyHandler>,
                         public IInitializeWithStream,
                         public IPropertyStore,
                         public IPropertyStoreCapabilities {
public:
    BEGIN_COM_MAP(CPropertyHandler)
    COM_INTERFACE_ENTRY(IInitializeWithStream)
    COM_INTERFACE_ENTRY(IPropertyStore)
    COM_INTERFACE_ENTRY(IPropertyStoreCapabilities)
    END_COM_MAP()

    DECLARE_REGISTRY_RESOURCEID(IDR_PROPERTYHANDLER)

    CPropertyHandler() = default;
    CPropertyHandler(const CPropertyHandler&) = delete;
    CPropertyHandler& operator=(const CPropertyHandler&) = delete;
    virtual ~CPropertyHandler();

    HRESULT FinalConstruct() noexcept;

    // IInitializeWithStream
    STDMETHOD(Initialize)(IStream* stream, DWORD mode) override;

    // IPropertyStore
    STDMETHOD(GetCount)(DWORD* count) override;
    STDMETHOD(GetAt)(DWORD index, PROPERTYKEY* key) override;
    STDMETHOD(GetValue)(REFPROPERTYKEY key, PROPVARIANT* value) override;
    STDMETHOD(SetValue)(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    STDMETHOD(Commit)() override;

    // IPropertyStoreCapabilities
    STDMETHOD(IsPropertyWritable)(REFPROPERTYKEY key) override;

    // Audio getters, bound to their keys in GetterTable.
    HRESULT GetAudioFormat(PROPVARIANT* value) noexcept;
    HRESULT GetMediaDuration(PROPVARIANT* value) noexcept;
    HRESULT GetAudioEncodingBitrate(PROPVARIANT* value) noexcept;
    HRESULT GetAudioSampleRate(PROPVARIANT* value) noexcept;
    HRESULT GetAudioSampleSize(PROPVARIANT* value) noexcept;
    HRESULT GetAudioChannelCount(PROPVARIANT* value) noexcept;
    HRESULT GetDrmIsProtected(PROPVARIANT* value) noexcept;
    HRESULT GetAudioIsVariableBitRate(PROPVARIANT* value) noexcept;

    // Tag getters and setters, bound to their keys in GetterTable and
    // SetterTable: one getter kind, or SetTagValues, over the property's
    // field-name list.
    template <const FieldNameList& Names> HRESULT GetTagStringOf(PROPVARIANT* value) noexcept
    {
        return GetTagString(Names, value);
    }
    template <const FieldNameList& Names> HRESULT GetTagStringVectorOf(PROPVARIANT* value) noexcept
    {
        return GetTagStringVector(Names, value);
    }
    template <const FieldNameList& Names> HRESULT GetTagUInt32Of(PROPVARIANT* value) noexcept
    {
        return GetTagUInt32(Names, value);
    }
    template <const FieldNameList& Names> HRESULT SetTagValuesOf(const PROPVARIANT& value) noexcept
    {
        return SetTagValues(Names, value);
    }

private:
    // Where the metadata stands in the stream, as Initialize finds it.
    struct FileLayout {
        ULONGLONG streamBytes = 0;   // the whole stream
        ULONGLONG metadataEnd = 0;   // the offset just past the last block
        ULONGLONG metadataBytes = 0; // all blocks, headers included
    };
    // What one walk over the chain's blocks finds.
    struct MetadataBlocks {
        ULONGLONG bytes = 0;                                 // all blocks, headers included
        bool lengthsMatch = true;                            // every header length matches its contents
        const FLAC__StreamMetadata* streamInfo = nullptr;    // the first of its type
        const FLAC__StreamMetadata* vorbisComment = nullptr; // the first of its type
        MetadataLayout placed;                               // every block, where it stands
    };

    // Initialize's steps. ReadMetadata reads the file through the others and,
    // only when all succeed, takes what they found in place of what the
    // handler held.
    HRESULT ReadMetadata(IStream* stream);
    // Reads the chain and where it ends; E_FAIL for metadata that runs past
    // the end of the stream (a truncated file).
    HRESULT ReadChain(IStream* stream, FileLayout& layout);
    // Walks the chain once; throws E_OUTOFMEMORY when it cannot.
    MetadataBlocks FindMetadataBlocks() const;
    // Lists the keys the file offers, stores the audio values and parses the
    // tags; E_FAIL for a file without STREAMINFO.
    HRESULT ReadProperties(const MetadataBlocks& blocks, ULONGLONG nonMetadataBytes, KeyList& keys, TagStore& tags);
    // Puts what was read in place of what the handler held, and forgets the
    // edits made since the last read.
    void TakeFile(const FileLayout& layout, MetadataBlocks& blocks, KeyList& keys, TagStore& tags);
    // Takes where the chain just read stands in the file, as the walk over
    // its blocks found it.
    void TakeLayout(const FileLayout& layout, MetadataBlocks& blocks) noexcept;

    // The stored values as Vorbis comment entries NAME=value, in the
    // store's order; throws E_INVALIDARG for a value no legal comment can hold.
    std::vector<std::string> CommentEntries() const;
    // Puts `entries` into the chain's VORBIS_COMMENT block (made when there is
    // none) and gathers the padding at the end.
    HRESULT RebuildVorbisComment(const std::vector<std::string>& entries);
    // Replaces the block's comments with `entries`, keeping those the store
    // could not hold unless an edit since Initialize replaced their field.
    HRESULT BuildVorbisComment(FLAC__StreamMetadata& block, const std::vector<std::string>& entries) noexcept;
    // Commit's steps. CheckWritable refuses a handler that read nothing or
    // read metadata it must not write back; PutTagsIntoChain reads the chain
    // again if it may be stale and rebuilds its VORBIS_COMMENT block from the
    // store; WriteChain writes in place when the metadata fits and nothing
    // forbids it, else through a destination stream.
    HRESULT CheckWritable() const noexcept;
    HRESULT PutTagsIntoChain();
    HRESULT WriteChain();
    // Bytes a write in place overwrote, where they were, and what the write
    // put there.
    struct OverwrittenBytes {
        ULONGLONG offset = 0;
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint8_t> written;
    };
    // One window of the region a write in place sends, with what puts it
    // back; `addsComment` when it holds the new comment block.
    struct RegionWrite {
        ULONGLONG offset = 0;
        std::vector<std::uint8_t> bytes;
        std::vector<OverwrittenBytes> undo;
        bool addsComment = false;
    };
    // Lets libFLAC settle the padding at the end as a write in place would,
    // without writing.
    HRESULT SettlePadding();
    // The windows of the region that change on the way to `layout` (the
    // chain's), as libFLAC writes them, the one
    // that adds the comment block first: only the bytes that differ from the
    // file where its old bytes were read. All of the region when
    // `wholeRegion`.
    std::vector<RegionWrite> GatherRegionWrites(const MetadataLayout& layout, bool wholeRegion, HRESULT& hr);
    // Overwrites the metadata where it stands, sending only the windows that
    // change (all of the region when `wholeRegion`); on failure puts back
    // what was there.
    HRESULT WriteInPlace(bool wholeRegion);
    HRESULT PutBack(const std::vector<OverwrittenBytes>& undo) noexcept;
    // Puts back the bytes that failed writes in place could not, where the
    // file still holds what those writes left, and commits the stream;
    // forgets them once that worked.
    void PutBackUnrestored() noexcept;
    // Writes the new file into a destination stream from the property
    // system, which the file stream's Commit puts in place: libFLAC's rewrite
    // when the metadata outgrows its room, else a copy of the file with the
    // metadata written into it.
    HRESULT WriteThroughDestination(bool fitsInPlace);
    // Asks the factory for a destination and writes the new file into it,
    // letting go of the destination before it returns, so that nothing of
    // ours keeps it open when the file stream's Commit puts it in place.
    // `handedOut` tells whether a destination was obtained (and may now be
    // pending on the file stream).
    HRESULT WriteNewDestination(IDestinationStreamFactory& factory, bool fitsInPlace, bool& handedOut,
                                bool& chainRewritten);
    // After a failed write through a destination: drops the pending
    // destination and writes only through fresh ones from now on.
    void DropDestination(bool chainRewritten) noexcept;
    HRESULT WriteDestination(IStream* destination, bool fitsInPlace, bool& chainRewritten);
    // Reads the chain again from the stream, so that it describes the file as
    // it is, with the checks of Initialize; on failure the handler refuses to
    // write until a read succeeds.
    HRESULT ReadChainAgain() noexcept;

    // The first non-empty value (UTF-8) of `names`, earlier names first;
    // empty when there is none. Valid until the store changes.
    std::string_view FirstTagValue(FieldNameList names) const noexcept;

    // The first value, as VT_LPWSTR.
    HRESULT GetTagString(FieldNameList names, PROPVARIANT* value) noexcept;
    // All values, one per element, as VT_VECTOR | VT_LPWSTR.
    HRESULT GetTagStringVector(FieldNameList names, PROPVARIANT* value) noexcept;
    // The first value read as a decimal number, as VT_UI4.
    HRESULT GetTagUInt32(FieldNameList names, PROPVARIANT* value) noexcept;
    // Stores the texts of `value` under the first name and removes the other
    // names; a value without texts removes all names.
    HRESULT SetTagValues(FieldNameList names, const PROPVARIANT& value) noexcept;

    friend HRESULT ReadStreamInfo(CPropertyHandler& handler, const FLAC__StreamMetadata& streamInfo,
                                  ULONGLONG audioBytes, KeyList& keys) noexcept;

    StreamChain m_file;
    KeyList m_keys;
    bool m_changed = false;
    ULONG m_channels = 0;
    ULONG m_sampleRate = 0;
    ULONG m_bitsPerSample = 0;
    ULONGLONG m_totalSamples = 0;
    ULONGLONG m_duration = 0;
    ULONG m_bitRate = 0;
    TagStore m_tags;
    // Where the metadata blocks stand in the file, and how many bytes they
    // take: what an in-place write overwrites.
    ULONGLONG m_metadataOffset = 0;
    ULONGLONG m_metadataBytes = 0;
    // Everything in the stream that is not a metadata block (the marker, an
    // ID3v2 tag in front of it, the audio frames): a rewrite must carry all of
    // it over.
    ULONGLONG m_nonMetadataBytes = 0;
    // The blocks as the file holds them, which a write in place compares the
    // chain with.
    MetadataLayout m_fileLayout;
    // Set when the chain may not describe the file (a read after a failed
    // rewrite failed); the next Commit reads it again first.
    bool m_chainStale = false;
    // Set when a destination stream may still be pending on the file stream
    // (a Commit failed after one was handed out): the file stream's Commit
    // could then put it in place, so every later write goes through a fresh,
    // complete destination until one has been committed.
    bool m_destinationOnly = false;
    // What failed in-place writes could not put back, oldest first: the
    // metadata region may hold part of new metadata. Each Commit first tries
    // to put these bytes back; a complete copy mends the file too where the
    // stream hands out destinations, and else a write in place, which leaves
    // the whole region as the chain says.
    std::vector<std::vector<OverwrittenBytes>> m_unrestored;
    // Upper-case field names that an edit since Initialize replaced or
    // removed; comments under them that the store could not hold are dropped.
    std::set<std::string> m_editedFields;
    // Set when a block's header length disagrees with the contents libFLAC
    // read (LengthMatchesContents): the handler shows what it read but
    // refuses to write it back.
    bool m_lengthsMismatch = false;
};

// Stores the audio values of the STREAMINFO block in the handler and lists
// the audio keys in `keys`.
HRESULT ReadStreamInfo(CPropertyHandler& handler, const FLAC__StreamMetadata& streamInfo, ULONGLONG audioBytes,
                       KeyList& keys) noexcept;
