#!/usr/bin/env python3
"""Runs the examples of the README and the man page against a build.

usage: doc_examples.py TOOL_DIR DOCUMENT...

An example is a line '$ COMMAND' in a README code block (indented by four
spaces) or in a man page .EX/.EE block, followed by the output it shows, up
to the end of the block. COMMAND runs in bash with TOOL_DIR first on PATH;
its standard output and error, with carriage returns and trailing line ends
removed, must be the lines shown.
"""
import os
import re
import subprocess
import sys

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


def main():
    tool_dir, documents = os.path.abspath(sys.argv[1]), sys.argv[2:]
    env = dict(os.environ, PATH=tool_dir + os.pathsep + os.environ["PATH"])
    env.pop("POSIXLY_CORRECT", None)
    passed = failed = 0
    for path in documents:
        for command, shown in examples(path):
            done = subprocess.run(["bash", "-c", command + " 2>&1"], env=env,
                                  stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
            got = done.stdout.decode("utf-8", "replace").replace("\r", "").rstrip("\n")
            if got == "\n".join(shown).rstrip("\n"):
                passed += 1
            else:
                failed += 1
                print(f"FAIL {path}: $ {command}\n  got  {got!r}\n  want {shown!r}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
