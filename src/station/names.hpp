// The endpoint names a --name format makes of a module's identity ({imei}
// and {imsi} are fields, {{ and }} braces, all else literal), and the names
// given in a run: one name, one module.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "session.hpp"

namespace veld {

// Checks a format: it must name the module (hold {imei} or {imsi}), know
// its fields and hold no control byte; false with the fault ("unknown
// field {serial}", ...).
bool check_name_format(const char *format, reason &why);

// The name the format makes for id; its length, or more than capacity
// (nothing then written past it) when it does not fit.
std::size_t make_name(const char *format, const identity &id, char *out, std::size_t capacity);

// The names given so far, each with its module (IMEI;IMSI) and the port
// it went to.
struct names_given {
    std::map<std::string, std::pair<std::string, std::string>> given;
};

// Gives name to module on device; false with "endpoint name NAME already
// given to DEVICE" when another module has it (the same module, plugged
// in again, takes its own name again).
bool give_name(names_given &names, const std::string &name, const std::string &module,
               const std::string &device, reason &why);

}  // namespace veld
