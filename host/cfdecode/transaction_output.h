// cfdecode's transactions view: the ATA commands found in the decoded
// records as a text table (verdicts coloured, IDENTIFY fields and payload hex
// under their command), CSV or JSON lines; the --command/--lba/--errors
// filters; and --dump, one file of payload bytes per transaction.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/analysis/transactions.h"
#include "host/cfdecode/plugin_host.h"
#include "host/cfdecode/record_output.h"

namespace fd::host {

// A refused view argument (filter, dump folder); what() is the one line to print.
struct ViewError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

class TransactionFilter {
public:
    // commands: names ("READ DMA", any case) or opcodes ("0xC8", "200");
    // lba: "A:B", inclusive, decimal or 0x hex. Throws ViewError.
    static TransactionFilter Parse(const std::vector<std::string>& commands, const std::string& lba,
                                   bool errorsOnly);

    bool empty() const { return opcodes_.empty() && names_.empty() && !lba_ && !errorsOnly_; }
    bool Matches(const analysis::Transaction& transaction) const;

private:
    std::vector<uint8_t> opcodes_;
    std::vector<std::string> names_;  // upper case
    std::optional<std::pair<uint32_t, uint32_t>> lba_;
    bool errorsOnly_ = false;
};

std::vector<analysis::Record> ToAnalysisRecords(const RecordList& records);
// The same a slice at a time, each slice handed to `use` (a slice stays in
// the cache, where converting all at once writes fresh memory).
void ForEachAnalysisSlice(const RecordList& records,
                          const std::function<void(std::span<const analysis::Record>)>& use);

// The records that lie within a chosen transaction (from its first set-up
// access to its completion), for the records view under a filter.
std::vector<DecodedRecord> RecordsWithin(const RecordList& records,
                                         const std::vector<analysis::Transaction>& transactions,
                                         const TransactionFilter& filter);

struct TransactionViewOptions {
    OutputFormat format = OutputFormat::Text;
    bool colour = false;
    bool hex = false;       // text: a hex view of each payload under its line
    uint64_t timeStep = 1;  // positions are printed times this: the file's units (Waveform::timeStep)
};

// Transactions are numbered from 1 in capture order, before filtering, so a
// number names the same command whatever the filter. Returns false when
// writing failed.
bool WriteTransactions(std::FILE* out, const std::vector<analysis::Transaction>& transactions,
                       const TransactionFilter& filter, const TransactionViewOptions& options);

// "0003-c8-read-dma.bin": number, opcode, name.
std::string DumpFileName(size_t number, const analysis::Transaction& transaction);
// Writes the payload of every chosen transaction that moved data into
// directory (created if missing); returns how many files were written.
// Throws ViewError when the directory cannot be made, std::runtime_error
// when a file cannot be written.
size_t DumpPayloads(const std::string& directory, const std::vector<analysis::Transaction>& transactions,
                    const TransactionFilter& filter);

}  // namespace fd::host
