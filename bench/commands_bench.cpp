// Building the blob and writing its AT lines to a null sink, by blob size,
// and the lines' hex alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

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
    unsigned char chunk[veld::chunk_len];  // as the tool passes it
    std::FILE *sink = std::fopen("/dev/null", "wb");
    std::setvbuf(sink, nullptr, _IOFBF, 1 << 14);  // as the tool sets stdout
    for (auto _ : state) {
        veld::write_config_commands(chunk, sizeof chunk, config, sink);
    }
    std::fclose(sink);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blob_len));
}

// The lines' hex alone: one chunk's bytes to digits, in input bytes a second.
void hex(benchmark::State &state) {
    unsigned char chunk[veld::chunk_len];
    for (std::size_t i = 0; i < sizeof chunk; ++i) chunk[i] = static_cast<unsigned char>(i * 37);
    char text[2 * sizeof chunk];
    for (auto _ : state) {
        benchmark::DoNotOptimize(veld::put_hex(chunk, sizeof chunk, text));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sizeof chunk));
}

BENCHMARK(hex);
BENCHMARK(write_commands)->Arg(44)->Arg(1024)->Arg(1025)->Arg(veld::max_blob_len);

}  // namespace

BENCHMARK_MAIN();
