// Speed of the decimator: one output frame per iteration, for 1, 2, 6 and
// 10 channels at each input rate, on a stream of random one-bit data.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "deltasigma.h"

// The decimator reads the routing that the converter owns.
ChannelSwitch channel_switches[DSD_MAX_CHANNELS];

namespace {

void BM_coeff_deltasigma(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    // The converter's default routing: even channels left, odd right.
    std::memset(channel_switches, 0, sizeof channel_switches);
    for (int c = 0; c < channels; ++c) (c % 2 == 0 ? channel_switches[c].to_left : channel_switches[c].to_right) = 1;
    if (coeff_deltasigma_init(rate, channels) == 0) {
        state.SkipWithError("init failed");
        return;
    }
    // Enough blocks that the input does not sit in the first-level cache.
    const int block = channels * 8 * (rate / 2822400);
    const int blocks = 4096;
    std::vector<uint8_t> stream(static_cast<size_t>(block) * blocks);
    std::mt19937 gen(1);
    for (auto& b : stream) b = static_cast<uint8_t>(gen() >> 24);

    int i = 0;
    for (auto _ : state) {
        const float* y = coeff_deltasigma(stream.data() + static_cast<size_t>(block) * i);
        benchmark::DoNotOptimize(y[0]);
        benchmark::DoNotOptimize(y[1]);
        i = (i + 1) & (blocks - 1);
    }
    // Output frames per second of wall time over 44100: how many times
    // faster than real time.
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / 44100.0, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_coeff_deltasigma)
    ->ArgNames({"rate", "channels"})
    ->ArgsProduct({{2822400, 5644800, 11289600}, {1, 2, 6, 10}});

// Stereo at the lowest rate with each set of vector instructions (0 SSE2,
// 1 AVX2, 2 AVX-512F), as far as the processor has them.
void BM_coeff_deltasigma_level(benchmark::State& state) {
    const int level = static_cast<int>(state.range(0));
    if (coeff_deltasigma_vector_level(level) != level) {
        state.SkipWithError("not available on this processor");
        return;
    }
    std::memset(channel_switches, 0, sizeof channel_switches);
    channel_switches[0].to_left = channel_switches[1].to_right = 1;
    coeff_deltasigma_init(2822400, 2);
    const int blocks = 4096;
    std::vector<uint8_t> stream(16 * blocks);
    std::mt19937 gen(1);
    for (auto& b : stream) b = static_cast<uint8_t>(gen() >> 24);
    int i = 0;
    for (auto _ : state) {
        const float* y = coeff_deltasigma(stream.data() + 16 * i);
        benchmark::DoNotOptimize(y[0]);
        benchmark::DoNotOptimize(y[1]);
        i = (i + 1) & (blocks - 1);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / 44100.0, benchmark::Counter::kIsRate);
    coeff_deltasigma_vector_level(99);
}

BENCHMARK(BM_coeff_deltasigma_level)->ArgName("level")->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
