// The AT conversation with a module over any byte link: send a command
// line, then read response lines (ending in CR, LF or both) until a final
// result code (OK, ERROR, +CME ERROR: n, +CMS ERROR: n) or the timeout.
// A line longer than max_response_len is passed over whole, as a
// leftover. The echo of the command is skipped; other lines are kept as the
// command's information lines (unsolicited ones among them). A final result
// code that cannot be the command's (its line began before the command was
// sent, or, once the module has been seen to echo, it comes before the
// echo) is a leftover of an earlier command: logged, never counted. Knows
// nothing of the platform: it runs over a link (link.hpp), a serial port
// or, in the tests, bytes in memory on a clock of their own.
#pragma once

#include <cstddef>
#include <cstdio>

#include "framing.hpp"
#include "link.hpp"

namespace veld {

enum class outcome { ok, refused, timeout, write_timeout, port_error, interrupted };

constexpr std::size_t max_response_len = max_line_len;
constexpr std::size_t max_info_lines = 8;
constexpr std::size_t max_info_len = 256;

// After the probe, the port must be this long without a byte before
// anything is sent: what still arrives answers an earlier probe.
constexpr long settle_ms = 100;

struct dialogue {
    link io;
    long timeout_ms;
    std::FILE *log;      // the transcript, or null
    int log_error;       // the system's error of a transcript write that failed, or 0
    text_sink verbose;   // where unsolicited lines are shown (each message one piece), or put null
    const char *program;
    char pending[max_response_len];  // received, not yet a whole line
    std::size_t pending_len;
    std::size_t scanned;  // of those, looked through for a line end already
    std::size_t pending_before;  // of those, received before the current command went out
    bool overlong;               // the start of pending is the rest of a line too long to keep
    bool echoes;                 // the module has echoed a command
    char line[max_response_len];  // the last whole line: on refusal, the module's words
    std::size_t line_len;
    char info[max_info_lines][max_info_len];  // the last command's other lines
    std::size_t info_len[max_info_lines];
    std::size_t info_count;
};

// Writes command (without a line end) and line_end, then waits for its
// final result code.
outcome exchange(dialogue &d, const char *command, std::size_t len, const char *line_end);

// "AT" until OK, at most tries times; after an OK, waits until the port
// has been quiet for settle_ms (at most the timeout), logging what arrives
// as leftovers.
outcome probe(dialogue &d, int tries);

// Sends the lines of f in order, each only after the one before was
// answered OK, and stops at the first other outcome, which it returns;
// acknowledged counts the lines answered OK. before_line, when not null, is
// called with context as line k (from 0) of total goes out.
outcome send_config(dialogue &d, const framing &f, std::size_t &acknowledged,
                    void (*before_line)(const void *context, std::size_t k, std::size_t total),
                    const void *context);

}  // namespace veld
