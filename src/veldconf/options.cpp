#include "options.hpp"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace veld {

char *optarg = nullptr;
int optind = 1;
int opterr = 1;
int optopt = '?';
int optreset = 0;

namespace {

char empty_text[] = "";

char *next_char = empty_text;  // scan position inside the current word
int skip_first = -1;           // first non-option word skipped, or -1
int skip_end = -1;             // one past the skipped run, or -1
int posix_mode = -1;           // POSIXLY_CORRECT, read once per process
int scan_argc = 0;             // argc of the call in progress
int last_optind = 1;           // optind as the last call left it

bool quiet(const char *optstring) { return optstring[0] == ':'; }

// A leading colon asks for ':' instead of '?' on argument errors.
int argument_error(const char *optstring) {
    return quiet(optstring) ? ':' : '?';
}

template <typename... Args>
void diagnose(const char *optstring, const char *format, Args... args) {
    if (opterr && !quiet(optstring)) std::fprintf(stderr, format, args...);
}

bool lists(const char *optstring, char c) {
    return c != '\0' && std::strchr(optstring, c) != nullptr;
}

// The letter must be listed: one colon after it is a required argument,
// two an optional one.
int argument_kind(const char *optstring, char c) {
    const char *at = std::strchr(optstring, c);
    if (at[1] != ':') return no_argument;
    return at[2] == ':' ? optional_argument : required_argument;
}

int option_result(const option &entry) {
    if (entry.flag == nullptr) return entry.val;
    *entry.flag = entry.val;
    return 0;
}

int offender(const option &entry) {
    return entry.flag == nullptr ? entry.val : 0;
}

// A caller may move optind between calls: a skipped run that no longer lies
// inside argv, before optind, is dropped rather than rotated.
bool skipped_run_fits() {
    return 0 <= skip_first && skip_first < skip_end && skip_end < optind &&
           optind <= scan_argc;
}

void forget_skipped_run() {
    skip_first = -1;
    skip_end = -1;
}

// The options are over: a skipped run goes behind the options read since,
// so that optind names the first non-option word.
int finish_scan(char *argv[]) {
    if (skip_end != -1) {
        if (skipped_run_fits()) {
            rotate_args(skip_first, skip_end, optind, argv);
            optind -= skip_end - skip_first;
        }
    } else if (skip_first != -1) {
        optind = skip_first;
    }
    forget_skipped_run();
    return -1;
}

// Adds argv[optind] to the skipped run, keeping the run in one piece.
void skip_word(char *argv[]) {
    if (skip_first == -1) {
        skip_first = optind;
    } else if (skip_end != -1) {
        if (skipped_run_fits()) {
            rotate_args(skip_first, skip_end, optind, argv);
            skip_first = optind - (skip_end - skip_first);
        } else {
            skip_first = optind;
        }
        skip_end = -1;
    }
    ++optind;
}

bool is_non_option(const char *word, const char *optstring) {
    return word[0] != '-' || (word[1] == '\0' && !lists(optstring, '-'));
}

// Moves to the next option word, skipping or returning non-option words on
// the way. Returns true, with the call's result, when the call ends here.
bool take_word(int argc, char *argv[], const char *optstring, int mode,
               int &result) {
    for (;;) {
        if (optind >= argc) {
            next_char = empty_text;
            result = finish_scan(argv);
            return true;
        }
        char *word = argv[optind];
        if (is_non_option(word, optstring)) {
            next_char = empty_text;
            if (mode & SCAN_ALL_ARGS) {
                optarg = word;
                ++optind;
                result = 1;
                return true;
            }
            if (!(mode & SCAN_PERMUTE)) {
                result = -1;
                return true;
            }
            skip_word(argv);
            continue;
        }
        if (skip_first != -1 && skip_end == -1) skip_end = optind;
        next_char = word[1] == '\0' ? word : word + 1;
        if (std::strcmp(word, "--") == 0) {
            ++optind;
            next_char = empty_text;
            result = finish_scan(argv);
            return true;
        }
        return false;
    }
}

int missing_argument(const char *optstring, char letter) {
    next_char = empty_text;
    diagnose(optstring, "option requires an argument -- %c", letter);
    optopt = static_cast<unsigned char>(letter);
    return argument_error(optstring);
}

// -W name, or -Wname: the long option name.
int scan_w_option(int argc, char *argv[], const char *optstring,
                  const option *longopts, int *longindex) {
    if (*next_char == '\0') {
        ++optind;
        if (optind >= argc) return missing_argument(optstring, 'W');
        next_char = argv[optind];
    }
    const int result =
        match_long_option(argv, optstring, longopts, longindex, 0);
    next_char = empty_text;
    return result;
}

int scan_short_option(int argc, char *argv[], const char *optstring,
                      const option *longopts, int *longindex, int mode) {
    const char c = *next_char++;
    const bool word_ends = *next_char == '\0';
    if (c == ':' || (c == '-' && !word_ends) || !lists(optstring, c)) {
        if (c == '-' && word_ends) return -1;
        if (word_ends) ++optind;
        diagnose(optstring, "unknown option -- %c", c);
        optopt = static_cast<unsigned char>(c);
        return '?';
    }
    if (longopts != nullptr && c == 'W' &&
        std::strchr(optstring, 'W')[1] == ';') {
        return scan_w_option(argc, argv, optstring, longopts, longindex);
    }
    const int kind = argument_kind(optstring, c);
    if (kind == no_argument) {
        if (word_ends) ++optind;
        return static_cast<unsigned char>(c);
    }
    optarg = nullptr;
    if (!word_ends) {
        optarg = next_char;
    } else if (kind == required_argument) {
        ++optind;
        if (optind >= argc) return missing_argument(optstring, c);
        optarg = argv[optind];
    } else if (!(mode & SCAN_PERMUTE) && optind + 1 < argc &&
               argv[optind + 1][0] != '-') {
        ++optind;
        optarg = argv[optind];
    }
    next_char = empty_text;
    ++optind;
    return static_cast<unsigned char>(c);
}

// One call; scan_args notes where it left optind.
int scan_once(int argc, char *argv[], const char *optstring,
              const option *longopts, int *longindex, int mode) {
    if (posix_mode == -1) {
        posix_mode = std::getenv("POSIXLY_CORRECT") != nullptr ? 1 : 0;
    }
    if (posix_mode == 1 || optstring[0] == '+') {
        mode &= ~SCAN_PERMUTE;
    } else if (optstring[0] == '-') {
        mode |= SCAN_ALL_ARGS;
    }
    if (optstring[0] == '+' || optstring[0] == '-') ++optstring;
    if (optind == 0) optind = optreset = 1;
    if (optind != last_optind) next_char = empty_text;  // moved by the caller
    scan_argc = argc;

    optarg = nullptr;
    if (optind < 0 || optind > argc) {  // moved outside argv by the caller
        forget_skipped_run();
        next_char = empty_text;
        return -1;
    }
    if (optreset) forget_skipped_run();
    if (optreset || *next_char == '\0') {
        optreset = 0;
        int result = -1;
        if (take_word(argc, argv, optstring, mode, result)) return result;
    }

    const bool word_start = optind < argc && next_char == argv[optind];
    if (longopts != nullptr && !word_start &&
        (*next_char == '-' || (mode & SCAN_LONG_ONLY))) {
        int also_short = 0;
        if (*next_char == '-') {
            ++next_char;
        } else if (*next_char != ':' && lists(optstring, *next_char)) {
            also_short = 1;
        }
        const int result =
            match_long_option(argv, optstring, longopts, longindex, also_short);
        if (result != -1) {
            next_char = empty_text;
            return result;
        }
    }
    return scan_short_option(argc, argv, optstring, longopts, longindex, mode);
}

}  // namespace

