// Throughput of the image checksum, computed once per update over the whole
// image on the UI thread: it must stay far below what an operator notices.
#include "package.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

static void BM_Checksum(benchmark::State &state)
{
    std::vector<uint8_t> image(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    for (auto _ : state)
        benchmark::DoNotOptimize(Checksum(image.data(), static_cast<uint32_t>(image.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Checksum)->Arg(1 << 20)->Arg(32 << 20);

BENCHMARK_MAIN();
