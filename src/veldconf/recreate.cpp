#include "recreate.hpp"

#include <cstdio>
#include <cstring>

namespace veld {

namespace {

struct writer {
    void (*put)(void *context, const char *text, std::size_t len);
    void *context;
    void text(const char *t, std::size_t len) const { put(context, t, len); }
    void text(const char *t) const { put(context, t, std::strlen(t)); }
};

bool shell_safe(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("@%+=:,./_-", c) != nullptr;
}

// Quotes a text for a POSIX shell: bare when safe, in single quotes, or as
// $'...' with \xNN escapes when it holds bytes a terminal would not show.
void shell_word(const writer &out, const char *text, std::size_t len) {
    bool safe = len > 0;
    bool plain = true;
    for (std::size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        safe = safe && shell_safe(c);
        plain = plain && c >= 0x20 && c < 0x7F;
    }
    if (safe) {
        out.text(text, len);
    } else if (plain) {
        out.text("'");
        for (std::size_t i = 0; i < len; ++i) {
            if (text[i] == '\'') out.text("'\\''");
            else out.text(text + i, 1);
        }
        out.text("'");
    } else {
        out.text("$'");
        for (std::size_t i = 0; i < len; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            char escaped[8];
            if (c == '\'' || c == '\\') std::snprintf(escaped, sizeof escaped, "\\%c", c);
            else if (c >= 0x20 && c < 0x7F) std::snprintf(escaped, sizeof escaped, "%c", c);
            else std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out.text(escaped);
        }
        out.text("'");
    }
}

}  // namespace

void write_command(const client_config &c, void (*put)(void *context, const char *text, std::size_t len),
                   void *context) {
    const writer out{put, context};
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "veldconf -b %d -e %d -d %d -p %d -t %ld -i ", c.boot,
                  c.encrypt, static_cast<int>(c.debug), c.port, static_cast<long>(c.lifetime));
    out.text(numbers);
    shell_word(out, c.uri, c.uri_len);
    out.text(" -n ");
    shell_word(out, c.ep_name, c.ep_name_len);
    std::snprintf(numbers, sizeof numbers, " -u %d -g %d -x %d", c.block1, c.block2, c.block2th);
    out.text(numbers);
}

}  // namespace veld
