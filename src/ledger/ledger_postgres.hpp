// The ledger on a PostgreSQL server, through libpq. A connection is named
// as libpq takes it (a connection string or URI, several hosts, sslmode),
// and an empty one leaves all to libpq's PG* variables and ~/.pgpass.
#pragma once

#include "ledger.hpp"

namespace veld {

struct postgres_ledger {
    void *connection;  // libpq's, kept out of this header
};

// A connection string given on a command line: false, saying why, when
// libpq cannot read it or it holds a password (which any user sees in the
// process list).
bool check_command_line_ledger(const char *conninfo, reason &why);

// Connects; false with libpq's reason.
bool postgres_open(const char *conninfo, postgres_ledger &pg, reason &why);
void postgres_close(postgres_ledger &pg);

// Creates the schema, or brings it up to this program's version, in one
// transaction; from: the version it had (0: none). lease_seconds, when
// not 0, becomes the claims' lease. station_role, when not null, is
// granted what a station needs: lots and manifests read, claims and
// results added, its own claims renewed; no result changed or deleted.
bool postgres_init(postgres_ledger &pg, const char *station_role, long lease_seconds, int &from, reason &why);

// Whether the ledger's schema is this program's; false saying what to do.
bool postgres_check_schema(postgres_ledger &pg, reason &why);

// The ledger's operations on this connection.
ledger postgres_operations(postgres_ledger &pg);

}  // namespace veld
