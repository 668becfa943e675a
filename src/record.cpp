#include "record.hpp"

#include <cstring>
#include <ctime>

namespace veld {

namespace {

// The field a format names at format[0] == '{', and its length in the
// format; null for none.
const char *field_at(const char *format, const identity &id, std::size_t &used) {
    if (std::strncmp(format, "{imei}", 6) == 0) {
        used = 6;
        return id.imei;
    }
    if (std::strncmp(format, "{imsi}", 6) == 0) {
        used = 6;
        return id.imsi;
    }
    return nullptr;
}

}  // namespace

const char *check_name_format(const char *format) {
    const identity none{};
    for (const char *at = format; *at != '\0';) {
        std::size_t used = 0;
        if (std::strncmp(at, "{{", 2) == 0 || std::strncmp(at, "}}", 2) == 0) {
            at += 2;
        } else if (*at == '{') {
            if (field_at(at, none, used) == nullptr) {
                return std::strchr(at, '}') != nullptr ? "a field other than {imei} and {imsi}"
                                                       : "a { that opens no field (write {{ for a brace)";
            }
            at += used;
        } else {
            ++at;
        }
    }
    return nullptr;
}

std::size_t make_name(const char *format, const identity &id, char *out, std::size_t capacity) {
    std::size_t len = 0;
    auto put = [&](const char *text, std::size_t n) {
        if (len + n <= capacity) std::memcpy(out + len, text, n);
        len += n;
    };
    for (const char *at = format; *at != '\0';) {
        std::size_t used = 0;
        if (std::strncmp(at, "{{", 2) == 0 || std::strncmp(at, "}}", 2) == 0) {
            put(at, 1);
            at += 2;
        } else if (const char *field = *at == '{' ? field_at(at, id, used) : nullptr) {
            put(field, std::strlen(field));
            at += used;
        } else {
            put(at, 1);
            ++at;
        }
    }
    return len;
}

void write_field(std::FILE *out, const char *text, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c > 0x7E || c == '\\') {
            std::fprintf(out, "\\x%02X", c);
        } else {
            std::fputc(c, out);
        }
    }
}

void write_json_string(std::FILE *out, const char *text, std::size_t len) {
    std::fputc('"', out);
    write_json_chars(out, text, len);
    std::fputc('"', out);
}

void write_json_chars(std::FILE *out, const char *text, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            std::fputc('\\', out);
            std::fputc(c, out);
        } else if (c < 0x20 || c > 0x7E) {
            std::fprintf(out, "\\u%04X", c);
        } else {
            std::fputc(c, out);
        }
    }
}

void format_utc(long long epoch_ms, char *out, std::size_t capacity) {
    const std::time_t seconds = static_cast<std::time_t>(epoch_ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    const std::size_t n = std::strftime(out, capacity, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(out + n, capacity - n, ".%03dZ", static_cast<int>(epoch_ms % 1000));
}

}  // namespace veld
