// cfsim: synthesizes CompactFlash True IDE bus captures from built-in
// scenarios and writes them as VCD, sigrok sessions or CSV, for samples,
// demos and tests of the reference host and its readers.
//   cfsim SCENARIO [--sectors N] [--seed S] [-o FILE] [timing and fault options]
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "host/formats/csv_capture.h"
#if defined(FD_HAVE_SESSIONS)
#include "host/formats/sigrok_session.h"
#endif
#include "sim/bus.h"
#include "sim/scenarios.h"
#include "sim/timing.h"
#include "sim/transcript_writer.h"
#include "sim/vcd_writer.h"

namespace {

std::string ScenarioHelp() {
    std::ostringstream text;
    text << "Scenarios:\n";
    for (const fd::sim::ScenarioInfo& scenario : fd::sim::Scenarios()) {
        text << "  " << scenario.name << std::string(14 - scenario.name.size(), ' ') << scenario.description
             << "\n";
    }
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Synthesizes the bus of a CompactFlash 4.1 card in True IDE mode and writes it as a "
        "value change dump (VCD), a sigrok session (.sr) or CSV. Signals: DMARQ DMACK CS1 CS0 A0 A1 A2 IORD "
        "IOWR IORDY D0..D15 "
        "(and INTRQ with --intrq), raw levels. The bus is realistic: a card drives read data only while "
        "DIOR- is asserted, as late as CF 4.1 allows (--read-access), holds it t6 and releases the lines "
        "(z in a VCD; .sr and CSV keep the last level); the host drives write data from the address "
        "setup (--write-data); Ultra DMA bursts open and close one step at a time in the ATA order with "
        "the CRC word at DMACK- negation; the card drops DMARQ up to tL after the last multiword DMA "
        "cycle's strobe falls. --ideal-timing gives the earlier ideal bus instead (data on the lines "
        "before the strobe falls). The "
        "same scenario, options and seed always give the same file.",
        "cfsim"};
    app.footer(
        ScenarioHelp() +
        "\nExamples:\n"
        "  cfsim udma-read --sectors 3 -o read.vcd\n"
        "  cfsim mixed --seed 7 --udma-mode 6 --sample-period 2 > mixed.vcd\n"
        "  cfsim udma-write --simultaneous-every 100 --glitches 5 -o faults.vcd\n"
        "  cfsim pio-read -o read.sr        (sigrok session: sample numbers, rate from --sample-period)\n"
        "  cfsim pio-read --format csv > read.csv\n"
        "  cfsim udma-read --sample-period 1 --late-data-every 50 --short-strobe-every 200 -o timing.vcd\n"
        "  cfsim udma-read --sectors 256 --repeat 16 -o million.vcd\n"
        "  cfsim pio-read --iordy-wait 300 --iordy-every 4 --iordy-with-strobe -o waits.vcd\n"
        "  cfsim pio-read --iordy-past-tb 200 --iordy-every 50 -o tb.vcd\n"
        "  cfsim udma-write --crc none -o nocrc.vcd\n"
        "  cfsim mixed --sample-period 1 --late-read-every 20 --early-release-every 20 --data-margin 2 -o "
        "setup.vcd\n"
        "  cfsim pio-read --sample-period 1 --ringing-every 300 -o ringing.vcd\n"
        "  cfsim mdma --dmarq-with-strobe --write-data late -o mdma.vcd\n"
        "  cfsim mixed --ideal-timing -o ideal.vcd\n"

        "  cfsim bench --edges 1000000 --udma-mode 5 --sample-period 5 -o bench.vcd");

