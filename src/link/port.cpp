#include "port.hpp"

namespace veld {

bool port_refused(reason &why, port_fault fault, const char *device, long baud, const char *detail,
                  bool permission) {
    switch (fault) {
        case port_fault::none:
            return true;
        case port_fault::bad_rate:
            return fail(why, "%s: cannot run at %ld baud: %s", device, baud, detail);
        case port_fault::in_use:
            return fail(why, "%s is in use (%s); refusing to interleave with it", device, detail);
        case port_fault::not_a_port:
            return fail(why, "%s is not a serial port: %s", device, detail);
        case port_fault::cannot_open:
        case port_fault::gone:
            return fail(why, "cannot open %s: %s%s", device, detail,
                        permission ? " (is your user in the dialout group?)" : "");
        case port_fault::cannot_configure:
            return fail(why, "cannot set up %s: %s", device, detail);
    }
    return false;
}

}  // namespace veld
