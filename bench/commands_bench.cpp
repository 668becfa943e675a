// Building the blob and writing its AT lines to a null sink, by blob size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config.hpp"

namespace {

void write_commands(benchmark::State &state) {
    const std::size_t blob_len = static_cast<std::size_t>(state.range(0));
    const std::string uri((blob_len - 15) / 2, 'u');
    const std::string name(blob_len - 15 - uri.size(), 'n');
    veld::client_config config{};
    config.uri = uri.data();
    config.uri_len = static_cast<std::uint32_t>(uri.size());
    config.ep_name = name.data();
    config.ep_name_len = static_cast<std::uint32_t>(name.size());
    std::vector<unsigned char> buffer(veld::max_blob_len);
    std::FILE *sink = std::fopen("/dev/null", "wb");
    std::setvbuf(sink, nullptr, _IOFBF, 1 << 16);  // as the tool sets stdout
    // As the tool does: the buffer of the largest blob, cleared as needed.
    const std::size_t capacity = veld::config_blob_len(config);
    for (auto _ : state) {
        veld::write_config_commands(buffer.data(), capacity, config, sink);
    }
    std::fclose(sink);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blob_len));
}

BENCHMARK(write_commands)->Arg(44)->Arg(1024)->Arg(1025)->Arg(veld::max_blob_len);

}  // namespace

BENCHMARK_MAIN();
