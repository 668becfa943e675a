// One module's conversation as the sender and the station hold it: the
// port opened exclusively (or a link of the caller's), the probe, the
// module's identity, the configuration's lines; every failure put into
// words (the reason: no program name, no line end) for the caller to
// print or record.
#pragma once

#include <cstddef>
#include <cstdio>

#include "dialogue.hpp"
#include "framing.hpp"
#include "port.hpp"
#include "port_settings.hpp"

namespace veld {

constexpr std::size_t imei_digits = 15;
constexpr std::size_t min_imsi_digits = 6;
constexpr std::size_t max_imsi_digits = 15;

struct identity {
    char imei[imei_digits + 1];  // terminated
    char imsi[max_imsi_digits + 1];
};

struct session {
    const char *device;
    port_settings settings;
    serial_port port;
    bool open;  // the port is ours to close
    dialogue d;
    reason why;
};

// Opens device; the transcript goes to log (or nowhere when null) and what
// the module says besides its answers, escaped, to verbose (or nowhere when
// its put is null). False, with the reason, when
// it cannot be had.
bool session_open(session &s, const char *device, const port_settings &settings,
                  std::FILE *log, const text_sink &verbose, const char *program);

// The same over a link of the caller's, which stays the caller's.
void session_attach(session &s, const char *device, const link &io, const port_settings &settings,
                    std::FILE *log, const text_sink &verbose, const char *program);

// Probes until the module answers OK, waiting at most timeout_ms for each
// try; false with the reason ("no answer from DEVICE", ...), and no_answer
// set when the module said nothing at all.
bool session_wake(session &s, long timeout_ms, bool &no_answer);

// Asks the module for its IMEI and IMSI; false with the reason.
bool session_identity(session &s, identity &id);

// Sends f's lines (as send_config does); false with the reason, such as
// "the module refused line 2 of 3: ERROR". acknowledged counts the lines
// answered OK.
bool session_send(session &s, const framing &f, std::size_t &acknowledged,
                  void (*before_line)(const void *context, std::size_t k, std::size_t total),
                  const void *context);

// Puts the port's settings back and closes it; safe to call twice.
void session_close(session &s);

}  // namespace veld
