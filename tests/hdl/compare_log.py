#!/usr/bin/env python3
"""Compares cfdecode's decode of the HDL testbench's VCD with the host's log.

    compare_log.py LOG RECORDS TRANSACTIONS

LOG is the testbench's log (ata_host.v describes it), RECORDS the output of
`cfdecode --format json` and TRANSACTIONS that of `cfdecode --view
transactions --format json` on the same VCD.

Records: every register cycle and every data word of the log must appear
at its position with its kind and value; a bus-cycle record that the log
lacks is a phantom. The markers the decoder adds to its own stream (START,
the sector-start markers, COMPOSE) are not bus cycles and are not compared.
Transactions: one per logged command, at its COMMAND write, with its
opcode, protocol, verdict, byte count, final status and, for Ultra DMA, the
addresses of the sectors after the first. Ultra DMA bursts: each CRC word
the host logged must be a decoded burst ending where it was driven, with
that word sent and found right, and each decoded burst must be logged.

Prints what was compared, the counts of what was wrong, and the first
mismatches in bus order with the command they fall in. Exit status 0 when
everything matches, 1 otherwise, 2 when an input cannot be read.
"""
import json
import sys
from collections import Counter, defaultdict

# Field ids of the plug-in's records for each register, by direction.
REGISTER_READS = {
    "ERROR": 4004, "SECTOR_COUNT": 4006, "SECTOR_NUMBER": 4007, "CYLINDER_LOW": 4008,
    "CYLINDER_HIGH": 4009, "DEVICE_HEAD": 4010, "STATUS": 4011, "ALT_STATUS": 4013,
    "DRIVE_ADDRESS": 4015,
}
REGISTER_WRITES = {
    "FEATURES": 4005, "SECTOR_COUNT": 4006, "SECTOR_NUMBER": 4007, "CYLINDER_LOW": 4008,
    "CYLINDER_HIGH": 4009, "DEVICE_HEAD": 4010, "COMMAND": 4012, "DEVICE_CONTROL": 4014,
}
DATA_WORDS = {
    ("in", "PIO"): 4002, ("out", "PIO"): 4003, ("in", "MWDMA"): 4017, ("out", "MWDMA"): 4018,
    ("in", "UDMA"): 4026, ("out", "UDMA"): 4032,
}
# Records that mark the decoder's own state, not a cycle on the bus.
NOT_BUS_CYCLES = {1, 3036, 3100, 3101, 3306}
COMMAND_NAMES = {0x20: "READ SECTORS", 0x30: "WRITE SECTORS", 0xC8: "READ DMA", 0xCA: "WRITE DMA",
                 0xEC: "IDENTIFY DEVICE", 0xEF: "SET FEATURES"}
SHOW = 15  # mismatches printed in full


class Expected:
    def __init__(self, position, field_id, value, group, line):
        self.position, self.field_id, self.value, self.group, self.line = position, field_id, value, group, line


class Command:
    def __init__(self, number, position, opcode, protocol, mode, lba=None, count=None):
        self.number, self.position, self.opcode, self.protocol, self.mode = number, position, opcode, protocol, mode
        self.lba, self.count = lba, count
        self.end = None  # (position, verdict, words, status)

    def label(self):
        if self.opcode is None:
            return f"#{self.number} software reset"
        return f"#{self.number} {COMMAND_NAMES.get(self.opcode, hex(self.opcode))} ({self.protocol}, {self.mode})"


def fail_input(message):
    print(f"compare_log: {message}", file=sys.stderr)
    sys.exit(2)


