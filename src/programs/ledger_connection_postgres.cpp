#include "ledger_connection.hpp"

#include "ledger_postgres.hpp"

namespace veld {

bool check_ledger_word(const char *conninfo, reason &why) { return check_command_line_ledger(conninfo, why); }

bool open_ledger(const char *conninfo, ledger &ops, reason &why) {
    auto *pg = new postgres_ledger{};
    if (!postgres_open(conninfo, *pg, why)) {
        delete pg;
        return false;
    }
    if (!postgres_check_schema(*pg, why)) {
        postgres_close(*pg);
        delete pg;
        return false;
    }
    ops = postgres_operations(*pg);
    return true;
}

void close_ledger(ledger &ops) {
    auto *pg = static_cast<postgres_ledger *>(ops.context);
    if (pg == nullptr) return;
    postgres_close(*pg);
    delete pg;
    ops.context = nullptr;
}

}  // namespace veld
