// Lookup-table FIR decimator: one block of interleaved 1-bit data in, one
// left/right pair of filtered values out, at 44100 Hz.
#pragma once

#include <cstdint>

#include "dsdlimits.h"

constexpr int MAX_FILTER_LEN = 8192;

// One row of s_coeff_infos: an input rate with its coefficient set.
struct CoeffInfo {
    int32_t rate;           // Hz; negative ends the table
    int32_t rate_multiple;  // rate / 2822400
    const float* coeffs;    // filter_len - 1 stored taps
    int32_t filter_len;     // taps used: stored count + 1 (a trailing zero)
    int32_t history_bytes;  // filter_len / 8
};

extern const CoeffInfo s_coeff_infos[4];

// The coefficient sets, one per input rate (modules FDA_2822k, FDA_5644k,
// FDA_11288k). Index 0 meets the oldest one-bit sample of the window.
extern const float coeff_FDA_2822k[2047];
extern const float coeff_FDA_5644k[4095];
extern const float coeff_FDA_11289k[8191];

// Routing of source channel i to the outputs: non-zero means mixed in.
struct ChannelSwitch {
    int32_t to_left;
    int32_t to_right;
};

// Owned and filled by the converter; read by coeff_deltasigma_init.
extern ChannelSwitch channel_switches[DSD_MAX_CHANNELS];

// -1 when ready for `rate` with `channel_count` channels, 0 when no
// coefficient set serves the rate.
int32_t coeff_deltasigma_init(int32_t rate, int32_t channel_count);

// The same with the rows of another table (outputsets.h), whose blocks are
// history_bytes / 32 bytes of each channel.
int32_t coeff_deltasigma_init_from(const CoeffInfo* rows, int32_t rate, int32_t channel_count);

// Limits the vector instructions of coeff_deltasigma to at most `highest`
// (0 four lanes: SSE2 on x86-64, Advanced SIMD on aarch64; 1 AVX2 and
// 2 AVX-512F, on x86-64 only) and returns the level now in use, which is
// also limited by what the processor has. Without a call the best one is
// used. Results are the same bits at every level; this exists for tests and
// benchmarks.
int32_t coeff_deltasigma_vector_level(int32_t highest);

// Consumes one block (channel_count x history_bytes / 32 bytes, interleaved)
// and returns {left, right}, valid until the next call.
float* coeff_deltasigma(const uint8_t* block);

// n calls of coeff_deltasigma at once over n consecutive blocks, with the
// same results: {left, right} of call i into out[2 i] and out[2 i + 1].
void coeff_deltasigma_run(const uint8_t* blocks, int32_t n, float* out);

// Blocks that one output depends on: the output of a call comes from the
// DELTASIGMA_WINDOW_BLOCKS blocks before it, whatever came earlier.
constexpr int32_t DELTASIGMA_WINDOW_BLOCKS = 32;

// The decimator's running state on its own, for decimating runs of one
// input on several threads at once (the tables are shared and only read
// after coeff_deltasigma_init). A zeroed state is the state at the start of
// the input; after DELTASIGMA_WINDOW_BLOCKS blocks from a zeroed state it is
// the state of the input at that point, bit for bit, wherever the blocks
// came from.
struct DeltasigmaState {
    alignas(64) float due[2][DELTASIGMA_WINDOW_BLOCKS];
};

// coeff_deltasigma_run on `state` instead of the module's own.
void coeff_deltasigma_run_state(DeltasigmaState* state, const uint8_t* blocks, int32_t n, float* out);
