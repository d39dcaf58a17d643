#include "host/analysis/ata_registers.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <string>

namespace fd::host::analysis {
namespace {

using P = Protocol;

// Opcodes of the CF 4.1 True IDE command set (with the usual aliases).
constexpr CommandInfo kCommands[] = {
    {0x00, "NOP", P::NonData, false},
    {0x03, "CFA REQUEST EXTENDED ERROR", P::NonData, false},
    {0x10, "RECALIBRATE", P::NonData, false},
    {0x20, "READ SECTORS", P::PioIn, true},
    {0x21, "READ SECTORS WITHOUT RETRY", P::PioIn, true},
    {0x22, "READ LONG", P::PioIn, false},
    {0x23, "READ LONG WITHOUT RETRY", P::PioIn, false},
    {0x30, "WRITE SECTORS", P::PioOut, true},
    {0x31, "WRITE SECTORS WITHOUT RETRY", P::PioOut, true},
    {0x32, "WRITE LONG", P::PioOut, false},
    {0x33, "WRITE LONG WITHOUT RETRY", P::PioOut, false},
    {0x38, "CFA WRITE SECTORS WITHOUT ERASE", P::PioOut, true},
    {0x3C, "WRITE VERIFY", P::PioOut, true},
    {0x40, "READ VERIFY SECTORS", P::NonData, false},
    {0x41, "READ VERIFY SECTORS WITHOUT RETRY", P::NonData, false},
    {0x50, "FORMAT TRACK", P::PioOut, false},
    {0x70, "SEEK", P::NonData, false},
    {0x87, "CFA TRANSLATE SECTOR", P::PioIn, false},
    {0x90, "EXECUTE DEVICE DIAGNOSTIC", P::Diagnostic, false},
    {0x91, "INITIALIZE DEVICE PARAMETERS", P::NonData, false},
    {0x94, "STANDBY IMMEDIATE", P::NonData, false},
    {0x95, "IDLE IMMEDIATE", P::NonData, false},
    {0x96, "STANDBY", P::NonData, false},
    {0x97, "IDLE", P::NonData, false},
    {0x98, "CHECK POWER MODE", P::NonData, false},
    {0x99, "SLEEP", P::NonData, false},
    {0xB0, "SMART", P::NonData, false},
    {0xC0, "CFA ERASE SECTORS", P::NonData, false},
    {0xC4, "READ MULTIPLE", P::PioIn, true},
    {0xC5, "WRITE MULTIPLE", P::PioOut, true},
    {0xC6, "SET MULTIPLE MODE", P::NonData, false},
    {0xC8, "READ DMA", P::Dma, true},
    {0xC9, "READ DMA WITHOUT RETRY", P::Dma, true},
    {0xCA, "WRITE DMA", P::Dma, true},
    {0xCB, "WRITE DMA WITHOUT RETRY", P::Dma, true},
    {0xCD, "CFA WRITE MULTIPLE WITHOUT ERASE", P::PioOut, true},
    {0xE0, "STANDBY IMMEDIATE", P::NonData, false},
    {0xE1, "IDLE IMMEDIATE", P::NonData, false},
    {0xE2, "STANDBY", P::NonData, false},
    {0xE3, "IDLE", P::NonData, false},
    {0xE4, "READ BUFFER", P::PioIn, false},
    {0xE5, "CHECK POWER MODE", P::NonData, false},
    {0xE6, "SLEEP", P::NonData, false},
    {0xE7, "FLUSH CACHE", P::NonData, false},
    {0xE8, "WRITE BUFFER", P::PioOut, false},
    {0xEC, "IDENTIFY DEVICE", P::PioIn, false},
    {0xEF, "SET FEATURES", P::NonData, false},
    {0xF1, "SECURITY SET PASSWORD", P::PioOut, false},
    {0xF2, "SECURITY UNLOCK", P::PioOut, false},
    {0xF3, "SECURITY ERASE PREPARE", P::NonData, false},
    {0xF4, "SECURITY ERASE UNIT", P::PioOut, false},
    {0xF5, "SECURITY FREEZE LOCK", P::NonData, false},
    {0xF6, "SECURITY DISABLE PASSWORD", P::PioOut, false},
    {0xF8, "READ NATIVE MAX ADDRESS", P::NonData, false},
    {0xF9, "SET MAX ADDRESS", P::NonData, false},
};

struct BitName {
    uint8_t mask;
    const char* name;
};

constexpr BitName kStatusBits[] = {
    {0x80, "BSY"}, {0x40, "DRDY"}, {0x20, "DF"},  {0x10, "DSC"},
    {0x08, "DRQ"}, {0x04, "CORR"}, {0x02, "IDX"}, {0x01, "ERR"},
};
constexpr BitName kErrorBits[] = {
    {0x80, "BBK/ICRC"}, {0x40, "UNC"},  {0x20, "MC"}, {0x10, "IDNF"},
    {0x08, "MCR"},      {0x04, "ABRT"}, {0x02, "NM"}, {0x01, "AMNF"},
};
constexpr BitName kControlBits[] = {{0x80, "HOB"}, {0x04, "SRST"}, {0x02, "nIEN"}};

std::string Hex(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

template <size_t N>
std::string BitNames(uint8_t value, const BitName (&bits)[N]) {
    std::string names;
    for (const BitName& bit : bits) {
        if ((value & bit.mask) == 0) continue;
        if (!names.empty()) names += ' ';
        names += bit.name;
    }
    return names;
}

std::string WithValue(uint8_t value, const std::string& names) {
    return names.empty() ? Hex(value) : Hex(value) + " " + names;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::string_view ProtocolName(Protocol protocol) {
    switch (protocol) {
        case P::NonData:
            return "non-data";
        case P::PioIn:
            return "PIO in";
        case P::PioOut:
            return "PIO out";
        case P::Dma:
            return "DMA";
        case P::Diagnostic:
            return "diagnostic";
        case P::Unknown:
            break;
    }
    return "unknown";
}

CommandInfo LookupCommand(uint8_t opcode) {
    for (const CommandInfo& info : kCommands) {
        if (info.opcode == opcode) return info;
    }
    // RECALIBRATE and SEEK answer for a whole row of opcodes.
    if ((opcode & 0xF0) == 0x10) return {opcode, "RECALIBRATE", P::NonData, false};
    if ((opcode & 0xF0) == 0x70) return {opcode, "SEEK", P::NonData, false};
    return {opcode, nullptr, P::Unknown, false};
}

int FindOpcode(std::string_view text) {
    int value = -1;
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    if (!digits.empty()) {
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
        if (error == std::errc() && end == digits.data() + digits.size() && value >= 0 && value <= 0xFF)
            return value;
    }
    for (const CommandInfo& info : kCommands) {
        if (EqualsIgnoringCase(info.name, text)) return info.opcode;
    }
    return -1;
}

std::string StatusBitNames(uint8_t value) { return BitNames(value, kStatusBits); }
std::string ErrorBitNames(uint8_t value) { return BitNames(value, kErrorBits); }
std::string DescribeStatus(uint8_t value) { return WithValue(value, StatusBitNames(value)); }
std::string DescribeError(uint8_t value) { return WithValue(value, ErrorBitNames(value)); }

std::string DescribeDeviceHead(uint8_t value) {
    std::string text = Hex(value);
    text += (value & kDeviceHeadLba) ? " LBA" : " CHS";
    text += (value & kDeviceHeadDev) ? " DEV1" : " DEV0";
    text += " head " + std::to_string(value & 0x0F);
    return text;
}

std::string DescribeDeviceControl(uint8_t value) { return WithValue(value, BitNames(value, kControlBits)); }

std::string TransferModeName(uint8_t sc) {
    const int mode = sc & 0x07;
    switch (sc >> 3) {
        case 0:
            return sc == 0 ? "PIO default" : sc == 1 ? "PIO default, IORDY off" : "";
        case 1:
            return mode <= 6 ? "PIO" + std::to_string(mode) : "";
        case 2:
            return mode <= 2 ? "SWDMA" + std::to_string(mode) : "";
        case 4:
            return mode <= 4 ? "MWDMA" + std::to_string(mode) : "";
        case 8:
            return "UDMA" + std::to_string(mode);
        default:
            return "";
    }
}

std::string SetFeaturesName(uint8_t features, uint8_t sectorCount) {
    struct Feature {
        uint8_t code;
        const char* name;
    };
    static constexpr Feature kFeatures[] = {
        {0x01, "enable 8-bit transfers"},
        {0x02, "enable write cache"},
        {0x05, "enable advanced power management"},
        {0x09, "set power level (CF)"},
        {0x0A, "enable power level commands (CF)"},
        {0x44, "vendor bytes on READ/WRITE LONG"},
        {0x55, "disable read look-ahead"},
        {0x66, "keep settings after a reset"},
        {0x69, "accept power level commands (CF)"},
        {0x81, "disable 8-bit transfers"},
        {0x82, "disable write cache"},
        {0x85, "disable advanced power management"},
        {0x8A, "disable power level commands (CF)"},
        {0x96, "disable power level commands (CF)"},
        {0x9A, "set host current (CF)"},
        {0xAA, "enable read look-ahead"},
        {0xBB, "4 bytes of ECC on READ/WRITE LONG"},
        {0xCC, "restore settings after a reset"},
    };
    if (features == 0x03) {
        const std::string mode = TransferModeName(sectorCount);
        return "set transfer mode " + (mode.empty() ? "(reserved " + Hex(sectorCount) + ")" : mode);
    }
    for (const Feature& feature : kFeatures) {
        if (feature.code == features) return feature.name;
    }
    return "subcommand " + Hex(features);
}

std::string DiagnosticCodeName(uint8_t code) {
    std::string text =
        (code & 0x7F) == 0x01 ? "passed" : "failed (" + Hex(static_cast<uint8_t>(code & 0x7F)) + ")";
    if (code & 0x80) text += "; device 1 failed";
    return text;
}

}  // namespace fd::host::analysis
