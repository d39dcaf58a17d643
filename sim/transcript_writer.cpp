#include "sim/transcript_writer.h"

#include <cstdio>

namespace fd::sim {

std::string_view PhaseKindName(PhaseKind kind) {
    switch (kind) {
        case PhaseKind::RegisterRead:
            return "register-read";
        case PhaseKind::RegisterWrite:
            return "register-write";
        case PhaseKind::PioDataIn:
            return "pio-data-in";
        case PhaseKind::PioDataOut:
            return "pio-data-out";
        case PhaseKind::MwdmaIn:
            return "mwdma-in";
        case PhaseKind::MwdmaOut:
            return "mwdma-out";
        case PhaseKind::UdmaIn:
            return "udma-in";
        case PhaseKind::UdmaOut:
            return "udma-out";
    }
    return "?";
}

std::string_view RegisterName(Reg reg, bool write) {
    switch (reg) {
        case Reg::Data:
            return "DATA";
        case Reg::Features:
            return write ? "FEATURES" : "ERROR";
        case Reg::SectorCount:
            return "SECTOR-COUNT";
        case Reg::SectorNumber:
            return "SECTOR-NUMBER";
        case Reg::CylinderLow:
            return "CYLINDER-LOW";
        case Reg::CylinderHigh:
            return "CYLINDER-HIGH";
        case Reg::CardHead:
            return "CARD/HEAD";
        case Reg::Command:
            return write ? "COMMAND" : "STATUS";
        case Reg::AltStatus:
            return write ? "DEVICE-CONTROL" : "ALT-STATUS";
        case Reg::DriveAddress:
            return "DRIVE-ADDRESS";
    }
    return "?";
}

void WriteTranscript(std::ostream& out, const Transcript& transcript) {
    char hex[8];
    for (const Phase& phase : transcript.phases) {
        out << phase.start << '-' << phase.end << ' ' << PhaseKindName(phase.kind);
        const bool registers =
            phase.kind == PhaseKind::RegisterRead || phase.kind == PhaseKind::RegisterWrite;
        if (registers) {
            out << ' ' << RegisterName(phase.reg, phase.kind == PhaseKind::RegisterWrite);
        }
        out << " words=" << phase.words.size();
        if (phase.kind == PhaseKind::UdmaIn || phase.kind == PhaseKind::UdmaOut) {
            std::snprintf(hex, sizeof hex, "%04x", phase.crc);
            out << " crc=" << hex;
            // The CRC-word fault: what the host drove instead, or nothing.
            if (!phase.crcDriven) {
                out << " sent=none";
            } else if (phase.crcSent != phase.crc) {
                std::snprintf(hex, sizeof hex, "%04x", phase.crcSent);
                out << " sent=" << hex;
            }
            out << " ended-by=" << (phase.terminator == Terminator::Host ? "host" : "card");
        }
        out << ':';
        for (const Transfer& word : phase.words) {
            std::snprintf(hex, sizeof hex, "%04x", word.value);
            out << ' ' << hex << '@' << word.position << (word.simultaneous ? "*" : "");
        }
        out << '\n';
    }
    for (const Glitch& glitch : transcript.glitches) {
        out << glitch.position << ' ' << "glitch " << LineName(glitch.line) << " width=" << glitch.width
            << '\n';
    }
}

}  // namespace fd::sim
