// The tool as a function: main hands it the process's words and streams,
// and the in-process fuzzer its own.
#pragma once

#include <cstdint>
#include <cstdio>

#include "options.hpp"

// The tool's options: the short option string and the long table.
extern const char tool_short_options[];
extern const veld::option tool_long_options[];

// Scans argv, prints the usage text, a refusal or the AT command lines on
// out, the tool's own diagnostics on err (the scanner's go to standard
// error), and returns the exit status: 0, -1 after a refusal, 1 when out
// could not be written. The scanner is process-wide: set optind to 0
// before a second run in the same process.
int run_veldconf(int argc, char *argv[], std::FILE *out, std::FILE *err);

// A port of the dynamic range 49152-65535 drawn from entropy, for a run
// that names none.
std::uint16_t dynamic_port(std::uint32_t entropy);
