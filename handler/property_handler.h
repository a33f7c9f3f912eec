// The property handler: one object per FLAC file, initialised with the file's
// stream. It lists the keys the file offers, answers their values, accepts new
// tag values and writes them back on Commit.
#pragma once

#include "com/co_class.h"
#include "handler/key_list.h"
#include "server/identifiers.h"
#include "tags/field_names.h"
#include "tags/tag_map.h"

#include <FLAC/metadata.h>

#include <string>
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

    DECLARE_REGISTRY_RESOURCEID(102)

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
    // The map's values as Vorbis comment entries NAME=value, in map order;
    // throws E_INVALIDARG for a value no legal comment can hold.
    std::vector<std::string> CommentEntries() const;
    // Replaces the block's legal comments with `entries`.
    HRESULT BuildVorbisComment(FLAC__StreamMetadata& block, const std::vector<std::string>& entries) noexcept;
    // Rewrites the whole stream into the property system's destination stream.
    HRESULT RewriteIntoDestination();
    // Reads the chain again from the stream after a rewrite that did not
    // replace the file, so that a later Commit starts from the file as it is.
    void ResyncChainWithStream() noexcept;
    // References to tag values owned by m_tags; valid until the map changes.
    using TagValueRefs = std::vector<PCWSTR>;

    // Appends a reference to every non-empty value stored under `name`.
    void CollectTagValues(const char* name, TagValueRefs& list) const;
    // The non-empty values of all `names`, earlier names first.
    TagValueRefs GatherTagValues(FieldNameList names) const;

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

    IStream* m_stream = nullptr;
    FLAC__Metadata_Chain* m_chain = nullptr;
    KeyList m_keys;
    bool m_changed = false;
    ULONG m_channels = 0;
    ULONG m_sampleRate = 0;
    ULONG m_bitsPerSample = 0;
    ULONGLONG m_totalSamples = 0;
    ULONGLONG m_duration = 0;
    ULONG m_bitRate = 0;
    TagMap m_tags;
    // Everything in the stream that is not a metadata block (the marker, an
    // ID3v2 tag in front of it, the audio frames): a rewrite must carry all of
    // it over.
    ULONGLONG m_nonMetadataBytes = 0;
    // Set when the chain could not be brought back in line with the stream
    // after a failed rewrite; the handler then refuses to write.
    bool m_chainStale = false;
    // Set when a block's header length disagrees with the contents libFLAC
    // read (LengthMatchesContents): the handler shows what it read but
    // refuses to write it back.
    bool m_lengthsMismatch = false;
};

// Stores the audio values of the STREAMINFO block in the handler and lists
// the audio keys in `keys`.
HRESULT ReadStreamInfo(CPropertyHandler& handler, const FLAC__StreamMetadata& streamInfo, ULONGLONG audioBytes,
                       KeyList& keys) noexcept;
