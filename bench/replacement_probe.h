// What the safe-save stream that the rewrites go through does with a
// finished copy, seen from outside the stream: a copy of known bytes is
// written and committed over a scratch file, and the file, its name and the
// stream are looked at afterwards.
#pragma once

#include "bench/bench.h"

struct ReplacementSeen {
    bool holdsCopy = false;     // the file's name leads to the bytes written to the copy
    bool newFile = false;       // ... in another file than before (another file ID)
    bool copyNameGone = false;  // nothing is left under the copy's own name
    bool streamFollows = false; // the stream reads the new file afterwards
};

// On a copy of `file` at `scratch`, removed afterwards.
HRESULT ProbeReplacement(const CorpusFile& file, const std::wstring& scratch, ReplacementSeen& seen);
