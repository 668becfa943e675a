#!/usr/bin/env python3
"""A cellular module on a pseudo-terminal, for testing veldconf-send.

usage: module_sim.py --record FILE [--link PATH] [BEHAVIOUR...]

Prints the device path of the pseudo-terminal's other end (or makes PATH a
link to it), then answers AT commands ending in CR as a module would, until
SIGTERM; then it writes every byte it received to FILE, and to FILE.times
when (on the system's monotonic clock) the first and the last byte came.
Behaviours:
  noecho          do not echo what arrives (a module echoes by default)
  error-at=K      answer the K-th AT+VELDCONF line with ERROR
  cme-at=K        ... with +CME ERROR: 100
  silent-at=K     ... with nothing
  hangup-at=K     ... by closing the pseudo-terminal
  silent          answer nothing at all
  sleepy=N        leave the first N AT probes unanswered
  mute=S          still booting: for its first S seconds, say nothing to
                  anything (what arrives is dropped)
  late=S          still waking: take in the first command only after S
                  seconds, then echo and answer it (and what came since)
  urc             an unsolicited line, and one that holds OK, before each answer
  say=HEX         an unsolicited line of these bytes (in hex) before each answer
  stall-after=K   after answering the K-th AT+VELDCONF line (0: AT+CIMI), take
                  no more bytes: the port's output is suspended (tcflow), as
                  flow control held low or a stuck adapter would
  bytewise        every answer byte by byte, a millisecond apart
  delay=S         wait S seconds before each answer
  garbage         answer every command with OKAY instead of OK
  cgsn=TEXT       the line that answers AT+CGSN (default 490154203237518)
  cimi=TEXT       the line that answers AT+CIMI (default 310150123456789)
  cgsn-error      answer AT+CGSN with +CME ERROR: 10
  cimi-error      answer AT+CIMI with +CME ERROR: 10 (no SIM)
"""
import os
import pty
import select
import signal
import sys
import termios
import time


class Module:
    def __init__(self, words):
        self.opts = {}
        for word in words:
            key, _, value = word.partition("=")
            self.opts[key] = value
        self.echo = "noecho" not in self.opts
        self.lines_seen = 0
        self.probes = 0
        self.hung_up = False
        self.awake = "late" not in self.opts

    def stalls_after(self, command):
        """Whether the port takes no more bytes once command is answered."""
        if "stall-after" not in self.opts:
            return False
        k = int(self.opts["stall-after"])
        return command == b"AT+CIMI" if k == 0 else command.startswith(b"AT+VELDCONF=") and self.at("stall-after")

    def at(self, key):
        return key in self.opts and int(self.opts[key]) == self.lines_seen

    def answer(self, command):
        """The answer's lines to one command, or None for no answer."""
        if "silent" in self.opts:
            return None
        if command == b"AT":
            self.probes += 1
            if self.probes <= int(self.opts.get("sleepy", 0)):
                return None
            return [b"OK"]
        if command.startswith(b"AT+VELDCONF="):
            self.lines_seen += 1
            if self.at("silent-at"):
                return None
            if self.at("hangup-at"):
                self.hung_up = True
                return None
            if self.at("error-at"):
                return [b"ERROR"]
            if self.at("cme-at"):
                return [b"+CME ERROR: 100"]
            return [b"OK"]
        if command == b"AT+CGSN":
            if "cgsn-error" in self.opts:
                return [b"+CME ERROR: 10"]
            return [self.opts.get("cgsn", "490154203237518").encode(), b"OK"]
        if command == b"AT+CIMI":
            if "cimi-error" in self.opts:
                return [b"+CME ERROR: 10"]
            return [self.opts.get("cimi", "310150123456789").encode(), b"OK"]
        return [b"ERROR"]

    def reply_bytes(self, lines):
        if "garbage" in self.opts:
            lines = [b"OKAY" if l == b"OK" else l for l in lines]
        if "urc" in self.opts:
            lines = [b"+CEREG: 1", b"+CIEV: OK is not a result"] + lines
        if "say" in self.opts:
            lines = [bytes.fromhex(self.opts["say"])] + lines
        return b"".join(b"\r\n" + l + b"\r\n" for l in lines)


def send(fd, data, module):
    if "delay" in module.opts:
        time.sleep(float(module.opts["delay"]))
    if "bytewise" in module.opts:
        for i in range(len(data)):
            os.write(fd, data[i:i + 1])
            time.sleep(0.001)
    else:
        os.write(fd, data)


def main():
    args = sys.argv[1:]
    record = args.pop(args.index("--record") + 1)
    args.remove("--record")
    link = None
    if "--link" in args:
        link = args.pop(args.index("--link") + 1)
        args.remove("--link")
    module = Module(args)
    master, slave = pty.openpty()  # the slave stays open: no hang-up between runs
    path = os.ttyname(slave)
    if link:
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(path, link)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    print(path, flush=True)
    received = bytearray()
    times = []
    # SIGUSR1: what came before is forgotten (a case's earlier runs).
    signal.signal(signal.SIGUSR1, lambda *_: (received.clear(), times.clear()))
    started = time.monotonic()
    pending = b""
    while not stop:
        if module.hung_up:
            time.sleep(0.01)
            continue
        try:
            ready, _, _ = select.select([master], [], [], 0.1)
        except InterruptedError:
            continue
        if not ready:
            continue
        try:
            data = os.read(master, 65536)
        except OSError:
            break
        received += data
        times[1:] = [time.monotonic()] if times else [time.monotonic()] * 2
        if time.monotonic() - started < float(module.opts.get("mute", 0)):
            continue  # dropped unanswered
        if not module.awake:
            time.sleep(float(module.opts["late"]))
            module.awake = True
        if module.echo:
            os.write(master, data)
        pending += data
        while b"\r" in pending:
            command, pending = pending.split(b"\r", 1)
            command = command.lstrip(b"\n")
            lines = module.answer(command)
            if module.hung_up:
                os.close(master)
                os.close(slave)
                break
            if module.stalls_after(command):  # before the answer, which the next line follows
                termios.tcflow(slave, termios.TCOOFF)
            if lines is not None:
                send(master, module.reply_bytes(lines), module)
    with open(record, "wb") as f:
        f.write(received)
    with open(record + ".times", "w") as f:
        f.write(" ".join(map(str, times)))


if __name__ == "__main__":
    main()
