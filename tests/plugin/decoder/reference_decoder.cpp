#include "tests/plugin/decoder/reference_decoder.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace fd::test {
namespace {

// One channel's level at every sample of [first, last]. Outside the span
// the level is that of its nearest end (the span covers every transition).
class SampledLine {
public:
    SampledLine(const std::vector<uint32_t>& positions, uint32_t first, uint32_t last) : first_(first) {
        levels_.resize(static_cast<size_t>(last - first) + 1);
        size_t seen = 0;  // transitions at or before the sample
        for (size_t i = 0; i < levels_.size(); ++i) {
            const uint32_t x = first + static_cast<uint32_t>(i);
            while (seen < positions.size() && positions[seen] <= x) ++seen;
            if (positions.empty()) {
                levels_[i] = 0;
            } else {
                // The governing transition is the last one at or before x,
                // or the first when none is; even index reads 1.
                const size_t governing = seen == 0 ? 0 : seen - 1;
                levels_[i] = governing % 2 == 0 ? 1 : 0;
            }
        }
    }

    int At(uint32_t x) const {
        if (x < first_) return levels_.front();
        const uint64_t i = uint64_t{x} - first_;
        return i < levels_.size() ? levels_[static_cast<size_t>(i)] : levels_.back();
    }

    // 0 rising, 1 falling, -1 none.
    int Edge(uint32_t x) const {
        if (x == 0) return -1;
        const int now = At(x), before = At(x - 1);
        if (now == 1 && before == 0) return 0;
        if (now == 0 && before == 1) return 1;
        return -1;
    }

private:
    uint32_t first_;
    std::vector<uint8_t> levels_;
};

enum { DMARQ, DMACK, CS1, CS0, A0, A1, A2, IORD, IOWR, IORDY, D0 };

}  // namespace

