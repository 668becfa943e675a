// Text that every layer shares: the one failure convention (a function
// that can fail returns false and puts why into a reason: no program
// name, no line end), the tests of a text the readers make, and the two
// escapings of text that comes from outside (a module, a file): for a
// line of tab-separated fields or a terminal, and for a JSON string.
#pragma once

#include <cstddef>
#include <cstdio>

namespace veld {

struct reason {
    char text[640];
};

// Writes the printf-style message into why and returns false, so that a
// failing function ends with `return fail(why, ...)`.
bool fail(reason &why, const char *format, ...);

// Where escaped text goes: piece by piece, to a stream or a buffer.
struct text_sink {
    void (*put)(void *context, const char *text, std::size_t len);
    void *context;
};
text_sink file_sink(std::FILE *out);

bool starts_with(const char *text, std::size_t len, const char *prefix);
bool equals(const char *text, std::size_t len, const char *word);
bool all_digits(const char *text, std::size_t len);  // false when empty

// Whether text is wholly a decimal number within [low, high].
bool read_number(const char *text, double low, double high, double &value);

// Whether text is valid UTF-8 (no overlong forms, no surrogates).
bool valid_utf8(const char *text, std::size_t len);

// For a field of a line or a terminal: control bytes, a backslash and
// every byte above 0x7E as \xHH, all else as it is.
void write_field(const text_sink &out, const char *text, std::size_t len);
void write_field(std::FILE *out, const char *text, std::size_t len);

// "KEY": "TEXT" as a JSON member followed by ", ". Valid UTF-8 passes
// through, with " and \ escaped and control bytes as \u00XX. Other text
// is written with \xHH for each byte above 0x7F and \\ for a backslash,
// and flagged by a member "KEY_escaped": true after it.
void write_json_member(const text_sink &out, const char *key, const char *text, std::size_t len);

}  // namespace veld
