#include "main.hpp"

#include <cstring>

#include "config.hpp"
#include "settings.hpp"

const char tool_short_options[] = "i:p:t:n:d:b:e:hu:g:x:";

// Abbreviations match in table order, so the order is part of the interface.
const veld::option tool_long_options[] = {
    {"uri", veld::required_argument, nullptr, 'i'},
    {"port", veld::required_argument, nullptr, 'p'},
    {"keep_alive", veld::required_argument, nullptr, 't'},
    {"ep", veld::required_argument, nullptr, 'n'},
    {"debug", veld::required_argument, nullptr, 'd'},
    {"boot", veld::required_argument, nullptr, 'b'},
    {"encrypt", veld::required_argument, nullptr, 'e'},
    {"block1", veld::optional_argument, nullptr, 'u'},
    {"block2", veld::optional_argument, nullptr, 'g'},
    {"block2th", veld::optional_argument, nullptr, 'x'},
    {"help", veld::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

void print_usage(const char *program, std::FILE *out) {
    std::fprintf(out, "Usage: %s [OPTION]\r\n", program);
    std::fputs(
        "Launch a client.\r\n"
        "version: v1.2\r\n"
        "Options:\r\n"
        "-b BOOT\t\tSet the bootstrap mode of the client.Default: 0\r\n"
        "-d DEBUG\tSet the debug mode of the client.Default: 0\r\n"
        "-e ENCRYPT\tSet the encrypt of the client.\r\n"
        "-i URI\t\tSet the coap uri of the server to connect to. "
        "For example: coap://192.0.2.10:5683\r\n"
        "-n NAME\t\tSet the endpoint name[imei;imsi] of the client.\r\n"
        "-p PORT\t\tSet the local port of the client to bind to. "
        "Default: srand\r\n"
        "-t TIME\t\tSet the lifetime of the client. Default: 300\r\n"
        "--block1 BLOCK1\t\tSet COAP option BLOCK1(PUT or POST),0-6. "
        "Default 5(512B),2^(4+n)\r\n"
        "--block2 BLOCK2\t\tSet COAP option BLOCK2(GET),0-6. "
        "Default 5(512B),2^(4+n)\r\n"
        "--block2th BLOCK2TH\t\tSet max size to trigger block-wise "
        "operation,0-2. Default 2(1024B),2^(8+n)\r\n",
        out);
}

namespace {

// The streams of the run, for what the settings reader does not print.
struct run_streams {
    const char *program;
    std::FILE *out;
    std::FILE *err;
};

// The long block options take their value only attached (--block1=5); one
// given without it is reported like any missing argument, by the name as
// typed, which follows the last dash of the option's word.
void report_missing_value(char *const argv[], std::FILE *err) {
    const char *name = std::strrchr(argv[veld::optind - 1], '-') + 1;
    std::fprintf(err, "option requires an argument -- %s", name);
}

// -h prints the usage text at its turn; the scanner has reported the
// rest itself.
void on_fault(void *context, int result, int, char *argv[]) {
    const run_streams &run = *static_cast<const run_streams *>(context);
    if (result == 'h') print_usage(run.program, run.out);
    else if (result == ':' && veld::optopt == 0) report_missing_value(argv, run.err);
}

// A run whose output was lost must not report success.
int checked_exit(std::FILE *out, std::FILE *err) {
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fputs("OUTPUT write failed.", err);
        return 1;
    }
    return 0;
}

int fail(const char *message, std::FILE *out) {
    std::fputs(message, out);
    return -1;
}

}  // namespace

int run_veldconf(int argc, char *argv[], std::FILE *out, std::FILE *err) {
    run_streams streams{argc > 0 && argv[0] != nullptr ? argv[0] : "veldconf", out, err};
    tool_settings run{};
    veld::reason refusal;
    if (!read_tool_settings(argc, argv, run, {on_fault, &streams}, refusal)) {
        return fail(refusal.text, out);
    }
    // -h alone asks for help, not for a configuration.
    if (run.help_seen && !run.settings_seen) return checked_exit(out, err);
    if (!check_needed_settings(run, refusal)) return fail(refusal.text, out);
    if (!run.port_given) run.config.port = draw_port();

    unsigned char chunk[veld::chunk_len];
    if (!veld::write_config_commands(chunk, sizeof chunk, run.config, out)) {
        return fail("CONFIG exceed.", out);
    }
    return checked_exit(out, err);
}
