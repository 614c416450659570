// The decimator's inner loop in AVX2 registers; called only when the
// processor has them.
#include "deltasigma_lanes.h"

#if DELTASIGMA_X86_64
__attribute__((target("avx2"))) void accumulate_avx2(const Accumulation& a, const uint8_t* block,
                                                      float (*acc)[SLOTS]) {
    accumulate_lanes<8>(a, block, acc);
}
__attribute__((target("avx2"))) void run_avx2(const Accumulation& a, float (*due)[SLOTS],
                                               const uint8_t* blocks, int32_t n, float* out) {
    run_lanes<8>(a, due, blocks, n, out);
}
#endif
