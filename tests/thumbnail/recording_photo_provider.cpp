#include "tests/thumbnail/recording_photo_provider.h"

#include "tests/support/com_helpers.h"
#include "thumbnail/photo_thumbnail_clsid.h"
#include "tools/common/unknown_object.h"

#include <new>

namespace {

RecordingBehaviour g_behaviour;
RecordedCalls g_calls;
LONG g_liveObjects = 0;

class RecordingObject final : public UnknownObject<IInitializeWithStream, IThumbnailProvider> {
public:
    RecordingObject() { ++g_liveObjects; }
    ~RecordingObject() override { --g_liveObjects; }

    // Reads everything the stream holds and keeps a reference to it, as a
    // provider that decodes lazily would.
    STDMETHOD(Initialize)(IStream* stream, DWORD mode) override
    {
        ++g_calls.initializeCalls;
        g_calls.mode = mode;
        g_calls.bytes.clear();
        std::uint8_t buffer[4096];
        ULONG got = 0;
        while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got != 0) {
            if (g_behaviour.keepBytes) {
                g_calls.bytes.insert(g_calls.bytes.end(), buffer, buffer + got);
            }
        }
        if (FAILED(g_behaviour.initializeResult)) {
            return g_behaviour.initializeResult;
        }
        m_stream = stream;
        return g_behaviour.initializeResult;
    }

    STDMETHOD(GetThumbnail)(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override
    {
        ++g_calls.thumbnailCalls;
        g_calls.cx = cx;
        *bitmap = g_behaviour.thumbnailBitmap;
        *alpha = g_behaviour.thumbnailAlpha;
        return g_behaviour.thumbnailResult;
    }

protected:
    // Each interface only where the behaviour offers it.
    bool Offers(REFIID iid) const noexcept override
    {
        if (iid == IID_IInitializeWithStream) {
            return g_behaviour.offersInitializeWithStream;
        }
        if (iid == __uuidof(IThumbnailProvider)) {
            return g_behaviour.offersThumbnailProvider;
        }
        return true;
    }

private:
    ComPtr<IStream> m_stream;
};

class RecordingFactory final : public IClassFactory {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        if (FAILED(g_behaviour.createResult)) {
            return g_behaviour.createResult;
        }
        const ComPtr<RecordingObject> object(new (std::nothrow) RecordingObject());
        if (!object) {
            return E_OUTOFMEMORY;
        }
        ++g_calls.created;
        return object->QueryInterface(iid, ppv);
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};

RecordingFactory g_factory;

} // namespace

RecordingPhotoProvider::RecordingPhotoProvider(const RecordingBehaviour& behaviour)
{
    g_behaviour = behaviour;
    g_calls = {};
    m_registration = CoRegisterClassObject(CLSID_PhotoThumbnailProvider, &g_factory, CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &m_cookie);
}

RecordingPhotoProvider::~RecordingPhotoProvider()
{
    if (SUCCEEDED(m_registration)) {
        CoRevokeClassObject(m_cookie);
    }
}

RecordingBehaviour& RecordingPhotoProvider::Behaviour()
{
    return g_behaviour;
}

const RecordedCalls& RecordingPhotoProvider::Calls() const
{
    return g_calls;
}

LONG RecordingPhotoProvider::LiveObjects()
{
    return g_liveObjects;
}
