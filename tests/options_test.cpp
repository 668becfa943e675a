#include "options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "scan_harness.hpp"

using scan_test::arg_vector;
using scan_test::scan_all;
using scan_test::scanner;

namespace {

// The tool's own table, in its order: abbreviations depend on it.
const veld::option tool_table[] = {
    {"uri", veld::required_argument, nullptr, 'i'},
    {"port", veld::required_argument, nullptr, 'p'},
    {"keep_alive", veld::required_argument, nullptr, 't'},
    {"ep", veld::required_argument, nullptr, 'n'},
    {"debug", veld::required_argument, nullptr, 'd'},
    {"boot", veld::required_argument, nullptr, 'b'},
    {"encrypt", veld::required_argument, nullptr, 'e'},
    {"block1", veld::optional_argument, nullptr, 'u'},
    {"block2", veld::optional_argument, nullptr, 'g'},
    {"block2th", veld::optional_argument, nullptr, 'x'},
    {"help", veld::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

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

struct scan_case {
    const char *label;
    scanner fn;
    const char *optstring;
    const veld::option *table;
    std::vector<std::string> words;
    const char *trace;
    const char *final_argv;
    int final_optind;
    const char *diagnostics;
};

const scanner L = scanner::long_opts;
const scanner P = scanner::plain;
const scanner O = scanner::long_only;

const scan_case scan_cases[] = {
    // Permutation and the end of the options.
    {"permutes non-options behind options", L, "b:d:", nullptr,
     {"prog", "a", "-b", "1", "c", "-d", "2"}, "b=1 d=2 -1",
     "prog -b 1 -d 2 a c", 5, ""},
    {"joins several skipped runs in order", L, "b:d:", nullptr,
     {"prog", "a", "b", "-b", "1", "c", "-d", "2", "d", "e", "-b", "3"},
     "b=1 d=2 b=3 -1", "prog -b 1 -d 2 -b 3 a b c d e", 7, ""},
    {"plus sign stops at the first non-option", L, "+b:d:", nullptr,
     {"prog", "a", "-b", "1", "c", "-d", "2"}, "-1",
     "prog a -b 1 c -d 2", 1, ""},
    {"getopt never permutes", P, "b:d:", nullptr,
     {"prog", "-b", "1", "a", "-d", "2"}, "b=1 -1", "prog -b 1 a -d 2", 3, ""},
    {"two dashes end the options", L, "b:d:", nullptr,
     {"prog", "-b", "1", "--", "-d", "2"}, "b=1 -1",
     "prog -b 1 -- -d 2", 4, ""},
    {"two dashes move behind a skipped run's options", L, "b:d:", nullptr,
     {"prog", "a", "-b", "1", "--", "c"}, "b=1 -1", "prog -b 1 -- a c", 4, ""},
    {"only non-options", L, "b:", nullptr, {"prog", "a", "b"}, "-1",
     "prog a b", 1, ""},
    {"leading dash returns non-options in place", L, "-b:d:", nullptr,
     {"prog", "a", "-b", "1", "c"}, "1=a b=1 1=c -1", "prog a -b 1 c", 5, ""},
    {"lone dash is a non-option", L, "b:", nullptr,
     {"prog", "-", "-b", "1"}, "b=1 -1", "prog -b 1 -", 3, ""},
    {"lone dash is an option when listed", L, "b:-", nullptr,
     {"prog", "-", "x"}, "- -1", "prog - x", 2, ""},
    {"missing argument after a skipped run", L, "b:", nullptr,
     {"prog", "a", "-b"}, "?(b) -1", "prog -b a", 2,
     "option requires an argument -- b"},

    // Short options and their arguments.
    {"attached argument", L, "b:d:", nullptr, {"prog", "-bvalue"},
     "b=value -1", "prog -bvalue", 2, ""},
    {"separate argument", L, "b:d:", nullptr, {"prog", "-b", "value"},
     "b=value -1", "prog -b value", 3, ""},
    {"separate argument may begin with a dash", L, "b:d:", nullptr,
     {"prog", "-b", "-d"}, "b=-d -1", "prog -b -d", 3, ""},
    {"required argument missing at the end", L, "b:d:", nullptr,
     {"prog", "-b"}, "?(b) -1", "prog -b", 2,
     "option requires an argument -- b"},
    {"colon prefix returns colon and stays silent", L, ":b:d:", nullptr,
     {"prog", "-b"}, ":(b) -1", "prog -b", 2, ""},
    {"grouped letters", P, "abc", nullptr, {"prog", "-abc", "-b"},
     "a b c b -1", "prog -abc -b", 3, ""},
    {"argument attached inside a group", P, "ab:", nullptr,
     {"prog", "-abfoo"}, "a b=foo -1", "prog -abfoo", 2, ""},
    {"unknown letter inside a group skips only that letter", L, "b:", tool_table,
     {"prog", "-cb0"}, "?(c) b=0 -1", "prog -cb0", 2, "unknown option -- c"},
    {"unknown letter", L, "b:d:", nullptr, {"prog", "-c"}, "?(c) -1",
     "prog -c", 2, "unknown option -- c"},
    {"colon is never a letter", L, "b:", nullptr, {"prog", "-:"}, "?(:) -1",
     "prog -:", 2, "unknown option -- :"},
    {"optional argument attached", P, "a::", nullptr, {"prog", "-aval"},
     "a=val -1", "prog -aval", 2, ""},
    {"optional argument in the next word without permutation", P, "a::",
     nullptr, {"prog", "-a", "val"}, "a=val -1", "prog -a val", 3, ""},
    {"optional argument never takes a dash word", P, "a::b", nullptr,
     {"prog", "-a", "-b"}, "a b -1", "prog -a -b", 3, ""},
    {"optional argument not taken when permuting", L, "a::", nullptr,
     {"prog", "-a", "val"}, "a -1", "prog -a val", 2, ""},
    {"dash ending a group ends the scan in place", P, "a", nullptr,
     {"prog", "-a-", "x"}, "a -1", "prog -a- x", 1, ""},
    {"two dashes without a long table are letters", P, "abc", nullptr,
     {"prog", "--name"}, "?(-) ?(n) a ?(m) ?(e) -1", "prog --name", 2,
     "unknown option -- -unknown option -- nunknown option -- m"
     "unknown option -- e"},

    // Long options.
    {"exact long name with attached value", L, "", tool_table,
     {"prog", "--boot=1"}, "b=1 -1", "prog --boot=1", 2, ""},
    {"abbreviation with separate value", L, "", tool_table,
     {"prog", "--bo", "1"}, "b=1 -1", "prog --bo 1", 3, ""},
    {"required long argument takes any next word", L, "b:", tool_table,
     {"prog", "--uri", "-b"}, "i=-b -1", "prog --uri -b", 3, ""},
    {"required long argument missing", L, "", tool_table,
     {"prog", "--ur"}, "?(i) -1", "prog --ur", 2,
     "option requires an argument -- ur"},
    {"optional long argument only attached", L, "", tool_table,
     {"prog", "--block1", "5"}, "u -1", "prog --block1 5", 2, ""},
    {"optional long argument attached", L, "", tool_table,
     {"prog", "--block2th=2"}, "x=2 -1", "prog --block2th=2", 2, ""},
    {"exact name beats an earlier partial match", L, "", tool_table,
     {"prog", "--block2"}, "g -1", "prog --block2", 2, ""},
    {"ambiguous prefix", L, "", tool_table, {"prog", "--bl"}, "?(0) -1",
     "prog --bl", 2, "ambiguous option -- bl"},
    {"ambiguous prefix shows only the name part", L, "", tool_table,
     {"prog", "--b=1"}, "?(0) -1", "prog --b=1", 2, "ambiguous option -- b"},
    {"ambiguity is declared before a later exact match", L, "", prefix_table,
     {"prog", "--a"}, "?(0) -1", "prog --a", 2, "ambiguous option -- a"},
    {"empty name is ambiguous against several entries", L, "", tool_table,
     {"prog", "--=x"}, "?(0) -1", "prog --=x", 2, "ambiguous option -- "},
    {"empty name takes a single entry", L, "", single_table,
     {"prog", "--=x"}, "o=x -1", "prog --=x", 2, ""},
    {"unknown long name shows the whole text", L, "", tool_table,
     {"prog", "--zzz=1"}, "?(0) -1", "prog --zzz=1", 2,
     "unknown option -- zzz=1"},
    {"value given to a no_argument option", L, "", tool_table,
     {"prog", "--help=1"}, "?(h) -1", "prog --help=1", 2,
     "option doesn't take an argument -- help"},
    {"value given to a no_argument option, quiet", L, ":", tool_table,
     {"prog", "--he=1"}, ":(h) -1", "prog --he=1", 2, ""},
    {"long option after a dash inside a group", L, "hb:", tool_table,
     {"prog", "-h-boot=1"}, "h b=1 -1", "prog -h-boot=1", 2, ""},
    {"colon prefix silences an unknown long name", L, ":", tool_table,
     {"prog", "--nope"}, "?(0) -1", "prog --nope", 2, ""},

    // -W name.
    {"W semicolon with a separate name", L, "W;b:", tool_table,
     {"prog", "-W", "uri=x"}, "i=x -1", "prog -W uri=x", 3, ""},
    {"W semicolon with an attached name", L, "W;", tool_table,
     {"prog", "-Wuri", "x"}, "i=x -1", "prog -Wuri x", 3, ""},
    {"W semicolon with nothing after it", L, "W;", tool_table,
     {"prog", "-W"}, "?(W) -1", "prog -W", 2,
     "option requires an argument -- W"},
    {"W semicolon with nothing after it, quiet", L, ":W;", tool_table,
     {"prog", "-W"}, ":(W) -1", "prog -W", 2, ""},
    {"W is a plain letter without a table", P, "W;", nullptr,
     {"prog", "-Wx"}, "W ?(x) -1", "prog -Wx", 2, "unknown option -- x"},

    // Long-only mode.
    {"single dash long name", O, "ab:", short_clash_table,
     {"prog", "-alpha"}, "A -1", "prog -alpha", 2, ""},
    {"single dash abbreviation", O, "ab:", short_clash_table,
     {"prog", "-al"}, "A -1", "prog -al", 2, ""},
    {"one listed letter is never an abbreviation", O, "ab:", short_clash_table,
     {"prog", "-a"}, "a -1", "prog -a", 2, ""},
    {"no long match falls back to letters", O, "ab:", short_clash_table,
     {"prog", "-ab1"}, "a b=1 -1", "prog -ab1", 2, ""},
    {"unlisted letters are a long name", O, "ab:", short_clash_table,
     {"prog", "-xyz"}, "?(0) -1", "prog -xyz", 2, "unknown option -- xyz"},
    {"two dashes still work", O, "ab:", short_clash_table,
     {"prog", "--beta", "2"}, "B=2 -1", "prog --beta 2", 3, ""},

    {"null option string", L, nullptr, tool_table, {"prog", "-b"}, "-1",
     "prog -b", 0, ""},
};

class Scan : public testing::TestWithParam<scan_case> {};

TEST_P(Scan, TraceArgvAndDiagnostics) {
    const scan_case &c = GetParam();
    arg_vector args(c.words);
    testing::internal::CaptureStderr();
    const std::string trace = scan_all(c.fn, args, c.optstring, c.table);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.diagnostics);
    EXPECT_EQ(trace, c.trace);
    EXPECT_EQ(args.joined(), c.final_argv);
    EXPECT_EQ(veld::optind, c.final_optind);
}

INSTANTIATE_TEST_SUITE_P(Cases, Scan, testing::ValuesIn(scan_cases),
                         [](const testing::TestParamInfo<scan_case> &info) {
                             return "case" + std::to_string(info.index);
                         });

TEST(ScanState, OpterrZeroSilencesDiagnostics) {
    arg_vector args({"prog", "-c", "--zzz", "-b"});
    veld::optind = 0;
    veld::opterr = 0;
    testing::internal::CaptureStderr();
    std::string trace;
    for (int r = 0; r != -1;) {
        r = scan_test::call(scanner::long_opts, args, "b:", tool_table);
        trace += scan_test::describe(r) + " ";
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(trace, "?(c) ?(0) ?(b) -1 ");
    veld::opterr = 1;
}

TEST(ScanState, OptresetRereadsTheCurrentWord) {
    arg_vector args({"prog", "-ab", "-c"});
    veld::optind = 0;
    std::string trace = scan_test::describe(
        scan_test::call(scanner::plain, args, "abc", nullptr));
    EXPECT_EQ(veld::optind, 1);
    veld::optreset = 1;
    for (int r = 0; r != -1;) {
        r = scan_test::call(scanner::plain, args, "abc", nullptr);
        trace += " " + scan_test::describe(r);
    }
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
    std::string trace;
    for (int r = 0; r != -1;) {
        r = scan_test::call(scanner::long_opts, args, "a", nullptr);
        trace += scan_test::describe(r) + " ";
    }
    EXPECT_EQ(trace, "a -1 ");
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
    EXPECT_EQ(scan_all(scanner::long_opts, args, "b:d:", tool_table), "-1");
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
