// The ledger: reports read into its rows, a lot as text, and the contract
// of its operations, held by the ledger in memory and, with the tests'
// own server (VELDCONF_TEST_LEDGER), by PostgreSQL.
#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ledger_postgres.hpp"
#include "lot_text.hpp"
#include "memory_ledger.hpp"
#include "records.hpp"
#include "sync.hpp"
#include "temp_folder.hpp"

namespace {

// A report object as the station writes it.
struct made_object {
    const char *imei, *imsi, *station, *uri, *name;
    veld::result what;
    long long started_ms;
    std::size_t number;
    const char *run;
};

std::string object_line(const made_object &m) {
    veld::port_record r{};
    r.device = "/dev/ttyUSB0";
    std::strcpy(r.id.imei, m.imei);
    std::strcpy(r.id.imsi, m.imsi);
    r.imei_known = r.imsi_known = true;
    veld::client_config config{};
    config.uri = m.uri;
    config.uri_len = static_cast<std::uint32_t>(std::strlen(m.uri));
    config.ep_name = m.name;
    config.ep_name_len = static_cast<std::uint32_t>(std::strlen(m.name));
    r.endpoint = m.name;
    r.endpoint_len = config.ep_name_len;
    r.config = &config;
    r.lines = r.acknowledged = 1;
    r.what = m.what;
    if (m.what != veld::result::configured) veld::fail(r.why, "no answer");
    r.started_ms = m.started_ms;
    std::string out;
    veld::format_report_object(r, {m.station, nullptr, m.run, "1.2", nullptr}, m.number, out);
    out.pop_back();  // its line end
    return out;
}

const long long t0 = 1796000000000;  // 2026-11-30
const auto done = veld::result::configured;

std::string report_of(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += line + "\n";
    return text;
}

// Reports as the ledger reads them: each whole object a row, or the
// report refused naming its line.
struct reading_case {
    const char *name;
    std::string report;
    const char *lot;
    const char *fault;  // null: read
    std::size_t rows;
    std::vector<long> cut;
};

const std::string a = object_line({"490154203237511", "310150123456789", "bench-1", "coap://192.0.2.10",
                                   "n1", done, t0, 1, "run-a"});
const std::string b = object_line({"490154203237512", "310150123456789", "bench-1", "coap://192.0.2.10",
                                   "n2", veld::result::failed, t0 + 1000, 2, "run-a"});

// The rows of the report at path, read batch by batch; false with why.
bool read_rows(const std::string &path, const char *lot, std::vector<veld::result_row> &rows, std::vector<long> &cut,
               veld::reason &why) {
    veld::report_rows source{};
    bool missing = false;
    if (!veld::open_rows(source, path.c_str(), lot, missing, why)) return false;
    std::vector<veld::result_row> batch;
    bool read = true;
    do {
        read = veld::next_rows(&source, batch, why);
        rows.insert(rows.end(), batch.begin(), batch.end());
    } while (read && !batch.empty());
    veld::close_rows(source);
    cut = source.cut_lines;
    return read;
}

TEST(LedgerReading, ReportsIntoRows) {
    const std::string with_lot = a.substr(0, a.size() - 1) + ", \"lot\": \"own lot\"}";
    const reading_case cases[] = {
        {"two objects, the lot given", report_of({a, b}), "L", nullptr, 2, {}},
        {"an object's own lot", report_of({with_lot}), "", nullptr, 1, {}},
        {"no lot anywhere", report_of({a}), "", "line 1: the object names no lot; give one with --lot", 0, {}},
        {"a cut line passed over", report_of({a, b.substr(0, 40), b}), "L", nullptr, 2, {2}},
        {"two reports joined", report_of({b.substr(0, 60) + a}), "L", nullptr, 1, {1}},
        {"CR LF and a byte-order mark", "\xEF\xBB\xBF" + a + "\r\n", "L", nullptr, 1, {}},
        {"no object id", "{\"device\": \"d\", \"imei\": null, \"imsi\": null, \"command\": null, \"result\": "
                         "\"failed\", \"started\": \"2026-12-01T00:00:00.000Z\"}\n",
         "L", "line 1: the object has no id (\"object\")", 0, {}},
        {"a start that is no moment", report_of({a.substr(0, a.find("2026")) + "yesterday" + a.substr(a.find("Z\""))}),
         "L", "line 1: \"started\" is no moment in UTC", 0, {}},
        {"text that is not UTF-8", report_of({a.substr(0, a.find("bench-1")) + "\xFF" + a.substr(a.find("bench-1"))}),
         "L", "line 1: not UTF-8", 0, {}},
        {"a line that is no object", "{\"a\": 1}\n", "L", "line 1: not a report object", 0, {}},
    };
    for (const reading_case &c : cases) {
        temp_folder folder;
        write_file(folder.file("r.jsonl"), c.report);
        std::vector<veld::result_row> rows;
        std::vector<long> cut;
        veld::reason why{};
        const bool read = read_rows(folder.file("r.jsonl"), c.lot, rows, cut, why);
        EXPECT_EQ(read, c.fault == nullptr) << c.name << ": " << why.text;
        if (c.fault != nullptr) {
            EXPECT_STREQ(why.text, c.fault) << c.name;
        }
        EXPECT_EQ(rows.size(), c.rows) << c.name;
        EXPECT_EQ(cut, c.cut) << c.name;
    }
}

TEST(LedgerReading, ColumnsOfARow) {
    temp_folder folder;
    const std::string quoted = object_line({"490154203237511", "310150123456789", "st\x01", "coap://h/a b'c",
                                            "x;y", done, t0, 4, "run-q"});
    const std::string escaped = object_line({"490154203237511", "310150123456789", "s", "coap://h/\x7f\\'",
                                             "z", done, t0, 5, "run-q"});
    write_file(folder.file("r.jsonl"), report_of({a, quoted, escaped}));
    std::vector<veld::result_row> rows;
    std::vector<long> cut;
    veld::reason why{};
    ASSERT_TRUE(read_rows(folder.file("r.jsonl"), "L", rows, cut, why)) << why.text;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].object, "run-a/1");
    EXPECT_EQ(rows[0].lot, "L");
    EXPECT_EQ(rows[0].imei, "490154203237511");
    EXPECT_EQ(rows[0].imsi, "310150123456789");
    EXPECT_EQ(rows[0].station, "bench-1");
    EXPECT_EQ(rows[0].run, "run-a");
    EXPECT_EQ(rows[0].endpoint, "n1");
    EXPECT_EQ(rows[0].server_uri, "coap://192.0.2.10");
    EXPECT_EQ(rows[0].result, "configured");
    EXPECT_EQ(rows[0].started, "2026-11-30T00:53:20.000Z");
    EXPECT_EQ(rows[0].line, a);
    EXPECT_EQ(rows[1].server_uri, "coap://h/a b'c");
    EXPECT_EQ(rows[1].endpoint, "x;y");
    EXPECT_EQ(rows[1].station, "st\x01");
    EXPECT_EQ(rows[2].server_uri, "coap://h/\x7f\\'");
}

