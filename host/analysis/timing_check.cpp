#include "host/analysis/timing_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "plugin/interface/host_abi.h"

namespace fd::host::analysis {
namespace {

// Field ids of the records the checks look at (FdFieldId).
constexpr uint16_t kPioRead = FdFieldPioRead, kPioWrite = FdFieldPioWrite, kFeatures = FdFieldFeatures,
                   kSectorCount = FdFieldSectorCount, kCommand = FdFieldCommand;
constexpr uint16_t kLastRegister = FdFieldDriveAddress;
constexpr uint16_t kDmaRead = FdFieldDmaRead, kDmaWrite = FdFieldDmaWrite, kUdmaRead = FdFieldDataRead,
                   kUdmaWrite = FdFieldDataWrite;
constexpr uint8_t kSetFeatures = 0xEF, kSetTransferMode = 0x03;
constexpr const char* kGlitch = "glitch";
constexpr const char* kGlitchMeaning = "strobe pulse";

// A forward cursor over one signal's changes. Records come in position
// order, so most questions move it a little forward; a question behind it
// falls back to a bisection.
class Cursor {
public:
    explicit Cursor(const Signal* signal)
        : changes_(signal ? signal->changes.data() : nullptr), size_(signal ? signal->changes.size() : 0) {}

    // Moves to p: index_ becomes the number of changes at or before p. A
    // few steps forward are walked; a longer way (the data lines across a
    // burst no check asked them in) gallops, then bisects.
    void Seek(uint32_t p) {
        if (p < at_) {
            index_ = static_cast<size_t>(std::upper_bound(changes_, changes_ + size_, p) - changes_);
        } else {
            const size_t walk = std::min(size_, index_ + 4);
            while (index_ < walk && changes_[index_] <= p) ++index_;
            if (index_ == walk && index_ < size_ && changes_[index_] <= p) Gallop(p);
        }
        at_ = p;
    }
    std::optional<uint32_t> LastAtOrBefore(uint32_t p) {
        Seek(p);
        if (index_ == 0) return std::nullopt;
        return changes_[index_ - 1];
    }
    std::optional<uint32_t> FirstAfter(uint32_t p) {
        Seek(p);
        if (index_ >= size_) return std::nullopt;
        return changes_[index_];
    }
    std::optional<uint32_t> FirstAtOrAfter(uint32_t p) {
        const auto last = LastAtOrBefore(p);
        if (last && *last == p) return p;
        return FirstAfter(p);
    }
    bool ChangesAt(uint32_t p) { return LastAtOrBefore(p) == p; }
    // The change before the one at p (p must be a change).
    std::optional<uint32_t> ChangeBefore(uint32_t p) {
        Seek(p);
        if (index_ < 2 || changes_[index_ - 1] != p) return std::nullopt;
        return changes_[index_ - 2];
    }

private:
    [[gnu::noinline]] void Gallop(uint32_t p) {
        size_t low = index_, step = 8;  // changes_[low] <= p
        while (low + step < size_ && changes_[low + step] <= p) {
            low += step;
            step *= 2;
        }
        const size_t high = std::min(size_, low + step);
        index_ = static_cast<size_t>(std::upper_bound(changes_ + low, changes_ + high, p) - changes_);
    }

    const uint32_t* changes_;
    size_t size_;
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

TimingWarning Warning(uint32_t position, const char* parameter, const char* meaning, TransferMode mode,
                      double measuredNs, double allowedNs,
                      TimingWarning::Limit limit = TimingWarning::Limit::Minimum) {
    TimingWarning w;
    w.position = position;
    w.parameter = parameter;
    w.meaning = meaning;
    w.mode = mode;
    w.measuredNs = measuredNs;
    w.allowedNs = allowedNs;
    w.limit = limit;
    return w;
}

struct Edge {
    uint32_t fall = 0;
    uint32_t rise = 0;
};

class Checker {
public:
    Checker(const BusSignals& bus, const TimingOptions& options) : options_(options), bus_(bus) {
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
        // In the order of their names, as "PIO4 t6" < "UDMA4 tDH".
        std::vector<std::pair<std::string, TimingNote>> unjudged;
        for (auto& [key, entry] : cannotJudge_) unjudged.push_back(std::move(entry));
        std::sort(unjudged.begin(), unjudged.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [name, note] : unjudged) report_.notes.push_back(std::move(note));
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
        TimingNote& note = assumed_[index];
        if (note.cycles++ > 0) return fastest_[index];
        const TransferMode fastest = fastest_[index];
        note.kind = TimingNote::Kind::ModeAssumed;
        note.position = position;
        const char* name = family == ModeFamily::Pio     ? "PIO"
                           : family == ModeFamily::Mwdma ? "multiword DMA"
                                                         : "Ultra DMA";
        note.text = std::string("no ") + name +
                    " mode known (no SET FEATURES before it, no --mode): judged against " +
                    ModeName(fastest) + ", the fastest, so only what every mode forbids is reported";
        return fastest;
    }

