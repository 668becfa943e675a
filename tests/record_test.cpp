// What veldconf-provision writes of a module: the endpoint name its format
// makes, and fields that stay on their line whatever the module says.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "live_view.hpp"
#include "names.hpp"
#include "temp_folder.hpp"
#include "record_file.hpp"
#include "records.hpp"
#include "transcript_file.hpp"
#include "slots.hpp"
#include "watch.hpp"
#include "text.hpp"
#include "timestamp.hpp"

namespace {

struct name_case {
    const char *format;
    const char *fault;  // null: the name below
    const char *name;
};

const name_case name_cases[] = {
    {"{imei};{imsi}", nullptr, "490154203237518;310150123456789"},
    {"urn:imei:{imei}", nullptr, "urn:imei:490154203237518"},
    {"{{imei}}={imei}", nullptr, "{imei}=490154203237518"},
    {"a}b{imsi}", nullptr, "a}b310150123456789"},
    {"{imsi}{imsi}", nullptr, "310150123456789310150123456789"},
    {"{imei}-{serial}", "unknown field {serial}", nullptr},
    {"{imei", "a { that opens no field (write {{ for a brace)", nullptr},
    {"{imei}x{", "a { that opens no field (write {{ for a brace)", nullptr},
    // Every module would get the same name.
    {"station-7", "the format names no module: it needs {imei} or {imsi}", nullptr},
    {"", "the format names no module: it needs {imei} or {imsi}", nullptr},
    {"{{imei}}", "the format names no module: it needs {imei} or {imsi}", nullptr},
    {"{imei}\t{imsi}", "a control byte (\\x09) in the format", nullptr},
    {"{imei}\x7F", "a control byte (\\x7F) in the format", nullptr},
};

// One name, one module: a module plugged in again takes its own name.
struct give_case {
    const char *name;
    const char *module;
    const char *device;
    const char *fault;  // null: given
};

const give_case give_cases[] = {
    {"n1", "111;1", "/dev/a", nullptr},
    {"n2", "111;2", "/dev/b", nullptr},
    {"n1", "111;1", "/dev/c", nullptr},
    {"n1", "111;2", "/dev/d", "endpoint name n1 already given to /dev/c"},
    {"n1", "222;1", "/dev/e", "endpoint name n1 already given to /dev/c"},
};

TEST(Record, NamesGiven) {
    veld::names_given names;
    for (const give_case &c : give_cases) {
        veld::reason why;
        const bool given = veld::give_name(names, c.name, c.module, c.device, why);
        EXPECT_STREQ(given ? nullptr : why.text, c.fault) << c.device;
    }
}

TEST(Record, NameFormats) {
    veld::identity id{};
    std::strcpy(id.imei, "490154203237518");
    std::strcpy(id.imsi, "310150123456789");
    for (const name_case &c : name_cases) {
        veld::reason why;
        const bool fine = veld::check_name_format(c.format, why);
        EXPECT_STREQ(fine ? nullptr : why.text, c.fault) << c.format;
        if (c.name == nullptr) continue;
        char out[64];
        const std::size_t len = veld::make_name(c.format, id, out, sizeof out);
        EXPECT_EQ(std::string(out, len), c.name) << c.format;
    }
}

TEST(Record, ANameTooLongIsMeasuredNotWritten) {
    veld::identity id{};
    std::strcpy(id.imei, "490154203237518");
    char out[8] = "xxxxxxx";
    EXPECT_EQ(veld::make_name("{imei}", id, out, 4), 15u);
    EXPECT_STREQ(out, "xxxxxxx");
}

struct escape_case {
    std::string text;
    const char *field;
    const char *json;  // as the member "k"
};

const escape_case escape_cases[] = {
    {"OK", "OK", "\"k\": \"OK\", "},
    {"a\tb\r\n", "a\\x09b\\x0D\\x0A", "\"k\": \"a\\u0009b\\u000D\\u000A\", "},
    {"back\\slash \"q\"", "back\\x5Cslash \"q\"", "\"k\": \"back\\\\slash \\\"q\\\"\", "},
    {"\x7F\xC3\xA9", "\\x7F\\xC3\\xA9", "\"k\": \"\\u007F\xC3\xA9\", "},
    {std::string("nul\0x", 5), "nul\\x00x", "\"k\": \"nul\\u0000x\", "},
    // A name in UTF-8 passes through as it is.
    {"dev-Z\xC3\xBCrich-1", "dev-Z\\xC3\\xBCrich-1", "\"k\": \"dev-Z\xC3\xBCrich-1\", "},
    // Text that is not UTF-8: each byte above 0x7F and a backslash
    // escaped, and flagged.
    {"\xFF\\x\"", "\\xFF\\x5Cx\"", "\"k\": \"\\\\xFF\\\\\\\\x\\\"\", \"k_escaped\": true, "},
    {"\xC3", "\\xC3", "\"k\": \"\\\\xC3\", \"k_escaped\": true, "},
    {"\xED\xA0\x80", "\\xED\\xA0\\x80", "\"k\": \"\\\\xED\\\\xA0\\\\x80\", \"k_escaped\": true, "},
    {"\xC0\xAF", "\\xC0\\xAF", "\"k\": \"\\\\xC0\\\\xAF\", \"k_escaped\": true, "},
};

TEST(Record, FieldsStayOnTheirLine) {
    for (const escape_case &c : escape_cases) {
        std::string field;
        veld::write_field(veld::string_sink(field), c.text.data(), c.text.size());
        EXPECT_EQ(field, c.field) << c.text;
        std::string json;
        veld::write_json_member(veld::string_sink(json), "k", c.text.data(), c.text.size());
        EXPECT_EQ(json, c.json) << c.text;
    }
}

TEST(Record, UtcTimes) {
    char out[40];
    veld::format_utc(1796896419125LL, out, sizeof out);
    EXPECT_STREQ(out, "2026-12-10T09:53:39.125Z");
    veld::format_utc(0, out, sizeof out);
    EXPECT_STREQ(out, "1970-01-01T00:00:00.000Z");
}

}  // namespace

