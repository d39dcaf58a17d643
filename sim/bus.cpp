#include "sim/bus.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "host/analysis/udma_crc.h"
#include "sim/timing.h"

namespace fd::sim {
namespace {

// The bus roles (kBusRoles), then INTRQ, which idles low.
static_assert(kIntrq == kBusRoleCount);
constexpr std::string_view kIntrqName = "INTRQ";

constexpr double kStatusPollGapNs = 100;
// Room left at the top of the position range for the idle tail and glitches.
constexpr uint32_t kLastPosition = 0xF0000000u;

}  // namespace

uint16_t UdmaCrc(std::span<const uint16_t> words) { return host::analysis::UdmaCrc(words); }

std::string_view LineName(int line) {
    if (line < 0 || line > kIntrq) return {};
    return line == kIntrq ? kIntrqName : kBusRoles[static_cast<size_t>(line)].name;
}

int LineByName(std::string_view name) {
    for (int line = 0; line <= kIntrq; ++line) {
        if (LineName(line) == name) return line;
    }
    return -1;
}

TaskFile LbaTaskFile(uint32_t lba, uint8_t count, uint8_t features) {
    TaskFile file;
    file.features = features;
    file.sectorCount = count;
    file.sectorNumber = static_cast<uint8_t>(lba);
    file.cylinderLow = static_cast<uint8_t>(lba >> 8);
    file.cylinderHigh = static_cast<uint8_t>(lba >> 16);
    file.deviceHead = static_cast<uint8_t>(0xE0 | ((lba >> 24) & 0x0F));
    return file;
}

void Bus::CheckRoom(uint64_t until) const {
    if (until > kLastPosition) {
        throw std::length_error(
            "the capture would run past 2^32 samples; use a longer sample period or less data");
    }
}

Bus::Bus(Options options) : options_(std::move(options)), random_(options_.seed) {
    if (!(options_.samplePeriodNs > 0)) throw std::invalid_argument("the sample period must be positive");
    PioMode(options_.pioMode);
    MwdmaMode(options_.mwdmaMode);
    UdmaMode(options_.udmaMode);
    // Start-low signals rise half-way through the lead-in, before any activity.
    options_.leadInSamples = std::max<uint32_t>(options_.leadInSamples, 4);
    const BusTiming& timing = options_.timing;
    if (!timing.ideal) {
        if (!std::isfinite(timing.readAccessNs)) {
            throw std::invalid_argument("the read access time must be a number");
        }
        if (!(timing.iordyWaitNs >= 0) || !std::isfinite(timing.iordyWaitNs) ||
            !(options_.faults.iordyPastTbNs >= 0) || !std::isfinite(options_.faults.iordyPastTbNs)) {
            throw std::invalid_argument("the IORDY wait must be 0 or more ns");
        }
        if (timing.iordyEvery == 0) {
            throw std::invalid_argument("IORDY wait states need a cycle count of 1 or more");
        }
        const PioTiming& pio = PioMode(options_.pioMode);
        if ((timing.iordyWaitNs > 0 || options_.faults.iordyPastTbNs > 0) && pio.tB == 0) {
            throw std::invalid_argument("PIO mode " + std::to_string(options_.pioMode) +
                                        " has no IORDY flow control; IORDY wait states need PIO 0 to 4");
        }
        if (timing.iordyWaitNs > pio.tB) {
            throw std::invalid_argument("an IORDY wait longer than tB (" +
                                        std::to_string(static_cast<int>(pio.tB)) +
                                        " ns) is more than a card may hold IORDY");
        }
    }
    // The realistic bus starts with nobody driving the data lines.
    releaseAt_ = timing.ideal ? kOpenEnd : 0;
    const int lines = options_.intrq ? kIntrq + 1 : kBusRoleCount;
    tracks_.resize(static_cast<size_t>(lines));
    for (int line = 0; line < lines; ++line) {
        const uint8_t idle = line < kBusRoleCount ? kBusRoles[static_cast<size_t>(line)].idleLevel : 0;
        tracks_[static_cast<size_t>(line)] = Track{idle, idle, {}};
    }
    now_ = options_.leadInSamples;
}

uint32_t Bus::Samples(double ns) const {
    const double samples = std::ceil(ns / options_.samplePeriodNs - 1e-9);
    if (samples < 1) return 1;
    // Saturates; CheckRoom then refuses the capture.
    return samples > kLastPosition ? kLastPosition : static_cast<uint32_t>(samples);
}

uint32_t Bus::SamplesWithin(double ns) const {
    const double samples = std::floor(ns / options_.samplePeriodNs + 1e-9);
    if (samples < 0) return 0;
    return samples > kLastPosition ? kLastPosition : static_cast<uint32_t>(samples);
}

uint32_t Bus::SamplesFor(double ns) const {
    const double samples = std::ceil(ns / options_.samplePeriodNs - 1e-9);
    if (samples < 0) return 0;
    return samples > kLastPosition ? kLastPosition : static_cast<uint32_t>(samples);
}

void Bus::Set(int line, uint32_t position, int level) {
    Track& track = tracks_[static_cast<size_t>(line)];
    if (track.level == level) return;
    if (!track.changes.empty() && position < track.changes.back()) {
        throw std::logic_error("bus activity out of order on " + std::string(LineName(line)));
    }
    // Changing back at the same sample cancels the change: no zero-width
    // pulses unless a fault asks for them.
    if (!track.changes.empty() && track.changes.back() == position) {
        track.changes.pop_back();
    } else {
        track.changes.push_back(position);
    }
    track.level = static_cast<uint8_t>(level);
}

void Bus::SetData(uint32_t position, uint16_t value) {
    for (int bit = 0; bit < 16; ++bit) Set(kD0 + bit, position, (value >> bit) & 1);
}

void Bus::DriveData(uint32_t position, uint16_t value) {
    if (releaseAt_ < position) transcript_.undriven.push_back({releaseAt_, position});
    releaseAt_ = kOpenEnd;
    SetData(position, value);
}

void Bus::ReleaseData(uint32_t position) { releaseAt_ = position; }

uint16_t Bus::DataAt(uint32_t position) const {
    uint16_t value = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const Track& track = tracks_[static_cast<size_t>(kD0 + bit)];
        const auto changes =
            std::upper_bound(track.changes.begin(), track.changes.end(), position) - track.changes.begin();
        const int level = (track.initial + static_cast<int>(changes)) & 1;
        value = static_cast<uint16_t>(value | (level << bit));
    }
    return value;
}