ReferenceResult ReferenceDecode(const ReferenceCapture& capture, std::array<int32_t, 11> fields,
                                const FdDecoderSettings& colours) {
    ReferenceResult result{{}, fields};
    uint32_t start = capture.hasStart ? capture.startPosition : 0;
    uint32_t end = capture.endPosition;
    if (capture.hasRange) {
        if (capture.rangeStart > start) start = capture.rangeStart;
        end = capture.rangeEnd;
    }
    auto emit = [&](uint32_t p, int id, uint64_t value) {
        result.records.push_back(
            {std::min(p, end), value, static_cast<uint16_t>(id), ColourFor(id, colours)});
    };
    result.records.push_back({0, 1, 1, ColourFor(1, colours)});
    const auto& channels = capture.channels;
    if (channels.size() < 26) return result;

    // Which list entry plays each role: the last whose number is wanted.
    int bound[26];
    bool complete = true;
    for (int role = 0; role < 26; ++role) {
        const int64_t wanted =
            role < 10 ? int64_t{fields[static_cast<size_t>(role)]} : int64_t{fields[10]} + (role - 10);
        bound[role] = -1;
        for (size_t i = 0; i < channels.size(); ++i) {
            if (channels[i].number == wanted) bound[role] = static_cast<int>(i);
        }
        if (bound[role] < 0) complete = false;
    }
    if (!complete) {
        for (int role = 0; role < 26; ++role) bound[role] = role;
        for (size_t f = 0; f < 11; ++f) result.channelFields[f] = channels[f].number;
    }

    uint32_t lowest = 0xFFFFFFFF, highest = 0;
    for (int role = 0; role < 26; ++role) {
        for (uint32_t p : channels[static_cast<size_t>(bound[role])].positions) {
            lowest = std::min(lowest, p);
            highest = std::max(highest, p);
        }
    }
    if (lowest > highest) lowest = highest = 0;
    const uint32_t first = lowest == 0 ? 0 : lowest - 1;
    std::vector<SampledLine> line;
    for (int role = 0; role < 26; ++role) {
        line.emplace_back(channels[static_cast<size_t>(bound[role])].positions, first, highest);
    }
    auto level = [&](int role, uint32_t p) { return line[static_cast<size_t>(role)].At(p); };
    auto edge = [&](int role, uint32_t p) { return line[static_cast<size_t>(role)].Edge(p); };
    auto data = [&](uint32_t p, int lines) {
        uint32_t value = 0;
        for (int n = lines - 1; n >= 0; --n) value = value * 2 + static_cast<uint32_t>(level(D0 + n, p));
        return value;
    };

    std::set<uint32_t> visits;
    for (int strobe : {IORD, IOWR, IORDY}) {
        for (uint32_t p : channels[static_cast<size_t>(bound[strobe])].positions) {
            if (p > start && p < end) visits.insert(p);
        }
    }

    int32_t cardHead = 0, cylinderHigh = 0, cylinderLow = 0, sectorNumber = 0, wordCount = 0;
    bool startPending = true;
    // The direction the current Ultra DMA burst's words go, from the
    // receiver asserting its ready line as it opens: 0 not known, 1 host to
    // card, 2 card to host; -1 before the bus was seen outside a burst (the
    // decode may begin inside one).
    int burstWay = -1;

    auto start_record = [&](uint32_t p) {
        if (startPending) {
            emit(p, 3306, 0);
            startPending = false;
        }
    };
    auto ultra_word = [&](uint32_t p, bool toCard) {
        if (wordCount == 256) {
            sectorNumber = static_cast<int32_t>(static_cast<uint32_t>(sectorNumber) + 1);
            const uint32_t address = static_cast<uint32_t>(cardHead) * 0x1000000u +
                                     static_cast<uint32_t>(cylinderHigh) * 0x10000u +
                                     static_cast<uint32_t>(cylinderLow) * 0x100u +
                                     static_cast<uint32_t>(sectorNumber);
            const uint64_t extended = (address & 0x80000000u) ? (0xFFFFFFFF00000000u | address) : address;
            wordCount = 0;
            emit(p, 3036, extended);
        }
        if (wordCount == 0) emit(p, toCard ? 3101 : 3100, toCard ? 3101 : 3100);
        start_record(p);
        emit(p, toCard ? 4032 : 4026, data(p, 16));
        wordCount += 1;
    };
    auto burst = [&](uint32_t p) {
        return level(DMARQ, p) == 1 && level(DMACK, p) == 0 && level(CS0, p) == 1 && level(CS1, p) == 1;
    };
    // The last sample of the strobe pulse that begins at p: the sample
    // before the strobe's level first differs from its level at p, or the
    // window's last sample.
    auto pulse_end = [&](int strobe, uint32_t p) {
        for (uint64_t x = uint64_t{p} + 1; x <= highest && x < end; ++x) {
            if (level(strobe, static_cast<uint32_t>(x)) != level(strobe, p))
                return static_cast<uint32_t>(x - 1);
        }
        return end - 1;  // no change after the last transition
    };
    auto steady = [&](int role, uint32_t from, uint32_t to) {
        for (uint64_t x = from; x <= to && x <= highest; ++x) {
            if (level(role, static_cast<uint32_t>(x)) != level(role, from)) return false;
        }
        return true;
    };
    auto register_cycle = [&](uint32_t p, bool read) {
        const int code = level(A0, p) + 2 * level(A1, p) + 4 * level(A2, p) + 8 * level(CS0, p) +
                         16 * level(CS1, p) + 32 * level(DMACK, p);
        const int dmarq = level(DMARQ, p);
        const uint32_t latch = pulse_end(read ? IORD : IOWR, p);
        const uint32_t byte = data(latch, 8), word = data(latch, 16);
        int id = 0;
        uint32_t value = byte;
        if (read && code == 47 && dmarq == 0) {
            id = 4015;
        } else if (code >= 24 && code <= 31) {
            // Multiword DMA: DMARQ just before the strobe falls, and the
            // other strobe steady over the pulse.
            if (level(DMARQ, p - 1) != 1 || !steady(read ? IOWR : IORD, p, latch)) return;
            id = read ? 4017 : 4018;
            value = word;
        } else {
            switch (code) {
                case 46:
                    id = read ? 4013 : 4014;
                    break;
                case 48:
                    id = read ? 4002 : 4003;
                    value = word;
                    break;
                case 49:
                    id = read ? 4004 : 4005;
                    break;
                case 50:
                    id = 4006;
                    break;
                case 51:
                    id = 4007;
                    break;
                case 52:
                    id = 4008;
                    break;
                case 53:
                    id = 4009;
                    break;
                case 54:
                    id = 4010;
                    break;
                case 55:
                    id = read ? 4011 : 4012;
                    break;
                default:
                    return;
            }
        }
        if (id == 4010) {
            cardHead = cylinderHigh = cylinderLow = sectorNumber = wordCount = 0;
            emit(p, id, value);
            cardHead = static_cast<int32_t>(value);
            startPending = false;
            return;
        }
        start_record(p);
        emit(p, id, value);
        if (id == 4007) sectorNumber = static_cast<int32_t>(value);
        if (id == 4008) cylinderLow = static_cast<int32_t>(value);
        if (id == 4009) cylinderHigh = static_cast<int32_t>(value);
    };

    // Whether a burst takes a word the given way at an edge whose other line
    // (the receiver's ready line) is at `ready`: once the opening showed the
    // way, only that way and whatever the ready line says; without it, only
    // with the ready line asserted.
    auto takes = [&](bool toCard, int ready) {
        if (burstWay <= 0) return ready == 0;
        return burstWay == (toCard ? 1 : 2);
    };

    for (uint32_t p : visits) {
        const int iord = edge(IORD, p), iowr = edge(IOWR, p), iordy = edge(IORDY, p);
        // A strobe moving with STOP asserted or moving, or DMACK negated:
        // no burst goes on here.
        if (iord != -1 || iowr != -1 || iordy != -1) {
            if (iowr != -1) burstWay = 0;  // STOP moved: a new burst, if any
            if (level(IOWR, p) == 1 || level(DMACK, p) == 1) {
                burstWay = 0;
            } else if (burstWay == 0 && iord == 1 && iordy == -1 && level(IORDY, p) == 1) {
                burstWay = 2;  // HDMARDY- asserted: the card sends
            } else if (burstWay == 0 && iordy == 1 && iord == -1 && level(IORD, p) == 1) {
                burstWay = 1;  // DDMARDY- asserted: the host sends
            }
        }
        // IORDY counts as a strobe only during DMA (DMACK low).
        if ((iord != -1) + (iowr != -1) + (iordy != -1 && level(DMACK, p) == 0) > 1) continue;

        // Rising strobe edges: Ultra DMA words.
        if (iord == 0 || iordy == 0) {
            const bool toCard = iord == 0;
            if (level(IOWR, p) == 0 && takes(toCard, toCard ? 0 : level(IORD, p)) && burst(p))
                ultra_word(p, toCard);
        }

        // Falling strobe edges.
        if (iord == 1) {
            if (level(IOWR, p) == 1) {
                register_cycle(p, true);
            } else if (takes(true, level(IORDY, p)) && burst(p)) {
                ultra_word(p, true);
            }
        } else if (iowr == 1) {
            if (level(IORD, p) == 1) register_cycle(p, false);
        } else if (iordy == 1) {
            if (takes(false, level(IORD, p)) && level(IOWR, p) == 0 && burst(p)) ultra_word(p, false);
        }
    }
    return result;
}

}  // namespace fd::test
