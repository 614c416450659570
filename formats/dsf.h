// DSF ("DSD Stream File"): three little-endian chunks, "DSD " (28 bytes),
// "fmt " (52 bytes) and "data", then optionally an ID3v2 tag. The sound is
// stored in blocks of 4096 bytes per channel, channel after channel, with
// the first sample of a byte in its least significant bit when there is 1
// bit per sample. The reader hands it out as the other formats store it:
// frames of one byte per channel, most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "dsdlimits.h"
#include "report.h"

constexpr int DSF_MAX_CHANNELS = 6;
constexpr uint32_t DSF_BLOCK_SIZE = 4096;
constexpr int DSF_HEADER_SIZE = 92;  // the three chunk headers up to the first sound byte
// Block sets are read as many at a time as fit in this (at least one).
constexpr size_t DSF_READ_BYTES = 1 << 16;
static_assert(DSF_READ_BYTES >= DSF_MAX_CHANNELS * DSF_BLOCK_SIZE);

struct DsfInfo {
    FILE* file;
    uint64_t file_size;        // as the "DSD " chunk declares it
    uint64_t metadata_offset;  // of the ID3v2 tag, 0 when there is none
    uint32_t channel_type;     // 1 mono ... 7 5.1
    uint32_t channel_count;
    uint32_t sample_rate;
    uint32_t bits_per_sample;  // 1: least significant bit first; 8: most significant first
    uint64_t sample_count;     // per channel
    uint64_t data_size;        // "data" chunk size, its 12-byte header included
    uint64_t bytes_per_channel;  // sound bytes of one channel, padding excluded

    // Position of the sound reader: blocks of each channel read so far, and
    // the block sets of the last read turned into frames, handed out from
    // `frames_pos`.
    uint64_t blocks_read;
    size_t frames_pos, frames_len;
    bool ended;
    uint8_t blocks[DSF_READ_BYTES];
    uint8_t frames[DSF_READ_BYTES];
};

// The header reader's refusals, each with the offending value. They are
// printed in reporting mode only, and the reader returns instead of ending.
constexpr Report DSF_SHORT{"dsf", 1, 0, "file ends inside the header, after %llu bytes\n"};
constexpr Report DSF_DSD_SIZE{"dsf", 2, 0, "\"DSD \" chunk size %llu, not 28\n"};
constexpr Report DSF_FMT_ID{"dsf", 3, 0, "no \"fmt \" chunk at offset %llu\n"};
constexpr Report DSF_FMT_SIZE{"dsf", 4, 0, "\"fmt \" chunk size %llu, not 52\n"};
constexpr Report DSF_VERSION{"dsf", 5, 0, "format version %llu, not 1\n"};
constexpr Report DSF_FORMAT_ID{"dsf", 6, 0, "format identifier %llu, not 0 (raw DSD)\n"};
constexpr Report DSF_CHANNEL_TYPE{"dsf", 7, 0, "channel type %llu, not 1 to 7\n"};
constexpr Report DSF_CHANNEL_COUNT{"dsf", 8, 0, "channel count %llu does not match the channel type\n"};
constexpr Report DSF_RATE{"dsf", 9, 0, "sampling rate %lluHz, not 2822400, 5644800 or 11289600\n"};
constexpr Report DSF_BITS{"dsf", 10, 0, "bits per sample %llu, not 1 or 8\n"};
constexpr Report DSF_BLOCK{"dsf", 11, 0, "block size per channel %llu, not 4096\n"};
constexpr Report DSF_DATA_ID{"dsf", 12, 0, "no \"data\" chunk at offset %llu\n"};
constexpr Report DSF_DATA_SIZE{"dsf", 13, 0, "\"data\" chunk size %llu cannot hold the sample count\n"};
constexpr Report DSF_METADATA{"dsf", 14, 0, "metadata offset %llu lies inside the sound\n"};

// Printing of refusals, set once by a program at start: 0 = silent (the
// default), non-zero = each refusal prints its report. A file that does not
// begin with a "DSD " chunk identifier is not refused but simply not DSF:
// that is left to the caller to say.
extern int dsf_reporting;

// The number of the last refusal of readDsfHeader (its report's line), 0
// after a success or when the file was not DSF at all.
extern int dsf_last_report;

// 0 on success with the stream at the first sound byte and the reader at the
// start of the sound; -1 on failure.
int readDsfHeader(DsfInfo* info);

// Copies up to `size` further bytes of the sound, as frames of one byte per
// channel with the first sample in the most significant bit, to buf; fewer
// only at the end of the sound. Quickest with a `size` of DSF_READ_BYTES. Padding is never handed out, and a file that
// ends inside the sound gives the whole frames present.
size_t readDsfSound(DsfInfo* info, uint8_t* buf, size_t size);

// The four-character identifier of channel c of the file, as DSDIFF names
// the same loudspeaker ("SLFT" and "SRGT" for stereo, else "MLFT", "MRGT",
// "C   ", "LFE ", "LS  ", "RS  ").
const char* dsfChannelId(const DsfInfo& info, int c);
