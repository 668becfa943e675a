// Manifests as people type them: each read, or refused naming the line
// and the column.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "manifest.hpp"

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
    {"a number with a sign and spaces", "imei,block1\n490154203237511, 5\n",
     "line 2, column block1: ' 5' is not a decimal number from 0 to 6", 0},
    {"a name format with an unknown field", "imei,name\n490154203237511,{serial}\n",
     "line 2, column name: unknown field {serial}", 0},
    {"a URI too long", "imei,uri\n490154203237511," + std::string(65536, 'u') + "\n",
     "line 2, column uri: URI exceed.", 0},
    {"one literal name on two rows", "imei,name\n490154203237511,bench\n490154203237512,bench\n",
     "line 3, column name: bench is line 2's name too", 0},
    {"a quote not closed", "imei,name\n490154203237511,\"open\n", "line 2: a quote that is not closed", 0},
};

TEST(Manifest, Cases) {
    char dir[] = "/tmp/manifest_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/manifest.csv";
    tool_settings base{};
    base.config.lifetime = 300;
    for (const manifest_case &c : manifest_cases) {
        std::FILE *out = std::fopen(path.c_str(), "wb");
        std::fwrite(c.text.data(), 1, c.text.size(), out);
        std::fclose(out);
        veld::manifest m;
        veld::reason why;
        const bool read = veld::read_manifest(path.c_str(), base, m, why);
        EXPECT_STREQ(read ? nullptr : why.text, c.fault) << c.name;
        if (read) {
            EXPECT_EQ(m.rows.size(), c.rows) << c.name;
        }
    }
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(Manifest, ARowsValuesGoOverTheCommands) {
    char dir[] = "/tmp/manifest_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/manifest.csv";
    std::FILE *out = std::fopen(path.c_str(), "wb");
    std::fputs("imei,uri,port,name\n490154203237511,coap://b,,\"x,{imei}\"\n", out);
    std::fclose(out);
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
    std::remove(path.c_str());
    rmdir(dir);
}

}  // namespace
