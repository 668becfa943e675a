#!/usr/bin/env python3
"""Runs command-line cases, kept as data, against a build of veldconf.

usage: run_cases.py CASES [--prog NAME] [--windows] [--tools DIR]
                    [--device NAME --link PATH] [--ports NAME=PATH,...]
                    [--watch-ports NAME=PATH,...] [--share K/N] [--only REGEX]
                    [--long | --all]
                    -- COMMAND [WORD...]

COMMAND (with its words) is the tool to run; each case's arguments follow
it. When COMMAND is one word, the tool is started with argv[0] set to the
program name ("veldconf" unless --prog says otherwise), so that the usage
text is the same whatever the path of the build.

With --share K/N, only every Nth case from the Kth (from 1) runs, so that
the cases of one file can run in N processes at once. With --only, only
the cases whose name REGEX finds run. The cases marked long run only with
--long (they alone) or --all.

A case file holds blocks separated by blank lines; '#' lines are comments.
  case: NAME           starts a case
  args: WORDS          shell-quoted words given to the tool
  env: NAME=VALUE      set in the tool's environment (POSIXLY_CORRECT is
                       otherwise removed)
  stdout: TEXT         expected standard output, appended line by line
  stdout~: REGEX       or a regular expression the whole output must match
  stderr~: REGEX       the same for standard error
  stderr: TEXT         expected standard error, appended line by line
  stdin: TEXT          the tool's standard input, appended line by line
  stdout-to: PATH      send standard output to PATH instead of a pipe
  closed: STREAMS      stdout, stderr or both go to a pipe whose reading end
                       is closed, as after '| head -n 1' (what they carry is
                       then not compared)
  tmpfs: KIB           {small} is a tmpfs of that size (the case is skipped,
                       and says so, where none can be mounted)
  exfat: KIB [FREE]    {small} is an exFAT file system of that size on FUSE
                       (no hard links, no fallocate), filled up to about FREE
                       bytes free; skipped, saying why, where none can be
                       mounted
  slow-disk: MS        {small} is a folder seen through FUSE whose every sync
                       takes MS milliseconds (tests/slow_disk.py); skipped,
                       saying why, where it cannot be mounted
  within: SECONDS      the tool's run takes at most SECONDS
  holds: FOLDER NAMES  FOLDER holds these entries after the run, no more
  syscalls: yes        the tool runs under strace: each result line must be
                       written after its port's report object was written
                       and that file synced (skipped, saying why, without
                       strace)
  report-objects: PATH N  PATH holds N lines, each a whole JSON object
  file: NAME=TEXT      {files}/NAME holds TEXT (with its escapes)
  modem-manager: yes   the process table {proc} (VELDCONF_PROC; empty otherwise)
                       holds a process named ModemManager
  usb: yes             a sysfs tree in {sysfs} (VELDCONF_SYSFS) puts module K on
                       the USB interface 1-1.K:1.0
  junk: yes            the watched folder {watch} also holds a regular file,
                       a link to nothing and a link to /dev/null
  terminal: COLSxROWS  the tool runs in a tmux pane of that size, its standard
                       output and error that terminal (stdout and stderr are
                       then not compared); interrupt types Ctrl-C into it,
                       with HUP closes the terminal (the tmux server ends;
                       the screens are then not compared), with another
                       signal sends it; the tool must end within a second
  stop-output: SECONDS  Ctrl-S is typed into the pane then: the terminal
                       takes no more output
  objects-at-signal: N  the report holds N lines when the signal is sent
  no-escapes: yes      no escape byte reached the pane
  screen: REGEX        a screen of the pane (captured every 50 ms) in which
                       REGEX is found, after the screens before it in the
                       case; screen-gone: REGEX, one in which it is not
  screen-end~: REGEX   the pane's screen once the tool ended, trailing blanks
                       and blank lines left out
  status: N            expected exit status (default 0)
  long: yes            a case of some seconds: it runs with --long or --all
  not-on-windows: WHY  skipped with --windows, where it cannot hold
  stdin-veldconf: ARGS the standard input is what DIR/veldconf (--tools)
                       prints for ARGS; {stdin} stands for it
  module: BEHAVIOURS   start tests/module_sim.py with these words; {device}
                       is its port (or, with --device and --link, NAME,
                       the simulator linking PATH to its port). The port's
                       settings must be the same before and after the run.
                       Wine puts a port it opens in raw mode and has no
                       call to undo that, so with --windows the port starts
                       raw at 9600 baud: what is compared is what the
                       program itself sets and must restore.
  received: TEXT       the AT+VELDCONF lines the module must have received
                       (default: none)
  received-lines: N    or the first N lines of the standard input
  received-raw: TEXT   every byte the module must have received
  hold: HOW            another program holds the port meanwhile: flock,
                       lockfile (a lock file in the folder VELDCONF_LOCK_DIR
                       names, with this runner's PID) or stale-lockfile
                       (one naming a process that has ended); the tool must
                       leave no lock file behind
  interrupt: SECONDS [SIGNAL]  SIGINT (or SIGNAL: TERM, HUP) to the tool
                       after SECONDS, when the tool must hold the port's
                       lock file; it must end within a second of the signal
  log-decodes: yes     DIR/veldconf-decode reads the transcript {log} back
                       to what it makes of the standard input
  modules: B | B ...    several simulators at once, one for each '|'-separated
                       list of behaviours, {device1}, {device2}, ... ({devices}
                       all of them); each has an IMEI of its own unless it
                       sets cgsn=; the behaviour held-by-flock makes another
                       program hold that port. Every port's settings must
                       be restored. With --ports, the modules take those
                       names in turn, each simulator linking its PATH.
  appear: SECONDS      the modules' ports appear one by one, SECONDS apart,
                       as the links {watch}/port1, {watch}/port2, ...
                       ({port1}, {port2}, ...), for which {watched} is the
                       --watch option; with --watch-ports, module K's
                       port appears as the Kth PATH, named NAME
  replug: K SECONDS    port K goes SECONDS after the start, and comes back
                       0.6 s later
  repoint: K M SECONDS the link of port K is pointed, in one rename, at
                       module M's port SECONDS after the start (faster than
                       any look); module M's port appears no other way
  logs: NAMES          the files {logdir} must hold, no more
  at-once: N           at most N of the modules were in conversation at
                       any one time, and once N were
  results: TEXT        the tool's result lines, in any order, their fifth
                       field (the seconds) written as S
  report-before: TEXT  the report {report} holds TEXT before the run (line by
                       line; report-consistent reads what follows)
  runs-before: N       the same command runs N times first, each ending 0;
                       what is compared is the run after them (the modules
                       forget what those runs sent them)
  report-has: TEXT     the report {report} holds TEXT, byte for byte (each
                       such line)
  report-consistent: yes  the report {report} holds one object per result
                       line, agreeing with it; each module received the
                       lines of the command the report names for it (all of
                       them, the acknowledged ones and the refused one, or
                       none), and with {logdir} each transcript reads back
                       to what its module received
  ledger: yes | own    {ledger} is a new database of its own on the tests'
                       PostgreSQL server (VELDCONF_TEST_LEDGER names it,
                       tests/ledger_server.sh starts it), dropped after; with
                       own, on a server of the case's own, which the case may
                       stop and start
  step: PROGRAM ARGS   runs before the tool, in order: PROGRAM is tool (the
                       tool), ledger or station (DIR/veldconf-ledger or
                       DIR/veldconf-provision, --tools), sql (ARGS a statement
                       on {ledger}, its rows printed bare), wait (ARGS seconds)
                       or server (ARGS start or stop: the case's own); each
                       must end 0, unless the lines after it say otherwise:
    step-status: N     it must end N
    step-stdout~: REGEX  its standard output must match REGEX
    step-stderr~: REGEX  and its standard error
    step-stdout-lines: PATHS  its standard output holds the lines of these files
    step-kill: SECONDS   SIGKILL is sent to it after SECONDS
  then: PROGRAM ARGS   the same, after the tool's run (and the step- lines
                       after it apply to it)
  alongside: ARGS      DIR/veldconf-provision runs with ARGS beside the tool,
                       started with it; it must end 0
  stop-server: IMEI    the case's own server stops (immediately) once the
                       module IMEI's claim is made, while the tool runs
  stdout-lines: PATHS  standard output holds the lines of these files, each
                       once, in any order (the lines cut short aside)
  define: NAME         starts a text that cases use as {NAME}
  text: TEXT           appended to the text being defined
TEXT takes the escapes \\r \\n \\t \\\\ and \\xNN; {C*N} stands for the text C
repeated N times and {NAME} for a defined text, in args too, where they
are expanded before the line is split into words (so keep escapes inside
single quotes).
Nothing else in a value is special, and no line end is implied.
"""
import fcntl
import glob
import json
import os
import re
import shutil
import shlex
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time

