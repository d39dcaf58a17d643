#include "host/analysis/udma_crc.h"

#include <algorithm>
#include <cstdio>

#include "plugin/interface/host_abi.h"

namespace fd::host::analysis {
namespace {

constexpr uint16_t kUdmaReadField = FdFieldDataRead, kUdmaWriteField = FdFieldDataWrite;
constexpr uint16_t kDmaReadField = FdFieldDmaRead, kDmaWriteField = FdFieldDmaWrite;

// A line's level from a position on (the model's toggle rule; the analysis
// library does not link the model's code).
int LevelFrom(const Signal& signal, uint32_t position) {
    const auto toggles =
        std::upper_bound(signal.changes.begin(), signal.changes.end(), position) - signal.changes.begin();
    return (signal.initialLevel ^ static_cast<int>(toggles & 1)) & 1;
}

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

}  // namespace

namespace {

// The bit-serial definition, one bit at a time from DD0 up.
constexpr uint16_t BitSerialStep(uint16_t crc, uint16_t word, int bits) {
    for (int bit = 0; bit < bits; ++bit) {
        const bool feedback = (((crc >> 15) ^ (word >> bit)) & 1) != 0;
        crc = static_cast<uint16_t>(crc << 1);
        if (feedback) crc ^= 0x1021;
    }
    return crc;
}

// The same eight bits at a time: the register's top byte xor the next
// eight data bits (DD0 first) decide what eight shifts fold in, and shifting
// is linear, so a table of what each such byte gives does it: fold[i] is
// eight steps from the register i << 8 with data 0.
struct Table {
    uint16_t fold[256];
    uint8_t reversed[256];  // bit order of a byte turned round
    constexpr Table() : fold(), reversed() {
        for (int i = 0; i < 256; ++i) {
            fold[i] = BitSerialStep(static_cast<uint16_t>(i << 8), 0, 8);
            uint8_t r = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (i & (1 << bit)) r = static_cast<uint8_t>(r | (0x80 >> bit));
            reversed[i] = r;
        }
    }
};
constexpr Table kTable;

constexpr uint16_t ByteStep(uint16_t crc, uint8_t dataLowBitFirst) {
    // The data bit fed first meets the register's bit 15: reversed, the
    // byte lines up with the top byte.
    const uint8_t top = static_cast<uint8_t>((crc >> 8) ^ kTable.reversed[dataLowBitFirst]);
    return static_cast<uint16_t>((crc << 8) ^ kTable.fold[top]);
}

static_assert(ByteStep(ByteStep(0x4ABA, 0x01), 0x00) == BitSerialStep(0x4ABA, 0x0001, 16));

}  // namespace

uint16_t UdmaCrcStep(uint16_t crc, uint16_t word) {
    return ByteStep(ByteStep(crc, static_cast<uint8_t>(word & 0xFF)), static_cast<uint8_t>(word >> 8));
}

uint16_t UdmaCrc(std::span<const uint16_t> words) {
    uint16_t crc = kUdmaCrcSeed;
    for (uint16_t word : words) crc = UdmaCrcStep(crc, word);
    return crc;
}

std::string UdmaBurstCrc::Describe() const {
    switch (result) {
        case Result::Ok:
            return "crc ok";
        case Result::Mismatch:
            return "crc mismatch: sent " + Hex4(sent) + ", data gives " + Hex4(computed);
        case Result::NoWord:
            break;
    }
    return "no crc word (data give " + Hex4(computed) + ")";
}

std::vector<DmackEnvelope> FindDmackEnvelopes(const BusSignals& bus) {
    std::vector<DmackEnvelope> envelopes;
    const Signal* dmack = bus[kDmack];
    if (!dmack) return envelopes;
    int level = dmack->initialLevel & 1;
    bool opened = false;  // asserted from the capture's start: no whole burst
    uint32_t fall = 0;
    for (uint32_t change : dmack->changes) {
        level ^= 1;
        if (level == 0) {
            fall = change;
            opened = true;
            continue;
        }
        if (!opened || change == 0) continue;
        opened = false;
        DmackEnvelope envelope{fall, change, 0, std::nullopt};
        for (int bit = 0; bit < 16; ++bit) {
            const Signal* line = bus[static_cast<size_t>(kD0 + bit)];
            if (!line) continue;
            envelope.word |= static_cast<uint16_t>(LevelFrom(*line, change - 1) << bit);
            const auto last = std::upper_bound(line->changes.begin(), line->changes.end(), change - 1);
            if (last != line->changes.begin())
                envelope.lastDataChange = std::max(envelope.lastDataChange.value_or(0), *(last - 1));
        }
        envelopes.push_back(envelope);
    }
    return envelopes;
}

std::vector<UdmaBurstCrc> CheckBurstCrcs(const std::vector<Record>& records,
                                         const std::vector<DmackEnvelope>& envelopes) {
    BurstCrcChecker checker(envelopes);
    checker.Add(records);
    return checker.Finish();
}

void BurstCrcChecker::Add(std::span<const Record> records) {
    for (const Record& r : records) {
        // The envelopes that end at or before this record are done.
        while (envelope_ < envelopes_.size() && r.position >= envelopes_[envelope_].end) Close();
        if (envelope_ == envelopes_.size()) return;
        if (r.position <= envelopes_[envelope_].start) continue;
        if (r.fieldId == kDmaReadField || r.fieldId == kDmaWriteField) multiword_ = true;
        if (r.fieldId != kUdmaReadField && r.fieldId != kUdmaWriteField) continue;
        const int in = r.fieldId == kUdmaReadField ? 1 : 0;
        crc_[in] = UdmaCrcStep(crc_[in], static_cast<uint16_t>(r.value & 0xFFFF));
        ++words_[in];
        lastEdge_[in] = r.position;
    }
}

std::vector<UdmaBurstCrc> BurstCrcChecker::Finish() {
    while (envelope_ < envelopes_.size()) Close();
    return std::move(bursts_);
}

void BurstCrcChecker::Close() {
    const DmackEnvelope& envelope = envelopes_[envelope_++];
    const int in = words_[1] >= words_[0] ? 1 : 0;
    if (!multiword_ && words_[0] + words_[1] != 0) {
        UdmaBurstCrc burst;
        burst.start = envelope.start;
        burst.end = envelope.end;
        burst.in = in == 1;
        burst.words = words_[in];
        burst.computed = crc_[in];
        burst.sent = envelope.word;
        // Lines that have not moved since the last word's edge still hold
        // that word: the host put no CRC word on them (unless the CRC
        // happens to equal it, which no capture can tell apart).
        const bool unchanged = !envelope.lastDataChange || *envelope.lastDataChange <= lastEdge_[in];
        if (burst.sent == burst.computed)
            burst.result = UdmaBurstCrc::Result::Ok;
        else
            burst.result = unchanged ? UdmaBurstCrc::Result::NoWord : UdmaBurstCrc::Result::Mismatch;
        bursts_.push_back(burst);
    }
    crc_[0] = crc_[1] = kUdmaCrcSeed;
    words_[0] = words_[1] = 0;
    lastEdge_[0] = lastEdge_[1] = 0;
    multiword_ = false;
}

void AttachBursts(std::vector<Transaction>& transactions, const std::vector<UdmaBurstCrc>& bursts) {
    // Commands in start order: a burst belongs to the last one that began
    // before DMACK- was negated (no task-file access happens inside one).
    size_t next = 0;
    for (const UdmaBurstCrc& burst : bursts) {
        while (next < transactions.size() && transactions[next].start <= burst.end) ++next;
        for (size_t i = next; i-- > 0;) {
            Transaction& t = transactions[i];
            if (t.kind == Transaction::Kind::SoftwareReset) continue;
            if (t.dataPath == DataPath::UltraDma) t.bursts.push_back(burst);
            break;
        }
    }
    for (Transaction& t : transactions) {
        if (t.kind != Transaction::Kind::Command) continue;
        const bool bad =
            std::any_of(t.bursts.begin(), t.bursts.end(), [](const UdmaBurstCrc& b) { return b.bad(); });
        if (bad &&
            (t.verdict == Verdict::Ok || t.verdict == Verdict::Error || t.verdict == Verdict::Incomplete))
            t.verdict = Verdict::IcrcError;
    }
}

void AddBurstFindings(TimingReport& report, const std::vector<UdmaBurstCrc>& bursts) {
    const size_t before = report.warnings.size();
    for (const UdmaBurstCrc& burst : bursts) {
        if (!burst.bad()) continue;
        TimingWarning w;
        w.position = burst.end;
        w.parameter = "CRC";
        w.meaning = "Ultra DMA burst CRC";
        w.mode = {ModeFamily::Udma, 0};
        w.limit = TimingWarning::Limit::None;
        w.detail =
            burst.Describe() + " over " + std::to_string(burst.words) + " words " + (burst.in ? "in" : "out");
        report.warnings.push_back(std::move(w));
    }
    std::inplace_merge(report.warnings.begin(), report.warnings.begin() + static_cast<ptrdiff_t>(before),
                       report.warnings.end(), [](const TimingWarning& a, const TimingWarning& b) {
                           return a.position < b.position;
                       });
}

}  // namespace fd::host::analysis
