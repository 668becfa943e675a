// Command-line option scanner with the getopt / getopt_long interface.
//
// Short options are letters after one dash, alone or grouped (-ab), with
// arguments attached (-bvalue) or in the next word (-b value). Long options
// are names after two dashes, abbreviable to any unambiguous prefix, with
// arguments as --name=value or (required ones) --name value. Two dashes
// alone end the options. By default non-option words are permuted behind
// the options; POSIXLY_CORRECT in the environment or a leading '+' in the
// option string turns that off.
//
// All state is process-wide: one scan at a time. Set optind to 0 to restart
// a scan, or optreset to nonzero to rescan from the word at optind. A call
// after the caller moved optind starts at the word it names; one with
// optind outside 0..argc returns -1 and touches nothing.
//
// Diagnostics go to standard error with no program name and no line end.
#pragma once

namespace veld {

enum { no_argument = 0, required_argument = 1, optional_argument = 2 };

// One entry of a long-option table; a table ends with a null name.
struct option {
    const char *name;
    int has_arg;
    int *flag;  // null: the scanner returns val; else stores val here, returns 0
    int val;
};

// Mode bits of one scan_args call.
enum {
    SCAN_PERMUTE = 1,    // move non-option words behind the options
    SCAN_ALL_ARGS = 2,   // return non-option words in place, as 1 with optarg
    SCAN_LONG_ONLY = 4,  // try a single-dash word as a long option first
};

extern char *optarg;  // argument of the option just returned, or null
extern int optind;    // index of the next word to scan; 0 restarts
extern int opterr;    // nonzero: print diagnostics
extern int optopt;    // offending option after '?' or ':'
extern int optreset;  // nonzero: rescan from argv[optind], forget skipped words

// Each returns the next option (its letter or val), '?' or ':' on an error,
// 1 for an in-place non-option word (SCAN_ALL_ARGS), or -1 when the options
// are over. argv's entries are reordered in place, never the texts.
int getopt(int argc, char *argv[], const char *optstring);
int getopt_long(int argc, char *argv[], const char *optstring,
                const option *longopts, int *longindex);
int getopt_long_only(int argc, char *argv[], const char *optstring,
                     const option *longopts, int *longindex);
int scan_args(int argc, char *argv[], const char *optstring,
              const option *longopts, int *longindex, int mode);

// Matches the text at the scan position against longopts. With also_short,
// an unmatched text returns -1 so the caller can read it as short options.
int match_long_option(char *argv[], const char *optstring,
                      const option *longopts, int *longindex, int also_short);

// Moves argv[first_skipped, end_of_run) behind argv[end_of_run,
// end_of_options), keeping the order within each run.
void rotate_args(int first_skipped, int end_of_run, int end_of_options,
                 char *argv[]);
int gcd(int a, int b);

// For programs that scan with opterr = 0: names the word behind the '?' or
// ':' just returned, as "PROGRAM: unknown option -z" or "PROGRAM: option
// --timeout needs a value", on standard error.
void report_bad_option(const char *program, int result, int argc, char *argv[]);

}  // namespace veld
