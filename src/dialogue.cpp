#include "dialogue.hpp"

#include <chrono>
#include <cstring>

namespace veld {

namespace {

using clock = std::chrono::steady_clock;

void log_line(dialogue &d, char marker, const char *text, std::size_t len) {
    if (d.log == nullptr) return;
    char prefix[transcript_marker_at + 8];
    std::fwrite(prefix, 1, transcript_prefix(prefix, marker), d.log);
    std::fwrite(text, 1, len, d.log);
    std::fputc('\n', d.log);
    std::fflush(d.log);  // a transcript must survive the run that wrote it
}

void keep_info(dialogue &d, const char *text, std::size_t len) {
    if (d.verbose != nullptr) {
        std::fprintf(d.verbose, "%s: module says: %.*s\n", d.program, static_cast<int>(len), text);
    }
    if (d.info_count == max_info_lines) return;
    const std::size_t n = len < max_info_len ? len : max_info_len;
    std::memcpy(d.info[d.info_count], text, n);
    d.info_len[d.info_count++] = n;
}

// Takes the next whole line out of pending into d.line; false if there is
// none yet. A line longer than the buffer is cut there.
bool next_line(dialogue &d) {
    std::size_t end = 0;
    while (end < d.pending_len && d.pending[end] != '\r' && d.pending[end] != '\n') ++end;
    const bool ended = end < d.pending_len;
    if (!ended && d.pending_len < sizeof d.pending) return false;
    std::memcpy(d.line, d.pending, end);
    d.line_len = end;
    const std::size_t used = ended ? end + 1 : end;
    std::memmove(d.pending, d.pending + used, d.pending_len - used);
    d.pending_len -= used;
    return true;
}

bool same(const char *a, std::size_t a_len, const char *b, std::size_t b_len) {
    return a_len == b_len && std::memcmp(a, b, a_len) == 0;
}

long remaining_ms(clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    return left.count() > 0 ? static_cast<long>(left.count()) : 0;
}

}  // namespace

outcome exchange(dialogue &d, const char *command, std::size_t len, const char *line_end) {
    d.info_count = 0;
    d.line_len = 0;
    log_line(d, sent_marker, command, len);
    if (!d.io.write(d.io.context, command, len) ||
        !d.io.write(d.io.context, line_end, std::strlen(line_end))) {
        return outcome::port_error;
    }
    bool echo_seen = false;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(d.timeout_ms);
    for (;;) {
        while (next_line(d)) {
            if (d.line_len == 0) continue;
            log_line(d, received_marker, d.line, d.line_len);
            if (!echo_seen && same(d.line, d.line_len, command, len)) {
                echo_seen = true;
            } else if (is_final_result(d.line, d.line_len)) {
                return is_ok(d.line, d.line_len) ? outcome::ok : outcome::refused;
            } else {
                keep_info(d, d.line, d.line_len);
            }
        }
        const long wait = remaining_ms(deadline);
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
    for (int i = 0; i < tries; ++i) {
        result = exchange(d, "AT", 2, "\r");
        if (result != outcome::timeout) return result;
    }
    return result;
}

}  // namespace veld
