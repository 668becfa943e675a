#include "dialogue.hpp"

#include <cerrno>
#include <cstring>

#include "timestamp.hpp"

namespace veld {

namespace {

void log_line(dialogue &d, char marker, const char *text, std::size_t len) {
    if (d.log == nullptr) return;
    char prefix[transcript_prefix_len];
    transcript_prefix(wall_clock_ms(), marker, prefix);
    std::fwrite(prefix, 1, sizeof prefix, d.log);
    std::fwrite(text, 1, len, d.log);
    std::fputc('\n', d.log);
    // A transcript must survive the run that wrote it, or its loss be known.
    if (std::fflush(d.log) != 0 && d.log_error == 0) d.log_error = errno != 0 ? errno : EIO;
}

// A message of what the module said, as one piece: its bytes escaped, so
// that none reaches a terminal raw.
struct message {
    char text[64 + 4 * max_response_len];
    std::size_t len;
};

void add(void *context, const char *text, std::size_t len) {
    message &m = *static_cast<message *>(context);
    const std::size_t n = len < sizeof m.text - m.len ? len : sizeof m.text - m.len;
    std::memcpy(m.text + m.len, text, n);
    m.len += n;
}

void show(dialogue &d, const char *what, const char *text, std::size_t len) {
    if (d.verbose.put == nullptr) return;
    message m{};
    const text_sink out{add, &m};
    add(&m, d.program, std::strlen(d.program));
    add(&m, what, std::strlen(what));
    write_field(out, text, len);
    add(&m, "\n", 1);
    d.verbose.put(d.verbose.context, m.text, m.len);
}

void keep_info(dialogue &d, const char *text, std::size_t len) {
    show(d, ": module says: ", text, len);
    if (d.info_count == max_info_lines) return;
    const std::size_t n = len < max_info_len ? len : max_info_len;
    std::memcpy(d.info[d.info_count], text, n);
    d.info_len[d.info_count++] = n;
}

// A line that cannot answer the command in hand: to the transcript and to
// --verbose, and no further.
void leftover(dialogue &d, const char *text, std::size_t len) {
    log_line(d, leftover_marker, text, len);
    show(d, ": left over from an earlier command: ", text, len);
}

// Moves the first used bytes of pending, of which the line's are len, into
// d.line; old tells whether they began before the current command was sent.
void take_pending(dialogue &d, std::size_t len, std::size_t used, bool &old) {
    d.scanned = 0;
    std::memcpy(d.line, d.pending, len);
    d.line_len = len;
    old = d.pending_before > 0;
    d.pending_before = d.pending_before > used ? d.pending_before - used : 0;
    std::memmove(d.pending, d.pending + used, d.pending_len - used);
    d.pending_len -= used;
}

// Takes the next whole line out of pending into d.line; false if there is
// none yet. A line longer than the buffer is passed over whole, up to its
// line end, as a leftover: no part of it is a line of its own, so its
// tail can never read as a result code or an identity.
bool next_line(dialogue &d, bool &old) {
    for (;;) {
        // A line that arrives a byte at a time is looked through once.
        std::size_t end = d.scanned;
        while (end < d.pending_len && d.pending[end] != '\r' && d.pending[end] != '\n') ++end;
        const bool ended = end < d.pending_len;
        d.scanned = end;
        if (!ended && d.pending_len < sizeof d.pending) return false;
        take_pending(d, end, ended ? end + 1 : end, old);
        if (!d.overlong && ended) return true;
        if (d.line_len > 0) leftover(d, d.line, d.line_len);
        d.line_len = 0;
        d.overlong = !ended;
    }
}

bool same(const char *a, std::size_t a_len, const char *b, std::size_t b_len) {
    return a_len == b_len && std::memcmp(a, b, a_len) == 0;
}

long long deadline_after(const dialogue &d, long ms) { return d.io.now_ms(d.io.context) + ms; }

long remaining_ms(const dialogue &d, long long deadline) {
    const long long left = deadline - d.io.now_ms(d.io.context);
    return left > 0 ? static_cast<long>(left) : 0;
}

// Reads until the port has been quiet for settle_ms: every line that comes
// is a leftover. A part line stays pending, so that the next command's
// exchange knows it began before that command.
outcome settle(dialogue &d) {
    const long long deadline = deadline_after(d, d.timeout_ms);
    for (;;) {
        bool old = false;
        while (next_line(d, old)) {
            if (d.line_len > 0) leftover(d, d.line, d.line_len);
        }
        const long left = remaining_ms(d, deadline);
        const long n = left == 0 ? 0
                                 : d.io.read(d.io.context, d.pending + d.pending_len,
                                             sizeof d.pending - d.pending_len,
                                             left < settle_ms ? left : settle_ms);
        if (n == -2) return outcome::interrupted;
        if (n < 0) return outcome::port_error;
        if (n == 0) break;
        d.pending_len += static_cast<std::size_t>(n);
    }
    return outcome::ok;
}

}  // namespace

outcome exchange(dialogue &d, const char *command, std::size_t len, const char *line_end) {
    d.info_count = 0;
    d.line_len = 0;
    d.pending_before = d.pending_len;
    log_line(d, sent_marker, command, len);
    // The command and its line end must be taken within the timeout too.
    long long deadline = deadline_after(d, d.timeout_ms);
    int written = d.io.write(d.io.context, command, len, d.timeout_ms);
    if (written == 0) {
        written = d.io.write(d.io.context, line_end, std::strlen(line_end), remaining_ms(d, deadline) + 1);
    }
    if (written == -3) return outcome::write_timeout;
    if (written != 0) return written == -2 ? outcome::interrupted : outcome::port_error;
    bool echo_seen = false;
    deadline = deadline_after(d, d.timeout_ms);
    for (;;) {
        bool old = false;
        while (next_line(d, old)) {
            if (d.line_len == 0) continue;
            const bool final = is_final_result(d.line, d.line_len);
            if (final && (old || (d.echoes && !echo_seen))) {
                leftover(d, d.line, d.line_len);
                continue;
            }
            log_line(d, received_marker, d.line, d.line_len);
            if (!echo_seen && !old && same(d.line, d.line_len, command, len)) {
                echo_seen = d.echoes = true;
            } else if (final) {
                return is_ok(d.line, d.line_len) ? outcome::ok : outcome::refused;
            } else {
                keep_info(d, d.line, d.line_len);
            }
        }
        const long wait = remaining_ms(d, deadline);
        if (wait == 0) return outcome::timeout;
        const long n = d.io.read(d.io.context, d.pending + d.pending_len,
                                 sizeof d.pending - d.pending_len, wait);
        if (n == -2) return outcome::interrupted;
        if (n < 0) return outcome::port_error;
        d.pending_len += static_cast<std::size_t>(n);
    }
}

outcome probe(dialogue &d, int tries) {
    outcome result = outcome::timeout;
    for (int i = 0; i < tries && result == outcome::timeout; ++i) {
        result = exchange(d, "AT", 2, "\r");
    }
    return result == outcome::ok ? settle(d) : result;
}

outcome send_config(dialogue &d, const framing &f, std::size_t &acknowledged,
                    void (*before_line)(const void *context, std::size_t k, std::size_t total),
                    const void *context) {
    for (acknowledged = 0; acknowledged < f.line_count; ++acknowledged) {
        std::size_t len = 0;
        const char *line = command_line(f, acknowledged, len);
        if (before_line != nullptr) before_line(context, acknowledged, f.line_count);
        const outcome result = exchange(d, line, len, "\r\n");
        if (result != outcome::ok) return result;
    }
    return outcome::ok;
}

}  // namespace veld
