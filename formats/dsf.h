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

constexpr int DSF_MAX_CHANNELS = 6;
constexpr uint32_t DSF_BLOCK_SIZE = 4096;
constexpr int DSF_HEADER_SIZE = 92;  // the three chunk headers up to the first sound byte

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

    // Position of the sound reader: blocks read so far, and the current
    // block set turned into frames, handed out from `frames_pos`.
    uint64_t blocks_read;
    size_t frames_pos, frames_len;
    bool ended;
    uint8_t blocks[DSF_MAX_CHANNELS * DSF_BLOCK_SIZE];
    uint8_t frames[DSF_MAX_CHANNELS * DSF_BLOCK_SIZE];
};

// Printing of refusals, set once by a program at start: 0 = silent (the
// default), non-zero = each refusal prints its report. A file that does not
// begin with a "DSD " chunk identifier is not refused but simply not DSF:
// that is left to the caller to say.
extern int dsf_reporting;

// The number of the last refusal of readDsfHeader, 0 after a success or
// when the file was not DSF at all.
extern int dsf_last_report;

// 0 on success with the stream at the first sound byte and the reader at the
// start of the sound; -1 on failure.
int readDsfHeader(DsfInfo* info);

// Copies up to `size` further bytes of the sound, as frames of one byte per
// channel with the first sample in the most significant bit, to buf; fewer
// only at the end of the sound. Padding is never handed out, and a file that
// ends inside the sound gives the whole frames present.
size_t readDsfSound(DsfInfo* info, uint8_t* buf, size_t size);

// The four-character identifier of channel c of the file, as DSDIFF names
// the same loudspeaker ("SLFT" and "SRGT" for stereo, else "MLFT", "MRGT",
// "C   ", "LFE ", "LS  ", "RS  ").
const char* dsfChannelId(const DsfInfo& info, int c);