namespace {

// A report as a crash may leave it, and what an appended object makes of it.
struct append_case {
    const char *before;
    const char *after;
};

const append_case append_cases[] = {
    {"", "{\"b\": 2}\n"},
    {"{\"a\": 1}\n", "{\"a\": 1}\n{\"b\": 2}\n"},
    {"{\"a\": 1}\n{\"cut", "{\"a\": 1}\n{\"cut\n{\"b\": 2}\n"},
};

TEST(Record, AnObjectStartsALineOfItsOwn) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.file("report.jsonl");
    for (const append_case &c : append_cases) {
        write_file(path, c.before);
        veld::record_file file{};
        veld::reason why;
        ASSERT_TRUE(veld::record_open(file, path.c_str(), why)) << why.text;
        EXPECT_TRUE(veld::record_append(file, "{\"b\": 2}\n", 9, why)) << why.text;
        EXPECT_TRUE(veld::record_close(file, why)) << why.text;
        EXPECT_EQ(read_file(path), c.after) << c.before;
    }
    veld::record_file full{};
    veld::reason why;
    ASSERT_TRUE(veld::record_open(full, "/dev/full", why)) << why.text;
    EXPECT_FALSE(veld::record_append(full, "{}\n", 3, why));
    EXPECT_STREQ(why.text, "No space left on device");
    EXPECT_TRUE(veld::record_close(full, why));
}

// One port, however it is spelled: what stat finds of it.
TEST(Record, OnePortHasOneIdentity) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string link = dir.file("null");
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    const std::string file = dir.file("file");
    write_file(file, "x");
    const std::string null = veld::device_identity("/dev/null");
    EXPECT_FALSE(null.empty());
    EXPECT_EQ(veld::device_identity("/dev/./null"), null);
    EXPECT_EQ(veld::device_identity(link.c_str()), null);
    EXPECT_NE(veld::device_identity("/dev/zero"), null);
    EXPECT_EQ(veld::device_identity(file.c_str()), "") << "a file is no port";
    EXPECT_EQ(veld::device_identity("/dev/no-such-port"), "");
}

