// A folder of a test's own, removed with all it holds when the test ends,
// and files written into it and read back.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

struct temp_folder {
    std::string path;

    temp_folder() {
        char name[] = "/tmp/veldconf_test.XXXXXX";
        if (mkdtemp(name) != nullptr) path = name;
    }
    ~temp_folder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    temp_folder(const temp_folder &) = delete;
    temp_folder &operator=(const temp_folder &) = delete;

    std::string file(const char *name) const { return path + "/" + name; }
};

inline std::string read_file(const std::string &path) {
    std::FILE *in = std::fopen(path.c_str(), "rb");
    std::string text;
    for (int c; in != nullptr && (c = std::fgetc(in)) != EOF;) text += static_cast<char>(c);
    if (in != nullptr) std::fclose(in);
    return text;
}

inline void write_file(const std::string &path, const std::string &text) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
}
