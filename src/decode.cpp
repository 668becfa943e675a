// veldconf-decode: reads AT+VELDCONF lines back into the settings they
// carry, and prints the veldconf command that recreates them (or, with
// --json, the fields). Every framing or blob fault is named with its line
// and nothing is decoded; doubtful but valid values are warnings.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config.hpp"
#include "options.hpp"

namespace {

const char program[] = "veldconf-decode";
const char usage[] =
    "Usage: veldconf-decode [--json] [FILE]\n"
    "Reads AT+VELDCONF lines (from FILE, or standard input when FILE is\n"
    "absent or -) and prints the veldconf command that recreates them, or\n"
    "with --json the settings they carry.\n";

// The longest line of a valid chunk, with room to tell it from a longer one.
constexpr std::size_t max_line_len =
    sizeof veld::command_prefix + 2 * veld::chunk_len + 32;

void report(long line, const char *what, const char *message) {
    if (line > 0) {
        std::fprintf(stderr, "%s: line %ld: %s%s\n", program, line, what, message);
    } else {
        std::fprintf(stderr, "%s: %s%s\n", program, what, message);
    }
}

void warn(long line, const char *message) { report(line, "warning: ", message); }

bool starts_with(const char *text, std::size_t len, const char *prefix) {
    const std::size_t n = std::strlen(prefix);
    return len >= n && std::memcmp(text, prefix, n) == 0;
}

// One input line without its line end (LF or CR LF). Returns false at the
// end of the input; a line longer than the buffer is cut and marked.
struct line_reader {
    std::FILE *in;
    long number = 0;
    char text[max_line_len];
    std::size_t len = 0;
    bool too_long = false;