TEST(Record, ANameTakenIsNeverReplaced) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    // However long the folder's name, the number stays in the name.
    EXPECT_NE(veld::working_name(std::string(1200, 'd').c_str(), 3).find(".3.partial"), std::string::npos);
    const std::string working = veld::working_name(dir.path.c_str(), 3);
    const char *partial = working.c_str();
    EXPECT_NE(working.find("." + std::to_string(getpid()) + ".3.partial"), std::string::npos);
    const std::string taken = dir.file("1.log");
    write_file(taken, "another station's\n");
    write_file(partial, "ours\n");
    bool exists = false;
    veld::reason why;
    EXPECT_FALSE(veld::take_name(partial, taken.c_str(), exists, why));
    EXPECT_TRUE(exists);
    EXPECT_EQ(read_file(taken), "another station's\n");
    const std::string free_name = dir.file("1.2.log");
    EXPECT_TRUE(veld::take_name(partial, free_name.c_str(), exists, why)) << why.text;
    EXPECT_EQ(read_file(free_name), "ours\n");
    EXPECT_EQ(read_file(partial), "");
}

// Working transcripts left by runs that ended without finishing them: only
// those of processes no longer running, and no other file.
TEST(Record, UnfinishedTranscriptsAreThoseOfEndedRuns) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    const std::string dead = ".veldconf-provision." + std::to_string(ended) + ".4.partial";
    const std::string names[] = {dead, ".veldconf-provision." + std::to_string(getppid()) + ".1.partial",
                                 veld::working_name(".", 2).substr(2), ".veldconf-provision.x.1.partial",
                                 "490154203237511.log", ".veldconf-provision." + std::to_string(ended) + ".partial"};
    for (const std::string &name : names) write_file(dir.file(name.c_str()), "AT\n");
    EXPECT_EQ(veld::unfinished_transcripts(dir.path.c_str()), std::vector<std::string>{dead});
}

}  // namespace

namespace {

TEST(Record, EveryRunHasAnIdOfItsOwn) {
    const std::string first = veld::make_run_id();
    const std::string second = veld::make_run_id();
    EXPECT_NE(first, second) << "two runs started in the same millisecond";
    EXPECT_NE(first.find("-" + std::to_string(getpid()) + "-"), std::string::npos) << first;
}

}  // namespace

namespace {

// A fixture's slots file, and what it makes of the ports.
struct slots_case {
    const char *text;
    const char *fault;  // null: read
};

const slots_case slots_cases[] = {
    {"1-1.1:1.0 A1\n# a comment\n\n/dev/null  N # on no USB device\n", nullptr},
    {"1-1.1:1.0 A1\n1-1.1:1.0 A2\n", "line 2: 1-1.1:1.0 is given twice"},
    {"1-1.1:1.0 A1\n1-1.2:1.0 A1\n", "line 2: the label A1 is given twice"},
    {"1-1.1:1.0\n", "line 1: not a position and a label"},
    {"1-1.1:1.0 A1 B\n", "line 1: not a position and a label"},
    {"\xEF\xBB\xBF" "1-1.1:1.0 A1\r\n1-1.2:1.0\tA2\r\n", nullptr},  // as Windows editors save it
    {"1-1.1:1.0 A\x1b[2J\n", "line 1: a control byte (\\x1B)"},
};

TEST(Record, SlotsFiles) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.file("slots");
    for (const slots_case &c : slots_cases) {
        write_file(path, c.text);
        veld::slot_map map;
        veld::reason why;
        const bool read = veld::read_slots(path.c_str(), map, why);
        EXPECT_STREQ(read ? nullptr : why.text + path.size() + 2, c.fault) << c.text;
    }
    write_file(path, slots_cases[0].text);
    veld::slot_map map;
    veld::reason why;
    ASSERT_TRUE(veld::read_slots(path.c_str(), map, why));
    const struct {
        const char *device;
        const char *usb;
        const char *slot;
        bool listed;
    } ports[] = {
        {"/dev/ttyUSB3", "1-1.1:1.0", "A1", true},
        {"/dev/ttyUSB4", "1-1.9:1.0", "1-1.9:1.0", false},
        {"/dev/./null", "", "N", true},
        {"/dev/zero", "", "", false},
    };
    for (const auto &port : ports) {
        bool listed = false;
        EXPECT_EQ(veld::slot_of(map, port.device, port.usb, listed), port.slot) << port.device;
        EXPECT_EQ(listed, port.listed) << port.device;
    }
    // The first slot of a file with a byte-order mark, a label longer than
    // a buffer once was: each one whole slot.
    const std::string long_label(2000, 'L');
    const std::pair<std::string, std::string> whole[] = {{"\xEF\xBB\xBF" "1-1.1:1.0 A1\r\n", "A1"},
                                                         {"1-1.1:1.0 " + long_label + "\n", long_label}};
    for (const auto &[text, label] : whole) {
        write_file(path, text);
        ASSERT_TRUE(veld::read_slots(path.c_str(), map, why)) << why.text;
        ASSERT_EQ(map.slots.size(), 1u);
        bool listed = false;
        EXPECT_EQ(veld::slot_of(map, "/dev/ttyUSB3", "1-1.1:1.0", listed), label);
    }
    EXPECT_FALSE(veld::read_slots(dir.path.c_str(), map, why)) << "a folder is no slots file";
}

