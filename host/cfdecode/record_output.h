// Writes decoded records as cfdecode prints them: an aligned text table
// (optionally coloured), CSV or JSON lines. Used by cfdecode; the formats
// are documented in the README.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "host/cfdecode/plugin_host.h"

namespace fd::host {

enum class OutputFormat { Text, Csv, Json };

struct OutputOptions {
    OutputFormat format = OutputFormat::Text;
    bool colour = false;    // 24-bit ANSI colours in the text table
    bool all = false;       // text: also the kinds the plug-in says are not shown
    uint64_t timeStep = 1;  // positions are printed times this: the file's units (Waveform::timeStep)
};

// "#RRGGBB" from a stored 0x00BBGGRR colour.
std::string ColourHex(uint32_t colour);
// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvQuoted(const std::string& text);

// A record's value as the text table shows it, in the field's radix.
std::string FormatValue(int64_t value, uint16_t fieldId, const FieldPresentation& field);

// What a register value means: the bit names of STATUS, ALT STATUS, ERROR,
// CARD/HEAD and DEVICE CONTROL ("DRDY DSC", "LBA DEV0 head 0") and the
// command name of a COMMAND write; "" for every other kind.
std::string RegisterDetail(uint16_t fieldId, int64_t value);

// Text and JSON carry RegisterDetail as a column or a "detail" member; CSV
// keeps its five columns. Returns false when writing failed (a closed pipe, a full disk).
bool WriteRecords(std::FILE* out, const RecordList& records,
                  const std::map<uint16_t, FieldPresentation>& fields, const OutputOptions& options);

}  // namespace fd::host
