#include "tests/plugin/decoder/random_captures.h"

#include <algorithm>

#include "tests/plugin/decoder/bus_fixture.h"

namespace fd::test {

int64_t Uniform(Rng& rng, int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(rng);
}
bool Chance(Rng& rng, double p) { return std::bernoulli_distribution(p)(rng); }
uint32_t Clamp32(int64_t v) { return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 0xFFFFFFFFLL)); }

// Random transition lists on every line.
Scenario NoiseScenario(Rng& rng) {
    Scenario s;
    const int64_t length = Uniform(rng, 20, 2500);
    int64_t base = 0;
    switch (Uniform(rng, 0, 3)) {
        case 0:
            base = 0;
            break;
        case 1:
            base = Uniform(rng, 1, 1000);
            break;
        case 2:
            base = 0x7FFFFF00LL + Uniform(rng, 0, 512);
            break;
        default:
            base = 0xFFFFFFFFLL - length - Uniform(rng, 0, 50);
            break;
    }
    s.first = static_cast<uint32_t>(base);
    s.last = static_cast<uint32_t>(base + length);
    s.lines.resize(kBusRoleCount);
    for (int line = 0; line < kBusRoleCount; ++line) {
        const bool strobe = line == kIord || line == kIowr || line == kIordy;
        const bool control = line < kD0 && !strobe;
        const double densities[3][3] = {{0.0005, 0.005, 0.04}, {0.02, 0.1, 0.4}, {0.05, 0.2, 0.5}};
        const double density = densities[control ? 0 : strobe ? 1 : 2][Uniform(rng, 0, 2)];
        std::vector<uint32_t>& list = s.lines[static_cast<size_t>(line)];
        if (Chance(rng, 0.03)) continue;  // no transitions: low everywhere
        for (int64_t x = base; x <= base + length; ++x) {
            if (Chance(rng, density)) {
                list.push_back(static_cast<uint32_t>(x));
                if (Chance(rng, 0.03)) list.push_back(static_cast<uint32_t>(x));  // zero-width glitch
            }
        }
        if (list.empty() || Chance(rng, 0.5)) list.insert(list.begin(), s.first);  // starts low
        if (Chance(rng, 0.02)) list.resize(1);  // one entry: high everywhere
    }
    // Strobes changing together.
    for (int other : {kIowr, kIordy}) {
        if (!Chance(rng, 0.4)) continue;
        std::vector<uint32_t>& list = s.lines[static_cast<size_t>(other)];
        for (uint32_t p : s.lines[kIord]) {
            if (Chance(rng, 0.3)) list.push_back(p);
        }
        std::sort(list.begin(), list.end());
    }
    return s;
}

namespace {

int RandomCode(Rng& rng) {
    switch (Uniform(rng, 0, 3)) {
        case 0:
            return static_cast<int>(Uniform(rng, 0, 63));
        case 1:
            return static_cast<int>(Uniform(rng, 24, 31));
        default:
            return static_cast<int>(Uniform(rng, 46, 55));
    }
}

}  // namespace

// Scripted traffic: register cycles, bursts (some past a sector), stray
// line changes and strobes changing together.
Scenario ScriptScenario(Rng& rng) {
    const uint32_t origins[] = {100, 0x7FFFFF00u, 0xFFF00000u};
    const uint32_t origin = origins[Uniform(rng, 0, 2)];
    BusScript bus(origin, static_cast<uint32_t>(Uniform(rng, 4, 12)));
    int64_t wordsLeft = 1500;
    const int64_t steps = Uniform(rng, 3, 30);
    for (int64_t i = 0; i < steps; ++i) {
        switch (Uniform(rng, 0, 9)) {
            case 0:
            case 1:
            case 2: {
                if (Chance(rng, 0.3)) bus.Set({{kDmarq, static_cast<int>(Uniform(rng, 0, 1))}});
                const int code = RandomCode(rng);
                const auto value = static_cast<uint32_t>(Uniform(rng, 0, 0xFFFF));
                if (Chance(rng, 0.5)) {
                    bus.Read(code, value);
                } else {
                    bus.Write(code, value);
                }
                break;
            }
            case 3:
            case 4:
            case 5: {
                const int64_t count =
                    std::min(wordsLeft, Chance(rng, 0.2) ? Uniform(rng, 250, 700) : Uniform(rng, 1, 40));
                wordsLeft -= count;
                std::vector<uint32_t> words(static_cast<size_t>(count));
                for (uint32_t& w : words) w = static_cast<uint32_t>(Uniform(rng, 0, 0xFFFF));
                if (Chance(rng, 0.5)) {
                    bus.UltraIn(words);
                } else {
                    bus.UltraOut(words);
                }
                break;
            }
            case 6:
            case 7: {  // a stray change, sometimes back at once
                const int line = static_cast<int>(Uniform(rng, 0, kBusRoleCount - 1));
                bus.Set({{line, bus.level(line) ^ 1}});
                if (Chance(rng, 0.5)) bus.Set({{line, bus.level(line) ^ 1}});
                break;
            }
            case 8: {
                const int a = static_cast<int>(Uniform(rng, kIord, kIordy));
                const int b = a == kIordy ? kIord : a + 1;
                bus.Set({{a, bus.level(a) ^ 1}, {b, bus.level(b) ^ 1}});
                break;
            }
            default:
                bus.Wait(static_cast<uint32_t>(Uniform(rng, 1, 30)));
                break;
        }
    }
    Scenario s;
    s.first = origin - 1;
    s.last = bus.now();
    for (host::ChannelSpec& spec : bus.Channels()) {
        // The leading zeros only fix the starting level; moved up to just
        // before the traffic, the levels there are the same and the span
        // the reference samples stays small.
        for (uint32_t& p : spec.positions) {
            if (p == 0) p = origin - 1;
        }
        s.lines.push_back(std::move(spec.positions));
    }
    return s;
}

