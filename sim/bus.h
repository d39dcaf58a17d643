// The CompactFlash True IDE bus synthesizer: a builder that turns bus
// activity (register cycles, PIO data blocks, multiword DMA, Ultra DMA
// bursts) into a fd::host::Waveform, with timing from the CF 4.1 mode tables,
// and keeps a transcript of what it put on the bus. Used by cfsim, by the
// tests of the decoder and the reference host, and by the benchmarks.
//
// Signals, in the plug-in's default positional binding: DMARQ, DMACK, CS1,
// CS0, A0, A1, A2, IORD, IOWR, IORDY, D0..D15, then INTRQ when asked for.
// Levels are raw: IORD, IOWR, CS0, CS1 and DMACK are asserted low, DMARQ and
// INTRQ high.
//
// Data placement. By default the bus is what real hosts and cards put on
// the cable. A card drives read data (PIO and multiword DMA) only while the
// strobe is asserted, from an access delay into the pulse, holds it t6 (tF)
// after the negation and releases the lines; the host drives write data from
// the address setup (or at the strobe, or at the latest moment it may) and
// releases the lines after its hold. Where nobody drives DD the lines keep
// their last level in the waveform, and the transcript lists the stretch so
// a VCD can show it as z. Ultra DMA bursts open and close one step at a
// time in the ATA order. In every case the data is on the lines at least at
// the last sample of the strobe pulse, where a receiver latches it.
//
// The ideal bus (BusTiming::ideal) is the synthesizer's earlier one: the
// data is on the lines before the strobe falls and stays there, a data-in
// burst starts with STOP negated and HDMARDY- asserted on one sample, and
// the card drops DMARQ as the last multiword DMA cycle ends.
//
// In Ultra DMA the sender changes the data a hold time after each strobe
// edge, so every edge (rising and falling) carries the word that was set up
// before it.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/analysis/transactions.h"
#include "host/model/waveform.h"
#include "plugin/interface/bus_roles.h"

