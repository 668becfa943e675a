// Drives the scanner over a list of words and records what each call gave.
#pragma once

#include <string>
#include <vector>

#include "options.hpp"

namespace scan_test {

enum class scanner { plain, long_opts, long_only };

// Owns mutable copies of the words and a null-ended argv over them.
struct arg_vector {
    std::vector<std::string> words;
    std::vector<char *> argv;

    explicit arg_vector(const std::vector<std::string> &given) : words(given) {
        for (std::string &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    std::string joined() const {
        std::string out;
        for (int i = 0; i < argc(); ++i) out += (i ? " " : "") + std::string(argv[i]);
        return out;
    }
};

inline int call(scanner s, arg_vector &args, const char *optstring,
                const veld::option *longopts, int *longindex = nullptr) {
    switch (s) {
        case scanner::plain:
            return veld::getopt(args.argc(), args.argv.data(), optstring);
        case scanner::long_opts:
            return veld::getopt_long(args.argc(), args.argv.data(), optstring,
                                     longopts, longindex);
        case scanner::long_only:
            break;
    }
    return veld::getopt_long_only(args.argc(), args.argv.data(), optstring,
                                  longopts, longindex);
}

// One call's result as text: "b=1" (option and argument), "?(c)" (error and
// optopt), "1=word" (in-place non-option), "-1" (end).
inline std::string describe(int result) {
    if (result == -1) return "-1";
    std::string out = result < ' ' ? std::to_string(result)
                                   : std::string(1, static_cast<char>(result));
    if (result == '?' || result == ':') {
        out += veld::optopt == 0 ? std::string("(0)")
                                 : "(" + std::string(1, static_cast<char>(veld::optopt)) + ")";
    } else if (veld::optarg != nullptr) {
        out += "=" + std::string(veld::optarg);
    }
    return out;
}

// Goes on scanning to the end (bounded), returning the trace of the calls.
inline std::string scan_rest(scanner s, arg_vector &args, const char *optstring,
                             const veld::option *longopts) {
    std::string trace;
    for (int calls = 0; calls < 50; ++calls) {
        const int result = call(s, args, optstring, longopts);
        trace += (trace.empty() ? "" : " ") + describe(result);
        if (result == -1) break;
    }
    return trace;
}

// Restarts the scanner and runs it to its end.
inline std::string scan_all(scanner s, arg_vector &args, const char *optstring,
                            const veld::option *longopts) {
    veld::optind = 0;
    veld::opterr = 1;
    return scan_rest(s, args, optstring, longopts);
}

}  // namespace scan_test
