// The station's report as every program reads it: the keys of its objects,
// in the one order the writer keeps, and its JSON Lines read back, a flat
// object a line. A line cut short by a crash (a fragment that ends before
// its object does) is told apart from a line that is no report object, and
// a line where two reports were joined (a cut object, then a whole one) is
// taken as both.
#pragma once

#include <map>
#include <string>

#include "input_file.hpp"
#include "text.hpp"

namespace veld {

// object is the object's id in the report: the run's id, a slash and its
// number in the run; lot is written only by a run that names one.
enum class report_key {
    object, device, imei, imsi, endpoint, command, lines, acknowledged, result, reason, started, seconds,
    station, operator_name, run, version, transcript, slot, lot, count
};

const char *key_name(report_key key);

// Escaped text appended to a string, as records are built.
text_sink string_sink(std::string &text);

// A module, as the station and its records know it: "IMEI;IMSI". One
// IMEI with two SIMs is two modules.
std::string module_key(const std::string &imei, const std::string &imsi);

// One object read back: its members (strings decoded, other values as
// written), which of them are null, and its text as the report holds it.
struct report_object {
    std::map<std::string, std::string> members;
    std::map<std::string, bool> nulls;
    std::string text;
};

// The member's text, or null when the object lacks it or holds null.
const std::string *member(const report_object &o, report_key key);

// The module (IMEI;IMSI) an object names, or empty.
std::string module_named(const report_object &o);

// One line as a whole report object; false when it is not one.
bool parse_report_line(const std::string &line, report_object &o);

// Called for each object, whole or cut short, with its line's number;
// returns false, with why, to stop the reading.
using take_object = bool (*)(void *context, long line, bool whole, const report_object &o, reason &why);

// Reads the report at path (missing set, and false, when there is none);
// false with "line N: not a report object", the reader's fault, or what
// take said.
bool read_report(const char *path, bool &missing, take_object take, void *context, reason &why);

// The same a line at a time, for a reader that keeps only some lines'
// objects at once: each line's objects are handed to take; fault with
// why as read_report says.
struct report_reader {
    input_file in;
    std::string line;
};
bool report_open(report_reader &r, const char *path, bool &missing, reason &why);
input_step report_line(report_reader &r, take_object take, void *context, reason &why);
void report_close(report_reader &r);

// The server URI of a recorded veldconf command: the word after -i, as
// the command quotes it; false when the command holds none.
bool command_uri(const std::string &command, std::string &uri);

}  // namespace veld
