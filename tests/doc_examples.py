#!/usr/bin/env python3
"""Runs the examples of the README and the man page against a build.

usage: doc_examples.py TOOL_DIR DOCUMENT...

An example is a line '$ COMMAND' in a README code block (indented by four
spaces) or in a man page .EX/.EE block, followed by the output it shows, up
to the end of the block. COMMAND runs in bash with TOOL_DIR first on PATH;
its standard output and error, with carriage returns and trailing line ends
removed, must be the lines shown. A document's examples run one after the
other in one scratch directory; the port /dev/ttyUSB0 in them is a module
simulator's pseudo-terminal (tests/module_sim.py).
"""
import os
import re
import subprocess
import sys
import tempfile

ROFF = [(r"\-", "-"), (r"\(aq", "'"), (r"\e", "\\")]


def blocks(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    if path.endswith(".1"):
        block = None
        for line in lines:
            if line == ".EX":
                block = []
            elif line == ".EE":
                yield block
                block = None
            elif block is not None:
                for roff, text in ROFF:
                    line = line.replace(roff, text)
                block.append(line)
    else:
        block = []
        for line in lines + [""]:
            if line.startswith("    "):
                block.append(line[4:])
            elif block:
                yield block
                block = []


def examples(path):
    for block in blocks(path):
        command = None
        for line in block:
            if line.startswith("$ "):
                if command is not None:
                    yield command, shown
                command, shown = line[2:], []
            elif command is not None:
                shown.append(line)
        if command is not None:
            yield command, shown


PORT = "/dev/ttyUSB0"
SIM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "module_sim.py")


def start_module(work):
    sim = subprocess.Popen([sys.executable, SIM, "--record", os.path.join(work, "received")],
                           stdout=subprocess.PIPE)
    return sim, sim.stdout.readline().decode().strip()


def main():
    tool_dir, documents = os.path.abspath(sys.argv[1]), sys.argv[2:]
    env = dict(os.environ, PATH=tool_dir + os.pathsep + os.environ["PATH"])
    env.pop("POSIXLY_CORRECT", None)
    passed = failed = 0
    module = None
    for path in documents:
        with tempfile.TemporaryDirectory() as work:
            for command, shown in examples(path):
                if PORT in command:
                    module = module or start_module(work)
                    command = command.replace(PORT, module[1])
                done = subprocess.run(["bash", "-c", command + " 2>&1"], env=env, cwd=work,
                                      stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
                got = done.stdout.decode("utf-8", "replace").replace("\r", "").rstrip("\n")
                if module:
                    got = got.replace(module[1], PORT)
                if got == "\n".join(shown).rstrip("\n"):
                    passed += 1
                else:
                    failed += 1
                    print(f"FAIL {path}: $ {command}\n  got  {got!r}\n  want {shown!r}")
            if module:
                module[0].terminate()
                module[0].wait()
                module = None
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