def read_log(path):
    expected, commands, ticks_per_ns, done = [], [], None, None
    global CRC_WORDS
    CRC_WORDS = []
    try:
        lines = open(path, encoding="utf-8").read().splitlines()
    except OSError as error:
        fail_input(f"{path}: {error.strerror}")
    for number, line in enumerate(lines, 1):
        if not line or line.startswith("#"):
            continue
        f = line.split("\t")
        try:
            if f[0] == "timescale":
                if f[1] != "100ps":
                    fail_input(f"{path}, line {number}: expected the 100ps timescale, found {f[1]}")
                ticks_per_ns = 10
            elif f[0] == "reg":
                table = REGISTER_WRITES if f[2] == "W" else REGISTER_READS
                expected.append(Expected(int(f[1]), table[f[3]], int(f[4], 16), "register cycles", number))
            elif f[0] == "data":
                expected.append(Expected(int(f[1]), DATA_WORDS[(f[2], f[3])], int(f[4], 16), f"{f[3]} words", number))
            elif f[0] == "cmd":
                lba, count = (None, None) if f[6] == "-" else (int(f[6]), int(f[7]))
                commands.append(Command(int(f[1]), int(f[2]), int(f[3], 16), f[4], f[5], lba, count))
            elif f[0] == "reset":
                commands.append(Command(int(f[1]), int(f[2]), None, "reset", ""))
            elif f[0] == "end":
                command = next(c for c in commands if c.number == int(f[1]))
                command.end = (int(f[2]), f[3], int(f[4]), int(f[5], 16))
            elif f[0] == "done":
                done = int(f[1])
            elif f[0] == "crc":
                CRC_WORDS.append((int(f[1]), int(f[2], 16)))
            else:
                raise ValueError(f[0])
        except (IndexError, KeyError, ValueError, StopIteration):
            fail_input(f"{path}, line {number}: cannot read '{line}'")
    if ticks_per_ns is None or done is None:
        fail_input(f"{path}: no timescale line or no done line: the testbench did not finish")
    return expected, commands, ticks_per_ns, done


def read_json_lines(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]
    except (OSError, json.JSONDecodeError) as error:
        fail_input(f"{path}: {error}")


def command_at(commands, position):
    """The command whose set-up or data phase holds position: the first whose
    completion lies at or after it."""
    for c in commands:
        if c.end and position <= c.end[0]:
            return c
    return None


def compare_records(expected, records, commands, ticks_per_ns):
    cycles = defaultdict(list)
    for r in records:
        if r["field_id"] not in NOT_BUS_CYCLES:
            cycles[r["position"]].append(r)
    names = {r["field_id"]: r["name"] for r in records}
    for (direction, path), field_id in DATA_WORDS.items():
        names.setdefault(field_id, f"{path} {direction}")

    tally = defaultdict(Counter)
    problems = []  # (position, text)
    for e in expected:
        found = cycles.pop(e.position, [])
        tally[e.group]["compared"] += 1
        match = [r for r in found if r["field_id"] == e.field_id]
        want = f"{names.get(e.field_id, e.field_id)} 0x{e.value:04X}"
        if match and match[0]["value"] == e.value:
            tally[e.group]["right"] += 1
            found.remove(match[0])
        elif match:
            tally[e.group]["wrong value"] += 1
            problems.append((e.position, f"expected {want}, decoded 0x{match[0]['value']:04X}"))
            found.remove(match[0])
        elif found:
            tally[e.group]["wrong kind"] += 1
            r = found.pop(0)
            problems.append((e.position, f"expected {want}, decoded {r['name']} 0x{r['value']:04X}"))
        else:
            tally[e.group]["missing"] += 1
            problems.append((e.position, f"expected {want}, decoded nothing"))
        for r in found:  # a second record at a cycle's position
            cycles[e.position].append(r)
    phantoms = Counter()
    for position, extra in cycles.items():
        for r in extra:
            phantoms[r["name"]] += 1
            problems.append((position, f"phantom {r['name']} 0x{r['value']:04X} (no such cycle on the bus)"))

    print("Records (position, kind and value of every cycle):")
    for group in sorted(tally):
        t = tally[group]
        wrong = ", ".join(f"{t[k]} {k}" for k in ("wrong value", "wrong kind", "missing") if t[k])
        print(f"  {group:16} {t['compared']:6} compared, {t['right']:6} right" + (f"; {wrong}" if wrong else ""))
    print(f"  phantom records  {sum(phantoms.values()):6}" +
          (" (" + ", ".join(f"{n} {name}" for name, n in phantoms.most_common()) + ")" if phantoms else ""))

    problems.sort(key=lambda p: p[0])
    if problems:
        print(f"First {min(SHOW, len(problems))} of {len(problems)} record mismatches:")
        for position, text in problems[:SHOW]:
            c = command_at(commands, position)
            where = c.label() if c else "outside any command"
            print(f"  {position:>10} ({position / ticks_per_ns:10.1f} ns)  {text}  [{where}]")
    return len(problems)


def protocol_text(t):
    """The protocol as the transactions view prints it."""
    if t.get("data_path") in ("MWDMA", "UDMA"):
        return f"{t['data_path']} {t['direction']}"
    return t["protocol"]


