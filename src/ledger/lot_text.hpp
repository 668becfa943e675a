// A lot as people and other programs read it: its name checked, its
// status as lines, its results as CSV. Text from reports and modules is
// escaped as on a result line (write_field), so that no byte of it can
// act on a terminal.
#pragma once

#include <string>

#include "ledger.hpp"

namespace veld {

// A lot's name: 1 to 200 bytes of UTF-8 with no control byte; false with
// why.
bool check_lot_name(const std::string &lot, reason &why);

// The status of the lot as lines:
//   lot LOT
//   station STATION: RESULT N, RESULT N, ...
//   conflict: module IMEI;IMSI configured N times: STATION at T (lot L), ...
//   clash: endpoint name NAME on URI given to N modules: IMEI;IMSI (lot L, STATION at T), ...
//   unfinished: IMEI;IMSI claimed by STATION (run R) at T, its lease until T
//   twins: station STATION is live in runs R1, R2
// and "no conflicts" when there is none of the last four.
void format_status(const std::string &lot, const lot_status &status, std::string &out);

// The header of the CSV export: lot, then the report's keys.
void format_csv_header(std::string &out);

// A result line of the lot as a CSV row (null members empty); false when
// the line is no report object.
bool format_csv_row(const std::string &lot, const std::string &line, std::string &out);

}  // namespace veld