    std::string scenario;
    fd::sim::ScenarioParams params;
    fd::sim::Options options;
    std::string output = "-";
    std::string transcriptFile;
    uint32_t repeat = 1;
    app.add_option("scenario", scenario, "What to put on the bus (see Scenarios below)")->required();
    app.add_option("--sectors", params.sectors, "Sectors per data command, 1 to 256")
        ->default_val(params.sectors)
        ->check(CLI::Range(1u, 256u));
    app.add_option("--seed", options.seed, "Seed of the data words and of fault placement")
        ->default_val(options.seed);
    app.add_option("-o,--output", output, "Output file; - is standard output")->default_val(output);
    std::string format;
    app.add_option("--format", format,
                   "Output format: vcd, sr (sigrok session; needs -o FILE) or csv (a row per change); "
                   "default: from the output file's extension, else vcd")
        ->check(CLI::IsMember({"vcd", "sr", "csv"}));
    app.add_option("--transcript", transcriptFile,
                   "Also write what was put on the bus, one line per phase, to this file");
    app.add_option("--lba", params.lba, "First sector address (28-bit)")
        ->default_val(params.lba)
        ->check(CLI::Range(0u, 0x0FFFFFFFu));
    app.add_option("--burst-words", params.burstWords,
                   "Words per DMA burst; 0 moves each command's data in one burst")
        ->default_val(params.burstWords);
    app.add_option("--edges", params.edges, "bench: about this many strobe edges")
        ->default_val(params.edges)
        ->check(CLI::Range(uint64_t{1}, uint64_t{400'000'000}));
    app.add_option("--sample-period", options.samplePeriodNs, "Sample period in ns")
        ->default_val(options.samplePeriodNs)
        ->check(CLI::PositiveNumber);
    app.add_option("--pio-mode", options.pioMode, "PIO mode 0 to 6")
        ->default_val(options.pioMode)
        ->check(CLI::Range(0, 6));
    app.add_option("--mwdma-mode", options.mwdmaMode, "Multiword DMA mode 0 to 4")
        ->default_val(options.mwdmaMode)
        ->check(CLI::Range(0, 4));
    app.add_option("--udma-mode", options.udmaMode, "Ultra DMA mode 0 to 6")
        ->default_val(options.udmaMode)
        ->check(CLI::Range(0, 6));
    app.add_flag("--intrq", options.intrq, "Add an INTRQ signal after D15");
    fd::sim::BusTiming& timing = options.timing;
    auto* ideal = app.add_flag("--ideal-timing", timing.ideal,
                               "The ideal bus of earlier cfsim versions: every value on the data lines "
                               "before its strobe falls and kept there, a data-in burst opening with STOP "
                               "and HDMARDY- on one sample, DMARQ dropped as the last multiword DMA cycle "
                               "ends");
    std::vector<CLI::Option*> realistic;
    realistic.push_back(app.add_option("--read-access", timing.readAccessNs,
                                       "PIO and multiword DMA reads: the card drives the data this many ns "
                                       "after the strobe falls (default: the latest CF 4.1 allows, t2 - t5, "
                                       "multiword DMA tD - tG; never later than the pulse's last sample)")
                            ->check(CLI::NonNegativeNumber));
    std::string writeData = "setup";
    realistic.push_back(app.add_option("--write-data", writeData,
                                       "Where the host drives write data: setup (with the address; "
                                       "multiword DMA after the previous cycle's hold), strobe (when DIOW- "
                                       "falls) or late (t3, multiword DMA tG, before DIOW- rises, the "
                                       "latest allowed)")
                            ->default_val(writeData)
                            ->check(CLI::IsMember({"setup", "strobe", "late"})));
    CLI::Option* iordyWait =
        app.add_option(
               "--iordy-wait", timing.iordyWaitNs,
               "IORDY wait states on register and PIO data cycles: the card negates IORDY tA after "
               "the strobe falls and asserts it again this many ns later (at most tB, 1250; PIO 0 "
               "to 4; longer is the fault of IORDY held past tB); read data is valid tRD before IORDY "
               "returns and the host then ends the pulse")
            ->check(CLI::PositiveNumber);
    realistic.push_back(iordyWait);
    realistic.push_back(
        app.add_option("--iordy-every", timing.iordyEvery,
                       "With --iordy-wait or --iordy-past-tb: only every Nth register and PIO "
                       "data cycle waits")
            ->default_val(timing.iordyEvery)
            ->check(CLI::Range(1u, 1000000u)));
    realistic.push_back(app.add_flag("--iordy-with-strobe", timing.iordyWithStrobe,
                                     "With --iordy-wait: the card negates IORDY in the same sample as the "
                                     "strobe falls (without it tA later, which is the same sample only when "
                                     "a sample is longer than tA)")
                            ->needs(iordyWait));
    realistic.push_back(app.add_flag("--dmarq-with-strobe", timing.dmarqWithStrobe,
                                     "Multiword DMA: the card negates DMARQ in the same sample as the last "
                                     "cycle's strobe falls (without it tLR / tLW after the fall)"));
    for (CLI::Option* option : realistic) option->excludes(ideal);
    app.add_option("--simultaneous-every", options.faults.simultaneousEvery,
                   "Fault: every Nth DMA word has a second strobe changing at the same sample");
    app.add_option("--glitches", options.faults.glitchCount, "Fault: this many glitches on the strobes");
    app.add_option("--glitch-width", options.faults.glitchWidth,
                   "Width of each glitch in samples; 0 gives two changes at one position")
        ->default_val(options.faults.glitchWidth);
    app.add_option("--short-strobe-every", options.faults.shortStrobeEvery,
                   "Timing fault: every Nth strobe pulse (register, PIO and DMA cycles, Ultra DMA strobe "
                   "phases) is cut short");
    app.add_option("--short-strobe-percent", options.faults.shortStrobePercent,
                   "What is left of a cut strobe pulse, in percent of its length")
        ->default_val(options.faults.shortStrobePercent)
        ->check(CLI::Range(1u, 99u));
    app.add_option("--late-data-every", options.faults.lateDataEvery,
                   "Timing fault: every Nth Ultra DMA word reaches the data lines only --data-margin before "
                   "its strobe edge");
    app.add_option("--early-data-every", options.faults.earlyDataEvery,
                   "Timing fault: the data lines change only --data-margin after every Nth Ultra DMA word's "
                   "strobe edge");
    app.add_option("--data-margin", options.faults.dataMarginNs,
                   "How close to the strobe edge the late or early data changes, in ns (at least one sample)")
        ->default_val(options.faults.dataMarginNs)
        ->check(CLI::PositiveNumber);
    app.add_option(
        "--late-read-every", options.faults.lateReadEvery,
        "Timing fault: every Nth register, PIO or multiword DMA read cycle's data reaches the lines "
        "only --data-margin before DIOR- rises (setup t5, multiword DMA tG, too short)");
    app.add_option("--early-release-every", options.faults.earlyReleaseEvery,
                   "Timing fault: the data lines change (the host lets go and they float to the word's "
                   "complement) --data-margin after every Nth register, PIO or multiword DMA write cycle's "
                   "DIOW- rises (hold t4, multiword DMA tH, too short)");
    app.add_option(
        "--ringing-every", options.faults.ringingEvery,
        "Fault: every Nth strobe edge (register, PIO and multiword DMA strobes falling and rising, "
        "Ultra DMA strobe edges) rings: the line bounces back --ringing-ns after it and returns as "
        "long after that (extra words; in Ultra DMA the card counts them, so the burst CRC fails)");
    app.add_option("--ringing-ns", options.faults.ringingNs,
                   "How long each ringing bounce lasts, in ns (at least one sample)")
        ->default_val(options.faults.ringingNs)
        ->check(CLI::PositiveNumber);
    app.add_option(
           "--iordy-past-tb", options.faults.iordyPastTbNs,
           "Timing fault: IORDY wait states (on every --iordy-every cycle) last tB (1250 ns) plus this "
           "many ns, longer than a card may hold IORDY")
        ->check(CLI::PositiveNumber);
    std::string crcWord = "right";
    app.add_option(
           "--crc", crcWord,
           "The word the host drives as it ends each Ultra DMA burst: right (the burst's CRC), bad (another "
           "word) or none (no word: the lines keep the last data word); with bad or none the card "
           "answers the command with ERR and ERROR ICRC ABRT")
        ->default_val(crcWord)
        ->check(CLI::IsMember({"right", "bad", "none"}));
    app.add_option("--repeat", repeat,
                   "Run the scenario this many times, one after another (for large captures)")
        ->default_val(repeat)
        ->check(CLI::Range(1u, 1000000u));
    app.add_option("--start-low", options.faults.startLow,
                   "Fault: these signals (e.g. IORD,CS0) start low and rise before the first cycle")
        ->delimiter(',');

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }

    options.faults.crcWord = crcWord == "bad"    ? fd::sim::Faults::CrcWord::Wrong
                             : crcWord == "none" ? fd::sim::Faults::CrcWord::Missing
                                                 : fd::sim::Faults::CrcWord::Right;
    timing.writeData = writeData == "late"     ? fd::sim::WriteData::Late
                       : writeData == "strobe" ? fd::sim::WriteData::Strobe
                                               : fd::sim::WriteData::Setup;
    if (!timing.ideal && timing.readAccessNs >= 0) {
        // A later card is not compliant; say which limit it breaks.
        const auto& pio = fd::sim::PioMode(options.pioMode);
        const auto& mwdma = fd::sim::MwdmaMode(options.mwdmaMode);
        const double pioLatest = std::min(pio.t2Data, pio.t2Reg) - pio.t5;
        if (timing.readAccessNs > pioLatest) {
            std::cerr << "cfsim: warning: --read-access " << timing.readAccessNs
                      << " ns is later than a card may drive PIO" << options.pioMode
                      << " read data (t2 - t5 = " << pioLatest
                      << " ns); the data reaches the lines no later than the pulse's last sample\n";
        }
        if (timing.readAccessNs > mwdma.tD - mwdma.tG) {
            std::cerr << "cfsim: warning: --read-access " << timing.readAccessNs
                      << " ns is later than a card may drive MWDMA" << options.mwdmaMode
                      << " read data (tD - tG = " << mwdma.tD - mwdma.tG
                      << " ns); the data reaches the lines no later than the pulse's last sample\n";
        }
    }

    // The format follows the file's extension unless named.
    if (format.empty()) {
        std::string extension = std::filesystem::path(output).extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        format = extension == ".sr" ? "sr" : extension == ".csv" ? "csv" : "vcd";
    }
    if (format == "sr" && output == "-") {
        std::cerr << "cfsim: a sigrok session is a zip archive and cannot go to standard output; name a file "
                     "with -o\n";
        return 2;
    }