    bool next() {
        len = 0;
        too_long = false;
        int c = std::getc(in);
        if (c == EOF) return false;
        ++number;
        for (; c != EOF && c != '\n'; c = std::getc(in)) {
            if (len < sizeof text) {
                text[len++] = static_cast<char>(c);
            } else {
                too_long = true;
            }
        }
        if (len > 0 && text[len - 1] == '\r' && !too_long) --len;
        return true;
    }
    bool blank() const {
        for (std::size_t i = 0; i < len; ++i) {
            if (text[i] != ' ' && text[i] != '\t') return false;
        }
        return !too_long;
    }
    bool starts_with(const char *prefix) const {
        return ::starts_with(text, len, prefix);
    }
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads decimal digits at text[at...]: false if there are none, or too many.
bool read_decimal(const char *text, std::size_t len, std::size_t &at,
                  unsigned long &value) {
    const std::size_t start = at;
    value = 0;
    for (; at < len && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (at - start >= 9) return false;
        value = value * 10 + static_cast<unsigned long>(text[at] - '0');
    }
    return at > start;
}

// The chunks read so far, joined into the blob.
struct framing {
    unsigned char blob[veld::max_blob_len];
    std::size_t blob_len = 0;
    unsigned long next_index = 1;
    bool started = false;
    bool finished = false;
    bool lower_case_seen = false;
};

// Checks one AT line and appends its bytes; returns the fault, or null.
const char *read_chunk(const line_reader &line, framing &f) {
    if (line.too_long) return "longer than any AT+VELDCONF line";
    const char *text = line.text;
    std::size_t at = std::strlen(veld::command_prefix);
    unsigned long count = 0;
    if (!read_decimal(text, line.len, at, count) || at >= line.len ||
        text[at] != ',') {
        return "the byte count is not a decimal number followed by a comma";
    }
    const std::size_t hex_start = ++at;
    while (at < line.len && text[at] != ',') ++at;
    const std::size_t digits = at - hex_start;
    unsigned long index = 0;
    unsigned long last = 0;
    if (at >= line.len || !read_decimal(text, line.len, ++at, index) ||
        at >= line.len || text[at] != ',' ||
        !read_decimal(text, line.len, ++at, last) || at != line.len) {
        return "expected AT+VELDCONF=count,hex,index,last";
    }
    if (digits != 2 * count) return "the byte count is not half the number of hex digits";
    if (index != f.next_index) return "the chunk index is out of order (a chunk is missing or repeated)";
    if (last > 1) return "the last-chunk flag is neither 0 nor 1";
    if (last == 0 && count != veld::chunk_len) return "a chunk before the last does not hold 1024 bytes";
    if (count > veld::chunk_len) return "a chunk holds more than 1024 bytes";
    if (f.blob_len + count > veld::max_blob_len) return "more bytes than the largest blob";
    for (std::size_t i = 0; i < digits; i += 2) {
        const int high = hex_value(text[hex_start + i]);
        const int low = hex_value(text[hex_start + i + 1]);
        if (high < 0 || low < 0) return "the hex text holds a character that is not a hex digit";
        f.blob[f.blob_len++] = static_cast<unsigned char>(16 * high + low);
    }
    for (std::size_t i = 0; i < digits; ++i) {
        if (text[hex_start + i] >= 'a' && !f.lower_case_seen) {
            f.lower_case_seen = true;
            warn(line.number, "lower-case hex digits (the tool writes upper case)");
        }
    }
    ++f.next_index;
    f.finished = last == 1;
    return nullptr;
}

// Reads every line; returns false, having named the fault, on bad framing.
bool read_commands(std::FILE *in, framing &f) {
    static line_reader line;
    line.in = in;
    while (line.next()) {
        if (line.blank()) continue;
        const bool command = line.starts_with(veld::command_prefix);
        if (!f.started && !command) continue;  // whatever comes before
        f.started = true;
        const char *fault = f.finished  ? "text after the last chunk"
                            : !command ? "not an AT+VELDCONF line"
                                       : read_chunk(line, f);
        if (fault != nullptr) {
            report(line.number, "", fault);
            return false;
        }
    }
    if (!f.started) {
        report(0, "", "no AT+VELDCONF line in the input");
        return false;
    }
    if (!f.finished) {
        report(line.number, "", "the input ends before the last chunk (flag 1)");
        return false;
    }
    return true;
}

bool all_digits(const char *text, std::size_t len) {
    if (len == 0) return false;
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

void check_uri(const veld::client_config &c) {
    const bool coap = starts_with(c.uri, c.uri_len, "coap://");
    const bool coaps = starts_with(c.uri, c.uri_len, "coaps://");
    if (!coap && !coaps) {
        warn(0, "the URI's scheme is neither coap:// nor coaps://");
        return;
    }
    if (coaps && !c.encrypt) warn(0, "a coaps:// URI with encryption off");
    if (coap && c.encrypt) warn(0, "a coap:// URI with encryption on");
    const std::size_t host = coap ? 7 : 8;
    if (host == c.uri_len || std::strchr(":/?#", c.uri[host]) != nullptr) {
        warn(0, "the URI has no host");
    }
}

void check_name(const veld::client_config &c) {
    const void *semicolon = std::memchr(c.ep_name, ';', c.ep_name_len);
    const std::size_t imei =
        semicolon ? static_cast<std::size_t>(static_cast<const char *>(semicolon) - c.ep_name)
                  : 0;
    if (semicolon == nullptr || !all_digits(c.ep_name, imei) ||
        !all_digits(c.ep_name + imei + 1, c.ep_name_len - imei - 1)) {
        warn(0, "the endpoint name is not digits;digits (IMEI;IMSI)");
    }
}

// Warns of what the module may reject; returns why no veldconf command
// line could make the same blob, or null.
const char *check_values(const unsigned char *blob, const veld::client_config &c) {
    const char *unmakeable = nullptr;
    if (blob[0] & ~(veld::boot_flag | veld::encrypt_flag)) {
        warn(0, "flag bits are set that the tool never sets");
        unmakeable = "flag bits the tool never sets";
    }
    if (c.block1 > 6 || c.block2 > 6 || c.block2th > 2) {
        warn(0, "a block exponent is out of range (block1, block2 0-6, block2th 0-2): a module may reject it");
        unmakeable = "a block exponent out of the tool's range";
    }
    check_uri(c);
    check_name(c);
    if (std::memchr(c.uri, '\0', c.uri_len) || std::memchr(c.ep_name, '\0', c.ep_name_len)) {
        unmakeable = "a text holding a NUL byte";
    }
    return unmakeable;
}

bool shell_safe(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("@%+=:,./_-", c) != nullptr;
}

// Quotes a text for a POSIX shell: bare when safe, in single quotes, or as
// $'...' with \xNN escapes when it holds bytes a terminal would not show.
void print_shell_word(const char *text, std::size_t len) {
    bool safe = len > 0;
    bool plain = true;
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        safe = safe && shell_safe(c);
        plain = plain && c >= 0x20 && c < 0x7F;
    }
    if (safe) {
        std::fwrite(text, 1, len, stdout);
    } else if (plain) {
        std::putchar('\'');
        for (std::size_t i = 0; i < len; ++i) {
            if (text[i] == '\'') std::fputs("'\\''", stdout);
            else std::putchar(text[i]);
        }
        std::putchar('\'');
    } else {
        std::fputs("$'", stdout);
        for (std::size_t i = 0; i < len; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c == '\'' || c == '\\') std::printf("\\%c", c);
            else if (c >= 0x20 && c < 0x7F) std::putchar(c);
            else std::printf("\\x%02X", c);
        }
        std::putchar('\'');
    }
}

void print_command(const veld::client_config &c) {
    std::printf("veldconf -b %d -e %d -d %d -p %d -t %ld -i ", c.boot, c.encrypt,
                static_cast<int>(c.debug), c.port, static_cast<long>(c.lifetime));
    print_shell_word(c.uri, c.uri_len);
    std::fputs(" -n ", stdout);
    print_shell_word(c.ep_name, c.ep_name_len);
    std::printf(" -u %d -g %d -x %d\n", c.block1, c.block2, c.block2th);
}

// Length of the valid UTF-8 sequence at text[0..len), or 0.
std::size_t utf8_sequence(const unsigned char *text, std::size_t len) {
    const unsigned char c = text[0];
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || n > len) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
    }
    const std::uint32_t cp =
        n == 1 ? c
        : n == 2 ? ((c & 0x1Fu) << 6 | (text[1] & 0x3Fu))
        : n == 3 ? ((c & 0x0Fu) << 12 | (text[1] & 0x3Fu) << 6 | (text[2] & 0x3Fu))
                 : ((c & 0x07u) << 18 | (text[1] & 0x3Fu) << 12 | (text[2] & 0x3Fu) << 6 | (text[3] & 0x3Fu));
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool valid_utf8(const char *text, std::size_t len) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    for (std::size_t i = 0; i < len;) {
        const std::size_t n = utf8_sequence(p + i, len - i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// A JSON string. Text that is not UTF-8 is escaped, and marked so by the
// field NAME_escaped: \xNN stands for a byte and \\ for a backslash.
void print_json_text(const char *name, const char *text, std::size_t len) {
    const bool escaped = !valid_utf8(text, len);
    std::printf("\"%s\": \"", name);
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"') std::fputs("\\\"", stdout);
        else if (c == '\\') std::fputs(escaped ? "\\\\\\\\" : "\\\\", stdout);
        else if (escaped && c >= 0x80) std::printf("\\\\x%02X", c);
        else if (c < 0x20 || c == 0x7F) std::printf("\\u%04X", c);
        else std::putchar(c);
    }
    std::fputs("\", ", stdout);
    if (escaped) std::printf("\"%s_escaped\": true, ", name);
}

