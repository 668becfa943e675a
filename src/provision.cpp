// veldconf-provision: configures every module it is given, or that is
// plugged in while it watches, each under the endpoint name made from the
// module's own IMEI and IMSI, several at once, and records what each took.
// The configuration is veldconf's, built in the process from the veldconf
// options after the --; each module's conversation is the sender's.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <glob.h>
#endif

#include "commands.hpp"
#include "main.hpp"
#include "options.hpp"
#include "recreate.hpp"
#include "record.hpp"
#include "session.hpp"

namespace {

const char program[] = "veldconf-provision";
const char usage[] =
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
    "  --watch[=PATTERN]  provision the serial ports that appear (PATTERN, a\n"
    "                     glob, may be repeated; default /dev/ttyUSB* and\n"
    "                     /dev/ttyACM*, on Windows the COM ports)\n"
    "  --baud N           the ports' rate (default 115200)\n"
    "  --rtscts           hardware flow control (default off)\n"
    "  --timeout SECONDS  how long each command may take (default 10)\n"
    "  --quiet            print only the result lines and errors\n"
    "  --verbose          show what each module says besides its answers\n"
    "  --help             print this text\n"
    "Exit status: 0 no module failed, 1 a module failed or a batch was\n"
    "interrupted, 2 a usage or settings error.\n";

constexpr std::size_t max_jobs = 32;
constexpr std::size_t max_devices = 256;
constexpr std::size_t max_patterns = 16;
constexpr long watch_interval_ms = 250;

struct options {
    veld::port_settings port = veld::default_port_settings;
    const char *name = "{imei};{imsi}";
    std::size_t jobs = 0;  // 0: all
    const char *report = nullptr;
    const char *log_dir = nullptr;
    bool watch = false;
    const char *patterns[max_patterns];
    std::size_t pattern_count = 0;
    bool quiet = false;
    bool verbose = false;
    char **devices = nullptr;
    std::size_t device_count = 0;
    tool_settings tool{};
};

enum class result { configured, failed, skipped, interrupted, passed_over };

const char *result_name(result r) {
    switch (r) {
        case result::configured: return "configured";
        case result::failed: return "failed";
        case result::skipped: return "skipped";
        case result::interrupted: return "interrupted";
        case result::passed_over: return "passed over";
    }
    return "";
}

// One port's provisioning, as it is written out.
struct outcome_record {
    const char *device;
    veld::identity id;
    bool imei_known;
    bool imsi_known;
    const char *endpoint;  // null when none was made
    std::size_t endpoint_len;
    const veld::client_config *config;  // null when none was built
    std::size_t lines;
    std::size_t acknowledged;
    result what;
    char reason[600];
    long long started_ms;
    double seconds;
};

// What one job works with: room for the largest configuration.
struct slot {
    veld::session session;
    char name[veld::max_text_len + 1];
    char commands[veld::max_commands_len];
    veld::framing framing;
    veld::client_config config;
    outcome_record record;
};

slot slots[max_jobs];

// A device known to the run: given, or found by the watch.
struct device_entry {
    char path[512];
    bool present;
    bool queued;
    bool busy;
    char imei[veld::imei_digits + 1];  // the module behind it, once known
};

struct station {
    options opts;
    std::mutex lock;  // everything below, and the output
    std::condition_variable work;
    device_entry devices[max_devices];
    std::size_t device_count = 0;
    bool scanning_done = false;
    std::FILE *report = nullptr;
    std::size_t done = 0, running = 0, failed = 0, configured = 0, counted = 0;
    char failures[8192];
    std::size_t failures_len = 0;
    char interruptions[4096];
    std::size_t interruptions_len = 0;
    bool status_shown = false;
    bool terminal = false;
};

station st;

long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int usage_error(const char *what, const char *detail) {
    std::fprintf(stderr, "%s: %s%s\nTry '%s --help'.\n", program, what, detail, program);
    return 2;
}

// ---- the command line ----

bool veldconf_fault = false;

void report_veldconf_fault(int result, int argc, char *argv[]) {
    veldconf_fault = true;
    if (result == 'h') {
        std::fprintf(stderr, "%s: veldconf's options: -h is no setting\n", program);
    } else {
        veld::report_bad_option("veldconf-provision: veldconf's options", result, argc, argv);
    }
}

// The veldconf options, checked with veldconf's own code before any port
// is opened. Returns -1 when they are fine, else the exit status.
int read_veldconf_options(int argc, char *argv[], options &o) {
    veld::optind = 0;  // a second scan in this process
    veld::opterr = 0;
    if (const char *refusal = read_tool_settings(argc, argv, stderr, stderr, o.tool, report_veldconf_fault)) {
        std::fprintf(stderr, "%s: %s\n", program, refusal);
        return 2;
    }
    if (veldconf_fault) return usage_error("veldconf's options are refused", "");
    if (o.tool.name_given) {
        return usage_error("veldconf's options: the endpoint name comes from each module; ",
                           "leave out -n and --ep (see --name)");
    }
    tool_settings named = o.tool;
    named.name_given = true;
    if (const char *missing = missing_setting(named)) {
        std::fprintf(stderr, "%s: %s\n", program, missing);
        return 2;
    }
    return -1;
}

int read_options(int argc, char *argv[], options &o) {
    // The first -- ends this program's words; veldconf's follow it.
    int split = 1;
    while (split < argc && std::strcmp(argv[split], "--") != 0) ++split;
    enum { name = 256, jobs, report, log_dir, watch, rtscts };
    static const veld::option table[] = {
        {"name", veld::required_argument, nullptr, name},
        {"jobs", veld::required_argument, nullptr, jobs},
        {"report", veld::required_argument, nullptr, report},
        {"log-dir", veld::required_argument, nullptr, log_dir},
        {"watch", veld::optional_argument, nullptr, watch},
        {"baud", veld::required_argument, nullptr, 'b'},
        {"rtscts", veld::no_argument, nullptr, rtscts},
        {"timeout", veld::required_argument, nullptr, 't'},
        {"quiet", veld::no_argument, nullptr, 'q'},
        {"verbose", veld::no_argument, nullptr, 'v'},
        {"help", veld::no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    veld::opterr = 0;
    for (int c; (c = veld::getopt_long(split, argv, "qvh", table, nullptr)) != -1;) {
        double value = 0;
        switch (c) {
            case name:
                if (const char *fault = veld::check_name_format(veld::optarg)) {
                    return usage_error("--name: ", fault);
                }
                o.name = veld::optarg;
                break;
            case jobs:
                if (!veld::read_number(veld::optarg, 1, 1e6, value) || value != static_cast<long>(value)) {
                    return usage_error("--jobs takes a whole number, at least 1, not ", veld::optarg);
                }
                o.jobs = static_cast<std::size_t>(value);
                break;
            case report: o.report = veld::optarg; break;
            case log_dir: o.log_dir = veld::optarg; break;
            case watch:
                o.watch = true;
                if (veld::optarg != nullptr) {
                    if (o.pattern_count == max_patterns) return usage_error("more than 16 patterns", "");
                    o.patterns[o.pattern_count++] = veld::optarg;
                }
                break;
            case 'b':
            case 't':
                if (const char *complaint = veld::read_port_option(static_cast<char>(c), veld::optarg, o.port)) {
                    return usage_error(complaint, veld::optarg);
                }
                break;
            case rtscts: o.port.rtscts = true; break;
            case 'q': o.quiet = true; break;
            case 'v': o.verbose = true; break;
            case 'h': std::fputs(usage, stdout); return 0;
            default:
                veld::report_bad_option(program, c, split, argv);
                std::fprintf(stderr, "Try '%s --help'.\n", program);
                return 2;
        }
    }
    if (split == argc) return usage_error("no -- before veldconf's options", "");
    o.devices = argv + veld::optind;
    o.device_count = static_cast<std::size_t>(split - veld::optind);
    if (o.watch && o.device_count > 0) return usage_error("--watch takes no DEVICE: ", o.devices[0]);
    if (!o.watch && o.device_count == 0) return usage_error("no DEVICE given", "");
    if (o.device_count > max_devices) return usage_error("more than 256 devices", "");
    // veldconf's words, with its program name where the -- stood.
    static char veldconf_name[] = "veldconf";
    argv[split] = veldconf_name;
    return read_veldconf_options(argc - split, argv + split, o);
}

// ---- what is written ----

void clear_status() {
    if (st.status_shown) std::fputs("\r\x1b[K", stderr);
    st.status_shown = false;
}

void show_status() {
    if (!st.terminal || st.opts.quiet) return;
    std::fprintf(stderr, "\r\x1b[Kmodules done %zu, running %zu, failed %zu", st.done, st.running, st.failed);
    std::fflush(stderr);
    st.status_shown = true;
}

void write_line(const outcome_record &r) {
    veld::write_field(stdout, r.device, std::strlen(r.device));
    std::fputc('\t', stdout);
    if (r.imei_known) std::fputs(r.id.imei, stdout);
    else std::fputc('-', stdout);
    std::printf("\t%s\t%zu/", result_name(r.what), r.acknowledged);
    if (r.config != nullptr) std::printf("%zu", r.lines);
    else std::fputc('-', stdout);
    std::printf("\t%.1f\t", r.seconds);
    veld::write_field(stdout, r.reason, std::strlen(r.reason));
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The command is one JSON string, written as it is made.
void put_json(void *context, const char *text, std::size_t len) {
    veld::write_json_chars(static_cast<std::FILE *>(context), text, len);
}

void write_optional(std::FILE *out, const char *key, const char *text, std::size_t len, bool known) {
    std::fprintf(out, "\"%s\": ", key);
    if (known) veld::write_json_string(out, text, len);
    else std::fputs("null", out);
    std::fputs(", ", out);
}

void write_report(std::FILE *out, const outcome_record &r) {
    std::fputc('{', out);
    write_optional(out, "device", r.device, std::strlen(r.device), true);
    write_optional(out, "imei", r.id.imei, std::strlen(r.id.imei), r.imei_known);
    write_optional(out, "imsi", r.id.imsi, std::strlen(r.id.imsi), r.imsi_known);
    write_optional(out, "endpoint", r.endpoint, r.endpoint_len, r.endpoint != nullptr);
    std::fputs("\"command\": ", out);
    if (r.config != nullptr) {
        std::fputc('"', out);
        veld::write_command(*r.config, put_json, out);
        std::fputs("\", \"lines\": ", out);
        std::fprintf(out, "%zu", r.lines);
    } else {
        std::fputs("null, \"lines\": null", out);
    }
    std::fprintf(out, ", \"acknowledged\": %zu, \"result\": \"%s\", ", r.acknowledged, result_name(r.what));
    write_optional(out, "reason", r.reason, std::strlen(r.reason), r.what != result::configured);
    char started[40];
    veld::format_utc(r.started_ms, started, sizeof started);
    std::fprintf(out, "\"started\": \"%s\", \"seconds\": %.3f}\n", started, r.seconds);
    std::fflush(out);  // what is done must survive a crash or a Ctrl-C
}

void note(char *list, std::size_t &len, std::size_t capacity, const char *device, const char *reason) {
    const int n = std::snprintf(list + len, capacity - len, "%s%s%s%s%s", len > 0 ? ", " : "",
                                device, reason != nullptr ? " (" : "", reason != nullptr ? reason : "",
                                reason != nullptr ? ")" : "");
    if (n > 0) len = len + static_cast<std::size_t>(n) < capacity ? len + static_cast<std::size_t>(n) : capacity - 1;
}

// Writes one port's record: its line, its report object, the counts.
// Called with st.lock held.
void publish(const outcome_record &r) {
    if (r.what == result::passed_over) {
        if (st.opts.verbose) {
            clear_status();
            std::fprintf(stderr, "%s: passed over %s: %s\n", program, r.device, r.reason);
        }
        return;
    }
    clear_status();
    write_line(r);
    if (st.report != nullptr) write_report(st.report, r);
    ++st.done;
    if (r.what == result::configured) ++st.configured, ++st.counted;
    if (r.what == result::failed) {
        ++st.failed, ++st.counted;
        note(st.failures, st.failures_len, sizeof st.failures, r.device, r.reason);
    }
    if (r.what == result::interrupted) {
        note(st.interruptions, st.interruptions_len, sizeof st.interruptions, r.device, nullptr);
    }
    show_status();
}

// ---- one port ----

// The transcript's file while the module is not yet known; named after it
// at the end.
std::FILE *open_transcript(std::size_t job, char *path, std::size_t len) {
    if (st.opts.log_dir == nullptr) return nullptr;
    std::snprintf(path, len, "%s/.veldconf-provision.%zu.partial", st.opts.log_dir, job);
    return std::fopen(path, "wb");
}

bool exists(const char *path) {
    std::FILE *f = std::fopen(path, "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
}

const char *base_name(const char *path) {
    const char *base = path;
    for (const char *at = path; *at != '\0'; ++at) {
        if (*at == '/' || *at == '\\') base = at + 1;
    }
    return base;
}

// IMEI.log, IMEI.2.log, ...: the first that is free. Called with st.lock
// held, so two jobs never take one name.
void name_transcript(const char *partial, const outcome_record &r) {
    const char *stem = r.imei_known ? r.id.imei : base_name(r.device);
    char path[1024];
    std::snprintf(path, sizeof path, "%s/%s.log", st.opts.log_dir, stem);
    for (int n = 2; exists(path); ++n) {
        std::snprintf(path, sizeof path, "%s/%s.%d.log", st.opts.log_dir, stem, n);
    }
    std::rename(partial, path);
}

// The device entry of another port with this IMEI, held (configured or in
// hand) in this run; null when there is none. Called with st.lock held.
const device_entry *same_module(const device_entry &mine) {
    for (std::size_t i = 0; i < st.device_count; ++i) {
        const device_entry &other = st.devices[i];
        if (&other != &mine && other.present && std::strcmp(other.imei, mine.imei) == 0) return &other;
    }
    return nullptr;
}

// Builds the module's configuration, as veldconf would for its name, and
// checks its lines with the reader's checks. False with the reason.
bool build_configuration(slot &s, outcome_record &r) {
    const std::size_t len = veld::make_name(st.opts.name, r.id, s.name, veld::max_text_len);
    tool_settings settings = st.opts.tool;
    if (len > veld::max_text_len) {
        std::snprintf(r.reason, sizeof r.reason, "NAME exceed.");
        return false;
    }
    s.name[len] = '\0';
    if (const char *refusal = store_tool_option('n', s.name, settings)) {
        std::snprintf(r.reason, sizeof r.reason, "%s", refusal);
        return false;
    }
    r.endpoint = s.name;
    r.endpoint_len = len;
    if (!settings.port_given) settings.config.port = draw_port();
    s.config = settings.config;
    const std::size_t text_len = veld::format_config_commands(s.config, s.commands, sizeof s.commands);
    if (text_len == 0 || !veld::read_command_text(s.commands, text_len, program, s.framing)) {
        std::snprintf(r.reason, sizeof r.reason, "the configuration does not read back");
        return false;
    }
    r.config = &s.config;
    r.lines = s.framing.line_count;
    return true;
}

void take_reason(outcome_record &r, const veld::session &session) {
    std::size_t n = std::strlen(session.reason);
    if (n >= sizeof r.reason) n = sizeof r.reason - 1;
    std::memcpy(r.reason, session.reason, n);
    r.reason[n] = '\0';
}

// A conversation that ended early ended so because of Ctrl-C, or failed.
result failure() { return veld::port_interrupted() ? result::interrupted : result::failed; }

// Opening to closing: what one port takes.
void provision(std::size_t job, device_entry &entry) {
    slot &s = slots[job];
    outcome_record &r = s.record;
    r = outcome_record{};
    r.device = entry.path;
    r.started_ms = now_ms();
    const auto start = std::chrono::steady_clock::now();
    char partial[1024];
    std::FILE *log = open_transcript(job, partial, sizeof partial);
    veld::session &session = s.session;
    bool kept_transcript = log != nullptr;
    if (!veld::session_open(session, entry.path, st.opts.port, log, st.opts.verbose ? stderr : nullptr,
                            program)) {
        r.what = failure();
        take_reason(r, session);
    } else {
        bool no_answer = false;
        if (!veld::session_wake(session, no_answer)) {
            r.what = no_answer && st.opts.watch ? result::passed_over : failure();
            take_reason(r, session);
        } else if (!veld::session_identity(session, r.id)) {
            r.what = failure();
            take_reason(r, session);
        }
        r.imei_known = r.id.imei[0] != '\0';
        r.imsi_known = r.id.imsi[0] != '\0';
        if (r.what == result::configured && r.imei_known) {
            std::unique_lock<std::mutex> hold(st.lock);
            std::memcpy(entry.imei, r.id.imei, sizeof entry.imei);
            if (const device_entry *other = same_module(entry)) {
                r.what = result::skipped;
                std::snprintf(r.reason, sizeof r.reason, "same module as %s", other->path);
            }
        }
        if (r.what == result::configured && !build_configuration(s, r)) r.what = result::failed;
        if (r.what == result::configured &&
            !veld::session_send(session, s.framing, r.acknowledged, nullptr, nullptr)) {
            r.what = failure();
            take_reason(r, session);
        }
        veld::session_close(session);
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (log != nullptr && std::fclose(log) != 0 && r.what == result::configured) {
        r.what = result::failed;
        std::snprintf(r.reason, sizeof r.reason, "the transcript could not be written");
    }
    kept_transcript = kept_transcript && r.what != result::skipped && r.what != result::passed_over;
    std::lock_guard<std::mutex> hold(st.lock);
    if (kept_transcript) name_transcript(partial, r);
    else if (log != nullptr) std::remove(partial);
    // A module that was not configured may still be, through another port.
    if (r.what != result::configured && r.what != result::skipped) entry.imei[0] = '\0';
    entry.busy = false;
    --st.running;
    publish(r);
}

// ---- the jobs ----

// The next queued device, or null when there will be none.
device_entry *next_device(std::unique_lock<std::mutex> &hold) {
    for (;;) {
        for (std::size_t i = 0; i < st.device_count; ++i) {
            device_entry &d = st.devices[i];
            if (d.queued && !veld::port_interrupted()) {
                d.queued = false;
                d.busy = true;
                ++st.running;
                return &d;
            }
        }
        if (st.scanning_done || veld::port_interrupted()) return nullptr;
        st.work.wait_for(hold, std::chrono::milliseconds(100));
    }
}

void job(std::size_t index) {
    std::unique_lock<std::mutex> hold(st.lock);
    while (device_entry *d = next_device(hold)) {
        show_status();
        hold.unlock();
        provision(index, *d);
        hold.lock();
    }
}

device_entry *add_device(const char *path) {
    if (st.device_count == max_devices) return nullptr;
    device_entry &d = st.devices[st.device_count++];
    d = device_entry{};
    std::snprintf(d.path, sizeof d.path, "%s", path);
    d.present = true;
    d.queued = true;
    return &d;
}

// ---- the watch ----

bool seen_now[max_devices];

void found(const char *path) {
    for (std::size_t i = 0; i < st.device_count; ++i) {
        if (std::strcmp(st.devices[i].path, path) == 0) {
            seen_now[i] = true;
            device_entry &d = st.devices[i];
            if (!d.present) {  // back again: a new port as far as we know
                d.present = true;
                d.queued = true;
                d.imei[0] = '\0';
            }
            return;
        }
    }
    if (add_device(path) != nullptr) seen_now[st.device_count - 1] = true;
}

#ifdef _WIN32
void list_devices() {
    static char names[65536];
    const DWORD n = QueryDosDeviceA(nullptr, names, sizeof names);
    for (DWORD at = 0; at < n && names[at] != '\0'; at += static_cast<DWORD>(std::strlen(names + at)) + 1) {
        if (std::strncmp(names + at, "COM", 3) == 0) found(names + at);
    }
}
#else
void list_devices() {
    static const char *const defaults[] = {"/dev/ttyUSB*", "/dev/ttyACM*"};
    const std::size_t count = st.opts.pattern_count > 0 ? st.opts.pattern_count : 2;
    for (std::size_t p = 0; p < count; ++p) {
        glob_t matches{};
        if (glob(st.opts.pattern_count > 0 ? st.opts.patterns[p] : defaults[p], 0, nullptr, &matches) == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i) found(matches.gl_pathv[i]);
        }
        globfree(&matches);
    }
}
#endif

// Notices ports that appear and go, until Ctrl-C.
void watch() {
    while (!veld::port_interrupted()) {
        {
            std::lock_guard<std::mutex> hold(st.lock);
            std::memset(seen_now, 0, sizeof seen_now);
            list_devices();
            for (std::size_t i = 0; i < st.device_count; ++i) {
                device_entry &d = st.devices[i];
                if (!seen_now[i] && d.present) {
                    d.present = false;  // its module is forgotten once all its ports are gone
                    d.queued = false;
                    d.imei[0] = d.busy ? d.imei[0] : '\0';
                }
            }
        }
        st.work.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(watch_interval_ms));
    }
}

void print_summary() {
    clear_status();
    if (st.opts.quiet && st.failed == 0 && st.interruptions_len == 0) return;
    std::fprintf(stderr, "configured %zu of %zu modules", st.configured, st.counted);
    if (st.failed > 0) std::fprintf(stderr, "; failed: %s", st.failures);
    if (st.interruptions_len > 0) std::fprintf(stderr, "; interrupted: %s", st.interruptions);
    std::fputc('\n', stderr);
}

}  // namespace

int main(int argc, char *argv[]) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const int status = read_options(argc, argv, st.opts);
    if (status >= 0) return status;
    const options &o = st.opts;
    if (o.report != nullptr && (st.report = std::fopen(o.report, "ab")) == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, o.report, std::strerror(errno));
        return 2;
    }
    if (o.log_dir != nullptr) {
        char probe_path[1024];
        std::snprintf(probe_path, sizeof probe_path, "%s/.veldconf-provision.probe", o.log_dir);
        std::FILE *f = std::fopen(probe_path, "wb");
        if (f == nullptr) {
            std::fprintf(stderr, "%s: cannot write in %s: %s\n", program, o.log_dir, std::strerror(errno));
            return 2;
        }
        std::fclose(f);
        std::remove(probe_path);
    }
    st.terminal = veld::is_terminal(stderr);
    veld::port_catch_interrupts();
    for (std::size_t i = 0; i < o.device_count; ++i) add_device(o.devices[i]);
    std::size_t jobs = o.jobs > 0 ? o.jobs : (o.watch ? max_jobs : o.device_count);
    if (jobs > max_jobs) jobs = max_jobs;
    st.scanning_done = !o.watch;
    std::thread workers[max_jobs];
    for (std::size_t i = 0; i < jobs; ++i) workers[i] = std::thread(job, i);
    if (o.watch) {
        watch();
        std::lock_guard<std::mutex> hold(st.lock);
        st.scanning_done = true;
    }
    st.work.notify_all();
    for (std::size_t i = 0; i < jobs; ++i) workers[i].join();
    print_summary();
    if (st.report != nullptr && std::fclose(st.report) != 0) {
        std::fprintf(stderr, "%s: the report %s is incomplete\n", program, o.report);
        return 1;
    }
    const bool interrupted_batch = !o.watch && st.interruptions_len > 0;
    return st.failed > 0 || interrupted_batch ? 1 : 0;
}
