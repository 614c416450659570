// Second decimation stage on PCM: a FIR low-pass that halves the rate of a
// stream of left/right pairs (the steep 44.1 kHz output takes the
// decimator's 88.2 kHz output through it).
#pragma once

#include <cstdint>

constexpr int PCM_STAGE_MAX_TAPS = 1024;

// Ready for `count` taps (at most PCM_STAGE_MAX_TAPS; index 0 meets the
// oldest sample) with an empty history: -1, or 0 for a count out of range.
int32_t pcm_stage_init(const float* taps, int32_t count);

// Takes one {left, right} pair; every second call returns the filtered
// pair of the window ending at this input, the others null. The pointer
// holds until the next call.
const float* pcm_stage(const float* lr);

// As coeff_deltasigma_vector_level, for this stage: 0 four lanes, 1 AVX2,
// 2 AVX-512F (on x86-64 only), limited by the processor. The widths sum
// in different orders, so the last bits differ between levels.
int32_t pcm_stage_vector_level(int32_t highest);
