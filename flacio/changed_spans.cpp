#include "flacio/changed_spans.h"

std::vector<ByteSpan> ChangedSpans(const std::uint8_t* before, const std::uint8_t* after, std::size_t length)
{
    std::vector<ByteSpan> spans;
    std::size_t i = 0;
    while (i < length) {
        if (before[i] == after[i]) {
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        std::size_t equalRun = 0;
        for (std::size_t j = end; j < length && equalRun < kSpanJoinGap; ++j) {
            if (before[j] == after[j]) {
                ++equalRun;
            } else {
                equalRun = 0;
                end = j + 1;
            }
        }
        if (!spans.empty() && i - (spans.back().offset + spans.back().length) < kSpanJoinGap) {
            spans.back().length = end - spans.back().offset;
        } else {
            spans.push_back({i, end - i});
        }
        i = end;
    }
    return spans;
}