namespace fd::sim {

// Signal indexes in the waveform.
enum Line : int {
    kDmarq = 0,
    kDmack,
    kCs1,
    kCs0,
    kA0,
    kA1,
    kA2,
    kIord,
    kIowr,
    kIordy,
    kD0,
    kIntrq = kD0 + 16,
};

// Task-file registers: bit 3 set for the CS1 block, bits 2..0 the address.
// Read and write names of one address share a value.
enum class Reg : uint8_t {
    Data = 0,
    Error = 1,
    Features = 1,
    SectorCount = 2,
    SectorNumber = 3,
    CylinderLow = 4,
    CylinderHigh = 5,
    CardHead = 6,
    Status = 7,
    Command = 7,
    AltStatus = 14,
    DeviceControl = 14,
    DriveAddress = 15,
};

enum class Terminator { Device, Host };

// Faults the synthesizer can put into a capture on purpose.
struct Faults {
    // Every Nth DMA data word (N > 0; counted over all multiword and Ultra
    // DMA words of the bus) gets a second strobe changing at the same
    // sample. In Ultra DMA it is a one-sample pulse on a strobe line chosen
    // so that the pulse's end matches no bus cycle; in multiword DMA the
    // other strobe falls and rises with the cycle's strobe.
    uint32_t simultaneousEvery = 0;
    // Glitches at seeded random positions on randomly chosen signals of
    // glitchSignals: two toggles glitchWidth samples apart (0 = two equal
    // positions, a glitch of zero width that changes no level).
    uint32_t glitchCount = 0;
    uint32_t glitchWidth = 0;
    std::vector<std::string> glitchSignals = {"IORD", "IOWR", "IORDY"};
    // Signals that idle high but start low: they rise half-way through the
    // lead-in, before any bus activity. Signals idling low are unchanged.
    std::vector<std::string> startLow;
    // Timing faults. Every Nth strobe pulse (N > 0; register and PIO data
    // cycles, multiword DMA cycles and Ultra DMA strobe phases, counted
    // together) lasts only shortStrobePercent of its table length.
    uint32_t shortStrobeEvery = 0;
    uint32_t shortStrobePercent = 50;
    // Ultra DMA: every Nth word reaches the data lines only dataMarginNs
    // before its strobe edge (setup too short), or the data lines change
    // dataMarginNs after every Nth word's edge (hold too short). Counted
    // over Ultra DMA words; the first and last word of a burst are skipped.
    uint32_t lateDataEvery = 0;
    uint32_t earlyDataEvery = 0;
    double dataMarginNs = 1;
    // Register, PIO and multiword DMA cycles: every Nth read cycle's data
    // reaches the lines only dataMarginNs before the strobe rises (setup t5
    // or tG too short), and the data lines change dataMarginNs after every
    // Nth write cycle's strobe rises (hold t4 or tH too short: the host
    // lets go early and the lines float to the word's complement). Counted
    // over read and over write cycles apart; a cycle the short-strobe fault
    // cuts or that waits for IORDY is skipped.
    uint32_t lateReadEvery = 0;
    uint32_t earlyReleaseEvery = 0;
    // Every Nth strobe edge (register, PIO and multiword DMA strobes both
    // ways, each Ultra DMA strobe edge; counted together) rings: the line
    // bounces back ringingNs after the edge and returns ringingNs later.
    uint32_t ringingEvery = 0;
    double ringingNs = 2;
    // The word the host drives on DD as it negates DMACK- after each Ultra
    // DMA burst: the burst's CRC, another word, or none (the lines keep the
    // last data word). A card answers a command with a bad CRC word with
    // ERR and ERROR ICRC | ABRT.
    enum class CrcWord { Right, Wrong, Missing };
    // IORDY held past tB: the wait states (on every BusTiming::iordyEvery
    // cycle) last tB plus this many ns instead of BusTiming::iordyWaitNs.
    double iordyPastTbNs = 0;
    CrcWord crcWord = CrcWord::Right;
};

// Where the host puts write data in a register, PIO or multiword DMA cycle.
enum class WriteData {
    Setup,   // with the address (multiword DMA: after the previous cycle's hold)
    Strobe,  // when the strobe falls
    Late,    // exactly t3 (multiword DMA: tG) before the strobe rises, the latest a host may
};

// How the bus places data and handshakes in time (see the top of the file).
struct BusTiming {
    bool ideal = false;
    // PIO and multiword DMA reads: the card drives the data this long after
    // the strobe falls; negative: the latest a compliant card may, t2 - t5
    // (multiword DMA: tD - tG). Never later than the pulse's last sample.
    double readAccessNs = -1;
    WriteData writeData = WriteData::Setup;
    // IORDY wait states on register and PIO data cycles: on every Nth cycle
    // (iordyEvery) the card negates IORDY tA after the strobe falls and
    // asserts it again iordyWaitNs later (0: no wait states); read data is
    // valid tRD before that, and the host negates the strobe once IORDY is
    // back. A cycle the short-strobe fault cuts gets no wait.
    double iordyWaitNs = 0;
    uint32_t iordyEvery = 1;
    // The card negates IORDY in the same sample as the strobe falls (without
    // this, tA later: the same sample only when a sample is longer than tA).
    bool iordyWithStrobe = false;
    // Multiword DMA: the card negates DMARQ in the same sample as the last
    // cycle's strobe falls (without this, tLR / tLW later).
    bool dmarqWithStrobe = false;
};

struct Options {
    double samplePeriodNs = 5;  // 200 MS/s: an Ultra DMA 4 strobe phase is 6 samples
    int pioMode = 4;
    int mwdmaMode = 2;
    int udmaMode = 4;
    uint32_t seed = 1;
    bool intrq = false;           // add an INTRQ signal after D15
    uint32_t leadInSamples = 40;  // idle bus before the first cycle and after the last
    BusTiming timing;
    Faults faults;
};

// What was put on the bus.
enum class PhaseKind {
    RegisterRead,
    RegisterWrite,  // one cycle of a task-file register (or DATA)
    PioDataIn,
    PioDataOut,  // a block of DATA register cycles
    MwdmaIn,
    MwdmaOut,  // multiword DMA, one DMARQ/DMACK envelope
    UdmaIn,
    UdmaOut,  // one Ultra DMA burst
};

// One word (or register byte) transferred.
struct Transfer {
    uint32_t position;  // the strobe edge that carries it (the falling edge of a cycle)
    uint16_t value;
    bool rising = false;        // Ultra DMA: carried by a rising strobe edge
    bool simultaneous = false;  // a second strobe changes at the same sample (fault)
    bool shortStrobe = false;   // the strobe pulse (Ultra DMA: the phase before this edge) is cut short
    bool lateData = false;      // the word came onto the lines too close before its (latching) edge
    bool earlyData = false;     // the lines changed too soon after its (latching) edge
    bool ringing = false;       // its strobe edge (a cycle's fall or rise) rings
    uint32_t ringingAt = 0;     // which edge rings
    // Register and multiword DMA cycles: where the strobe rises again; a
    // receiver latches the data at the sample before it.
    uint32_t strobeEnd = 0;
    // The value is on the data lines from dataFrom up to, not including,
    // dataUntil (where its driver released the lines or the next value came).
    uint32_t dataFrom = 0;
    uint32_t dataUntil = 0;
    // An IORDY wait state: IORDY low from waitFrom up to waitUntil (both 0: none).
    uint32_t waitFrom = 0;
    uint32_t waitUntil = 0;
};

enum class Landmark {
    DmarqAsserted,
    DmackAsserted,
    StopNegated,     // IOWR falls: the burst may run
    ReceiverReady,   // HDMARDY- (IORD) or DDMARDY- (IORDY) asserted
    ReceiverPaused,  // the receiver negates its ready line (host-terminated data-in)
    StopAsserted,    // IOWR rises
    DmarqNegated,
    FinalStrobe,   // the sender returns its strobe high; no data on it
    DmackNegated,  // the CRC word is on the data lines here
};

struct Mark {
    Landmark kind;
    uint32_t position;
    uint16_t bus;  // data lines at that position
};

struct Phase {
    PhaseKind kind;
    Reg reg = Reg::Data;  // register phases and PIO data blocks
    uint32_t start = 0;   // first change of the phase
    uint32_t end = 0;     // last change of the phase
    std::vector<Transfer> words{};
    std::vector<Mark> marks{};  // Ultra DMA and multiword DMA envelopes
    Terminator terminator = Terminator::Device;
    uint16_t crc = 0;  // Ultra DMA: CRC of the burst's words
    // Ultra DMA: the word on DD at the DMACK- negation (crc unless the
    // CRC-word fault changed it), and whether the host drove one at all.
    uint16_t crcSent = 0;
    bool crcDriven = true;
};

struct Glitch {
    int line;
    uint32_t position;
    uint32_t width;
};

// Positions from `from` up to, not including, `to`.
struct Span {
    uint32_t from;
    uint32_t to;  // kOpenEnd: to the end of the capture
};
inline constexpr uint32_t kOpenEnd = 0xFFFFFFFFu;

struct Transcript {
    std::vector<Phase> phases;
    // Where nobody drives the data lines (they keep their last level in the
    // waveform; a VCD shows them as z). Always empty on the ideal bus.
    std::vector<Span> undriven;
    std::vector<Glitch> glitches;
    uint32_t startLowUntil = 0;  // where start-low signals rise (0 if none)
};

struct UdmaBurst {
    Terminator terminator = Terminator::Device;
    std::vector<size_t> pauseAfter;  // the sender stops after these word indexes
    double pauseNs = 200;
};

// ATA task file as the host writes it before a command: the registers the
// transactions read back.
using TaskFile = host::analysis::TaskFile;
// LBA addressing, device 0: CARD/HEAD E0h with LBA bits 27..24.
TaskFile LbaTaskFile(uint32_t lba, uint8_t count, uint8_t features = 0);

// Ultra DMA CRC: x^16 + x^12 + x^5 + 1, seeded with 4ABAh at burst start,
// each word folded in bit by bit from DD0 up.
uint16_t UdmaCrc(std::span<const uint16_t> words);

// The signal name of a line, and the line of a name (-1 when unknown).
std::string_view LineName(int line);
int LineByName(std::string_view name);

class Bus {
public:
    explicit Bus(Options options = {});

