// DST (Direct Stream Transfer), the lossless coding of 1-bit sound that
// DSDIFF files carry in a "DST " sound chunk: one frame of 1/75 s of every
// channel per "DSTF" sub-chunk, each decoded on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsdiff.h"
#include "report.h"

constexpr int DST_FRAMES_PER_SECOND = 75;
// Frames of the rates up to 11.2896 MHz only: larger ones have no use.
constexpr uint32_t DST_MAX_FRAME_BITS = 150528;
constexpr size_t DST_MAX_SOUND_BYTES = DST_MAX_FRAME_BITS / 8 * DSD_MAX_CHANNELS;
// A coded frame is never larger than its sound stored plain; anything far
// beyond that is not a frame.
constexpr size_t DST_MAX_FRAME_BYTES = 4 * DST_MAX_SOUND_BYTES;

// Bits of one channel in one frame (rate / 75), or 0 for a rate whose frame
// is not a whole number of bytes or is larger than DST_MAX_FRAME_BITS.
uint32_t dst_frame_bits(uint32_t sample_rate);

// What is wrong with a frame; each has its report number and message.
enum DstError {
    DST_OK = 0,
    DST_CUT_HEADER,       // the frame ends before its fixed fields do
    DST_PLAIN_RESERVED,   // a plain frame's 6 reserved bits are not 0
    DST_PLAIN_SHORT,      // a plain frame shorter than its sound
    DST_SEGMENTED,        // segmented frame: not decoded
    DST_BAD_MAP,          // a channel map names an element beyond the next
    DST_BAD_METHOD,       // coding method 3
    DST_SHORT_CODED,      // coded filter or table shorter than its method
    DST_BAD_COEFFICIENT,  // a coded filter coefficient outside -256..255
    DST_BAD_PROBABILITY,  // a probability outside 1..128
    DST_RESERVED_SET,     // the bit before the arithmetic code is not 0
    DST_OVERRUN,          // the arithmetic code runs on past the frame
    DST_CHUNK_OVERFLOW,   // a sub-chunk larger than the "DST " chunk left
    DST_TOO_LARGE,        // a frame larger than DST_MAX_FRAME_BYTES
    DST_MISSING,          // fewer frames than FRTE announces, or a cut file
    DST_NO_MEMORY,        // no room for a decoding thread's tables
    DST_ERROR_COUNT
};

// The report of each, by DstError; printed with the frame's index.
constexpr Report DST_REPORTS[DST_ERROR_COUNT] = {
    {"dst", 0, 0, "frame %llu: no error\n"},
    {"dst", 10, 0, "frame %llu: the frame ends inside its header\n"},
    {"dst", 11, 0, "frame %llu: plain frame with its reserved bits set\n"},
    {"dst", 12, 0, "frame %llu: plain frame shorter than its sound\n"},
    {"dst", 13, 0, "frame %llu: segmented frame, which is not supported\n"},
    {"dst", 14, 0, "frame %llu: a channel map names an element beyond the next one\n"},
    {"dst", 15, 0, "frame %llu: coding method 3\n"},
    {"dst", 16, 0, "frame %llu: a coded filter or table shorter than its coding method\n"},
    {"dst", 17, 0, "frame %llu: a filter coefficient outside -256..255\n"},
    {"dst", 18, 0, "frame %llu: a probability outside 1..128\n"},
    {"dst", 19, 0, "frame %llu: the bit before the arithmetic code is set\n"},
    {"dst", 20, 0, "frame %llu: the arithmetic code runs past the end of the frame\n"},
    {"dst", 21, 0, "frame %llu: a sub-chunk larger than the rest of the DST chunk\n"},
    {"dst", 22, 0, "frame %llu: a frame larger than any DST frame\n"},
    {"dst", 23, 0, "frame %llu: frame missing: the DST chunk or the file ends before FRTE's count\n"},
    {"dst", 24, 0, "frame %llu: no memory to decode it\n"},
};

// Decodes one frame of `size` bytes into bits / 8 bytes of each of
// `channels` (1..10) channels, in the "DSD " chunk layout. Reads only
// frame[0 .. size-1]; `bits` is dst_frame_bits of the rate.
DstError dst_decode_frame(const uint8_t* frame, size_t size, int channels, uint32_t bits, uint8_t* out);

// Zero bytes that dst_decode_padded needs after a frame.
constexpr size_t DST_PAD = 64;

// The tables a frame is decoded with, some 700 KiB; frames decoded at the
// same time need one each. (dst_decode_frame and dstReadFrame keep one per
// thread that calls them.) Null when there is no memory for them.
struct DstTables;
DstTables* dst_tables_new();
void dst_tables_free(DstTables* tables);

// dst_decode_frame on a frame followed by DST_PAD zero bytes, without a
// copy, with the given tables (null: DST_NO_MEMORY).
DstError dst_decode_padded(DstTables* tables, const uint8_t* frame, size_t size, int channels, uint32_t bits,
                           uint8_t* out);

// "\nERROR dst <number> frame <index>: <message>\n" on standard error.
void dst_report(DstError error, uint64_t frame_index);

// The next frame of the sound chunk that readDsdHeader left `info` at,
// decoded into `out` (frame_bytes(info) bytes): 0 after a frame, 1 when all
// frame_count frames have been read, -1 after a corrupt or missing frame,
// reported with its index.
int dstReadFrame(DsdiffInfo* info, uint8_t* out);

// The next frame as dstReadFrame finds it, read but not decoded: 0 with
// its `size` bytes in frame[0 .. size-1] and DST_PAD zero bytes after
// them; 1 when all frames have been read; -1 with *error telling why the
// frame numbered info->frames_read is missing or unusable, not reported.
int dstReadCoded(DsdiffInfo* info, std::vector<uint8_t>& frame, size_t* size, DstError* error);

// Decoded bytes of one frame of all channels.
size_t dst_sound_bytes(const DsdiffInfo& info);
