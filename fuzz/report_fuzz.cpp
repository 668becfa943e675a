// Fuzzes the report read back, the input veldconf-ledger and --resume take
// from station PCs: any line is a report object or not, without a fault,
// and the server URI of any recorded command reads back byte for byte,
// however write_command had to quote it.
#include <cstdint>
#include <string>

#include "check.hpp"
#include "recreate.hpp"
#include "report.hpp"

namespace {

void append(void *context, const char *text, std::size_t len) {
    static_cast<std::string *>(context)->append(text, len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    veld::report_object o;
    if (veld::parse_report_line(text, o)) check(o.text == text);
    std::string uri;
    veld::command_uri(text, uri);
    veld::client_config config{};
    config.uri = text.data();
    config.uri_len = static_cast<std::uint32_t>(text.size());
    config.ep_name = "n";
    config.ep_name_len = 1;
    std::string command;
    veld::write_command(config, append, &command);
    check(veld::command_uri(command, uri) && uri == text);
    return 0;
}
