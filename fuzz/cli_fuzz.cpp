// Fuzzes the whole front end in-process: the input's NUL-separated words
// become the tool's argv, and every AT line of the output is checked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "main.hpp"
#include "check.hpp"
#include "options.hpp"

namespace {

bool all_hex_upper(const std::string &s) {
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

bool all_digits(const std::string &s) {
    if (s.empty() || (s.size() > 1 && s[0] == '0')) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

int hex_value(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// Checks one AT line (without its CR LF) and appends its bytes to blob.
void check_command(const std::string &line, int index, bool last,
                   std::vector<unsigned char> &blob) {
    const std::string prefix = "AT+VELDCONF=";
    check(line.compare(0, prefix.size(), prefix) == 0);
    std::vector<std::string> field;
    std::size_t from = prefix.size();
    for (std::size_t at; (at = line.find(',', from)) != std::string::npos; from = at + 1) {
        field.push_back(line.substr(from, at - from));
    }
    field.push_back(line.substr(from));
    check(field.size() == 4);
    check(all_digits(field[0]) && all_hex_upper(field[1]));
    const std::size_t count = std::strtoul(field[0].c_str(), nullptr, 10);
    check(field[1].size() == 2 * count);
    check(field[2] == std::to_string(index));
    check(field[3] == (last ? "1" : "0"));
    check(last ? count >= 1 && count <= 1024 : count == 1024);
    for (std::size_t i = 0; i < field[1].size(); i += 2) {
        blob.push_back(static_cast<unsigned char>(16 * hex_value(field[1][i]) +
                                                  hex_value(field[1][i + 1])));
    }
}

// The blob's two length fields must account for its size exactly.
void check_blob(const std::vector<unsigned char> &blob) {
    check(blob.size() >= 15);
    const std::size_t n = blob[8] | (blob[9] << 8);
    check(blob.size() >= 15 + n);
    const std::size_t m = blob[10 + n] | (blob[11 + n] << 8);
    check(blob.size() == 15 + n + m);
    check((blob[0] & 0xEE) == 0);
}

const char *const refusals[] = {
    "BOOTMODE exceed.", "ENCRYPTMODE exceed.", "BLOCKSIZE exceed.",
    "URI exceed.",      "NAME exceed.",        "URI missing.",
    "NAME missing.",
};

bool ends_with_refusal(const std::string &out) {
    for (const char *r : refusals) {
        const std::size_t len = std::strlen(r);
        if (out.size() >= len && out.compare(out.size() - len, len, r) == 0) return true;
    }
    return false;
}

std::FILE *null_sink() {
    static std::FILE *sink = std::fopen("/dev/null", "w");
    return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<std::string> words{"veldconf"};
    std::string word;
    for (std::size_t i = 0; i < size && words.size() < 4096; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty()) words.push_back(word);
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    char *text = nullptr;
    std::size_t text_size = 0;
    std::FILE *out = open_memstream(&text, &text_size);
    veld::optind = 0;  // a new scan for each input
    const int status = run_veldconf(static_cast<int>(words.size()), argv.data(),
                                    out, null_sink());
    std::fclose(out);
    const std::string output(text, text_size);
    std::free(text);

    check(status == 0 || status == -1);
    const std::size_t first = output.find("AT+VELDCONF=");
    if (status == -1) {
        check(first == std::string::npos);
        check(ends_with_refusal(output));
        return 0;
    }
    if (first == std::string::npos) return 0;  // -h alone: the usage text
    check(first == 0 || output.compare(first - 2, 2, "\r\n") == 0);

    std::vector<std::string> lines;
    std::size_t from = first;
    for (std::size_t at; (at = output.find("\r\n", from)) != std::string::npos; from = at + 2) {
        lines.push_back(output.substr(from, at - from));
    }
    check(from == output.size());  // nothing after the last line end
    std::vector<unsigned char> blob;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        check_command(lines[i], static_cast<int>(i) + 1, i + 1 == lines.size(), blob);
    }
    check_blob(blob);
    return 0;
}