void Bus::SetAddress(uint32_t position, Reg reg, bool selected) {
    const auto code = static_cast<unsigned>(reg);
    const bool block1 = (code & 8) != 0;
    Set(kCs0, position, selected && !block1 ? 0 : 1);
    Set(kCs1, position, selected && block1 ? 0 : 1);
    if (!selected) return;
    Set(kA0, position, code & 1);
    Set(kA1, position, (code >> 1) & 1);
    Set(kA2, position, (code >> 2) & 1);
}

void Bus::MarkAt(Phase& phase, Landmark kind, uint32_t position) {
    phase.marks.push_back({kind, position, DataAt(position)});
}

Transfer Bus::RegisterCycle(Reg reg, uint16_t value, bool write, bool wide) {
    if (finished_) throw std::logic_error("the bus is finished");
    const PioTiming& t = PioMode(options_.pioMode);
    const BusTiming& timing = options_.timing;
    const int strobe = write ? kIowr : kIord;
    // The fault of IORDY held past tB replaces the wait given.
    const double waitNs =
        options_.faults.iordyPastTbNs > 0 ? t.tB + options_.faults.iordyPastTbNs : timing.iordyWaitNs;
    const bool waits = !timing.ideal && waitNs > 0 && ++pioCycles_ % timing.iordyEvery == 0;
    CheckRoom(uint64_t{now_} + 4 * uint64_t{Samples(t.t0)} + (waits ? 2 * uint64_t{Samples(waitNs)} : 0));
    const uint32_t start = now_;
    SetAddress(start, reg, true);
    const bool early = timing.ideal || (write && timing.writeData == WriteData::Setup);
    if (early) DriveData(start, value);
    const uint32_t fall = start + Samples(t.t1);
    Set(strobe, fall, 0);
    bool shortened = false;
    const double pulse = wide ? t.t2Data : t.t2Reg;
    uint32_t rise = fall + StrobeLength(Samples(pulse), shortened);
    Transfer transfer{fall, value};
    transfer.shortStrobe = shortened;
    if (waits && !shortened) {
        transfer.waitFrom = timing.iordyWithStrobe ? fall : fall + SamplesWithin(t.tA);
        transfer.waitUntil = transfer.waitFrom + Samples(waitNs);
        Set(kIordy, transfer.waitFrom, 0);
        Set(kIordy, transfer.waitUntil, 1);
        // The host sees IORDY back and then ends the pulse, the data's setup later.
        rise = std::max(rise, transfer.waitUntil + Samples(write ? t.t3 : t.t5));
    }
    uint32_t driven = start;
    if (!early) {
        if (!write) {
            // A card that asked for a wait state has the data ready tRD before IORDY returns.
            const double access =
                timing.readAccessNs >= 0 ? timing.readAccessNs : std::max(pulse - t.t5, 0.0);
            driven = transfer.waitUntil != 0
                         ? transfer.waitUntil - std::min(SamplesFor(t.tRd), transfer.waitUntil - fall)
                         : fall + SamplesWithin(access);
        } else if (timing.writeData == WriteData::Late) {
            driven = rise - std::min(Samples(t.t3), rise - fall);
        } else {
            driven = fall;
        }
        driven = std::clamp(driven, fall, rise - 1);
        if (!write && LateRead(shortened || transfer.waitUntil != 0)) {
            transfer.lateData = true;
            driven = rise - std::min(Samples(options_.faults.dataMarginNs), rise - fall);
        }
        DriveData(driven, value);
    }
    Set(strobe, rise, 1);
    transfer.strobeEnd = rise;
    transfer.dataFrom = driven;
    transfer.dataUntil = kOpenEnd;
    if (!timing.ideal) {
        transfer.dataUntil = rise + Samples(write ? t.t4 : t.t6);
        if (write && EarlyRelease(shortened || transfer.waitUntil != 0)) {
            transfer.earlyData = true;
            transfer.dataUntil = FloatData(rise, value, Samples(t.t4));
            ReleaseData(transfer.dataUntil + 1);
        } else {
            ReleaseData(transfer.dataUntil);
        }
    }
    const uint32_t release = rise + Samples(t.t9);
    SetAddress(release, reg, false);
    cycleEnd_ = release;
    now_ = std::max({start + Samples(t.t0), release + 1, rise + Samples(t.t2i)});
    return transfer;
}

