#include "host/cfdecode/signal_map.h"

#include <algorithm>
#include <cctype>

namespace fd::host {
namespace {

// Bus signals the decoder does not use. They never stand in for a role.
const std::string_view kOtherBusSignals[] = {
    "INTRQ", "IREQ", "INT", "RESET", "RST", "CSEL", "PDIAG", "DASP", "IOCS16", "IOIS16", "INPACK",
    "REG",   "WE",   "OE",  "CD1",   "CD2", "VS1",  "VS2",   "WAIT", "BVD1",   "BVD2",   "A3",
    "A4",    "A5",   "A6",  "A7",    "A8",  "A9",   "A10",   "SPKR", "STSCHG", "CLK",    "CLOCK"};

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Upper case, without a scope path and without the marks of an active-low
// signal: "top.dut.dior_n" and "-IORD" become "DIOR" and "IORD".
std::string Normalise(std::string_view name) {
    if (const size_t dot = name.find_last_of('.'); dot != std::string_view::npos && dot + 1 < name.size())
        name = name.substr(dot + 1);
    std::string text = Upper(name);
    while (!text.empty() && std::string_view("-/~!#*").find(text.front()) != std::string_view::npos)
        text.erase(0, 1);
    for (bool trimmed = true; trimmed && !text.empty();) {
        trimmed = false;
        for (std::string_view suffix : {"-", "#", "*", "~", "_N", "_B", "_L", "_"}) {
            if (EndsWith(text, suffix)) {
                text.resize(text.size() - suffix.size());
                trimmed = true;
            }
        }
    }
    return text;
}

std::optional<int> RoleForPart(const std::string& name) {
    for (int role = 0; role < kControlRoleCount; ++role) {
        for (std::string_view alias : kBusRoles[static_cast<size_t>(role)].aliases)
            if (!alias.empty() && name == alias) return role;
    }
    for (std::string_view prefix : {"DD", "DATA", "D"}) {
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 2 ||
            !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        const int bit = std::stoi(digits);
        if (bit < kDataRoleCount) return kControlRoleCount + bit;
    }
    return std::nullopt;
}

bool IsOtherBusSignal(std::string_view name) {
    const std::string normal = Normalise(name);
    return std::find(std::begin(kOtherBusSignals), std::end(kOtherBusSignals), normal) !=
           std::end(kOtherBusSignals);
}

std::string RoleList(const std::vector<int>& roles) {
    std::string text;
    for (int role : roles) text += (text.empty() ? "" : ", ") + RoleName(role);
    return text;
}

}  // namespace

std::string RoleName(int role) {
    if (role >= 0 && role < kBusRoleCount) return std::string(kBusRoles[static_cast<size_t>(role)].name);
    return "D" + std::to_string(role - kControlRoleCount);
}

std::optional<int> RoleForSignalName(std::string_view name) {
    const std::string normal = Normalise(name);
    if (normal.empty()) return std::nullopt;
    if (auto role = RoleForPart(normal)) return role;
    // Datasheets join the names of a shared pin: "DIOR-:HDMARDY-:HSTROBE".
    std::optional<int> found;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != ':' && name[i] != '/') continue;
        if (i > start) {
            const std::string part = Normalise(name.substr(start, i - start));
            const auto role = RoleForPart(part);
            if (role && found && *found != *role) return std::nullopt;
            if (role) found = role;
        }
        start = i + 1;
    }
    return found;
}