TEST(LedgerText, LotNames) {
    const struct {
        std::string lot;
        bool taken;
    } cases[] = {
        {"L-2026-12", true}, {"a;'b\\c\"", true}, {"Los 7 \xC3\xBC", true}, {"", false},
        {std::string(200, 'x'), true}, {std::string(201, 'x'), false}, {"a\tb", false}, {"a\x7f", false},
        {"\xFF", false},
    };
    for (const auto &c : cases) {
        veld::reason why{};
        EXPECT_EQ(veld::check_lot_name(c.lot, why), c.taken) << c.lot;
    }
}

TEST(LedgerText, Status) {
    veld::lot_status s;
    s.counts = {{"bench-1", "configured", 3}, {"bench-1", "failed", 1}, {"bench\x1b", "configured", 2}};
    s.twice = {{"coap://a", "n1", "1", "9", "L", "bench-1", "T1", "r/1"},
               {"coap://a", "n1", "1", "9", "L", "bench\x1b", "T2", "s/1"}};
    s.clashes = {{"coap://a", "n\n", "1", "9", "L", "bench-1", "T1", "r/1"},
                 {"coap://a", "n\n", "2", "9", "M", "bench-2", "T3", "t/1"}};
    s.claims = {{"3", "9", "bench-3", "r3", "T4", "T5"}};
    std::string out;
    veld::format_status("L", s, out);
    EXPECT_EQ(out,
              "lot L\n"
              "station bench-1: configured 3, failed 1\n"
              "station bench\\x1B: configured 2\n"
              "conflict: module 1;9 configured 2 times: bench-1 at T1 (lot L), bench\\x1B at T2 (lot L)\n"
              "clash: endpoint name n\\x0A on coap://a given 2 times: 1;9 (lot L, bench-1 at T1), "
              "2;9 (lot M, bench-2 at T3)\n"
              "unfinished: 3;9 claimed by bench-3 (run r3) at T4, its lease until T5\n");
    out.clear();
    veld::format_status("L", veld::lot_status{}, out);
    EXPECT_EQ(out, "lot L\nno conflicts\n");
}