void Bus::WriteRegister(Reg reg, uint16_t value) {
    Phase phase{PhaseKind::RegisterWrite, reg};
    phase.start = now_;
    phase.words.push_back(RegisterCycle(reg, value, true, reg == Reg::Data));
    phase.end = cycleEnd_;
    transcript_.phases.push_back(std::move(phase));
}

uint16_t Bus::ReadRegister(Reg reg, uint16_t answer) {
    Phase phase{PhaseKind::RegisterRead, reg};
    phase.start = now_;
    phase.words.push_back(RegisterCycle(reg, answer, false, reg == Reg::Data));
    phase.end = cycleEnd_;
    // Reading STATUS acknowledges the interrupt; ALT STATUS does not.
    if (reg == Reg::Status && options_.intrq) Set(kIntrq, phase.words[0].position, 0);
    transcript_.phases.push_back(std::move(phase));
    return answer;
}

void Bus::PioDataIn(std::span<const uint16_t> words) {
    Phase phase{PhaseKind::PioDataIn, Reg::Data};
    phase.start = now_;
    for (uint16_t word : words) phase.words.push_back(RegisterCycle(Reg::Data, word, false, true));
    phase.end = cycleEnd_;
    transcript_.phases.push_back(std::move(phase));
}

void Bus::PioDataOut(std::span<const uint16_t> words) {
    Phase phase{PhaseKind::PioDataOut, Reg::Data};
    phase.start = now_;
    for (uint16_t word : words) phase.words.push_back(RegisterCycle(Reg::Data, word, true, true));
    phase.end = cycleEnd_;
    transcript_.phases.push_back(std::move(phase));
}

uint32_t Bus::StrobeLength(uint32_t samples, bool& shortened) {
    ++strobes_;
    const uint32_t every = options_.faults.shortStrobeEvery;
    shortened = every != 0 && strobes_ % every == 0;
    if (!shortened) return samples;
    return std::max<uint32_t>(
        static_cast<uint32_t>(uint64_t{samples} * options_.faults.shortStrobePercent / 100), 1);
}

bool Bus::LateRead(bool skip) {
    const uint32_t every = options_.faults.lateReadEvery;
    return !skip && every != 0 && ++readCycles_ % every == 0;
}

bool Bus::EarlyRelease(bool skip) {
    const uint32_t every = options_.faults.earlyReleaseEvery;
    return !skip && every != 0 && ++writeCycles_ % every == 0;
}

