// The converter's main module: the conversion driver on the main thread and
// the wave writer thread. The small pure steps of the producer live here so
// that they can be checked on their own.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "dsdlimits.h"
#include "report.h"

// The converter's reports; the command line's are in parse_param.h.
constexpr Report SIGMELT_OPEN_SOURCE{"sigmelt", 99, 100, "file %s open error.\n"};
constexpr Report SIGMELT_NOT_DSD{"sigmelt", 133, 134, "file %s is not Delta Sigma format.\n"};
constexpr Report SIGMELT_RATE{"sigmelt", 143, 144, "sampling rate %lldHz is not supported yet\n"};
constexpr Report SIGMELT_LEFT_INDEX{"sigmelt", 147, 148, "left channel index %d is larger than file channels %d\n"};
constexpr Report SIGMELT_RIGHT_INDEX{"sigmelt", 151, 152, "right channel index %d is larger than file channels %d\n"};
constexpr Report SIGMELT_SAME_FILE{"sigmelt", 160, 161, "destination %s is the source file\n"};
constexpr Report SIGMELT_NO_FLAC{"sigmelt", 170, 171, "FLAC output is not built into this program: %s\n"};
constexpr Report SIGMELT_FILE_TYPE{"sigmelt", 226, 227, "unknown file type\n"};
constexpr Report SIGMELT_WRITE_ERROR{"sigmelt", 240, 241, "write error on %s\n"};
constexpr Report SIGMELT_CORRUPT_FRAME{"sigmelt", 250, 251, "%s holds the sound before the corrupt frame of %s\n"};
constexpr Report SIGMELT_RING{"sigmelt", 354, 355, "ringbuffer creation failed.\n"};
constexpr Report SIGMELT_OPEN_DESTINATION{"sigmelt", 366, 367, "fopen(%s) failed.\n"};
constexpr Report SIGMELT_FILTER_INIT{"sigmelt", 371, 372, "deltasigma filter initialize failed.\n"};
constexpr Report SIGMELT_THREAD_CREATE{"sigmelt", 381, 382, "pthread_create() failed.\n"};
constexpr Report SIGMELT_THREAD_JOIN{"sigmelt", 390, 391, "pthread_join() failed.\n"};

// The program's module state back to what a new process starts with, for
// running main more than once in one process (the fuzz targets do).
void sigmelt_reset();

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
    return static_cast<int32_t>(static_cast<int64_t>(channels) * static_cast<int64_t>(rate) / DSD_BASE_RATE) * 8;
}

// The block buffer's size: the block of the most channels at the highest rate.
constexpr int32_t LARGEST_BLOCK_BYTES = block_bytes_for(DSD_MAX_CHANNELS, DSD_MAX_RATE);
static_assert(LARGEST_BLOCK_BYTES == 320, "10 channels x 32 groups");
