// What the robustness tests do with one stream: both classes initialised,
// every value read, a tag set and committed, the result read back; and the
// checks that go with it.
#pragma once

#include "tests/robustness/server_objects.h"
#include "tests/support/flac_builder.h"

#include <string>
#include <vector>

// Every value GetValue answers for the readable keys, as texts.
std::vector<std::wstring> AllValues(IPropertyStore* store);

// Enumerates the keys the store offers and asks for each one's value; every
// call must succeed.
void ExpectEveryOfferedKeyAnswers(IPropertyStore* store);

HRESULT SetTitle(IPropertyStore* store, const std::wstring& title);

// Whether `written` keeps everything of `original` that is not metadata: the
// bytes in front of the first block (ID3v2 tag, marker) and the audio. True
// when the original's layout cannot be told (its blocks run past its end).
bool KeepsNonMetadata(const Bytes& original, const Bytes& written);

struct HostileOutcome {
    bool handlerInitialized = false;
    bool thumbnailInitialized = false;
    bool committed = false;
    bool dataLost = false;
};

// Runs one stream through both classes. Every inconsistency is reported as a
// test failure (the caller names the case with SCOPED_TRACE).
HostileOutcome ExerciseStream(ServerObjects& objects, const Bytes& bytes, bool longTitle);