uint32_t Bus::FloatData(uint32_t rise, uint16_t value, uint32_t hold) {
    const uint32_t at =
        rise + std::min(Samples(options_.faults.dataMarginNs), std::max<uint32_t>(hold, 1) - 1);
    DriveData(at, static_cast<uint16_t>(~value));
    return at;
}

bool Bus::NextWordSimultaneous() {
    ++dmaWords_;
    const uint32_t every = options_.faults.simultaneousEvery;
    return every != 0 && dmaWords_ % every == 0;
}

void Bus::MwdmaIn(std::span<const uint16_t> words) { Mwdma(words, false); }
void Bus::MwdmaOut(std::span<const uint16_t> words) { Mwdma(words, true); }

void Bus::Mwdma(std::span<const uint16_t> words, bool write) {
    if (finished_) throw std::logic_error("the bus is finished");
    if (words.empty()) throw std::invalid_argument("a multiword DMA transfer needs at least one word");
    const MwdmaTiming& t = MwdmaMode(options_.mwdmaMode);
    const BusTiming& timing = options_.timing;
    const int strobe = write ? kIowr : kIord;
    const int other = write ? kIord : kIowr;
    CheckRoom(uint64_t{now_} + (words.size() + 4) * (uint64_t{Samples(t.t0)} + Samples(t.tD) + 4));
    Phase phase{write ? PhaseKind::MwdmaOut : PhaseKind::MwdmaIn};
    phase.start = now_;
    Set(kDmarq, now_, 1);
    MarkAt(phase, Landmark::DmarqAsserted, now_);
    const uint32_t dmack = now_ + Samples(t.tM);
    Set(kDmack, dmack, 0);
    MarkAt(phase, Landmark::DmackAsserted, dmack);
    // Data that goes on the lines ahead of the strobe: the ideal bus's, and
    // a host's that drives write data from the setup.
    const bool early = timing.ideal || (write && timing.writeData == WriteData::Setup);
    if (early) DriveData(dmack + 1, words[0]);
    uint32_t fall = dmack + 2;
    uint32_t rise = 0;
    const uint32_t recovery = std::max<uint32_t>(Samples(write ? t.tKW : t.tKR), 2);
    for (size_t i = 0; i < words.size(); ++i) {
        uint32_t driven = dmack + 1;
        if (i > 0) {
            fall = std::max(fall + Samples(t.t0), rise + recovery);
            // The next word follows the previous one's hold.
            driven = timing.ideal ? rise + 1 : std::min(rise + Samples(t.tH), fall);
            if (early) DriveData(driven, words[i]);
        }
        const bool simultaneous = NextWordSimultaneous();
        Set(strobe, fall, 0);
        bool shortened = false;
        bool late = false;
        rise = fall + StrobeLength(Samples(t.tD), shortened);
        if (!early) {
            if (!write) {
                const double access =
                    timing.readAccessNs >= 0 ? timing.readAccessNs : std::max(t.tD - t.tG, 0.0);
                driven = fall + SamplesWithin(access);
            } else if (timing.writeData == WriteData::Late) {
                driven = rise - std::min(Samples(t.tG), rise - fall);
            } else {
                driven = fall;
            }
            driven = std::clamp(driven, fall, rise - 1);
            if (!write && LateRead(shortened)) {
                late = true;
                driven = rise - std::min(Samples(options_.faults.dataMarginNs), rise - fall);
            }
            DriveData(driven, words[i]);
        }
        Set(strobe, rise, 1);
        if (simultaneous) {
            Set(other, fall, 0);
            Set(other, rise, 1);
        }
        Transfer transfer{fall, words[i], false, simultaneous, shortened};
        transfer.lateData = late;
        transfer.strobeEnd = rise;
        transfer.dataFrom = driven;
        transfer.dataUntil = kOpenEnd;
        if (!timing.ideal) {
            transfer.dataUntil = rise + Samples(write ? t.tH : t.tF);
            if (write && EarlyRelease(shortened)) {
                transfer.earlyData = true;
                transfer.dataUntil = FloatData(rise, words[i], Samples(t.tH));
                ReleaseData(transfer.dataUntil + 1);
            } else {
                ReleaseData(transfer.dataUntil);
            }
        }
        phase.words.push_back(transfer);
    }
    const uint32_t lastFall = fall;
    uint32_t dmarq = rise;
    if (!timing.ideal) {
        // The card drops DMARQ within tL of the last cycle's strobe falling.
        dmarq = timing.dmarqWithStrobe ? lastFall : lastFall + SamplesWithin(write ? t.tLW : t.tLR);
    }
    // The host releases DMACK after the last cycle ends.
    Set(kDmarq, dmarq, 0);
    MarkAt(phase, Landmark::DmarqNegated, dmarq);
    const uint32_t release = std::max(rise, dmarq) + Samples(t.tJ);
    Set(kDmack, release, 1);
    MarkAt(phase, Landmark::DmackNegated, release);
    phase.end = release;
    now_ = release + 1;
    transcript_.phases.push_back(std::move(phase));
}