ESCAPES = {"r": b"\r", "n": b"\n", "t": b"\t", "\\": b"\\"}


def decode(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x":
                if not re.fullmatch(r"[0-9A-Fa-f]{2}", text[i + 2:i + 4]):
                    raise ValueError(f"\\x needs two hex digits: {text[i:i + 4]!r}")
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
            elif key in ("stdout", "stderr", "stdin", "report-before"):
                block.setdefault(key, []).append(value)
            elif key in ("screen", "screen-gone"):
                block.setdefault("screens", []).append((key == "screen", value))
            elif key in ("stdout~", "stderr~", "stdout-to", "closed", "junk", "tmpfs", "exfat", "syscalls", "usb",
                         "stop-output", "objects-at-signal", "no-escapes", "slow-disk", "within", "long",
                         "modem-manager", "terminal", "screen-end~",
                         "report-objects", "not-on-windows",
                         "stdin-veldconf",
                         "module", "log-decodes", "received-lines", "hold", "interrupt",
                         "modules", "appear", "report-consistent", "at-once", "runs-before",
                         "replug", "repoint", "logs", "ledger", "stdout-lines", "alongside", "stop-server"):
                block[key] = value
            elif key in ("step", "then"):
                block.setdefault("steps", []).append({"when": key, "run": value})
            elif key.startswith("step-"):
                block["steps"][-1][key[5:]] = value
            elif key in ("received", "received-raw", "results", "report-has", "file", "holds"):
                block.setdefault(key, []).append(value)
            elif key in ("stdout~", "stdout-to", "not-on-windows"):
                block[key] = value
            elif key == "status":
                block["status"] = int(value)
            else:
                sys.exit(f"{path}:{number}: unknown key {key!r}")
            if block is None and key != "define":
                sys.exit(f"{path}:{number}: {key!r} before any case or define")
    return {k: "".join(v) for k, v in defines.items()}, cases


def words(case, defines):
    """The case's arguments: expanded, split as a shell would, decoded."""
    line = expand(" ".join(case["args"]), defines)
    return [decode(word) for word in shlex.split(line)]


SIM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "module_sim.py")
sys.path.insert(0, os.path.dirname(SIM))
import module_sim  # noqa: E402 (found beside this folder)
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ledger_server.sh")


class Simulator:
    """tests/module_sim.py run in a child forked from this process, which
    has Python started already: a case starts many, and the two cores are
    the tests' budget. Its standard output is a pipe, as a Popen's."""

    def __init__(self, argv):
        read_end, write_end = os.pipe()
        self.pid = os.fork()
        if self.pid == 0:
            os.dup2(write_end, 1)
            os.closerange(3, 1024)  # no other process's pipe stays open here
            sys.stdout = os.fdopen(1, "w")
            sys.argv = [SIM] + argv
            try:
                module_sim.main()
            finally:
                os._exit(0)
        os.close(write_end)
        self.stdout = os.fdopen(read_end, "rb")
        self.returncode = None

    def send_signal(self, number):
        if self.returncode is None:
            os.kill(self.pid, number)

    def wait(self, timeout=None):
        deadline = time.monotonic() + (timeout or 1e9)
        while self.returncode is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.returncode = os.waitstatus_to_exitcode(status)
            elif time.monotonic() > deadline:
                raise subprocess.TimeoutExpired(SIM, timeout)
            else:
                time.sleep(0.005)
        self.stdout.close()
        return self.returncode


class Module:
    """The module simulator of one case, on a pseudo-terminal of its own."""

    def __init__(self, behaviour, work, device, link, name="received"):
        self.record = os.path.join(work, name)
        extra = ["--link", link] if link else []
        self.proc = Simulator(["--record", self.record] + extra + shlex.split(behaviour))
        self.tty = self.proc.stdout.readline().decode().strip()
        self.device = device or self.tty
        self.hangs_up = "hangup-at" in behaviour

    def start_raw(self):
        subprocess.run(["stty", "-F", self.tty, "raw", "-echo", "-iexten", "ignbrk", "clocal",
                        "noflsh", "min", "0", "9600"], check=True)

    def settings(self):
        """The port's settings, as the tool must leave them."""
        try:
            fd = os.open(self.tty, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        except OSError as error:
            return repr(error)
        try:
            return repr(termios.tcgetattr(fd))
        except termios.error as error:
            return repr(error)
        finally:
            os.close(fd)

    def forget(self):
        """The simulator forgets what it received so far."""
        self.proc.send_signal(signal.SIGUSR1)
        time.sleep(0.2)

    def received(self):
        """Every byte the module got, and its AT+VELDCONF lines."""
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)
        with open(self.record, "rb") as f:
            data = f.read()
        with open(self.record + ".times") as f:
            self.times = [float(t) for t in f.read().split()]
        return data, b"".join(re.findall(rb"AT\+VELDCONF=[^\r\n]*\r\n", data))

    def lock_file(self, folder):
        """The port's lock file as the serial programs name it."""
        name = os.path.realpath(self.tty)
        name = name[len("/dev/"):] if name.startswith("/dev/") else name[1:]
        return os.path.join(folder, "LCK.." + name.replace("/", "_"))

    def hold(self, how, folder):
        """Another program's hold on the port: an open descriptor with
        flock, or a lock file naming a live or an ended process."""
        if how == "flock":
            fd = os.open(self.tty, os.O_RDWR | os.O_NOCTTY)
            fcntl.flock(fd, fcntl.LOCK_EX)
            return fd
        if how == "lockfile":
            pid = os.getpid()
        else:
            ended = subprocess.Popen(["true"])
            ended.wait()
            pid = ended.pid
        with open(self.lock_file(folder), "w") as f:
            f.write(f"{pid:10d}\n")
        return None


