#include "config.hpp"
#include "main.hpp"
#include "settings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

veld::client_config worked_example() {
    veld::client_config c{};
    c.boot = 1;
    c.port = 5683;
    c.lifetime = 300;
    c.uri = "coap://192.0.2.10:5683";
    c.uri_len = 22;
    c.ep_name = "111;222";
    c.ep_name_len = 7;
    c.block1 = 5;
    c.block2 = 5;
    c.block2th = 2;
    return c;
}

std::string hex(const bytes &b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char v : b) {
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

bytes encode(const veld::client_config &c) {
    bytes buffer(veld::max_blob_len, 0xAA);
    const std::size_t len = veld::encode_config(buffer.data(), buffer.size(), c);
    buffer.resize(len);
    return buffer;
}

std::string commands(const veld::client_config &c, std::size_t capacity,
                     bool *written = nullptr) {
    bytes buffer(capacity);
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    const bool ok = veld::write_config_commands(buffer.data(), capacity, c, out);
    std::fclose(out);
    if (written != nullptr) *written = ok;
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(Encoder, WorkedExampleLine) {
    EXPECT_EQ(commands(worked_example(), veld::max_blob_len),
              "AT+VELDCONF=44,100033162C0100001600636F61703A2F2F3139322E302E32"
              "2E31303A3536383307003131313B323232050502,1,1\r\n");
}

// The command-line cases cover each field's width and byte order through
// the tool; values the tool's checks never let through are covered here.
TEST(Encoder, FlagsKeepBitZeroOfEachMode) {
    veld::client_config c = worked_example();
    c.boot = 2;
    c.encrypt = 3;
    EXPECT_EQ(encode(c).at(0), 0x01);
    c.boot = 0xFF;
    c.encrypt = 0xFE;
    EXPECT_EQ(encode(c).at(0), 0x10);
}

TEST(Encoder, EveryByteValueIsTwoUpperCaseDigits) {
    std::string all;
    for (int v = 0; v < 256; ++v) all += static_cast<char>(v);
    veld::client_config c = worked_example();
    c.uri = all.data();
    c.uri_len = 256;
    const bytes blob = encode(c);
    const std::string line = commands(c, veld::max_blob_len);
    EXPECT_EQ(line, "AT+VELDCONF=278," + hex(blob) + ",1,1\r\n");
    EXPECT_EQ(hex(blob).substr(20, 6), "000102");
}

// Every split of whole blocks of sixteen and a tail, at every alignment:
// the digits match, and nothing is written past them.
TEST(Encoder, HexOfAnyLengthAndAlignment) {
    bytes all(256 + 64);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<unsigned char>(i * 7 + 3);
    for (std::size_t at = 0; at < 16; ++at) {
        for (std::size_t len = 0; len <= 256 + 33; len += len < 40 ? 1 : 31) {
            std::string text(2 * len + 4, '#');
            char *end = veld::put_hex(all.data() + at, len, &text[0]);
            ASSERT_EQ(end, text.data() + 2 * len) << at << " " << len;
            const bytes piece(all.begin() + at, all.begin() + at + len);
            ASSERT_EQ(text, hex(piece) + "####") << at << " " << len;
        }
    }
}

TEST(Encoder, ClearsTheWholeBufferFirst) {
    bytes buffer(300, 0xAA);
    const std::size_t len =
        veld::encode_config(buffer.data(), buffer.size(), worked_example());
    ASSERT_EQ(len, 44u);
    for (std::size_t i = len; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST(Encoder, RefusesABlobLargerThanTheBuffer) {
    bytes buffer(43, 0xAA);
    EXPECT_EQ(veld::encode_config(buffer.data(), buffer.size(), worked_example()), 0u);
    EXPECT_EQ(buffer, bytes(43, 0xAA));
    bool written = true;
    EXPECT_EQ(commands(worked_example(), 43, &written), "");
    EXPECT_FALSE(written);
    EXPECT_EQ(commands(worked_example(), 44, &written).size(), 12 + 3 + 88 + 6u);
    EXPECT_TRUE(written);
}

struct framing_case {
    std::size_t blob_len;
    std::vector<std::size_t> chunk_lens;
    std::size_t uri_len = half;  // the rest is the name's
    static constexpr std::size_t half = ~std::size_t{0};
};

const framing_case framing_cases[] = {
    {15, {15}},
    {1024, {1024}},
    {1025, {1024, 1}},
    {1026, {1024, 2}},  // the block exponents split across two chunks
    {2041, {1024, 1017}},  // the name's length split across two chunks
    {2048, {1024, 1024}},
    {2049, {1024, 1024, 1}},
    // Where a chunk ends is where one field of the blob ends, or inside it.
    {1129, {1024, 105}, 1014},  // the URI's last byte ends the chunk
    {1128, {1024, 104}, 1013},  // the name's length split
    {1127, {1024, 103}, 1012},  // the name starts a chunk
    {2051, {1024, 1024, 3}, 1000},  // the block exponents start a chunk
    {2050, {1024, 1024, 2}, 1000},  // the block exponents split
    {1039, {1024, 15}, 0},  // an empty URI, the name across two chunks
    {veld::max_blob_len, std::vector<std::size_t>(128, 1024)},
};

class Framing : public testing::TestWithParam<framing_case> {};

// Lines are rebuilt from their parts, so every count, index, flag and the
// reassembled hex are checked against the blob.
TEST_P(Framing, SplitsIntoChunksOf1024) {
    const framing_case &f = GetParam();
    const std::string uri(f.uri_len == f.half ? (f.blob_len - 15) / 2 : f.uri_len, 'u');
    const std::string name(f.blob_len - 15 - uri.size(), 'n');
    veld::client_config c = worked_example();
    c.uri = uri.data();
    c.uri_len = static_cast<std::uint32_t>(uri.size());
    c.ep_name = name.data();
    c.ep_name_len = static_cast<std::uint32_t>(name.size());
    std::vector<std::size_t> lens = f.chunk_lens;
    if (f.blob_len == veld::max_blob_len) lens.push_back(f.blob_len % 1024);

    const std::string blob_hex = hex(encode(c));
    ASSERT_EQ(blob_hex.size(), 2 * f.blob_len);
    std::string expected;
    std::size_t at = 0;
    for (std::size_t i = 0; i < lens.size(); ++i) {
        expected += "AT+VELDCONF=" + std::to_string(lens[i]) + "," +
                    blob_hex.substr(at, 2 * lens[i]) + "," + std::to_string(i + 1) +
                    "," + (i + 1 == lens.size() ? "1" : "0") + "\r\n";
        at += 2 * lens[i];
    }
    EXPECT_EQ(at, blob_hex.size());
    // Through a buffer of one chunk, as the tool passes, or one of the blob.
    EXPECT_EQ(commands(c, veld::chunk_len), expected);
    EXPECT_EQ(commands(c, veld::max_blob_len), expected);
    bool written = true;
    EXPECT_EQ(commands(c, std::min(f.blob_len, veld::chunk_len) - 1, &written), "");
    EXPECT_FALSE(written);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Framing, testing::ValuesIn(framing_cases));

}  // namespace

// Whatever the source gives, a drawn port stays in the dynamic range.
TEST(Front, DrawnPortStaysInTheDynamicRange) {
    for (std::uint32_t entropy : {0u, 1u, 16383u, 16384u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        const unsigned port = dynamic_port(entropy);
        EXPECT_GE(port, 49152u) << entropy;
        EXPECT_LE(port, 65535u) << entropy;
    }
    EXPECT_NE(dynamic_port(0), dynamic_port(1));
}
