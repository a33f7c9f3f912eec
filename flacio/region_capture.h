// Where libFLAC's write of the metadata in place goes when only some ranges
// of it are to reach the file: the bytes that fall in the chosen windows are
// kept, all others are dropped without a stream call. A write of large
// pictures that do not move costs neither memory nor file calls; the
// caller sends the windows itself.
#pragma once

#include "platform/platform.h"

#include <FLAC/metadata.h>

#include <cstdint>
#include <vector>

class RegionCapture {
public:
    // A range of stream offsets [start, end) and, once libFLAC has written,
    // the bytes it wrote there.
    struct Window {
        ULONGLONG start = 0;
        ULONGLONG end = 0;
        std::vector<std::uint8_t> bytes;
    };

    // Keeps what is written into `windows` (sorted, not overlapping); throws
    // std::bad_alloc when their bytes cannot be held.
    explicit RegionCapture(std::vector<Window> windows);

    FLAC__IOHandle Handle() noexcept { return this; }

    // libFLAC's callback contract. Reads find nothing: an in-place write
    // makes none.
    size_t Write(const void* buffer, size_t size, size_t count) noexcept;
    int Seek(FLAC__int64 offset, int whence) noexcept;
    FLAC__int64 Tell() const noexcept { return static_cast<FLAC__int64>(m_position); }

    std::vector<Window>& Windows() noexcept { return m_windows; }

private:
    std::vector<Window> m_windows;
    ULONGLONG m_position = 0;
};

// The callback record over a RegionCapture handle.
extern const FLAC__IOCallbacks RegionCaptureCallbacks;
