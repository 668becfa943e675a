#include "config.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace veld {

namespace {

// The two upper-case hex digits of every byte value, so that a line's hex
// text is built by copying instead of formatting byte by byte.
struct hex_digits {
    char pair[256][2];
};

constexpr hex_digits make_hex_digits() {
    constexpr char digit[] = "0123456789ABCDEF";
    hex_digits table{};
    for (int v = 0; v < 256; ++v) {
        table.pair[v][0] = digit[v >> 4];
        table.pair[v][1] = digit[v & 15];
    }
    return table;
}

constexpr hex_digits hex = make_hex_digits();

// Little-endian, whatever the host's byte order.
unsigned char *put_le(unsigned char *at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) *at++ = (value >> (8 * i)) & 0xFF;
    return at;
}

std::uint32_t get_le(const unsigned char *at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

unsigned char *put_text(unsigned char *at, const char *text,
                        std::uint32_t len) {
    at = put_le(at, len, 2);
    if (len != 0) std::memcpy(at, text, len);
    return at + len;
}

}  // namespace

std::size_t config_blob_len(const client_config &config) {
    return min_blob_len + std::size_t{config.uri_len} + std::size_t{config.ep_name_len};
}

std::size_t encode_config(unsigned char *buffer, std::size_t capacity,
                          const client_config &config) {
    const std::size_t len = config_blob_len(config);
    if (len > capacity) return 0;
    std::memset(buffer, 0, capacity);
    unsigned char *at = buffer;
    *at++ = static_cast<unsigned char>((config.boot & 1 ? boot_flag : 0) |
                                       (config.encrypt & 1 ? encrypt_flag : 0));
    at = put_le(at, static_cast<std::uint32_t>(config.debug), 1);
    at = put_le(at, config.port, 2);
    at = put_le(at, static_cast<std::uint32_t>(config.lifetime), 4);
    at = put_text(at, config.uri, config.uri_len);
    at = put_text(at, config.ep_name, config.ep_name_len);
    *at++ = config.block1;
    *at++ = config.block2;
    *at++ = config.block2th;
    return len;
}

blob_status decode_config(const unsigned char *blob, std::size_t len,
                          client_config &config) {
    if (len < min_blob_len) return blob_status::too_short;
    const std::size_t uri_len = get_le(blob + uri_len_at, 2);
    if (len < min_blob_len + uri_len) return blob_status::lengths_disagree;
    const unsigned char *name = blob + uri_at + uri_len;
    const std::size_t name_len = get_le(name, 2);
    if (len != min_blob_len + uri_len + name_len) {
        return blob_status::lengths_disagree;
    }
    config.boot = (blob[0] & boot_flag) != 0;
    config.encrypt = (blob[0] & encrypt_flag) != 0;
    config.debug = blob[1];
    config.port = static_cast<std::uint16_t>(get_le(blob + 2, 2));
    config.lifetime = static_cast<std::int32_t>(get_le(blob + 4, 4));
    config.uri_len = static_cast<std::uint32_t>(uri_len);
    config.uri = reinterpret_cast<const char *>(blob + uri_at);
    config.ep_name_len = static_cast<std::uint32_t>(name_len);
    config.ep_name = reinterpret_cast<const char *>(name + 2);
    config.block1 = name[2 + name_len];
    config.block2 = name[3 + name_len];
    config.block2th = name[4 + name_len];
    return blob_status::ok;
}

void print_chunk(const unsigned char *chunk, std::size_t count, int index,
                 int last, std::FILE *out) {
    char text[2 * chunk_len];
    for (std::size_t done = 0; done < count;) {
        const std::size_t piece = std::min(count - done, chunk_len);
        for (std::size_t i = 0; i < piece; ++i) {
            std::memcpy(text + 2 * i, hex.pair[chunk[done + i]], 2);
        }
        std::fwrite(text, 1, 2 * piece, out);
        done += piece;
    }
    std::fprintf(out, ",%d,%d\r\n", index, last);
}

bool write_config_commands(unsigned char *buffer, std::size_t capacity,
                           const client_config &config, std::FILE *out) {
    std::size_t remaining = encode_config(buffer, capacity, config);
    if (remaining == 0) return false;
    int k = 0;
    for (; remaining > chunk_len; remaining -= chunk_len, ++k) {
        std::fprintf(out, "%s%d,", command_prefix, static_cast<int>(chunk_len));
        print_chunk(buffer + k * chunk_len, chunk_len, k + 1, 0, out);
    }
    std::fprintf(out, "%s%d,", command_prefix, static_cast<int>(remaining));
    print_chunk(buffer + k * chunk_len, remaining, k + 1, 1, out);
    return true;
}

}  // namespace veld
