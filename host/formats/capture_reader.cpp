#include "host/formats/capture_reader.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <streambuf>
#include <vector>

#include "host/formats/capture_input.h"
#include "host/formats/capture_sniff.h"
#include "host/formats/vcd_reader.h"
#if defined(FD_HAVE_FORMATS)
#include "host/formats/csv_capture.h"
#include "host/formats/sigrok_session.h"
#endif

namespace fd::host {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The file name's last extension, lower case, "" when it has none.
std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot + 1));
}

std::string WithoutExtension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

// What the name says: the compression it claims (.gz, .zst) and, under
// it, the capture kind (.vcd, .sr, .csv, …). Only a hint: the content
// decides.
struct NameHint {
    std::string compression;  // "gzip", "zstd", ""
    std::string extension;    // of the capture under the compression
    CaptureKind kind = CaptureKind::Unknown;
    bool known = false;  // the extension names a kind
};

NameHint HintFromName(const std::string& path) {
    NameHint hint;
    if (path == "-") return hint;
    std::string base = path;
    const std::string outer = LowerExtension(base);
    if (outer == "gz" || outer == "gzip") {
        hint.compression = "gzip";
        base = WithoutExtension(base);
    } else if (outer == "zst" || outer == "zstd") {
        hint.compression = "zstd";
        base = WithoutExtension(base);
    }
    hint.extension = LowerExtension(base);
    static const std::pair<const char*, CaptureKind> kNames[] = {
        {"vcd", CaptureKind::Vcd}, {"sr", CaptureKind::SigrokSession},  {"csv", CaptureKind::Csv},
        {"fst", CaptureKind::Fst}, {"sal", CaptureKind::SaleaeCapture}, {"dsl", CaptureKind::DsviewSession},
    };
    for (const auto& [extension, kind] : kNames) {
        if (hint.extension == extension) {
            hint.kind = kind;
            hint.known = true;
        }
    }
    return hint;
}

bool Readable(CaptureKind kind) {
    return kind == CaptureKind::Vcd || kind == CaptureKind::SigrokSession ||
           kind == CaptureKind::ZipArchive || kind == CaptureKind::Csv;
}

// The capture kinds the reader for `kind` stands for.
bool SameReader(CaptureKind a, CaptureKind b) {
    const auto reader = [](CaptureKind k) {
        return k == CaptureKind::ZipArchive ? CaptureKind::SigrokSession : k;
    };
    return reader(a) == reader(b);
}

// The file name to suggest for a converted copy.
std::string ConvertedName(const std::string& path, const char* extension) {
    if (path == "-") return std::string("FILE.") + extension;
    std::string base = path;
    const std::string outer = LowerExtension(base);
    if (outer == "gz" || outer == "gzip" || outer == "zst" || outer == "zstd") base = WithoutExtension(base);
    return WithoutExtension(base) + "." + extension;
}

[[noreturn]] void Refuse(const std::string& path, const CaptureInput& input, const CaptureSniff& sniff) {
    std::string what =
        sniff.kind == CaptureKind::Empty ? "the file is empty" : "the file holds " + sniff.found;
    switch (sniff.kind) {
        case CaptureKind::Fst: {
            const std::string source = path == "-" ? "FILE.fst" : path;
            throw CaptureFormatError(
                input.name(), "",
                what + ", which cfdecode does not read: convert it to VCD with 'fst2vcd " + source + " > " +
                    ConvertedName(path, "vcd") +
                    "' (Debian's gtkwave package) or GTKWave's File > Export > Write VCD File As");
        }
        case CaptureKind::SaleaeCapture:
            throw CaptureFormatError(
                input.name(), "",
                what +
                    ", which cfdecode does not read: in Logic 2 use File > Export Data and "
                    "export the digital channels as CSV");
        case CaptureKind::DsviewSession:
            throw CaptureFormatError(
                input.name(), "",
                what + ", which cfdecode does not read: export it as CSV from DSView (File > Export)");
        case CaptureKind::OtherZip:
            throw CaptureFormatError(
                input.name(), "",
                what + ": expected a sigrok session (.sr), or export the capture as VCD or CSV");
        case CaptureKind::Compressed:
            throw CaptureFormatError(input.name(), "", what + "; cfdecode decompresses gzip and zstd only");
        default:
            break;
    }
#if defined(FD_HAVE_FORMATS)
    constexpr const char* kExpected =
        "expected a VCD file ($date, $timescale, $scope or $var at the start), a sigrok session (.sr) or CSV "
        "rows";
#else
    constexpr const char* kExpected = "expected a VCD file ($date, $timescale, $scope or $var at the start)";
#endif
    throw CaptureFormatError(input.name(), "", "unknown capture format: " + what + "; " + kExpected);
}

