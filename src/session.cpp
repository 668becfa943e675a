#include "session.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace veld {

namespace {

constexpr int probe_tries = 3;

long read_port(void *context, char *buffer, std::size_t capacity, long timeout_ms) {
    return port_read(*static_cast<serial_port *>(context), buffer, capacity, timeout_ms);
}

int write_port(void *context, const char *data, std::size_t len) {
    return port_write(*static_cast<serial_port *>(context), data, len);
}

void describe_open_failure(session &s, port_status status, const char *why) {
    const char *device = s.device;
    switch (status) {
        case port_status::ok:
            return;
        case port_status::bad_rate:
            std::snprintf(s.reason, sizeof s.reason, "%s: cannot run at %ld baud: %s", device,
                          s.settings.baud, why);
            return;
        case port_status::in_use:
            std::snprintf(s.reason, sizeof s.reason, "%s is in use (%s); refusing to interleave with it",
                          device, why);
            return;
        case port_status::not_a_port:
            std::snprintf(s.reason, sizeof s.reason, "%s is not a serial port: %s", device, why);
            return;
        case port_status::cannot_open:
            std::snprintf(s.reason, sizeof s.reason, "cannot open %s: %s%s", device, why,
                          errno == EACCES ? " (is your user in the dialout group?)" : "");
            return;
        case port_status::cannot_configure:
            std::snprintf(s.reason, sizeof s.reason, "cannot set up %s: %s", device, why);
            return;
    }
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
    if (result != outcome::ok) {
        describe_outcome(s, result, command);
        return false;
    }
    for (std::size_t i = 0; i < d.info_count; ++i) {
        const char *digits = nullptr;
        std::size_t count = 0;
        if (read_identity(d.info[i], d.info_len[i], prefix, low, high, digits, count)) {
            std::memcpy(out, digits, count);
            out[count] = '\0';
            return true;
        }
    }
    if (d.info_count == 0) {
        std::snprintf(s.reason, sizeof s.reason, "the module answered %s with no %s", command, name);
    } else {
        std::snprintf(s.reason, sizeof s.reason, "the module's answer to %s is not an %s: '%.*s'",
                      command, name, static_cast<int>(d.info_len[0]), d.info[0]);
    }
    return false;
}

}  // namespace

bool read_number(const char *text, double low, double high, double &value) {
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

const char *read_port_option(char c, const char *arg, port_settings &settings) {
    double value = 0;
    if (c == 'b') {
        if (!read_number(arg, 1, 1e8, value) || value != static_cast<long>(value)) {
            return "--baud takes a whole number of bits per second, not ";
        }
        settings.baud = static_cast<long>(value);
    } else {
        if (!read_number(arg, 0.001, 3600, value)) {
            return "--timeout takes seconds, more than 0 and at most 3600, not ";
        }
        settings.timeout_ms = static_cast<long>(value * 1000 + 0.5);
    }
    return nullptr;
}

void describe_outcome(session &s, outcome result, const char *what) {
    switch (result) {
        case outcome::refused:
            std::snprintf(s.reason, sizeof s.reason, "the module refused %s: %.*s", what,
                          static_cast<int>(s.d.line_len), s.d.line);
            return;
        case outcome::timeout:
            std::snprintf(s.reason, sizeof s.reason, "no final result code to %s within %.3g s", what,
                          s.settings.timeout_ms / 1000.0);
            return;
        case outcome::port_error:
            std::snprintf(s.reason, sizeof s.reason, "%s failed (hung up?) during %s", s.device, what);
            return;
        case outcome::interrupted:
            std::snprintf(s.reason, sizeof s.reason, "interrupted during %s", what);
            return;
        case outcome::ok:
            s.reason[0] = '\0';
            return;
    }
}

bool session_open(session &s, const char *device, const port_settings &settings,
                  std::FILE *log, std::FILE *verbose, const char *program) {
    s.device = device;
    s.settings = settings;
    s.reason[0] = '\0';
    char why[256];
    const port_status status =
        port_open(s.port, device, settings.baud, settings.rtscts, why, sizeof why);
    s.open = status == port_status::ok;
    if (!s.open) {
        describe_open_failure(s, status, why);
        return false;
    }
    s.d = dialogue{};
    s.d.io = {&s.port, read_port, write_port};
    s.d.timeout_ms = settings.timeout_ms;
    s.d.log = log;
    s.d.verbose = verbose;
    s.d.program = program;
    return true;
}

bool session_wake(session &s, bool &no_answer) {
    const outcome result = probe(s.d, probe_tries);
    no_answer = result == outcome::timeout;
    if (no_answer) {
        std::snprintf(s.reason, sizeof s.reason, "no answer from %s", s.device);
    } else {
        describe_outcome(s, result, "the probe AT");
    }
    return result == outcome::ok;
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
    describe_outcome(s, result, what);
    return false;
}

void session_close(session &s) {
    if (s.open) port_close(s.port);
    s.open = false;
}

}  // namespace veld