void print_json_size(const char *name, unsigned exponent, unsigned base, unsigned limit) {
    if (exponent <= limit) std::printf("\"%s\": %u", name, 1u << (base + exponent));
    else std::printf("\"%s\": null", name);
}

void print_json(const veld::client_config &c) {
    std::printf("{\"boot\": %d, \"encrypt\": %d, \"debug\": %d, \"port\": %d, \"lifetime\": %ld, ",
                c.boot, c.encrypt, static_cast<int>(c.debug), c.port, static_cast<long>(c.lifetime));
    print_json_text("uri", c.uri, c.uri_len);
    print_json_text("ep_name", c.ep_name, c.ep_name_len);
    std::printf("\"block1\": %d, \"block2\": %d, \"block2th\": %d, ", c.block1, c.block2, c.block2th);
    print_json_size("block1_bytes", c.block1, 4, 6);
    std::fputs(", ", stdout);
    print_json_size("block2_bytes", c.block2, 4, 6);
    std::fputs(", ", stdout);
    print_json_size("block2th_bytes", c.block2th, 8, 2);
    std::fputs("}\n", stdout);
}

int decode(std::FILE *in, bool json) {
    static framing f;
    if (!read_commands(in, f)) return 1;
    veld::client_config config{};
    switch (veld::decode_config(f.blob, f.blob_len, config)) {
        case veld::blob_status::too_short:
            report(0, "", "the blob is shorter than 15 bytes");
            return 1;
        case veld::blob_status::lengths_disagree:
            report(0, "", "the blob's length fields do not account for its size");
            return 1;
        case veld::blob_status::ok:
            break;
    }
    const char *unmakeable = check_values(f.blob, config);
    if (json) {
        print_json(config);
    } else if (unmakeable != nullptr) {
        report(0, "no veldconf command line makes this blob: ", unmakeable);
        return 1;
    } else {
        print_command(config);
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char *argv[]) {
    const veld::option options[] = {
        {"json", veld::no_argument, nullptr, 'j'},
        {"help", veld::no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    bool json = false;
    for (int c; (c = veld::getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
        if (c == 'j') {
            json = true;
        } else if (c == 'h') {
            std::fputs(usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "\n%s", usage);
            return 2;
        }
    }
    if (argc - veld::optind > 1) {
        std::fputs(usage, stderr);
        return 2;
    }
    const char *path = veld::optind < argc ? argv[veld::optind] : "-";
    std::FILE *in = std::strcmp(path, "-") == 0 ? stdin : std::fopen(path, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "%s: cannot open %s\n", program, path);
        return 1;
    }
    return decode(in, json);
}
