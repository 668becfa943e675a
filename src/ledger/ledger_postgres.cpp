#include "ledger_postgres.hpp"

#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>
#include <memory>

#include "report.hpp"
#include "schema.hpp"

namespace veld {

namespace {

// The connection, connected anew first where it was lost: a station that
// outlives a restart of the server reaches it again.
PGconn *connection_of(void *context) {
    PGconn *c = static_cast<PGconn *>(static_cast<postgres_ledger *>(context)->connection);
    if (PQstatus(c) == CONNECTION_BAD) PQreset(c);
    return c;
}

// libpq's messages end in a line end and may span lines: one line here.
std::string one_line(const char *message) {
    std::string text;
    for (const char *c = message == nullptr ? "" : message; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
        if (!blank) text += *c;
        else if (!text.empty() && text.back() != ' ') text += ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

struct result_deleter {
    void operator()(PGresult *r) const { PQclear(r); }
};
using result = std::unique_ptr<PGresult, result_deleter>;

bool failed_with(const result &r, PGconn *c, reason &why) {
    const char *primary = r ? PQresultErrorField(r.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return fail(why, "the ledger: %s", one_line(primary != nullptr ? primary : PQerrorMessage(c)).c_str());
}

// Whether r is a statement's success; false with the server's reason.
bool succeeded(const result &r, PGconn *c, reason &why) {
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || failed_with(r, c, why);
}

// sql with its parameters, as text; false with the server's reason.
bool run(PGconn *c, const char *sql, const std::vector<const std::string *> &params, result &out, reason &why) {
    std::vector<const char *> values;
    for (const std::string *p : params) values.push_back(p == nullptr ? nullptr : p->c_str());
    out.reset(PQexecParams(c, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
    return succeeded(out, c, why);
}

// run, for a statement that is a transaction of its own and may be sent
// again: on a connection lost (the server restarted, the network back),
// connected anew and sent once more.
bool run_again(PGconn *c, const char *sql, const std::vector<const std::string *> &params, result &out,
               reason &why) {
    if (run(c, sql, params, out, why)) return true;
    if (PQstatus(c) != CONNECTION_BAD) return false;
    PQreset(c);
    if (PQstatus(c) != CONNECTION_OK) return fail(why, "%s", one_line(PQerrorMessage(c)).c_str());
    return run(c, sql, params, out, why);
}

// sql, which may be several statements, with no parameters.
bool run(PGconn *c, const char *sql, reason &why) {
    const result r(PQexec(c, sql));
    return succeeded(r, c, why);
}

// Ends the transaction the way it went; a failure keeps its reason.
bool finish(PGconn *c, bool done, reason &why) {
    if (done) return run(c, "COMMIT", why);
    reason ignored;
    run(c, "ROLLBACK", ignored);
    return false;
}

std::string field(const result &r, int row, int column) {
    return PQgetisnull(r.get(), row, column) ? std::string() : PQgetvalue(r.get(), row, column);
}

// COPY's text format: a field with its backslashes, tabs and line ends
// escaped, \N for null.
void put_copy_field(std::string &out, const std::string &text, bool null_when_empty) {
    if (null_when_empty && text.empty()) {
        out += "\\N";
        return;
    }
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
}

bool start_copy(PGconn *c, const char *sql, reason &why) {
    const result started(PQexec(c, sql));
    return (started && PQresultStatus(started.get()) == PGRES_COPY_IN) || failed_with(started, c, why);
}

// Ends a copy, or with refused cuts it short (why then holds the reason).
bool end_copy(PGconn *c, bool refused, reason &why) {
    PQputCopyEnd(c, refused ? "refused" : nullptr);
    bool done = !refused;
    for (result r(PQgetResult(c)); r; r.reset(PQgetResult(c))) {
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && done) done = failed_with(r, c, why);
    }
    return done;
}

// Sends rows (each ending in a line end) to the COPY ... FROM STDIN sql.
bool copy_in(PGconn *c, const char *sql, const std::string &rows, reason &why) {
    if (!start_copy(c, sql, why)) return false;
    const std::size_t piece = 1 << 20;
    for (std::size_t at = 0; at < rows.size(); at += piece) {
        const std::size_t len = rows.size() - at < piece ? rows.size() - at : piece;
        if (PQputCopyData(c, rows.data() + at, static_cast<int>(len)) != 1) break;
    }
    return end_copy(c, false, why);
}

const char moment[] = "to_char(%s AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";

std::string utc(const char *column) {
    char text[160];
    std::snprintf(text, sizeof text, moment, column);
    return text;
}

bool lot_exists(void *context, const std::string &lot, bool &exists, reason &why) {
    result r;
    if (!run(connection_of(context), "SELECT 1 FROM lots WHERE lot = $1", {&lot}, r, why)) return false;
    exists = PQntuples(r.get()) == 1;
    return true;
}

// A row's cells as a JSON object.
std::string cells_json(const manifest_entry &row) {
    std::string json;
    for (const auto &cell : row.cells) {
        write_json_member(string_sink(json), cell.first.c_str(), cell.second.data(), cell.second.size());
    }
    if (!json.empty()) json.resize(json.size() - 2);  // the last ", "
    return "{" + json + "}";
}

// The lot's row is locked first: two manifests added at once to one lot
// are checked one after the other.
bool add_lot_rows(PGconn *c, const std::string &lot, const std::vector<manifest_entry> &rows, bool &created,
                  std::size_t &added, reason &why) {
    result r;
    if (!run(c, "INSERT INTO lots (lot) VALUES ($1) ON CONFLICT DO NOTHING", {&lot}, r, why)) return false;
    created = std::strcmp(PQcmdTuples(r.get()), "1") == 0;
    added = 0;
    if (!run(c, "SELECT 1 FROM lots WHERE lot = $1 FOR UPDATE", {&lot}, r, why)) return false;
    if (rows.empty()) return true;
    std::string copy;
    for (const manifest_entry &row : rows) {
        put_copy_field(copy, row.imei, false);
        copy += '\t';
        put_copy_field(copy, cells_json(row), false);
        copy += '\t' + std::to_string(row.line) + '\n';
    }
    if (!run(c, "CREATE TEMP TABLE incoming_rows (imei text, cells jsonb, line integer) ON COMMIT DROP", why) ||
        !copy_in(c, "COPY incoming_rows FROM STDIN", copy, why) ||
        !run(c,
             "SELECT i.line, i.imei, m.line FROM incoming_rows i JOIN manifest m ON m.lot = $1 AND m.imei = i.imei "
             "WHERE m.cells <> i.cells ORDER BY i.line LIMIT 1",
             {&lot}, r, why)) {
        return false;
    }
    if (PQntuples(r.get()) == 1) {
        return fail(why, "line %s: module %s is in the lot with other values (its line %s there)",
                    PQgetvalue(r.get(), 0, 0), PQgetvalue(r.get(), 0, 1), PQgetvalue(r.get(), 0, 2));
    }
    if (!run(c,
             "INSERT INTO manifest (lot, imei, cells, line) SELECT $1, imei, cells, line FROM incoming_rows "
             "ORDER BY line ON CONFLICT DO NOTHING",
             {&lot}, r, why)) {
        return false;
    }
    added = std::strtoull(PQcmdTuples(r.get()), nullptr, 10);
    return true;
}

bool add_lot(void *context, const std::string &lot, const std::vector<manifest_entry> &rows, bool &created,
             std::size_t &added, reason &why) {
    PGconn *c = connection_of(context);
    return run(c, "BEGIN", why) && finish(c, add_lot_rows(c, lot, rows, created, added, why), why);
}

bool read_manifest(void *context, const std::string &lot, std::vector<manifest_entry> &rows, reason &why) {
    result r;
    if (!run(connection_of(context),
             "SELECT m.line, m.imei, c.key, c.value FROM manifest m LEFT JOIN LATERAL jsonb_each_text(m.cells) c "
             "ON true WHERE m.lot = $1 ORDER BY m.line, c.key",
             {&lot}, r, why)) {
        return false;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        const long line = std::atol(PQgetvalue(r.get(), i, 0));
        if (rows.empty() || rows.back().line != line) rows.push_back({line, field(r, i, 1), {}});
        if (!PQgetisnull(r.get(), i, 2)) rows.back().cells.emplace_back(field(r, i, 2), field(r, i, 3));
    }
    return true;
}

void put_result_row(std::string &copy, std::size_t n, const result_row &row) {
    copy += std::to_string(n) + '\t';
    for (const std::string *text : {&row.object, &row.lot, &row.imei, &row.imsi, &row.station, &row.run,
                                     &row.endpoint, &row.server_uri, &row.command, &row.result, &row.started,
                                     &row.line}) {
        const bool nullable = text == &row.imei || text == &row.imsi || text == &row.run || text == &row.endpoint ||
                              text == &row.server_uri || text == &row.command;
        put_copy_field(copy, *text, nullable);
        copy += text == &row.line ? '\n' : '\t';
    }
}

// The source's rows into the table incoming, a batch at a time; count:
// how many. A refusal of the source ends the copy with its reason.
bool copy_rows(PGconn *c, row_source next, void *source, std::size_t &count, reason &why) {
    if (!start_copy(c, "COPY incoming FROM STDIN", why)) return false;
    std::vector<result_row> batch;
    std::string copy;
    bool refused = false;
    bool sent = true;
    count = 0;
    while (sent && !(refused = !next(source, batch, why)) && !batch.empty()) {
        copy.clear();
        for (const result_row &row : batch) put_result_row(copy, count++, row);
        sent = PQputCopyData(c, copy.data(), static_cast<int>(copy.size())) == 1;
    }
    return end_copy(c, refused, why);
}

bool add_result_rows(PGconn *c, row_source next, void *source, std::size_t &added, reason &why) {
    std::size_t count = 0;
    result r;
    if (!run(c,
             "CREATE TEMP TABLE incoming (n bigint, object text, lot text, imei text, imsi text, station text, "
             "run text, endpoint text, server_uri text, command text, result text, started text, line text) "
             "ON COMMIT DROP",
             why) ||
        !copy_rows(c, next, source, count, why) ||
        !run(c, "SELECT lot FROM incoming EXCEPT SELECT lot FROM lots LIMIT 1", {}, r, why)) {
        return false;
    }
    if (PQntuples(r.get()) == 1) {
        return fail(why, "no lot %s in the ledger; make it with: veldconf-ledger lot", PQgetvalue(r.get(), 0, 0));
    }
    if (!run(c,
             "INSERT INTO results (object, lot, imei, imsi, station, run, endpoint, server_uri, command_key, "
             "portless_key, result, started, line) SELECT object, lot, imei, imsi, station, run, endpoint, "
             "server_uri, md5(command), md5(portless(command)), result, started::timestamptz, line FROM incoming "
             "ORDER BY n ON CONFLICT (object) DO NOTHING",
             {}, r, why)) {
        return false;
    }
    added = std::strtoull(PQcmdTuples(r.get()), nullptr, 10);
    // An object held already must be the same line: one that differs is
    // no replay, and the whole report is refused (the transaction undone).
    if (added == count) return true;
    if (!run(c, "ANALYZE incoming", why) ||
        !run(c,
             "SELECT i.object FROM incoming i JOIN results r USING (object) WHERE r.line <> i.line "
             "ORDER BY i.n LIMIT 1",
             {}, r, why)) {
        return false;
    }
    return PQntuples(r.get()) == 0 ||
           fail(why, "object %s is in the ledger with other text than the report's", PQgetvalue(r.get(), 0, 0));
}

bool add_results(void *context, row_source next, void *source, std::size_t &added, reason &why) {
    PGconn *c = connection_of(context);
    return run(c, "BEGIN", why) && finish(c, add_result_rows(c, next, source, added, why), why);
}

void take_listed(const result &r, std::vector<listed_result> &list) {
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        list.push_back({field(r, i, 0), field(r, i, 1), field(r, i, 2), field(r, i, 3), field(r, i, 4),
                        field(r, i, 5), field(r, i, 6), field(r, i, 7)});
    }
}

bool read_status_in(PGconn *c, const std::string &lot, lot_status &status, reason &why) {
    // Each list starts from the few modules and names found, and looks
    // their results up one by one (OFFSET 0 keeps each lookup a
    // subquery of its own), whatever the statistics of a table that has
    // just grown lead the planner to think.
    const std::string listed = "SELECT r.server_uri, r.endpoint, r.imei, r.imsi, r.lot, r.station, " +
                               utc("r.started") + ", r.object FROM ";
    const std::string twice = listed +
        "(SELECT lot, imei, imsi FROM modules WHERE lot = $1 AND configured > 1) m CROSS JOIN LATERAL "
        "(SELECT * FROM results r WHERE r.lot = m.lot AND r.imei = m.imei AND r.imsi = m.imsi "
        "AND r.result = 'configured' OFFSET 0) r ORDER BY r.imei, r.imsi, r.started, r.object";
    const std::string clashes = listed +
        "(SELECT DISTINCT x.name_key FROM clashes c CROSS JOIN LATERAL "
        "(SELECT r.name_key, r.lot FROM results r WHERE r.object = c.object OFFSET 0) x "
        "JOIN names n USING (name_key) WHERE x.lot = $1 OR n.lot = $1) k "
        "CROSS JOIN LATERAL (SELECT * FROM results r WHERE r.name_key = k.name_key "
        "AND r.result = 'configured' OFFSET 0) r ORDER BY r.server_uri, r.endpoint, r.started, r.object";
    const std::string claims = "SELECT imei, imsi, station, run, " + utc("claimed") + ", " + utc("lease_until") +
                               " FROM claims WHERE lot = $1 AND finished IS NULL AND lease_until < now() ORDER BY claimed";
    result r;
    if (!run(c, "SELECT station, result, results FROM tallies WHERE lot = $1 ORDER BY station, result", {&lot}, r,
             why)) {
        return false;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        status.counts.push_back({field(r, i, 0), field(r, i, 1), std::atoll(PQgetvalue(r.get(), i, 2))});
    }
    if (!run(c, twice.c_str(), {&lot}, r, why)) return false;
    take_listed(r, status.twice);
    if (!run(c, clashes.c_str(), {&lot}, r, why)) return false;
    take_listed(r, status.clashes);
    if (!run(c, claims.c_str(), {&lot}, r, why)) return false;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        status.claims.push_back(
            {field(r, i, 0), field(r, i, 1), field(r, i, 2), field(r, i, 3), field(r, i, 4), field(r, i, 5)});
    }
    if (!run(c,
             "SELECT station, string_agg(run, ', ' ORDER BY run) FROM runs WHERE lot = $1 AND seen > now() - "
             "(SELECT lease_seconds FROM ledger_settings LIMIT 1) * interval '1 second' "
             "GROUP BY station HAVING count(*) > 1 ORDER BY station",
             {&lot}, r, why)) {
        return false;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) status.twins.push_back({field(r, i, 0), field(r, i, 1)});
    return true;
}

bool read_status(void *context, const std::string &lot, lot_status &status, reason &why) {
    PGconn *c = connection_of(context);
    return run(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", why) &&
           finish(c, read_status_in(c, lot, status, why), why);
}

bool read_lines(void *context, const std::string &lot, void (*each)(void *to, const std::string &line), void *to,
                reason &why) {
    PGconn *c = connection_of(context);
    const char *values[] = {lot.c_str()};
    if (PQsendQueryParams(c, "SELECT line FROM results WHERE lot = $1 ORDER BY seq", 1, nullptr, values, nullptr,
                          nullptr, 0) != 1 ||
        PQsetSingleRowMode(c) != 1) {
        return fail(why, "the ledger: %s", one_line(PQerrorMessage(c)).c_str());
    }
    bool done = true;
    for (result r(PQgetResult(c)); r; r.reset(PQgetResult(c))) {
        const ExecStatusType status = PQresultStatus(r.get());
        if (status == PGRES_SINGLE_TUPLE && done) each(to, field(r, 0, 0));
        else if (status != PGRES_TUPLES_OK && status != PGRES_SINGLE_TUPLE && done) done = failed_with(r, c, why);
    }
    return done;
}

bool read_lease(void *context, long &seconds, reason &why) {
    result r;
    if (!run(connection_of(context), "SELECT lease_seconds FROM ledger_settings LIMIT 1", {}, r, why)) return false;
    seconds = PQntuples(r.get()) == 1 ? std::atol(PQgetvalue(r.get(), 0, 0)) : 30;
    return true;
}

claim_outcome outcome_named(const std::string &name) {
    static const struct {
        const char *name;
        claim_outcome outcome;
    } outcomes[] = {{"claimed", claim_outcome::claimed},         {"configured", claim_outcome::configured},
                    {"other command", claim_outcome::other_command}, {"busy", claim_outcome::busy},
                    {"unfinished", claim_outcome::unfinished},   {"name taken", claim_outcome::name_taken}};
    for (const auto &o : outcomes) {
        if (name == o.name) return o.outcome;
    }
    return claim_outcome::busy;  // none other is written
}

bool claim(void *context, const claim_request &q, claim_answer &answer, reason &why) {
    const std::string fixed = q.port_fixed ? "true" : "false";
    const std::string *no_text = nullptr;
    result r;
    if (!run_again(connection_of(context), "SELECT * FROM claim_module($1, $2, $3, $4, $5, $6, $7, $8, $9)",
             {&q.lot, &q.imei, &q.imsi, &q.station, &q.run, &q.command, &fixed,
              q.server_uri.empty() ? no_text : &q.server_uri, q.endpoint.empty() ? no_text : &q.endpoint},
             r, why)) {
        return false;
    }
    answer = {outcome_named(field(r, 0, 0)), field(r, 0, 1), field(r, 0, 2), field(r, 0, 3)};
    return true;
}

bool renew(void *context, const std::string &run_id, const std::string &station, const std::string &lot,
           reason &why) {
    result r;
    return run_again(connection_of(context), "SELECT renew_claims($1, $2, $3)", {&run_id, &station, &lot}, r, why);
}

bool add_result(void *context, const result_row &row, reason &why) {
    const auto text = [](const std::string &t) { return t.empty() ? nullptr : &t; };
    result r;
    return run_again(connection_of(context),
               "INSERT INTO results (object, lot, imei, imsi, station, run, endpoint, server_uri, command_key, "
               "portless_key, result, started, line) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, md5($9), "
               "md5(portless($9)), $10, $11::timestamptz, $12) ON CONFLICT (object) DO NOTHING",
               {&row.object, &row.lot, text(row.imei), text(row.imsi), &row.station, text(row.run),
                text(row.endpoint), text(row.server_uri), text(row.command), &row.result, &row.started, &row.line},
               r, why);
}

// Why a claim cannot be given back: live, finished, or none.
bool not_released(PGconn *c, const std::string &lot, const std::string &imei, const std::string &imsi,
                  reason &why) {
    const std::string sql = "SELECT station, run, " + utc("lease_until") +
                            ", finished IS NOT NULL FROM claims WHERE lot = $1 AND imei = $2 AND imsi = $3";
    result r;
    if (!run(c, sql.c_str(), {&lot, &imei, &imsi}, r, why)) return false;
    const std::string module = module_key(imei, imsi);
    if (PQntuples(r.get()) == 0) return fail(why, "no claim of %s in lot %s", module.c_str(), lot.c_str());
    if (field(r, 0, 3) == "t") return fail(why, "the claim of %s is finished: nothing to give back", module.c_str());
    return fail(why, "the claim of %s by %s (run %s) is live until %s: its run is still working", module.c_str(),
                field(r, 0, 0).c_str(), field(r, 0, 1).c_str(), field(r, 0, 2).c_str());
}

bool release(void *context, const std::string &lot, const std::string &imei, const std::string &imsi,
             open_claim &released, reason &why) {
    PGconn *c = connection_of(context);
    const std::string sql =
        "WITH gone AS (DELETE FROM claims WHERE lot = $1 AND imei = $2 AND imsi = $3 AND finished IS NULL "
        "AND lease_until < now() RETURNING *), "
        "kept AS (INSERT INTO releases (lot, imei, imsi, station, run, claimed) "
        "SELECT lot, imei, imsi, station, run, claimed FROM gone), "
        "freed AS (DELETE FROM names n USING gone g WHERE n.lot = g.lot AND n.imei = g.imei AND n.imsi = g.imsi "
        "AND n.object IS NULL) "
        "SELECT imei, imsi, station, run, " + utc("claimed") + ", " + utc("lease_until") + " FROM gone";
    result r;
    if (!run(c, sql.c_str(), {&lot, &imei, &imsi}, r, why)) return false;
    if (PQntuples(r.get()) == 0) return not_released(c, lot, imei, imsi, why);
    released = {field(r, 0, 0), field(r, 0, 1), field(r, 0, 2), field(r, 0, 3), field(r, 0, 4), field(r, 0, 5)};
    return true;
}

bool read_version(PGconn *c, int &version, reason &why) {
    result r;
    if (!run(c, "SELECT version FROM ledger_schema", {}, r, why)) return false;
    version = PQntuples(r.get()) == 1 ? std::atoi(PQgetvalue(r.get(), 0, 0)) : 0;
    return true;
}

std::string identifier(PGconn *c, const std::string &name) {
    char *quoted = PQescapeIdentifier(c, name.data(), name.size());
    std::string text = quoted == nullptr ? std::string() : quoted;
    PQfreemem(quoted);
    return text;
}

bool grant_station(PGconn *c, const char *role_name, reason &why) {
    result r;
    if (!run(c, "SELECT current_schema()", {}, r, why)) return false;
    const std::string role = identifier(c, role_name);
    const std::string schema = identifier(c, field(r, 0, 0));
    if (role.empty() || schema.empty()) return fail(why, "the ledger: %s", one_line(PQerrorMessage(c)).c_str());
    const std::string grants[] = {
        "GRANT USAGE ON SCHEMA " + schema + " TO " + role,
        "GRANT SELECT ON ledger_schema, ledger_settings, lots, manifest, results, tallies, modules, names, clashes, "
        "claims, runs, lot_progress TO " + role,
        "GRANT INSERT ON results TO " + role,
        "GRANT EXECUTE ON FUNCTION claim_module(text, text, text, text, text, text, boolean, text, text), "
        "renew_claims(text, text, text) TO " + role,
    };
    for (const std::string &grant : grants) {
        if (!run(c, grant.c_str(), why)) return false;
    }
    return true;
}

bool init_in(PGconn *c, const char *station_role, long lease_seconds, int &from, reason &why) {
    if (!run(c, "SELECT pg_advisory_xact_lock(hashtext('veldconf-ledger init'))", why) ||
        !run(c, "CREATE TABLE IF NOT EXISTS ledger_schema (version integer NOT NULL)", why) ||
        !read_version(c, from, why)) {
        return false;
    }
    if (from > schema_version) {
        return fail(why, "the ledger's schema is version %d, newer than this program's (%d)", from, schema_version);
    }
    for (int n = from + 1; n <= schema_version; ++n) {
        if (!run(c, schema_step(n), why)) return false;
    }
    const std::string version = std::to_string(schema_version);
    const std::string lease = std::to_string(lease_seconds);
    result r;
    return run(c, "DELETE FROM ledger_schema", why) &&
           run(c, "INSERT INTO ledger_schema (version) VALUES ($1)", {&version}, r, why) &&
           (lease_seconds == 0 || run(c, "UPDATE ledger_settings SET lease_seconds = $1", {&lease}, r, why)) &&
           (station_role == nullptr || grant_station(c, station_role, why));
}

void quiet(void *, const char *) {}

}  // namespace

bool check_command_line_ledger(const char *conninfo, reason &why) {
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo, &error);
    if (options == nullptr) {
        const std::string text = one_line(error != nullptr ? error : "out of memory");
        PQfreemem(error);
        return fail(why, "%s", text.c_str());
    }
    bool password = false;
    for (PQconninfoOption *o = options; o->keyword != nullptr; ++o) {
        password = password || (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr && *o->val != '\0');
    }
    PQconninfoFree(options);
    return !password || fail(why, "a password on the command line shows in the process list; "
                                  "put it in ~/.pgpass, PGPASSFILE or PGPASSWORD");
}

bool postgres_open(const char *conninfo, postgres_ledger &pg, reason &why) {
    // A host that does not answer is given up after 10 s, unless the
    // connection string says otherwise.
    const char *keywords[] = {"connect_timeout", "dbname", nullptr};
    const char *values[] = {"10", conninfo, nullptr};
    PGconn *c = PQconnectdbParams(keywords, values, 1);
    if (c == nullptr || PQstatus(c) != CONNECTION_OK) {
        const std::string text = one_line(c == nullptr ? "out of memory" : PQerrorMessage(c));
        PQfinish(c);
        return fail(why, "cannot reach the ledger: %s", text.c_str());
    }
    PQsetNoticeProcessor(c, quiet, nullptr);  // "already exists, skipping" and the like
    pg.connection = c;
    return true;
}

void postgres_close(postgres_ledger &pg) {
    PQfinish(static_cast<PGconn *>(pg.connection));
    pg.connection = nullptr;
}

bool postgres_init(postgres_ledger &pg, const char *station_role, long lease_seconds, int &from, reason &why) {
    PGconn *c = static_cast<PGconn *>(pg.connection);
    return run(c, "BEGIN", why) && finish(c, init_in(c, station_role, lease_seconds, from, why), why);
}

bool postgres_check_schema(postgres_ledger &pg, reason &why) {
    PGconn *c = static_cast<PGconn *>(pg.connection);
    result r;
    if (!run(c, "SELECT to_regclass('ledger_schema') IS NOT NULL", {}, r, why)) return false;
    int version = 0;
    if (std::strcmp(PQgetvalue(r.get(), 0, 0), "t") == 0 && !read_version(c, version, why)) return false;
    if (version == 0) return fail(why, "the ledger has no schema yet; make it with: veldconf-ledger init");
    if (version < schema_version) {
        return fail(why, "the ledger's schema is version %d, older than this program's (%d); "
                         "bring it up with: veldconf-ledger init", version, schema_version);
    }
    return version == schema_version ||
           fail(why, "the ledger's schema is version %d, newer than this program's (%d)", version, schema_version);
}

ledger postgres_operations(postgres_ledger &pg) {
    return {&pg,        lot_exists, add_lot, read_manifest, add_results, read_status, read_lines,
            read_lease, claim,      renew,   add_result,    release};
}

}  // namespace veld