TEST(LedgerText, CsvRows) {
    std::string header;
    veld::format_csv_header(header);
    EXPECT_EQ(header, "lot,object,device,imei,imsi,endpoint,command,lines,acknowledged,result,reason,started,"
                      "seconds,station,operator,run,version,transcript,slot\r\n");
    const std::string odd = object_line({"490154203237511", "310150123456789", "a,\"b\"", "coap://h",
                                         " x;y\\z", done, t0, 1, "run-c"});
    std::string row;
    ASSERT_TRUE(veld::format_csv_row("lot;'\"", odd, row));
    EXPECT_EQ(row, "\"lot;'\"\"\",run-c/1,/dev/ttyUSB0,490154203237511,310150123456789,\" x;y\\z\","
                   "veldconf -b 0 -e 0 -d 0 -p 0 -t 0 -i coap://h -n ' x;y\\z' -u 0 -g 0 -x 0,1,1,configured,,"
                   "2026-11-30T00:53:20.000Z,0.000,\"a,\"\"b\"\"\",,run-c,1.2,,\r\n");
    EXPECT_FALSE(veld::format_csv_row("L", "{\"a\": 1}", row));
}

// The contract: the same table against each ledger.
class LedgerContract : public testing::TestWithParam<const char *> {
  protected:
    memory_ledger memory;
    veld::postgres_ledger pg{};
    veld::postgres_ledger server{};
    std::string database;
    std::string role;  // made by the case, dropped after its database
    veld::ledger l{};
    temp_folder folder;

    void SetUp() override {
        if (std::strcmp(GetParam(), "memory") == 0) {
            l = memory_operations(memory);
            return;
        }
        l = veld::postgres_operations(pg);
        const char *conninfo = std::getenv("VELDCONF_TEST_LEDGER");
        ASSERT_NE(conninfo, nullptr) << "VELDCONF_TEST_LEDGER names no server";
        veld::reason why{};
        ASSERT_TRUE(veld::postgres_open(conninfo, server, why)) << why.text;
        static int made = 0;
        database = "contract_" + std::to_string(getpid()) + "_" + std::to_string(++made);
        ASSERT_TRUE(sql(server, "CREATE DATABASE " + database));
        ASSERT_TRUE(veld::postgres_open((std::string(conninfo) + " dbname=" + database).c_str(), pg, why)) << why.text;
        int from = -1;
        ASSERT_TRUE(veld::postgres_init(pg, nullptr, 0, from, why)) << why.text;
        EXPECT_EQ(from, 0);
    }
    void TearDown() override {
        if (pg.connection != nullptr) veld::postgres_close(pg);
        if (server.connection != nullptr) {
            sql(server, "DROP DATABASE IF EXISTS " + database);
            if (!role.empty()) sql(server, "DROP ROLE IF EXISTS " + role);
            veld::postgres_close(server);
        }
    }

    static bool sql(veld::postgres_ledger &on, const std::string &statement);

