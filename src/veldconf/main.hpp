// veldconf itself: its option table and usage text, and the tool as a
// function of its words and two streams, which the program's entry and
// the in-process fuzzer call.
#pragma once

#include <cstdio>

#include "options.hpp"

// The tool's options: the short option string and the long table.
extern const char tool_short_options[];
extern const veld::option tool_long_options[];

// The usage text, with the program's name, on out.
void print_usage(const char *program, std::FILE *out);

// Scans argv, prints the usage text, a refusal or the AT command lines on
// out, the tool's own diagnostics on err (the scanner's go to standard
// error), and returns the exit status: 0, -1 after a refusal, 1 when out
// could not be written. The scanner is process-wide: set optind to 0
// before a second run in the same process.
int run_veldconf(int argc, char *argv[], std::FILE *out, std::FILE *err);
