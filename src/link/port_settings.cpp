#include "port_settings.hpp"

namespace veld {

bool is_port_option(int c) { return c == baud_option || c == timeout_option || c == rtscts_option; }

bool read_port_option(int c, const char *arg, port_settings &settings, reason &why) {
    double value = 0;
    if (c == rtscts_option) {
        settings.rtscts = true;
    } else if (c == baud_option) {
        // Whether the port can run at it is the port's to say.
        if (!read_number(arg, 1, 2147483647, value) || value != static_cast<long>(value)) {
            return fail(why, "--baud takes a whole number of bits per second, not %s", arg);
        }
        settings.baud = static_cast<long>(value);
    } else {
        if (!read_number(arg, 0.001, 3600, value)) {
            return fail(why, "--timeout takes seconds, more than 0 and at most 3600, not %s", arg);
        }
        settings.timeout_ms = static_cast<long>(value * 1000 + 0.5);
    }
    return true;
}

}  // namespace veld
