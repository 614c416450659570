// The decimator's inner loop in AVX-512 registers; called only when the
// processor has them.
#include "deltasigma_lanes.h"

#if DELTASIGMA_X86_64
__attribute__((target("avx512f"))) void accumulate_avx512(const Accumulation& a, const uint8_t* block,
                                                           float (*acc)[SLOTS]) {
    accumulate_lanes<16>(a, block, acc);
}
#endif
