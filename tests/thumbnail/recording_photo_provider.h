// A recording stand-in for the photo thumbnail provider, registered for this
// process only (CoRegisterClassObject) under the provider's CLSID: it records
// what it is handed, answers as scripted and counts its live objects.
#pragma once

#include "tests/support/flac_builder.h"

#include "platform/platform.h"

struct RecordingBehaviour {
    HRESULT createResult = S_OK; // a failure: CreateInstance makes no object
    bool offersInitializeWithStream = true;
    bool offersThumbnailProvider = true;
    HRESULT initializeResult = S_OK;
    HRESULT thumbnailResult = S_OK;
    HBITMAP thumbnailBitmap = nullptr;
    WTS_ALPHATYPE thumbnailAlpha = WTSAT_UNKNOWN;
    // Whether Initialize keeps a copy of the bytes (the bench's memory
    // figures take none: only the provider's own memory counts there).
    bool keepBytes = true;
};

struct RecordedCalls {
    int created = 0;
    int initializeCalls = 0;
    Bytes bytes; // what the stream given to Initialize held from its position on
    DWORD mode = 0xFFFFFFFF;
    int thumbnailCalls = 0;
    UINT cx = 0;
};

class RecordingPhotoProvider {
public:
    explicit RecordingPhotoProvider(const RecordingBehaviour& behaviour = {});
    ~RecordingPhotoProvider();
    RecordingPhotoProvider(const RecordingPhotoProvider&) = delete;
    RecordingPhotoProvider& operator=(const RecordingPhotoProvider&) = delete;

    HRESULT RegistrationResult() const { return m_registration; }
    RecordingBehaviour& Behaviour();
    const RecordedCalls& Calls() const;
    // Provider objects not yet destroyed.
    static LONG LiveObjects();

private:
    HRESULT m_registration = E_FAIL;
    DWORD m_cookie = 0;
};
