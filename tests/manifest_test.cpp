// Manifests as people type them: each read, or refused naming the line
// and the column.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "input_file.hpp"
#include "manifest.hpp"
#include "temp_folder.hpp"
#include "records.hpp"
#include "resume.hpp"

namespace {

struct manifest_case {
    const char *name;
    std::string text;
    const char *fault;  // null: read
    std::size_t rows;
};

const manifest_case manifest_cases[] = {
    {"a header and two rows", "imei,uri,port\n490154203237511,coap://a,5683\n490154203237512,,\n", nullptr, 2},
    {"CR LF, a byte-order mark, quotes", "\xEF\xBB\xBFimei,name\r\n490154203237511,\"a,\"\"b\"\"\"\r\n", nullptr, 1},
    {"a blank line at the end", "imei,boot\n490154203237511,1\n\n", nullptr, 1},
    {"a name format", "imei,name\n490154203237511,urn:imei:{imei}\n", nullptr, 1},
    {"nothing at all", "", "line 1: no header row", 0},
    {"the first column is not imei", "uri,imei\n", "line 1, column 1: the first column is not imei", 0},
    {"an unknown column", "imei,url\n", "line 1, column 2: unknown column 'url'", 0},
    {"a column twice", "imei,port,port\n", "line 1, column 3: port is given twice", 0},
    {"a row with a field too few", "imei,port,boot\n490154203237511,5683\n",
     "line 2: 2 fields, the header has 3", 0},
    {"a spreadsheet's IMEI", "imei\n4.90154E+14\n", "line 2, column imei: '4.90154E+14' is not 15 digits", 0},
    {"a lost leading zero", "imei\n12345678901234\n", "line 2, column imei: '12345678901234' is not 15 digits", 0},
    {"an IMEI twice", "imei\n490154203237511\n490154203237511\n",
     "line 3, column imei: 490154203237511 is given twice", 0},
    {"a port that is not a number", "imei,port\n490154203237511,abc\n",
     "line 2, column port: 'abc' is not a decimal number from 0 to 65535", 0},
    {"a port out of range", "imei,port\n490154203237511,65536\n",
     "line 2, column port: '65536' is not a decimal number from 0 to 65535", 0},
    {"a boot mode veldconf refuses", "imei,boot\n490154203237511,2\n",
     "line 2, column boot: '2' is not a decimal number from 0 to 1", 0},
    {"a number with a sign", "imei,block1\n490154203237511,+5\n",
     "line 2, column block1: '+5' is not a decimal number from 0 to 6", 0},
    {"blanks around a number", "imei,block1\n490154203237511, 5\n", "line 2, column block1: blanks around the value", 0},
    {"blanks around a name", "imei,name\n490154203237511,\"bench \"\n", "line 2, column name: blanks around the value", 0},
    {"blanks around an IMEI", "imei,uri\n490154203237511 ,coap://a\n", "line 2, column imei: blanks around the value", 0},
    {"a line end quoted in a URI", "imei,uri,port\n490154203237511,\"coap://a\nb\",1\n",
     "line 2, column uri: a line end in a cell, or a quote not closed", 0},
    {"an ESC in a name", "imei,name\n490154203237511,a\x1b[2Jb\n", "line 2, column name: a control byte (\\x1B)", 0},
    {"a NUL in a URI", std::string("imei,uri\n490154203237511,coap://a\0b\n", 36),
     "line 2, column uri: a control byte (\\x00)", 0},
    {"a CR inside a cell", "imei,uri\r\n490154203237511,coap://a\rb\r\n", "line 2, column uri: a control byte (\\x0D)", 0},
    {"a line too long", "imei,uri\n490154203237511," + std::string(veld::max_input_line, 'u') + "\n",
     "line 2: longer than 1048576 bytes", 0},
    {"a name format with an unknown field", "imei,name\n490154203237511,{serial}\n",
     "line 2, column name: unknown field {serial}", 0},
    {"a URI too long", "imei,uri\n490154203237511," + std::string(65536, 'u') + "\n",
     "line 2, column uri: URI exceed.", 0},
    {"one literal name on two rows", "imei,name\n490154203237511,bench\n490154203237512,bench\n",
     "line 3, column name: bench is line 2's name too", 0},
    {"a quote not closed", "imei,name\n490154203237511,\"open\n",
     "line 2, column name: a line end in a cell, or a quote not closed", 0},
};

TEST(Manifest, Cases) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.file("manifest.csv");
    tool_settings base{};
    base.config.lifetime = 300;
    for (const manifest_case &c : manifest_cases) {
        write_file(path, c.text);
        veld::manifest m;
        veld::reason why;
        const bool read = veld::read_manifest(path.c_str(), base, m, why);
        EXPECT_STREQ(read ? nullptr : why.text, c.fault) << c.name;
        if (read) {
            EXPECT_EQ(m.rows.size(), c.rows) << c.name;
        }
    }
}

