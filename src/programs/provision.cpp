// veldconf-provision: configures every module it is given, or that is
// plugged in while it watches, each under the endpoint name made from the
// module's own IMEI and IMSI, several at once, and records what each took.
// The configuration is veldconf's, built in the process from the veldconf
// options after the --; each module's conversation is the sender's. This
// file is its command line; the station does the rest.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ledger_connection.hpp"
#include "lot_text.hpp"
#include "names.hpp"
#include "options.hpp"
#include "port_settings.hpp"
#include "program.hpp"
#include "settings.hpp"
#include "plan.hpp"
#include "station.hpp"
#include "sync.hpp"
#include "transcript_file.hpp"
#include "terminal.hpp"
#include "watch.hpp"

namespace {

const char program[] = "veldconf-provision";
// The usage text, around the port options' lines.
const char usage_head[] =
    "Usage: veldconf-provision [OPTIONS] DEVICE... -- VELDCONF-OPTIONS\n"
    "       veldconf-provision --watch[=PATTERN] [OPTIONS] -- VELDCONF-OPTIONS\n"
    "Configures the module on each DEVICE (or, with --watch, each serial port\n"
    "that appears, until Ctrl-C) with the configuration veldconf makes of\n"
    "VELDCONF-OPTIONS, under the endpoint name made from the module's own\n"
    "IMEI and IMSI; VELDCONF-OPTIONS hold no -n. One line per port on standard\n"
    "output: DEVICE, IMEI, RESULT, ACKNOWLEDGED/TOTAL, SECONDS, REASON.\n"
    "Options:\n"
    "  --name FORMAT      the endpoint name: {imei}, {imsi}, {{ and }} for braces\n"
    "                     (default {imei};{imsi})\n"
    "  --jobs N           at most N ports at once (default all, at most 32)\n"
    "  --report FILE      append one JSON object per port (JSON Lines)\n"
    "  --log-dir DIR      write each module's transcript as DIR/IMEI.log\n"
    "  --station NAME     the station named in the report (default the host name)\n"
    "  --manifest FILE    per-module values by IMEI (CSV: imei, then veldconf's long\n"
    "                     option names and name); only the modules it lists\n"
    "  --resume           with --report: modules the report says were configured\n"
    "                     as this run would configure them are skipped\n"
    "  --slots FILE       provision only the ports FILE lists (lines: USB-PATH LABEL\n"
    "                     or DEVICE LABEL), each under its slot's label\n"
    "  --operator NAME    the operator named in the report\n"
    "  --lot LOT          the lot named in each report object\n"
    "  --ledger CONNINFO  claim each module in the lot in the plant's ledger before\n"
    "                     configuring it, and commit its result there (with --lot\n"
    "                     and --report; an empty CONNINFO: $VELDCONF_LEDGER, else\n"
    "                     libpq's PG* variables; not in the Windows and 32-bit\n"
    "                     builds, whose reports veldconf-ledger sync takes)\n"
    "  --watch[=PATTERN]  provision the serial ports that appear (PATTERN, a\n"
    "                     glob, may be repeated; default /dev/ttyUSB* and\n"
    "                     /dev/ttyACM*; on Windows COM names, such as COM12\n"
    "                     or COM1*, default all)\n";
const char usage_tail[] =
    "  --probe-timeout SECONDS  how long each try of the probe may take (default 1)\n"
    "  --boot-wait SECONDS      how long a port's module may take to answer the\n"
    "                     probe, asked again every 2 s (default 30)\n"
    "  --check            check everything as a run would, say what it would do,\n"
    "                     and open no port\n"
    "  --quiet            print only the result lines and errors\n"
    "  --verbose          show what each module says besides its answers\n"
    "  --help             print this text\n"
    "Exit status: 0 no module failed, 1 a module failed or was interrupted,\n"
    "2 a usage or settings error, 3 a record (a result line, a report object,\n"
    "a transcript) could not be written, 4 a claimed module's result is in the\n"
    "report and not yet in the ledger; 3 goes before 4, 4 before 1.\n";

constexpr std::size_t max_devices = 256;
constexpr std::size_t max_patterns = 16;

// The values of this program's long options that have no letter.
enum { name_option = 256, jobs_option, report_option, log_dir_option, watch_option, station_option,
       operator_option, slots_option, manifest_option, resume_option, check_option, probe_timeout_option,
       boot_wait_option, lot_option, ledger_option };

struct command_line {
    veld::station_options station;
    const char *report;  // or null
    const char *ledger;  // --ledger's connection string, or null
    bool check;          // say what a run would do, and open no port
    bool helped;         // --help: the usage text is all
};

// veldconf's options are refused at the first fault the scan reports.
void report_veldconf_fault(void *context, int result, int argc, char *argv[]) {
    *static_cast<bool *>(context) = true;
    if (result == 'h') {
        std::fprintf(stderr, "%s: veldconf's options: -h is no setting\n", program);
    } else {
        veld::report_bad_option("veldconf-provision: veldconf's options", result, argc, argv);
    }
}

// The veldconf options, checked with veldconf's own code before any port
// is opened; false when they are refused (said).
bool read_veldconf_options(int argc, char *argv[], tool_settings &tool) {
    veld::optind = 0;  // a second scan in this process
    veld::opterr = 0;
    bool faulty = false;
    veld::reason refusal;
    if (!read_tool_settings(argc, argv, tool, {report_veldconf_fault, &faulty}, refusal)) {
        std::fprintf(stderr, "%s: %s\n", program, refusal.text);
        return false;
    }
    if (faulty) return veld::refuse(program, "veldconf's options are refused");
    if (tool.name_given) {
        return veld::refuse(program, "veldconf's options: the endpoint name comes from each module; "
                                          "leave out -n and --ep (see --name)");
    }
    tool_settings named = tool;
    named.name_given = true;
    veld::reason missing;
    if (!check_needed_settings(named, missing)) {
        std::fprintf(stderr, "%s: %s\n", program, missing.text);
        return false;
    }
    return true;
}

// What the settings need beside veldconf's words, checked before any port
// is opened: the longest name (a 15-digit IMEI and IMSI) must make a
// configuration veldconf takes, and the manifest's every row must be sound.
bool check_names_and_rows(veld::station_options &o) {
    veld::reason why;
    if (!veld::check_longest_name(o.name, o.tool, why)) return veld::refuse(program, "--name: %s", why.text);
    if (o.manifest_file != nullptr && !veld::read_manifest(o.manifest_file, o.tool, o.rows, why)) {
        return veld::refuse(program, "--manifest %s: %s", o.manifest_file, why.text);
    }
    return true;
}

// With --slots, a batch's every DEVICE must be in a slot.
bool check_slotted(const veld::station_options &o) {
    for (std::size_t i = 0; i < o.device_count && o.slots_file != nullptr; ++i) {
        bool listed = false;
        veld::slot_of(o.slots, o.devices[i], veld::usb_path(o.devices[i]), listed);
        if (!listed) return veld::refuse(program, "%s is in no slot of %s", o.devices[i], o.slots_file);
    }
    return true;
}

// Two words for one port would give it two jobs at once.
bool check_distinct(char *const devices[], std::size_t count) {
    std::vector<std::string> seen(count);
    for (std::size_t i = 0; i < count; ++i) {
        seen[i] = veld::device_identity(devices[i]);
        for (std::size_t j = 0; j < i && !seen[i].empty(); ++j) {
            if (seen[j] == seen[i]) {
                return veld::refuse(program, "%s and %s are the same port", devices[j], devices[i]);
            }
        }
    }
    return true;
}

// This program's own option, c (one its table knows), with its value;
// false when it is refused (said) or the run is over (--help).
bool read_option(int c, command_line &line) {
    veld::station_options &o = line.station;
    veld::reason why;
    double value = 0;
    switch (c) {
        case name_option:
            if (!veld::check_name_format(veld::optarg, why)) return veld::refuse(program, "--name: %s", why.text);
            o.name = veld::optarg;
            return true;
        case jobs_option:
            if (!veld::read_number(veld::optarg, 1, 1e6, value) || value != static_cast<long>(value)) {
                return veld::refuse(program, "--jobs takes a whole number, at least 1, not %s", veld::optarg);
            }
            o.jobs = static_cast<std::size_t>(value);
            return true;
        case report_option: line.report = veld::optarg; return true;
        case log_dir_option: o.log_dir = veld::optarg; return true;
        case station_option: o.run.station = veld::optarg; return true;
        case manifest_option: o.manifest_file = veld::optarg; return true;
        case resume_option: o.resume = true; return true;
        case check_option: line.check = true; return true;
        case probe_timeout_option:
            if (!veld::read_number(veld::optarg, 0.001, 3600, value)) {
                return veld::refuse(program, "--probe-timeout takes seconds, more than 0 and at most 3600, not %s",
                                         veld::optarg);
            }
            o.probe_timeout_ms = static_cast<long>(value * 1000 + 0.5);
            return true;
        case boot_wait_option:
            if (!veld::read_number(veld::optarg, 0, 86400, value)) {
                return veld::refuse(program, "--boot-wait takes seconds, from 0 to 86400, not %s", veld::optarg);
            }
            o.boot_wait_ms = static_cast<long>(value * 1000 + 0.5);
            return true;
        case slots_option:
            o.slots_file = veld::optarg;
            if (!veld::read_slots(o.slots_file, o.slots, why)) return veld::refuse(program, "--slots %s", why.text);
            return true;
        case operator_option: o.run.operator_name = veld::optarg; return true;
        case lot_option:
            if (!veld::check_lot_name(veld::optarg, why)) return veld::refuse(program, "--lot: %s", why.text);
            o.run.lot = veld::optarg;
            return true;
        case ledger_option:
            if (*veld::optarg != '\0' && !veld::check_ledger_word(veld::optarg, why)) {
                return veld::refuse(program, "--ledger: %s", why.text);
            }
            line.ledger = veld::optarg;
            return true;
        case watch_option:
            o.watch = true;
            if (veld::optarg == nullptr) return true;
            if (o.patterns.size() == max_patterns) return veld::refuse(program, "more than 16 patterns");
            o.patterns.push_back(veld::optarg);
            return true;
        case 'q': o.quiet = true; return true;
        case 'v': o.verbose = true; return true;
        case 'h':
            std::printf("%s%s%s", usage_head, veld::port_options_usage, usage_tail);
            line.helped = true;
            return false;
    }
    if (!veld::read_port_option(c, veld::optarg, o.port, why)) return veld::refuse(program, "%s", why.text);
    return true;
}

// false when the words are refused (said) or the run is over (--help).
bool read_command_line(int argc, char *argv[], command_line &line) {
    // The first -- ends this program's words; veldconf's follow it.
    int split = 1;
    while (split < argc && std::strcmp(argv[split], "--") != 0) ++split;
    static const veld::option table[] = {
        {"name", veld::required_argument, nullptr, name_option},
        {"jobs", veld::required_argument, nullptr, jobs_option},
        {"report", veld::required_argument, nullptr, report_option},
        {"log-dir", veld::required_argument, nullptr, log_dir_option},
        {"watch", veld::optional_argument, nullptr, watch_option},
        {"station", veld::required_argument, nullptr, station_option},
        {"slots", veld::required_argument, nullptr, slots_option},
        {"manifest", veld::required_argument, nullptr, manifest_option},
        {"resume", veld::no_argument, nullptr, resume_option},
        {"check", veld::no_argument, nullptr, check_option},
        {"probe-timeout", veld::required_argument, nullptr, probe_timeout_option},
        {"boot-wait", veld::required_argument, nullptr, boot_wait_option},
        {"operator", veld::required_argument, nullptr, operator_option},
        {"lot", veld::required_argument, nullptr, lot_option},
        {"ledger", veld::required_argument, nullptr, ledger_option},
        {"baud", veld::required_argument, nullptr, veld::baud_option},
        {"rtscts", veld::no_argument, nullptr, veld::rtscts_option},
        {"timeout", veld::required_argument, nullptr, veld::timeout_option},
        {"quiet", veld::no_argument, nullptr, 'q'},
        {"verbose", veld::no_argument, nullptr, 'v'},
        {"help", veld::no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    veld::opterr = 0;
    for (int c; (c = veld::getopt_long(split, argv, "qvh", table, nullptr)) != -1;) {
        if (c == '?' || c == ':') {
            veld::report_bad_option(program, c, split, argv);
            std::fprintf(stderr, "Try '%s --help'.\n", program);
            return false;
        }
        if (!read_option(c, line)) return false;
    }
    veld::station_options &o = line.station;
    if (split == argc) return veld::refuse(program, "no -- before veldconf's options");
    o.devices = argv + veld::optind;
    o.device_count = static_cast<std::size_t>(split - veld::optind);
    if (o.watch && o.device_count > 0) return veld::refuse(program, "--watch takes no DEVICE: %s", o.devices[0]);
    if (!o.watch && o.device_count == 0) return veld::refuse(program, "no DEVICE given");
    if (o.device_count > max_devices) return veld::refuse(program, "more than 256 devices");
    // veldconf's words, with its program name where the -- stood.
    if (!check_distinct(o.devices, o.device_count) || !check_slotted(o)) return false;
    static char veldconf_name[] = "veldconf";
    argv[split] = veldconf_name;
    if (!read_veldconf_options(argc - split, argv + split, o.tool)) return false;
    return check_names_and_rows(o);
}

// --ledger claims in a lot and commits to it from the report, which holds
// each result first.
bool check_ledger_words(const command_line &line) {
    if (line.ledger == nullptr) return true;
    if (line.station.run.lot == nullptr) return veld::refuse(program, "--ledger claims in a lot: give --lot LOT");
    return line.report != nullptr || veld::refuse(program, "--ledger keeps each result in the report first: give --report FILE");
}

// The ledger, reached before any port is opened: its schema and the lot
// checked, the report's objects it lacks put in it (a run's only: --check
// writes nothing), and the lot's manifest, when it has one, taken as the
// run's. false when any of it fails (said).
bool reach_ledger(command_line &line, veld::plant_ledger &p) {
    veld::station_options &o = line.station;
    const char *from_environment = std::getenv("VELDCONF_LEDGER");
    const char *conninfo = *line.ledger != '\0' || from_environment == nullptr ? line.ledger : from_environment;
    veld::reason why;
    if (!veld::open_ledger(conninfo, p.ops, why)) {
        std::fprintf(stderr, "%s: --ledger: %s\n", program, why.text);
        return false;
    }
    p.lot = o.run.lot;
    bool exists = false;
    std::vector<veld::manifest_entry> entries;
    veld::sync_counts counts{};
    const bool reached = p.ops.lot_exists(p.ops.context, p.lot, exists, why) &&
                         (exists || veld::fail(why, "no lot %s in the ledger", p.lot.c_str())) &&
                         p.ops.read_lease(p.ops.context, p.lease_seconds, why) &&
                         p.ops.read_manifest(p.ops.context, p.lot, entries, why) &&
                         (line.check || veld::sync_report(p.ops, line.report, "", counts, why, true));
    if (!reached) {
        std::fprintf(stderr, "%s: --ledger: %s\n", program, why.text);
        return false;
    }
    if (entries.empty()) return true;
    if (o.manifest_file != nullptr) {
        return veld::refuse(program, "--manifest: lot %s has its manifest in the ledger", p.lot.c_str());
    }
    if (!veld::manifest_from_ledger(entries, o.tool, o.rows, why)) {
        std::fprintf(stderr, "%s: the manifest of lot %s: %s\n", program, p.lot.c_str(), why.text);
        return false;
    }
    o.manifest_file = "the lot's manifest";
    p.manifest_in_ledger = true;
    return true;
}

// With --resume, the report says what was done before; a line cut short
// by a crash is passed over, and said.
bool read_done(const command_line &line, veld::station_options &o) {
    if (!o.resume) return true;
    if (line.report == nullptr) return veld::refuse(program, "--resume reads the report: give --report FILE");
    veld::reason why;
    if (!veld::read_resume(line.report, o.done, why)) return veld::refuse(program, "--resume: %s: %s", line.report, why.text);
    for (long cut : o.done.cut_lines) {
        std::fprintf(stderr, "%s: warning: %s: line %ld is cut short (a crash?), passed over\n", program, line.report, cut);
    }
    return true;
}

// The report and the transcripts' folder must take what the run writes,
// tried as the run writes it: a run opens the report, --check only tries
// it, leaving no file behind.
bool check_records(const command_line &line, veld::station *st) {
    veld::reason why;
    const bool report_fine = line.report == nullptr ||
                             (st != nullptr ? (st->reporting = veld::record_open(st->report, line.report, why))
                                            : veld::record_check(line.report, why));
    if (!report_fine) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, line.report, why.text);
        return false;
    }
    const char *log_dir = line.station.log_dir;
    if (log_dir != nullptr && !veld::check_transcript_folder(log_dir, why)) {
        std::fprintf(stderr, "%s: cannot write in %s: %s\n", program, log_dir, why.text);
        return false;
    }
    return true;
}

// A killed run's working transcripts are the only trace of what it sent:
// said, and kept.
void say_unfinished(const char *log_dir) {
    if (log_dir == nullptr) return;
    for (const std::string &name : veld::unfinished_transcripts(log_dir)) {
        std::fprintf(stderr, "%s: warning: %s/", program, log_dir);
        veld::write_field(stderr, name.data(), name.size());
        std::fputs(": the transcript of a run that did not finish, kept\n", stderr);
    }
}

}  // namespace