void Bus::UdmaIn(std::span<const uint16_t> words, const UdmaBurst& burst) { Udma(words, burst, false); }
void Bus::UdmaOut(std::span<const uint16_t> words, const UdmaBurst& burst) { Udma(words, burst, true); }

// One Ultra DMA burst. Data-in: the card strobes DSTROBE on IORDY, the host
// holds HDMARDY- (IORD) low. Data-out: the host strobes HSTROBE on IORD, the
// card holds DDMARDY- (IORDY) low. IOWR is STOP throughout.
//
// On the realistic bus each step of the opening and of the termination is
// an event of its own, at the mode's minimum: DMACK-, STOP negated, then
// HDMARDY- asserted and the card driving DD a sample later (data-in) or the
// host driving DD and the card asserting DDMARDY- (data-out), then the first
// strobe edge. The sender ends a burst tSS after its last edge; a receiver
// ends it by negating its ready line and waits tRP before the next step.
// The host drives the CRC word tCVS before DMACK- rises and holds it tCVH.
void Bus::Udma(std::span<const uint16_t> words, const UdmaBurst& burst, bool write) {
    if (finished_) throw std::logic_error("the bus is finished");
    if (words.empty()) throw std::invalid_argument("an Ultra DMA burst needs at least one word");
    const UdmaTiming& t = UdmaMode(options_.udmaMode);
    const bool ideal = options_.timing.ideal;
    // Each strobe phase lasts two samples at least, so data can change
    // between two edges rather than on one.
    const uint32_t half = std::max<uint32_t>(Samples(t.halfCycle), 2);
    const uint32_t hold = std::min(Samples(t.tDvh), half - 1);
    const uint32_t interlock = Samples(t.tMli);
    const int strobe = write ? kIord : kIordy;
    const int ready = write ? kIordy : kIord;
    const uint64_t steps = uint64_t{Samples(t.tRp)} + Samples(t.tSs) + Samples(t.tDzfs) + Samples(t.tCvs) +
                           Samples(t.tCvh) + Samples(t.tZah);
    CheckRoom(uint64_t{now_} + (words.size() + 20) * uint64_t{half} +
              (burst.pauseAfter.size() + 1) * uint64_t{Samples(burst.pauseNs)} + 16 * steps);

    Phase phase{write ? PhaseKind::UdmaOut : PhaseKind::UdmaIn};
    phase.terminator = burst.terminator;
    phase.crc = UdmaCrc(words);
    phase.start = now_;

    Set(kDmarq, now_, 1);
    MarkAt(phase, Landmark::DmarqAsserted, now_);
    const uint32_t dmack = now_ + Samples(t.tAck);
    // The ideal host drives the first word as soon as it owns the bus.
    if (write && ideal) DriveData(dmack, words[0]);
    Set(kDmack, dmack, 0);
    MarkAt(phase, Landmark::DmackAsserted, dmack);
    const uint32_t stop = dmack + Samples(t.tEnv);
    uint32_t first;
    uint32_t firstData;
    if (!write && ideal) {
        // The host negates STOP and asserts HDMARDY- on the same clock.
        Set(kIowr, stop, 0);
        Set(kIord, stop, 0);
        MarkAt(phase, Landmark::StopNegated, stop);
        MarkAt(phase, Landmark::ReceiverReady, stop);
        firstData = stop + 1;
        DriveData(firstData, words[0]);
        first = stop + 1 + std::max<uint32_t>(Samples(t.tDvs), 1);
    } else if (!write) {
        Set(kIowr, stop, 0);
        MarkAt(phase, Landmark::StopNegated, stop);
        const uint32_t ready0 = stop + 1;
        Set(kIord, ready0, 0);
        MarkAt(phase, Landmark::ReceiverReady, ready0);
        // The card turns its drivers on once it has seen both, and then
        // waits tDZFS before the first DSTROBE edge.
        firstData = ready0 + std::max<uint32_t>(SamplesFor(t.tZad), 1);
        DriveData(firstData, words[0]);
        first = firstData + Samples(std::max(t.tDzfs, t.tDvs));
    } else {
        Set(kIowr, stop, 0);
        MarkAt(phase, Landmark::StopNegated, stop);
        const uint32_t ready0 = stop + interlock;
        firstData = ideal ? dmack : stop + 1;
        if (!ideal) DriveData(firstData, words[0]);
        Set(kIordy, ready0, 0);
        MarkAt(phase, Landmark::ReceiverReady, ready0);
        first = ready0 + std::max<uint32_t>(Samples(t.tDvs), 1);
        if (!ideal) first = std::max(ready0 + 1, firstData + Samples(t.tDvs));
    }

    uint32_t edge = first;
    const uint32_t pause = Samples(burst.pauseNs);
    const uint32_t margin = Samples(options_.faults.dataMarginNs);
    bool earlyAfterPrevious = false;
    uint32_t change = firstData;
    for (size_t i = 0; i < words.size(); ++i) {
        bool shortened = false;
        bool late = false;
        bool early = false;
        const uint64_t word = ++udmaWords_;
        if (i > 0) {
            const uint32_t previous = edge;
            // A short phase still leaves the data room to change before the edge.
            edge += std::max(StrobeLength(half, shortened), hold + 1);
            if (std::find(burst.pauseAfter.begin(), burst.pauseAfter.end(), i - 1) !=
                burst.pauseAfter.end()) {
                edge += pause;
            }
            const uint32_t every = options_.faults.lateDataEvery;
            late = every != 0 && word % every == 0 && i + 1 < words.size() && !earlyAfterPrevious;
            change = previous + hold;
            if (earlyAfterPrevious) change = previous + std::min(margin, edge - previous - 1);
            if (late) change = std::max(edge - std::min(margin, edge - previous - 1), previous + 1);
            SetData(change, words[i]);
            phase.words.back().dataUntil = change;
        }
        early = options_.faults.earlyDataEvery != 0 && word % options_.faults.earlyDataEvery == 0 && i > 0 &&
                i + 1 < words.size();
        earlyAfterPrevious = early;
        const int level = 1 - tracks_[static_cast<size_t>(strobe)].level;
        const bool simultaneous = NextWordSimultaneous();
        Set(strobe, edge, level);
        if (simultaneous) {
            // A one-sample pulse whose return edge matches no bus cycle: STOP
            // while the other side holds its ready line low, or DDMARDY- when
            // HSTROBE has just risen.
            const int companion = write && level == 1 ? kIordy : kIowr;
            Set(companion, edge, 1);
            Set(companion, edge + 1, 0);
        }
        Transfer transfer{edge, words[i], level == 1, simultaneous, shortened};
        transfer.lateData = late;
        transfer.earlyData = early;
        transfer.dataFrom = change;
        transfer.dataUntil = kOpenEnd;
        phase.words.push_back(transfer);
    }

    uint32_t at = edge + half;
    auto step = [&](int line, int level, Landmark mark) {
        Set(line, at, level);
        MarkAt(phase, mark, at);
        at += interlock;
    };
    if (ideal) {
        if (burst.terminator == Terminator::Device) {
            step(kDmarq, 0, Landmark::DmarqNegated);
            step(kIowr, 1, Landmark::StopAsserted);
            step(ready, 1, Landmark::ReceiverPaused);
        } else if (!write) {
            // The host drops HDMARDY- and waits tRP before asserting STOP.
            Set(kIord, at, 1);
            MarkAt(phase, Landmark::ReceiverPaused, at);
            at += Samples(t.tRp);
            step(kIowr, 1, Landmark::StopAsserted);
            step(kDmarq, 0, Landmark::DmarqNegated);
        } else {
            step(kIowr, 1, Landmark::StopAsserted);
            step(kDmarq, 0, Landmark::DmarqNegated);
            step(kIordy, 1, Landmark::ReceiverPaused);
        }
    } else if ((burst.terminator == Terminator::Device) != write) {
        // The sender ends the burst tSS after its last edge: the card by
        // negating DMARQ, the host by asserting STOP.
        at = edge + std::max(Samples(t.tSs), half);
        if (!write) {
            step(kDmarq, 0, Landmark::DmarqNegated);
            step(kIowr, 1, Landmark::StopAsserted);
            step(kIord, 1, Landmark::ReceiverPaused);
        } else {
            step(kIowr, 1, Landmark::StopAsserted);
            step(kDmarq, 0, Landmark::DmarqNegated);
            step(kIordy, 1, Landmark::ReceiverPaused);
        }
    } else {
        // The receiver ends it: it negates its ready line, the sender stops,
        // and tRP later the burst closes (the card negates DMARQ and the host
        // asserts STOP, each waiting for the other's step).
        Set(ready, at, 1);
        MarkAt(phase, Landmark::ReceiverPaused, at);
        at += Samples(t.tRp);
        if (!write) {
            step(kIowr, 1, Landmark::StopAsserted);
            step(kDmarq, 0, Landmark::DmarqNegated);
        } else {
            step(kDmarq, 0, Landmark::DmarqNegated);
            step(kIowr, 1, Landmark::StopAsserted);
        }
    }
    if (tracks_[static_cast<size_t>(strobe)].level == 0) step(strobe, 1, Landmark::FinalStrobe);
    uint32_t crcAt = at;
    uint32_t dmackUp = at + Samples(t.tAck);
    if (!ideal) {
        // In a data-in burst the card lets go of DD and the host takes the
        // lines over tZAH later for the CRC word.
        if (!write) {
            ReleaseData(at);
            crcAt = at + Samples(t.tZah);
        }
        dmackUp = crcAt + std::max(Samples(t.tCvs), Samples(t.tAck));
    }
    phase.crcSent = phase.crc;
    switch (options_.faults.crcWord) {
        case Faults::CrcWord::Right:
            break;
        case Faults::CrcWord::Wrong: {
            // Not the CRC, and not the last word either (that would read as no word at all).
            const uint16_t last = phase.words.back().value;
            phase.crcSent = static_cast<uint16_t>(phase.crc ^ 0x8001);
            if (phase.crcSent == last) phase.crcSent = static_cast<uint16_t>(phase.crc ^ 0x4002);
            break;
        }
        case Faults::CrcWord::Missing:
            phase.crcDriven = false;
            phase.crcSent = phase.words.back().value;
            break;
    }
    phase.words.back().dataUntil = write || ideal ? crcAt : at;
    if (phase.crcDriven) {
        DriveData(crcAt, phase.crcSent);
    } else if (write) {
        ReleaseData(crcAt);
    }
    Set(kDmack, dmackUp, 1);
    MarkAt(phase, Landmark::DmackNegated, dmackUp);
    if (!ideal && phase.crcDriven) ReleaseData(dmackUp + Samples(t.tCvh));
    phase.end = dmackUp;
    now_ = dmackUp + 1;
    transcript_.phases.push_back(std::move(phase));
}

