// What veldconf-provision writes of each module: the endpoint name made
// from the module's identity, the tab-separated result line and the JSON
// report object, every field kept to one line whatever the module says.
#pragma once

#include <cstddef>
#include <cstdio>

#include "session.hpp"

namespace veld {

// Checks a --name format: {imei} and {imsi} are fields, {{ and }} braces,
// all else literal. Returns the fault ("an unknown field {x}", ...) or null.
const char *check_name_format(const char *format);

// The name the format makes for id; its length, or more than capacity
// (nothing then written past it) when it does not fit.
std::size_t make_name(const char *format, const identity &id, char *out, std::size_t capacity);

// A field of a result line: a tab, CR, LF or other control byte, a
// backslash and every byte above 0x7E written as \xHH.
void write_field(std::FILE *out, const char *text, std::size_t len);

// A JSON string, quoted: every byte outside printable ASCII as \u00HH.
void write_json_string(std::FILE *out, const char *text, std::size_t len);

// The same without the quotes, for a string written in pieces.
void write_json_chars(std::FILE *out, const char *text, std::size_t len);

// UTC, ISO 8601 with milliseconds ("2026-12-10T09:53:39.125Z") of a
// moment in milliseconds since the epoch.
void format_utc(long long epoch_ms, char *out, std::size_t capacity);

}  // namespace veld
