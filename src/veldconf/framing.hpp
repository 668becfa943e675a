// Reading AT+VELDCONF lines back: the framing checks that the decoder, the
// sender and the station share, so that nothing is decoded or sent from a
// damaged input. Also reads the transcripts the sender and the station
// write (their line format and markers are here), where only the lines
// sent and acknowledged count, and knows the AT result codes a transcript
// holds.
#pragma once

#include <cstddef>
#include <cstdio>

#include "config.hpp"
#include "text.hpp"

namespace veld {

// The longest line of a valid chunk, with room to tell it from a longer one.
constexpr std::size_t max_line_len = sizeof command_prefix + 2 * chunk_len + 32;
constexpr std::size_t max_chunks = (max_blob_len + chunk_len - 1) / chunk_len;

// A transcript line: "YYYY-MM-DD HH:MM:SS.mmm > text" (sent), "... < text"
// (received) or "... ~ text" (received, but left over from an earlier
// command: never an answer).
constexpr std::size_t transcript_marker_at = 24;
constexpr std::size_t transcript_prefix_len = transcript_marker_at + 2;
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
    long lower_case_line;  // the first line with lower-case hex digits, or 0
    bool transcript;
    bool awaiting_answer;  // transcript: the last line sent has no OK yet
    char text[max_chunks * max_line_len];
    std::size_t text_len;
    std::size_t line_end[max_chunks];  // line k is text[line_end[k-1], line_end[k])
    std::size_t line_count;
};

// Reads every line of in into f (which it clears first); true only when
// the lines are whole and their blob decodes. Else why holds the first
// fault, "line N: fault" (or the blob's fault, or "cannot read NAME: ...",
// NAME the input's name).
bool read_commands(std::FILE *in, const char *name, framing &f, reason &why);

// The same for lines held in memory (thread-safe).
bool read_command_text(const char *text, std::size_t len, framing &f, reason &why);

// The same for the file at path, or standard input when path is "-"; a
// file that cannot be opened is "cannot open PATH: ...".
bool read_command_file(const char *path, framing &f, reason &why);

// Whether the lines warned of something (lower-case hex digits); what
// then holds "line N: warning: ...".
bool lower_case_warning(const framing &f, reason &what);

// Line k (from 0) as read, and its length.
const char *command_line(const framing &f, std::size_t k, std::size_t &len);

// Whether a response line is a final result code, and whether it is OK.
bool is_final_result(const char *line, std::size_t len);
bool is_ok(const char *line, std::size_t len);

// The prefix "YYYY-MM-DD HH:MM:SS.mmm M " of a transcript line written at
// epoch_ms into buffer (transcript_prefix_len bytes, not terminated).
void transcript_prefix(long long epoch_ms, char marker, char *buffer);

}  // namespace veld