    bool lot(const char *name) {
        bool created = false;
        std::size_t added = 0;
        veld::reason why{};
        return l.add_lot(l.context, name, {}, created, added, why) && created;
    }
    // Syncs the lines as a report into lot; the objects added, or -1 with
    // the refusal in fault.
    // Batches of 4 rows, so that a few lines make several batches.
    long sync(const std::vector<std::string> &lines, const char *lot_name, std::string &fault) {
        write_file(folder.file("r.jsonl"), report_of(lines));
        veld::sync_counts counts{};
        veld::reason why{};
        if (!veld::sync_report(l, folder.file("r.jsonl").c_str(), lot_name, counts, why, false, 4)) {
            fault = why.text;
            return -1;
        }
        return static_cast<long>(counts.added);
    }
    long sync(const std::vector<std::string> &lines, const char *lot_name) {
        std::string fault;
        const long added = sync(lines, lot_name, fault);
        EXPECT_EQ(fault, "");
        return added;
    }
    std::vector<std::string> lines_of(const char *lot_name) {
        std::vector<std::string> lines;
        veld::reason why{};
        EXPECT_TRUE(l.read_lines(
            l.context, lot_name,
            [](void *to, const std::string &line) { static_cast<std::vector<std::string> *>(to)->push_back(line); },
            &lines, why))
            << why.text;
        return lines;
    }
    bool on_postgres() const { return std::strcmp(GetParam(), "postgres") == 0; }
    // A lease of one second, for the cases that let one run out.
    void short_lease() {
        memory.lease_seconds = 1;
        int from = 0;
        veld::reason why{};
        if (on_postgres()) {
            ASSERT_TRUE(veld::postgres_init(pg, nullptr, 1, from, why)) << why.text;
        }
    }
    void pass(double seconds) {
        memory.now_ms += static_cast<long long>(seconds * 1000);
        if (on_postgres()) usleep(static_cast<useconds_t>(seconds * 1e6));
    }
    veld::claim_answer claim_of(const char *imei, const char *run, const char *command = "veldconf -p 5683 -i x",
                                const char *name = "", const char *lot_name = "L", const char *uri = "coap://a") {
        veld::claim_answer answer{};
        veld::reason why{};
        const veld::claim_request q{lot_name, imei, "310150123456789", std::string("bench-") + run, run,
                                    command, uri, name, true};
        EXPECT_TRUE(l.claim(l.context, q, answer, why)) << why.text;
        return answer;
    }
    void result_of(const std::string &line, const char *lot_name = "L") {
        veld::report_object o;
        veld::result_row row;
        veld::reason why{};
        ASSERT_TRUE(veld::parse_report_line(line, o));
        ASSERT_TRUE(veld::row_of(o, lot_name, row, why)) << why.text;
        ASSERT_TRUE(l.add_result(l.context, row, why)) << why.text;
    }
    std::string status_of(const char *lot_name) {
        veld::lot_status s;
        veld::reason why{};
        EXPECT_TRUE(l.read_status(l.context, lot_name, s, why)) << why.text;
        std::string out;
        veld::format_status(lot_name, s, out);
        return out;
    }
};

TEST_P(LedgerContract, ReplayChangesNothing) {
    ASSERT_TRUE(lot("L"));
    EXPECT_FALSE(lot("L"));
    EXPECT_EQ(sync({a, b}, "L"), 2);
    EXPECT_EQ(sync({a, b}, "L"), 0);
    const std::string c = object_line({"490154203237513", "310150123456789", "bench-2", "coap://192.0.2.10", "n3",
                                       done, t0 + 5000, 1, "run-b"});
    EXPECT_EQ(sync({a, c}, "L"), 1);
    EXPECT_EQ(lines_of("L"), (std::vector<std::string>{a, b, c}));
    EXPECT_EQ(status_of("L"), "lot L\nstation bench-1: configured 1, failed 1\nstation bench-2: configured 1\n"
                              "no conflicts\n");
}

TEST_P(LedgerContract, RefusalsChangeNothing) {
    ASSERT_TRUE(lot("L"));
    std::string fault;
    EXPECT_EQ(sync({a}, "M", fault), -1);
    EXPECT_EQ(fault, "no lot M in the ledger; make it with: veldconf-ledger lot");
    EXPECT_EQ(sync({a}, "L"), 1);
    std::string other = a;
    other.replace(other.find("bench-1"), 7, "bench-9");
    EXPECT_EQ(sync({b, other}, "L", fault), -1);
    EXPECT_EQ(fault, "object run-a/1 is in the ledger with other text than the report's");
    std::string b_other = b;
    b_other.replace(b_other.find("bench-1"), 7, "bench-9");
    EXPECT_EQ(sync({b, b_other}, "L", fault), -1);
    EXPECT_EQ(fault, "object run-a/2 is in the ledger with other text than the report's");
    EXPECT_EQ(lines_of("L"), std::vector<std::string>{a});
    EXPECT_EQ(sync({b, b}, "L"), 1);
}

