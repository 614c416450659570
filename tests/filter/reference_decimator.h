// A plain decimator written straight from the loops of the algorithm: the
// 4 MiB table [byte value][byte position][slot offset] with rows of 128
// floats, scalar additions in the order byte position, then channel. The
// optimised decimator must give exactly the same bits.
#pragma once

#include <cstdint>

#include "deltasigma.h"

namespace reference {

// Same contract as coeff_deltasigma_init, reading channel_switches; the
// channel count must be at most MAX_CHANNELS.
int32_t init(int32_t rate, int32_t channel_count);

// Same contract as coeff_deltasigma.
const float* filter(const uint8_t* block);

// Slot that the next call reads out.
int32_t next_slot();

}  // namespace reference