TEST(Manifest, ARowsValuesGoOverTheCommands) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.file("manifest.csv");
    write_file(path, "imei,uri,port,name\n490154203237511,coap://b,,\"x,{imei}\"\n");
    tool_settings base{};
    base.config.port = 7;
    base.config.uri = "coap://a";
    base.config.uri_len = 8;
    veld::manifest m;
    veld::reason why;
    ASSERT_TRUE(veld::read_manifest(path.c_str(), base, m, why)) << why.text;
    ASSERT_EQ(veld::find_row(m, "490154203237511"), 0);
    EXPECT_EQ(veld::find_row(m, "490154203237512"), -1);
    tool_settings settings = base;
    veld::apply_row(m.rows[0], settings);
    EXPECT_EQ(std::string(settings.config.uri, settings.config.uri_len), "coap://b");
    EXPECT_EQ(settings.config.port, 7) << "an empty cell takes the command's value";
    EXPECT_EQ(m.rows[0].name, "x,{imei}");
    EXPECT_FALSE(m.rows[0].literal);
}

}  // namespace

namespace {

// Reports as earlier runs, and crashes, left them.
struct resume_case {
    const char *name;
    std::string text;
    const char *fault;  // null: read
    std::size_t modules;
    std::size_t cut;
    bool before;  // the module of `configured` counts as configured before
};

const std::string configured =
    "{\"device\": \"/dev/a\\u00e9\", \"imei\": \"490154203237511\", \"imsi\": \"001010123456\", \"endpoint\": \"e\", "
    "\"command\": \"veldconf -b 0 -e 0 -d 0 -p 5683 -t 300 -i coap://h -n e -u 5 -g 5 -x 2\", \"lines\": 1, "
    "\"acknowledged\": 1, \"result\": \"configured\", \"reason\": null, \"started\": \"T0\", \"seconds\": 0.1}";

std::string with_null_imei() {
    std::string text = configured;
    const std::string imei = "\"imei\": \"490154203237511\"";
    return text.replace(text.find(imei), imei.size(), "\"imei\": null");
}
const std::string without_module = with_null_imei();

// The same module's object, saying another result.
std::string saying(const char *result) {
    std::string text = configured;
    const std::string was = "\"result\": \"configured\"";
    return text.replace(text.find(was), was.size(), std::string("\"result\": \"") + result + "\"");
}

// An object cut short after it named its module.
const std::string cut_naming_it = configured.substr(0, configured.find("\"endpoint\""));

const resume_case resume_cases[] = {
    {"one object", configured + "\n", nullptr, 1, 0, true},
    {"no line end at the end", configured, nullptr, 1, 0, true},
    {"CR LF and a byte-order mark", "\xEF\xBB\xBF" + configured + "\r\n" + without_module + "\r\n", nullptr, 1, 0,
     true},
    {"a line cut short at the end", configured + "\n{\"device\": \"/dev/b\", \"im", nullptr, 1, 1, true},
    {"a line cut short in a string's escape", configured + "\n{\"device\": \"/dev/\\u00", nullptr, 1, 1, true},
    {"a line cut short, then more", "{\"device\": \"/de\n" + configured + "\n", nullptr, 1, 1, true},
    {"two reports joined after a cut line", "{\"device\": \"/de" + configured + "\n", nullptr, 1, 1, true},
    {"joined where the cut is in an escape", "{\"device\": \"/dev/\\u00" + configured + "\n", nullptr, 1, 1, true},
    {"an object without a module is no module", configured + "\n" + without_module + "\n", nullptr, 1, 0, true},
    {"skipped after configured: still configured", configured + "\n" + saying("skipped") + "\n", nullptr, 1, 0, true},
    {"skipped twice after configured", configured + "\n" + saying("skipped") + "\n" + saying("skipped") + "\n",
     nullptr, 1, 0, true},
    {"failed after configured: not", configured + "\n" + saying("failed") + "\n", nullptr, 1, 0, false},
    {"configured after failed", saying("failed") + "\n" + configured + "\n", nullptr, 1, 0, true},
    {"a cut object naming it after configured: not", configured + "\n" + cut_naming_it + "\n", nullptr, 1, 1, false},
    {"not JSON", configured + "\nnot an object\n", "line 2: not a report object", 0, 0, false},
    {"JSON, but no report object", "{\"a\": 1}\n", "line 1: not a report object", 0, 0, false},
    {"text after the object", configured + " x\n", "line 1: not a report object", 0, 0, false},
    {"two whole objects on one line", configured + configured + "\n", "line 1: not a report object", 0, 0, false},
    {"a control byte in a string", "{\"device\": \"a\tb\"}\n", "line 1: not a report object", 0, 0, false},
    {"\\u with a blank", "{\"device\": \"\\u 1a2\"}\n", "line 1: not a report object", 0, 0, false},
    {"\\u with a sign", "{\"device\": \"\\u+1a2\"}\n", "line 1: not a report object", 0, 0, false},
    {"\\u with 0x", "{\"device\": \"\\u0x1A\"}\n", "line 1: not a report object", 0, 0, false},
    {"a lone surrogate", "{\"device\": \"\\udc00\"}\n", "line 1: not a report object", 0, 0, false},
    {"a line longer than any object", std::string(veld::max_input_line + 1, ' ') + "\n",
     "line 1: longer than 1048576 bytes", 0, 0, false},
};

veld::resume_state &none_yet() {
    static veld::resume_state state;
    state = {};
    return state;
}

TEST(Resume, Reports) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.file("report.jsonl");
    for (const resume_case &c : resume_cases) {
        write_file(path, c.text);
        veld::resume_state state;
        veld::reason why;
        const bool read = veld::read_resume(path.c_str(), state, why);
        EXPECT_STREQ(read ? nullptr : why.text, c.fault) << c.name;
        if (!read) continue;
        EXPECT_EQ(state.latest.size(), c.modules) << c.name;
        EXPECT_EQ(state.cut_lines.size(), c.cut) << c.name;
        const veld::client_config same{0, 0, 0, 5683, 300, 8, "coap://h", 1, "e", 5, 5, 2};
        EXPECT_EQ(veld::configured_before(state, "490154203237511;001010123456", same, true, why), c.before)
            << c.name;
    }
    veld::reason why;
    EXPECT_FALSE(veld::read_resume(dir.path.c_str(), none_yet(), why)) << "a folder is no report";
    std::remove(path.c_str());  // no report yet
    EXPECT_TRUE(veld::read_resume(path.c_str(), none_yet(), why)) << "no report yet: nothing was done";
}

