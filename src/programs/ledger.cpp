// veldconf-ledger: keeps a plant's ledger on PostgreSQL: its lots, their
// manifests and every station's results, so that a lot is seen whole and
// a module configured twice, or an endpoint name given twice, is found.
// This file is its command line; the ledger layer does the rest.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ledger_postgres.hpp"
#include "lot_text.hpp"
#include "manifest.hpp"
#include "options.hpp"
#include "program.hpp"
#include "schema.hpp"
#include "sync.hpp"

namespace {

const char program[] = "veldconf-ledger";
const char usage[] =
    "Usage: veldconf-ledger [--ledger CONNINFO] COMMAND [ARGUMENTS]\n"
    "Keeps a plant's ledger on PostgreSQL: its lots, their manifests and every\n"
    "station's results. Each command is one transaction: done whole or not at all.\n"
    "Commands:\n"
    "  init [--station-role ROLE] [--lease SECONDS]\n"
    "                     make the ledger's tables, or bring them up to this\n"
    "                     version; grant ROLE what a station needs; set the\n"
    "                     lease of a station's claims (default 30 s)\n"
    "  lot LOT [--manifest FILE]\n"
    "                     make the lot LOT, or add FILE's rows to it (the\n"
    "                     station's manifest: CSV, imei first)\n"
    "  sync [--lot LOT] REPORT...\n"
    "                     put each report object the ledger lacks into it;\n"
    "                     objects that name no lot go to LOT\n"
    "  status LOT         results by station, modules configured twice, endpoint\n"
    "                     names given twice, claims never finished, two live\n"
    "                     runs under one station name\n"
    "  export LOT [--csv] every result of the lot as its report line (JSON\n"
    "                     Lines), or with --csv as CSV\n"
    "  release LOT IMEI IMSI\n"
    "                     give back a module's claim whose run died (its lease\n"
    "                     ran out), so that another run may configure it\n"
    "Options:\n"
    "  --ledger CONNINFO  a libpq connection string or URI (default\n"
    "                     $VELDCONF_LEDGER, else libpq's PG* variables); a\n"
    "                     password goes in ~/.pgpass, PGPASSFILE or PGPASSWORD\n"
    "  --help             print this text\n"
    "Exit status: 0 done, 1 status found a conflict, a clash, an unfinished\n"
    "claim or twins, 2 a usage error, a refused input or an unreachable ledger\n"
    "(nothing changed).\n";

// "veldconf-ledger: MESSAGE" on standard error, for what is no usage
// error; false.
bool say(const char *format, ...) {
    va_list values;
    va_start(values, format);
    std::fprintf(stderr, "%s: ", program);
    std::vfprintf(stderr, format, values);
    std::fputc('\n', stderr);
    va_end(values);
    return false;
}

enum { ledger_option = 256, station_role_option, lease_option, manifest_option, lot_option, csv_option };

struct command_line {
    const char *conninfo;
    const char *station_role;
    long lease_seconds;  // 0: as it is
    const char *manifest;
    const char *lot;
    bool csv;
    bool helped;
    std::vector<const char *> words;  // the command and its arguments
};

bool read_option(int c, command_line &line) {
    veld::reason why;
    double value = 0;
    switch (c) {
        case ledger_option:
            if (!veld::check_command_line_ledger(veld::optarg, why)) {
                return veld::refuse(program, "--ledger: %s", why.text);
            }
            line.conninfo = veld::optarg;
            return true;
        case station_role_option: line.station_role = veld::optarg; return true;
        case lease_option:
            if (!veld::read_number(veld::optarg, 1, 86400, value) || value != static_cast<long>(value)) {
                return veld::refuse(program, "--lease takes whole seconds, from 1 to 86400, not %s", veld::optarg);
            }
            line.lease_seconds = static_cast<long>(value);
            return true;
        case manifest_option: line.manifest = veld::optarg; return true;
        case lot_option: line.lot = veld::optarg; return true;
        case csv_option: line.csv = true; return true;
        case 'h':
            std::fputs(usage, stdout);
            line.helped = true;
            return false;
        default: return veld::refuse(program, "unknown option");
    }
}

// Which options each command takes, and how many words follow it.
struct command_shape {
    const char *name;
    std::size_t least, most;  // the words after the command
    bool role_lease, manifest, lot, csv;
};

const command_shape shapes[] = {
    {"init", 0, 0, true, false, false, false},  {"lot", 1, 1, false, true, false, false},
    {"sync", 1, 4096, false, false, true, false}, {"status", 1, 1, false, false, false, false},
    {"export", 1, 1, false, false, false, true},   {"release", 3, 3, false, false, false, false},
};

const command_shape *shape_of(const char *name) {
    for (const command_shape &s : shapes) {
        if (std::strcmp(s.name, name) == 0) return &s;
    }
    return nullptr;
}

bool check_lot(const char *lot) {
    veld::reason why;
    return veld::check_lot_name(lot, why) || veld::refuse(program, "%s", why.text);
}

bool check_shape(const command_line &line) {
    if (line.words.empty()) return veld::refuse(program, "no command");
    const command_shape *s = shape_of(line.words[0]);
    if (s == nullptr) return veld::refuse(program, "unknown command %s", line.words[0]);
    const std::size_t given = line.words.size() - 1;
    if (given < s->least || given > s->most) {
        return veld::refuse(program, "%s takes %s", s->name,
                            s->most == 3 ? "a lot, an IMEI and an IMSI" : s->most > 1 ? "one or more reports"
                            : s->most == 1                          ? "one lot"
                                                                    : "no argument");
    }
    const char *stray = (line.station_role || line.lease_seconds) && !s->role_lease ? "--station-role and --lease"
                        : line.manifest && !s->manifest                          ? "--manifest"
                        : line.lot && !s->lot                                    ? "--lot"
                        : line.csv && !s->csv                                    ? "--csv"
                                                                                 : nullptr;
    if (stray != nullptr) return veld::refuse(program, "%s does not go with %s", stray, s->name);
    const char *lot = s->lot ? line.lot : s->most == 1 || s->most == 3 ? line.words[1] : nullptr;
    if (lot != nullptr && !check_lot(lot)) return false;
    for (std::size_t i = 2; s->most == 3 && i < 4; ++i) {
        const char *digits = line.words[i];
        if (!veld::all_digits(digits, std::strlen(digits)) || std::strlen(digits) > 15) {
            return veld::refuse(program, "%s is no %s (digits, at most 15)", digits, i == 2 ? "IMEI" : "IMSI");
        }
    }
    return true;
}

bool read_command_line(int argc, char *argv[], command_line &line) {
    static const veld::option table[] = {
        {"ledger", veld::required_argument, nullptr, ledger_option},
        {"station-role", veld::required_argument, nullptr, station_role_option},
        {"lease", veld::required_argument, nullptr, lease_option},
        {"manifest", veld::required_argument, nullptr, manifest_option},
        {"lot", veld::required_argument, nullptr, lot_option},
        {"csv", veld::no_argument, nullptr, csv_option},
        {"help", veld::no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    veld::opterr = 0;
    for (int c; (c = veld::getopt_long(argc, argv, "h", table, nullptr)) != -1;) {
        if (c == '?' || c == ':') {
            const char *word = argv[veld::optind - 1];
            return veld::refuse(program, c == ':' ? "%s needs a value" : "unknown option %s", word);
        }
        if (!read_option(c, line)) return false;
    }
    for (int i = veld::optind; i < argc; ++i) line.words.push_back(argv[i]);
    return check_shape(line);
}

// The manifest's rows as the ledger keeps them: each cell under its
// column's name.
bool read_manifest_rows(const char *path, std::vector<veld::manifest_entry> &rows) {
    veld::manifest m;
    veld::reason why;
    if (!veld::read_manifest(path, tool_settings{}, m, why)) {
        return say("--manifest %s: %s", path, why.text);
    }
    for (const veld::manifest_row &row : m.rows) {
        veld::manifest_entry entry{row.line, row.imei, {}};
        for (const auto &value : row.values) entry.cells.emplace_back(veld::column_name(value.first), value.second);
        if (!row.name.empty()) entry.cells.emplace_back("name", row.name);
        rows.push_back(entry);
    }
    return true;
}

bool run_init(veld::postgres_ledger &pg, const command_line &line) {
    veld::reason why;
    int from = 0;
    if (!veld::postgres_init(pg, line.station_role, line.lease_seconds, from, why)) {
        return say("%s", why.text);
    }
    const char *how = from == 0 ? "schema version %d made\n"
                      : from == veld::schema_version ? "schema version %d, as it was\n"
                                                     : "schema version %d, brought up from version %d\n";
    std::printf(how, veld::schema_version, from);
    if (line.station_role != nullptr) std::printf("a station's rights granted to %s\n", line.station_role);
    return true;
}

bool run_lot(const veld::ledger &l, const command_line &line) {
    const std::string lot = line.words[1];
    std::vector<veld::manifest_entry> rows;
    if (line.manifest != nullptr && !read_manifest_rows(line.manifest, rows)) return false;
    veld::reason why;
    bool created = false;
    std::size_t added = 0;
    if (!l.add_lot(l.context, lot, rows, created, added, why)) {
        return say("%s", why.text);
    }
    std::printf("lot %s %s\n", lot.c_str(), created ? "made" : "was there");
    if (line.manifest != nullptr) {
        std::printf("%zu manifest rows added, %zu there already\n", added, rows.size() - added);
    }
    return true;
}

bool run_sync(const veld::ledger &l, const command_line &line) {
    const std::string lot = line.lot == nullptr ? "" : line.lot;
    for (std::size_t i = 1; i < line.words.size(); ++i) {
        veld::sync_counts counts{};
        veld::reason why;
        if (!veld::sync_report(l, line.words[i], lot, counts, why)) {
            return say("%s: %s", line.words[i], why.text);
        }
        for (long cut : counts.cut_lines) {
            std::fprintf(stderr, "%s: %s: line %ld is cut short: passed over\n", program, line.words[i], cut);
        }
        std::printf("%s: %zu objects, %zu new to the ledger\n", line.words[i], counts.objects, counts.added);
    }
    return true;
}

int run_status(const veld::ledger &l, const command_line &line) {
    const std::string lot = line.words[1];
    veld::lot_status status;
    veld::reason why;
    bool exists = false;
    if (!l.lot_exists(l.context, lot, exists, why) || (exists && !l.read_status(l.context, lot, status, why))) {
        return say("%s", why.text) ? 0 : 2;
    }
    if (!exists) return say("no lot %s in the ledger", lot.c_str()) ? 0 : 2;
    std::string text;
    veld::format_status(lot, status, text);
    std::fputs(text.c_str(), stdout);
    return status.twice.empty() && status.clashes.empty() && status.claims.empty() && status.twins.empty() ? 0 : 1;
}

struct export_to {
    const std::string &lot;
    bool csv;
    bool whole;  // every line read back as a report object
};

void put_line(void *context, const std::string &line) {
    auto &to = *static_cast<export_to *>(context);
    std::string text;
    if (!to.csv) text = line + "\n";
    else to.whole = veld::format_csv_row(to.lot, line, text) && to.whole;
    std::fwrite(text.data(), 1, text.size(), stdout);
}

bool run_export(const veld::ledger &l, const command_line &line) {
    const std::string lot = line.words[1];
    veld::reason why;
    bool exists = false;
    if (!l.lot_exists(l.context, lot, exists, why)) return say("%s", why.text);
    if (!exists) return say("no lot %s in the ledger", lot.c_str());
    export_to to{lot, line.csv, true};
    if (line.csv) {
        std::string header;
        veld::format_csv_header(header);
        std::fputs(header.c_str(), stdout);
    }
    if (!l.read_lines(l.context, lot, put_line, &to, why)) return say("%s", why.text);
    return to.whole || say("a line of the lot is no report object");
}

// The dead run may have configured the module and kept its result in its
// report alone: said, so that its report is synced first where it can be.
bool run_release(const veld::ledger &l, const command_line &line) {
    veld::open_claim released{};
    veld::reason why;
    if (!l.release(l.context, line.words[1], line.words[2], line.words[3], released, why)) return say("%s", why.text);
    std::printf("released the claim of %s;%s by ", released.imei.c_str(), released.imsi.c_str());
    veld::write_field(stdout, released.station.data(), released.station.size());
    std::fputs(" (run ", stdout);
    veld::write_field(stdout, released.run.data(), released.run.size());
    std::printf("), made at %s\n", released.claimed.c_str());
    std::fprintf(stderr, "%s: warning: run ", program);
    veld::write_field(stderr, released.run.data(), released.run.size());
    std::fputs(" may have results that are only in its report: where that report can be reached, sync it "
               "(veldconf-ledger sync REPORT) before this module is configured again\n",
               stderr);
    return true;
}

int run_command(veld::postgres_ledger &pg, const command_line &line) {
    const std::string command = line.words[0];
    veld::reason why;
    if (command == "init") return run_init(pg, line) ? 0 : 2;
    if (!veld::postgres_check_schema(pg, why)) return say("%s", why.text) ? 0 : 2;
    const veld::ledger l = veld::postgres_operations(pg);
    if (command == "lot") return run_lot(l, line) ? 0 : 2;
    if (command == "sync") return run_sync(l, line) ? 0 : 2;
    if (command == "status") return run_status(l, line);
    if (command == "release") return run_release(l, line) ? 0 : 2;
    return run_export(l, line) ? 0 : 2;
}

}  // namespace

int main(int argc, char *argv[]) {
    veld::binary_standard_streams();
    command_line line{};
    if (!read_command_line(argc, argv, line)) return line.helped ? 0 : 2;
    const char *from_environment = std::getenv("VELDCONF_LEDGER");
    const char *conninfo = line.conninfo != nullptr ? line.conninfo : from_environment != nullptr ? from_environment : "";
    veld::postgres_ledger pg{};
    veld::reason why;
    if (!veld::postgres_open(conninfo, pg, why)) {
        say("%s", why.text);
        return 2;
    }
    const int status = run_command(pg, line);
    veld::postgres_close(pg);
    return std::fflush(stdout) == 0 && status == 0 ? 0 : status == 0 ? 2 : status;
}
