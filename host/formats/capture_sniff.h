// What a capture holds, told from its first bytes (and, for a zip archive,
// its member names), never from its name: ReadCapture picks the reader by
// it and refuses the formats no reader takes with a line saying what the
// file is and how to convert it.
#pragma once

#include <string>
#include <string_view>

namespace fd::host {

enum class CaptureKind {
    Empty,
    Vcd,            // opens with a $keyword
    SigrokSession,  // a zip archive with a metadata or version member
    ZipArchive,     // a zip archive whose members could not be listed (damaged, or no libzip here)
    Csv,            // text rows with , ; or tab between the fields
    Fst,            // GTKWave's FST: a header block (type 0) of 329 bytes
    SaleaeCapture,  // Saleae Logic 2 .sal: a zip with meta.json
    SaleaeBinary,   // a channel of Logic 2's binary export: opens with <SALEAE>
    DsviewSession,  // DSView .dsl: a zip with a header member
    OtherZip,       // a zip archive holding none of the above
    Compressed,     // xz, bzip2, 7-Zip, lz4: streams cfdecode does not decompress
    Text,           // text, but neither a VCD nor CSV rows
    Unknown,        // binary of no known kind
};

struct CaptureSniff {
    CaptureKind kind = CaptureKind::Unknown;
    // For the kinds no reader takes: what was found, to follow "the file
    // holds": "an xz-compressed stream", "a zip archive with members a, b".
    std::string found;
};

CaptureSniff SniffCapture(std::string_view bytes);

// "VCD", "sigrok session", "CSV", "FST waveform", …; for notes.
const char* CaptureKindName(CaptureKind kind);

// The first bytes of a file, as a message shows them: printable text in
// quotes, else hex.
std::string DescribeFirstBytes(std::string_view bytes);

}  // namespace fd::host
