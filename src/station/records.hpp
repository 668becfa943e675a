// What the station writes of each port: the result line of six
// tab-separated fields on standard output, the JSON report object, and
// the tally behind the summary on standard error. Every text from a
// module or a file stays on its line, whatever bytes it holds.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "config.hpp"
#include "session.hpp"

namespace veld {

enum class result { configured, failed, skipped, interrupted, passed_over };

const char *result_name(result r);

// One port's provisioning, as it is written out.
struct port_record {
    std::string device;
    identity id;
    bool imei_known;
    bool imsi_known;
    const char *endpoint;  // null when none was made
    std::size_t endpoint_len;
    const client_config *config;  // null when none was built
    std::size_t lines;
    std::size_t acknowledged;
    result what;
    reason why;  // empty when configured
    long long started_ms;
    double seconds;
    bool transcript_lost;
    reason transcript_fault;  // why, when lost
    bool before;              // skipped: configured so by an earlier run
    std::string transcript;   // its file name in the log folder, or empty
    std::string slot;         // where the port is on the fixture, or empty
};

// What every object of a run says of the run: the station, the operator
// (or null), the run's own id and the program's version.
struct run_facts {
    std::string station;
    const char *operator_name;
    std::string run;
    const char *version;
};

// An id no other run takes: the moment, the process and a random number.
std::string make_run_id();

// Escaped text appended to a string, as the station builds its records.
text_sink string_sink(std::string &text);

// DEVICE, IMEI, RESULT, ACKNOWLEDGED/TOTAL, SECONDS, REASON, and a line end,
// appended to out.
void format_result_line(const port_record &r, std::string &out);

// The report object, one line of JSON Lines, appended to out.
void format_report_object(const port_record &r, const run_facts &run, std::string &out);

// The counts and lists of the summary.
struct tally {
    std::size_t done, failed, configured, interrupted, before;
    std::string failures;       // "DEVICE (reason), ..."
    std::string interruptions;  // "DEVICE, ..."
};

void count_result(tally &t, const port_record &r);

// "configured N of M modules; K configured before; failed: ...;
// interrupted: ..." and a line end,
// M the modules configured, failed or interrupted, what the modules said
// escaped.
void write_summary(std::FILE *out, const tally &t);

}  // namespace veld
