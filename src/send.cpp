// veldconf-send: sends the AT+VELDCONF lines of one configuration to a
// module over a serial port, one at a time, each acknowledged with OK
// before the next goes out; or, with --ep-name, reads the module's IMEI and
// IMSI as the endpoint name veldconf takes. Checks the whole input first:
// nothing is sent from a damaged one.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "commands.hpp"
#include "dialogue.hpp"
#include "options.hpp"
#include "port.hpp"

namespace {

const char program[] = "veldconf-send";
const char usage[] =
    "Usage: veldconf-send [OPTIONS] DEVICE [FILE]\n"
    "       veldconf-send --ep-name [OPTIONS] DEVICE\n"
    "Sends the AT+VELDCONF lines of one configuration (from FILE, or standard\n"
    "input when FILE is absent or -) to the module on DEVICE, one at a time,\n"
    "each acknowledged with OK before the next. DEVICE is a tty (/dev/ttyUSB0)\n"
    "or, on Windows, COMn. With --ep-name, prints the module's IMEI;IMSI.\n"
    "Options:\n"
    "  --baud N           the port's rate (default 115200)\n"
    "  --rtscts           hardware flow control (default off)\n"
    "  --timeout SECONDS  how long each command may take (default 10)\n"
    "  --log FILE         write a transcript of every line sent and received\n"
    "  --quiet            print only errors\n"
    "  --verbose          show each line and what the module says besides\n"
    "  --ep-name          print the module's IMEI;IMSI (AT+CGSN, AT+CIMI)\n"
    "  --help             print this text\n"
    "Exit status: 0 all acknowledged, 1 refused, no answer, timeout or port\n"
    "error, 2 a usage or input error.\n";

constexpr int probe_tries = 3;
constexpr char bar[] = "##############################";
constexpr std::size_t bar_width = sizeof bar - 1;

struct settings {
    long baud = 115200;
    bool rtscts = false;
    long timeout_ms = 10000;
    const char *log = nullptr;
    bool quiet = false;
    bool verbose = false;
    bool ep_name = false;
    const char *device = nullptr;
    const char *input = "-";
};

bool is_terminal(std::FILE *stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

int usage_error(const char *what, const char *detail) {
    std::fprintf(stderr, "%s: %s%s\nTry '%s --help'.\n", program, what, detail, program);
    return 2;
}

bool read_number(const char *text, double low, double high, double &value) {
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// Returns -1 when the words are fine, else the exit status (0 after --help).
int read_settings(int argc, char *argv[], settings &s) {
    enum { baud = 256, rtscts, timeout, log, ep_name };
    static const veld::option options[] = {
        {"baud", veld::required_argument, nullptr, baud},
        {"rtscts", veld::no_argument, nullptr, rtscts},
        {"timeout", veld::required_argument, nullptr, timeout},
        {"log", veld::required_argument, nullptr, log},
        {"quiet", veld::no_argument, nullptr, 'q'},
        {"verbose", veld::no_argument, nullptr, 'v'},
        {"ep-name", veld::no_argument, nullptr, ep_name},
        {"help", veld::no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    veld::opterr = 0;  // the messages below name the program
    for (int c; (c = veld::getopt_long(argc, argv, "qvh", options, nullptr)) != -1;) {
        double value = 0;
        switch (c) {
            case baud:
                if (!read_number(veld::optarg, 1, 1e8, value) || value != static_cast<long>(value)) {
                    return usage_error("--baud takes a whole number of bits per second, not ", veld::optarg);
                }
                s.baud = static_cast<long>(value);
                break;
            case rtscts: s.rtscts = true; break;
            case timeout:
                if (!read_number(veld::optarg, 0.001, 3600, value)) {
                    return usage_error("--timeout takes seconds, more than 0 and at most 3600, not ", veld::optarg);
                }
                s.timeout_ms = static_cast<long>(value * 1000 + 0.5);
                break;
            case log: s.log = veld::optarg; break;
            case 'q': s.quiet = true; break;
            case 'v': s.verbose = true; break;
            case ep_name: s.ep_name = true; break;
            case 'h': std::fputs(usage, stdout); return 0;
            default:
                veld::report_bad_option(program, c, argc, argv);
                std::fprintf(stderr, "Try '%s --help'.\n", program);
                return 2;
        }
    }
    const int words = argc - veld::optind;
    if (words < 1) return usage_error("no DEVICE given", "");
    if (words > (s.ep_name ? 1 : 2)) return usage_error("too many words: ", argv[veld::optind + (s.ep_name ? 1 : 2)]);
    s.device = argv[veld::optind];
    if (words == 2) s.input = argv[veld::optind + 1];
    return -1;
}

long read_port(void *context, char *buffer, std::size_t capacity, long timeout_ms) {
    return veld::port_read(*static_cast<veld::serial_port *>(context), buffer, capacity, timeout_ms);
}

int write_port(void *context, const char *data, std::size_t len) {
    return veld::port_write(*static_cast<veld::serial_port *>(context), data, len);
}

bool open_port(const settings &s, veld::serial_port &port) {
    char why[256];
    switch (veld::port_open(port, s.device, s.baud, s.rtscts, why, sizeof why)) {
        case veld::port_status::ok:
            return true;
        case veld::port_status::bad_rate:
            std::fprintf(stderr, "%s: %s: cannot run at %ld baud: %s\n", program, s.device, s.baud, why);
            return false;
        case veld::port_status::in_use:
            std::fprintf(stderr, "%s: %s is in use (%s); refusing to interleave with it\n", program, s.device, why);
            return false;
        case veld::port_status::not_a_port:
            std::fprintf(stderr, "%s: %s is not a serial port: %s\n", program, s.device, why);
            return false;
        case veld::port_status::cannot_open:
            std::fprintf(stderr, "%s: cannot open %s: %s%s\n", program, s.device, why,
                         errno == EACCES ? " (is your user in the dialout group?)" : "");
            return false;
        case veld::port_status::cannot_configure:
            std::fprintf(stderr, "%s: cannot set up %s: %s\n", program, s.device, why);
            return false;
    }
    return false;
}

void show_progress(std::size_t done, std::size_t total) {
    std::fprintf(stderr, "\rline %zu of %zu", done, total);
    if (total > 1) {
        const std::size_t filled = done * bar_width / total;
        std::fprintf(stderr, " [%.*s%*s]", static_cast<int>(filled), bar,
                     static_cast<int>(bar_width - filled), "");
    }
    std::fflush(stderr);
}

// Names what ended the exchange with `what` (a command's description), for
// every outcome but ok. Returns the exit status.
int report_failure(veld::outcome result, const veld::dialogue &d, const settings &s,
                   const char *what, std::size_t acknowledged, std::size_t total) {
    switch (result) {
        case veld::outcome::refused:
            std::fprintf(stderr, "%s: the module refused %s: %.*s\n", program, what,
                         static_cast<int>(d.line_len), d.line);
            break;
        case veld::outcome::timeout:
            std::fprintf(stderr, "%s: no final result code to %s within %.3g s\n", program, what,
                         s.timeout_ms / 1000.0);
            break;
        case veld::outcome::port_error:
            std::fprintf(stderr, "%s: %s failed (hung up?) during %s\n", program, s.device, what);
            break;
        case veld::outcome::interrupted:
            std::fprintf(stderr, "%s: interrupted during %s\n", program, what);
            break;
        case veld::outcome::ok:
            return 0;
    }
    if (total > 0) {
        std::fprintf(stderr, "%s: the module acknowledged %zu of %zu lines; nothing more was sent\n",
                     program, acknowledged, total);
    }
    return 1;
}

int wake(veld::dialogue &d, const settings &s) {
    const veld::outcome result = veld::probe(d, probe_tries);
    if (result == veld::outcome::timeout) {
        std::fprintf(stderr, "%s: no answer from %s\n", program, s.device);
        return 1;
    }
    return report_failure(result, d, s, "the probe AT", 0, 0);
}

void before_line(const void *context, std::size_t k, std::size_t total) {
    const settings &s = *static_cast<const settings *>(context);
    if (!s.quiet && is_terminal(stderr)) show_progress(k, total);
    if (s.verbose) std::fprintf(stderr, "%s: sending line %zu of %zu\n", program, k + 1, total);
}

int send_lines(veld::dialogue &d, const settings &s, const veld::framing &f) {
    const bool progress = !s.quiet && is_terminal(stderr);
    const std::size_t total = f.line_count;
    std::size_t acknowledged = 0;
    const veld::outcome result =
        veld::send_config(d, f, acknowledged, before_line, &s);
    if (result != veld::outcome::ok) {
        if (progress) std::fputc('\n', stderr);
        char what[64];
        std::snprintf(what, sizeof what, "line %zu of %zu", acknowledged + 1, total);
        return report_failure(result, d, s, what, acknowledged, total);
    }
    if (progress) {
        show_progress(total, total);
        std::fputc('\n', stderr);
    }
    if (!s.quiet) std::fprintf(stderr, "configured %s: %zu commands acknowledged\n", s.device, total);
    return 0;
}

// An identity line: digits, perhaps after "+CGSN: " and in quotes.
bool read_identity(const char *line, std::size_t len, const char *prefix, std::size_t low,
                   std::size_t high, const char *&digits, std::size_t &count) {
    const std::size_t n = std::strlen(prefix);
    if (len >= n && std::memcmp(line, prefix, n) == 0) {
        line += n;
        len -= n;
        while (len > 0 && *line == ' ') ++line, --len;
    }
    if (len >= 2 && line[0] == '"' && line[len - 1] == '"') ++line, len -= 2;
    digits = line;
    count = len;
    return len >= low && len <= high && veld::all_digits(line, len);
}

int ask_identity(veld::dialogue &d, const settings &s, const char *command, const char *prefix,
                 std::size_t low, std::size_t high, const char *name, char *out, std::size_t &out_len) {
    const veld::outcome result = veld::exchange(d, command, std::strlen(command), "\r");
    if (result != veld::outcome::ok) return report_failure(result, d, s, command, 0, 0);
    for (std::size_t i = 0; i < d.info_count; ++i) {
        const char *digits = nullptr;
        if (read_identity(d.info[i], d.info_len[i], prefix, low, high, digits, out_len)) {
            std::memcpy(out, digits, out_len);
            return 0;
        }
    }
    if (d.info_count == 0) {
        std::fprintf(stderr, "%s: the module answered %s with no %s\n", program, command, name);
    } else {
        std::fprintf(stderr, "%s: the module's answer to %s is not an %s: '%.*s'\n", program, command,
                     name, static_cast<int>(d.info_len[0]), d.info[0]);
    }
    return 1;
}

int print_ep_name(veld::dialogue &d, const settings &s) {
    char imei[veld::max_info_len];
    char imsi[veld::max_info_len];
    std::size_t imei_len = 0;
    std::size_t imsi_len = 0;
    if (int status = ask_identity(d, s, "AT+CGSN", "+CGSN:", 15, 15, "IMEI (15 digits)", imei, imei_len)) {
        return status;
    }
    if (int status = ask_identity(d, s, "AT+CIMI", "+CIMI:", 6, 15, "IMSI (6 to 15 digits)", imsi, imsi_len)) {
        return status;
    }
    std::printf("%.*s;%.*s\n", static_cast<int>(imei_len), imei, static_cast<int>(imsi_len), imsi);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int converse(const settings &s, const veld::framing &f, std::FILE *log) {
    static veld::serial_port port;
    if (!open_port(s, port)) return 1;
    static veld::dialogue d;
    d.io = {&port, read_port, write_port};
    d.timeout_ms = s.timeout_ms;
    d.log = log;
    d.verbose = s.verbose ? stderr : nullptr;
    d.program = program;
    int status = wake(d, s);
    if (status == 0) status = s.ep_name ? print_ep_name(d, s) : send_lines(d, s, f);
    veld::port_close(port);
    return status;
}

}  // namespace

int main(int argc, char *argv[]) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    static settings s;
    const int words = read_settings(argc, argv, s);
    if (words >= 0) return words;
    static veld::framing f;
    // The whole input is checked before the port is opened.
    if (!s.ep_name && !veld::read_command_file(s.input, program, f)) return 2;
    std::FILE *log = nullptr;
    if (s.log != nullptr && (log = std::fopen(s.log, "wb")) == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, s.log, std::strerror(errno));
        return 2;
    }
    veld::port_catch_interrupts();
    const int status = converse(s, f, log);
    if (log != nullptr && std::fclose(log) != 0) {
        std::fprintf(stderr, "%s: the transcript %s is incomplete\n", program, s.log);
        return status == 0 ? 1 : status;
    }
    return status;
}