TEST_P(LedgerContract, ReportOfManyBatchesWholeOrNone) {
    ASSERT_TRUE(lot("L"));
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < 6; ++i) {
        lines.push_back(object_line({"490154203237511", "310150123456789", "bench-1", "coap://192.0.2.10", "n1",
                                     veld::result::failed, t0 + static_cast<long long>(i), i + 1, "run-many"}));
    }
    std::vector<std::string> refused = lines;
    refused.push_back(lines.back().substr(lines.back().find(", ") + 2).insert(0, "{"));  // no id
    std::string fault;
    EXPECT_EQ(sync(refused, "L", fault), -1);
    EXPECT_EQ(fault, "line 7: the object has no id (\"object\")");
    EXPECT_TRUE(lines_of("L").empty());
    EXPECT_EQ(sync(lines, "L"), 6);
    EXPECT_EQ(lines_of("L"), lines);
}

TEST_P(LedgerContract, ModuleConfiguredAtTwoStations) {
    ASSERT_TRUE(lot("L"));
    const std::string again = object_line({"490154203237511", "310150123456789", "bench-2", "coap://192.0.2.10",
                                           "n1", done, t0 + 60000, 1, "run-b"});
    EXPECT_EQ(sync({a, b}, "L"), 2);
    EXPECT_EQ(sync({again}, "L"), 1);
    EXPECT_EQ(status_of("L"),
              "lot L\nstation bench-1: configured 1, failed 1\nstation bench-2: configured 1\n"
              "conflict: module 490154203237511;310150123456789 configured 2 times: "
              "bench-1 at 2026-11-30T00:53:20.000Z (lot L), bench-2 at 2026-11-30T00:54:20.000Z (lot L)\n");
}

TEST_P(LedgerContract, NameGivenTwiceOnOneServer) {
    ASSERT_TRUE(lot("L"));
    ASSERT_TRUE(lot("M"));
    const std::string taken = object_line({"490154203237599", "310150123456789", "bench-2", "coap://192.0.2.10",
                                           "n1", done, t0 + 1000, 1, "run-m"});
    const std::string elsewhere = object_line({"490154203237598", "310150123456789", "bench-2", "coap://192.0.2.11",
                                               "n1", done, t0 + 2000, 2, "run-m"});
    EXPECT_EQ(sync({a}, "L"), 1);
    EXPECT_EQ(sync({taken, elsewhere}, "M"), 2);
    const std::string clash = "clash: endpoint name n1 on coap://192.0.2.10 given 2 times: "
                              "490154203237511;310150123456789 (lot L, bench-1 at 2026-11-30T00:53:20.000Z), "
                              "490154203237599;310150123456789 (lot M, bench-2 at 2026-11-30T00:53:21.000Z)\n";
    EXPECT_EQ(status_of("L"), "lot L\nstation bench-1: configured 1\n" + clash);
    EXPECT_EQ(status_of("M"), "lot M\nstation bench-2: configured 2\n" + clash);
}

TEST_P(LedgerContract, ManifestRowsWholeOrNone) {
    const std::vector<veld::manifest_entry> rows = {
        {2, "490154203237511", {{"name", "a;'b\\c\"d"}, {"uri", "coap://h/x;y"}}},
        {3, "490154203237512", {}},
    };
    std::size_t added = 0;
    bool created = false;
    veld::reason why{};
    ASSERT_TRUE(l.add_lot(l.context, "L", rows, created, added, why)) << why.text;
    EXPECT_TRUE(created);
    EXPECT_EQ(added, 2u);
    ASSERT_TRUE(l.add_lot(l.context, "L", rows, created, added, why)) << why.text;
    EXPECT_FALSE(created);
    EXPECT_EQ(added, 0u);
    const std::vector<veld::manifest_entry> other = {
        {2, "490154203237513", {{"port", "1"}}},
        {3, "490154203237511", {{"name", "a;'b\\c\"d"}, {"uri", "coap://h/x;z"}}},
    };
    EXPECT_FALSE(l.add_lot(l.context, "L", other, created, added, why));
    EXPECT_STREQ(why.text, "line 3: module 490154203237511 is in the lot with other values (its line 2 there)");
    EXPECT_TRUE(l.add_lot(l.context, "M", other, created, added, why)) << why.text;  // another lot's rows
    EXPECT_EQ(added, 2u);
    std::vector<veld::manifest_entry> back;
    ASSERT_TRUE(l.read_manifest(l.context, "L", back, why)) << why.text;
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].imei, "490154203237511");
    EXPECT_EQ(back[0].cells, rows[0].cells);
    EXPECT_EQ(back[1].imei, "490154203237512");
    EXPECT_TRUE(back[1].cells.empty());
}

