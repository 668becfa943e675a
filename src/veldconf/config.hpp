// The client's configuration record, its config blob and the AT command
// lines that carry the blob to the module.
//
// Blob layout, little-endian, 15 + uri_len + ep_name_len bytes:
//   flags(1: bit 4 boot, bit 0 encrypt) debug(1) port(2) lifetime(4)
//   uri_len(2) uri  ep_name_len(2) ep_name  block1(1) block2(1) block2th(1)
//
// Each chunk of at most 1024 blob bytes becomes one line:
//   AT+VELDCONF=<bytes>,<upper-case hex>,<index from 1>,<1 if last else 0>\r\n
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace veld {

struct client_config {
    std::uint8_t boot;
    std::uint8_t encrypt;
    std::int32_t debug;
    std::uint16_t port;
    std::int32_t lifetime;
    std::uint32_t uri_len;
    const char *uri;  // borrowed from the command line, not terminated here
    std::uint32_t ep_name_len;
    const char *ep_name;  // borrowed from the command line
    std::uint8_t block1;    // block size 2^(4+n) bytes
    std::uint8_t block2;    // block size 2^(4+n) bytes
    std::uint8_t block2th;  // block-wise threshold 2^(8+n) bytes
};

// The 16-bit length fields bound each text, and so the blob.
constexpr std::size_t max_text_len = 0xFFFF;
constexpr std::size_t min_blob_len = 15;
constexpr std::size_t max_blob_len = min_blob_len + 2 * max_text_len;
constexpr std::size_t chunk_len = 1024;
constexpr std::size_t uri_len_at = 8;  // the fields before it: flags, debug, port, lifetime
constexpr std::size_t uri_at = uri_len_at + 2;
constexpr unsigned char boot_flag = 0x10;
constexpr unsigned char encrypt_flag = 0x01;
constexpr char command_prefix[] = "AT+VELDCONF=";

std::size_t config_blob_len(const client_config &config);

// Writes the blob at the start of buffer (clearing all of it first) and
// returns its length; 0, with nothing written, when it does not fit.
std::size_t encode_config(unsigned char *buffer, std::size_t capacity,
                          const client_config &config);

enum class blob_status { ok, too_short, lengths_disagree };

// Reads a blob back into config, whose texts then point into blob. The
// length fields must account for the blob's size exactly. Flag bits other
// than boot_flag and encrypt_flag are not part of config.
blob_status decode_config(const unsigned char *blob, std::size_t len,
                          client_config &config);

// Prints the blob as AT command lines on out (the tool passes standard
// output), building one chunk at a time in buffer after clearing all of
// its capacity: chunk_len bytes hold any blob. Returns false, printing
// nothing, when capacity is less than the first chunk.
bool write_config_commands(unsigned char *buffer, std::size_t capacity,
                           const client_config &config, std::FILE *out);

// The same lines into text, for a program that sends them itself; returns
// their length, or 0 when capacity is too small (max_commands_len holds
// any).
std::size_t format_config_commands(const client_config &config, char *text,
                                   std::size_t capacity);
constexpr std::size_t max_commands_len =
    (max_blob_len + chunk_len - 1) / chunk_len * (sizeof command_prefix + 2 * chunk_len + 24);

// Writes the two upper-case hex digits of each of count bytes to text
// (2 * count characters, not terminated) and returns their end.
char *put_hex(const unsigned char *bytes, std::size_t count, char *text);

// Prints one line's hex digits, index and last flag (the prefix and count
// come before it).
void print_chunk(const unsigned char *chunk, std::size_t count, int index,
                 int last, std::FILE *out);

}  // namespace veld
