#include "tests/plugin/decoder/bus_fixture.h"

namespace fd::test {

const char* LineName(int line) { return kBusRoles[static_cast<size_t>(line)].name.data(); }

BusScript::BusScript(uint32_t origin, uint32_t step)
    : step_(step), now_(origin), initial_(kBusRoleCount, 0), changes_(kBusRoleCount) {
    for (int line = 0; line < kBusRoleCount; ++line)
        initial_[static_cast<size_t>(line)] = kBusRoles[static_cast<size_t>(line)].idleLevel;
    levels_ = initial_;
}

void BusScript::Change(int line, int level) {
    const auto index = static_cast<size_t>(line);
    if (levels_[index] == level) return;
    levels_[index] = level;
    std::vector<uint32_t>& changes = changes_[index];
    // Two changes at one position cancel out.
    if (!changes.empty() && changes.back() == now_) {
        changes.pop_back();
    } else {
        changes.push_back(now_);
    }
}

BusScript& BusScript::Set(std::initializer_list<std::pair<int, int>> changes) {
    for (auto [line, level] : changes) Change(line, level);
    return Wait(step_);
}

BusScript& BusScript::Wait(uint32_t samples) {
    now_ += samples;
    return *this;
}

BusScript& BusScript::Data(uint32_t value) {
    for (int n = 0; n < 16; ++n) Change(kD0 + n, static_cast<int>(value >> n) & 1);
    return *this;
}

uint32_t BusScript::Cycle(int strobe, int code, uint32_t value) {
    Data(value);
    Set({{kA0, code & 1},
         {kA1, (code >> 1) & 1},
         {kA2, (code >> 2) & 1},
         {kCs0, (code >> 3) & 1},
         {kCs1, (code >> 4) & 1},
         {kDmack, (code >> 5) & 1}});
    const uint32_t at = now_;
    Set({{strobe, 0}});
    Set({{strobe, 1}});
    Set({{kCs0, 1}, {kCs1, 1}, {kDmack, 1}});
    return at;
}

uint32_t BusScript::Read(int code, uint32_t value) { return Cycle(kIord, code, value); }
uint32_t BusScript::Write(int code, uint32_t value) { return Cycle(kIowr, code, value); }

std::vector<uint32_t> BusScript::Burst(int strobe, int readyLine, const std::vector<uint32_t>& words) {
    // STOP (IOWR) goes low before DMACK is asserted, so it is no write
    // cycle; it goes high again first at the end, so the strobe and ready
    // lines returning high record nothing.
    Set({{kIowr, 0}});
    Set({{kDmarq, 1}});
    Set({{kDmack, 0}});
    if (readyLine >= 0) Set({{readyLine, 0}});
    std::vector<uint32_t> positions;
    for (uint32_t word : words) {
        Data(word);
        Wait(step_ / 2);
        positions.push_back(now_);
        Set({{strobe, level(strobe) ^ 1}});
    }
    Set({{kIowr, 1}});
    Set({{kIord, 1}});
    Set({{kIordy, 1}});
    Set({{kDmack, 1}});
    Set({{kDmarq, 0}});
    return positions;
}

std::vector<uint32_t> BusScript::UltraOut(const std::vector<uint32_t>& words) {
    return Burst(kIord, kIordy, words);
}

std::vector<uint32_t> BusScript::UltraIn(const std::vector<uint32_t>& words) {
    return Burst(kIordy, kIord, words);
}

host::Waveform BusScript::ToWaveform() const {
    host::Waveform waveform;
    for (int line = 0; line < kBusRoleCount; ++line) {
        const auto index = static_cast<size_t>(line);
        waveform.signals.push_back({LineName(line), static_cast<uint8_t>(initial_[index]), changes_[index]});
    }
    waveform.endPosition = now_;
    return waveform;
}

std::vector<host::ChannelSpec> BusScript::Channels() const {
    std::vector<host::ChannelSpec> specs;
    const host::Waveform waveform = ToWaveform();
    int32_t number = 0;
    for (const host::Signal& signal : waveform.signals) {
        specs.push_back({signal.name, number++, host::ToTransitionList(signal)});
    }
    return specs;
}

host::CaptureImage BusScript::Capture(uint32_t tail) const {
    return host::CaptureImage(Channels(), now_ + tail);
}

}  // namespace fd::test