void Bus::WriteTaskFile(const TaskFile& file) {
    WriteRegister(Reg::CardHead, file.deviceHead);
    WriteRegister(Reg::Features, file.features);
    WriteRegister(Reg::SectorCount, file.sectorCount);
    WriteRegister(Reg::SectorNumber, file.sectorNumber);
    WriteRegister(Reg::CylinderLow, file.cylinderLow);
    WriteRegister(Reg::CylinderHigh, file.cylinderHigh);
}

void Bus::Command(uint8_t opcode) { WriteRegister(Reg::Command, opcode); }

void Bus::PollStatus(int busyReads, uint8_t final, bool interrupt) {
    for (int i = 0; i < busyReads; ++i) {
        ReadRegister(Reg::Status, 0x80);
        Idle(kStatusPollGapNs);
    }
    if (interrupt) SetIntrq(true);
    ReadRegister(Reg::Status, final);
}

void Bus::SetIntrq(bool level) {
    if (!options_.intrq || finished_) return;
    Set(kIntrq, now_, level ? 1 : 0);
}

void Bus::Idle(double ns) {
    CheckRoom(uint64_t{now_} + Samples(ns));
    now_ += Samples(ns);
}

void Bus::AddGlitch(int line, uint32_t position, uint32_t width) {
    if (line < 0 || static_cast<size_t>(line) >= tracks_.size()) throw std::invalid_argument("no such line");
    if (position == 0) throw std::invalid_argument("a glitch cannot start at position 0");
    transcript_.glitches.push_back({line, position, width});
}

