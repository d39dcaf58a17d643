#include "host/cfdecode/timing_output.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

namespace fd::host {
namespace {

using analysis::TimingWarning;

const char* LimitName(TimingWarning::Limit limit) {
    switch (limit) {
        case TimingWarning::Limit::Minimum:
            return "min";
        case TimingWarning::Limit::Maximum:
            return "max";
        case TimingWarning::Limit::None:
            break;
    }
    return "";
}

}  // namespace

void NoteMissingLines(analysis::TimingReport& report, const ChannelPlan& plan) {
    bool data = false;
    for (int role : plan.missingRoles) {
        if (role == kDmack)
            report.notes.push_back(
                {analysis::TimingNote::Kind::CannotJudge, 0, 0,
                 "no DMACK- line: no Ultra DMA burst is seen, so no burst CRC is checked"});
        if (role == kIordy)
            report.notes.push_back({analysis::TimingNote::Kind::CannotJudge, 0, 0,
                                    "no IORDY line: no wait state is seen (tA, tB, tRD), nor a DSTROBE or "
                                    "DDMARDY- edge"});
        data = data || (role >= kD0 && role < kBusRoleCount);
    }
    if (data)
        report.notes.push_back(
            {analysis::TimingNote::Kind::CannotJudge, 0, 0,
             "data lines missing: data setup and hold are measured on the lines there are, "
             "and no burst CRC is checked (the CRC word cannot be read whole)"});
}

bool WriteTimingReport(std::FILE* out, const analysis::TimingReport& report,
                       const TimingOutputOptions& options) {
    std::string text;
    const double nsPerPosition = options.secondsPerPosition * 1e9;
    auto flush = [&]() {
        const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        text.clear();
        return ok;
    };
    switch (options.format) {
        case OutputFormat::Text:
            for (const TimingWarning& w : report.warnings) {
                text += fmt::format("{:>10}  {:>12.1f} ns  {}\n", uint64_t{w.position} * options.timeStep,
                                    w.position * nsPerPosition, w.Describe());
                if (text.size() > (1u << 16) && !flush()) return false;
            }
            for (const analysis::TimingNote& note : report.notes) text += "note: " + note.text + "\n";
            text += fmt::format("{} timing warnings in {} cycles, judged at a sample period of {:.4g} ns\n",
                                report.warnings.size(), report.cyclesChecked, options.samplePeriodNs);
            break;
        case OutputFormat::Csv:
            text = "kind,position,time_ns,mode,parameter,meaning,measured_ns,limit,allowed_ns,detail\n";
            for (const TimingWarning& w : report.warnings) {
                const bool limited = w.limit != TimingWarning::Limit::None;
                text +=
                    fmt::format("warning,{},{:.1f},{},{},{},{},{},{},{}\n",
                                uint64_t{w.position} * options.timeStep, w.position * nsPerPosition,
                                limited ? analysis::ModeName(w.mode) : "", w.parameter, CsvQuoted(w.meaning),
                                limited ? fmt::format("{:.4g}", w.measuredNs) : "", LimitName(w.limit),
                                limited ? fmt::format("{:.4g}", w.allowedNs) : "", CsvQuoted(w.detail));
                if (text.size() > (1u << 16) && !flush()) return false;
            }
            for (const analysis::TimingNote& note : report.notes) {
                text += fmt::format("note,{},{:.1f},,,,,,,{}\n", uint64_t{note.position} * options.timeStep,
                                    note.position * nsPerPosition, CsvQuoted(note.text));
            }
            break;
        case OutputFormat::Json:
            for (const TimingWarning& w : report.warnings) {
                nlohmann::ordered_json j;
                j["kind"] = "warning";
                j["position"] = uint64_t{w.position} * options.timeStep;
                j["time_ns"] = w.position * nsPerPosition;
                j["parameter"] = w.parameter;
                j["meaning"] = w.meaning;
                if (w.limit != TimingWarning::Limit::None) {
                    j["mode"] = analysis::ModeName(w.mode);
                    j["measured_ns"] = w.measuredNs;
                    j["limit"] = LimitName(w.limit);
                    j["allowed_ns"] = w.allowedNs;
                } else {
                    j["detail"] = w.detail;
                }
                j["text"] = w.Describe();
                text += j.dump() + "\n";
                if (text.size() > (1u << 16) && !flush()) return false;
            }
            for (const analysis::TimingNote& note : report.notes) {
                nlohmann::ordered_json j;
                j["kind"] = "note";
                j["position"] = uint64_t{note.position} * options.timeStep;
                j["text"] = note.text;
                text += j.dump() + "\n";
            }
            break;
    }
    return flush() && std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace fd::host