int scan_args(int argc, char *argv[], const char *optstring,
              const option *longopts, int *longindex, int mode) {
    if (optstring == nullptr) return -1;
    const int result =
        scan_once(argc, argv, optstring, longopts, longindex, mode);
    last_optind = optind;
    return result;
}

int match_long_option(char *argv[], const char *optstring,
                      const option *longopts, int *longindex, int also_short) {
    char *text = next_char;
    ++optind;
    char *equals = std::strchr(text, '=');
    const std::size_t name_len =
        equals != nullptr ? static_cast<std::size_t>(equals - text)
                          : std::strlen(text);
    const int shown = static_cast<int>(name_len);

    const option *match = nullptr;
    for (const option *entry = longopts; entry->name != nullptr; ++entry) {
        if (std::strncmp(entry->name, text, name_len) != 0) continue;
        if (std::strlen(entry->name) == name_len) {
            match = entry;
            break;
        }
        if (also_short && name_len == 1) continue;
        if (match == nullptr) {
            match = entry;
            continue;
        }
        diagnose(optstring, "ambiguous option -- %.*s", shown, text);
        optopt = 0;
        return '?';
    }

    if (match == nullptr) {
        if (also_short) {
            --optind;
            return -1;
        }
        diagnose(optstring, "unknown option -- %s", text);
        optopt = 0;
        return '?';
    }
    if (match->has_arg == no_argument && equals != nullptr) {
        diagnose(optstring, "option doesn't take an argument -- %.*s", shown,
                 text);
        optopt = offender(*match);
        return argument_error(optstring);
    }
    if (match->has_arg == required_argument ||
        match->has_arg == optional_argument) {
        if (equals != nullptr) {
            optarg = equals + 1;
        } else if (match->has_arg == required_argument) {
            optarg = optind < scan_argc ? argv[optind] : nullptr;
            ++optind;
        }
    }
    if (match->has_arg == required_argument && optarg == nullptr) {
        diagnose(optstring, "option requires an argument -- %s", text);
        optopt = offender(*match);
        --optind;
        return argument_error(optstring);
    }
    if (longindex != nullptr) *longindex = static_cast<int>(match - longopts);
    return option_result(*match);
}