    // Judges one minimum. `samples` is the interval the capture shows, in positions.
    void Minimum(uint32_t position, TransferMode mode, const char* parameter, const char* meaning,
                 uint64_t samples, double allowedNs) {
        if (allowedNs <= 0 || !CanJudge(position, mode, parameter, meaning, allowedNs, "at least")) return;
        const double measured = Ns(samples);
        if (measured + options_.samplePeriodNs <= allowedNs * (1 + 1e-9)) {
            report_.warnings.push_back(Warning(position, parameter, meaning, mode, measured, allowedNs));
        }
    }
    // Judges one maximum: reported when even the shortest true interval,
    // a sample period less than the one seen, is longer.
    void Maximum(uint32_t position, TransferMode mode, const char* parameter, const char* meaning,
                 uint64_t samples, double allowedNs) {
        if (allowedNs <= 0 || !CanJudge(position, mode, parameter, meaning, allowedNs, "at most")) return;
        const double measured = Ns(samples);
        if (measured - options_.samplePeriodNs >= allowedNs * (1 - 1e-9)) {
            report_.warnings.push_back(Warning(position, parameter, meaning, mode, measured, allowedNs,
                                               TimingWarning::Limit::Maximum));
        }
    }
    // Is a limit at least two sample periods long? If not, noted once per parameter.
    bool CanJudge(uint32_t position, TransferMode mode, const char* parameter, const char* meaning,
                  double allowedNs, const char* bound) {
        if (Judgeable(allowedNs)) return true;
        Unjudged(position, mode, parameter, meaning, allowedNs, bound);
        return false;
    }
    // Counts a cycle in the note of a limit the capture cannot judge (made at the first).
    TimingNote& Unjudged(uint32_t position, TransferMode mode, const char* parameter, const char* meaning,
                         double allowedNs, const char* bound) {
        // Keyed by the parameter's (literal) name and the mode: asked for
        // every cycle, so no text is made after the first.
        const std::pair<const char*, int> id{parameter, static_cast<int>(mode.family) * 16 + mode.number};
        auto& slot =
            recentUnjudged_[(reinterpret_cast<uintptr_t>(parameter) ^ static_cast<uintptr_t>(id.second)) %
                            recentUnjudged_.size()];
        if (slot.second && slot.first == id) {
            ++slot.second->second.cycles;
            return slot.second->second;
        }
        auto at = cannotJudge_.try_emplace(id).first;
        slot = {id, &at->second};
        auto& [key, note] = at->second;
        if (note.cycles++ == 0) {
            const double period = options_.samplePeriodNs;
            key = ModeName(mode) + " " + parameter;
            note.kind = TimingNote::Kind::CannotJudge;
            note.position = position;
            note.text = key + " (" + meaning + ", " + bound + " " + Number(allowedNs) +
                        " ns) cannot be judged: the sample period is " + Number(period) + " ns, it needs " +
                        Number(allowedNs / kSamplesPerLimit) + " ns or less";
        }
        return note;
    }

