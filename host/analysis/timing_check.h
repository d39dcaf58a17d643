// Timing checks of decoded bus cycles against the CF mode tables: for each
// PIO register cycle, multiword DMA cycle and Ultra DMA strobe edge the
// plug-in recorded, the intervals the capture shows between the strobe, the
// address and the data lines, compared with the limits of the transfer mode
// in force. Used by cfdecode (--timing, --html). Plain logic, no I/O.
//
// How a capture is judged. A change seen at sample n happened somewhere in
// the sample period before it, so an interval of n samples stands for a
// true interval between (n - 1) and (n + 1) sample periods. A minimum is
// reported as violated only when even the longest true interval falls short:
// (n + 1) x period <= minimum. A minimum shorter than two sample periods
// cannot be judged at all; the report says so once per parameter instead of
// guessing.
//
// The mode in force. SET FEATURES 03h seen in the records selects the mode
// of its family from the COMMAND write on; before that, the modes given by
// the caller (cfdecode --mode) apply; a family with neither is judged
// against its fastest mode (the loosest limits), and the report notes it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/analysis/mode_timing.h"
#include "host/analysis/transactions.h"
#include "host/model/waveform.h"
#include "plugin/interface/bus_roles.h"

namespace fd::host::analysis {

// The 26 bus roles in the plug-in's binding order: DMARQ, DMACK, CS1, CS0,
// A0, A1, A2, IORD, IOWR, IORDY, D0 .. D15.
using BusSignals = std::array<const Signal*, kBusRoleCount>;

// Minimum sample periods per limit: below two, a limit cannot be judged.
inline constexpr double kSamplesPerLimit = 2;

struct TimingOptions {
    double samplePeriodNs = 0;  // the capture's resolution; 0: unknown, nothing is judged
    // What one position stands for; 0: one sample period. A VCD file may
    // count in nanoseconds while its samples lie 5 ns apart.
    double nsPerPosition = 0;
    // Modes in force from the start of the capture, per family.
    std::optional<TransferMode> pio, mwdma, udma;
};

struct TimingWarning {
    // What allowedNs is: a minimum, a maximum, or nothing (a finding such
    // as a bad burst CRC, told by `detail`).
    enum class Limit { Minimum, Maximum, None };
    uint32_t position = 0;  // the cycle's record (its strobe edge)
    std::string parameter;  // "t2", "tDS", ...
    std::string meaning;    // "DIOR- active (16-bit)"
    TransferMode mode;
    double measuredNs = 0;
    double allowedNs = 0;
    Limit limit = Limit::Minimum;
    std::string detail;  // Limit::None: what was found
    // "PIO4 t2 (DIOR- active, 16-bit): 45 ns, at least 70 ns",
    // "PIO4 tB (IORDY pulse width): 1500 ns, at most 1250 ns",
    // "CRC (Ultra DMA burst CRC): no crc word (data give 0x5E15) over 256 words in"
    std::string Describe() const;
};

// A parameter the capture cannot judge, or a mode that was assumed.
struct TimingNote {
    enum class Kind { CannotJudge, ModeAssumed, PeriodUnknown };
    Kind kind = Kind::CannotJudge;
    uint32_t position = 0;  // the first cycle it concerns
    uint64_t cycles = 0;    // how many cycles it concerns
    std::string text;
};

struct TimingReport {
    std::vector<TimingWarning> warnings;  // in position order
    std::vector<TimingNote> notes;
    uint64_t cyclesChecked = 0;
    // Records that fell on strobe glitches (extra words a ringing strobe
    // made), in position order.
    std::vector<uint32_t> glitchWords;
};

TimingReport CheckTiming(const std::vector<Record>& records, const BusSignals& bus,
                         const TimingOptions& options);

// The same checks fed a slice of records at a time (cfdecode converts the
// plug-in's records slice by slice): records in position order across the
// calls, then Finish once. The bus lines must outlive it.
class TimingChecker {
public:
    TimingChecker(const BusSignals& bus, const TimingOptions& options);
    ~TimingChecker();
    TimingChecker(const TimingChecker&) = delete;
    TimingChecker& operator=(const TimingChecker&) = delete;

    void Add(std::span<const Record> records);
    TimingReport Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;  // null when the sample period is unknown
};

// Counts each transaction's words that fell on strobe glitches
// (Transaction::glitchWords); transactions in start order.
void CountGlitchWords(std::vector<Transaction>& transactions, const TimingReport& report);

}  // namespace fd::host::analysis
