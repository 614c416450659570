// The decimator's inner loop, private to the filter: deltasigma.cpp keeps
// the state and picks a width, and each deltasigma_<instruction set>.cpp
// compiles the loop below for its own vector width.
#pragma once

#include <cstdint>
#include <cstring>

// The vector code for x86-64 is built on x86-64 only and chosen at run time
// from what the processor has; elsewhere the portable width serves alone.
#if defined(__x86_64__)
#define DELTASIGMA_X86_64 1
#else
#define DELTASIGMA_X86_64 0
#endif

// Outputs that one input block takes part in: the window spans 32 blocks
// at every rate.
constexpr int SLOTS = 32;

// What one call reads besides its block.
struct Accumulation {
    const float* table;               // [byte position][byte value][slot offset]
    int32_t block_bytes;              // per channel
    int32_t channels;                 // interleaved in the block
    const int32_t* side_channels[2];  // mixed into left, right, in channel order
    int32_t add_count[2];
};

using AccumulateFn = void (*)(const Accumulation&, const uint8_t* block, float (*acc)[SLOTS]);

// 4 lanes: SSE2 on x86-64, Advanced SIMD on aarch64, plain floats where the
// processor has no vectors.
void accumulate_portable(const Accumulation& a, const uint8_t* block, float (*acc)[SLOTS]);
#if DELTASIGMA_X86_64
void accumulate_avx2(const Accumulation& a, const uint8_t* block, float (*acc)[SLOTS]);    // 8 lanes
void accumulate_avx512(const Accumulation& a, const uint8_t* block, float (*acc)[SLOTS]);  // 16 lanes
#endif

// Adds the table rows of one block into acc[side][slot offset]. For every
// slot offset the additions run over byte positions, then channels; the
// two sides are independent chains of additions and run interleaved.
// Lanes is a vector of W floats (GCC generic vectors); float additions
// round the same at every width, so every width gives the same bits.
template <int W>
[[gnu::always_inline]] inline void accumulate_lanes(const Accumulation& a, const uint8_t* block,
                                                    float (*acc)[SLOTS]) {
    typedef float Lanes __attribute__((vector_size(4 * W)));
    constexpr int V = SLOTS / W;
    static_assert(SLOTS % W == 0);
    const int32_t k = a.channels, block_bytes = a.block_bytes;
    const int32_t left_count = a.add_count[0], right_count = a.add_count[1];
    const int32_t* left = a.side_channels[0];
    const int32_t* right = a.side_channels[1];
    Lanes l[V] = {}, r[V] = {};
    for (int32_t pos = 0; pos < block_bytes; ++pos) {
        // Byte pos of channel c is block[pos * k + c]; with no channels
        // routed (k <= 0 among them) nothing is read.
        const float* rows = a.table + pos * 256 * SLOTS;
        for (int32_t i = 0; i < left_count; ++i) {
            const float* row = rows + block[pos * k + left[i]] * SLOTS;
            for (int j = 0; j < V; ++j) {
                Lanes x;
                std::memcpy(&x, row + j * W, sizeof x);
                l[j] += x;
            }
        }
        for (int32_t i = 0; i < right_count; ++i) {
            const float* row = rows + block[pos * k + right[i]] * SLOTS;
            for (int j = 0; j < V; ++j) {
                Lanes x;
                std::memcpy(&x, row + j * W, sizeof x);
                r[j] += x;
            }
        }
    }
    std::memcpy(acc[0], l, sizeof l);
    std::memcpy(acc[1], r, sizeof r);
}
