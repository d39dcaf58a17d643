#include "host/analysis/timing_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "plugin/interface/host_abi.h"

namespace fd::host::analysis {
namespace {

enum Role : int { kDmarq = 0, kDmack, kCs1, kCs0, kA0, kA1, kA2, kIord, kIowr, kIordy, kD0 };

// Field ids of the records the checks look at (FdFieldId).
constexpr uint16_t kPioRead = FdFieldPioRead, kPioWrite = FdFieldPioWrite, kFeatures = FdFieldFeatures,
                   kSectorCount = FdFieldSectorCount, kCommand = FdFieldCommand;
constexpr uint16_t kLastRegister = FdFieldDriveAddress;
constexpr uint16_t kDmaRead = FdFieldDmaRead, kDmaWrite = FdFieldDmaWrite, kUdmaRead = FdFieldDataRead,
                   kUdmaWrite = FdFieldDataWrite;
constexpr uint8_t kSetFeatures = 0xEF, kSetTransferMode = 0x03;

// A forward cursor over one signal's changes. Records come in position
// order, so most questions move it a little forward; a question behind it
// falls back to a bisection.
class Cursor {
public:
    explicit Cursor(const Signal* signal) : changes_(signal ? &signal->changes : nullptr) {}

    // Moves to p: index_ becomes the number of changes at or before p.
    void Seek(uint32_t p) {
        if (!changes_) return;
        const auto& c = *changes_;
        if (p < at_) {
            index_ = static_cast<size_t>(std::upper_bound(c.begin(), c.end(), p) - c.begin());
        } else {
            while (index_ < c.size() && c[index_] <= p) ++index_;
        }
        at_ = p;
    }
    std::optional<uint32_t> LastAtOrBefore(uint32_t p) {
        Seek(p);
        if (!changes_ || index_ == 0) return std::nullopt;
        return (*changes_)[index_ - 1];
    }
    std::optional<uint32_t> FirstAfter(uint32_t p) {
        Seek(p);
        if (!changes_ || index_ >= changes_->size()) return std::nullopt;
        return (*changes_)[index_];
    }
    std::optional<uint32_t> FirstAtOrAfter(uint32_t p) {
        const auto last = LastAtOrBefore(p);
        if (last && *last == p) return p;
        return FirstAfter(p);
    }
    bool ChangesAt(uint32_t p) { return LastAtOrBefore(p) == p; }

private:
    const std::vector<uint32_t>* changes_;
    size_t index_ = 0;
    uint32_t at_ = 0;
};

std::optional<uint32_t> Later(std::optional<uint32_t> a, std::optional<uint32_t> b) {
    if (!a) return b;
    if (!b) return a;
    return std::max(*a, *b);
}

std::optional<uint32_t> Earlier(std::optional<uint32_t> a, std::optional<uint32_t> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

std::string Number(double ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", ns);
    return text;
}

struct Edge {
    uint32_t fall = 0;
    uint32_t rise = 0;
};

class Checker {
public:
    Checker(const BusSignals& bus, const TimingOptions& options) : options_(options) {
        for (int role = 0; role < kBusRoleCount; ++role)
            cursors_.emplace_back(bus[static_cast<size_t>(role)]);
        modes_[0] = options.pio;
        modes_[1] = options.mwdma;
        modes_[2] = options.udma;
    }

    void Add(const Record& record) {
        const uint16_t id = record.fieldId;
        if (id == kFeatures) features_ = static_cast<uint8_t>(record.value);
        if (id == kSectorCount) sectorCount_ = static_cast<uint8_t>(record.value);
        if (id == kCommand && static_cast<uint8_t>(record.value) == kSetFeatures &&
            features_ == kSetTransferMode) {
            if (const auto mode = ModeFromSetFeatures(sectorCount_))
                modes_[static_cast<int>(mode->family)] = mode;
        }
        if (id >= kPioRead && id <= kLastRegister) {
            Register(record);
        } else if (id == kDmaRead || id == kDmaWrite) {
            Multiword(record);
        } else if (id == kUdmaRead || id == kUdmaWrite) {
            Ultra(record);
        }
    }

    TimingReport Finish() {
        for (auto& [key, note] : cannotJudge_) report_.notes.push_back(std::move(note));
        for (auto& note : assumed_)
            if (note.cycles > 0) report_.notes.push_back(std::move(note));
        std::stable_sort(
            report_.warnings.begin(), report_.warnings.end(),
            [](const TimingWarning& a, const TimingWarning& b) { return a.position < b.position; });
        return std::move(report_);
    }

private:
    TransferMode ModeFor(ModeFamily family, uint32_t position) {
        const int index = static_cast<int>(family);
        if (modes_[index]) return *modes_[index];
        const TransferMode fastest = FastestMode(family);
        TimingNote& note = assumed_[index];
        if (note.cycles++ == 0) {
            note.kind = TimingNote::Kind::ModeAssumed;
            note.position = position;
            const char* name = family == ModeFamily::Pio     ? "PIO"
                               : family == ModeFamily::Mwdma ? "multiword DMA"
                                                             : "Ultra DMA";
            note.text = std::string("no ") + name +
                        " mode known (no SET FEATURES before it, no --mode): judged against " +
                        ModeName(fastest) + ", the fastest, so only what every mode forbids is reported";
        }
        return fastest;
    }

    // Judges one minimum. `samples` is the interval the capture shows, in positions.
    void Minimum(uint32_t position, TransferMode mode, const char* parameter, const char* meaning,
                 uint64_t samples, double allowedNs) {
        if (allowedNs <= 0) return;
        const double period = options_.samplePeriodNs;
        if (period * kSamplesPerLimit > allowedNs) {
            const std::string key = ModeName(mode) + " " + parameter;
            TimingNote& note = cannotJudge_[key];
            if (note.cycles++ == 0) {
                note.kind = TimingNote::Kind::CannotJudge;
                note.position = position;
                note.text = key + " (" + meaning + ", at least " + Number(allowedNs) +
                            " ns) cannot be judged: the sample period is " + Number(period) +
                            " ns, it needs " + Number(allowedNs / kSamplesPerLimit) + " ns or less";
            }
            return;
        }
        const double unit = options_.nsPerPosition > 0 ? options_.nsPerPosition : period;
        const double measured = static_cast<double>(samples) * unit;
        if (measured + period <= allowedNs * (1 + 1e-9)) {
            report_.warnings.push_back({position, parameter, meaning, mode, measured, allowedNs});
        }
    }

    std::optional<uint32_t> LastChange(int first, int last, uint32_t p) {
        std::optional<uint32_t> found;
        for (int role = first; role <= last; ++role)
            found = Later(found, cursors_[static_cast<size_t>(role)].LastAtOrBefore(p));
        return found;
    }
    std::optional<uint32_t> NextChange(int first, int last, uint32_t p, bool includeP) {
        std::optional<uint32_t> found;
        for (int role = first; role <= last; ++role) {
            Cursor& cursor = cursors_[static_cast<size_t>(role)];
            found = Earlier(found, includeP ? cursor.FirstAtOrAfter(p) : cursor.FirstAfter(p));
        }
        return found;
    }
    // Address lines: CS1, CS0, A0..A2 are roles 2 to 6.
    std::optional<uint32_t> AddressLastChange(uint32_t p) { return LastChange(kCs1, kA2, p); }

    void Register(const Record& record) {
        const uint32_t fall = record.position;
        int strobe = -1;
        for (int role : {kIord, kIowr})
            if (cursors_[static_cast<size_t>(role)].ChangesAt(fall)) strobe = role;
        if (strobe < 0) return;
        const auto rise = cursors_[static_cast<size_t>(strobe)].FirstAfter(fall);
        const TransferMode mode = ModeFor(ModeFamily::Pio, fall);
        const PioTiming& t = PioMode(mode.number);
        ++report_.cyclesChecked;
        const bool data = record.fieldId == kPioRead || record.fieldId == kPioWrite;
        const bool read = strobe == kIord;
        if (const auto address = AddressLastChange(fall))
            Minimum(fall, mode, "t1", read ? "address valid to DIOR-" : "address valid to DIOW-",
                    fall - *address, t.t1);
        if (rise) {
            Minimum(fall, mode, "t2",
                    data ? (read ? "DIOR- active, 16-bit" : "DIOW- active, 16-bit")
                         : (read ? "DIOR- active, 8-bit" : "DIOW- active, 8-bit"),
                    *rise - fall, data ? t.t2Data : t.t2Reg);
            if (const auto hold = NextChange(kCs1, kA2, *rise, true))
                Minimum(fall, mode, "t9", read ? "DIOR- to address hold" : "DIOW- to address hold",
                        *hold - *rise, t.t9);
        }
        if (previousRegister_) {
            Minimum(fall, mode, "t0", "PIO cycle time", fall - previousRegister_->fall, t.t0);
            if (previousRegister_->rise <= fall)
                Minimum(fall, mode, "t2i", "strobe recovery", fall - previousRegister_->rise, t.t2i);
        }
        previousRegister_ = Edge{fall, rise.value_or(fall)};
    }

    // True when DMACK stays put between two positions: one DMA envelope.
    bool SameEnvelope(uint32_t from, uint32_t to) {
        const auto change = cursors_[kDmack].FirstAfter(from);
        return !change || *change > to;
    }

    void Multiword(const Record& record) {
        const uint32_t fall = record.position;
        const bool read = record.fieldId == kDmaRead;
        const int strobe = read ? kIord : kIowr;
        const auto rise = cursors_[static_cast<size_t>(strobe)].FirstAfter(fall);
        // An Ultra DMA data-out burst starts with IOWR (STOP) falling and
        // looks like a DMA write cycle to the plug-in; HSTROBE on IORD then
        // toggles while IOWR stays low, which no multiword DMA cycle does.
        const auto other = cursors_[static_cast<size_t>(read ? kIowr : kIord)].FirstAfter(fall);
        if (rise && other && *other < *rise) return;
        const TransferMode mode = ModeFor(ModeFamily::Mwdma, fall);
        const MwdmaTiming& t = MwdmaMode(mode.number);
        ++report_.cyclesChecked;
        if (rise)
            Minimum(fall, mode, "tD", read ? "DIOR- asserted pulse" : "DIOW- asserted pulse", *rise - fall,
                    t.tD);
        if (previousMultiword_ && previousMultiword_->fall < fall &&
            SameEnvelope(previousMultiword_->fall, fall)) {
            Minimum(fall, mode, "t0", "multiword DMA cycle time", fall - previousMultiword_->fall, t.t0);
            if (previousMultiword_->rise <= fall) {
                Minimum(fall, mode, read ? "tKR" : "tKW",
                        read ? "DIOR- negated pulse" : "DIOW- negated pulse", fall - previousMultiword_->rise,
                        read ? t.tKR : t.tKW);
            }
        }
        previousMultiword_ = Edge{fall, rise.value_or(fall)};
    }

    void Ultra(const Record& record) {
        const uint32_t edge = record.position;
        const TransferMode mode = ModeFor(ModeFamily::Udma, edge);
        const UdmaTiming& t = UdmaMode(mode.number);
        ++report_.cyclesChecked;
        const bool in = record.fieldId == kUdmaRead;
        auto& history = in ? udmaIn_ : udmaOut_;
        if (!history.empty() && (history.back() >= edge || !SameEnvelope(history.back(), edge)))
            history.clear();
        if (!history.empty()) {
            Minimum(edge, mode, "tCYC", in ? "DSTROBE edge to edge" : "HSTROBE edge to edge",
                    edge - history.back(), t.tCyc);
            if (history.size() == 2)
                Minimum(edge, mode, "t2CYC", in ? "DSTROBE two-cycle time" : "HSTROBE two-cycle time",
                        edge - history.front(), t.t2Cyc);
        }
        if (const auto setup = LastChange(kD0, kD0 + 15, edge)) {
            Minimum(edge, mode, "tDS", "data setup before the strobe edge", edge - *setup, t.tDs);
        }
        if (const auto hold = NextChange(kD0, kD0 + 15, edge, false)) {
            Minimum(edge, mode, "tDH", "data hold after the strobe edge", *hold - edge, t.tDh);
        }
        if (history.size() == 2) history.erase(history.begin());
        history.push_back(edge);
    }

    TimingOptions options_;
    std::vector<Cursor> cursors_;
    std::optional<TransferMode> modes_[3];
    uint8_t features_ = 0;
    uint8_t sectorCount_ = 0;
    std::optional<Edge> previousRegister_, previousMultiword_;
    std::vector<uint32_t> udmaIn_, udmaOut_;  // the last two strobe edges of the burst
    std::map<std::string, TimingNote> cannotJudge_;
    TimingNote assumed_[3];
    TimingReport report_;
};

}  // namespace

std::string TimingWarning::Describe() const {
    return ModeName(mode) + " " + parameter + " (" + meaning + "): " + Number(measuredNs) + " ns, at least " +
           Number(allowedNs) + " ns";
}

TimingReport CheckTiming(const std::vector<Record>& records, const BusSignals& bus,
                         const TimingOptions& options) {
    if (!(options.samplePeriodNs > 0)) {
        TimingReport report;
        report.notes.push_back(
            {TimingNote::Kind::PeriodUnknown, 0, 0,
             "the sample period is unknown, so no timing is judged (give the sample rate)"});
        return report;
    }
    Checker checker(bus, options);
    for (const Record& record : records) checker.Add(record);
    return checker.Finish();
}

}  // namespace fd::host::analysis