    // A minimum of the checks every Ultra DMA edge gets, worked out once
    // per mode: whether the capture can judge it, and how short an
    // interval surely falls short of it (the same comparison as Minimum's).
    struct Limit {
        double ns = 0;
        bool judgeable = false;
        uint64_t below = 0;          // intervals of fewer positions are surely too short
        TimingNote* note = nullptr;  // its note, once counted as not judgeable
    };
    struct UltraLimits {
        bool made = false;
        Limit glitch, cycle, twoCycles, setup, hold;
    };
    Limit MakeLimit(double ns) const {
        Limit limit;
        limit.ns = ns;
        limit.judgeable = Judgeable(ns);
        const double period = options_.samplePeriodNs;
        auto tooShort = [&](uint64_t samples) { return Ns(samples) + period <= ns * (1 + 1e-9); };
        if (!tooShort(0)) return limit;
        // From the quotient to where the comparison itself turns (intervals
        // count 32-bit positions, so 2^33 is beyond any).
        constexpr uint64_t kBeyond = uint64_t{1} << 33;
        const double guess = (ns * (1 + 1e-9) - period) / Ns(1);
        uint64_t n = guess >= static_cast<double>(kBeyond) ? kBeyond
                     : guess > 0                           ? static_cast<uint64_t>(guess)
                                                           : 0;
        while (n > 0 && !tooShort(n)) --n;
        while (n < kBeyond && tooShort(n + 1)) ++n;
        limit.below = n + 1;
        return limit;
    }
    UltraLimits& UltraFor(int number) {
        UltraLimits& limits = ultraLimits_[static_cast<size_t>(number)];
        if (!limits.made) {
            const UdmaTiming& t = UdmaMode(number);
            limits = {true,
                      MakeLimit(GlitchLimit(ModeFamily::Udma)),
                      MakeLimit(t.tCyc),
                      MakeLimit(t.t2Cyc),
                      MakeLimit(t.tDs),
                      MakeLimit(t.tDh)};
        }
        return limits;
    }
    // Minimum() with the limit worked out.
    void Minimum(uint32_t position, TransferMode mode, const char* parameter, const char* meaning,
                 uint64_t samples, Limit& limit) {
        if (limit.ns <= 0) return;
        if (!limit.judgeable) {
            Count(limit, position, mode, parameter, meaning, "at least");
        } else if (samples < limit.below) {
            report_.warnings.push_back(Warning(position, parameter, meaning, mode, Ns(samples), limit.ns));
        }
    }
    void Count(Limit& limit, uint32_t position, TransferMode mode, const char* parameter, const char* meaning,
               const char* bound) {
        if (limit.note)
            ++limit.note->cycles;
        else
            limit.note = &Unjudged(position, mode, parameter, meaning, limit.ns, bound);
    }
    // Can the capture judge a limit this long? (The data lines are asked
    // only for limits it can: a question costs one look at each of 16.)
    bool Judgeable(double allowedNs) const { return options_.samplePeriodNs * kSamplesPerLimit <= allowedNs; }
    double Ns(uint64_t samples) const {
        const double unit = options_.nsPerPosition > 0 ? options_.nsPerPosition : options_.samplePeriodNs;
        return static_cast<double>(samples) * unit;
    }
    // Is an interval of `samples` surely shorter than `limitNs`? (Unjudgeable limits: no.)
    bool SurelyShorter(uint64_t samples, double limitNs) const {
        return options_.samplePeriodNs * kSamplesPerLimit <= limitNs &&
               Ns(samples) + options_.samplePeriodNs <= limitNs * (1 + 1e-9);
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
    // The data lines' last change at or before p and first after it, in one
    // pass over their cursors.
    void DataAround(uint32_t p, std::optional<uint32_t>& last, std::optional<uint32_t>& next) {
        for (int role = kD0; role < kD0 + 16; ++role) {
            Cursor& cursor = cursors_[static_cast<size_t>(role)];
            last = Later(last, cursor.LastAtOrBefore(p));
            next = Earlier(next, cursor.FirstAfter(p));
        }
    }
    // Address lines: CS1, CS0, A0..A2 are roles 2 to 6.
    std::optional<uint32_t> AddressLastChange(uint32_t p) { return LastChange(kCs1, kA2, p); }

    void Register(const Record& record) {
        const uint32_t fall = record.position;
        int strobe = -1;
        for (int role : {kIord, kIowr})
            if (cursors_[static_cast<size_t>(role)].ChangesAt(fall)) strobe = role;
        if (strobe < 0) return;
        Cursor& line = cursors_[static_cast<size_t>(strobe)];
        const auto rise = line.FirstAfter(fall);
        const TransferMode mode = ModeFor(ModeFamily::Pio, fall);
        const PioTiming& t = PioMode(mode.number);
        ++report_.cyclesChecked;
        const bool data = record.fieldId == kPioRead || record.fieldId == kPioWrite;
        const bool read = strobe == kIord;
        if (OnGlitch(strobe, ModeFamily::Pio, mode, fall, line.ChangeBefore(fall), rise, true)) return;
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
            if (read)
                DataSetupHold(fall, *rise, mode, "t5", "DIOR- data setup", t.t5, "t6", "DIOR- data hold",
                              t.t6);
            else
                DataSetupHold(fall, *rise, mode, "t3", "DIOW- data setup", t.t3, "t4", "DIOW- data hold",
                              t.t4);
            WaitState(fall, *rise, mode, t, read);
        }
        if (previousRegister_) {
            Minimum(fall, mode, "t0", "PIO cycle time", fall - previousRegister_->fall, t.t0);
            if (previousRegister_->rise <= fall)
                Minimum(fall, mode, "t2i", "strobe recovery", fall - previousRegister_->rise, t.t2i);
        }
        previousRegister_ = Edge{fall, rise.value_or(fall)};
    }