    // Register level. ReadRegister returns what the card answered.
    void WriteRegister(Reg reg, uint16_t value);
    uint16_t ReadRegister(Reg reg, uint16_t answer);
    void PioDataIn(std::span<const uint16_t> words);
    void PioDataOut(std::span<const uint16_t> words);
    void MwdmaIn(std::span<const uint16_t> words);
    void MwdmaOut(std::span<const uint16_t> words);
    void UdmaIn(std::span<const uint16_t> words, const UdmaBurst& burst = {});
    void UdmaOut(std::span<const uint16_t> words, const UdmaBurst& burst = {});

    // Command level.
    void WriteTaskFile(const TaskFile& taskFile);  // CARD/HEAD first, as hosts select the card
    void Command(uint8_t opcode);
    // STATUS reads: busyReads answers of BSY, then `final`, read once after
    // the card raised INTRQ (when `interrupt`).
    void PollStatus(int busyReads, uint8_t final, bool interrupt = true);
    void SetIntrq(bool level);  // no-op without the INTRQ signal

    void Idle(double ns);
    // An explicit glitch: toggles at position and position + width.
    void AddGlitch(int line, uint32_t position, uint32_t width = 0);

    uint32_t Now() const { return now_; }
    const Options& options() const { return options_; }
    const Transcript& transcript() const { return transcript_; }
    std::mt19937& random() { return random_; }
    // Samples for a duration: at least one, rounded up.
    uint32_t Samples(double ns) const;
    // Samples a delay of at most `ns` after an edge moves on: rounded down,
    // so 0 when a sample is longer (an edge seen at sample n happened within
    // the sample period before it).
    uint32_t SamplesWithin(double ns) const;