int main(int argc, char *argv[]) {
    veld::binary_standard_streams();
    command_line line{};
    veld::station_options &o = line.station;
    o.program = program;
    o.port = veld::default_port_settings;
    o.probe_timeout_ms = 1000;
    o.boot_wait_ms = 30000;
    o.name = "{imei};{imsi}";
    o.run = {veld::host_name(), nullptr, veld::make_run_id(), VELDCONF_VERSION, nullptr};
    if (!read_command_line(argc, argv, line) || !check_ledger_words(line) || !read_done(line, o)) {
        return line.helped ? 0 : 2;
    }
    if (veld::modem_manager_runs()) {
        std::fprintf(stderr, "%s: warning: ModemManager runs: it probes new serial ports and takes answers "
                             "meant for this station (man veldconf-provision says how to keep it off)\n",
                     program);
    }
    say_unfinished(o.log_dir);
    if (line.check) {
        veld::plant_ledger checked{};
        const bool reached = line.ledger == nullptr || reach_ledger(line, checked);
        veld::close_ledger(checked.ops);
        if (!reached || !check_records(line, nullptr)) return 2;
        veld::write_plan(o, stdout);
        return std::fflush(stdout) == 0 ? 0 : 3;
    }
    veld::station st{};
    o.report_file = line.report;
    if (line.ledger != nullptr && !reach_ledger(line, st.plant)) {
        veld::close_ledger(st.plant.ops);
        return 2;
    }
    st.opts = o;
    st.view.on = !o.quiet && veld::is_terminal(stderr) && veld::terminal_moves_cursor();
    st.out.view_on = st.view.on;
    st.out.shares_stdout = veld::same_terminal(stdout, stderr);
    if (!check_records(line, &st)) return 2;
    veld::port_catch_interrupts();
    const bool written = veld::run_station(st);
    veld::reason why;
    const bool closed = !st.reporting || veld::record_close(st.report, why);
    int status = veld::station_status(st);
    if (!closed) {
        // Said only to a terminal that still takes output.
        if (written) std::fprintf(stderr, "%s: the report %s may be cut short: %s\n", program, line.report, why.text);
        status = 3;
    }
    veld::close_ledger(st.plant.ops);
    veld::port_interrupt_handled();
    // The terminal still holds a piece: the streams cannot be flushed.
    if (!written) std::_Exit(status);
    return status;
}
