#include "session.hpp"

#include <cstring>

#include "timestamp.hpp"

namespace veld {

namespace {

constexpr int probe_tries = 3;

long read_port(void *context, char *buffer, std::size_t capacity, long timeout_ms) {
    return port_read(*static_cast<serial_port *>(context), buffer, capacity, timeout_ms);
}

int write_port(void *context, const char *data, std::size_t len, long timeout_ms) {
    return port_write(*static_cast<serial_port *>(context), data, len, timeout_ms);
}

long long port_clock(void *) { return steady_clock_ms(); }

// The reason for outcome (every one but ok) during `what`, a command's
// description.
bool describe_outcome(session &s, outcome result, const char *what) {
    switch (result) {
        case outcome::refused:
            return fail(s.why, "the module refused %s: %.*s", what, static_cast<int>(s.d.line_len), s.d.line);
        case outcome::timeout:
            return fail(s.why, "no final result code to %s within %.6g s", what,
                        s.settings.timeout_ms / 1000.0);
        case outcome::write_timeout:
            return fail(s.why, "timeout writing %s", what);
        case outcome::port_error:
            return fail(s.why, "%s failed (hung up?) during %s", s.device, what);
        case outcome::interrupted:
            return fail(s.why, "interrupted during %s", what);
        case outcome::ok:
            break;
    }
    return true;
}

// An identity line: digits, perhaps after "+CGSN: " and in quotes.
bool read_identity(const char *line, std::size_t len, const char *prefix, std::size_t low,
                   std::size_t high, const char *&digits, std::size_t &count) {
    const std::size_t n = std::strlen(prefix);
    if (len >= n && std::memcmp(line, prefix, n) == 0) {
        line += n;
        len -= n;
        while (len > 0 && *line == ' ') ++line, --len;
    }
    if (len >= 2 && line[0] == '"' && line[len - 1] == '"') ++line, len -= 2;
    digits = line;
    count = len;
    return len >= low && len <= high && all_digits(line, len);
}

bool ask_identity(session &s, const char *command, const char *prefix, std::size_t low,
                  std::size_t high, const char *name, char *out) {
    dialogue &d = s.d;
    const outcome result = exchange(d, command, std::strlen(command), "\r");
    if (result != outcome::ok) return describe_outcome(s, result, command);
    for (std::size_t i = 0; i < d.info_count; ++i) {
        const char *digits = nullptr;
        std::size_t count = 0;
        if (read_identity(d.info[i], d.info_len[i], prefix, low, high, digits, count)) {
            std::memcpy(out, digits, count);
            out[count] = '\0';
            return true;
        }
    }
    if (d.info_count == 0) return fail(s.why, "the module answered %s with no %s", command, name);
    return fail(s.why, "the module's answer to %s is not an %s: '%.*s'", command, name,
                static_cast<int>(d.info_len[0]), d.info[0]);
}

}  // namespace

bool session_open(session &s, const char *device, const port_settings &settings,
                  std::FILE *log, const text_sink &verbose, const char *program) {
    s.device = device;
    s.open = port_open(s.port, device, settings.baud, settings.rtscts, s.why);
    if (!s.open) return false;
    session_attach(s, device, {&s.port, read_port, write_port, port_clock}, settings, log, verbose, program);
    s.open = true;
    return true;
}

void session_attach(session &s, const char *device, const link &io, const port_settings &settings,
                    std::FILE *log, const text_sink &verbose, const char *program) {
    s.device = device;
    s.settings = settings;
    s.open = false;
    s.why.text[0] = '\0';
    s.d = dialogue{};
    s.d.io = io;
    s.d.timeout_ms = settings.timeout_ms;
    s.d.log = log;
    s.d.verbose = verbose;
    s.d.program = program;
}

bool session_wake(session &s, long timeout_ms, bool &no_answer) {
    s.d.timeout_ms = timeout_ms;
    const outcome result = probe(s.d, probe_tries);
    s.d.timeout_ms = s.settings.timeout_ms;
    no_answer = result == outcome::timeout;
    if (no_answer) return fail(s.why, "no answer from %s", s.device);
    return describe_outcome(s, result, "the probe AT");
}

bool session_identity(session &s, identity &id) {
    return ask_identity(s, "AT+CGSN", "+CGSN:", imei_digits, imei_digits, "IMEI (15 digits)",
                        id.imei) &&
           ask_identity(s, "AT+CIMI", "+CIMI:", min_imsi_digits, max_imsi_digits,
                        "IMSI (6 to 15 digits)", id.imsi);
}

bool session_send(session &s, const framing &f, std::size_t &acknowledged,
                  void (*before_line)(const void *context, std::size_t k, std::size_t total),
                  const void *context) {
    const outcome result = send_config(s.d, f, acknowledged, before_line, context);
    if (result == outcome::ok) return true;
    char what[64];
    std::snprintf(what, sizeof what, "line %zu of %zu", acknowledged + 1, f.line_count);
    return describe_outcome(s, result, what);
}

void session_close(session &s) {
    if (s.open) port_close(s.port);
    s.open = false;
}

}  // namespace veld