// The live view's text: rows cut to the terminal, never wrapping, never
// more lines than the terminal has, a module's bytes escaped.
struct view_case {
    std::size_t rows;  // copies of the row below, for ports 0, 1, ...
    veld::view_row row;
    std::size_t width, height;
    const char *text;
};

const view_case view_cases[] = {
    {1, {"A1", "/dev/ttyUSB3", "490154203237518", veld::row_state::sending, 2, 3, 0, ""}, 80, 24,
     "A1  /dev/ttyUSB3  490154203237518  [#############.......] 2/3  12 s\nmodules done 1, running 2, waiting 1, failed 0"},
    {1, {"", "/dev/ttyUSB0", "", veld::row_state::probing, 0, 0, 0, ""}, 80, 24,
     "/dev/ttyUSB0  -                probing  12 s\nmodules done 1, running 2, waiting 1, failed 0"},
    {1, {"", "COM12", "", veld::row_state::waiting, 0, 0, 11500, ""}, 80, 24,
     "COM12  -                waiting for an answer  0 s\nmodules done 1, running 2, waiting 1, failed 0"},
    {1, {"B2", "COM12", "490154203237518", veld::row_state::finished, 0, 0, 0, "failed 1/3 in 2.0 s: \x1b[2J"}, 80,
     24, "B2  COM12  490154203237518  failed 1/3 in 2.0 s: \\x1B[2J\nmodules done 1, running 2, waiting 1, failed 0"},
    // A long path keeps its end, which tells the ports apart.
    {1, {"1-1.3:1.2", "/dev/serial/by-id/usb-Maker_Modem_0123456789-if02-port0", "", veld::row_state::probing, 0, 0,
         0, ""},
     80, 24, "1-1.3:1.2  ...r_Modem_0123456789-if02-port0  -                probing  12 s\n"
             "modules done 1, running 2, waiting 1, failed 0"},
    // As on every line of the terminal, a byte above 0x7E is escaped.
    {1, {"Zürich", "COM3", "", veld::row_state::probing, 0, 0, 0, ""}, 80, 24,
     "Z\\xC3\\xBCrich  COM3  -                probing  12 s\nmodules done 1, running 2, waiting 1, failed 0"},
    // Nothing reaches the last column: a full row would wrap on some
    // terminals. Where the terminal is narrow the bar gives way first, then
    // the device's start and the IMEI; the progress and the result stay.
    {1, {"", "A1", "490154203237518", veld::row_state::sending, 2, 3, 0, ""}, 30, 24,
     "A1  [########.....] 2/3  12 s\nmodules done 1, running 2, wa"},
    {1, {"", "/tmp/demo/w/port1", "490154203237518", veld::row_state::sending, 2, 3, 0, ""}, 40, 24,
     ".../w/port1  490154203237518  2/3  12 s\nmodules done 1, running 2, waiting 1, f"},
    {1, {"A4", "/tmp/demo/w/port1", "490154203237518", veld::row_state::finished, 0, 0, 0,
         "failed 37/64 in 2.2 s: the module refused line 38 of 64: ERROR"}, 40, 24,
     "A4  ...port1  failed 37/64 in 2.2 s: th\nmodules done 1, running 2, waiting 1, f"},
    {3, {"", "/tmp/demo/w/port1", "490154203237518", veld::row_state::finished, 0, 0, 0, "configured 3/3 in 1.0 s"},
     12, 4, "...1  confi\nand 2 more \nmodules don"},
    {5, {"", "A1", "", veld::row_state::probing, 0, 0, 0, ""}, 80, 6,
     "A1  -                probing  12 s\nA1  -                probing  12 s\n"
     "A1  -                probing  12 s\nand 2 more ports\nmodules done 1, running 2, waiting 1, failed 0"},
    {4, {"", "A1", "", veld::row_state::probing, 0, 0, 0, ""}, 80, 6,
     "A1  -                probing  12 s\nA1  -                probing  12 s\n"
     "A1  -                probing  12 s\nA1  -                probing  12 s\nmodules done 1, running 2, waiting 1, failed 0"},
    {3, {"", "A1", "", veld::row_state::probing, 0, 0, 0, ""}, 80, 2, "modules done 1, running 2, waiting 1, failed 0"},
};

