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

// Consecutive calls at once (coeff_deltasigma_run): `due` holds the partial
// outputs of each side in the order they fall due, and is brought up to
// date.
using RunFn = void (*)(const Accumulation&, float (*due)[SLOTS], const uint8_t* blocks, int32_t n, float* out);

// 4 lanes: SSE2 on x86-64, Advanced SIMD on aarch64, plain floats where the
// processor has no vectors.
void accumulate_portable(const Accumulation& a, const uint8_t* block, float (*acc)[SLOTS]);
void run_portable(const Accumulation& a, float (*due)[SLOTS], const uint8_t* blocks, int32_t n, float* out);
#if DELTASIGMA_X86_64
void accumulate_avx2(const Accumulation& a, const uint8_t* block, float (*acc)[SLOTS]);    // 8 lanes
void accumulate_avx512(const Accumulation& a, const uint8_t* block, float (*acc)[SLOTS]);  // 16 lanes
void run_avx2(const Accumulation& a, float (*due)[SLOTS], const uint8_t* blocks, int32_t n, float* out);
void run_avx512(const Accumulation& a, float (*due)[SLOTS], const uint8_t* blocks, int32_t n, float* out);
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

// A vector of W floats.
template <int W>
struct Vectors {
    typedef float Lanes __attribute__((vector_size(4 * W)));
};

// n calls of coeff_deltasigma with the partial outputs kept in registers:
// each call's output and shift are those of a single call, addition for
// addition, so the bits are the same.
template <int W>
[[gnu::always_inline]] inline void run_lanes(const Accumulation& a, float (*due)[SLOTS], const uint8_t* blocks,
                                             int32_t n, float* out) {
    using Lanes = typename Vectors<W>::Lanes;
    constexpr int V = SLOTS / W;
    const Lanes zero = {};
    Lanes d[2][V];
    std::memcpy(d, due, sizeof d);
    const int32_t stride = a.channels * a.block_bytes;
    for (int32_t m = 0; m < n; ++m) {
        alignas(64) float acc[2][SLOTS];
        accumulate_lanes<W>(a, blocks + m * stride, acc);
        for (int side = 0; side < 2; ++side) {
            float first;
            std::memcpy(&first, &d[side][0], sizeof first);
            out[2 * m + side] = a.add_count[side] != 0 ? first / static_cast<float>(a.add_count[side]) : 0.0f;
            Lanes share[V];
            std::memcpy(share, acc[side], sizeof share);
            // One lane on: lane i of vector j takes lane i + 1 of the pair
            // (j, j + 1); the last lane takes 0 + the oldest taps' share,
            // as a single call does.
            for (int j = 0; j < V; ++j) {
                const Lanes p = d[side][j], q = j + 1 < V ? d[side][j + 1] : zero;
                Lanes next;
                if constexpr (W == 4) next = __builtin_shufflevector(p, q, 1, 2, 3, 4);
                else if constexpr (W == 8) next = __builtin_shufflevector(p, q, 1, 2, 3, 4, 5, 6, 7, 8);
                else next = __builtin_shufflevector(p, q, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
                d[side][j] = next + share[j];
            }
        }
    }
    std::memcpy(due, d, sizeof d);
}
