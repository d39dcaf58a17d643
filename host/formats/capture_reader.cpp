#include "host/formats/capture_reader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <istream>
#include <streambuf>
#include <vector>

#include "host/formats/capture_input.h"
#include "host/formats/capture_sniff.h"
#include "host/formats/csv_capture.h"
#include "host/formats/saleae_binary.h"
#include "host/formats/samplerate.h"
#include "host/formats/vcd_reader.h"
#if defined(FD_HAVE_SESSIONS)
#include "host/formats/dsview_session.h"
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
           kind == CaptureKind::ZipArchive || kind == CaptureKind::Csv || kind == CaptureKind::SaleaeBinary ||
           kind == CaptureKind::DsviewSession;
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
                    "export the digital channels as Binary (then give cfdecode the folder) or CSV");
        case CaptureKind::OtherZip:
            throw CaptureFormatError(
                input.name(), "",
                what + ": expected a sigrok session (.sr), or export the capture as VCD or CSV");
        case CaptureKind::Compressed:
            throw CaptureFormatError(input.name(), "", what + "; cfdecode decompresses gzip and zstd only");
        default:
            break;
    }
#if defined(FD_HAVE_SESSIONS)
    constexpr const char* kExpected =
        "expected a VCD file ($date, $timescale, $scope or $var at the start), a sigrok session (.sr) or CSV "
        "rows";
#else
    constexpr const char* kExpected =
        "expected a VCD file ($date, $timescale, $scope or $var at the start) or CSV rows";
#endif
    throw CaptureFormatError(input.name(), "", "unknown capture format: " + what + "; " + kExpected);
}

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

// A Saleae binary export: the folder `path` names, or the channel file it
// names (already open as `named`) with the digital_N.bin files beside it.
Waveform ReadSaleaeExport(const std::string& path, CaptureInput* named, const CaptureReadOptions& options,
                          CaptureReadNotes* notes) {
    size_t analogFiles = 0;
    const std::vector<std::string> paths =
        path == "-" ? std::vector<std::string>{path} : SaleaeExportFiles(path, &analogFiles);
    std::vector<CaptureInput> inputs;
    std::vector<SaleaeChannelFile> files;
    inputs.reserve(paths.size());
    for (const std::string& file : paths) {
        const bool same = named != nullptr && file == path;
        inputs.push_back(same ? std::move(*named) : CaptureInput::Open(file));
        const std::string_view bytes = inputs.back().bytes();
        if (!IsSaleaeBinary(bytes)) {
            // Only a file named digital_N.bin is taken along: one that is not
            // an export is a file in the wrong place, named as it says.
            throw CaptureFormatError(
                inputs.back().name(), "byte 0",
                "expected the identifier <SALEAE> of a Saleae Logic 2 binary export, found " +
                    DescribeFirstBytes(bytes));
        }
        files.push_back({inputs.back().name(), path == "-" ? "digital" : SaleaeSignalName(file), bytes});
    }
    SaleaeReadOptions saleaeOptions;
    saleaeOptions.samplerate = options.samplerate;
    saleaeOptions.offset = options.offset;
    SaleaeReadNotes saleaeNotes;
    Waveform waveform = ReadSaleaeBinary(files, saleaeOptions, &saleaeNotes);
    if (options.progress) options.progress(1, 1);
    if (notes != nullptr) {
        notes->format = "Saleae binary export";
        if (files.size() > 1 || named == nullptr) {
            const std::filesystem::path first(paths.front());
            notes->formatNotes.push_back(
                "read " + std::to_string(files.size()) + " channel file" + (files.size() == 1 ? "" : "s") +
                " (" + first.filename().string() +
                (files.size() > 1 ? " to " + std::filesystem::path(paths.back()).filename().string() : "") +
                ") from " + (first.has_parent_path() ? first.parent_path().string() : std::string(".")) +
                ", at " + FormatSamplerate(saleaeNotes.samplerate));
        }
        if (analogFiles > 0)
            notes->formatNotes.push_back(
                std::to_string(analogFiles) +
                " analog channel files (analog_N.bin) beside them not read: cfdecode "
                "decodes the digital channels");
        for (std::string& line : saleaeNotes.notes) notes->formatNotes.push_back(std::move(line));
    }
    return waveform;
}

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
    if (kind == CaptureKind::SaleaeBinary) return ReadSaleaeExport(path, &input, options, notes);
#if defined(FD_HAVE_SESSIONS)
    if (kind == CaptureKind::DsviewSession) {
        DsviewReadNotes dsviewNotes;
        Waveform waveform =
            ReadDsviewSession(input.bytes().data(), input.bytes().size(), input.name(), &dsviewNotes);
        if (notes != nullptr) notes->format = "DSView session";
        ApplyOffset(waveform, options.offset);
        return waveform;
    }
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
#else
    if (kind != CaptureKind::Csv)
        throw CaptureFormatError(
            input.name(), "",
            "the file holds a zip archive (a sigrok session?); this build reads no sessions "
            "(built without libzip)");
#endif
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
}

}  // namespace

Waveform ReadCapture(const std::string& path, const CaptureReadOptions& options, CaptureReadNotes* notes) {
    std::error_code error;
    if (path != "-" && std::filesystem::is_directory(path, error))
        return ReadSaleaeExport(path, nullptr, options, notes);
    CaptureInput input = CaptureInput::Open(path, options.progress);
    const CaptureSniff sniff = SniffCapture(input.bytes());
    const NameHint hint = HintFromName(path);
    std::vector<std::string> guesses;
    if (!hint.compression.empty() && input.compression() == Compression::None)
        guesses.push_back("named ." + LowerExtension(path) + " but not " + hint.compression +
                          "-compressed; read as it is");

    CaptureKind kind = sniff.kind;
    // A zip whose members cannot be listed (cut short, damaged) goes to the
    // reader its name asks for, which says what is wrong with it.
    if (kind == CaptureKind::ZipArchive && hint.kind == CaptureKind::DsviewSession)
        kind = CaptureKind::DsviewSession;
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
        const char* holds = kind == CaptureKind::Csv             ? "CSV rows"
                            : kind == CaptureKind::Vcd           ? "a value change dump"
                            : kind == CaptureKind::SaleaeBinary  ? "a channel of a Saleae binary export"
                            : kind == CaptureKind::DsviewSession ? "a DSView session"
                                                                 : "a sigrok session";
        const std::string as = kind == CaptureKind::SaleaeBinary || kind == CaptureKind::DsviewSession
                                   ? std::string("a ") + CaptureKindName(kind)
                               : kind == CaptureKind::SigrokSession || kind == CaptureKind::ZipArchive
                                   ? std::string("a sigrok session")
                                   : std::string(CaptureKindName(kind));
        guesses.push_back("named ." + hint.extension + " but holds " + holds + "; read as " + as);
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
