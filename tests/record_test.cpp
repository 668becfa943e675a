// What veldconf-provision writes of a module: the endpoint name its format
// makes, and fields that stay on their line whatever the module says.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "names.hpp"
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

void append(void *context, const char *text, std::size_t len) {
    static_cast<std::string *>(context)->append(text, len);
}

TEST(Record, FieldsStayOnTheirLine) {
    for (const escape_case &c : escape_cases) {
        std::string field;
        veld::write_field({append, &field}, c.text.data(), c.text.size());
        EXPECT_EQ(field, c.field) << c.text;
        std::string json;
        veld::write_json_member({append, &json}, "k", c.text.data(), c.text.size());
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
