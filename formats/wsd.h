// WSD: a fixed 2048-byte big-endian header starting "1bit", then the sound
// frames (one byte per channel).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "dsdlimits.h"
#include "layout.h"
#include "report.h"

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

// The writer's reports: each ends the process.
constexpr Report WSD_ZERO_WRITE{"wsd", 155, 156, "putc() failed.\n"};
constexpr Report WSD_SEEK{"wsd", 169, 171, "fseeko() failed.\n"};  // followed by the system's reason
constexpr Report WSD_MAGIC_WRITE{"wsd", 178, 179, "fwrite() failed.\n"};
constexpr Report WSD_VERSION_WRITE{"wsd", 188, 189, "version number write failed.\n"};
constexpr Report WSD_SIZE_WRITE{"wsd", 196, 197, "write failed.\n"};       // the whole size, or its low half
constexpr Report WSD_SIZE_HIGH_WRITE{"wsd", 202, 203, "write failed.\n"};  // its high half
constexpr Report WSD_TEXT_OFFSET_WRITE{"wsd", 209, 210, "write failed.\n"};
constexpr Report WSD_DATA_OFFSET_WRITE{"wsd", 216, 217, "write failed.\n"};
constexpr Report WSD_PLAY_TIME_WRITE{"wsd", 227, 228, "write failed.\n"};
constexpr Report WSD_RATE_WRITE{"wsd", 234, 235, "write failed.\n"};
constexpr Report WSD_CHANNELS_WRITE{"wsd", 244, 245, "channel number write failed.\n"};
constexpr Report WSD_ASSIGNMENT_WRITE{"wsd", 252, 253, "write failed.\n"};
constexpr Report WSD_EXTRA_38_WRITE{"wsd", 262, 263, "write failed.\n"};
constexpr Report WSD_EXTRA_40_WRITE{"wsd", 272, 273, "write failed.\n"};
constexpr Report WSD_EXTRA_48_WRITE{"wsd", 277, 278, "write failed.\n"};

// The header as the writer stores it, in the given size order.
std::span<const HeaderField<WsdInfo>> wsd_layout(int size_order);

// 0 on success with the stream at data_offset; -1 on failure (silent).
int readWsdHeader(WsdInfo* info);

// Writes the 2048-byte header at the start of info->file. Returns 0, or
// reports and ends the process.
int writeWsdHeader(WsdInfo* info);

// As readDsdData, taking channels 0 and 1 of each frame.
int readWsdData(WsdInfo* info, uint8_t* buf, int size);
