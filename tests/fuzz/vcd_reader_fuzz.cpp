// libFuzzer target: any text given to the VCD reader either reads as a
// capture whose changes ascend and end by the capture's end, or is refused;
// and read in two halves (as long files are), it reads exactly the same,
// refusals and the counts of x and z values included.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/formats/vcd_reader.h"
#include "tests/fuzz/ascending_changes.h"

namespace {

struct Outcome {
    fd::host::Waveform waveform;
    fd::host::CaptureReadNotes notes;
    std::string error;
};

Outcome Read(std::string_view text, size_t splitAbove) {
    fd::host::CaptureReadOptions options;
    options.offset = text.size() % 3 == 0 ? 100 : 0;
    options.splitAbove = splitAbove;
    Outcome outcome;
    try {
        outcome.waveform = fd::host::ReadVcdText(text, "fuzz.vcd", options, &outcome.notes);
    } catch (const fd::host::CaptureFormatError& e) {
        outcome.error = e.what();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Outcome one = Read(text, SIZE_MAX);
    const fd::host::Waveform& w = one.waveform;
    fd::fuzz::RequireAscendingChanges(w, fd::fuzz::LastChange::AtEndAllowed);
    const Outcome two = Read(text, 0);
    if (one.error != two.error || one.notes.unknownValues != two.notes.unknownValues ||
        one.notes.undrivenValues != two.notes.undrivenValues || w.endPosition != two.waveform.endPosition ||
        w.signals.size() != two.waveform.signals.size())
        std::abort();
    for (size_t i = 0; i < w.signals.size(); ++i) {
        const auto& a = w.signals[i];
        const auto& b = two.waveform.signals[i];
        if (a.name != b.name || a.initialLevel != b.initialLevel || a.changes != b.changes) std::abort();
    }
    return 0;
}