TEST(Resume, TheSameConfigurationOnly) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.file("report.jsonl");
    write_file(path, configured + "\n");
    veld::resume_state state;
    veld::reason why;
    ASSERT_TRUE(veld::read_resume(path.c_str(), state, why));
    const veld::client_config same{0, 0, 0, 5683, 300, 8, "coap://h", 1, "e", 5, 5, 2};
    const std::string module = "490154203237511;001010123456";
    EXPECT_TRUE(veld::configured_before(state, module, same, true, why));
    EXPECT_STREQ(why.text, "configured at T0 on /dev/a\xC3\xA9");
    veld::client_config other_port = same;
    other_port.port = 6000;
    EXPECT_FALSE(veld::configured_before(state, module, other_port, true, why)) << "the run fixes the port";
    EXPECT_TRUE(veld::configured_before(state, module, other_port, false, why)) << "the run draws the port";
    veld::client_config other_uri = same;
    other_uri.uri = "coap://i";
    EXPECT_FALSE(veld::configured_before(state, module, other_uri, true, why));
    EXPECT_FALSE(veld::configured_before(state, "490154203237511;001010123457", same, true, why));
    // What a --resume watch configured in this run counts as configured
    // before when the module is plugged again; a drawn port aside.
    veld::client_config drawn = other_uri;
    drawn.port = 41000;
    veld::note_configured(state, "490154203237511;001010123457", drawn, "T1", "/dev/ttyUSB1");
    drawn.port = 42000;
    EXPECT_TRUE(veld::configured_before(state, "490154203237511;001010123457", drawn, false, why));
    EXPECT_STREQ(why.text, "configured at T1 on /dev/ttyUSB1");
    EXPECT_FALSE(veld::configured_before(state, "490154203237511;001010123457", drawn, true, why));
}

}  // namespace