def tool(options, name):
    return os.path.join(options["tools"], name)


def start_modules(case, work, defines, options):
    """The simulators of a case with several modules, and the ports held."""
    modules, held = [], []
    ports = [p.split("=", 1) for p in options["ports"].split(",")] if options["ports"] else []
    for i, behaviour in enumerate(case["modules"].split("|"), 1):
        hold = "held-by-flock" in behaviour
        behaviour = behaviour.replace("held-by-flock", "")
        if "cgsn" not in behaviour:
            behaviour += f" cgsn=4901542032375{i + 10:02d}"
        device, link = ports[i - 1] if i <= len(ports) else (None, None)
        module = Module(behaviour, work, device, link, f"received{i}")
        if options["windows"]:
            module.start_raw()
        modules.append(module)
        defines[f"device{i}"] = module.device
        if hold:
            held.append(module.hold("flock", None))
    defines["devices"] = " ".join(defines[f"device{i}"] for i in range(1, len(modules) + 1)
                                  if f"device{i}" in defines)
    return modules, held


def make_sysfs(modules, root):
    """Module K's port on the USB interface 1-1.K:1.0, as sysfs shows it:
    ROOT/dev/char/MAJOR:MINOR a link into the device tree."""
    os.makedirs(os.path.join(root, "dev", "char"))
    for k, module in enumerate(modules, 1):
        rdev = os.stat(module.tty).st_rdev
        interface = f"1-1.{k}:1.0"
        target = f"../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.{k}/{interface}/ttyUSB{k}/tty/ttyUSB{k}"
        os.symlink(target, os.path.join(root, "dev", "char", f"{os.major(rdev)}:{os.minor(rdev)}"))


def watched_ports(defines, options):
    """Where each module's port appears for a watch, and its name: links
    in {watch}, or those --watch-ports gives; and the --watch option."""
    if options["watch_ports"]:
        ports = [p.split("=", 1) for p in options["watch_ports"].split(",")]
        defines["watched"] = " ".join(f"--watch={name}" for name, _ in ports)
    else:
        ports = [(os.path.join(defines["watch"], f"port{k}"),) * 2 for k in range(1, 10)]
        defines["watched"] = f"--watch={defines['watch']}/port*"
    for k, (name, _) in enumerate(ports, 1):
        defines[f"port{k}"] = name
    return [link for _, link in ports]


def appear(modules, links, seconds, replug, repoint):
    """Links each module's port as the links, one by one, seconds apart;
    then unplugs and plugs again the one replug names, and points the link
    repoint names at another module's port."""
    kept_back = int(repoint.split()[1]) - 1 if repoint else None
    def run():
        start = time.monotonic()
        for k, (module, link) in enumerate(zip(modules, links)):
            time.sleep(seconds)
            if k != kept_back:
                os.symlink(module.tty, link)
        if repoint:
            k, m, at = repoint.split()
            time.sleep(max(0, float(at) - (time.monotonic() - start)))
            os.symlink(modules[int(m) - 1].tty, links[int(k) - 1] + ".new")
            os.rename(links[int(k) - 1] + ".new", links[int(k) - 1])
        if replug:
            k, at = replug.split()
            time.sleep(max(0, float(at) - (time.monotonic() - start)))
            link = links[int(k) - 1]
            os.unlink(link)
            time.sleep(0.6)
            os.symlink(modules[int(k) - 1].tty, link)
    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


def most_at_once(spans):
    """The most of the (first, last) spans that overlap at one moment."""
    events = sorted([(a, 1) for a, _ in spans] + [(b, -1) for _, b in spans],
                    key=lambda e: (e[0], e[1]))
    busiest = now = 0
    for _, step in events:
        now += step
        busiest = max(busiest, now)
    return busiest


def result_lines(out):
    """The tool's result lines, the seconds masked, in a fixed order."""
    lines = []
    for line in out.decode("latin-1").splitlines():
        fields = line.split("\t")
        if len(fields) == 6:
            fields[4] = "S" if re.fullmatch(r"\d+\.\d", fields[4]) else fields[4]
        lines.append("\t".join(fields))
    return sorted(lines)


def report_text(obj, key):
    """A report string as bytes: UTF-8, or with KEY_escaped its \\xHH and
    \\\\ escapes undone."""
    text = obj[key]
    if not obj.get(key + "_escaped"):
        return text.encode()
    return re.sub(rb"\\(x[0-9A-F]{2}|\\)",
                  lambda m: bytes([int(m[1][1:], 16)]) if m[1] != b"\\" else b"\\",
                  text.encode("latin-1"))


def shell_words(command):
    """The words of a POSIX shell command line as bytes: bare, '...' and
    $'...' (with \\xHH, \\\\ and \\' escapes), the quoting the report's
    command uses."""
    words, word, at, started = [], b"", 0, False
    while at < len(command):
        c = command[at]
        if c == " ":
            if started:
                words.append(word)
            word, started, at = b"", False, at + 1
        elif command.startswith("$'", at):
            end = at + 2
            while command[end] != "'":
                if command[end] == "\\" and command[end + 1] == "x":
                    word += bytes([int(command[end + 2:end + 4], 16)])
                    end += 4
                elif command[end] == "\\":
                    word += command[end + 1].encode()
                    end += 2
                else:
                    word += command[end].encode()
                    end += 1
            started, at = True, end + 1
        elif c == "'":
            end = command.index("'", at + 1)
            word += command[at + 1:end].encode()
            started, at = True, end + 1
        elif c == "\\":
            word += command[at + 1].encode()
            started, at = True, at + 2
        else:
            word += c.encode()
            started, at = True, at + 1
    if started:
        words.append(word)
    return words


