#include "framing.hpp"

#include <cerrno>
#include <cstring>

#include "timestamp.hpp"

namespace veld {

namespace {

// One input line without its line end (LF or CR LF). Returns false at the
// end of the input or on a read error; a line longer than the buffer is cut
// and marked.
struct line_reader {
    std::FILE *in;  // or, when null, the text below
    const char *from;
    std::size_t from_len;
    std::size_t at;
    long number;
    char text[max_line_len + transcript_marker_at + 2];
    std::size_t len;
    bool too_long;
    bool stray_cr;  // CR CR LF: a CR LF that went through a text-mode stream

    int get() {
        if (in != nullptr) return std::getc(in);
        return at < from_len ? static_cast<unsigned char>(from[at++]) : EOF;
    }
    bool next() {
        len = 0;
        too_long = false;
        stray_cr = false;
        int c = get();
        if (c == EOF) return false;
        ++number;
        for (; c != EOF && c != '\n'; c = get()) {
            if (len < sizeof text) {
                text[len++] = static_cast<char>(c);
            } else {
                too_long = true;
            }
        }
        if (len > 0 && text[len - 1] == '\r' && !too_long) --len;
        stray_cr = len > 0 && text[len - 1] == '\r' && !too_long;
        return true;
    }
    bool blank() const {
        for (std::size_t i = 0; i < len; ++i) {
            if (text[i] != ' ' && text[i] != '\t') return false;
        }
        return !too_long;
    }
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads decimal digits at text[at...]: false if there are none, or too many.
bool read_decimal(const char *text, std::size_t len, std::size_t &at,
                  unsigned long &value) {
    const std::size_t start = at;
    value = 0;
    for (; at < len && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (at - start >= 9) return false;
        value = value * 10 + static_cast<unsigned long>(text[at] - '0');
    }
    return at > start;
}

// Checks one AT line and appends its bytes; returns the fault, or null.
const char *read_chunk(const char *text, std::size_t len, long number, framing &f) {
    std::size_t at = std::strlen(command_prefix);
    unsigned long count = 0;
    if (!read_decimal(text, len, at, count) || at >= len || text[at] != ',') {
        return "the byte count is not a decimal number followed by a comma";
    }
    const std::size_t hex_start = ++at;
    while (at < len && text[at] != ',') ++at;
    const std::size_t digits = at - hex_start;
    unsigned long index = 0;
    unsigned long last = 0;
    if (at >= len || !read_decimal(text, len, ++at, index) || at >= len ||
        text[at] != ',' || !read_decimal(text, len, ++at, last) || at != len) {
        return "expected AT+VELDCONF=count,hex,index,last";
    }
    if (digits != 2 * count) return "the byte count is not half the number of hex digits";
    if (index != f.next_index) return "the chunk index is out of order (a chunk is missing or repeated)";
    if (last > 1) return "the last-chunk flag is neither 0 nor 1";
    if (last == 0 && count != chunk_len) return "a chunk before the last does not hold 1024 bytes";
    if (count > chunk_len) return "a chunk holds more than 1024 bytes";
    if (f.blob_len + count > max_blob_len) return "more bytes than the largest blob";
    for (std::size_t i = 0; i < digits; i += 2) {
        const int high = hex_value(text[hex_start + i]);
        const int low = hex_value(text[hex_start + i + 1]);
        if (high < 0 || low < 0) return "the hex text holds a character that is not a hex digit";
        f.blob[f.blob_len++] = static_cast<unsigned char>(16 * high + low);
    }
    for (std::size_t i = 0; i < digits && f.lower_case_line == 0; ++i) {
        if (text[hex_start + i] >= 'a') f.lower_case_line = number;
    }
    std::memcpy(f.text + f.text_len, text, len);
    f.text_len += len;
    f.line_end[f.line_count++] = f.text_len;
    ++f.next_index;
    f.finished = last == 1;
    return nullptr;
}

// "YYYY-MM-DD HH:MM:SS.mmm > ", "... < " or "... ~ ": the shape, not the
// date's sense.
bool transcript_line(const char *text, std::size_t len) {
    static const char shape[] = "dddd-dd-dd dd:dd:dd.ddd ";
    if (len < transcript_marker_at + 2) return false;
    for (std::size_t i = 0; i < transcript_marker_at; ++i) {
        if (shape[i] == 'd' ? !all_digits(text + i, 1) : text[i] != shape[i]) return false;
    }
    const char marker = text[transcript_marker_at];
    return (marker == sent_marker || marker == received_marker || marker == leftover_marker) &&
           text[transcript_marker_at + 1] == ' ';
}

// A transcript's received line: only the final result code to the last
// AT+VELDCONF line sent matters (echoes and unsolicited lines do not).
const char *read_answer(const char *text, std::size_t len, framing &f) {
    if (!f.awaiting_answer || !is_final_result(text, len)) return nullptr;
    f.awaiting_answer = false;
    return is_ok(text, len) ? nullptr : "the module refused the line sent before this one";
}

// Reads one line of a plain input, or of a transcript after its prefix.
const char *read_line(const char *text, std::size_t len, long number, framing &f) {
    const bool command = starts_with(text, len, command_prefix);
    if (f.transcript) {
        const char marker = text[transcript_marker_at];
        text += transcript_marker_at + 2;
        len -= transcript_marker_at + 2;
        if (marker == received_marker) return read_answer(text, len, f);
        if (marker == leftover_marker) return nullptr;
        const bool sent_command = starts_with(text, len, command_prefix);
        if (!sent_command) return nullptr;  // the probe, and what follows the run
        if (f.awaiting_answer) return "a line sent before the module acknowledged the one before it";
        if (f.finished) return "text after the last chunk";
        f.started = true;
        f.awaiting_answer = true;
        return read_chunk(text, len, number, f);
    }
    f.started = true;
    if (f.finished) return "text after the last chunk";
    if (!command) return "not an AT+VELDCONF line";
    return read_chunk(text, len, number, f);
}

// "line N: fault", or the fault alone for no line.
bool at_line(reason &why, long line, const char *fault) {
    if (line > 0) return fail(why, "line %ld: %s", line, fault);
    return fail(why, "%s", fault);
}

// A whole framing can still carry a blob whose length fields are wrong.
const char *blob_fault(const framing &f) {
    client_config config{};
    switch (decode_config(f.blob, f.blob_len, config)) {
        case blob_status::too_short: return "the blob is shorter than 15 bytes";
        case blob_status::lengths_disagree: return "the blob's length fields do not account for its size";
        case blob_status::ok: break;
    }
    return nullptr;
}

// Reads every line that line gives into f.
bool read_lines(line_reader &line, const char *name, framing &f, reason &why) {
    f.blob_len = f.text_len = f.line_count = 0;
    f.next_index = 1;
    f.lower_case_line = 0;
    f.started = f.finished = f.transcript = f.awaiting_answer = false;
    bool first = true;
    while (line.next()) {
        if (line.blank()) continue;
        if (first) f.transcript = transcript_line(line.text, line.len);
        first = false;
        // Whatever comes before the first command is not read at all.
        if (!f.transcript && !f.started && !starts_with(line.text, line.len, command_prefix)) {
            continue;
        }
        const char *fault = nullptr;
        if (line.too_long) {
            fault = "longer than any AT+VELDCONF line";
        } else if (f.transcript && !transcript_line(line.text, line.len)) {
            fault = "not a line of a transcript";
        } else if (line.stray_cr) {
            fault = "a stray CR before the line end (CR CR LF: CR LF written through a text-mode stream?)";
        } else {
            fault = read_line(line.text, line.len, line.number, f);
        }
        if (fault != nullptr) return at_line(why, line.number, fault);
    }
    if (line.in != nullptr && std::ferror(line.in)) {
        return fail(why, "cannot read %s: %s", name, std::strerror(errno));
    }
    if (!f.started) return fail(why, "no AT+VELDCONF line in the input");
    if (!f.finished) return at_line(why, line.number, "the input ends before the last chunk (flag 1)");
    if (f.awaiting_answer) {
        return at_line(why, line.number, "the transcript ends before the module acknowledged the last chunk");
    }
    if (const char *fault = blob_fault(f)) return fail(why, "%s", fault);
    return true;
}

}  // namespace

bool read_commands(std::FILE *in, const char *name, framing &f, reason &why) {
    static line_reader line;
    line = line_reader{};
    line.in = in;
    return read_lines(line, name, f, why);
}

bool read_command_text(const char *text, std::size_t len, framing &f, reason &why) {
    line_reader line{};
    line.from = text;
    line.from_len = len;
    return read_lines(line, "the commands", f, why);
}

bool read_command_file(const char *path, framing &f, reason &why) {
    const bool from_stdin = std::strcmp(path, "-") == 0;
    f.lower_case_line = 0;
    std::FILE *in = from_stdin ? stdin : std::fopen(path, "rb");
    if (in == nullptr) return fail(why, "cannot open %s: %s", path, std::strerror(errno));
    const bool ok = read_commands(in, from_stdin ? "standard input" : path, f, why);
    if (!from_stdin) std::fclose(in);
    return ok;
}

bool lower_case_warning(const framing &f, reason &what) {
    if (f.lower_case_line == 0) return false;
    return !at_line(what, f.lower_case_line, "warning: lower-case hex digits (the tool writes upper case)");
}

const char *command_line(const framing &f, std::size_t k, std::size_t &len) {
    const std::size_t start = k == 0 ? 0 : f.line_end[k - 1];
    len = f.line_end[k] - start;
    return f.text + start;
}

bool is_ok(const char *line, std::size_t len) { return equals(line, len, "OK"); }

bool is_final_result(const char *line, std::size_t len) {
    return is_ok(line, len) || equals(line, len, "ERROR") ||
           starts_with(line, len, "+CME ERROR:") || starts_with(line, len, "+CMS ERROR:");
}

void transcript_prefix(long long epoch_ms, char marker, char *buffer) {
    char time[local_time_len + 1];
    format_local(epoch_ms, time, sizeof time);
    std::memcpy(buffer, time, local_time_len);
    buffer[local_time_len] = ' ';
    buffer[transcript_marker_at] = marker;
    buffer[transcript_marker_at + 1] = ' ';
}

}  // namespace veld
