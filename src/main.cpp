// veldconf: turns a CoAP client's settings into the AT+VELDCONF command
// lines that configure the module.
#include "main.hpp"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "config.hpp"

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

namespace {

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

// The streams of the run and what it has read.
struct run_state {
    std::FILE *out;
    std::FILE *err;
    void (*on_fault)(int result, int argc, char *argv[]);
    tool_settings &settings;
};

// The values the usage text announces; the port is drawn later, if needed.
tool_settings initial_settings() {
    tool_settings s{};
    s.config.lifetime = 300;
    s.config.block1 = 5;
    s.config.block2 = 5;
    s.config.block2th = 2;
    return s;
}

// A different number on every run. The random device may be missing (it
// throws then): the clock and where the stack landed still differ per run.
std::uint32_t per_run_entropy() {
    try {
        std::random_device source;
        return source();
    } catch (...) {
        const int here = 0;
        const auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
        return static_cast<std::uint32_t>(ticks) ^
               static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&here) >> 4);
    }
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi's reading (white space, a sign, digits up to the first other
// character), built in 32 bits with a defined wrap-around.
std::uint32_t parse_number(const char *text) {
    while (is_space(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    std::uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<std::uint32_t>(*text - '0');
    }
    return negative ? 0u - value : value;
}

// The check sees the stored 8-bit value, so -b 256 passes as 0.
const char *store_checked(std::uint8_t &field, const char *arg,
                          std::uint8_t limit, const char *message) {
    field = static_cast<std::uint8_t>(parse_number(arg));
    return field > limit ? message : nullptr;
}

// A text longer than its 16-bit length field can describe is refused.
bool set_text(const char *text, const char *&field, std::uint32_t &len) {
    const std::size_t n = std::strlen(text);
    if (n > veld::max_text_len) return false;
    field = text;
    len = static_cast<std::uint32_t>(n);
    return true;
}

}  // namespace

const char *store_tool_option(char c, const char *arg, tool_settings &run) {
    veld::client_config &config = run.config;
    switch (c) {
        case 'b':
            return store_checked(config.boot, arg, 1, "BOOTMODE exceed.");
        case 'e':
            return store_checked(config.encrypt, arg, 1, "ENCRYPTMODE exceed.");
        case 'd':
            config.debug = static_cast<std::int32_t>(parse_number(arg));
            return nullptr;
        case 'p':
            config.port = static_cast<std::uint16_t>(parse_number(arg));
            run.port_given = true;
            return nullptr;
        case 't':
            config.lifetime = static_cast<std::int32_t>(parse_number(arg));
            return nullptr;
        case 'i':
            run.uri_given = true;
            return set_text(arg, config.uri, config.uri_len) ? nullptr
                                                              : "URI exceed.";
        case 'n':
            run.name_given = true;
            return set_text(arg, config.ep_name, config.ep_name_len)
                       ? nullptr
                       : "NAME exceed.";
        case 'u':
            return store_checked(config.block1, arg, 6, "BLOCKSIZE exceed.");
        case 'g':
            return store_checked(config.block2, arg, 6, "BLOCKSIZE exceed.");
        case 'x':
            return store_checked(config.block2th, arg, 2, "BLOCKSIZE exceed.");
    }
    return nullptr;
}

namespace {

bool is_tool_option(char c) {
    return c != '\0' && c != ':' && std::strchr(tool_short_options, c) != nullptr;
}

// The long block options take their value only attached (--block1=5); one
// given without it is reported like any missing argument, by the name as
// typed, which follows the last dash of the option's word.
void report_missing_value(char *const argv[], std::FILE *err) {
    const char *name = std::strrchr(argv[veld::optind - 1], '-') + 1;
    std::fprintf(err, "option requires an argument -- %s", name);
}

// Handles one scanner result; returns the failure message, or null.
const char *handle_option(char c, int argc, char *argv[], const char *program,
                          run_state &run) {
    if (!is_tool_option(c)) {  // the scanner has reported it
        if ((c == '?' || c == ':') && run.on_fault != nullptr) run.on_fault(c, argc, argv);
        return nullptr;
    }
    if (c == 'h') {
        run.settings.help_seen = true;
        if (run.on_fault != nullptr) run.on_fault(c, argc, argv);
        else print_usage(program, run.out);
        return nullptr;
    }
    if (veld::optarg == nullptr) {
        veld::optopt = 0;  // the scanner took the option: it is named by its word
        if (run.on_fault != nullptr) run.on_fault(':', argc, argv);
        else report_missing_value(argv, run.err);
        return nullptr;
    }
    run.settings.settings_seen = true;
    return store_tool_option(c, veld::optarg, run.settings);
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

const char *missing_setting(const tool_settings &s) {
    if (!s.uri_given) return "URI missing.";
    if (!s.name_given) return "NAME missing.";
    return nullptr;
}

const char *read_tool_settings(int argc, char *argv[], std::FILE *out, std::FILE *err,
                               tool_settings &settings,
                               void (*on_fault)(int result, int argc, char *argv[])) {
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "veldconf";
    settings = initial_settings();
    run_state run{out, err, on_fault, settings};
    for (;;) {
        const auto c = static_cast<signed char>(veld::getopt_long(
            argc, argv, tool_short_options, tool_long_options, nullptr));
        if (c == -1) return nullptr;
        if (const char *failure = handle_option(c, argc, argv, program, run)) return failure;
    }
}

std::uint16_t draw_port() { return dynamic_port(per_run_entropy()); }

std::uint16_t dynamic_port(std::uint32_t entropy) {
    return static_cast<std::uint16_t>(49152 + entropy % 16384);
}

int run_veldconf(int argc, char *argv[], std::FILE *out, std::FILE *err) {
    tool_settings run{};
    if (const char *failure = read_tool_settings(argc, argv, out, err, run, nullptr)) {
        return fail(failure, out);
    }
    // -h alone asks for help, not for a configuration.
    if (run.help_seen && !run.settings_seen) return checked_exit(out, err);
    if (const char *missing = missing_setting(run)) return fail(missing, out);
    if (!run.port_given) run.config.port = draw_port();

    unsigned char chunk[veld::chunk_len];
    if (!veld::write_config_commands(chunk, sizeof chunk, run.config, out)) {
        return fail("CONFIG exceed.", out);
    }
    return checked_exit(out, err);
}

#ifndef VELDCONF_NO_MAIN  // the in-process fuzzer brings its own entry
int main(int argc, char *argv[]) {
#ifdef _WIN32
    // A text-mode stream would turn each line's CR LF into CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    // The largest blob is 256 KiB of hex: written in pieces of 16 KiB, as
    // each fresh page of a larger buffer costs more than the writes it saves.
    static char out_buffer[1 << 14];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    return run_veldconf(argc, argv, stdout, stderr);
}
#endif