    // Data setup before the strobe's negation, from the data lines' last
    // change at or before it, and hold after it, to their first change.
    void DataSetupHold(uint32_t fall, uint32_t rise, TransferMode mode, const char* setupName,
                       const char* setupMeaning, double setupNs, const char* holdName,
                       const char* holdMeaning, double holdNs) {
        // The data lines are asked only for limits the capture can judge.
        std::optional<uint32_t> setup, hold;
        if (Judgeable(setupNs) || Judgeable(holdNs)) DataAround(rise, setup, hold);
        if (setup || !Judgeable(setupNs))
            Minimum(fall, mode, setupName, setupMeaning, setup ? rise - *setup : 0, setupNs);
        if (hold || !Judgeable(holdNs))
            Minimum(fall, mode, holdName, holdMeaning, hold ? *hold - rise : 0, holdNs);
    }

    // An IORDY wait state outside DMA: the card negates IORDY while the
    // strobe is asserted and asserts it again before the host ends it.
    void WaitState(uint32_t fall, uint32_t rise, TransferMode mode, const PioTiming& t, bool read) {
        if (t.tB <= 0) return;  // the mode has no flow control
        Cursor& iordy = cursors_[kIordy];
        const auto negated = iordy.FirstAtOrAfter(fall);
        if (!negated || *negated >= rise || LevelAfter(kIordy, *negated) != 0) return;
        const auto asserted = iordy.FirstAfter(*negated);
        Maximum(fall, mode, "tA", "strobe asserted to IORDY negated", *negated - fall, t.tA);
        if (!asserted) return;
        Maximum(fall, mode, "tB", "IORDY pulse width", *asserted - *negated, t.tB);
        if (!read || *asserted > rise) return;
        // Read data valid no later than IORDY's return (tRD, at least 0):
        // a data change a whole sample after it came surely after it.
        const auto valid = LastChange(kD0, kD0 + 15, rise - 1);
        if (valid && *valid > *asserted && *valid < rise) {
            report_.warnings.push_back(Warning(fall, "tRD", "read data valid to IORDY asserted", mode,
                                               -Ns(*valid - *asserted), t.tRd));
        }
    }

    int LevelAfter(int role, uint32_t change) {
        const Signal* signal = bus_[static_cast<size_t>(role)];
        const auto& c = signal->changes;
        const auto toggles = std::upper_bound(c.begin(), c.end(), change) - c.begin();
        return (signal->initialLevel ^ static_cast<int>(toggles & 1)) & 1;
    }

