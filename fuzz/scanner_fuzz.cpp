// Fuzzes the option scanner alone: the input picks the function, the option
// string, a long table (drawn, or the tool's own), the words and pokes at
// optind/optreset between calls, and every call is checked against the
// scanner's invariants.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "main.hpp"
#include "check.hpp"
#include "options.hpp"

namespace {

// One byte a character: printable ASCII as itself, bytes below 0x20 as the
// characters the scanner gives meaning to (so short inputs reach its rules
// often), the rest as raw bytes. fuzz/make_seeds.py writes the same format.
std::string draw_text(FuzzedDataProvider &in, std::size_t max_len) {
    static const char special[] = "-=:;+Wabcdx1";
    std::string text;
    const std::size_t len = in.ConsumeIntegralInRange<std::size_t>(0, max_len);
    for (std::size_t i = 0; i < len && in.remaining_bytes() > 0; ++i) {
        const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
        text += pick < 0x20 ? special[pick % (sizeof special - 1)]
                            : static_cast<char>(pick);
    }
    return text;
}

// The table-count value that stands for the tool's long table; the seeds
// written by fuzz/make_seeds.py use it, so they follow the tool's table.
constexpr int tool_table = 13;

int tool_table_entries() {
    int n = 0;
    while (tool_long_options[n].name != nullptr) ++n;
    return n;
}

// optarg is null or points into one of the words, its terminator included.
bool points_into_a_word(const char *p, const std::vector<std::string> &words) {
    if (p == nullptr) return true;
    for (const std::string &w : words) {
        if (p >= w.c_str() && p <= w.c_str() + std::strlen(w.c_str())) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int fn = in.ConsumeIntegralInRange(0, 2);
    const bool null_optstring = in.ConsumeIntegralInRange(0, 31) == 0;
    const std::string optstring = draw_text(in, 24);

    int flag_target = 0;
    std::vector<std::string> names;
    std::vector<veld::option> table;
    int entries = in.ConsumeIntegralInRange(-1, tool_table);  // -1: no table
    const bool own_table = entries == tool_table;
    if (own_table) entries = 0;
    for (int i = 0; i < entries; ++i) names.push_back(draw_text(in, 12));
    for (int i = 0; i < entries; ++i) {
        table.push_back({names[i].c_str(), in.ConsumeIntegralInRange(0, 2),
                         in.ConsumeBool() ? &flag_target : nullptr,
                         in.ConsumeIntegralInRange(0, 127)});
    }
    table.push_back({nullptr, 0, nullptr, 0});
    const veld::option *longopts = entries >= 0 ? table.data() : nullptr;
    if (own_table) {
        longopts = tool_long_options;
        entries = tool_table_entries();
    }

    std::vector<std::string> words{"prog"};
    const int extra = in.ConsumeIntegralInRange(0, 16);
    for (int i = 0; i < extra; ++i) words.push_back(draw_text(in, 16));
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    std::vector<char *> given(argv.begin(), argv.end() - 1);
    std::sort(given.begin(), given.end());

    // Without pokes, every call before the -1 moves past a letter or a word.
    int bound = argc + 2;
    for (const std::string &w : words) bound += static_cast<int>(w.size());

    veld::optind = 0;
    veld::opterr = in.ConsumeBool();
    int longindex = -1;
    for (int since_poke = 0;; ++since_poke) {
        // The first call starts the scan of these words (optind 0); once
        // the input is used up, no more pokes, and the scan must end.
        const bool first_call = veld::optind == 0 && since_poke == 0;
        switch (first_call ? 0 : in.ConsumeIntegralInRange(0, 7)) {
            case 1: veld::optreset = 1; since_poke = 0; break;
            case 2: veld::optind = 0; since_poke = 0; break;
            case 3:
                veld::optind = in.ConsumeIntegralInRange(-3, argc + 3);
                since_poke = 0;
                break;
            default: break;
        }
        check(since_poke <= bound);
        const bool in_range = veld::optind >= 0 && veld::optind <= argc;
        const char *opts = null_optstring ? nullptr : optstring.c_str();
        int result;
        switch (fn) {
            case 0: result = veld::getopt(argc, argv.data(), opts); break;
            case 1: result = veld::getopt_long(argc, argv.data(), opts, longopts, &longindex); break;
            default: result = veld::getopt_long_only(argc, argv.data(), opts, longopts, &longindex); break;
        }
        if (in_range) check(veld::optind >= 0 && veld::optind <= argc);
        check(points_into_a_word(veld::optarg, words));
        check(longindex >= -1 && longindex < std::max(entries, 0));
        std::vector<char *> now(argv.begin(), argv.end() - 1);
        std::sort(now.begin(), now.end());
        check(now == given);
        check(argv[argc] == nullptr);
        if (result == -1) {
            if (in.remaining_bytes() == 0) break;
            since_poke = 0;  // a finished scan; later calls start afresh
        }
    }
    return 0;
}
