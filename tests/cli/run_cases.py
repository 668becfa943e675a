#!/usr/bin/env python3
"""Runs command-line cases, kept as data, against a build of veldconf.

usage: run_cases.py CASES [--prog NAME] [--windows] -- COMMAND [WORD...]

COMMAND (with its words) is the tool to run; each case's arguments follow
it. When COMMAND is one word, the tool is started with argv[0] set to the
program name ("veldconf" unless --prog says otherwise), so that the usage
text is the same whatever the path of the build.

A case file holds blocks separated by blank lines; '#' lines are comments.
  case: NAME           starts a case
  args: WORDS          shell-quoted words given to the tool
  env: NAME=VALUE      set in the tool's environment (POSIXLY_CORRECT is
                       otherwise removed)
  stdout: TEXT         expected standard output, appended line by line
  stdout~: REGEX       or a regular expression the whole output must match
  stderr: TEXT         expected standard error, appended line by line
  stdin: TEXT          the tool's standard input, appended line by line
  stdout-to: PATH      send standard output to PATH instead of a pipe
  status: N            expected exit status (default 0)
  not-on-windows: WHY  skipped with --windows, where it cannot hold
  define: NAME         starts a text that cases use as {NAME}
  text: TEXT           appended to the text being defined
TEXT takes the escapes \\r \\n \\t \\\\ and \\xNN; {C*N} stands for the text C
repeated N times and {NAME} for a defined text, in args too, where they
are expanded before the line is split into words (so keep escapes inside
single quotes).
Nothing else in a value is special, and no line end is implied.
"""
import os
import re
import shlex
import subprocess
import sys

ESCAPES = {"r": b"\r", "n": b"\n", "t": b"\t", "\\": b"\\"}


def decode(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x":
                out += bytes([int(text[i + 2:i + 4], 16)])
                i += 4
                continue
            if nxt in ESCAPES:
                out += ESCAPES[nxt]
                i += 2
                continue
        out += c.encode("utf-8", "surrogateescape")
        i += 1
    return bytes(out)


def expand(text, defines):
    text = re.sub(r"\{([^{}*]+)\*(\d+)\}",
                  lambda m: m.group(1) * int(m.group(2)), text)
    return re.sub(r"\{(\w+)\}",
                  lambda m: expand(defines[m.group(1)], defines)
                  if m.group(1) in defines else m.group(0), text)


def parse(path):
    defines, cases = {}, []
    block = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            key, sep, value = line.partition(": ")
            if not sep and line.endswith(":"):
                key, value = line[:-1], ""
            elif not sep:
                sys.exit(f"{path}:{number}: expected 'key: value'")
            if key == "define":
                block = defines.setdefault(value, [])
            elif key == "text":
                block.append(value)
            elif key == "case":
                block = {"name": value, "args": [], "env": {}, "stdout": [],
                         "stderr": [], "stdin": [], "status": 0, "line": number}
                cases.append(block)
            elif key == "args":
                block["args"].append(value)
            elif key == "env":
                name, _, val = value.partition("=")
                block["env"][name] = val
            elif key in ("stdout", "stderr", "stdin"):
                block[key].append(value)
            elif key in ("stdout~", "stdout-to", "not-on-windows"):
                block[key] = value
            elif key == "status":
                block["status"] = int(value)
            else:
                sys.exit(f"{path}:{number}: unknown key {key!r}")
    return {k: "".join(v) for k, v in defines.items()}, cases


def words(case, defines):
    """The case's arguments: expanded, split as a shell would, decoded."""
    line = expand(" ".join(case["args"]), defines)
    return [decode(word) for word in shlex.split(line)]


def run_case(case, command, prog, defines):
    args = words(case, defines)
    env = {k: v for k, v in os.environ.items() if k != "POSIXLY_CORRECT"}
    env.update(case["env"])
    if len(command) == 1:
        argv, executable = [prog.encode()] + args, command[0]
    else:
        argv, executable = [c.encode() for c in command] + args, None
    sink = open(case["stdout-to"], "wb") if "stdout-to" in case else None
    try:
        done = subprocess.run(argv, executable=executable, env=env,
                              input=decode(expand("".join(case["stdin"]), defines)),
                              stdout=sink or subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=30)
    finally:
        if sink:
            sink.close()
    problems = []
    out = done.stdout or b""
    if "stdout~" in case:
        pattern = decode(expand(case["stdout~"], defines))
        if not re.fullmatch(pattern, out, re.DOTALL):
            problems.append(f"stdout {out[:300]!r} does not match {pattern[:300]!r}")
    elif sink is None:
        want = decode(expand("".join(case["stdout"]), defines))
        if out != want:
            problems.append(f"stdout\n  got  {out[:600]!r}\n  want {want[:600]!r}")
    want_err = decode(expand("".join(case["stderr"]), defines))
    if done.stderr != want_err:
        problems.append(f"stderr\n  got  {done.stderr!r}\n  want {want_err!r}")
    if done.returncode != case["status"]:
        problems.append(f"status {done.returncode}, want {case['status']}")
    return problems


def main():
    argv = sys.argv[1:]
    if "--" not in argv or argv.index("--") == len(argv) - 1:
        sys.exit(__doc__)
    split = argv.index("--")
    options, command = argv[:split], argv[split + 1:]
    prog = "veldconf"
    if "--prog" in options:
        prog = options.pop(options.index("--prog") + 1)
        options.remove("--prog")
    windows = "--windows" in options
    if windows:
        options.remove("--windows")
    passed = failed = skipped = 0
    for path in options:
        defines, cases = parse(path)
        defines.setdefault("prog", prog.replace("\\", "\\\\"))  # a literal text
        for case in cases:
            if windows and "not-on-windows" in case:
                skipped += 1
                continue
            problems = run_case(case, command, prog, defines)
            if problems:
                failed += 1
                print(f"FAIL {path}:{case['line']}: {case['name']}")
                for p in problems:
                    print("  " + p)
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
