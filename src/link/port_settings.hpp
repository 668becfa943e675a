// The port options the sender and the station share: --baud, --rtscts,
// --timeout, their values and their lines of the usage text.
#pragma once

#include "text.hpp"

namespace veld {

struct port_settings {
    long baud;
    bool rtscts;
    long timeout_ms;
};
constexpr port_settings default_port_settings{115200, false, 10000};

// The values a program's option table gives these options: --baud 'b',
// --timeout 't', --rtscts 'r' (none of them a short option).
enum { baud_option = 'b', timeout_option = 't', rtscts_option = 'r' };

constexpr char port_options_usage[] =
    "  --baud N           the serial rate (default 115200)\n"
    "  --rtscts           hardware flow control (default off)\n"
    "  --timeout SECONDS  how long each command may take (default 10)\n";

bool is_port_option(int c);

// Stores the value of the port option c (arg is null for --rtscts) in
// settings; false with the complaint ("--baud takes ..., not ARG").
bool read_port_option(int c, const char *arg, port_settings &settings, reason &why);

}  // namespace veld
