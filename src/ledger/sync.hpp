// A station's report put into the ledger: each whole object the ledger
// does not hold yet, keyed by its id, so that a replay changes nothing.
// An object with no lot of its own goes to the lot given, else is
// refused; a line cut short by a crash is passed over and named.
#pragma once

#include <string>
#include <vector>

#include "ledger.hpp"

namespace veld {

// Reads the report at path into rows; false with "line N: ..." for an
// object the ledger cannot take (no id, no lot, text not UTF-8, a start
// that is no moment). cut_lines: the lines passed over.
bool read_results(const char *path, const std::string &lot, std::vector<result_row> &rows,
                  std::vector<long> &cut_lines, reason &why);

// What a sync of one report did.
struct sync_counts {
    std::size_t objects;  // whole objects read
    std::size_t added;    // of them, new to the ledger
    std::vector<long> cut_lines;
};

// Puts the report at path into the ledger, in one transaction: every new
// object, or none. Each lot named must be in the ledger.
bool sync_report(const ledger &l, const char *path, const std::string &lot, sync_counts &counts, reason &why);

}  // namespace veld
