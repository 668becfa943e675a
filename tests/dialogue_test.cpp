// The AT conversation against an in-memory port: the module's bytes arrive
// in the pieces a case gives, and each read that finds none is a timeout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogue.hpp"

namespace {

struct memory_port {
    std::vector<std::string> pieces;  // one per read
    std::size_t next = 0;
    std::string written;
};

long read_memory(void *context, char *buffer, std::size_t capacity, long) {
    auto &port = *static_cast<memory_port *>(context);
    if (port.next == port.pieces.size()) return 0;
    const std::string &piece = port.pieces[port.next++];
    EXPECT_LE(piece.size(), capacity);
    piece.copy(buffer, piece.size());
    return static_cast<long>(piece.size());
}

bool write_memory(void *context, const char *data, std::size_t len) {
    static_cast<memory_port *>(context)->written.append(data, len);
    return true;
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
};

TEST(Dialogue, ExchangeCases) {
    for (const exchange_case &c : exchange_cases) {
        memory_port port{c.pieces, 0, {}};
        static veld::dialogue d;
        d = veld::dialogue{};
        d.io = {&port, read_memory, write_memory};
        d.timeout_ms = 1000;
        EXPECT_EQ(veld::exchange(d, "AT+X=1", 6, "\r\n"), c.want) << c.name;
        EXPECT_EQ(std::string(d.line, d.line_len), c.final_line) << c.name;
        EXPECT_EQ(d.info_count, c.info_lines) << c.name;
        EXPECT_EQ(port.written, "AT+X=1\r\n") << c.name;
    }
}

TEST(Dialogue, BytesAfterOkWaitForTheNextCommand) {
    memory_port port{{"OK\r\n+CEREG: 1\r\n", "OK\r\n"}, 0, {}};
    static veld::dialogue d;
    d = veld::dialogue{};
    d.io = {&port, read_memory, write_memory};
    d.timeout_ms = 1000;
    ASSERT_EQ(veld::exchange(d, "AT", 2, "\r"), veld::outcome::ok);
    ASSERT_EQ(veld::exchange(d, "AT+Y", 4, "\r"), veld::outcome::ok);
    EXPECT_EQ(d.info_count, 1u);
    EXPECT_EQ(std::string(d.info[0], d.info_len[0]), "+CEREG: 1");
}

}  // namespace
