#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora from the test cases.

usage: make_seeds.py OUT_DIR

OUT_DIR/scanner: one input per line of tests/scan_cases.txt, in the byte
format scanner_fuzz.cpp reads; OUT_DIR/cli: the words of each case of
tests/cli/cases.txt, NUL-separated, as cli_fuzz.cpp reads them;
OUT_DIR/reader: the standard input of each case of the decoder's and the
sender's cases; OUT_DIR/dialogue: what tests/module_sim.py answers, with
each behaviour of the sender's cases, to the probe and the three lines of
dialogue_fuzz.cpp, as the pieces that fuzzer reads; OUT_DIR/report: each
report line the station's and the ledger's cases write by hand; and each input of
fuzz/findings/ (named by its fuzzer's word) among its fuzzer's seeds, so
that a fault once found is tried again. The build runs it, so the seeds
always follow the cases.
"""
import pathlib
import shlex
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "cli"))
import run_cases  # noqa: E402
sys.path.insert(0, str(ROOT / "tests"))
import module_sim  # noqa: E402

# The small long tables of tests/options_test.cpp, as (name, has_arg, flag,
# val). "tool" is the tool's own table, which the fuzzer has built in and
# this table count names.
TOOL_TABLE = 13  # as in scanner_fuzz.cpp
TABLES = {"none": None, "tool": [], "single": [("only", 1, 0, "o")],
          "prefix": [("ab", 0, 0, "1"), ("abc", 0, 0, "2"), ("a", 0, 0, "3")],
          "clash": [("alpha", 0, 0, "A"), ("beta", 1, 0, "B")]}
SCANNERS = {"plain": 0, "long": 1, "long_only": 2}


def text(value):
    """A length byte, then one byte a character (printable as itself)."""
    data = value.encode()
    assert all(0x20 <= b for b in data), value
    return [len(data)] + list(data)


def scanner_seed(line):
    head, words = line.split(" | ")[:2]
    fn, optstring, table = head.split(" ")
    bytes_ = [SCANNERS[fn], 0 if optstring == "null" else 1]
    bytes_ += text("" if optstring == "null" else optstring[1:-1])
    entries = TABLES[table]
    if table == "tool":
        bytes_.append(TOOL_TABLE + 1)
    else:
        bytes_.append(0 if entries is None else len(entries) + 1)
    for name, *_ in entries or []:
        bytes_ += text(name)
    for _, has_arg, flag, val in entries or []:
        bytes_ += [has_arg, flag, ord(val)]
    rest = words.split(" ")[1:]
    bytes_.append(len(rest))
    for word in rest:
        bytes_ += text(word)
    bytes_.append(1)  # opterr
    # The fuzzer takes every byte from the end of its input.
    return bytes(reversed(bytes_))


def fuzz_lines():
    """The three AT+VELDCONF lines of dialogue_fuzz.cpp's configuration."""
    uri, name = b"u" * 2100, b"1;2"
    blob = (bytes([0, 0]) + struct.pack("<HiH", 5683, 300, len(uri)) + uri
            + struct.pack("<H", len(name)) + name + bytes([5, 5, 2]))
    chunks = [blob[i:i + 1024] for i in range(0, len(blob), 1024)]
    return [b"AT+VELDCONF=%d,%s,%d,%d" % (len(c), c.hex().upper().encode(), k + 1,
                                           k + 1 == len(chunks))
            for k, c in enumerate(chunks)]


def dialogue_seed(behaviour):
    """The module's bytes as pieces: a length byte, then the bytes; an
    empty piece where it stays silent."""
    module = module_sim.Module(behaviour)
    pieces = []
    for _ in range(3):
        answer = module.answer(b"AT")
        pieces.append((b"AT\r" if module.echo else b"")
                      + (module.reply_bytes(answer) if answer else b""))
        if answer:
            break
        pieces.append(b"")
    pieces.append(b"")  # the port settles
    for line in fuzz_lines():
        answer = module.answer(line)
        data = ((line + b"\r\n") if module.echo else b"") + (
            module.reply_bytes(answer) if answer else b"")
        pieces += [data[i:i + 255] for i in range(0, len(data), 255)] or [b""]
        if not answer:
            break
    return b"".join(bytes([len(p)]) + p for p in pieces)


def write(folder, seeds):
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for number, seed in enumerate(seeds, 1):
        (folder / f"seed{number:03}").write_bytes(seed)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_seeds.py OUT_DIR")
    out = pathlib.Path(sys.argv[1])
    lines = [l.rstrip("\n") for l in open(ROOT / "tests" / "scan_cases.txt")
             if l.strip() and not l.startswith("#")]
    write(out / "scanner", [scanner_seed(l) for l in lines])

    defines, cases = run_cases.parse(ROOT / "tests" / "cli" / "cases.txt")
    defines.setdefault("prog", "veldconf")
    seeds = []
    for case in cases:
        seed = b"\0".join(run_cases.words(case, defines))
        if len(seed) <= 4096:
            seeds.append(seed)
    write(out / "cli", seeds)

    inputs, behaviours = [], []
    for name in ("decode_cases.txt", "send_cases.txt"):
        defines, cases = run_cases.parse(ROOT / "tests" / "cli" / name)
        for case in cases:
            stdin = run_cases.decode(run_cases.expand("".join(case["stdin"]), defines))
            if stdin:
                inputs.append(stdin)
            if "module" in case:
                behaviours.append(shlex.split(case["module"]))
    write(out / "reader", inputs)
    write(out / "dialogue", [dialogue_seed(b) for b in behaviours])
    reports = []
    for name in ("provision_cases.txt", "ledger_cases.txt"):
        defines, cases = run_cases.parse(ROOT / "tests" / "cli" / name)
        texts = list(defines.values()) + ["".join(case.get("report-before", [])) for case in cases]
        for text in texts:
            reports += [line for line in run_cases.decode(run_cases.expand(text, defines)).split(b"\n")
                        if line.startswith(b"{")]
    write(out / "report", reports)
    for finding in sorted((ROOT / "fuzz" / "findings").glob("*-*")):
        fuzzer = finding.name.split("-")[0]
        (out / fuzzer / finding.name).write_bytes(finding.read_bytes())


if __name__ == "__main__":
    main()