namespace {

std::vector<uint32_t> SpareLine(Rng& rng, const Scenario& s) {
    std::vector<uint32_t> list;
    for (int i = 0; i < 4; ++i) list.push_back(Clamp32(Uniform(rng, s.first, s.last)));
    std::sort(list.begin(), list.end());
    return list;
}

}  // namespace

// Numbers the 26 lines (plus spare channels) and picks the settings' channel
// fields, so that binding by number succeeds or fails in varied ways.
Numbering Number(Rng& rng, const Scenario& s) {
    Numbering n;
    n.fields = {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (int line = 0; line < kBusRoleCount; ++line) {
        n.specs.push_back({LineName(line), 0, s.lines[static_cast<size_t>(line)]});
    }
    const int64_t spares = Uniform(rng, 0, 4);
    for (int64_t i = 0; i < spares; ++i) n.specs.push_back({"spare", 0, SpareLine(rng, s)});

    const int64_t mode = Uniform(rng, 0, 9);
    if (mode <= 2) {  // numbered in list order, default settings: positional binding
        for (size_t i = 0; i < n.specs.size(); ++i) n.specs[i].number = static_cast<int32_t>(i);
        return n;
    }
    if (mode >= 8) {  // small random numbers and fields: duplicates, shared roles
        for (auto& spec : n.specs) spec.number = static_cast<int32_t>(Uniform(rng, -2, 30));
        for (int32_t& f : n.fields) f = static_cast<int32_t>(Uniform(rng, -2, 15));
        std::shuffle(n.specs.begin(), n.specs.end(), rng);
        if (mode == 9 && Chance(rng, 0.5)) n.specs.resize(static_cast<size_t>(Uniform(rng, 20, 25)));
        return n;
    }
    // Binding by number, list order shuffled.
    int64_t d0 = Uniform(rng, -1000, 1000);
    if (mode == 7) d0 = 0x7FFFFFFFLL - Uniform(rng, 0, 20);  // D15 may lie past the top
    std::vector<int32_t> controls;
    while (controls.size() < 10) {
        const auto number = static_cast<int32_t>(Uniform(rng, -3000, 3000));
        const bool clash = std::find(controls.begin(), controls.end(), number) != controls.end() ||
                           (number >= d0 && number < d0 + 16);
        if (!clash) controls.push_back(number);
    }
    for (int line = 0; line < kBusRoleCount; ++line) {
        n.specs[static_cast<size_t>(line)].number =
            line < kD0 ? controls[static_cast<size_t>(line)]
                       : static_cast<int32_t>((d0 + line - kD0) & 0xFFFFFFFF);
    }
    for (int f = 0; f < 10; ++f) n.fields[static_cast<size_t>(f)] = controls[static_cast<size_t>(f)];
    n.fields[10] = static_cast<int32_t>(d0);
    for (size_t i = kBusRoleCount; i < n.specs.size(); ++i) {
        // A spare sometimes carries a role's number and, placed later, takes it.
        n.specs[i].number = Chance(rng, 0.3)
                                ? n.specs[static_cast<size_t>(Uniform(rng, 0, kBusRoleCount - 1))].number
                                : static_cast<int32_t>(Uniform(rng, 5000, 6000));
    }
    std::shuffle(n.specs.begin(), n.specs.end(), rng);
    if (mode == 6)
        n.fields[static_cast<size_t>(Uniform(rng, 0, 9))] = n.fields[static_cast<size_t>(Uniform(rng, 0, 9))];
    return n;
}

uint32_t RandomWindowPoint(Rng& rng, const Scenario& s) {
    return Clamp32(Uniform(rng, int64_t{s.first} - 5, int64_t{s.last} + 5));
}

}  // namespace fd::test