    // Strobe glitches: a pulse (either level) of `strobe` shorter than any
    // mode of the family allows is no bus cycle but ringing or noise. A run
    // of such pulses is one glitch, reported once; the records on it get no
    // other check. `before`, `at`, `after`: the strobe's changes around the
    // record. `pulseCounts`: a record's own pulse is the one after it (PIO,
    // multiword DMA), else the one before (Ultra DMA).
    bool OnGlitch(int strobe, ModeFamily family, TransferMode mode, uint32_t at,
                  std::optional<uint32_t> before, std::optional<uint32_t> after, bool pulseCounts) {
        const double limit = GlitchLimit(family);
        if (!CanJudge(at, mode, kGlitch, kGlitchMeaning, limit, "at least")) return false;
        const bool shortBefore = before && SurelyShorter(at - *before, limit);
        const bool shortAfter = pulseCounts && after && SurelyShorter(*after - at, limit);
        if (!shortBefore && !shortAfter) return false;
        const uint32_t from = shortBefore ? *before : at;
        const uint32_t to = shortAfter ? *after : at;
        Glitch& last = glitches_[strobe == kIord ? 0 : strobe == kIowr ? 1 : 2];
        if (last.index && from <= last.to) {
            // The same run goes on.
            last.to = std::max(last.to, to);
            report_.warnings[*last.index].measuredNs = Ns(last.to - last.from);
        } else {
            last = {from, to, report_.warnings.size()};
            static const char* const kMeaning[][3] = {
                {"DIOR- pulse shorter than any PIO mode allows",
                 "DIOR- pulse shorter than any multiword DMA mode allows",
                 "HSTROBE pulse shorter than any Ultra DMA mode allows"},
                {"DIOW- pulse shorter than any PIO mode allows",
                 "DIOW- pulse shorter than any multiword DMA mode allows",
                 "DIOW- pulse shorter than any Ultra DMA mode allows"},
                {"IORDY pulse shorter than any PIO mode allows",
                 "IORDY pulse shorter than any multiword DMA mode allows",
                 "DSTROBE pulse shorter than any Ultra DMA mode allows"}};
            const size_t line = strobe == kIord ? 0 : strobe == kIowr ? 1 : 2;
            report_.warnings.push_back(Warning(from, "glitch", kMeaning[line][static_cast<int>(family)], mode,
                                               Ns(to - from), limit));
        }
        if (shortAfter || !pulseCounts) report_.glitchWords.push_back(at);
        return true;
    }

