// The tool as a function: main hands it the process's words and streams,
// and the in-process fuzzer its own.
#pragma once

#include <cstdint>
#include <cstdio>

#include "config.hpp"
#include "options.hpp"

// The tool's options: the short option string and the long table.
extern const char tool_short_options[];
extern const veld::option tool_long_options[];

// What a run's words set: the record (its texts point into the words) and
// which settings were given.
struct tool_settings {
    veld::client_config config;
    bool port_given;
    bool uri_given;
    bool name_given;
    bool help_seen;
    bool settings_seen;
};

// Scans argv into s as the tool does, from the values the usage text
// announces: -h prints the usage text on out, a long block option without
// its value is reported on err, the scanner's diagnostics go to standard
// error (when opterr is set). Where on_fault is not null, it is told of
// each of these instead ('h', or '?' or ':'), with the scanner's state as
// the scanner left it. Returns the refusal ("BOOTMODE exceed.", ...),
// unprinted, or null; the scan stops at one.
const char *read_tool_settings(int argc, char *argv[], std::FILE *out, std::FILE *err,
                               tool_settings &s,
                               void (*on_fault)(int result, int argc, char *argv[]));

// Converts, stores and checks one option's value as the tool does (c is
// its letter); returns the refusal, or null.
const char *store_tool_option(char c, const char *arg, tool_settings &s);

// "URI missing." or "NAME missing." for a setting the run needs, or null.
const char *missing_setting(const tool_settings &s);

// A port drawn as a run that names none draws it.
std::uint16_t draw_port();

// Scans argv, prints the usage text, a refusal or the AT command lines on
// out, the tool's own diagnostics on err (the scanner's go to standard
// error), and returns the exit status: 0, -1 after a refusal, 1 when out
// could not be written. The scanner is process-wide: set optind to 0
// before a second run in the same process.
int run_veldconf(int argc, char *argv[], std::FILE *out, std::FILE *err);

// A port of the dynamic range 49152-65535 drawn from entropy, for a run
// that names none.
std::uint16_t dynamic_port(std::uint32_t entropy);