std::vector<RoleOverride> ParseRoleOverrides(const std::vector<std::string>& options) {
    std::vector<RoleOverride> overrides;
    for (const std::string& option : options) {
        size_t start = 0;
        while (start <= option.size()) {
            size_t comma = option.find(',', start);
            if (comma == std::string::npos) comma = option.size();
            const std::string entry = option.substr(start, comma - start);
            start = comma + 1;
            if (entry.empty()) continue;
            const size_t equals = entry.find('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == entry.size())
                throw MappingError("--map " + entry + ": expected ROLE=SIGNAL, e.g. IORD=ch7");
            const std::string roleText = entry.substr(0, equals);
            const auto role = RoleForSignalName(roleText);
            if (!role) {
                throw MappingError(
                    "--map " + entry + ": unknown role '" + roleText +
                    "'; expected DMARQ, DMACK, CS1, CS0, A0, A1, A2, IORD, IOWR, IORDY or D0 to D15");
            }
            overrides.push_back({*role, entry.substr(equals + 1)});
        }
    }
    return overrides;
}

ChannelPlan PlanChannels(const Waveform& waveform, const std::vector<RoleOverride>& overrides,
                         bool bindByPosition) {
    const auto& signals = waveform.signals;
    std::vector<bool> used(signals.size(), false);
    std::array<int, kBusRoleCount> roleSignal;
    roleSignal.fill(-1);
    ChannelPlan plan;

    // Each signal's names: its own, then those it has in other scopes.
    std::vector<std::vector<std::string_view>> names(signals.size());
    for (size_t i = 0; i < signals.size(); ++i) names[i].push_back(signals[i].name);
    for (const auto& [signal, alias] : waveform.aliases)
        if (signal < signals.size()) names[signal].push_back(alias);
    auto roleOf = [&](size_t i) -> std::optional<int> {
        for (std::string_view name : names[i])
            if (auto role = RoleForSignalName(name)) return role;
        return std::nullopt;
    };
    auto isOther = [&](size_t i) {
        return std::any_of(names[i].begin(), names[i].end(),
                           [](std::string_view name) { return IsOtherBusSignal(name); });
    };

    for (const RoleOverride& entry : overrides) {
        int found = -1;
        for (size_t i = 0; i < signals.size() && found < 0; ++i)
            for (std::string_view name : names[i])
                if (found < 0 && name == entry.signal) found = static_cast<int>(i);
        for (size_t i = 0; i < signals.size() && found < 0; ++i)
            for (std::string_view name : names[i])
                if (found < 0 && Upper(name) == Upper(entry.signal)) found = static_cast<int>(i);
        if (found < 0) {
            throw MappingError("--map " + RoleName(entry.role) + "=" + entry.signal +
                               ": the capture has no signal named '" + entry.signal + "'");
        }
        if (roleSignal[static_cast<size_t>(entry.role)] >= 0)
            used[static_cast<size_t>(roleSignal[static_cast<size_t>(entry.role)])] = false;
        roleSignal[static_cast<size_t>(entry.role)] = found;
        used[static_cast<size_t>(found)] = true;
    }
    std::array<bool, kBusRoleCount> overridden{};
    for (const RoleOverride& entry : overrides) overridden[static_cast<size_t>(entry.role)] = true;

    std::vector<std::pair<size_t, int>> duplicates;  // signal, role another signal carries
    for (size_t i = 0; i < signals.size(); ++i) {
        if (used[i]) continue;
        const auto role = roleOf(i);
        if (!role || overridden[static_cast<size_t>(*role)]) continue;
        int& slot = roleSignal[static_cast<size_t>(*role)];
        if (slot >= 0) {
            duplicates.emplace_back(i, *role);
            continue;
        }
        slot = static_cast<int>(i);
        used[i] = true;
    }
    if (duplicates.size() == 1) {
        const auto [i, role] = duplicates[0];
        const std::string& first = signals[static_cast<size_t>(roleSignal[static_cast<size_t>(role)])].name;
        plan.notes.push_back("signals " + first + " and " + signals[i].name + " both name " + RoleName(role) +
                             "; using " + first);
    } else if (!duplicates.empty()) {
        // A simulator's dump of a module and its instance names every line
        // twice: one line for all of them.
        std::string list;
        for (size_t n = 0; n < duplicates.size() && n < 8; ++n) {
            const auto [i, role] = duplicates[n];
            list += (n == 0 ? "" : ", ") + signals[i].name + " (" + RoleName(role) + ", carried by " +
                    signals[static_cast<size_t>(roleSignal[static_cast<size_t>(role)])].name + ")";
        }
        if (duplicates.size() > 8) list += ", ...";
        plan.notes.push_back(
            std::to_string(duplicates.size()) +
            " signals name a role another signal already carries and are kept as further channels: " + list);
    }

    const bool anyControl =
        std::any_of(roleSignal.begin(), roleSignal.begin() + 10, [](int s) { return s >= 0; });
    if (!anyControl && !bindByPosition) {
        // Names such as "Channel 0", "D0" or "probe0" of an analyzer's
        // defaults say nothing about which line is which: binding them in
        // list order would decode a made-up bus.
        std::string list;
        for (size_t i = 0; i < signals.size() && i < 32; ++i) list += (i == 0 ? "" : ", ") + signals[i].name;
        if (signals.size() > 32) list += ", ... (" + std::to_string(signals.size()) + " in all)";
        std::string example = "IORD=" + (signals.empty() ? std::string("ch7") : signals[0].name);
        if (example.find(' ') != std::string::npos) example = "\"" + example + "\"";
        throw MappingError(
            "no signal is named for a bus control line (DMARQ, DMACK, CS1, CS0, A0 to A2, IORD, IOWR, "
            "IORDY), so the names do not say which line is which; the capture's signals: " +
            list + ". Give each role its signal with --map ROLE=SIGNAL (e.g. --map " + example +
            "), or take them in list order with --bind-by-position");
    }

    // Asked to bind by position a capture that names no control line (an
    // analyzer's D0 .. D15 are its channels, not the data lines): the
    // names are not used at all, only the list order and --map.
    const bool ignoreNames = !anyControl && bindByPosition;
    if (ignoreNames) {
        plan.notes.clear();
        for (int role = 0; role < kBusRoleCount; ++role) {
            int& slot = roleSignal[static_cast<size_t>(role)];
            if (slot >= 0 && !overridden[static_cast<size_t>(role)]) {
                used[static_cast<size_t>(slot)] = false;
                slot = -1;
            }
        }
    }

    for (int role = 0; role < kBusRoleCount; ++role)
        if (roleSignal[static_cast<size_t>(role)] < 0) plan.missingRoles.push_back(role);

    // A role without a named signal holds its idle level on a stand-in
    // channel. Asked to (--bind-by-position), it takes the next signal whose
    // name means nothing to us instead, as the plug-in's own positional
    // binding would, and a stand-in only when none is left.
    std::string stoodIn;
    size_t nextUnnamed = 0;
    for (int role = 0; role < kBusRoleCount; ++role) {
        PlannedChannel channel;
        channel.number = role;
        const int signal = roleSignal[static_cast<size_t>(role)];
        if (signal >= 0) {
            channel.signal = signal;
            channel.name = signals[static_cast<size_t>(signal)].name;
        } else {
            while (bindByPosition && nextUnnamed < signals.size() &&
                   (used[nextUnnamed] || isOther(nextUnnamed) || (!ignoreNames && roleOf(nextUnnamed))))
                ++nextUnnamed;
            if (bindByPosition && nextUnnamed < signals.size()) {
                channel.signal = static_cast<int>(nextUnnamed);
                channel.name = signals[nextUnnamed].name;
                used[nextUnnamed] = true;
            } else {
                channel.idleLevel = kBusRoles[static_cast<size_t>(role)].idleLevel;
                channel.name = "(" + RoleName(role) + " idle)";
            }
            stoodIn += (stoodIn.empty() ? "" : ", ") + RoleName(role) + "=" +
                       (channel.signal >= 0 ? channel.name
                                            : std::string(channel.idleLevel ? "idle high" : "idle low"));
        }
        plan.channels.push_back(std::move(channel));
    }
    std::string unnamed;
    for (size_t i = 0; i < signals.size(); ++i) {
        if (used[i]) continue;
        if (!isOther(i) && !roleOf(i)) unnamed += (unnamed.empty() ? "" : ", ") + signals[i].name;
        PlannedChannel channel;
        channel.number = static_cast<int32_t>(plan.channels.size());
        channel.signal = static_cast<int>(i);
        channel.name = signals[i].name;
        plan.channels.push_back(std::move(channel));
    }

    for (int role = 0; role < 10; ++role)
        plan.settingsChannels[static_cast<size_t>(role)] =
            roleSignal[static_cast<size_t>(role)] >= 0 ? role : -1;
    const bool allData = std::all_of(roleSignal.begin() + 10, roleSignal.end(), [](int s) { return s >= 0; });
    plan.settingsChannels[10] = allData ? 10 : -1;

    if (!plan.missingRoles.empty() && bindByPosition) {
        plan.notes.push_back("no signal named for " + RoleList(plan.missingRoles) +
                             "; bound by list position: " + stoodIn + " (name them with --map ROLE=SIGNAL)");
    } else if (!plan.missingRoles.empty()) {
        plan.notes.push_back(
            "no signal named for " + RoleList(plan.missingRoles) +
            "; they hold their idle level: " + stoodIn + " (name them with --map ROLE=SIGNAL" +
            (unnamed.empty() ? std::string(")")
                             : "; signals whose names say no role: " + unnamed +
                                   ", or --bind-by-position to give them the roles in list order)"));
    }
    return plan;
}

}  // namespace fd::host
