// The plant's ledger as veldconf-provision opens it: on PostgreSQL where
// the build has libpq; elsewhere (Windows, 32-bit) there is none, and the
// station's reports reach the ledger through veldconf-ledger sync on a
// Linux host.
#pragma once

#include "ledger.hpp"

namespace veld {

// A --ledger word: false, saying why, when libpq cannot read it, it holds
// a password, or the build has no ledger.
bool check_ledger_word(const char *conninfo, reason &why);

// Connects and checks the schema; false with why.
bool open_ledger(const char *conninfo, ledger &ops, reason &why);
void close_ledger(ledger &ops);

}  // namespace veld