TEST(Record, LiveViewText) {
    for (const view_case &c : view_cases) {
        std::map<std::size_t, veld::view_row> rows;
        for (std::size_t i = 0; i < c.rows; ++i) rows[i] = c.row;
        std::string text;
        veld::format_view(rows, "modules done 1, running 2, waiting 1, failed 0", 12345, c.width, c.height, text);
        EXPECT_EQ(text, c.text) << c.row.device;
    }
}

// In a watch the operator pulls a module by what its row says last.
TEST(Record, LiveViewKeepsAResultToActOn) {
    const struct {
        veld::result what;
        bool before;
        bool watch;
        const char *outcome;  // null: the row goes
        bool in_use;
    } ends[] = {
        {veld::result::configured, false, true, "configured 3/3 in 1.5 s", false},
        {veld::result::failed, false, true, "failed 1/3 in 1.5 s: refused", false},
        {veld::result::skipped, true, true, "skipped 0/3 in 1.5 s: refused", false},
        {veld::result::skipped, false, true, nullptr, false},
        {veld::result::passed_over, false, true, nullptr, false},
        {veld::result::passed_over, false, true, "in use", true},
        {veld::result::interrupted, false, true, nullptr, false},
        {veld::result::configured, false, false, nullptr, false},
    };
    for (const auto &end : ends) {
        veld::live_view v{};
        v.on = true;
        veld::port_record r{};
        r.device = "/dev/ttyUSB0";
        r.slot = "A3";
        r.what = end.what;
        r.before = end.before;
        r.in_use = end.in_use;
        r.lines = 3;
        r.acknowledged = end.what == veld::result::configured ? 3 : (end.what == veld::result::failed ? 1 : 0);
        r.seconds = 1.5;
        if (end.what != veld::result::configured) veld::fail(r.why, "refused");
        veld::end_row(v, 7, r, end.watch);
        if (end.outcome == nullptr) {
            EXPECT_EQ(v.rows.count(7), 0u) << veld::result_name(end.what);
        } else {
            ASSERT_EQ(v.rows.count(7), 1u) << veld::result_name(end.what);
            EXPECT_EQ(v.rows[7].outcome, end.outcome);
            EXPECT_EQ(v.rows[7].device, "/dev/ttyUSB0");
            EXPECT_EQ(v.rows[7].slot, "A3");
        }
    }
}

}  // namespace
