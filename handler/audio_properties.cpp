#include "com/atl_exception.h"
#include "handler/property_handler.h"

namespace {

void SetUInt32(PROPVARIANT* value, ULONG number) noexcept
{
    value->vt = VT_UI4;
    value->ulVal = number;
}

void SetBool(PROPVARIANT* value, bool flag) noexcept
{
    value->vt = VT_BOOL;
    value->boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
}

} // namespace

HRESULT ReadStreamInfo(CPropertyHandler& handler, const FLAC__StreamMetadata& streamInfo, ULONGLONG audioBytes,
                       KeyList& keys) noexcept
{
    const FLAC__StreamMetadata_StreamInfo& info = streamInfo.data.stream_info;
    handler.m_channels = info.channels;
    handler.m_sampleRate = info.sample_rate;
    handler.m_bitsPerSample = info.bits_per_sample;
    handler.m_totalSamples = info.total_samples;
    // A 36-bit sample count times 10^7 fits in 64 bits.
    handler.m_duration = handler.m_sampleRate == 0 ? 0 : handler.m_totalSamples * 10000000ULL / handler.m_sampleRate;
    // The product wraps modulo 2^64 for absurd sizes; the result is cut to
    // 32 bits as the property is.
    handler.m_bitRate =
        handler.m_totalSamples == 0
            ? 0
            : static_cast<ULONG>(ULONGLONG{handler.m_sampleRate} * audioBytes * 8ULL / handler.m_totalSamples);
    return GuardHResult([&]() -> HRESULT {
        keys.AddKey(PKEY_Audio_ChannelCount);
        keys.AddKey(PKEY_Audio_SampleRate);
        keys.AddKey(PKEY_Audio_SampleSize);
        if (handler.m_sampleRate != 0) {
            keys.AddKey(PKEY_Media_Duration);
            keys.AddKey(PKEY_Audio_EncodingBitrate);
        }
        return S_OK;
    });
}

HRESULT CPropertyHandler::GetAudioFormat(PROPVARIANT* value) noexcept
{
    value->vt = VT_LPWSTR;
    const HRESULT hr = SHStrDupW(L"FLAC", &value->pwszVal);
    if (FAILED(hr)) {
        PropVariantInit(value);
    }
    return hr;
}

HRESULT CPropertyHandler::GetMediaDuration(PROPVARIANT* value) noexcept
{
    value->vt = VT_UI8;
    value->uhVal.QuadPart = m_duration;
    return S_OK;
}

HRESULT CPropertyHandler::GetAudioEncodingBitrate(PROPVARIANT* value) noexcept
{
    SetUInt32(value, m_bitRate);
    return S_OK;
}

HRESULT CPropertyHandler::GetAudioSampleRate(PROPVARIANT* value) noexcept
{
    SetUInt32(value, m_sampleRate);
    return S_OK;
}

HRESULT CPropertyHandler::GetAudioSampleSize(PROPVARIANT* value) noexcept
{
    SetUInt32(value, m_bitsPerSample);
    return S_OK;
}

HRESULT CPropertyHandler::GetAudioChannelCount(PROPVARIANT* value) noexcept
{
    SetUInt32(value, m_channels);
    return S_OK;
}

HRESULT CPropertyHandler::GetDrmIsProtected(PROPVARIANT* value) noexcept
{
    SetBool(value, false);
    return S_OK;
}

HRESULT CPropertyHandler::GetAudioIsVariableBitRate(PROPVARIANT* value) noexcept
{
    SetBool(value, true);
    return S_OK;
}
