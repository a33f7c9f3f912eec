// The property handler: one object per FLAC file, initialised with the file's
// stream. It lists the keys the file offers, answers their values, accepts new
// tag values and writes them back on Commit.
#pragma once

#include "com/co_class.h"
#include "handler/key_list.h"
#include "server/identifiers.h"
#include "tags/tag_map.h"

#include <FLAC/metadata.h>

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

private:
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
};

// Stores the audio values of the STREAMINFO block in the handler and lists
// the audio keys in `keys`.
HRESULT ReadStreamInfo(CPropertyHandler& handler, const FLAC__StreamMetadata& streamInfo, ULONGLONG audioBytes,
                       KeyList& keys) noexcept;