#if defined(FD_HAVE_FORMATS)
// What lies before the offset only sets the starting levels, as in the VCD
// reader; the rest moves down by it.
void ApplyOffset(Waveform& waveform, uint64_t offset) {
    if (offset == 0) return;
    for (Signal& signal : waveform.signals) {
        const auto first = std::upper_bound(signal.changes.begin(), signal.changes.end(), offset);
        if ((first - signal.changes.begin()) % 2 != 0) signal.initialLevel ^= 1;
        std::vector<uint32_t> kept;
        kept.reserve(static_cast<size_t>(signal.changes.end() - first));
        for (auto it = first; it != signal.changes.end(); ++it)
            kept.push_back(static_cast<uint32_t>(*it - offset));
        signal.changes = std::move(kept);
    }
    waveform.endPosition =
        waveform.endPosition <= offset ? 0 : static_cast<uint32_t>(waveform.endPosition - offset);
}

// An input stream over bytes in memory, without copying them.
class ViewBuffer : public std::streambuf {
public:
    explicit ViewBuffer(std::string_view bytes) {
        char* begin = const_cast<char*>(bytes.data());
        setg(begin, begin, begin + bytes.size());
    }
};
#endif

// The reader for `kind`, on the bytes as they came.
Waveform ReadAs(CaptureKind kind, const std::string& path, CaptureInput& input,
                const CaptureReadOptions& options, CaptureReadNotes* notes) {
    if (kind == CaptureKind::Vcd) {
        if (input.mapped()) {
            // The reader maps the file itself and scans it in place.
            input.Close();
            return ReadVcd(path, options, notes);
        }
        Waveform waveform = ReadVcdText(input.bytes(), input.name(), options, notes);
        if (options.progress) options.progress(input.bytes().size(), input.bytes().size());
        return waveform;
    }
#if defined(FD_HAVE_FORMATS)
    if (kind == CaptureKind::SigrokSession || kind == CaptureKind::ZipArchive) {
        SigrokReadNotes sigrokNotes;
        Waveform waveform;
        if (input.mapped()) {
            input.Close();
            waveform = ReadSigrokSession(path, &sigrokNotes);
        } else {
            waveform =
                ReadSigrokSession(input.bytes().data(), input.bytes().size(), input.name(), &sigrokNotes);
        }
        if (notes != nullptr) {
            notes->format = "sigrok session";
            notes->analogChannels = static_cast<uint32_t>(sigrokNotes.analogChannels);
        }
        ApplyOffset(waveform, options.offset);
        return waveform;
    }
    const CsvReadOptions csvOptions{options.samplerate, options.csvColumns};
    CsvReadNotes csvNotes;
    Waveform waveform;
    if (input.mapped()) {
        input.Close();
        waveform = ReadCsvCapture(path, csvOptions, &csvNotes);
    } else {
        ViewBuffer view(input.bytes());
        std::istream in(&view);
        waveform = ReadCsvCapture(in, input.name(), csvOptions, &csvNotes);
    }
    if (notes != nullptr) {
        notes->format = "CSV";
        notes->csvNotes = std::move(csvNotes.notes);
        notes->csvWarnings = std::move(csvNotes.warnings);
    }
    ApplyOffset(waveform, options.offset);
    return waveform;
#else
    const char* what = kind == CaptureKind::Csv ? "CSV rows" : "a zip archive (a sigrok session?)";
    throw CaptureFormatError(input.name(), "",
                             std::string("the file holds ") + what + "; this build reads VCD files only");
#endif
}

}  // namespace

Waveform ReadCapture(const std::string& path, const CaptureReadOptions& options, CaptureReadNotes* notes) {
    CaptureInput input = CaptureInput::Open(path, options.progress);
    const CaptureSniff sniff = SniffCapture(input.bytes());
    const NameHint hint = HintFromName(path);
    std::vector<std::string> guesses;
    if (!hint.compression.empty() && input.compression() == Compression::None)
        guesses.push_back("named ." + LowerExtension(path) + " but not " + hint.compression +
                          "-compressed; read as it is");

    CaptureKind kind = sniff.kind;
    if (!Readable(kind)) {
        // Nothing a reader takes. Where the name promises a format the
        // content does not show, its reader says what it expected where.
        const bool refusal =
            kind != CaptureKind::Empty && kind != CaptureKind::Text && kind != CaptureKind::Unknown;
        if (refusal || !hint.known || !Readable(hint.kind)) Refuse(path, input, sniff);
        kind = hint.kind;
    }
    const bool disagrees = Readable(sniff.kind) && hint.known && !SameReader(hint.kind, kind);
    if (disagrees) {
        const bool csv = kind == CaptureKind::Csv;
        const bool vcd = kind == CaptureKind::Vcd;
        guesses.push_back("named ." + hint.extension + " but holds " +
                          (csv   ? "CSV rows"
                           : vcd ? "a value change dump"
                                 : "a sigrok session") +
                          "; read as " +
                          (csv   ? "CSV"
                           : vcd ? "VCD"
                                 : "a sigrok session"));
    }
    if (notes != nullptr) notes->guesses = guesses;
    try {
        return ReadAs(kind, path, input, options, notes);
    } catch (const CaptureFormatError& e) {
        if (!disagrees) throw;
        // The note is not printed for a file refused: the line says it.
        throw CaptureFormatError(e.what(), "",
                                 std::string("(read as ") +
                                     (kind == CaptureKind::Csv ? "CSV" : CaptureKindName(kind)) +
                                     ", as the content shows; the name says ." + hint.extension + ")");
    }
}

}  // namespace fd::host
