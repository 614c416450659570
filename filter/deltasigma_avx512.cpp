// The decimator's inner loop in AVX-512 registers; called only when the
// processor has them.
#include "deltasigma_lanes.h"

#if DELTASIGMA_X86_64
__attribute__((target("avx512f"))) void accumulate_avx512(const Accumulation& a, const uint8_t* block,
                                                           float (*acc)[SLOTS]) {
    accumulate_lanes<16>(a, block, acc);
}
__attribute__((target("avx512f"))) void run_avx512(const Accumulation& a, float (*due)[SLOTS],
                                                    const uint8_t* blocks, int32_t n, float* out) {
    run_lanes<16>(a, due, blocks, n, out);
}
#endif
