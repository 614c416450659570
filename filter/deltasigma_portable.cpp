// The decimator's inner loop at the width every processor serves.
#include "deltasigma_lanes.h"

void accumulate_portable(const Accumulation& a, const uint8_t* block, float (*acc)[SLOTS]) {
    accumulate_lanes<4>(a, block, acc);
}

void run_portable(const Accumulation& a, float (*due)[SLOTS], const uint8_t* blocks, int32_t n, float* out) {
    run_lanes<4>(a, due, blocks, n, out);
}
