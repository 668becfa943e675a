// veldconf-decode: reads AT+VELDCONF lines back into the settings they
// carry, and prints the veldconf command that recreates them (or, with
// --json, the fields). Every framing or blob fault is named with its line
// and nothing is decoded; doubtful but valid values are warnings.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config.hpp"
#include "framing.hpp"
#include "options.hpp"
#include "program.hpp"
#include "recreate.hpp"
#include "settings.hpp"
#include "text.hpp"

namespace {

const char program[] = "veldconf-decode";
const char usage[] =
    "Usage: veldconf-decode [--json] [FILE]\n"
    "Reads AT+VELDCONF lines (from FILE, or standard input when FILE is\n"
    "absent or -) and prints the veldconf command that recreates them, or\n"
    "with --json the settings they carry.\n";

void warn(const char *message) { std::fprintf(stderr, "%s: warning: %s\n", program, message); }

void check_uri(const veld::client_config &c) {
    const bool coap = veld::starts_with(c.uri, c.uri_len, "coap://");
    const bool coaps = veld::starts_with(c.uri, c.uri_len, "coaps://");
    if (!coap && !coaps) {
        warn("the URI's scheme is neither coap:// nor coaps://");
        return;
    }
    if (coaps && !c.encrypt) warn("a coaps:// URI with encryption off");
    if (coap && c.encrypt) warn("a coap:// URI with encryption on");
    const std::size_t host = coap ? 7 : 8;
    if (host == c.uri_len || std::strchr(":/?#", c.uri[host]) != nullptr) {
        warn("the URI has no host");
    }
}

void check_name(const veld::client_config &c) {
    const void *semicolon = std::memchr(c.ep_name, ';', c.ep_name_len);
    const std::size_t imei =
        semicolon ? static_cast<std::size_t>(static_cast<const char *>(semicolon) - c.ep_name)
                  : 0;
    if (semicolon == nullptr || !veld::all_digits(c.ep_name, imei) ||
        !veld::all_digits(c.ep_name + imei + 1, c.ep_name_len - imei - 1)) {
        warn("the endpoint name is not digits;digits (IMEI;IMSI)");
    }
}

// Warns of what the module may reject; returns why no veldconf command
// line could make the same blob, or null.
const char *check_values(const unsigned char *blob, const veld::client_config &c) {
    const char *unmakeable = nullptr;
    if (blob[0] & ~(veld::boot_flag | veld::encrypt_flag)) {
        warn("flag bits are set that the tool never sets");
        unmakeable = "flag bits the tool never sets";
    }
    if (c.block1 > max_block_exponent || c.block2 > max_block_exponent ||
        c.block2th > max_block2th_exponent) {
        warn("a block exponent is out of range (block1, block2 0-6, block2th 0-2): a module may reject it");
        unmakeable = "a block exponent out of the tool's range";
    }
    check_uri(c);
    check_name(c);
    if (std::memchr(c.uri, '\0', c.uri_len) || std::memchr(c.ep_name, '\0', c.ep_name_len)) {
        unmakeable = "a text holding a NUL byte";
    }
    return unmakeable;
}

void put_stdout(void *, const char *text, std::size_t len) { std::fwrite(text, 1, len, stdout); }

void print_command(const veld::client_config &c) {
    veld::write_command(c, put_stdout, nullptr);
    std::putchar('\n');
}

void print_json_size(const char *name, unsigned exponent, unsigned base, unsigned limit) {
    if (exponent <= limit) std::printf("\"%s\": %u", name, 1u << (base + exponent));
    else std::printf("\"%s\": null", name);
}

void print_json(const veld::client_config &c) {
    std::printf("{\"boot\": %d, \"encrypt\": %d, \"debug\": %d, \"port\": %d, \"lifetime\": %ld, ",
                c.boot, c.encrypt, static_cast<int>(c.debug), c.port, static_cast<long>(c.lifetime));
    const veld::text_sink out = veld::file_sink(stdout);
    veld::write_json_member(out, "uri", c.uri, c.uri_len);
    veld::write_json_member(out, "ep_name", c.ep_name, c.ep_name_len);
    std::printf("\"block1\": %d, \"block2\": %d, \"block2th\": %d, ", c.block1, c.block2, c.block2th);
    print_json_size("block1_bytes", c.block1, 4, max_block_exponent);
    std::fputs(", ", stdout);
    print_json_size("block2_bytes", c.block2, 4, max_block_exponent);
    std::fputs(", ", stdout);
    print_json_size("block2th_bytes", c.block2th, 8, max_block2th_exponent);
    std::fputs("}\n", stdout);
}

int decode(const char *path, bool json) {
    static veld::framing f;
    if (!veld::read_input(program, path, f)) return 1;
    veld::client_config config{};
    veld::decode_config(f.blob, f.blob_len, config);  // the reader has checked it
    const char *unmakeable = check_values(f.blob, config);
    if (json) {
        print_json(config);
    } else if (unmakeable != nullptr) {
        std::fprintf(stderr, "%s: no veldconf command line makes this blob: %s\n", program, unmakeable);
        return 1;
    } else {
        print_command(config);
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char *argv[]) {
    veld::binary_standard_streams();
    const veld::option options[] = {
        {"json", veld::no_argument, nullptr, 'j'},
        {"help", veld::no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    bool json = false;
    veld::opterr = 0;  // the messages below name the program
    for (int c; (c = veld::getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
        if (c == 'j') {
            json = true;
        } else if (c == 'h') {
            std::fputs(usage, stdout);
            return 0;
        } else {
            veld::report_bad_option(program, c, argc, argv);
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (argc - veld::optind > 1) {
        std::fprintf(stderr, "%s: one FILE at most, got %d\n%s", program,
                     argc - veld::optind, usage);
        return 2;
    }
    return decode(veld::optind < argc ? argv[veld::optind] : "-", json);
}