    // The shortest strobe pulse the family's fastest mode allows.
    static double GlitchLimit(ModeFamily family) {
        static const double kLimits[3] = {FastestPulse(ModeFamily::Pio), FastestPulse(ModeFamily::Mwdma),
                                          FastestPulse(ModeFamily::Udma)};
        return kLimits[static_cast<int>(family)];
    }
    static double FastestPulse(ModeFamily family) {
        const int fastest = FastestMode(family).number;
        switch (family) {
            case ModeFamily::Pio: {
                const PioTiming& t = PioMode(fastest);
                return std::min({t.t2Data, t.t2Reg, t.t2i});
            }
            case ModeFamily::Mwdma: {
                const MwdmaTiming& t = MwdmaMode(fastest);
                return std::min({t.tD, t.tKR, t.tKW});
            }
            case ModeFamily::Udma:
                break;
        }
        return UdmaMode(fastest).tCyc;
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
        if (OnGlitch(strobe, ModeFamily::Mwdma, mode, fall,
                     cursors_[static_cast<size_t>(strobe)].ChangeBefore(fall), rise, true))
            return;
        if (rise) {
            Minimum(fall, mode, "tD", read ? "DIOR- asserted pulse" : "DIOW- asserted pulse", *rise - fall,
                    t.tD);
            if (read)
                DataSetupHold(fall, *rise, mode, "tG", "DIOR- data setup", t.tG, "tF", "DIOR- data hold",
                              t.tF);
            else
                DataSetupHold(fall, *rise, mode, "tG", "DIOW- data setup", t.tG, "tH", "DIOW- data hold",
                              t.tH);
        }
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

    // Asked of every word of a burst: the limits are worked out once per
    // mode, the strobe and DMACK- cursors move forward, the data lines are
    // asked only when the capture can judge tDS or tDH.
    void Ultra(const Record& record) {
        const uint32_t edge = record.position;
        const TransferMode mode = ModeFor(ModeFamily::Udma, edge);
        UltraLimits& limits = UltraFor(mode.number);
        ++report_.cyclesChecked;
        const bool in = record.fieldId == kUdmaRead;
        const int strobe = in ? kIordy : kIord;
        // A glitch: the pulse before the edge shorter than any mode allows
        // (OnGlitch tells the rest).
        if (!limits.glitch.judgeable) {
            Count(limits.glitch, edge, mode, kGlitch, kGlitchMeaning, "at least");
        } else if (const auto before = cursors_[static_cast<size_t>(strobe)].ChangeBefore(edge);
                   before && edge - *before < limits.glitch.below) {
            if (OnGlitch(strobe, ModeFamily::Udma, mode, edge, before, std::nullopt, false)) return;
        }
        LastEdges& history = in ? udmaIn_ : udmaOut_;
        if (history.count > 0 && (history.Last() >= edge || !SameEnvelope(history.Last(), edge)))
            history.count = 0;
        if (history.count > 0) {
            Minimum(edge, mode, "tCYC", in ? "DSTROBE edge to edge" : "HSTROBE edge to edge",
                    edge - history.Last(), limits.cycle);
            if (history.count == 2)
                Minimum(edge, mode, "t2CYC", in ? "DSTROBE two-cycle time" : "HSTROBE two-cycle time",
                        edge - history.edges[0], limits.twoCycles);
        }
        static constexpr const char* kSetup = "data setup before the strobe edge";
        static constexpr const char* kHold = "data hold after the strobe edge";
        std::optional<uint32_t> setup, hold;
        if (limits.setup.judgeable || limits.hold.judgeable) DataAround(edge, setup, hold);
        if (setup || !limits.setup.judgeable)
            Minimum(edge, mode, "tDS", kSetup, setup ? edge - *setup : 0, limits.setup);
        if (hold || !limits.hold.judgeable)
            Minimum(edge, mode, "tDH", kHold, hold ? *hold - edge : 0, limits.hold);
        history.Push(edge);
    }

    // The last two strobe edges of a burst.
    struct LastEdges {
        uint32_t edges[2] = {0, 0};
        int count = 0;
        uint32_t Last() const { return edges[count - 1]; }
        void Push(uint32_t edge) {
            if (count == 2) edges[0] = edges[1];
            edges[count == 2 ? 1 : count++] = edge;
        }
    };

    struct Glitch {
        uint32_t from = 0, to = 0;
        std::optional<size_t> index;  // its warning
    };

    TimingOptions options_;
    BusSignals bus_;
    Glitch glitches_[3];  // the latest on IORD, IOWR, IORDY
    std::vector<Cursor> cursors_;
    std::optional<TransferMode> modes_[3];
    uint8_t features_ = 0;
    uint8_t sectorCount_ = 0;
    std::optional<Edge> previousRegister_, previousMultiword_;
    LastEdges udmaIn_, udmaOut_;
    const TransferMode fastest_[3] = {FastestMode(ModeFamily::Pio), FastestMode(ModeFamily::Mwdma),
                                      FastestMode(ModeFamily::Udma)};
    std::array<UltraLimits, kUdmaModes> ultraLimits_{};
    std::map<std::pair<const char*, int>, std::pair<std::string, TimingNote>> cannotJudge_;
    // Entries looked up without the map (a slot by the name's address and
    // the mode): most cycles ask the same few in turn.
    std::array<std::pair<std::pair<const char*, int>, std::pair<std::string, TimingNote>*>, 31>
        recentUnjudged_{};
    TimingNote assumed_[3];
    TimingReport report_;
};

}  // namespace

std::string TimingWarning::Describe() const {
    if (limit == Limit::None) return parameter + " (" + meaning + "): " + detail;
    return ModeName(mode) + " " + parameter + " (" + meaning + "): " + Number(measuredNs) + " ns, " +
           (limit == Limit::Maximum ? "at most " : "at least ") + Number(allowedNs) + " ns";
}

void CountGlitchWords(std::vector<Transaction>& transactions, const TimingReport& report) {
    const std::vector<uint32_t>& words = report.glitchWords;
    for (Transaction& t : transactions) {
        if (t.kind == Transaction::Kind::SoftwareReset) continue;
        t.glitchWords = static_cast<uint64_t>(std::upper_bound(words.begin(), words.end(), t.end) -
                                              std::lower_bound(words.begin(), words.end(), t.start));
    }
}

struct TimingChecker::Impl {
    Checker checker;
};

TimingChecker::TimingChecker(const BusSignals& bus, const TimingOptions& options) {
    if (options.samplePeriodNs > 0) impl_ = std::make_unique<Impl>(Impl{Checker(bus, options)});
}

TimingChecker::~TimingChecker() = default;

void TimingChecker::Add(std::span<const Record> records) {
    if (!impl_) return;
    for (const Record& record : records) impl_->checker.Add(record);
}

TimingReport TimingChecker::Finish() {
    if (impl_) return impl_->checker.Finish();
    TimingReport report;
    report.notes.push_back({TimingNote::Kind::PeriodUnknown, 0, 0,
                            "the sample period is unknown, so no timing is judged (give the sample rate)"});
    return report;
}

TimingReport CheckTiming(const std::vector<Record>& records, const BusSignals& bus,
                         const TimingOptions& options) {
    TimingChecker checker(bus, options);
    checker.Add(records);
    return checker.Finish();
}

}  // namespace fd::host::analysis