    // Closes the capture (idle tail, faults) and returns it. The transcript
    // stays readable afterwards.
    host::Waveform Finish();

private:
    struct Track {
        uint8_t initial;
        uint8_t level;
        std::vector<uint32_t> changes;
    };

    void Set(int line, uint32_t position, int level);
    void SetData(uint32_t position, uint16_t value);
    // Who drives DD: DriveData puts a value on the lines (ending a stretch
    // without a driver), ReleaseData lets go of them from a position on.
    void DriveData(uint32_t position, uint16_t value);
    void ReleaseData(uint32_t position);
    void SetAddress(uint32_t position, Reg reg, bool selected);
    uint16_t DataAt(uint32_t position) const;
    // Samples, rounded up, without the minimum of one.
    uint32_t SamplesFor(double ns) const;
    Transfer RegisterCycle(Reg reg, uint16_t value, bool write, bool wide);
    void Mwdma(std::span<const uint16_t> words, bool write);
    void Udma(std::span<const uint16_t> words, const UdmaBurst& burst, bool write);
    bool NextWordSimultaneous();
    // The data setup and hold faults: is this read (write) cycle the Nth?
    // `skip`: a cycle that does not count (cut short, waiting for IORDY).
    bool LateRead(bool skip);
    bool EarlyRelease(bool skip);
    // The early-release fault: the lines change to the word's complement
    // dataMarginNs after the strobe rises (before `hold` samples); returns
    // where.
    uint32_t FloatData(uint32_t rise, uint16_t value, uint32_t hold);
    // The length of the next strobe pulse: `samples`, or cut short by the
    // short-strobe fault (then `shortened` is set).
    uint32_t StrobeLength(uint32_t samples, bool& shortened);
    // The ringing fault, added as glitches when the capture closes.
    void AddRinging();
    void MarkAt(Phase& phase, Landmark kind, uint32_t position);
    // Throws std::length_error when a capture would reach beyond 32-bit positions.
    void CheckRoom(uint64_t until) const;

    Options options_;
    std::vector<Track> tracks_;
    uint32_t now_;
    uint32_t cycleEnd_ = 0;  // last change of the latest register cycle
    uint64_t dmaWords_ = 0;
    uint64_t strobes_ = 0;
    uint64_t udmaWords_ = 0;
    uint64_t pioCycles_ = 0;
    uint64_t readCycles_ = 0;
    uint64_t writeCycles_ = 0;
    uint32_t releaseAt_;  // the lines are undriven from here on (kOpenEnd: driven)
    std::mt19937 random_;
    Transcript transcript_;
    bool finished_ = false;
};

}  // namespace fd::sim
