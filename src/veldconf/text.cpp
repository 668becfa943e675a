#include "text.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace veld {

bool fail(reason &why, const char *format, ...) {
    va_list values;
    va_start(values, format);
    std::vsnprintf(why.text, sizeof why.text, format, values);
    va_end(values);
    return false;
}

namespace {

void put_file(void *context, const char *text, std::size_t len) {
    std::fwrite(text, 1, len, static_cast<std::FILE *>(context));
}

void put(const text_sink &out, const char *text) { out.put(out.context, text, std::strlen(text)); }

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

}  // namespace

text_sink file_sink(std::FILE *out) { return {put_file, out}; }

bool starts_with(const char *text, std::size_t len, const char *prefix) {
    const std::size_t n = std::strlen(prefix);
    return len >= n && std::memcmp(text, prefix, n) == 0;
}

bool equals(const char *text, std::size_t len, const char *word) {
    return len == std::strlen(word) && std::memcmp(text, word, len) == 0;
}

bool all_digits(const char *text, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return len > 0;
}

bool read_number(const char *text, double low, double high, double &value) {
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
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

void write_field(const text_sink &out, const char *text, std::size_t len) {
    std::size_t plain = 0;  // the run of bytes that go out as they are
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c <= 0x7E && c != '\\') continue;
        out.put(out.context, text + plain, i - plain);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        put(out, escaped);
        plain = i + 1;
    }
    out.put(out.context, text + plain, len - plain);
}

void write_field(std::FILE *out, const char *text, std::size_t len) {
    write_field(file_sink(out), text, len);
}

void write_json_member(const text_sink &out, const char *key, const char *text, std::size_t len) {
    const bool escaped = !valid_utf8(text, len);
    put(out, "\"");
    put(out, key);
    put(out, "\": \"");
    std::size_t plain = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        char escape[16];
        if (c == '"') std::snprintf(escape, sizeof escape, "\\\"");
        else if (c == '\\') std::snprintf(escape, sizeof escape, "%s", escaped ? "\\\\\\\\" : "\\\\");
        else if (escaped && c >= 0x80) std::snprintf(escape, sizeof escape, "\\\\x%02X", c);
        else if (c < 0x20 || c == 0x7F) std::snprintf(escape, sizeof escape, "\\u%04X", c);
        else continue;
        out.put(out.context, text + plain, i - plain);
        put(out, escape);
        plain = i + 1;
    }
    out.put(out.context, text + plain, len - plain);
    put(out, "\", ");
    if (escaped) {
        put(out, "\"");
        put(out, key);
        put(out, "_escaped\": true, ");
    }
}

}  // namespace veld