bool LedgerContract::sql(veld::postgres_ledger &on, const std::string &statement) {
    PGresult *r = PQexec(static_cast<PGconn *>(on.connection), statement.c_str());
    const bool done = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!done) ADD_FAILURE() << statement << ": " << PQresultErrorMessage(r);
    PQclear(r);
    return done;
}

// What a station's role may do, on the server alone: read, add, and never
// change or delete a result.
class OnPostgresRoles : public LedgerContract {};

TEST_P(OnPostgresRoles, StationAddsResultsAndChangesNone) {
    role = "station_" + database;
    ASSERT_TRUE(sql(server, "DROP ROLE IF EXISTS " + role));
    ASSERT_TRUE(sql(server, "CREATE ROLE " + role + " LOGIN PASSWORD 'station-pw'"));
    int from = -1;
    veld::reason why{};
    ASSERT_TRUE(veld::postgres_init(pg, role.c_str(), 0, from, why)) << why.text;
    EXPECT_EQ(from, 1);
    ASSERT_TRUE(lot("L"));
    EXPECT_EQ(sync({a}, "L"), 1);
    veld::postgres_ledger station{};
    const std::string as_station = std::string(std::getenv("VELDCONF_TEST_LEDGER")) + " dbname=" + database +
                                   " user=" + role + " password=station-pw";
    ASSERT_TRUE(veld::postgres_open(as_station.c_str(), station, why)) << why.text;
    l = veld::postgres_operations(station);
    EXPECT_EQ(sync({a, b}, "L"), 1);
    const auto refused = [&](const char *statement) {
        PGresult *r = PQexec(static_cast<PGconn *>(station.connection), statement);
        const bool done = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return !done;
    };
    EXPECT_TRUE(refused("UPDATE results SET result = 'configured'"));
    EXPECT_TRUE(refused("DELETE FROM results"));
    EXPECT_TRUE(refused("TRUNCATE results"));
    EXPECT_TRUE(refused("INSERT INTO lots (lot) VALUES ('mine')"));
    // Its claims go through the ledger's functions alone.
    EXPECT_EQ(claim_of("490154203237519", "r9").outcome, veld::claim_outcome::claimed);
    EXPECT_TRUE(refused("UPDATE claims SET lease_until = now() + interval '1 day'"));
    EXPECT_TRUE(refused("DELETE FROM claims"));
    // Nor may the ledger's owner: results are append-only for all.
    PGresult *r = PQexec(static_cast<PGconn *>(pg.connection), "DELETE FROM results");
    EXPECT_NE(PQresultStatus(r), PGRES_COMMAND_OK);
    PQclear(r);
    veld::postgres_close(station);
    l = veld::postgres_operations(pg);
    EXPECT_EQ(lines_of("L"), (std::vector<std::string>{a, b}));
}

// Two runs claim one module at the same moment, each in a transaction not
// yet committed: the key decides, and exactly one wins.
TEST_P(OnPostgresRoles, TwoClaimsAtOnceOneWins) {
    ASSERT_TRUE(lot("L"));
    veld::postgres_ledger other{};
    veld::reason why{};
    const std::string conninfo = std::string(std::getenv("VELDCONF_TEST_LEDGER")) + " dbname=" + database;
    ASSERT_TRUE(veld::postgres_open(conninfo.c_str(), other, why)) << why.text;
    PGconn *first = static_cast<PGconn *>(pg.connection);
    PGconn *second = static_cast<PGconn *>(other.connection);
    const char *claim_sql = "SELECT outcome FROM claim_module('L', '490154203237511', '310150123456789', $1, $1, "
                            "'c', true, 'coap://a', 'n1')";
    const char *r1[] = {"r1"};
    const char *r2[] = {"r2"};
    ASSERT_TRUE(sql(pg, "BEGIN"));
    PGresult *won = PQexecParams(first, claim_sql, 1, nullptr, r1, nullptr, nullptr, 0);
    ASSERT_EQ(PQresultStatus(won), PGRES_TUPLES_OK);
    EXPECT_STREQ(PQgetvalue(won, 0, 0), "claimed");
    PQclear(won);
    ASSERT_EQ(PQsendQueryParams(second, claim_sql, 1, nullptr, r2, nullptr, nullptr, 0), 1);
    usleep(300000);
    ASSERT_EQ(PQconsumeInput(second), 1);
    EXPECT_EQ(PQisBusy(second), 1);  // waiting on the first's key
    ASSERT_TRUE(sql(pg, "COMMIT"));
    PGresult *lost = PQgetResult(second);
    ASSERT_EQ(PQresultStatus(lost), PGRES_TUPLES_OK);
    EXPECT_STREQ(PQgetvalue(lost, 0, 0), "busy");
    PQclear(lost);
    while (PGresult *rest = PQgetResult(second)) PQclear(rest);
    veld::postgres_close(other);
}

