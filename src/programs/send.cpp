// veldconf-send: sends the AT+VELDCONF lines of one configuration to a
// module over a serial port, one at a time, each acknowledged with OK
// before the next goes out; or, with --ep-name, reads the module's IMEI and
// IMSI as the endpoint name veldconf takes. Checks the whole input first:
// nothing is sent from a damaged one.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framing.hpp"
#include "options.hpp"
#include "port_settings.hpp"
#include "program.hpp"
#include "session.hpp"

namespace {

const char program[] = "veldconf-send";
// The usage text, around the port options' lines.
const char usage_head[] =
    "Usage: veldconf-send [OPTIONS] DEVICE [FILE]\n"
    "       veldconf-send --ep-name [OPTIONS] DEVICE\n"
    "Sends the AT+VELDCONF lines of one configuration (from FILE, or standard\n"
    "input when FILE is absent or -) to the module on DEVICE, one at a time,\n"
    "each acknowledged with OK before the next. DEVICE is a tty (/dev/ttyUSB0)\n"
    "or, on Windows, COMn. With --ep-name, prints the module's IMEI;IMSI.\n"
    "Options:\n";
const char usage_tail[] =
    "  --log FILE         write a transcript of every line sent and received\n"
    "  --quiet            print only errors\n"
    "  --verbose          show each line and what the module says besides\n"
    "  --ep-name          print the module's IMEI;IMSI (AT+CGSN, AT+CIMI)\n"
    "  --help             print this text\n"
    "Exit status: 0 all acknowledged, 1 refused, no answer, timeout or port\n"
    "error, 2 a usage or input error, 3 the output or the transcript could\n"
    "not be written (the module's result aside).\n";

constexpr char bar[] = "##############################";
constexpr std::size_t bar_width = sizeof bar - 1;

struct settings {
    veld::port_settings port = veld::default_port_settings;
    const char *log = nullptr;
    bool quiet = false;
    bool verbose = false;
    bool ep_name = false;
    const char *device = nullptr;
    const char *input = "-";
};

// Returns -1 when the words are fine, else the exit status (0 after --help).
int read_settings(int argc, char *argv[], settings &s) {
    enum { log = 256, ep_name };
    static const veld::option options[] = {
        {"baud", veld::required_argument, nullptr, veld::baud_option},
        {"rtscts", veld::no_argument, nullptr, veld::rtscts_option},
        {"timeout", veld::required_argument, nullptr, veld::timeout_option},
        {"log", veld::required_argument, nullptr, log},
        {"quiet", veld::no_argument, nullptr, 'q'},
        {"verbose", veld::no_argument, nullptr, 'v'},
        {"ep-name", veld::no_argument, nullptr, ep_name},
        {"help", veld::no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    veld::opterr = 0;  // the messages below name the program
    for (int c; (c = veld::getopt_long(argc, argv, "qvh", options, nullptr)) != -1;) {
        veld::reason why;
        if (veld::is_port_option(c)) {
            if (!veld::read_port_option(c, veld::optarg, s.port, why)) return veld::usage_error(program, "%s", why.text);
            continue;
        }
        switch (c) {
            case log: s.log = veld::optarg; break;
            case 'q': s.quiet = true; break;
            case 'v': s.verbose = true; break;
            case ep_name: s.ep_name = true; break;
            case 'h':
                std::printf("%s%s%s", usage_head, veld::port_options_usage, usage_tail);
                return 0;
            default:
                veld::report_bad_option(program, c, argc, argv);
                std::fprintf(stderr, "Try '%s --help'.\n", program);
                return 2;
        }
    }
    const int words = argc - veld::optind;
    if (words < 1) return veld::usage_error(program, "no DEVICE given");
    if (words > (s.ep_name ? 1 : 2)) {
        return veld::usage_error(program, "too many words: %s", argv[veld::optind + (s.ep_name ? 1 : 2)]);
    }
    s.device = argv[veld::optind];
    if (words == 2) s.input = argv[veld::optind + 1];
    return -1;
}

// The progress line is on the terminal without its line end yet.
bool progress_open = false;

void show_progress(std::size_t done, std::size_t total) {
    std::fprintf(stderr, "\rline %zu of %zu", done, total);
    if (total > 1) {
        const std::size_t filled = done * bar_width / total;
        std::fprintf(stderr, " [%.*s%*s]", static_cast<int>(filled), bar,
                     static_cast<int>(bar_width - filled), "");
    }
    std::fflush(stderr);
    progress_open = true;
}

// Whatever follows the progress line starts a line of its own.
void end_progress() {
    if (progress_open) std::fputc('\n', stderr);
    progress_open = false;
}

// --verbose text, each message on a line of its own.
void put_verbose(void *, const char *text, std::size_t len) {
    end_progress();
    std::fwrite(text, 1, len, stderr);
}

// The reason a run ended, on standard error; with a configuration, how far
// it had come. Returns the exit status.
int report_failure(const veld::session &session, std::size_t acknowledged, std::size_t total) {
    // The reason may hold the module's words: never raw to a terminal.
    std::fprintf(stderr, "%s: ", program);
    veld::write_field(stderr, session.why.text, std::strlen(session.why.text));
    std::fputc('\n', stderr);
    if (total > 0) {
        std::fprintf(stderr, "%s: the module acknowledged %zu of %zu lines; nothing more was sent\n",
                     program, acknowledged, total);
    }
    return 1;
}

void before_line(const void *context, std::size_t k, std::size_t total) {
    const settings &s = *static_cast<const settings *>(context);
    if (!s.quiet && veld::is_terminal(stderr)) show_progress(k, total);
    if (!s.verbose) return;
    end_progress();
    std::fprintf(stderr, "%s: sending line %zu of %zu\n", program, k + 1, total);
}

int send_lines(veld::session &session, const settings &s, const veld::framing &f) {
    const bool progress = !s.quiet && veld::is_terminal(stderr);
    const std::size_t total = f.line_count;
    std::size_t acknowledged = 0;
    if (!veld::session_send(session, f, acknowledged, before_line, &s)) {
        end_progress();
        return report_failure(session, acknowledged, total);
    }
    if (progress) show_progress(total, total);
    end_progress();
    if (!s.quiet) std::fprintf(stderr, "configured %s: %zu commands acknowledged\n", s.device, total);
    return 0;
}

int print_ep_name(veld::session &session) {
    veld::identity id;
    if (!veld::session_identity(session, id)) return report_failure(session, 0, 0);
    std::printf("%s;%s\n", id.imei, id.imsi);
    return 0;  // whether it was written, main says
}

// log_error: the error of a transcript write that failed, or 0.
int converse(const settings &s, const veld::framing &f, std::FILE *log, int &log_error) {
    static veld::session session;
    if (!veld::session_open(session, s.device, s.port, log,
                            s.verbose ? veld::text_sink{put_verbose, nullptr} : veld::text_sink{}, program)) {
        return report_failure(session, 0, 0);
    }
    bool no_answer = false;
    int status = veld::session_wake(session, s.port.timeout_ms, no_answer) ? 0 : report_failure(session, 0, 0);
    if (status == 0) status = s.ep_name ? print_ep_name(session) : send_lines(session, s, f);
    veld::session_close(session);
    log_error = session.d.log_error;
    return status;
}

// What the run wrote that was lost, said where it still can be; true when
// anything was.
bool record_lost(const settings &s, std::FILE *log, int log_error) {
    bool lost = false;
    if (log != nullptr && (std::fclose(log) != 0 || log_error != 0)) {
        std::fprintf(stderr, "%s: the transcript %s is incomplete: %s\n", program, s.log,
                     std::strerror(log_error != 0 ? log_error : errno));
        lost = true;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: standard output could not be written: %s\n", program, std::strerror(errno));
        lost = true;
    }
    return lost || std::fflush(stderr) != 0 || std::ferror(stderr);
}

}  // namespace

int main(int argc, char *argv[]) {
    veld::binary_standard_streams();
    static settings s;
    const int words = read_settings(argc, argv, s);
    if (words >= 0) return words;
    static veld::framing f;
    // The whole input is checked before the port is opened.
    if (!s.ep_name && !veld::read_input(program, s.input, f)) return 2;
    std::FILE *log = nullptr;
    if (s.log != nullptr && (log = std::fopen(s.log, "wb")) == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, s.log, std::strerror(errno));
        return 2;
    }
    veld::port_catch_interrupts();
    int log_error = 0;
    const int status = converse(s, f, log, log_error);
    // A record lost is told apart from a module that failed.
    const int ended = record_lost(s, log, log_error) ? 3 : status;
    veld::port_interrupt_handled();
    return ended;
}
