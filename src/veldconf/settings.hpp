// veldconf's settings reader: its options scanned, converted, stored and
// range-checked into a client_config as veldconf itself does it, for the
// tool and for the station, which builds each module's configuration from
// the same words. The limits are the module's, so the decoder checks them
// too.
#pragma once

#include <cstdint>

#include "config.hpp"
#include "text.hpp"

// The largest value of a mode and of the block exponents.
constexpr std::uint8_t max_mode = 1;
constexpr std::uint8_t max_block_exponent = 6;
constexpr std::uint8_t max_block2th_exponent = 2;

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

// Told of each scanner result that is no setting: 'h', '?' (the scanner
// has reported it when opterr is set) or ':' (a long block option without
// its value: optopt is 0 and the option is named by its word,
// argv[optind - 1]).
struct settings_faults {
    void (*seen)(void *context, int result, int argc, char *argv[]);
    void *context;
};

// Scans argv (the scanner restarts when optind is 0) into s from the
// values the usage text announces. False at the first refusal ("BOOTMODE
// exceed.", ...), its text in why, unprinted; the scan stops there.
bool read_tool_settings(int argc, char *argv[], tool_settings &s, const settings_faults &faults,
                        veld::reason &why);

// Converts, stores and checks one option's value as the tool does (c is
// its letter); false with the refusal.
bool store_tool_option(char c, const char *arg, tool_settings &s, veld::reason &why);

// Whether the settings a run needs are given; false with "URI missing."
// or "NAME missing.".
bool check_needed_settings(const tool_settings &s, veld::reason &why);

// A port drawn as a run that names none draws it.
std::uint16_t draw_port();

// A different number on every run, even where the system's random device
// is missing.
std::uint32_t per_run_entropy();

// A port of the dynamic range 49152-65535 drawn from entropy, for a run
// that names none.
std::uint16_t dynamic_port(std::uint32_t entropy);
