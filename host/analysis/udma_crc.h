// The Ultra DMA burst CRC: the host folds every data word of a burst into a
// 16-bit CRC (x^16 + x^12 + x^5 + 1, seeded with 4ABAh, each word from DD0
// up) and drives the result on DD as it negates DMACK-; the card computes
// the same over the words it saw and sets ERROR.ICRC when the two differ.
// Here the words are the plug-in's Ultra DMA records of each DMACK-
// envelope and the word sent is read off the data lines, so every burst of
// a capture gets a verdict, and a command that carried a bad burst gets the
// verdict the card gives it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "host/analysis/timing_check.h"
#include "host/analysis/transactions.h"

namespace fd::host::analysis {

inline constexpr uint16_t kUdmaCrcSeed = 0x4ABA;

// One word folded into the CRC, bit by bit from DD0.
uint16_t UdmaCrcStep(uint16_t crc, uint16_t word);
uint16_t UdmaCrc(std::span<const uint16_t> words);

// A DMACK- envelope as the bus shows it: asserted at `start`, negated at
// `end`, with the data lines as they stood in the last sample before the
// negation (the card latches the CRC word as DMACK- rises).
struct DmackEnvelope {
    uint32_t start = 0;
    uint32_t end = 0;
    uint16_t word = 0;
    std::optional<uint32_t> lastDataChange;  // the data lines' last change before the negation
};

// The envelopes that open and close inside the capture (one already
// asserted at its start, or still asserted at its end, is no whole burst).
// `bus` as for CheckTiming; a missing DMACK line gives none.
std::vector<DmackEnvelope> FindDmackEnvelopes(const BusSignals& bus);

// Every envelope that carried Ultra DMA words, with the CRC of its words
// (in the direction most of them went; words against it are the receiver's
// ready-line edges) and the word sent. Records in position order.
std::vector<UdmaBurstCrc> CheckBurstCrcs(const std::vector<Record>& records,
                                         const std::vector<DmackEnvelope>& envelopes);

// The same fed a slice of records at a time: records in position order
// across the calls, then Finish once. The envelopes must outlive it.
class BurstCrcChecker {
public:
    explicit BurstCrcChecker(const std::vector<DmackEnvelope>& envelopes) : envelopes_(envelopes) {}
    void Add(std::span<const Record> records);
    std::vector<UdmaBurstCrc> Finish();

private:
    void Close();  // the current envelope's verdict; on to the next

    const std::vector<DmackEnvelope>& envelopes_;
    size_t envelope_ = 0;
    // Both directions are folded at once; the burst's direction picks one.
    uint16_t crc_[2] = {kUdmaCrcSeed, kUdmaCrcSeed};
    uint64_t words_[2] = {0, 0};
    uint32_t lastEdge_[2] = {0, 0};
    bool multiword_ = false;
    std::vector<UdmaBurstCrc> bursts_;
};

// Hands each burst to the command whose span holds its words; a command
// with a bad burst (mismatch or no CRC word) that the capture shows ending
// ok, in error or not at all gets the verdict IcrcError.
void AttachBursts(std::vector<Transaction>& transactions, const std::vector<UdmaBurstCrc>& bursts);

// The bad bursts as findings of the timing report (parameter "CRC", at the
// DMACK- negation), merged in position order.
void AddBurstFindings(TimingReport& report, const std::vector<UdmaBurstCrc>& bursts);

}  // namespace fd::host::analysis
