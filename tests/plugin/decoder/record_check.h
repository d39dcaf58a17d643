// Decoded records as tests compare them, read from the four lists a capture
// was handed, and the colour each record kind must carry (derived from the
// settings colours independently of the plug-in's own table).
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "plugin/interface/host_abi.h"

namespace fd::test {

struct Record {
    uint32_t position;
    uint64_t value;
    uint16_t fieldId;
    uint32_t colour;
    bool operator==(const Record&) const = default;
};

void PrintTo(const Record& record, std::ostream* out);

// The records in the capture's four result lists. Fails the test (and
// returns what it can) when the four lists disagree on their count.
std::vector<Record> ReadRecords(const FdCapture& capture);

// The colour a record of `fieldId` gets with these settings colours applied.
uint32_t ColourFor(int fieldId, const FdDecoderSettings& settings);

// A record with the colour of the default settings.
Record R(uint32_t position, uint64_t value, int fieldId);

}  // namespace fd::test