INSTANTIATE_TEST_SUITE_P(OnPostgres, OnPostgresRoles, testing::Values("postgres"));

TEST_P(LedgerContract, AClaimDecidesOnce) {
    ASSERT_TRUE(lot("L"));
    const std::string command = "veldconf -b 0 -e 0 -d 0 -p 0 -t 0 -i coap://192.0.2.10 -n n1 -u 0 -g 0 -x 0";
    EXPECT_EQ(claim_of("490154203237511", "r1", command.c_str()).outcome, veld::claim_outcome::claimed);
    const veld::claim_answer busy = claim_of("490154203237511", "r2", command.c_str());
    EXPECT_EQ(busy.outcome, veld::claim_outcome::busy);
    EXPECT_EQ(busy.station, "bench-r1");
    // A result of another run ends no claim of this one.
    const std::string done_r1 = object_line({"490154203237511", "310150123456789", "bench-r1", "coap://192.0.2.10",
                                             "n1", done, t0, 1, "r1"});
    result_of(done_r1);
    result_of(done_r1);  // a replay
    EXPECT_EQ(lines_of("L"), std::vector<std::string>{done_r1});
    const veld::claim_answer again = claim_of("490154203237511", "r2", command.c_str());
    EXPECT_EQ(again.outcome, veld::claim_outcome::configured);
    EXPECT_EQ(again.station, "bench-r1");
    EXPECT_EQ(again.since, "2026-11-30T00:53:20.000Z");
    const veld::claim_answer other = claim_of("490154203237511", "r2", "veldconf -p 5684 -i y");
    EXPECT_EQ(other.outcome, veld::claim_outcome::other_command);
    EXPECT_EQ(other.other, command);
    // A module configured in another lot is that lot's.
    ASSERT_TRUE(lot("M"));
    EXPECT_EQ(claim_of("490154203237511", "r2", command.c_str(), "", "M").outcome, veld::claim_outcome::claimed);
}

TEST_P(LedgerContract, AFailedModuleIsClaimedAnew) {
    ASSERT_TRUE(lot("L"));
    EXPECT_EQ(claim_of("490154203237512", "run-a").outcome, veld::claim_outcome::claimed);
    result_of(b);  // run-a's failure
    EXPECT_EQ(claim_of("490154203237512", "r2").outcome, veld::claim_outcome::claimed);
}

TEST_P(LedgerContract, APortDrawnForTheModuleIsNoOtherCommand) {
    ASSERT_TRUE(lot("L"));
    const std::string with_port = "veldconf -b 0 -e 0 -d 0 -p 0 -t 0 -i coap://192.0.2.10 -n n1 -u 0 -g 0 -x 0";
    result_of(a);  // configured with no claim: a station's report synced
    veld::claim_request q{"L", "490154203237511", "310150123456789", "bench-2", "r2", with_port, "coap://192.0.2.10",
                          "n1", false};
    q.command.replace(q.command.find("-p 0"), 4, "-p 6123");
    veld::claim_answer answer{};
    veld::reason why{};
    ASSERT_TRUE(l.claim(l.context, q, answer, why)) << why.text;
    EXPECT_EQ(answer.outcome, veld::claim_outcome::configured);
    q.port_fixed = true;
    ASSERT_TRUE(l.claim(l.context, q, answer, why)) << why.text;
    EXPECT_EQ(answer.outcome, veld::claim_outcome::other_command);
}