void Bus::AddRinging() {
    const uint32_t width = Samples(options_.faults.ringingNs);
    uint64_t edges = 0;
    for (Phase& phase : transcript_.phases) {
        const bool udma = phase.kind == PhaseKind::UdmaIn || phase.kind == PhaseKind::UdmaOut;
        const bool read = phase.kind == PhaseKind::RegisterRead || phase.kind == PhaseKind::PioDataIn ||
                          phase.kind == PhaseKind::MwdmaIn || phase.kind == PhaseKind::UdmaOut;
        const int line = phase.kind == PhaseKind::UdmaIn ? kIordy : read ? kIord : kIowr;
        const auto& changes = tracks_[static_cast<size_t>(line)].changes;
        for (Transfer& word : phase.words) {
            for (const uint32_t edge : {word.position, udma ? 0u : word.strobeEnd}) {
                if (edge == 0 || ++edges % options_.faults.ringingEvery != 0) continue;
                // Only where the line stays put long enough to ring and settle.
                const auto next = std::upper_bound(changes.begin(), changes.end(), edge);
                if (next != changes.end() && *next <= edge + 2 * width + 1) continue;
                transcript_.glitches.push_back({line, edge + width, width});
                word.ringing = true;
                word.ringingAt = edge;
            }
        }
    }
}

