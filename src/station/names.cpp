#include "names.hpp"

#include <cstring>

namespace veld {

namespace {

// Walks a format, handing each piece of the name to put (a field's value,
// a brace, a literal byte); false with the fault.
template <typename Put>
bool walk_format(const char *format, const identity &id, Put put, reason &why) {
    for (const char *at = format; *at != '\0';) {
        if (std::strncmp(at, "{{", 2) == 0 || std::strncmp(at, "}}", 2) == 0) {
            put(at, 1);
            at += 2;
        } else if (std::strncmp(at, "{imei}", 6) == 0 || std::strncmp(at, "{imsi}", 6) == 0) {
            const char *field = at[3] == 'e' ? id.imei : id.imsi;
            put(field, std::strlen(field));
            at += 6;
        } else if (*at == '{') {
            const char *close = std::strchr(at, '}');
            if (close == nullptr) return fail(why, "a { that opens no field (write {{ for a brace)");
            return fail(why, "unknown field %.*s", static_cast<int>(close - at + 1), at);
        } else {
            put(at, 1);
            ++at;
        }
    }
    return true;
}

}  // namespace

bool check_name_format(const char *format, reason &why) {
    for (const char *at = format; *at != '\0'; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c < 0x20 || c == 0x7F) return fail(why, "a control byte (\\x%02X) in the format", c);
    }
    // A field's value is handed over from the identity itself: a piece from
    // there, not from the format, is a field.
    bool names_module = false;
    const identity marks{"e", "s"};
    const bool known = walk_format(format, marks, [&](const char *text, std::size_t n) {
        names_module = names_module || (n == 1 && text == marks.imei) || (n == 1 && text == marks.imsi);
    }, why);
    if (!known) return false;
    return names_module || fail(why, "the format names no module: it needs {imei} or {imsi}");
}

std::size_t make_name(const char *format, const identity &id, char *out, std::size_t capacity) {
    std::size_t len = 0;
    reason unused;
    walk_format(format, id, [&](const char *text, std::size_t n) {
        if (len + n <= capacity) std::memcpy(out + len, text, n);
        len += n;
    }, unused);
    return len;
}

bool give_name(names_given &names, const std::string &name, const std::string &module,
               const std::string &device, reason &why) {
    const auto taken = names.given.find(name);
    if (taken == names.given.end()) {
        names.given.emplace(name, std::make_pair(module, device));
        return true;
    }
    if (taken->second.first == module) {
        taken->second.second = device;
        return true;
    }
    return fail(why, "endpoint name %s already given to %s", name.c_str(), taken->second.second.c_str());
}

}  // namespace veld
