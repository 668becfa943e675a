#include "options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <numeric>

#include "main.hpp"
#include "scan_harness.hpp"

using scan_test::arg_vector;
using scan_test::scan_all;
using scan_test::scanner;

namespace {

const veld::option single_table[] = {
    {"only", veld::required_argument, nullptr, 'o'},
    {nullptr, 0, nullptr, 0},
};

// An exact match further down does not rescue an earlier ambiguity.
const veld::option prefix_table[] = {
    {"ab", veld::no_argument, nullptr, '1'},
    {"abc", veld::no_argument, nullptr, '2'},
    {"a", veld::no_argument, nullptr, '3'},
    {nullptr, 0, nullptr, 0},
};

const veld::option short_clash_table[] = {
    {"alpha", veld::no_argument, nullptr, 'A'},
    {"beta", veld::required_argument, nullptr, 'B'},
    {nullptr, 0, nullptr, 0},
};

const veld::option *table_named(const std::string &name) {
    if (name == "tool") return tool_long_options;  // its order matters
    if (name == "single") return single_table;
    if (name == "prefix") return prefix_table;
    if (name == "clash") return short_clash_table;
    return nullptr;
}

std::vector<std::string> split(const std::string &text, const std::string &by) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(by, from)) != std::string::npos; from = at + by.size()) {
        parts.push_back(text.substr(from, at - from));
    }
    parts.push_back(text.substr(from));
    return parts;
}

std::string unquote(const std::string &text) { return text.substr(1, text.size() - 2); }

struct scan_case {
    int line;
    scanner fn;
    bool null_optstring;
    std::string optstring;
    const veld::option *table;
    std::vector<std::string> words;
    std::string trace, final_argv, diagnostics;
    int final_optind;
};

std::vector<scan_case> load_scan_cases() {
    std::ifstream in(SCAN_CASES_FILE);
    std::vector<scan_case> cases;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (text.empty() || text[0] == '#') continue;
        const std::vector<std::string> field = split(text, " | ");
        const std::vector<std::string> head = split(field.at(0), " ");
        scan_case c;
        c.line = line;
        c.fn = head.at(0) == "plain" ? scanner::plain
               : head[0] == "long"   ? scanner::long_opts
                                     : scanner::long_only;
        c.null_optstring = head.at(1) == "null";
        c.optstring = c.null_optstring ? "" : unquote(head[1]);
        c.table = table_named(head.at(2));
        c.words = split(field.at(1), " ");
        c.trace = field.at(2);
        c.final_argv = field.at(3);
        c.final_optind = std::stoi(field.at(4));
        c.diagnostics = unquote(field.at(5));
        cases.push_back(c);
    }
    return cases;
}

class Scan : public testing::TestWithParam<scan_case> {};

TEST_P(Scan, TraceArgvAndDiagnostics) {
    const scan_case &c = GetParam();
    arg_vector args(c.words);
    testing::internal::CaptureStderr();
    const std::string trace = scan_all(
        c.fn, args, c.null_optstring ? nullptr : c.optstring.c_str(), c.table);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.diagnostics);
    EXPECT_EQ(trace, c.trace);
    EXPECT_EQ(args.joined(), c.final_argv);
    EXPECT_EQ(veld::optind, c.final_optind);
}

INSTANTIATE_TEST_SUITE_P(File, Scan, testing::ValuesIn(load_scan_cases()),
                         [](const testing::TestParamInfo<scan_case> &info) {
                             return "line" + std::to_string(info.param.line);
                         });

TEST(ScanCases, FileIsRead) { EXPECT_GT(load_scan_cases().size(), 40u); }

TEST(ScanState, OpterrZeroSilencesDiagnostics) {
    arg_vector args({"prog", "-c", "--zzz", "-b"});
    veld::optind = 0;
    veld::opterr = 0;
    testing::internal::CaptureStderr();
    const std::string trace =
        scan_test::scan_rest(scanner::long_opts, args, "b:", tool_long_options);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(trace, "?(c) ?(0) ?(b) -1");
    veld::opterr = 1;
}

TEST(ScanState, OptresetRereadsTheCurrentWord) {
    arg_vector args({"prog", "-ab", "-c"});
    veld::optind = 0;
    std::string trace = scan_test::describe(
        scan_test::call(scanner::plain, args, "abc", nullptr));
    EXPECT_EQ(veld::optind, 1);
    veld::optreset = 1;
    trace += " " + scan_test::scan_rest(scanner::plain, args, "abc", nullptr);
    EXPECT_EQ(trace, "a a b c -1");
}

TEST(ScanState, OptindZeroRestartsAfterAFinishedScan) {
    arg_vector args({"prog", "x", "-b", "1"});
    EXPECT_EQ(scan_all(scanner::long_opts, args, "b:", nullptr), "b=1 -1");
    EXPECT_EQ(args.joined(), "prog -b 1 x");
    // A second scan over the permuted words finds the same option.
    EXPECT_EQ(scan_all(scanner::long_opts, args, "b:", nullptr), "b=1 -1");
    EXPECT_EQ(veld::optind, 3);
}

TEST(ScanState, OptresetForgetsASkippedRun) {
    arg_vector args({"prog", "x", "-a", "y", "-a"});
    veld::optind = 0;
    EXPECT_EQ(scan_test::call(scanner::long_opts, args, "a", nullptr), 'a');
    veld::optreset = 1;  // the run "x" is forgotten, never rotated
    EXPECT_EQ(scan_test::scan_rest(scanner::long_opts, args, "a", nullptr), "a -1");
    EXPECT_EQ(args.joined(), "prog x -a -a y");
    EXPECT_EQ(veld::optind, 4);
}