host::Waveform Bus::Finish() {
    if (finished_) throw std::logic_error("the bus is finished");
    finished_ = true;
    const uint32_t end = now_ + options_.leadInSamples;
    const Faults& faults = options_.faults;

    if (faults.glitchCount > 0) {
        std::vector<int> lines;
        for (const std::string& name : faults.glitchSignals) {
            const int line = LineByName(name);
            if (line < 0 || static_cast<size_t>(line) >= tracks_.size()) {
                throw std::invalid_argument("no signal named " + name + " to glitch");
            }
            lines.push_back(line);
        }
        if (lines.empty()) throw std::invalid_argument("glitches need at least one signal");
        const uint32_t from = options_.leadInSamples;
        const uint32_t span = std::max<uint32_t>(end - from - faults.glitchWidth - 1, 1);
        for (uint32_t n = 0; n < faults.glitchCount; ++n) {
            // A glitch lands where its signal is quiet, so it never merges
            // with a real edge.
            for (int attempt = 0; attempt < 1000; ++attempt) {
                const int line = lines[random_() % lines.size()];
                const uint32_t position = from + static_cast<uint32_t>(random_() % span);
                const auto& changes = tracks_[static_cast<size_t>(line)].changes;
                const auto next = std::lower_bound(changes.begin(), changes.end(), position);
                if (next != changes.end() && *next <= position + faults.glitchWidth + 1) continue;
                if (next != changes.begin() && *(next - 1) + 1 >= position) continue;
                transcript_.glitches.push_back({line, position, faults.glitchWidth});
                break;
            }
        }
    }
    if (faults.ringingEvery > 0) AddRinging();
    for (const Glitch& glitch : transcript_.glitches) {
        auto& changes = tracks_[static_cast<size_t>(glitch.line)].changes;
        changes.insert(std::upper_bound(changes.begin(), changes.end(), glitch.position), glitch.position);
        const uint32_t back = glitch.position + glitch.width;
        changes.insert(std::upper_bound(changes.begin(), changes.end(), back), back);
    }

    if (!faults.startLow.empty()) transcript_.startLowUntil = options_.leadInSamples / 2;
    for (const std::string& name : faults.startLow) {
        const int line = LineByName(name);
        if (line < 0 || static_cast<size_t>(line) >= tracks_.size()) {
            throw std::invalid_argument("no signal named " + name + " to start low");
        }
        Track& track = tracks_[static_cast<size_t>(line)];
        if (track.initial == 0) continue;
        track.initial = 0;
        const uint32_t rise = transcript_.startLowUntil;
        track.changes.insert(std::upper_bound(track.changes.begin(), track.changes.end(), rise), rise);
    }

    if (releaseAt_ < end) transcript_.undriven.push_back({releaseAt_, kOpenEnd});
    // A value's time on the lines ends where the next one comes, when its
    // driver had not let go before.
    Transfer* previous = nullptr;
    for (Phase& phase : transcript_.phases) {
        for (Transfer& word : phase.words) {
            if (previous && previous->dataUntil > word.dataFrom) previous->dataUntil = word.dataFrom;
            previous = &word;
        }
    }

    host::Waveform waveform;
    waveform.endPosition = end;
    waveform.secondsPerPosition = options_.samplePeriodNs * 1e-9;
    for (size_t line = 0; line < tracks_.size(); ++line) {
        waveform.signals.push_back({std::string(LineName(static_cast<int>(line))), tracks_[line].initial,
                                    std::move(tracks_[line].changes)});
    }
    return waveform;
}

}  // namespace fd::sim
