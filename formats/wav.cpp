#include "wav.h"

#include <array>
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

using ShapeField = HeaderField<WavShape>;

uint64_t frame_bytes(const WavShape& s) { return s.bits / 4; }
uint64_t shape_riff_size(const WavShape& s) {
    return frame_bytes(s) * s.frames + wav_header_size(s) - 8 + s.after_sound;
}
uint64_t shape_data_size(const WavShape& s) { return frame_bytes(s) * s.frames; }
uint64_t shape_frames(const WavShape& s) { return s.frames; }
uint64_t shape_ds64_size(const WavShape&) { return 28; }
uint64_t shape_fmt_size(const WavShape& s) { return s.bits == 16 ? 20 : 40; }
uint64_t shape_tag(const WavShape& s) { return s.bits == 16 ? 1 : 0xFFFE; }
uint64_t shape_channels(const WavShape&) { return 2; }
uint64_t shape_rate(const WavShape& s) { return s.rate; }
uint64_t shape_byte_rate(const WavShape& s) { return frame_bytes(s) * s.rate; }
uint64_t shape_bits(const WavShape& s) { return s.bits; }
uint64_t extension_size(const WavShape&) { return 22; }
uint64_t front_pair(const WavShape&) { return 3; }  // channel mask: front left and right
// The subformat GUID {tag}-0000-0010-8000-00AA00389B71: PCM 1, IEEE float 3.
uint64_t subformat_tag(const WavShape& s) { return s.is_float ? 3 : 1; }

// The fields up to the format's bits per sample, as in LAYOUT but sized
// for the shape; then the plain format's two zero bytes or the
// extension, and the data chunk.
constexpr std::array<ShapeField, 14> SHAPE_FRONT = {{
    {"riff_ds64", 0, 16, "RF64\xFF\xFF\xFF\xFFWAVEds64", nullptr, WAV_RIFF_WRITE},
    {"ds64_size", 16, 4, nullptr, shape_ds64_size, WAV_DS64_SIZE_WRITE},
    {"riff_size", 20, 8, nullptr, shape_riff_size, WAV_RIFF_SIZE_WRITE},
    {"data_size", 28, 8, nullptr, shape_data_size, WAV_DATA_SIZE_WRITE},
    {"frames", 36, 8, nullptr, shape_frames, WAV_FRAMES_WRITE},
    {"table", 44, 4, nullptr, nullptr, WAV_TABLE_WRITE},
    {"fmt", 48, 4, "fmt ", nullptr, WAV_FMT_WRITE},
    {"fmt_size", 52, 4, nullptr, shape_fmt_size, WAV_FMT_SIZE_WRITE},
    {"tag", 56, 2, nullptr, shape_tag, WAV_FORMAT_WRITE},
    {"channels", 58, 2, nullptr, shape_channels, WAV_FORMAT_WRITE},
    {"rate", 60, 4, nullptr, shape_rate, WAV_FORMAT_WRITE},
    {"byte_rate", 64, 4, nullptr, shape_byte_rate, WAV_FORMAT_WRITE},
    {"align", 68, 2, nullptr, frame_bytes, WAV_FORMAT_WRITE},
    {"bits", 70, 2, nullptr, shape_bits, WAV_FORMAT_WRITE},
}};

template <size_t N>
constexpr std::array<ShapeField, 14 + N> after_front(const std::array<ShapeField, N>& rest) {
    std::array<ShapeField, 14 + N> all{};
    for (size_t i = 0; i < 14; ++i) all[i] = SHAPE_FRONT[i];
    for (size_t i = 0; i < N; ++i) all[14 + i] = rest[i];
    return all;
}

constexpr auto PCM_LAYOUT = after_front<2>({{
    {"no_extension", 72, 4, nullptr, nullptr, WAV_FORMAT_WRITE},
    {"data", 76, 8, "data\xFF\xFF\xFF\xFF", nullptr, WAV_DATA_WRITE},
}});
static_assert(fields_contiguous<WavShape>(PCM_LAYOUT, WAV_HEADER_SIZE));

constexpr auto EXTENSIBLE_LAYOUT = after_front<6>({{
    {"extension_size", 72, 2, nullptr, extension_size, WAV_FORMAT_WRITE},
    {"valid_bits", 74, 2, nullptr, shape_bits, WAV_FORMAT_WRITE},
    {"channel_mask", 76, 4, nullptr, front_pair, WAV_FORMAT_WRITE},
    {"subformat", 80, 4, nullptr, subformat_tag, WAV_FORMAT_WRITE},
    {"subformat_guid", 84, 12, "\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", nullptr, WAV_FORMAT_WRITE},
    {"data", 96, 8, "data\xFF\xFF\xFF\xFF", nullptr, WAV_DATA_WRITE},
}});
static_assert(fields_contiguous<WavShape>(EXTENSIBLE_LAYOUT, WAV_EXTENSIBLE_HEADER_SIZE));

void seek_to_start(FILE* f) {
    if (fseeko(f, 0, SEEK_SET) != 0) {
        report_error(WAV_SEEK);
        std::perror("");
        std::exit(WAV_SEEK.status);
    }
}

}  // namespace

std::span<const HeaderField<WavShape>> wav_shape_layout(const WavShape& s) {
    if (s.bits == 16) return PCM_LAYOUT;
    return EXTENSIBLE_LAYOUT;
}

int writeWavHeaderShape(FILE* f, const WavShape& s) {
    seek_to_start(f);
    if (const ShapeField* failed = write_fields<WavShape>(f, wav_shape_layout(s), s, false)) {
        report_error(failed->report);
        return 0;
    }
    return -1;
}

std::span<const HeaderField<WavSizes>> wav_layout() { return LAYOUT; }

int writeWavHeader(FILE* f, uint64_t frames, uint64_t after_sound) {
    seek_to_start(f);
    if (const Field* failed = write_fields<WavSizes>(f, LAYOUT, WavSizes{frames, after_sound}, false)) {
        report_error(failed->report);
        return 0;
    }
    return -1;
}