def check_escapes(obj):
    """Text that is valid UTF-8 is written as it is, other text escaped and
    flagged; the endpoint read back is the name in the command."""
    problems = []
    for key in obj:
        if key.endswith("_escaped") and (obj[key] is not True or key[:-8] not in obj):
            problems.append(f"{key}: {obj[key]!r}")
    if obj["endpoint"] is not None and obj["command"] is not None:
        words = shell_words(obj["command"])
        name = words[words.index(b"-n") + 1]
        if report_text(obj, "endpoint") != name:
            problems.append(f"endpoint {obj['endpoint']!r} is not the command's name {name!r}")
    return problems


def check_report(path, out, modules, logdir, options, before=0):
    """The report against the result lines, and what each module got; the
    first `before` lines were there before the run."""
    problems = []
    try:
        with open(path, "rb") as f:
            objects = [json.loads(line) for line in f.read().splitlines()[before:]]
    except (OSError, ValueError) as error:
        return [f"the report cannot be read: {error}"]
    keys = ["device", "imei", "imsi", "endpoint", "command", "lines", "acknowledged",
            "result", "reason", "started", "seconds"]
    lines = out.decode("latin-1").splitlines()
    if len(objects) != len(lines):
        problems.append(f"{len(objects)} report objects for {len(lines)} result lines")
    by_device = {m.device: m for m in modules}
    runs = {obj.get("run") for obj in objects}
    if len(runs) > 1:
        problems.append(f"one run, {len(runs)} run ids: {sorted(map(str, runs))}")
    ids = [obj.get("object") for obj in objects]
    if ids != [f"{obj.get('run')}/{n}" for n, obj in enumerate(objects, 1)]:
        problems.append(f"object ids {ids}, want the run's id and 1, 2, ...")
    for obj, line in zip(objects, lines):
        fields = line.split("\t")
        if [key for key in obj if key in keys] != keys:
            problems.append(f"report keys {list(obj)}")
            continue
        problems += check_escapes(obj)
        total = "-" if obj["lines"] is None else str(obj["lines"])
        seen = [obj["device"], obj["imei"] or "-", obj["result"], f"{obj['acknowledged']}/{total}",
                obj["reason"] or ""]
        if seen != fields[:4] + fields[5:]:
            problems.append(f"report {seen} disagrees with the line {fields}")
        if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", obj["started"]):
            problems.append(f"started {obj['started']!r}")
        module = by_device.get(obj["device"])
        if module is None:
            continue
        want = b""
        if obj["command"] is not None and obj["result"] != "skipped":
            made = subprocess.run([tool(options, "veldconf")] + shell_words(obj["command"])[1:],
                                  capture_output=True, check=True).stdout.splitlines(keepends=True)
            count = len(made) if obj["result"] == "configured" else obj["acknowledged"] + 1
            want = b"".join(made[:count])
        got = module.got
        if got != want:
            problems.append(f"{obj['device']} received {got[:120]!r}..., want {want[:120]!r}...")
        if logdir and obj["result"] == "configured":
            decoder = tool(options, "veldconf-decode")
            if obj.get("transcript") != obj["imei"] + ".log":
                problems.append(f"transcript {obj.get('transcript')!r} for {obj['imei']}")
            from_log = subprocess.run([decoder, os.path.join(logdir, obj["imei"] + ".log")],
                                      capture_output=True)
            from_module = subprocess.run([decoder], input=got, capture_output=True)
            if from_log.returncode or from_log.stdout != from_module.stdout:
                problems.append(f"{obj['imei']}.log reads back as {from_log.stdout[:100]!r}"
                                f" {from_log.stderr[:200]!r}")
    return problems


def tmpfs_mountable():
    """Whether this process may mount a tmpfs (root, and a system that lets it)."""
    with tempfile.TemporaryDirectory() as folder:
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4k", "tmpfs", folder],
                                 capture_output=True).returncode == 0
        if mounted:
            subprocess.run(["umount", folder], check=True)
        return mounted


SYSCALL = re.compile(r'^\d+\s+(write|fsync|fdatasync)\((\d+)(?:, "((?:[^"\\]|\\.)*)")?')


def check_sync_order(trace):
    """From strace's record of the run: each result line (a write on
    standard output) comes after the write of its port's report object and
    a sync of that file; the problems found."""
    problems, objects, synced = [], {}, set()
    with open(trace, errors="replace") as f:
        for line in f:
            call = SYSCALL.match(line)
            if not call:
                continue
            name, fd, text = call.group(1), int(call.group(2)), call.group(3) or ""
            device = re.search(r'\\"device\\": \\"([^\\]*)\\"', text)
            if name != "write":
                synced |= {d for d, at in objects.items() if at == fd}
            elif text.startswith('{\\"object\\"') and device:
                objects[device.group(1)] = fd
                synced.discard(device.group(1))
            elif fd == 1 and "\\t" in text:
                port = text.split("\\t")[0]
                if port not in objects:
                    problems.append(f"the line of {port} was written before its report object")
                elif port not in synced:
                    problems.append(f"the line of {port} was written before its report object was synced")
    return problems


EXFAT_TOOLS = ("mkfs.exfat", "mount.exfat-fuse", "losetup")


def exfat_missing():
    """Why no exFAT file system can be mounted here, or None."""
    missing = [t for t in EXFAT_TOOLS if shutil.which(t) is None]
    if missing:
        return f"{', '.join(missing)} missing: tools/deps.sh installs exfatprogs and exfat-fuse"
    if not os.path.exists("/dev/fuse") or os.geteuid() != 0:
        return "FUSE and loop devices need root and /dev/fuse"
    return None


class ExfatMount:
    """An exFAT image on a loop device, mounted with FUSE at folder, filled
    up to about free bytes free."""

    def __init__(self, work, folder, size_and_room):
        kib, _, free = size_and_room.partition(" ")
        self.folder, self.image = folder, os.path.join(work, "exfat.img")
        with open(self.image, "wb") as f:
            f.truncate(int(kib) * 1024)
        subprocess.run(["mkfs.exfat", self.image], check=True, capture_output=True)
        self.device = subprocess.run(["losetup", "-f", "--show", self.image], check=True,
                                     capture_output=True, text=True).stdout.strip()
        try:
            subprocess.run(["mount.exfat-fuse", self.device, folder], check=True, capture_output=True)
        except subprocess.CalledProcessError:
            subprocess.run(["losetup", "-d", self.device])
            raise
        if free:
            room = os.statvfs(folder)
            with open(os.path.join(folder, "filler"), "wb") as f:
                f.write(b"\0" * max(0, room.f_bavail * room.f_frsize - int(free)))

    def close(self):
        subprocess.run(["umount", self.folder], check=True)
        subprocess.run(["losetup", "-d", self.device], check=True)


SLOW_DISK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "slow_disk.py")


