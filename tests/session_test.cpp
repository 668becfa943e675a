// One module's session over the in-memory link, on its clock: the probe,
// the identity, the lines, and every failure in the words the sender
// prints and the station records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_port.hpp"
#include "session.hpp"
#include "three_lines.hpp"

namespace {

enum class step { wake, identity, send };

struct session_case {
    const char *name;
    std::vector<std::string> pieces;  // the module's answers, a read each
    step last;  // after the probe, the identity or the lines, or neither
    bool ok;
    const char *why;  // the reason, when not ok
    const char *imei;
    const char *imsi;
    std::size_t acknowledged;  // of the three lines
    const char *log;           // the transcript's markers and texts, times cut off
};

const char probe_ok[] = "AT\r\r\nOK\r\n";

const session_case session_cases[] = {
    {"plain answers, echoed", {probe_ok, "", "AT+CGSN\r\r\n490154203237518\r\nOK\r\n",
                               "AT+CIMI\r\r\n310150123456789\r\nOK\r\n"},
     step::identity, true, "", "490154203237518", "310150123456789", 0,
     "> AT\n< AT\n< OK\n> AT+CGSN\n< AT+CGSN\n< 490154203237518\n< OK\n> AT+CIMI\n< AT+CIMI\n"
     "< 310150123456789\n< OK\n"},
    {"echoed once, an OK before the echo is a leftover",
     {probe_ok, "", "490154203237518\r\nOK\r\n"}, step::identity, false,
     "no final result code to AT+CGSN within 0.5 s", "", "", 0,
     "> AT\n< AT\n< OK\n> AT+CGSN\n< 490154203237518\n~ OK\n"},
    {"answers with their prefix, quoted",
     {"OK\r\n", "", "+CGSN: \"490154203237518\"\r\nOK\r\n", "+CIMI: 001010123456\r\nOK\r\n"},
     step::identity, true, "", "490154203237518", "001010123456", 0, nullptr},
    {"an IMEI one digit short", {"OK\r\n", "", "49015420323751\r\nOK\r\n"}, step::identity, false,
     "the module's answer to AT+CGSN is not an IMEI (15 digits): '49015420323751'", "", "", 0, nullptr},
    {"no IMEI at all", {"OK\r\n", "", "OK\r\n"}, step::identity, false,
     "the module answered AT+CGSN with no IMEI (15 digits)", "", "", 0, nullptr},
    {"no SIM", {"OK\r\n", "", "490154203237518\r\nOK\r\n", "+CME ERROR: 10\r\n"}, step::identity, false,
     "the module refused AT+CIMI: +CME ERROR: 10", "490154203237518", "", 0, nullptr},
    {"an IMSI too short", {"OK\r\n", "", "490154203237518\r\nOK\r\n", "12345\r\nOK\r\n"}, step::identity,
     false, "the module's answer to AT+CIMI is not an IMSI (6 to 15 digits): '12345'", "490154203237518",
     "", 0, nullptr},
    {"silent", {}, step::wake, false, "no answer from /dev/test", "", "", 0, "> AT\n> AT\n> AT\n"},
    {"the probe refused", {"ERROR\r\n"}, step::wake, false, "the module refused the probe AT: ERROR", "",
     "", 0, nullptr},
    {"answers the second probe", {"", "OK\r\n"}, step::wake, true, "", "", "", 0, "> AT\n> AT\n< OK\n"},
    {"a late answer to a probe is a leftover, not the IMEI's OK",
     {"", "OK\r\n", "OK\r\n", "", "490154203237518\r\nOK\r\n"}, step::identity, false,
     "no final result code to AT+CIMI within 0.5 s", "490154203237518", "", 0,
     "> AT\n> AT\n< OK\n~ OK\n> AT+CGSN\n< 490154203237518\n< OK\n> AT+CIMI\n"},
    {"no answer to AT+CGSN", {"OK\r\n", ""}, step::identity, false,
     "no final result code to AT+CGSN within 0.5 s", "", "", 0, nullptr},
    {"all three lines", {"OK\r\n", "", "OK\r\n", "OK\r\n", "OK\r\n"}, step::send, true, "", "", "", 3,
     nullptr},
    {"line 2 refused", {"OK\r\n", "", "OK\r\n", "\r\nERROR\r\n"}, step::send, false,
     "the module refused line 2 of 3: ERROR", "", "", 1, nullptr},
    {"no answer to line 3", {"OK\r\n", "", "OK\r\n", "OK\r\n"}, step::send, false,
     "no final result code to line 3 of 3 within 0.5 s", "", "", 2, nullptr},
    {"unsolicited lines are no answer", {"OK\r\n", "", "+CEREG: 1\r\nOK\r\n", "RING\r\n", "OK\r\n", "OK\r\n"},
     step::send, true, "", "", "", 3, nullptr},
};

// The transcript without its timestamps: marker and text of each line.
std::string markers(const std::string &log) {
    std::string out;
    for (std::size_t at = 0; at < log.size();) {
        const std::size_t end = log.find('\n', at);
        out += log.substr(at + veld::transcript_marker_at, end - at - veld::transcript_marker_at) + "\n";
        at = end + 1;
    }
    return out;
}

TEST(Session, Cases) {
    const veld::framing *lines = three_lines();
    ASSERT_NE(lines, nullptr);
    for (const session_case &c : session_cases) {
        memory_port port;
        port.pieces = c.pieces;
        char log_text[4096] = {};
        std::FILE *log = fmemopen(log_text, sizeof log_text, "w");
        static veld::session s;
        veld::port_settings settings = veld::default_port_settings;
        settings.timeout_ms = 500;
        veld::session_attach(s, "/dev/test", memory_link(port), settings, log, veld::text_sink{}, "test");
        veld::identity id{};
        std::size_t acknowledged = 0;
        bool no_answer = false;
        bool ok = veld::session_wake(s, s.settings.timeout_ms, no_answer);
        if (ok && c.last == step::identity) ok = veld::session_identity(s, id);
        if (ok && c.last >= step::send) ok = veld::session_send(s, *lines, acknowledged, nullptr, nullptr);
        std::fclose(log);
        EXPECT_EQ(ok, c.ok) << c.name;
        EXPECT_STREQ(ok ? "" : s.why.text, c.why) << c.name;
        EXPECT_STREQ(id.imei, c.imei) << c.name;
        EXPECT_STREQ(id.imsi, c.imsi) << c.name;
        EXPECT_EQ(acknowledged, c.acknowledged) << c.name;
        if (c.log != nullptr) {
            EXPECT_EQ(markers(log_text), c.log) << c.name;
        }
        EXPECT_LE(port.clock_ms, 3 * 500 + 500) << c.name << ": the waits are the timeouts'";
    }
}

TEST(Session, ALongTimeoutIsSaidInWholeSeconds) {
    memory_port port;
    port.pieces = {"OK\r\n", ""};
    static veld::session s;
    veld::port_settings settings = veld::default_port_settings;
    settings.timeout_ms = 3600000;
    veld::session_attach(s, "/dev/test", memory_link(port), settings, nullptr, veld::text_sink{}, "test");
    bool no_answer = false;
    veld::identity id{};
    ASSERT_TRUE(veld::session_wake(s, s.settings.timeout_ms, no_answer));
    EXPECT_FALSE(veld::session_identity(s, id));
    EXPECT_STREQ(s.why.text, "no final result code to AT+CGSN within 3600 s");
}

TEST(Session, AFailedWriteIsThePortsFault) {
    memory_port port;
    port.write_result = -1;
    static veld::session s;
    veld::session_attach(s, "/dev/test", memory_link(port), veld::default_port_settings, nullptr, veld::text_sink{},
                          "test");
    bool no_answer = false;
    EXPECT_FALSE(veld::session_wake(s, s.settings.timeout_ms, no_answer));
    EXPECT_FALSE(no_answer);
    EXPECT_STREQ(s.why.text, "/dev/test failed (hung up?) during the probe AT");
}

}  // namespace