#if !defined(FD_HAVE_SESSIONS)
    if (format == "sr") {
        std::cerr << "cfsim: this build writes no sigrok sessions (built without libzip); write VCD or CSV\n";
        return 2;
    }
#endif
    const auto writeCapture = [&format](std::ostream& out, const fd::host::Waveform& waveform,
                                        const fd::sim::Transcript& transcript) {
        if (format == "csv")
            fd::host::WriteCsvCapture(waveform, out);
        else
            fd::sim::WriteVcd(out, waveform, fd::sim::VcdOptionsFor(transcript, waveform));
        if (!out.flush()) throw std::ios_base::failure("capture");
    };

    std::string writing = output == "-" ? std::string("standard output") : output;
    try {
        fd::sim::Bus bus(options);
        for (uint32_t run = 0; run < repeat; ++run) fd::sim::RunScenario(bus, scenario, params);
        const fd::host::Waveform waveform = bus.Finish();
        if (format != "vcd") {
            // Samples hold one level each: two changes at one position cancel.
            for (const fd::host::Signal& signal : waveform.signals) {
                if (std::adjacent_find(signal.changes.begin(), signal.changes.end()) !=
                    signal.changes.end()) {
                    std::cerr << "cfsim: warning: zero-width glitches (--glitch-width 0) cannot be stored as "
                                 "samples; "
                                 "they are left out of the "
                              << format << " file\n";
                    break;
                }
            }
        }
        if (format == "sr") {
#if defined(FD_HAVE_SESSIONS)
            fd::host::WriteSigrokSession(waveform, output);
#endif
        } else if (output == "-") {
            writeCapture(std::cout, waveform, bus.transcript());
        } else {
            std::ofstream file(output, std::ios::binary);
            if (!file) {
                std::cerr << "cfsim: cannot create " << output << "\n";
                return 1;
            }
            writeCapture(file, waveform, bus.transcript());
        }
        if (!transcriptFile.empty()) {
            writing = transcriptFile;
            std::ofstream file(transcriptFile, std::ios::binary);
            if (!file) {
                std::cerr << "cfsim: cannot create " << transcriptFile << "\n";
                return 1;
            }
            fd::sim::WriteTranscript(file, bus.transcript());
            if (!file.flush()) throw std::ios_base::failure("transcript");
        }
    } catch (const std::ios_base::failure&) {
        std::cerr << "cfsim: writing " << writing << " failed\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "cfsim: " << error.what() << "\n";
        return 2;
    }
    return 0;
}
