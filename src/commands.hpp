// Reading AT+VELDCONF lines back: the framing checks that veldconf-decode
// and veldconf-send share, so that nothing is decoded or sent from a
// damaged input. Also reads veldconf-send's transcripts, where only the
// lines sent and acknowledged count.
#pragma once

#include <cstddef>
#include <cstdio>

#include "config.hpp"

namespace veld {

// The longest line of a valid chunk, with room to tell it from a longer one.
constexpr std::size_t max_line_len = sizeof command_prefix + 2 * chunk_len + 32;
constexpr std::size_t max_chunks = (max_blob_len + chunk_len - 1) / chunk_len;

// A transcript line: "YYYY-MM-DD HH:MM:SS.mmm > text" (sent), "... < text"
// (received) or "... ~ text" (received, but left over from an earlier
// command: never an answer).
constexpr std::size_t transcript_marker_at = 24;
constexpr char sent_marker = '>';
constexpr char received_marker = '<';
constexpr char leftover_marker = '~';

// The chunks read so far: the blob they carry, and the lines themselves
// (without their line ends) in the order read.
struct framing {
    unsigned char blob[max_blob_len];
    std::size_t blob_len;
    unsigned long next_index;
    bool started;
    bool finished;
    bool lower_case_seen;
    bool transcript;
    bool awaiting_answer;  // transcript: the last line sent has no OK yet
    char text[max_chunks * max_line_len];
    std::size_t text_len;
    std::size_t line_end[max_chunks];  // line k is text[line_end[k-1], line_end[k])
    std::size_t line_count;
};

// Reads every line of in into f (which it clears first); true only when
// the lines are whole and their blob decodes. Names the first fault on
// standard error as "PROGRAM: line N: fault" (or "PROGRAM: fault" for the
// blob, or the read error with NAME, the input's name) and returns false.
bool read_commands(std::FILE *in, const char *name, const char *program, framing &f);

// The same for lines held in memory (thread-safe).
bool read_command_text(const char *text, std::size_t len, const char *program, framing &f);

// "PROGRAM: line N: WHATMESSAGE" on standard error (no "line N: " when line
// is 0).
void report(const char *program, long line, const char *what, const char *message);

// The same for the file at path, or standard input when path is "-"; a
// file that cannot be opened is named with the system's reason.
bool read_command_file(const char *path, const char *program, framing &f);

// Text tests the programs share.
bool starts_with(const char *text, std::size_t len, const char *prefix);
bool all_digits(const char *text, std::size_t len);  // false when empty

// Line k (from 0) as read, and its length.
const char *command_line(const framing &f, std::size_t k, std::size_t &len);

// Whether a response line is a final result code, and whether it is OK.
bool is_final_result(const char *line, std::size_t len);
bool is_ok(const char *line, std::size_t len);

// Timestamped transcript line "YYYY-MM-DD HH:MM:SS.mmm M text" into buffer
// (at least transcript_marker_at + 2 bytes); returns the prefix length.
std::size_t transcript_prefix(char *buffer, char marker);

}  // namespace veld
