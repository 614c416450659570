#include "wav.h"

#include <cstdlib>

namespace {

using Field = HeaderField<WavSizes>;

uint64_t ds64_size(const WavSizes&) { return 28; }
uint64_t riff_size(const WavSizes& s) { return 4 * s.frames + (WAV_HEADER_SIZE - 8) + s.after_sound; }
uint64_t data_size(const WavSizes& s) { return 4 * s.frames; }
uint64_t frame_count(const WavSizes& s) { return s.frames; }
uint64_t no_table(const WavSizes&) { return 0; }
uint64_t format_size(const WavSizes&) { return 20; }

// The RIFF and data sizes stay at all bits set: readers take them from ds64.
// The format: PCM, 2 channels, 44100 Hz, 176400 bytes/s, 4-byte frames, 16
// bits, no extension, two zero bytes to fill the 20-byte chunk.
constexpr Field LAYOUT[] = {
    {"riff_ds64", 0, 16, "RF64\xFF\xFF\xFF\xFFWAVEds64", nullptr, WAV_RIFF_WRITE},
    {"ds64_size", 16, 4, nullptr, ds64_size, WAV_DS64_SIZE_WRITE},
    {"riff_size", 20, 8, nullptr, riff_size, WAV_RIFF_SIZE_WRITE},
    {"data_size", 28, 8, nullptr, data_size, WAV_DATA_SIZE_WRITE},
    {"frames", 36, 8, nullptr, frame_count, WAV_FRAMES_WRITE},
    {"table", 44, 4, nullptr, no_table, WAV_TABLE_WRITE},
    {"fmt", 48, 4, "fmt ", nullptr, WAV_FMT_WRITE},
    {"fmt_size", 52, 4, nullptr, format_size, WAV_FMT_SIZE_WRITE},
    {"format", 56, 20, "\x01\x00\x02\x00\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00\x10\x00\x00\x00\x00\x00", nullptr,
     WAV_FORMAT_WRITE},
    {"data", 76, 8, "data\xFF\xFF\xFF\xFF", nullptr, WAV_DATA_WRITE},
};
static_assert(fields_contiguous<WavSizes>(LAYOUT, WAV_HEADER_SIZE));

}  // namespace

std::span<const HeaderField<WavSizes>> wav_layout() { return LAYOUT; }

int writeWavHeader(FILE* f, uint64_t frames, uint64_t after_sound) {
    if (fseeko(f, 0, SEEK_SET) != 0) {
        report_error(WAV_SEEK);
        std::perror("");
        std::exit(WAV_SEEK.status);
    }
    if (const Field* failed = write_fields<WavSizes>(f, LAYOUT, WavSizes{frames, after_sound}, false)) {
        report_error(failed->report);
        return 0;
    }
    return -1;
}
