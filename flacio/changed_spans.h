// Where a new version of a byte range differs from the old one, so that a
// write in place sends only the bytes that change: a kill or a power cut in
// the middle of a write can then tear only those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ByteSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Equal bytes between two changes that are still written, as part of one
// span, rather than costing a call more: a call is a round trip on a share.
constexpr std::size_t kSpanJoinGap = 4096;

// The runs in which `before` and `after` (both `length` bytes) differ, in
// order; runs fewer than kSpanJoinGap equal bytes apart are one span.
std::vector<ByteSpan> ChangedSpans(const std::uint8_t* before, const std::uint8_t* after, std::size_t length);
