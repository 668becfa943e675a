// A station's report put into the ledger: each whole object the ledger
// does not hold yet, keyed by its id, so that a replay changes nothing.
// An object with no lot of its own goes to the lot given, else is
// refused; a line cut short by a crash is passed over and named. The
// report is read a batch of objects at a time, so that a report of any
// size costs the memory of one batch.
#pragma once

#include <string>
#include <vector>

#include "ledger.hpp"
#include "report.hpp"

namespace veld {

// A whole report object as the ledger's row; one that names no lot takes
// lot. False with why for an object the ledger cannot take: no id, no
// lot, a lot's name refused, text not UTF-8, a start that is no moment,
// a command with no server URI.
bool row_of(const report_object &o, const std::string &lot, result_row &row, reason &why);

// The most rows a batch holds.
constexpr std::size_t batch_rows = 10000;

// A report being read as the ledger's rows.
struct report_rows {
    report_reader reader;
    std::string lot;  // for the objects that name none
    std::vector<long> cut_lines;
    std::size_t objects;  // whole objects read so far
    bool ended;
    bool lotless_passed;  // an object that names no lot, and no lot given, is passed over, not refused
    std::size_t batch;    // the most rows a batch holds: batch_rows, or fewer
};

// Opens the report at path (missing set, and false, when there is none).
bool open_rows(report_rows &rows, const char *path, const std::string &lot, bool &missing, reason &why);

// The next batch (a row_source's next, rows a report_rows): at most
// rows.batch rows, empty at the end; false with "line N: ..." for an object
// the ledger cannot take (row_of).
bool next_rows(void *rows, std::vector<result_row> &batch, reason &why);

void close_rows(report_rows &rows);

// What a sync of one report did.
struct sync_counts {
    std::size_t objects;  // whole objects read
    std::size_t added;    // of them, new to the ledger
    std::vector<long> cut_lines;
};

// Puts the report at path into the ledger, in one transaction: every new
// object, or none. own: a station's own report at its start, where a
// missing report is an empty one and an object that names no lot (of a
// run that had none) is passed over.
bool sync_report(const ledger &l, const char *path, const std::string &lot, sync_counts &counts, reason &why,
                 bool own = false, std::size_t batch = batch_rows);

}  // namespace veld
