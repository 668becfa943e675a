// A manifest: per-module values keyed by the module's IMEI, from a CSV
// file (a header row, then a row a line, commas, fields in double quotes
// where they hold commas or quotes, LF or CR LF, a leading byte-order mark
// passed over; lines bounded as input_file.hpp says). The first column is imei (15 digits); the others are
// among veldconf's long option names (uri, port, keep_alive, debug, boot,
// encrypt, block1, block2, block2th) and name (a --name format, or a
// literal name for that one module). An empty cell takes the command's
// value. Every row is checked as it is read, more strictly than veldconf's
// words, as people type manifests: a number is a decimal number within
// its field's range, and no cell holds a control byte or blanks around
// its value.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ledger.hpp"
#include "settings.hpp"
#include "text.hpp"

namespace veld {

struct manifest_row {
    long line;
    std::string imei;
    std::vector<std::pair<char, std::string>> values;  // veldconf's option letter, its cell
    std::string name;  // the name cell, or empty
    bool literal;      // the name is the module's own, not a format
};

struct manifest {
    std::vector<manifest_row> rows;
    std::map<std::string, std::size_t> by_imei;      // the row of each IMEI
    std::map<std::string, long> literal_names;       // the line of each literal name
};

// Reads path; false with "line N, column C: ..." (or the file's fault).
// base: the command's own settings, which a row's cells complete.
bool read_manifest(const char *path, const tool_settings &base, manifest &m, reason &why);

// A lot's manifest as the ledger keeps it, checked as the file's rows
// are: false with "line N...".
bool manifest_from_ledger(const std::vector<manifest_entry> &rows, const tool_settings &base, manifest &m,
                          reason &why);

// The column of veldconf's option letter, as a manifest names it.
const char *column_name(char letter);

// The row of the module with this IMEI, or -1.
long find_row(const manifest &m, const char *imei);

// The row's values over settings; the name cell is the caller's.
void apply_row(const manifest_row &row, tool_settings &settings);

// Whether a name format's longest name (a 15-digit IMEI and IMSI) makes a
// configuration veldconf takes; false with the refusal.
bool check_longest_name(const char *format, const tool_settings &settings, reason &why);

}  // namespace veld
