// The converter's main module: the conversion driver on the main thread and
// the wave writer thread. The small pure steps of the producer live here so
// that they can be checked on their own.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

// Filter value to 16-bit sample: scaled by 32767 in single precision and
// truncated toward zero, saturating at the 16-bit limits (a value beyond
// full scale must not wrap to the other sign); not-a-number gives 0.
constexpr int16_t sample_from_float(float value) {
    const float product = value * 32767.0f;
    if (product != product) return 0;
    if (product >= 32767.0f) return 32767;
    if (product <= -32768.0f) return -32768;
    return static_cast<int16_t>(static_cast<int32_t>(product));
}

// Blocks are read group by group (one byte per channel): a group of which at
// least one byte could be read counts as whole, its missing bytes keeping
// what the block held before, and a group of which nothing could be read
// ends the input and drops the block. So a read that stopped after `got` of
// `block_bytes` bytes still gave a whole block when only the last group was
// short.
constexpr bool block_complete(size_t got, size_t block_bytes, size_t group_bytes) {
    return got >= block_bytes || (group_bytes > 0 && got + group_bytes > block_bytes);
}

// Bytes of one block: channels x 8 groups per 2822400 Hz multiple.
constexpr int32_t block_bytes_for(int32_t channels, uint64_t rate) {
    return static_cast<int32_t>(static_cast<int64_t>(channels) * static_cast<int64_t>(rate) / 2822400) * 8;
}
