#include "input_file.hpp"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace veld {

namespace {

bool is_directory(std::FILE *in) {
    struct stat facts {};
    return fstat(fileno(in), &facts) == 0 && S_ISDIR(facts.st_mode);
}

}  // namespace

bool input_open(input_file &file, const char *path, bool &missing, reason &why) {
    file = input_file{std::fopen(path, "rb"), 0};
    missing = file.in == nullptr && errno == ENOENT;
    if (file.in == nullptr) return fail(why, "%s", std::strerror(errno));
    if (!is_directory(file.in)) return true;
    input_close(file);
    return fail(why, "%s", std::strerror(EISDIR));
}

input_step input_line(input_file &file, std::string &line, reason &why) {
    line.clear();
    ++file.line;
    int c = 0;
    while ((c = std::getc(file.in)) != EOF && c != '\n') {
        if (line.size() == max_input_line) {
            return fail(why, "line %ld: longer than %zu bytes", file.line, max_input_line), input_step::fault;
        }
        line += static_cast<char>(c);
    }
    if (std::ferror(file.in)) return fail(why, "cannot be read: %s", std::strerror(errno)), input_step::fault;
    if (c == EOF && line.empty()) return input_step::end;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (file.line == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    return input_step::line;
}

void input_close(input_file &file) {
    if (file.in != nullptr) std::fclose(file.in);
    file.in = nullptr;
}

}  // namespace veld
