// WSD: a fixed 2048-byte big-endian header starting "1bit", then the sound
// frames (one byte per channel).
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int WSD_HEADER_SIZE = 2048;

struct WsdInfo {
    FILE* file;
    uint8_t version;
    uint64_t file_size;  // whole file, header included
    uint32_t text_offset;
    uint32_t data_offset;
    uint32_t play_time;
    uint32_t sample_rate;
    uint8_t channel_count;
    uint32_t channel_assignment;
    uint32_t extra_38;
    uint64_t extra_40;
    uint64_t extra_48;
};

// How the writer stores the 64-bit file size at offset 0x0C, set once by a
// program at start.
enum WsdSizeOrder {
    WSD_SIZE_LOW_HALF_FIRST = 0,  // two big-endian 32-bit halves, low first (default)
    WSD_SIZE_BE64 = 1,            // one big-endian 64-bit value
};
extern int wsd_size_order;

// 0 on success with the stream at data_offset; -1 on failure (silent).
int readWsdHeader(WsdInfo* info);

// Writes the 2048-byte header at the start of info->file. Returns 0, or
// reports and ends the process.
int writeWsdHeader(WsdInfo* info);

// As readDsdData, taking channels 0 and 1 of each frame.
int readWsdData(WsdInfo* info, uint8_t* buf, int size);