def slow_disk_missing():
    """Why no slow disk can be mounted here, or None."""
    if not os.path.exists("/dev/fuse") or os.geteuid() != 0:
        return "FUSE needs root and /dev/fuse"
    if subprocess.run(["/usr/bin/python3", "-c", "import fusepy"], capture_output=True).returncode != 0:
        return "the system's Python has no fusepy: tools/deps.sh installs python3-fusepy"
    return None


class SlowDisk:
    """A folder of work's seen at folder through FUSE, each sync slow."""

    def __init__(self, work, folder, ms):
        self.folder, beneath = folder, os.path.join(work, "beneath")
        os.mkdir(beneath)
        self.proc = subprocess.Popen(["/usr/bin/python3", SLOW_DISK, beneath, folder, ms])
        deadline = time.monotonic() + 10
        while not os.path.ismount(folder) and time.monotonic() < deadline:
            time.sleep(0.05)

    def close(self):
        subprocess.run(["umount", self.folder], check=True)
        self.proc.wait(timeout=10)


class Database:
    """A database of the case's own, {ledger}: on the tests' server, or on
    a server of the case's own (own), which it can stop and start."""
    made = 0

    def __init__(self, defines, own, work):
        self.state = os.path.join(work, "server") if own else None
        if own:
            subprocess.run(["bash", SERVER, "start", self.state], check=True)
            with open(os.path.join(self.state, "conninfo")) as f:
                self.server = f.read().strip()
            self.env = dict(os.environ, PGPASSFILE=os.path.join(self.state, "pgpass"))
        else:
            self.server = os.environ.get("VELDCONF_TEST_LEDGER")
            if not self.server:
                raise ValueError("no VELDCONF_TEST_LEDGER: run these cases under tests/ledger_server.sh")
            self.env = dict(os.environ)
        Database.made += 1
        self.name = f"case_{os.getpid()}_{Database.made}"
        self.sql(f"CREATE DATABASE {self.name}")
        self.conninfo = defines["ledger"] = f"{self.server} dbname={self.name}"

    def sql(self, statement):
        subprocess.run(["psql", self.server, "-qXc", statement], env=self.env, check=True, capture_output=True)

    def server_ctl(self, action):
        """Stops the case's own server at once, or starts it again."""
        with open(os.path.join(self.state, "where")) as f:
            cluster = f.read().strip()
        bin_dir = os.path.dirname(shutil.which("initdb") or sorted(
            glob.glob("/usr/lib/postgresql/*/bin/initdb"))[-1])
        argv = [os.path.join(bin_dir, "pg_ctl"), "-D", os.path.join(cluster, "data"), "-w", "-s"]
        argv += ["-m", "immediate", "stop"] if action == "stop" else ["-l", os.path.join(cluster, "server.log"), "start"]
        if os.getuid() == 0:
            argv = ["runuser", "-u", "postgres", "--"] + argv
        subprocess.run(argv, check=True, capture_output=True)

    def drop(self):
        if self.state:
            subprocess.run(["bash", SERVER, "stop", self.state], check=True)
        else:
            self.sql(f"DROP DATABASE IF EXISTS {self.name} WITH (FORCE)")


def stop_server_once_claimed(database, imei):
    """A thread that stops the case's own server once the module's claim
    is made (and not finished): the station is then talking to it."""
    def watch():
        query = f"SELECT count(*) FROM claims WHERE imei = '{imei}' AND finished IS NULL"
        for _ in range(600):
            done = subprocess.run(["psql", database.conninfo, "-tAXc", query], env=database.env,
                                  capture_output=True)
            if done.stdout.strip() == b"1":
                database.server_ctl("stop")
                return
            time.sleep(0.05)
    thread = threading.Thread(target=watch)
    thread.start()
    return thread


def run_step(step, command, defines, options, database):
    """One step of a case; its problems."""
    program, _, args = step["run"].partition(" ")
    if program == "wait":
        time.sleep(float(args))
        return []
    if program == "server":
        database.server_ctl(args)
        return []
    if program == "sql":
        argv = ["psql", database.conninfo, "-tAXc", expand(args, defines)]
    else:
        first = {"tool": command, "ledger": [tool(options, "veldconf-ledger")],
                 "station": [tool(options, "veldconf-provision")]}[program]
        argv = first + words({"args": [args]}, defines)
    env = dict(database.env) if database else None
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(timeout=float(step["kill"]) if "kill" in step else 60)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
    problems = []
    if "stdout-lines" in step:
        problems += check_stdout_lines(step["stdout-lines"], out, defines)
    want = -signal.SIGKILL if "kill" in step else int(step.get("status", 0))
    if proc.returncode != want:
        problems.append(f"{step['run']} ended {proc.returncode}, want {want}: {err[:300]!r}")
    for stream, text in (("stdout~", out), ("stderr~", err)):
        pattern = decode(expand(step.get(stream, ".*"), defines))
        if not re.fullmatch(pattern, text, re.DOTALL):
            problems.append(f"{step['run']}: {stream[:-1]} {text[:600]!r} does not match {pattern[:300]!r}")
    return problems


def run_steps(case, when, command, defines, options, database):
    """The case's steps before (step) or after (then) the tool's run."""
    problems = []
    for step in case.get("steps", []):
        if step["when"] == when:
            problems += run_step(step, command, defines, options, database)
    return problems


def whole_object(line):
    try:
        return isinstance(json.loads(line), dict)
    except ValueError:
        return False


def check_stdout_lines(paths, out, defines):
    """Standard output against the lines of the files, as sets."""
    want = []
    for path in expand(paths, defines).split():
        with open(path, "rb") as f:
            want += [line for line in f.read().splitlines() if whole_object(line)]
    got = out.splitlines()
    if sorted(got) != sorted(want) or len(set(got)) != len(got):
        return [f"stdout holds {len(got)} lines, the files {len(want)}: {sorted(set(got) ^ set(want))[:2]!r}"]
    return []


def check_objects(wanted, defines):
    """PATH N: the file holds N lines, each a whole JSON object."""
    path, count = expand(wanted, defines).rsplit(" ", 1)
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    if lines[-1] != b"":
        return [f"{path} does not end in a line end"]
    for line in lines[:-1]:
        try:
            json.loads(line)
        except ValueError as error:
            return [f"{path}: not a whole object: {line[:80]!r}... ({error})"]
    return [] if len(lines) - 1 == int(count) else [f"{path} holds {len(lines) - 1} objects, want {count}"]


