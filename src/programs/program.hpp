// What the programs share at their edge: standard streams that carry
// bytes as they are (binary on Windows), the usage error, a terminal test,
// the machine's name,
// and the reading of an input of AT+VELDCONF lines with its warnings and
// its fault said under the program's name.
#pragma once

#include <cstdio>
#include <string>

#include "framing.hpp"

namespace veld {

// On Windows, text mode would turn each CR LF into CR CR LF, and a read
// CR LF into LF: the standard streams carry bytes as they are.
void binary_standard_streams();

// "PROGRAM: MESSAGE" and "Try 'PROGRAM --help'." on standard error; the
// exit status of a usage error, 2.
int usage_error(const char *program, const char *format, ...);

// The same words, for a reader that says whether the run goes on: false.
bool refuse(const char *program, const char *format, ...);

// Whether stream is a terminal (for what is shown only there).
bool is_terminal(std::FILE *stream);

// Whether a and b are one terminal, so that what goes to one moves the
// other's lines.
bool same_terminal(std::FILE *a, std::FILE *b);

// This machine's name, or empty when it has none.
std::string host_name();

// Reads the lines of path ("-": standard input) into f, saying a warning
// and the fault, if any, as "PROGRAM: ..." on standard error.
bool read_input(const char *program, const char *path, framing &f);

}  // namespace veld
