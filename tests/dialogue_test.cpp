// The AT conversation against an in-memory port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogue.hpp"
#include "memory_port.hpp"

namespace {

veld::dialogue &fresh_dialogue(memory_port &port, long timeout_ms) {
    static veld::dialogue d;
    d = veld::dialogue{};
    d.io = memory_link(port);
    d.timeout_ms = timeout_ms;
    return d;
}

struct exchange_case {
    const char *name;
    std::vector<std::string> pieces;
    veld::outcome want;
    const char *final_line;  // the last line read
    std::size_t info_lines;
};

const exchange_case exchange_cases[] = {
    {"plain OK", {"\r\nOK\r\n"}, veld::outcome::ok, "OK", 0},
    {"echo split over reads", {"AT+X", "=1\r", "\r\nO", "K\r\n"}, veld::outcome::ok, "OK", 0},
    {"CR only and LF only", {"AT+X=1\r\rOK\r"}, veld::outcome::ok, "OK", 0},
    {"a line holding OK is not final", {"+CIEV: OK\r\n", "OK\n"}, veld::outcome::ok, "OK", 1},
    {"OKAY is not OK", {"OKAY\r"}, veld::outcome::timeout, "OKAY", 1},
    {"ERROR", {"AT+X=1\r\r\nERROR\r\n"}, veld::outcome::refused, "ERROR", 0},
    {"+CME ERROR", {"\r\n+CME ERROR: 3\r\n"}, veld::outcome::refused, "+CME ERROR: 3", 0},
    {"+CMS ERROR", {"\r\n+CMS ERROR: 500\r\n"}, veld::outcome::refused, "+CMS ERROR: 500", 0},
    {"a second echo is an information line", {"AT+X=1\rAT+X=1\rOK\r"}, veld::outcome::ok, "OK", 1},
    {"nothing", {}, veld::outcome::timeout, "", 0},
    // The tail of a line cut at the buffer is no line of its own.
    {"a line too long ending in OK is passed over whole", {std::string(veld::max_response_len, 'x') + "OK\r\n"},
     veld::outcome::timeout, "", 0},
    {"so is one ending in OK split over reads",
     {std::string(veld::max_response_len - 1, 'x'), "xO", "K\r\n"}, veld::outcome::timeout, "", 0},
    {"a whole OK after a line too long answers",
     {std::string(3 * veld::max_response_len, 'x') + "\r\nOK\r\n"}, veld::outcome::ok, "OK", 0},
};

TEST(Dialogue, ExchangeCases) {
    for (const exchange_case &c : exchange_cases) {
        memory_port port;
        port.pieces = c.pieces;
        veld::dialogue &d = fresh_dialogue(port, 20);
        EXPECT_EQ(veld::exchange(d, "AT+X=1", 6, "\r\n"), c.want) << c.name;
        EXPECT_EQ(std::string(d.line, d.line_len), c.final_line) << c.name;
        EXPECT_EQ(d.info_count, c.info_lines) << c.name;
        EXPECT_EQ(port.written, "AT+X=1\r\n") << c.name;
    }
}

// Two commands in turn: the probe (or AT+X=1), then AT+X=1. What arrives
// for the first must never answer the second.
struct sequence_case {
    const char *name;
    bool probe_first;
    std::vector<std::string> pieces;
    veld::outcome first;
    veld::outcome second;
    const char *second_line;  // the last line the second read
    std::size_t second_info;
};

const sequence_case sequence_cases[] = {
    {"bytes after OK wait for the next command", false, {"OK\r\n+CEREG: 1\r\n", "OK\r\n"},
     veld::outcome::ok, veld::outcome::ok, "OK", 1},
    {"a second OK already read answers nothing", false, {"OK\r\nOK\r\n"},
     veld::outcome::ok, veld::outcome::timeout, "", 0},
    {"a line begun before the command answers nothing", false, {"OK\r\nO", "K\r\n"},
     veld::outcome::ok, veld::outcome::timeout, "", 0},
    {"a late OK before the echo is a leftover", false,
     {"AT+X=1\r\n", "", "\r\nOK\r\n", "AT+X=1\r\n\r\nERROR\r\n"},
     veld::outcome::timeout, veld::outcome::refused, "ERROR", 0},
    {"echo off: the probes' late answers are leftovers", true,
     {"", "\r\nOK\r\n", "\r\nOK\r\n", "", "\r\nERROR\r\n"},
     veld::outcome::ok, veld::outcome::refused, "ERROR", 0},
    {"echo on: the probes' late answers are leftovers", true,
     {"AT\r", "", "\r\nOK\r\n", "AT\r\r\nOK\r\n", "", "AT+X=1\r\n\r\nERROR\r\n"},
     veld::outcome::ok, veld::outcome::refused, "ERROR", 0},
    {"a part line when the port goes quiet is a leftover", true,
     {"OK\r\n", "O", "", "K\r\n"}, veld::outcome::ok, veld::outcome::timeout, "", 0},
    {"so is a result code that a stray byte began", true,
     {"OK\r\n\x1d", "", "OK\r\n"}, veld::outcome::ok, veld::outcome::timeout, "", 1},
};

TEST(Dialogue, SequenceCases) {
    for (const sequence_case &c : sequence_cases) {
        memory_port port;
        port.pieces = c.pieces;
        veld::dialogue &d = fresh_dialogue(port, 20);
        const veld::outcome first =
            c.probe_first ? veld::probe(d, 3) : veld::exchange(d, "AT+X=1", 6, "\r\n");
        EXPECT_EQ(first, c.first) << c.name;
        EXPECT_EQ(veld::exchange(d, "AT+X=1", 6, "\r\n"), c.second) << c.name;
        EXPECT_EQ(std::string(d.line, d.line_len), c.second_line) << c.name;
        EXPECT_EQ(d.info_count, c.second_info) << c.name;
    }
}

TEST(Dialogue, AFailedWriteSaysWhy) {
    const std::pair<int, veld::outcome> cases[] = {{-1, veld::outcome::port_error},
                                                   {-2, veld::outcome::interrupted}};
    for (const auto &[result, want] : cases) {
        memory_port port;
        port.pieces = {"OK\r\n"};
        port.write_result = result;
        veld::dialogue &d = fresh_dialogue(port, 20);
        EXPECT_EQ(veld::exchange(d, "AT", 2, "\r"), want) << result;
        EXPECT_EQ(port.next, 0u) << "nothing is read after a failed write";
    }
}

}  // namespace