TEST(ScanState, FlagEntryStoresValueAndReturnsZero) {
    int verbose = 0;
    const veld::option table[] = {
        {"verbose", veld::no_argument, &verbose, 7},
        {"level", veld::required_argument, &verbose, 9},
        {nullptr, 0, nullptr, 0},
    };
    arg_vector args({"prog", "--verb", "--level=", "--level"});
    veld::optind = 0;
    int index = -1;
    EXPECT_EQ(scan_test::call(scanner::long_opts, args, "", table, &index), 0);
    EXPECT_EQ(verbose, 7);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(scan_test::call(scanner::long_opts, args, "", table, &index), 0);
    EXPECT_EQ(verbose, 9);
    EXPECT_EQ(index, 1);
    EXPECT_STREQ(veld::optarg, "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(scan_test::call(scanner::long_opts, args, "", table, &index), '?');
    EXPECT_EQ(veld::optopt, 0);  // a flag entry has no character to report
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "option requires an argument -- level");
}

// POSIXLY_CORRECT is read at the first call of the process and then kept.
TEST(ScanState, EnvironmentIsReadOnce) {
    arg_vector first({"prog", "-b", "1"});
    scan_all(scanner::long_opts, first, "b:", nullptr);
    setenv("POSIXLY_CORRECT", "1", 1);
    arg_vector args({"prog", "a", "-b", "1"});
    const std::string trace = scan_all(scanner::long_opts, args, "b:", nullptr);
    unsetenv("POSIXLY_CORRECT");
    EXPECT_EQ(trace, "b=1 -1");
}

TEST(PosixMode, StopsAtTheFirstNonOption) {
    arg_vector args({"prog", "a", "-b", "1", "c", "-d", "2"});
    EXPECT_EQ(scan_all(scanner::long_opts, args, "b:d:", tool_long_options), "-1");
    EXPECT_EQ(args.joined(), "prog a -b 1 c -d 2");
    EXPECT_EQ(veld::optind, 1);
}

TEST(PosixMode, LeadingDashNoLongerReturnsNonOptions) {
    arg_vector args({"prog", "-b", "1", "a", "-d", "2"});
    EXPECT_EQ(scan_all(scanner::long_opts, args, "-b:d:", nullptr), "b=1 -1");
    EXPECT_EQ(veld::optind, 3);
}

TEST(PosixMode, IsKeptWhenTheVariableGoesAway) {
    arg_vector first({"prog", "-b", "1"});
    scan_all(scanner::long_opts, first, "b:", nullptr);
    unsetenv("POSIXLY_CORRECT");
    arg_vector args({"prog", "a", "-b", "1"});
    EXPECT_EQ(scan_all(scanner::long_opts, args, "b:", nullptr), "-1");
    setenv("POSIXLY_CORRECT", "1", 1);
}

TEST(Rotate, MatchesStdRotateForAllSmallRuns) {
    for (int before = 0; before < 3; ++before) {
        for (int nonopts = 1; nonopts < 8; ++nonopts) {
            for (int opts = 1; opts < 8; ++opts) {
                const int n = before + nonopts + opts;
                std::vector<std::string> words(n);
                for (int i = 0; i < n; ++i) words[i] = std::to_string(i);
                arg_vector args(words);
                std::vector<char *> expected(args.argv.begin(), args.argv.end() - 1);
                std::rotate(expected.begin() + before,
                            expected.begin() + before + nonopts, expected.end());
                veld::rotate_args(before, before + nonopts, n, args.argv.data());
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                                       args.argv.begin()))
                    << before << " " << nonopts << " " << opts;
            }
        }
    }
}

TEST(Rotate, GcdAgreesWithTheStandardLibrary) {
    for (int a = 1; a < 40; ++a) {
        for (int b = 1; b < 40; ++b) EXPECT_EQ(veld::gcd(a, b), std::gcd(a, b));
    }
}

}  // namespace

namespace {

// A caller may leave optind anywhere between calls; where the scanner would
// then reach outside argv it ends with -1 and leaves argv alone.
struct poke_case {
    int poke;  // optind set after the first call
    const char *then;
    const char *final_argv;
};

TEST(ScanState, OptindMovedOutsideArgvEndsTheScan) {
    const poke_case cases[] = {
        {-1, "-1", "prog x -a y z"},
        {-100, "-1", "prog x -a y z"},
        {6, "-1", "prog x -a y z"},  // past argc, with the run "x" pending
        {1000, "-1", "prog x -a y z"},
        {5, "-1", "prog -a y z x"},  // argc itself: still inside, so rotated
        {1, "a -1", "prog -a x y z"},  // back inside: scanning goes on there
    };
    for (const poke_case &c : cases) {
        arg_vector args({"prog", "x", "-a", "y", "z"});
        veld::optind = 0;
        ASSERT_EQ(scan_test::call(scanner::long_opts, args, "a", nullptr), 'a');
        veld::optind = c.poke;
        EXPECT_EQ(scan_test::scan_rest(scanner::long_opts, args, "a", nullptr), c.then)
            << c.poke;
        EXPECT_EQ(args.joined(), c.final_argv) << c.poke;
    }
}

}  // namespace

namespace {

TEST(ScanState, OptindMovedMidWordStartsAtTheNamedWord) {
    arg_vector args({"prog", "-ab", "-c"});
    veld::optind = 0;
    ASSERT_EQ(scan_test::call(scanner::plain, args, "abc", nullptr), 'a');
    veld::optind = 2;  // the rest of -ab is dropped
    EXPECT_EQ(scan_test::call(scanner::plain, args, "abc", nullptr), 'c');
    veld::optind = 3;
    ASSERT_EQ(scan_test::call(scanner::plain, args, "abc", nullptr), -1);
    EXPECT_EQ(veld::optind, 3);
}

}  // namespace