def run_case(case, command, prog, defines, options):
    defines = dict(defines)
    stdin = decode(expand("".join(case["stdin"]), defines))
    if "stdin-veldconf" in case:
        made = subprocess.run([tool(options, "veldconf")] + words({"args": [case["stdin-veldconf"]]}, defines),
                              capture_output=True, check=True)
        stdin = made.stdout
    defines["stdin"] = stdin.decode("latin-1").replace("\\", "\\\\")
    with tempfile.TemporaryDirectory() as work:
        defines["log"] = os.path.join(work, "log")
        defines["report"] = os.path.join(work, "report.jsonl")
        defines["trace"] = os.path.join(work, "trace")
        defines["sysfs"] = os.path.join(work, "sys")
        for folder in ("locks", "logdir", "watch", "small", "proc", "files"):
            defines[folder] = os.path.join(work, folder)
            os.mkdir(defines[folder])
        if "tmpfs" in case:
            subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={case['tmpfs']}k", "tmpfs",
                            defines["small"]], check=True)
        mounted = (ExfatMount(work, defines["small"], case["exfat"]) if "exfat" in case else
                   SlowDisk(work, defines["small"], case["slow-disk"]) if "slow-disk" in case else None)
        database = Database(defines, case["ledger"] == "own", work) if "ledger" in case else None
        try:
            return run_in(case, command, prog, defines, options, stdin, work, database)
        finally:
            if database:
                database.drop()
            if "tmpfs" in case:
                subprocess.run(["umount", defines["small"]], check=True)
            if mounted:
                mounted.close()


