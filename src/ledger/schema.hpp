// The ledger's tables on PostgreSQL, as steps from one version of the
// schema to the next: version N is made by steps 1 to N, in order, each
// once. A newer program adds a step; it never changes one.
#pragma once

namespace veld {

// The version this program writes and reads.
constexpr int schema_version = 1;

// The SQL that takes the schema from version n - 1 to n (1 <= n <=
// schema_version).
const char *schema_step(int n);

}  // namespace veld
