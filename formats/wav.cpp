#include "wav.h"

#include <cstdlib>

namespace {

using Field = HeaderField<uint64_t>;

uint64_t ds64_size(const uint64_t&) { return 28; }
uint64_t riff_size(const uint64_t& frames) { return 4 * frames + (WAV_HEADER_SIZE - 8); }
uint64_t data_size(const uint64_t& frames) { return 4 * frames; }
uint64_t frame_count(const uint64_t& frames) { return frames; }
uint64_t no_table(const uint64_t&) { return 0; }
uint64_t format_size(const uint64_t&) { return 20; }

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
static_assert(fields_contiguous<uint64_t>(LAYOUT, WAV_HEADER_SIZE));

}  // namespace

std::span<const HeaderField<uint64_t>> wav_layout() { return LAYOUT; }

int writeWavHeader(FILE* f, uint64_t frames) {
    if (fseeko(f, 0, SEEK_SET) != 0) {
        report_error(WAV_SEEK);
        std::perror("");
        std::exit(WAV_SEEK.status);
    }
    if (const Field* failed = write_fields<uint64_t>(f, LAYOUT, frames, false)) {
        report_error(failed->report);
        return 0;
    }
    return -1;
}