def run_in(case, command, prog, defines, options, stdin, work, database):
    """The case, its folders made."""
    locks = defines["locks"]
    module = None
    held = None
    planted = []
    modules, modules_held = (start_modules(case, work, defines, options)
                             if "modules" in case else ([], []))
    befores = [m.settings() for m in modules]
    if case.get("report-before"):
        with open(defines["report"], "wb") as f:
            f.write(decode(expand("".join(case["report-before"]), defines)))
    for made in case.get("file", []):
        name, _, text = made.partition("=")
        with open(os.path.join(defines["files"], name), "wb") as f:
            f.write(decode(expand(text, defines)))
    if "usb" in case:
        make_sysfs(modules, defines["sysfs"])
    if "modem-manager" in case:
        os.mkdir(os.path.join(defines["proc"], "812"))
        with open(os.path.join(defines["proc"], "812", "comm"), "w") as f:
            f.write("ModemManager\n")
    if "junk" in case:
        with open(os.path.join(defines["watch"], "port-file"), "w") as f:
            f.write("not a port\n")
        os.symlink(os.path.join(work, "nothing"), os.path.join(defines["watch"], "port-dangling"))
        os.symlink("/dev/null", os.path.join(defines["watch"], "port-null"))
    links = watched_ports(defines, options)
    if "appear" in case:
        appear(modules, links, float(case["appear"]), case.get("replug"), case.get("repoint"))
    if "module" in case:
        module = Module(case["module"], work, options["device"], options["link"])
        defines["device"] = module.device
        if options["windows"]:
            module.start_raw()
        before = module.settings()
        if "hold" in case:
            held = module.hold(case["hold"], locks)
            planted = os.listdir(locks) if case["hold"] == "lockfile" else []
    try:
        lock = module.lock_file(locks) if module else None
        problems = run_before(case, command, prog, defines, modules)
        problems += run_steps(case, "step", command, defines, options, database)
        reported = report_lines(defines["report"])
        alongside = (subprocess.Popen([tool(options, "veldconf-provision")] +
                                      words({"args": [case["alongside"]]}, defines),
                                      env=database.env if database else None,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                     if "alongside" in case else None)
        timer = stop_server_once_claimed(database, case["stop-server"]) if "stop-server" in case else None
        more, out = run_command(case, command, prog, defines, stdin, locks, lock, database)
        problems += more
        if timer:
            timer.join()
        if alongside:
            side_out, side_err = alongside.communicate(timeout=60)
            defines["alongside_out"] = side_out.decode("latin-1")
            if alongside.returncode != 0:
                problems.append(f"the station alongside ended {alongside.returncode}: {side_err[:300]!r}")
        problems += run_steps(case, "then", command, defines, options, database)
        after = module.settings() if module else b""
        afters = [m.settings() for m in modules]
    finally:
        if held is not None:
            os.close(held)
        for fd in modules_held:
            os.close(fd)
        raw, got = module.received() if module else (b"", b"")
        for m in modules:
            m.raw, m.got = m.received()
        for link in links:  # those of --watch-ports outlive the case's folder
            if os.path.lexists(link):
                os.unlink(link)
    killed = any("kill" in step for step in case.get("steps", []))  # nothing restores after SIGKILL
    if afters != befores and not killed:
        problems.append("a port's settings were not restored")
    if "at-once" in case:
        busiest = most_at_once([m.times for m in modules if m.times])
        if busiest != int(case["at-once"]):
            problems.append(f"{busiest} modules were in conversation at once")
    if "results" in case:
        want = sorted(decode(expand("".join(case["results"]), defines)).decode("latin-1").splitlines())
        if result_lines(out) != want:
            problems.append(f"result lines\n  got  {result_lines(out)}\n  want {want}")
    if "syscalls" in case:
        problems += check_sync_order(defines["trace"])
    if "stdout-lines" in case:
        problems += check_stdout_lines(case["stdout-lines"], out, defines)
    for holds in case.get("holds", []):
        folder, *names = expand(holds, defines).split()
        if sorted(os.listdir(folder)) != sorted(names):
            problems.append(f"{folder} holds {sorted(os.listdir(folder))}, want {sorted(names)}")
    if "logs" in case:
        want = sorted(expand(case["logs"], defines).split())
        if sorted(os.listdir(defines["logdir"])) != want:
            problems.append(f"transcripts {sorted(os.listdir(defines['logdir']))}, want {want}")
    if "report-objects" in case:
        problems += check_objects(case["report-objects"], defines)
    for text in case.get("report-has", []):
        want = decode(expand(text, defines))
        with open(defines["report"], "rb") as f:
            if want not in f.read():
                problems.append(f"the report holds no {want!r}")
    if "report-consistent" in case:
        problems += check_report(defines["report"], out, modules,
                                 defines["logdir"] if "{logdir}" in " ".join(case["args"]) else None,
                                 options, reported)
    if sorted(os.listdir(locks)) != planted:
        problems.append(f"lock files left behind: {sorted(os.listdir(locks))}")
    if module:
        want = decode(expand("".join(case.get("received", [])), defines))
        if "received-lines" in case:
            want = b"".join(stdin.splitlines(keepends=True)[:int(case["received-lines"])])
        if got != want:
            problems.append(f"the module received\n  got  {got[:300]!r}\n  want {want[:300]!r}")
        want_raw = decode(expand("".join(case.get("received-raw", [""])), defines))
        if "received-raw" in case and raw != want_raw:
            problems.append(f"the module received the bytes {raw[:300]!r}, want {want_raw[:300]!r}")
        if not module.hangs_up and after != before:
            problems.append("the port's settings were not restored")
    if "log-decodes" in case:
        decoder = tool(options, "veldconf-decode")
        from_log = subprocess.run([decoder, defines["log"]], capture_output=True)
        from_input = subprocess.run([decoder], input=stdin, capture_output=True)
        if from_log.returncode or from_log.stdout != from_input.stdout:
            problems.append(f"the transcript reads back as {from_log.stdout[:200]!r} "
                            f"{from_log.stderr[:200]!r}, the input as {from_input.stdout[:200]!r}")
    return problems


def report_lines(path):
    """The lines the report holds now."""
    try:
        with open(path, "rb") as f:
            return f.read().count(b"\n")
    except FileNotFoundError:
        return 0


def run_before(case, command, prog, defines, modules):
    """The runs before the one compared; their problems."""
    problems = []
    for _ in range(int(case.get("runs-before", 0))):
        args = words(case, defines)
        done = subprocess.run([command[0]] + args if len(command) > 1 else [prog.encode()] + args,
                              executable=command[0] if len(command) == 1 else None,
                              capture_output=True, timeout=60)
        if done.returncode != 0:
            problems.append(f"a run before ended {done.returncode}: {done.stderr[:300]!r}")
    if "runs-before" in case:
        for m in modules:
            m.forget()
    return problems


def run_command(case, command, prog, defines, stdin, locks, lock, database=None):
    args = words(case, defines)
    env = {k: v for k, v in (database.env if database else os.environ).items() if k != "POSIXLY_CORRECT"}
    env["VELDCONF_LOCK_DIR"] = locks
    env["VELDCONF_SYSFS"] = defines["sysfs"]
    env["VELDCONF_PROC"] = defines["proc"]
    env.update({name: expand(value, defines) for name, value in case["env"].items()})
    if len(command) == 1:
        argv, executable = [prog.encode()] + args, command[0]
    else:
        argv, executable = [c.encode() for c in command] + args, None
    if "syscalls" in case:
        # The leak checker cannot run under ptrace: a sanitized build's
        # leaks are checked by every other case.
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        argv = [b"strace", b"-f", b"-qq", b"-o", defines["trace"].encode(), b"-s", b"200",
                b"-e", b"trace=write,fsync,fdatasync", b"--", (executable or argv[0]).encode()
                if isinstance(executable or argv[0], str) else (executable or argv[0])] + argv[1:]
        executable = None
    sink = open(case["stdout-to"], "wb") if "stdout-to" in case else None
    err_sink = None
    closed = case.get("closed", "")
    if closed in ("stdout", "both"):
        read_end, sink = os.pipe()
        os.close(read_end)
    if closed in ("stderr", "both"):
        read_end, err_sink = os.pipe()
        os.close(read_end)
    problems = []
    if "terminal" in case:
        return run_in_terminal(case, argv, executable, env, defines, problems), b""
    try:
        began = time.monotonic()
        done = run_tool(argv, executable, env, stdin, sink, err_sink, interruption(case), lock, problems)
        took = time.monotonic() - began
        if "within" in case and took > float(case["within"]):
            problems.append(f"the run took {took:.1f} s, more than {case['within']} s")
    finally:
        for end in (sink, err_sink):
            if isinstance(end, int):
                os.close(end)
            elif end:
                end.close()
    out = done.stdout or b""
    if "stdout~" in case:
        pattern = decode(expand(case["stdout~"], defines))
        if not re.fullmatch(pattern, out, re.DOTALL):
            problems.append(f"stdout {out[:300]!r} does not match {pattern[:300]!r}")
    elif sink is None and "results" not in case and "stdout-lines" not in case:
        want = decode(expand("".join(case["stdout"]), defines))
        if out != want:
            problems.append(f"stdout\n  got  {out[:600]!r}\n  want {want[:600]!r}")
    if err_sink is not None:
        pass
    elif "stderr~" in case:
        pattern = decode(expand(case["stderr~"], defines))
        if not re.fullmatch(pattern, done.stderr, re.DOTALL):
            problems.append(f"stderr {done.stderr[:3000]!r} does not match {pattern[:300]!r}")
    else:
        want_err = decode(expand("".join(case["stderr"]), defines))
        if done.stderr != want_err:
            problems.append(f"stderr\n  got  {done.stderr!r}\n  want {want_err!r}")
    if done.returncode != case["status"]:
        problems.append(f"status {done.returncode}, want {case['status']}")
    return problems, out


def interruption(case):
    """The case's interrupt: after how many seconds, and which signal."""
    if "interrupt" not in case:
        return None, None
    words = case["interrupt"].split()
    return float(words[0]), getattr(signal, "SIG" + (words[1] if len(words) > 1 else "INT"))


def run_tool(argv, executable, env, stdin, sink, err_sink, interrupt, lock, problems):
    """Runs the tool to its end; with interrupt (seconds and a signal), the
    signal after that many seconds, when the port's lock file must name the
    tool."""
    proc = subprocess.Popen(argv, executable=executable, env=env, stdin=subprocess.PIPE,
                            stdout=sink or subprocess.PIPE, stderr=err_sink or subprocess.PIPE)
    seconds, signal_number = interrupt
    if seconds is None:
        out, err = proc.communicate(stdin, timeout=60)
    else:
        try:
            out, err = proc.communicate(stdin, timeout=seconds)
            problems.append("the tool ended before the interrupt")
        except subprocess.TimeoutExpired:
            try:
                with open(lock) as f:
                    holder = f.read()
            except (OSError, TypeError) as error:
                holder = str(error)
            if lock is not None and holder != f"{proc.pid:10d}\n":
                problems.append(f"the port's lock file holds {holder!r} while the tool runs")
            proc.send_signal(signal_number)
            sent = time.monotonic()
            out, err = proc.communicate(timeout=60)
            if time.monotonic() - sent > 1:
                problems.append(f"the tool took {time.monotonic() - sent:.1f} s to end after the signal")
    return subprocess.CompletedProcess(argv, proc.returncode, out, err)


def screen_text(socket):
    """The pane's screen: its lines without trailing blanks, and no blank
    lines at its end."""
    shown = subprocess.run(["tmux", "-L", socket, "capture-pane", "-p"], capture_output=True).stdout
    lines = [line.rstrip() for line in shown.decode("utf-8", "replace").split("\n")]
    return "\n".join(lines).rstrip("\n") + "\n"


def run_in_terminal(case, argv, executable, env, defines, problems):
    """Runs the tool in a tmux pane, matching its screens as they come to
    the case's; the problems found."""
    columns, rows = case["terminal"].split("x")
    socket = f"veldconf-cases-{os.getpid()}-{case['line']}"
    status_file = os.path.join(defines["files"], "terminal-status")
    program = executable or argv[0]
    # The shell stays after the tool, so that its last screen can be read,
    # and outlives Ctrl-C (a trapped signal is the default again in the
    # tool). When the terminal hangs up, the shell, its session's leader,
    # passes SIGHUP on to the tool as a login shell does to its jobs; there
    # is then no screen to stay for. The tool keeps the terminal as its
    # standard input.
    # It starts the tool once the runner has begun to record the pane's
    # bytes, and leaves the tool's process id for signals.
    hung_up, go, raw = status_file + ".hung-up", status_file + ".go", status_file + ".raw"
    script = ('while [ ! -e "$0.go" ]; do sleep 0.02; done; '
              'trap : INT; trap \'kill -HUP $tool\' HUP; exec 3<&0; "$@" <&3 3<&- & tool=$!; echo $tool >"$0.pid"; '
              'while :; do wait $tool; status=$?; kill -0 $tool 2>/dev/null || break; done; '
              'echo $status >"$0"; [ -e "$0.hung-up" ] || exec sleep 600')
    # The pane's own terminal type, as tmux sets it, unless the case names
    # one (TERM= for none).
    env = dict(env, TERM=case["env"].get("TERM", "screen"))
    command = ["sh", "-c", script, status_file, "env", "-i"] + [f"{k}={v}" for k, v in env.items()
                                                                 if k != "TERM" or v]
    subprocess.run(["tmux", "-L", socket, "-f", "/dev/null", "new-session", "-d", "-x", columns, "-y", rows]
                   + command + [program] + argv[1:], check=True)
    subprocess.run(["tmux", "-L", socket, "pipe-pane", "-o", f"cat >>'{raw}'"], check=True)
    open(go, "w").close()
    wanted = [(found, re.compile(expand(regex, defines))) for found, regex in case.get("screens", [])]
    start = time.monotonic()
    interrupt, signal_number = interruption(case)
    stop_output = float(case["stop-output"]) if "stop-output" in case else None
    screen, signalled = "", None
    try:
        while not os.path.exists(status_file) and time.monotonic() - start < 60:
            if stop_output is not None and time.monotonic() - start >= stop_output:
                subprocess.run(["tmux", "-L", socket, "send-keys", "C-s"], check=True)
                stop_output = None
            if interrupt is not None and time.monotonic() - start >= interrupt:
                if "objects-at-signal" in case and report_lines(defines["report"]) != int(case["objects-at-signal"]):
                    problems.append(f"{report_lines(defines['report'])} report objects when the signal was sent")
                if signal_number == signal.SIGHUP:
                    open(hung_up, "w").close()
                    subprocess.run(["tmux", "-L", socket, "kill-server"], check=True)
                    wanted = []
                elif signal_number == signal.SIGINT:
                    subprocess.run(["tmux", "-L", socket, "send-keys", "C-c"], check=True)
                else:
                    with open(status_file + ".pid") as f:
                        os.kill(int(f.read()), signal_number)
                interrupt, signalled = None, time.monotonic()
            if os.path.exists(hung_up):
                time.sleep(0.05)
                continue
            screen = screen_text(socket)
            while wanted and (wanted[0][1].search(screen) is not None) == wanted[0][0]:
                wanted.pop(0)
            time.sleep(0.05)
        ended = time.monotonic()
        time.sleep(0.2)  # what the tool wrote last reaches the screen
        if not os.path.exists(hung_up):
            screen = screen_text(socket)
    finally:
        subprocess.run(["tmux", "-L", socket, "kill-server"], capture_output=True)
    if signalled is not None and ended - signalled > 1.05:  # the runner looks every 50 ms
        problems.append(f"the tool took {ended - signalled:.1f} s to end after the signal")
    if "no-escapes" in case:
        with open(raw, "rb") as f:
            shown = f.read()
        if b"\x1b" in shown:
            problems.append(f"escape bytes reached the terminal: {shown[:200]!r}")
    for found, regex in wanted[:1]:
        problems.append(f"no screen {'with' if found else 'without'} {regex.pattern!r}")
    if not os.path.exists(status_file):
        return problems + [f"the tool did not end; its screen:\n{screen}"]
    with open(status_file) as f:
        status = int(f.read())
    if status != case["status"]:
        problems.append(f"status {status}, want {case['status']}")
    pattern = expand(case.get("screen-end~", ".*"), defines)
    if not re.fullmatch(pattern, screen, re.DOTALL):
        problems.append(f"the last screen\n{screen}does not match {pattern!r}")
    return problems


def take_value(options, flag, default):
    if flag not in options:
        return default
    at = options.index(flag)
    if at + 1 >= len(options):
        sys.exit(f"{flag} needs a value\n{__doc__}")
    value = options.pop(at + 1)
    options.remove(flag)
    return value


def main():
    argv = sys.argv[1:]
    if "--" not in argv or argv.index("--") == len(argv) - 1:
        sys.exit(__doc__)
    split = argv.index("--")
    options, command = argv[:split], argv[split + 1:]
    prog = take_value(options, "--prog", "veldconf")
    settings = {name: take_value(options, "--" + name, None)
                for name in ("tools", "device", "link", "ports", "watch-ports", "share", "only")}
    settings["watch_ports"] = settings.pop("watch-ports")
    part, parts = map(int, (settings["share"] or "1/1").split("/"))
    flags = {flag: flag in options for flag in ("--windows", "--long", "--all")}
    options[:] = [o for o in options if o not in flags]
    windows = settings["windows"] = flags["--windows"]
    passed = failed = skipped = 0
    for path in options:
        defines, cases = parse(path)
        defines.setdefault("prog", prog.replace("\\", "\\\\"))  # a literal text
        for case in cases[part - 1::parts]:
            if settings["only"] and not re.search(settings["only"], case["name"]):
                continue
            if not flags["--all"] and ("long" in case) != flags["--long"]:
                continue
            if windows and "not-on-windows" in case:
                skipped += 1
                continue
            if "tmpfs" in case and not tmpfs_mountable():
                print(f"SKIPPED: {path}:{case['line']}: {case['name']} (no tmpfs can be mounted here)")
                skipped += 1
                continue
            if "syscalls" in case and shutil.which("strace") is None:
                print(f"SKIPPED: {path}:{case['line']}: {case['name']} (strace missing: tools/deps.sh installs it)")
                skipped += 1
                continue
            if "slow-disk" in case and slow_disk_missing():
                print(f"SKIPPED: {path}:{case['line']}: {case['name']} ({slow_disk_missing()})")
                skipped += 1
                continue
            if "exfat" in case and exfat_missing():
                print(f"SKIPPED: {path}:{case['line']}: {case['name']} ({exfat_missing()})")
                skipped += 1
                continue
            began = time.monotonic()
            try:
                problems = run_case(case, command, prog, defines, settings)
            except (ValueError, KeyError) as error:
                problems = [f"malformed case: {error}"]
            if os.environ.get("VELDCONF_CASE_TIMES"):
                print(f"{time.monotonic() - began:6.2f} s {path}:{case['line']}: {case['name']}")
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