int getopt(int argc, char *argv[], const char *optstring) {
    return scan_args(argc, argv, optstring, nullptr, nullptr, 0);
}

int getopt_long(int argc, char *argv[], const char *optstring,
                const option *longopts, int *longindex) {
    return scan_args(argc, argv, optstring, longopts, longindex, SCAN_PERMUTE);
}

int getopt_long_only(int argc, char *argv[], const char *optstring,
                     const option *longopts, int *longindex) {
    return scan_args(argc, argv, optstring, longopts, longindex,
                     SCAN_PERMUTE | SCAN_LONG_ONLY);
}

int gcd(int a, int b) {
    int c = a % b;
    while (c != 0) {
        a = b;
        b = c;
        c = a % b;
    }
    return b;
}

void rotate_args(int first_skipped, int end_of_run, int end_of_options,
                 char *argv[]) {
    const int nonopts = end_of_run - first_skipped;
    const int opts = end_of_options - end_of_run;
    if (nonopts <= 0 || opts <= 0) return;  // nothing to move
    const int cycles = gcd(nonopts, opts);
    const int cycle_length = (end_of_options - first_skipped) / cycles;
    for (int i = 0; i < cycles; ++i) {
        const int start = end_of_run + i;
        int pos = start;
        for (int j = 0; j < cycle_length; ++j) {
            pos += pos >= end_of_run ? -nonopts : opts;
            char *swap = argv[pos];
            argv[pos] = argv[start];
            argv[start] = swap;
        }
    }
}

void report_bad_option(const char *program, int result, int argc, char *argv[]) {
    const char *what = result == ':' ? "option %s needs a value" : "unknown option %s";
    char letter[3] = {'-', static_cast<char>(optopt), '\0'};
    const char *word = optopt != 0 ? letter
                       : optind > 0 && optind <= argc ? argv[optind - 1]
                                                      : "";
    std::fprintf(stderr, "%s: ", program);
    std::fprintf(stderr, what, word);
    std::fputc('\n', stderr);
}

}  // namespace veld
