// Fuzzes the reader of command files and transcripts, the input that
// veldconf-decode and veldconf-send take from outside: any bytes are either
// refused or give whole lines whose blob decodes, and the decoded record,
// encoded again, gives the same blob bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "check.hpp"
#include "framing.hpp"

namespace {

// Each line kept is one chunk: it starts as a command and ends in its
// index and last flag (the count and index may have leading zeros).
void check_lines(const veld::framing &f) {
    check(f.line_count >= 1 && f.line_count <= veld::max_chunks);
    for (std::size_t k = 0; k < f.line_count; ++k) {
        std::size_t len = 0;
        const char *line = veld::command_line(f, k, len);
        check(veld::starts_with(line, len, veld::command_prefix));
        check(line[len - 1] == (k + 1 == f.line_count ? '1' : '0'));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;  // an empty memory stream cannot be opened
    static unsigned char input[veld::max_chunks * veld::max_line_len * 2];
    if (size > sizeof input) return 0;
    std::memcpy(input, data, size);
    std::FILE *in = fmemopen(input, size, "rb");
    check(in != nullptr);
    static veld::framing f;
    veld::reason why;
    const bool read = veld::read_commands(in, "the input", f, why);
    std::fclose(in);
    if (!read) return 0;

    check(f.finished && !f.awaiting_answer);
    check_lines(f);
    veld::client_config config{};
    check(veld::decode_config(f.blob, f.blob_len, config) == veld::blob_status::ok);
    static unsigned char again[veld::max_blob_len];
    check(veld::encode_config(again, sizeof again, config) == f.blob_len);
    // Flag bits the tool never sets are not part of the record.
    check(again[0] == (f.blob[0] & (veld::boot_flag | veld::encrypt_flag)));
    check(std::memcmp(again + 1, f.blob + 1, f.blob_len - 1) == 0);
    return 0;
}