namespace {

// What the writer writes, read back by resume: every result, text that
// needs escaping, null cells; a skip never hides what configured.
struct written_case {
    const char *name;
    veld::result what;
    bool imsi_known;
    const char *latest;  // the module's latest result read back, or null: none
};

const written_case written_cases[] = {
    {"configured", veld::result::configured, true, "configured"},
    {"failed", veld::result::failed, true, "failed"},
    {"interrupted", veld::result::interrupted, true, "interrupted"},
    {"skipped: no latest of its own", veld::result::skipped, true, nullptr},
    {"no IMSI: no module", veld::result::configured, false, nullptr},
};

veld::port_record written_record(veld::result what, bool imsi_known, const veld::client_config &config) {
    veld::port_record r{};
    r.device = "/dev/a\x1b\"\\\xC3\xA9\t";
    std::strcpy(r.id.imei, "490154203237511");
    std::strcpy(r.id.imsi, "001010123456");
    r.imei_known = true;
    r.imsi_known = imsi_known;
    r.endpoint = config.ep_name;
    r.endpoint_len = config.ep_name_len;
    r.config = &config;
    r.lines = 1;
    r.what = what;
    if (what != veld::result::configured) veld::fail(r.why, "why \x01");
    r.started_ms = 1700000000123;
    return r;
}

TEST(Resume, WhatTheWriterWritesReadsBack) {
    const temp_folder dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.file("report.jsonl");
    const veld::client_config config{0, 0, 0, 5683, 300, 8, "coap://h", 1, "e", 5, 5, 2};
    const veld::run_facts run{"station \x7f", nullptr, "run-1", "1.2", nullptr};
    const std::string module = veld::module_key("490154203237511", "001010123456");
    for (const written_case &c : written_cases) {
        std::string text;
        veld::format_report_object(written_record(c.what, c.imsi_known, config), run, 1, text);
        write_file(path, text);
        veld::resume_state state;
        veld::reason why;
        ASSERT_TRUE(veld::read_resume(path.c_str(), state, why)) << c.name << ": " << why.text;
        EXPECT_TRUE(state.cut_lines.empty()) << c.name;
        const auto found = state.latest.find(module);
        ASSERT_EQ(found != state.latest.end(), c.latest != nullptr) << c.name;
        if (c.latest == nullptr) continue;
        EXPECT_EQ(found->second.result, c.latest) << c.name;
        EXPECT_EQ(found->second.device, "/dev/a\x1b\"\\\xC3\xA9\t") << c.name;
        EXPECT_EQ(found->second.started, "2023-11-14T22:13:20.123Z") << c.name;
        EXPECT_EQ(veld::configured_before(state, module, config, true, why), c.what == veld::result::configured)
            << c.name;
    }
    // Cut anywhere, as a crash leaves it: passed over, never configured.
    std::string whole;
    veld::format_report_object(written_record(veld::result::configured, true, config), run, 1, whole);
    for (std::size_t len = 1; len + 1 < whole.size(); ++len) {
        write_file(path, whole.substr(0, len));
        veld::resume_state state;
        veld::reason why;
        ASSERT_TRUE(veld::read_resume(path.c_str(), state, why)) << len << ": " << why.text;
        EXPECT_EQ(state.cut_lines.size(), 1u) << len;
        EXPECT_FALSE(veld::configured_before(state, module, config, true, why)) << len;
    }
}

}  // namespace
