// RF64 wave header for 16-bit stereo PCM at 44100 Hz: 84 bytes, sizes in
// the ds64 chunk. The same for other rates and sample formats: 84 bytes
// for 16 bits, and 104 bytes with WAVE_FORMAT_EXTENSIBLE for 24-bit PCM and
// 32-bit float, whose format tags go into its subformat.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "layout.h"
#include "report.h"

constexpr int WAV_HEADER_SIZE = 84;

// A failing seek ends the process; a failing field write is reported and
// returned (status 0: the caller decides).
constexpr Report WAV_SEEK{"wav", 189, 191, "fseeko() failed.\n"};  // followed by the system's reason
constexpr Report WAV_RIFF_WRITE{"wav", 195, 0, "write failed.\n"};
constexpr Report WAV_DS64_SIZE_WRITE{"wav", 202, 0, "write failed.\n"};
constexpr Report WAV_RIFF_SIZE_WRITE{"wav", 211, 0, "write failed.\n"};
constexpr Report WAV_DATA_SIZE_WRITE{"wav", 217, 0, "write failed.\n"};
constexpr Report WAV_FRAMES_WRITE{"wav", 223, 0, "write failed.\n"};
constexpr Report WAV_TABLE_WRITE{"wav", 229, 0, "write failed.\n"};
constexpr Report WAV_FMT_WRITE{"wav", 234, 0, "write failed.\n"};
constexpr Report WAV_FMT_SIZE_WRITE{"wav", 239, 0, "write failed.\n"};
constexpr Report WAV_FORMAT_WRITE{"wav", 243, 0, "write failed.\n"};
constexpr Report WAV_DATA_WRITE{"wav", 248, 0, "write failed.\n"};

// What the header's sizes follow: the stereo frames of sound, and the bytes
// of further chunks after it (the tags), which only the RIFF size counts.
struct WavSizes {
    uint64_t frames;
    uint64_t after_sound;
};

// The header for those sizes, field by field.
std::span<const HeaderField<WavSizes>> wav_layout();

// Seeks to the start of `f` and writes the header for `frames` stereo
// frames, followed after the sound by `after_sound` bytes of further chunks
// (the tags), which the RIFF size counts. Returns -1 on success, 0 after
// reporting a write failure; a failing seek ends the process.
int writeWavHeader(FILE* f, uint64_t frames, uint64_t after_sound = 0);

// Any stereo output: frames, rate, bits per sample (16, 24, or 32 with
// is_float), and the bytes of the chunks after the sound.
struct WavShape {
    uint64_t frames;
    uint32_t rate;
    uint16_t bits;
    bool is_float;
    uint64_t after_sound;  // as in WavSizes
};

constexpr int WAV_EXTENSIBLE_HEADER_SIZE = 104;
constexpr int wav_header_size(const WavShape& s) { return s.bits == 16 ? WAV_HEADER_SIZE : WAV_EXTENSIBLE_HEADER_SIZE; }

// The header for a shape, field by field.
std::span<const HeaderField<WavShape>> wav_shape_layout(const WavShape& s);

// As writeWavHeader, for any shape; {frames, 44100, 16, false, n} writes
// the same bytes as writeWavHeader(f, frames, n).
int writeWavHeaderShape(FILE* f, const WavShape& s);
