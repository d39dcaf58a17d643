// An independent statement of the decoding rules, for cross-checking the
// plug-in on random captures. It is written the plain way: every bound
// channel is expanded into one level per sample, edges are read off those
// arrays, and each rule is an explicit condition. Slow and obvious on
// purpose; it shares no code with the plug-in.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tests/plugin/decoder/record_check.h"

namespace fd::test {

struct ReferenceChannel {
    int32_t number;
    std::vector<uint32_t> positions;  // ascending, equal neighbours allowed
};

struct ReferenceCapture {
    std::vector<ReferenceChannel> channels;  // in list order
    uint32_t endPosition = 0;
    bool hasStart = false;
    uint32_t startPosition = 0;
    bool hasRange = false;
    uint32_t rangeStart = 0;
    uint32_t rangeEnd = 0;
};

struct ReferenceResult {
    std::vector<Record> records;
    std::array<int32_t, 11> channelFields;  // the settings' channel numbers afterwards
};

// `channelFields`: DMARQ .. IORDY, then D0; `colours`: the thirteen settings
// colours. Every transition must lie within [lowest, highest] of the
// sampled span, which this function derives from the capture itself.
ReferenceResult ReferenceDecode(const ReferenceCapture& capture, std::array<int32_t, 11> channelFields,
                                const FdDecoderSettings& colours);

}  // namespace fd::test
