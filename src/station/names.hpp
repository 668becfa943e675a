// The endpoint name a --name format makes of a module's identity: {imei}
// and {imsi} are fields, {{ and }} braces, all else literal.
#pragma once

#include <cstddef>

#include "session.hpp"

namespace veld {

// Checks a format; false with the fault ("a field other than {imei} and
// {imsi}", ...).
bool check_name_format(const char *format, reason &why);

// The name the format makes for id; its length, or more than capacity
// (nothing then written past it) when it does not fit.
std::size_t make_name(const char *format, const identity &id, char *out, std::size_t capacity);

}  // namespace veld
