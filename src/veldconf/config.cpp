#include "config.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veld {

namespace {

// The two upper-case hex digits of every byte value, for the bytes that
// are not converted sixteen at a time.
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

#if defined(__SSE2__)
// A digit for each nibble: '0' + n, and 7 more from 10 on to reach 'A'.
__m128i nibble_digits(__m128i nibbles) {
    const __m128i above_nine = _mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9));
    return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')),
                        _mm_and_si128(above_nine, _mm_set1_epi8('A' - '0' - 10)));
}

// The 32 digits of 16 bytes, high nibble first in each pair.
void put_hex16(const unsigned char *bytes, char *text) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
    const __m128i low_nibble = _mm_set1_epi8(0x0F);
    const __m128i high = nibble_digits(_mm_and_si128(_mm_srli_epi16(v, 4), low_nibble));
    const __m128i low = nibble_digits(_mm_and_si128(v, low_nibble));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(text), _mm_unpacklo_epi8(high, low));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(text + 16), _mm_unpackhi_epi8(high, low));
}
#endif

// The digits "%d" prints.
char *put_decimal(char *text, long value) {
    unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value)
                                        : static_cast<unsigned long>(value);
    if (value < 0) *text++ = '-';
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (n > 0) *text++ = digits[--n];
    return text;
}

// Where the lines go: a stream, or a text in memory.
struct sink {
    std::FILE *file;
    char *text;
    std::size_t len;
    std::size_t capacity;
    bool overflow;
};

void put(sink &to, const char *data, std::size_t n) {
    if (to.file != nullptr) {
        std::fwrite(data, 1, n, to.file);
    } else if (to.capacity - to.len < n) {
        to.overflow = true;
    } else {
        std::memcpy(to.text + to.len, data, n);
        to.len += n;
    }
}

// "AT+VELDCONF=<count>,"
void put_prefix(std::size_t count, sink &to) {
    char text[sizeof command_prefix + 24];
    std::memcpy(text, command_prefix, sizeof command_prefix - 1);
    char *end = put_decimal(text + sizeof command_prefix - 1, static_cast<long>(count));
    *end++ = ',';
    put(to, text, static_cast<std::size_t>(end - text));
}

// A line's hex digits, index, last flag and CR LF.
void put_chunk(const unsigned char *chunk, std::size_t count, int index, int last, sink &to) {
    // A line's hex and its ending go out in one write.
    char text[2 * chunk_len + 32];
    std::size_t done = 0;
    for (; count - done > chunk_len; done += chunk_len) {
        put_hex(chunk + done, chunk_len, text);
        put(to, text, 2 * chunk_len);
    }
    char *end = put_hex(chunk + done, count - done, text);
    *end++ = ',';
    end = put_decimal(end, index);
    *end++ = ',';
    end = put_decimal(end, last);
    *end++ = '\r';
    *end++ = '\n';
    put(to, text, static_cast<std::size_t>(end - text));
}

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

// The blob as the pieces it is laid out from: the fields before the URI,
// the URI, the name's length, the name and the block exponents. The texts
// stay where the caller keeps them, so a chunk is copied straight from them.
struct blob_piece {
    const unsigned char *bytes;
    std::size_t len;
};

struct blob_layout {
    unsigned char head[uri_at];
    unsigned char name_len[2];
    unsigned char tail[3];
    blob_piece pieces[5];
};

void lay_out(const client_config &config, blob_layout &layout) {
    unsigned char *at = layout.head;
    *at++ = static_cast<unsigned char>((config.boot & 1 ? boot_flag : 0) |
                                       (config.encrypt & 1 ? encrypt_flag : 0));
    at = put_le(at, static_cast<std::uint32_t>(config.debug), 1);
    at = put_le(at, config.port, 2);
    at = put_le(at, static_cast<std::uint32_t>(config.lifetime), 4);
    put_le(at, config.uri_len, 2);
    put_le(layout.name_len, config.ep_name_len, 2);
    layout.tail[0] = config.block1;
    layout.tail[1] = config.block2;
    layout.tail[2] = config.block2th;
    layout.pieces[0] = {layout.head, sizeof layout.head};
    layout.pieces[1] = {reinterpret_cast<const unsigned char *>(config.uri), config.uri_len};
    layout.pieces[2] = {layout.name_len, sizeof layout.name_len};
    layout.pieces[3] = {reinterpret_cast<const unsigned char *>(config.ep_name),
                        config.ep_name_len};
    layout.pieces[4] = {layout.tail, sizeof layout.tail};
}

// Copies the blob's bytes from offset from on, count of them, to out.
void copy_blob(const blob_layout &layout, std::size_t from, std::size_t count,
               unsigned char *out) {
    for (const blob_piece &piece : layout.pieces) {
        if (count == 0) break;
        if (from >= piece.len) {
            from -= piece.len;
            continue;
        }
        const std::size_t n = std::min(piece.len - from, count);
        std::memcpy(out, piece.bytes + from, n);
        out += n;
        count -= n;
        from = 0;
    }
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
    blob_layout layout;
    lay_out(config, layout);
    copy_blob(layout, 0, len, buffer);
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

char *put_hex(const unsigned char *bytes, std::size_t count, char *text) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= count; i += 16, text += 32) put_hex16(bytes + i, text);
#endif
    for (; i < count; ++i, text += 2) std::memcpy(text, hex.pair[bytes[i]], 2);
    return text;
}

void print_chunk(const unsigned char *chunk, std::size_t count, int index,
                 int last, std::FILE *out) {
    sink to{out, nullptr, 0, 0, false};
    put_chunk(chunk, count, index, last, to);
}

namespace {

bool put_config_commands(unsigned char *buffer, std::size_t capacity,
                         const client_config &config, sink &to) {
    const std::size_t len = config_blob_len(config);
    if (capacity < std::min(len, chunk_len)) return false;
    std::memset(buffer, 0, capacity);
    blob_layout layout;
    lay_out(config, layout);
    // One chunk at a time through the buffer: the largest blob would
    // otherwise cost its 128 KiB in fresh pages, more than the rest of a run.
    std::size_t done = 0;
    int index = 1;
    for (; len - done > chunk_len; done += chunk_len, ++index) {
        copy_blob(layout, done, chunk_len, buffer);
        put_prefix(chunk_len, to);
        put_chunk(buffer, chunk_len, index, 0, to);
    }
    copy_blob(layout, done, len - done, buffer);
    put_prefix(len - done, to);
    put_chunk(buffer, len - done, index, 1, to);
    return true;
}

}  // namespace

bool write_config_commands(unsigned char *buffer, std::size_t capacity,
                           const client_config &config, std::FILE *out) {
    sink to{out, nullptr, 0, 0, false};
    return put_config_commands(buffer, capacity, config, to);
}

std::size_t format_config_commands(const client_config &config, char *text,
                                   std::size_t capacity) {
    unsigned char chunk[chunk_len];
    sink to{nullptr, text, 0, capacity, false};
    return put_config_commands(chunk, sizeof chunk, config, to) && !to.overflow ? to.len : 0;
}

}  // namespace veld
