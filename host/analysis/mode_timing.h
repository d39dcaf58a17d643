// Bus timing of a CompactFlash card in True IDE mode, in nanoseconds: the
// PIO, multiword DMA and Ultra DMA mode tables of CF 4.1 (Ultra DMA values as
// ATA/ATAPI-7 gives them), and the names of the transfer modes. The
// synthesizer turns these into sample counts; the timing checks compare
// captures with them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fd::host::analysis {

struct PioTiming {
    double t0;      // cycle time
    double t1;      // address valid to strobe
    double t2Data;  // strobe pulse, 16-bit (DATA register)
    double t2Reg;   // strobe pulse, 8-bit (task-file registers)
    double t2i;     // strobe recovery (0: the table gives none for the mode)
    double t9;      // address hold after the strobe
    double t3;      // DIOW- data setup (before the negation)
    double t4;      // DIOW- data hold
    double t5;      // DIOR- data setup (before the negation)
    double t6;      // DIOR- data hold
    double t6z;     // DIOR- data tristate (maximum)
    double tA;      // IORDY setup: the card negates IORDY at most this long after the strobe falls
    double tB;      // IORDY pulse width (maximum); 0: the mode has no IORDY flow control
    double tRd;     // read data valid before IORDY is asserted again
};

struct MwdmaTiming {
    double t0;   // cycle time
    double tD;   // strobe pulse
    double tKR;  // IORD negated pulse
    double tKW;  // IOWR negated pulse
    double tM;   // chip selects valid to strobe
    double tJ;   // strobe to DMACK hold
    double tE;   // DIOR- data access (maximum)
    double tF;   // DIOR- data hold
    double tG;   // DIOR-/DIOW- data setup (before the negation)
    double tH;   // DIOW- data hold
    double tLR;  // DIOR- to DMARQ negation (maximum)
    double tLW;  // DIOW- to DMARQ negation (maximum)
    double tZ;   // DMACK- to read data released (maximum)
};

struct UdmaTiming {
    double halfCycle;  // typical strobe edge to next edge (t2CYCTYP / 2)
    double tCyc;       // minimum strobe edge to next edge
    double t2Cyc;      // minimum rising to rising (or falling to falling) edge
    double tDs;        // data setup at the recipient
    double tDh;        // data hold at the recipient
    double tDvs;       // data valid setup at the sender
    double tDvh;       // data valid hold at the sender
    double tAck;       // DMACK setup and hold
    double tEnv;       // envelope, minimum
    double tRp;        // ready to pause
    double tLi;        // limited interlock (maximum)
    double tMli;       // interlock with minimum
    double tSs;        // strobe edge to STOP / DMARQ negation
    double tZad;       // drivers to assert (minimum)
    double tZah;       // output drive after the other side released (minimum)
    double tAz;        // output release (maximum)
    double tDzfs;      // data driven to the first strobe transition (minimum)
    double tFs;        // first DSTROBE (maximum)
    double tRfs;       // ready to final strobe (maximum)
    double tCvs;       // CRC word valid setup before DMACK- negation at the host
    double tCvh;       // CRC word valid hold after DMACK- negation at the host
    double tCs;        // CRC word setup at the device
    double tCh;        // CRC word hold at the device
    double tUi;        // unlimited interlock (minimum)
    double tIordyz;    // pull-up time before IORDY is released (maximum)
};

inline constexpr int kPioModes = 7;    // 0..6 (5 and 6 are CF-only)
inline constexpr int kMwdmaModes = 5;  // 0..4 (3 and 4 are CF-only)
inline constexpr int kUdmaModes = 7;   // 0..6

// The mode's row; throws std::out_of_range for a mode outside the table.
const PioTiming& PioMode(int mode);
const MwdmaTiming& MwdmaMode(int mode);
const UdmaTiming& UdmaMode(int mode);

enum class ModeFamily { Pio, Mwdma, Udma };

struct TransferMode {
    ModeFamily family = ModeFamily::Pio;
    int number = 0;
    bool operator==(const TransferMode&) const = default;
};

// "PIO4", "MWDMA2", "UDMA5".
std::string ModeName(TransferMode mode);
// "pio4", "PIO4", "mdma2", "mwdma2", "udma5" (any case); nullopt for
// anything else or a mode the tables lack.
std::optional<TransferMode> ParseMode(std::string_view text);
// The mode a SET FEATURES 03h SECTOR COUNT value selects: 00h/01h (PIO
// default) as PIO0, 08h+n PIO n, 20h+n MWDMA n, 40h+n UDMA n; nullopt for
// single-word DMA, reserved values and modes the tables lack.
std::optional<TransferMode> ModeFromSetFeatures(uint8_t sectorCount);
// The fastest mode of a family: the loosest limits.
TransferMode FastestMode(ModeFamily family);

}  // namespace fd::host::analysis