TEST_P(LedgerContract, ANameIsGivenOnceOnAServer) {
    ASSERT_TRUE(lot("L"));
    ASSERT_TRUE(lot("M"));
    EXPECT_EQ(claim_of("490154203237511", "r1", "c", "n1", "L").outcome, veld::claim_outcome::claimed);
    const veld::claim_answer taken = claim_of("490154203237512", "r2", "c", "n1", "M");
    EXPECT_EQ(taken.outcome, veld::claim_outcome::name_taken);
    EXPECT_EQ(taken.other, "490154203237511 (lot L, bench-r1)");
    // The refused claim left nothing: the module is free for a name of its own.
    EXPECT_EQ(claim_of("490154203237512", "r2", "c", "n2", "M").outcome, veld::claim_outcome::claimed);
    EXPECT_EQ(claim_of("490154203237513", "r3", "c", "n1", "M", "coap://b").outcome, veld::claim_outcome::claimed);
}

TEST_P(LedgerContract, ALeaseRunsOutUnlessRenewed) {
    short_lease();
    ASSERT_TRUE(lot("L"));
    veld::reason why{};
    EXPECT_EQ(claim_of("490154203237511", "r1").outcome, veld::claim_outcome::claimed);
    pass(0.6);
    ASSERT_TRUE(l.renew(l.context, "r1", "bench-r1", "L", why)) << why.text;
    pass(0.6);
    EXPECT_EQ(claim_of("490154203237511", "r2").outcome, veld::claim_outcome::busy);
    veld::open_claim released{};
    EXPECT_FALSE(l.release(l.context, "L", "490154203237511", "310150123456789", released, why));
    EXPECT_NE(std::string(why.text).find("is live until"), std::string::npos) << why.text;
    pass(1.2);
    const veld::claim_answer dead = claim_of("490154203237511", "r2");
    EXPECT_EQ(dead.outcome, veld::claim_outcome::unfinished);
    EXPECT_EQ(dead.station, "bench-r1");
    veld::lot_status s;
    ASSERT_TRUE(l.read_status(l.context, "L", s, why)) << why.text;
    ASSERT_EQ(s.claims.size(), 1u);
    EXPECT_EQ(s.claims[0].run, "r1");
    ASSERT_TRUE(l.release(l.context, "L", "490154203237511", "310150123456789", released, why)) << why.text;
    EXPECT_EQ(released.station, "bench-r1");
    EXPECT_EQ(released.run, "r1");
    EXPECT_FALSE(l.release(l.context, "L", "490154203237511", "310150123456789", released, why));
    EXPECT_STREQ(why.text, "no claim of 490154203237511;310150123456789 in lot L");
    EXPECT_EQ(claim_of("490154203237511", "r2").outcome, veld::claim_outcome::claimed);
}

// A URI and a name may each be 65535 bytes, random ones too: more than
// an index of the server holds, as keys.
TEST_P(LedgerContract, TheLongestUriAndNameAreTaken) {
    ASSERT_TRUE(lot("L"));
    std::string uri = "coap://", name;
    for (unsigned i = 0, x = 12345; uri.size() < 65535; ++i) {
        x = x * 1103515245u + 12345u;
        uri += static_cast<char>('a' + (x >> 16) % 26);
        if (name.size() < 65535) name += static_cast<char>('A' + (x >> 20) % 26);
    }
    EXPECT_EQ(claim_of("490154203237511", "r1", "c", name.c_str(), "L", uri.c_str()).outcome,
              veld::claim_outcome::claimed);
    result_of(object_line({"490154203237511", "310150123456789", "bench-r1", uri.c_str(), name.c_str(), done, t0, 1,
                           "r1"}));
    EXPECT_EQ(claim_of("490154203237512", "r2", "c", name.c_str(), "L", uri.c_str()).outcome,
              veld::claim_outcome::name_taken);
    EXPECT_EQ(status_of("L"), "lot L\nstation bench-r1: configured 1\nno conflicts\n");
}

TEST_P(LedgerContract, TwoLiveRunsUnderOneStationName) {
    ASSERT_TRUE(lot("L"));
    veld::reason why{};
    ASSERT_TRUE(l.renew(l.context, "r1", "bench", "L", why)) << why.text;
    EXPECT_EQ(status_of("L"), "lot L\nno conflicts\n");
    ASSERT_TRUE(l.renew(l.context, "r2", "bench", "L", why)) << why.text;
    EXPECT_EQ(status_of("L"), "lot L\ntwins: station bench is live in runs r1, r2\n");
}

INSTANTIATE_TEST_SUITE_P(InMemory, LedgerContract, testing::Values("memory"));
INSTANTIATE_TEST_SUITE_P(OnPostgres, LedgerContract, testing::Values("postgres"));

}  // namespace
