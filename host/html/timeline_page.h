// The self-contained HTML timeline cfdecode writes with --html: the bus
// signals as a waveform, the plug-in's records in their colours and names,
// the command transactions and the timing warnings, with a searchable
// transaction list. The page's script and style are bundled at build time
// (host/html/web) and embedded; the capture travels inside the page as
// JSON with delta-coded positions, so the file needs nothing else.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "host/analysis/timing_check.h"
#include "host/analysis/transactions.h"
#include "host/model/waveform.h"

namespace fd::host {

// One record as the plug-in gave it, with the colour it asked for.
struct TimelineRecord {
    uint32_t position = 0;
    int64_t value = 0;
    uint16_t fieldId = 0;
};

// How the plug-in presents a field id.
struct TimelineField {
    std::string name;
    std::string colour;  // "#RRGGBB"
    int radix = 2;       // FdRadix: 0 binary, 1 decimal, 2 hexadecimal, 3 ASCII
    int width = 0;       // bits of the value; 0 for markers
    bool shown = true;
};

struct TimelineInput {
    std::string title;              // the capture's file name
    const Waveform* bus = nullptr;  // the 26 bus roles in binding order
    double samplePeriodNs = 0;      // the resolution the timing was judged at
    std::vector<TimelineRecord> records;
    std::map<uint16_t, TimelineField> fields;
    std::vector<analysis::Transaction> transactions;
    analysis::TimingReport timing;
};

// Writes the page; returns false when the stream failed.
bool WriteTimelinePage(std::ostream& out, const TimelineInput& input);

// The bundled script (with its style inside), generated at build time.
std::string_view TimelineScript();

}  // namespace fd::host