CRC_WORDS = []  # (position, word) of each burst's CRC, as the host logged it


def compare_bursts(transactions):
    """Each logged CRC word against the decoded bursts, which end at the
    DMACK- negation the host made after putting the word on DD."""
    bursts = sorted((b["end"], b) for t in transactions for b in t.get("bursts", []))
    problems = []
    used = set()
    for position, word in CRC_WORDS:
        # The first decoded burst ending at or after the logged moment.
        found = next(((end, b) for end, b in bursts if end >= position and end not in used), None)
        if found is None:
            problems.append(f"CRC 0x{word:04X} at {position}: no decoded burst ends there")
            continue
        end, b = found
        used.add(end)
        if b["crc"] != "ok" or b["crc_sent"] != word:
            problems.append(f"CRC 0x{word:04X} at {position}: the burst ending at {end} gives {b['text']}")
    for end, b in bursts:
        if end not in used:
            problems.append(f"decoded burst ending at {end} ({b['text']}) matches no CRC word in the log")
    print(f"Ultra DMA bursts: {len(CRC_WORDS)} CRC words logged, {len(bursts)} decoded, {len(problems)} wrong")
    for text in problems[:SHOW]:
        print(f"  {text}")
    return len(problems)


def compare_transactions(commands, transactions):
    problems = []
    kinds = Counter(t["kind"] for t in transactions)
    matched = set()
    for c in commands:
        end_position, verdict, words, status = c.end
        if c.opcode is None:
            found = [t for t in transactions if t["kind"] == "software reset" and t["start"] <= end_position
                     and t["end"] >= c.position]
        else:
            found = [t for t in transactions if t["kind"] == "command" and t.get("command_position") == c.position]
        if not found:
            around = [t for t in transactions if t["start"] <= c.position <= t["end"]]
            seen = f"; decoded there: {around[0]['kind']} {around[0].get('name', '')}".rstrip() if around else ""
            problems.append(f"{c.label()}: no such transaction{seen}")
            continue
        t = found[0]
        matched.add(t["number"])
        want = {"verdict": verdict}
        got = {"verdict": t["verdict"]}
        if c.opcode is not None:
            want.update(opcode=f"0x{c.opcode:02X}", protocol=c.protocol, bytes=2 * words, status=f"0x{status:02X}")
            got.update(opcode=f"0x{t['opcode']:02X}", protocol=protocol_text(t), bytes=t["bytes"],
                       status=f"0x{t['status']:02X}" if "status" in t else None)
            if c.protocol.startswith("UDMA") and c.lba is not None:
                # Ultra DMA words carry the address of each sector after the first.
                want["sector addresses"] = list(range(c.lba + 1, c.lba + c.count))
                got["sector addresses"] = t.get("sector_addresses", [])
        diff = [f"{k} {got[k]} (expected {want[k]})" for k in want if got[k] != want[k]]
        if diff:
            problems.append(f"{c.label()}: " + "; ".join(diff) + (f"; notes: {t['notes']}" if "notes" in t else ""))
    for t in transactions:
        if t["number"] not in matched:
            problems.append(f"decoded transaction {t['number']} ({t['kind']} {t.get('name', '')}, "
                            f"{t['start']} to {t['end']}) matches no command in the log")
    print(f"Transactions: {len(commands)} commands logged, {len(transactions)} decoded "
          f"({', '.join(f'{n} {k}' for k, n in kinds.items())}), {len(problems)} wrong")
    for text in problems[:SHOW]:
        print(f"  {text}")
    if len(problems) > SHOW:
        print(f"  ... and {len(problems) - SHOW} more")
    return len(problems)


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    expected, commands, ticks_per_ns, host_errors = read_log(sys.argv[1])
    records = read_json_lines(sys.argv[2])
    transactions = read_json_lines(sys.argv[3])
    if host_errors:
        print(f"The testbench's host found {host_errors} errors of its own: the waveform is not to be trusted")
        return 1
    if any(c.end is None for c in commands):
        fail_input(f"{sys.argv[1]}: a command has no end line")
    bad = compare_records(expected, records, commands, ticks_per_ns)
    bad += compare_transactions(commands, transactions)
    bad += compare_bursts(transactions)
    print("hdl testbench: " + ("every cycle, word and command decoded as the host logged it" if not bad
                               else f"{bad} mismatches"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
