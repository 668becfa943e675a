#include "names.hpp"

#include <cstring>

namespace veld {

namespace {

// Walks a format, handing each piece of the name to put (a field's value,
// a brace, a run of literal text); returns the fault, or null.
template <typename Put>
const char *walk_format(const char *format, const identity &id, Put put) {
    for (const char *at = format; *at != '\0';) {
        if (std::strncmp(at, "{{", 2) == 0 || std::strncmp(at, "}}", 2) == 0) {
            put(at, 1);
            at += 2;
        } else if (std::strncmp(at, "{imei}", 6) == 0 || std::strncmp(at, "{imsi}", 6) == 0) {
            const char *field = at[3] == 'e' ? id.imei : id.imsi;
            put(field, std::strlen(field));
            at += 6;
        } else if (*at == '{') {
            return std::strchr(at, '}') != nullptr ? "a field other than {imei} and {imsi}"
                                                   : "a { that opens no field (write {{ for a brace)";
        } else {
            put(at, 1);
            ++at;
        }
    }
    return nullptr;
}

}  // namespace

bool check_name_format(const char *format, reason &why) {
    const char *fault = walk_format(format, identity{}, [](const char *, std::size_t) {});
    return fault == nullptr || fail(why, "%s", fault);
}

std::size_t make_name(const char *format, const identity &id, char *out, std::size_t capacity) {
    std::size_t len = 0;
    walk_format(format, id, [&](const char *text, std::size_t n) {
        if (len + n <= capacity) std::memcpy(out + len, text, n);
        len += n;
    });
    return len;
}

}  // namespace veld
