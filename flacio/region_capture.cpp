#include "flacio/region_capture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

RegionCapture& AsCapture(FLAC__IOHandle handle) noexcept
{
    return *static_cast<RegionCapture*>(handle);
}

} // namespace

const FLAC__IOCallbacks RegionCaptureCallbacks = {
    [](void*, size_t, size_t, FLAC__IOHandle) -> size_t { return 0; },
    [](const void* ptr, size_t size, size_t nmemb, FLAC__IOHandle handle) {
        return AsCapture(handle).Write(ptr, size, nmemb);
    },
    [](FLAC__IOHandle handle, FLAC__int64 offset, int whence) { return AsCapture(handle).Seek(offset, whence); },
    [](FLAC__IOHandle handle) { return AsCapture(handle).Tell(); },
    [](FLAC__IOHandle) { return 0; },
    nullptr,
};

RegionCapture::RegionCapture(std::vector<Window> windows) : m_windows(std::move(windows))
{
    for (Window& window : m_windows) {
        window.bytes.assign(static_cast<std::size_t>(window.end - window.start), 0);
    }
}

size_t RegionCapture::Write(const void* buffer, size_t size, size_t count) noexcept
{
    if (size == 0 || count > ~ULONGLONG{0} / size) {
        return 0;
    }
    const ULONGLONG length = ULONGLONG{size} * count;
    const ULONGLONG end = m_position + length;
    const auto* const bytes = static_cast<const std::uint8_t*>(buffer);
    for (Window& window : m_windows) {
        const ULONGLONG from = std::max(m_position, window.start);
        const ULONGLONG to = std::min(end, window.end);
        if (from < to) {
            std::memcpy(window.bytes.data() + (from - window.start), bytes + (from - m_position),
                        static_cast<std::size_t>(to - from));
        }
    }
    m_position = end;
    return count;
}

int RegionCapture::Seek(FLAC__int64 offset, int whence) noexcept
{
    FLAC__int64 target = offset;
    if (whence == SEEK_CUR) {
        target += static_cast<FLAC__int64>(m_position);
    } else if (whence != SEEK_SET) {
        return -1;
    }
    if (target < 0) {
        return -1;
    }
    m_position = static_cast<ULONGLONG>(target);
    return 0;
}
