// Fuzzes the conversation with the bytes a module sends back: any bytes,
// split at any points, against the in-memory port of the unit tests (on
// its own clock, so that no wait sleeps), while the probe and a three-line
// configuration go out. OK must be counted only
// from a whole OK line that arrived after its command was written, and
// nothing more may be written after a refusal or a timeout.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "check.hpp"
#include "dialogue.hpp"
#include "memory_port.hpp"
#include "three_lines.hpp"

namespace {

bool line_end(char c) { return c == '\r' || c == '\n'; }

// Whether got[from, to) holds a whole OK line (its end included) that
// began at or after from.
bool ok_line_within(const std::string &got, std::size_t from, std::size_t to) {
    if (from > 0 && !line_end(got[from - 1])) {
        from = got.find_first_of("\r\n", from);  // the line under way is older
        if (from == std::string::npos) return false;
    }
    for (std::size_t at = got.find("OK", from); at != std::string::npos && at + 2 < to;
         at = got.find("OK", at + 1)) {
        if ((at == 0 || line_end(got[at - 1])) && line_end(got[at + 2])) return true;
    }
    return false;
}

struct run {
    memory_port port;
    veld::dialogue *d;
    std::size_t written_at = 0;  // how much of the module's bytes had been read at the last write
};

int write_watched(void *context, const char *data, std::size_t len, long timeout_ms) {
    run &r = *static_cast<run *>(context);
    r.written_at = r.port.delivered.size();
    return write_memory(&r.port, data, len, timeout_ms);
}

long read_watched(void *context, char *buffer, std::size_t capacity, long timeout_ms) {
    return read_memory(&static_cast<run *>(context)->port, buffer, capacity, timeout_ms);
}

long long clock_watched(void *context) { return memory_clock(&static_cast<run *>(context)->port); }

// The last line's exchange has just ended with OK.
void check_acknowledged(const run &r) {
    check(r.d->line_len == 2 && std::memcmp(r.d->line, "OK", 2) == 0);
    check(ok_line_within(r.port.delivered, r.written_at, r.port.delivered.size()));
}

void before_line(const void *context, std::size_t k, std::size_t) {
    if (k > 0) check_acknowledged(*static_cast<const run *>(context));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const veld::framing *lines = three_lines();
    check(lines != nullptr);
    const veld::framing &f = *lines;
    static run r;
    r = run{};
    // Pieces: a length byte, then that many bytes; a length of 0 is a wait
    // that passes with nothing.
    for (std::size_t at = 0; at < size && r.port.pieces.size() < 64;) {
        const std::size_t len = data[at++];
        const std::size_t n = len < size - at ? len : size - at;
        r.port.pieces.emplace_back(reinterpret_cast<const char *>(data + at), n);
        at += n;
    }
    static veld::dialogue d;
    d = veld::dialogue{};
    d.io = {&r, read_watched, write_watched, clock_watched};
    d.timeout_ms = 1000;  // on the port's clock: a wait costs nothing
    d.program = "dialogue_fuzz";
    r.d = &d;

    veld::outcome result = veld::probe(d, 3);
    const std::string &sent = r.port.written;
    check(sent == "AT\r" || sent == "AT\rAT\r" || sent == "AT\rAT\rAT\r");
    if (result != veld::outcome::ok) return 0;
    std::string expected = sent;
    std::size_t acknowledged = 0;
    result = veld::send_config(d, f, acknowledged, before_line, &r);
    if (result == veld::outcome::ok) check_acknowledged(r);
    check(result == veld::outcome::ok ? acknowledged == 3 : acknowledged < 3);
    for (std::size_t k = 0; k < (result == veld::outcome::ok ? 3 : acknowledged + 1); ++k) {
        std::size_t len = 0;
        expected.append(veld::command_line(f, k, len), len).append("\r\n");
    }
    check(sent == expected);
    return 0;
}
