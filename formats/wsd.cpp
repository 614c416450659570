#include "wsd.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "readwrite.h"

int wsd_size_order = WSD_SIZE_LOW_HALF_FIRST;

namespace {

bool skip_bytes(FILE* f, size_t n) {
    unsigned char buf[8];
    return std::fread(buf, 1, n, f) == n;
}

using Field = HeaderField<WsdInfo>;

constexpr Field zeros(int offset, int width) { return {"zero", offset, width, nullptr, nullptr, WSD_ZERO_WRITE}; }

uint64_t version(const WsdInfo& w) { return w.version; }
uint64_t size_low(const WsdInfo& w) { return w.file_size & 0xFFFFFFFF; }
uint64_t size_high(const WsdInfo& w) { return w.file_size >> 32; }
uint64_t size(const WsdInfo& w) { return w.file_size; }
uint64_t text_offset(const WsdInfo&) { return 128; }
uint64_t data_offset(const WsdInfo&) { return WSD_HEADER_SIZE; }
uint64_t play_time(const WsdInfo& w) { return w.play_time; }
uint64_t rate(const WsdInfo& w) { return w.sample_rate; }
uint64_t channels(const WsdInfo& w) { return w.channel_count; }
uint64_t assignment(const WsdInfo& w) { return w.channel_assignment; }
uint64_t extra_38(const WsdInfo& w) { return w.extra_38; }
uint64_t extra_40(const WsdInfo& w) { return w.extra_40; }
uint64_t extra_48(const WsdInfo& w) { return w.extra_48; }

// The file size as two big-endian 32-bit halves, the low one first...
constexpr Field LOW_HALF_FIRST[] = {
    {"magic", 0, 4, "1bit", nullptr, WSD_MAGIC_WRITE},
    zeros(4, 4),
    {"version", 8, 1, nullptr, version, WSD_VERSION_WRITE},
    zeros(9, 3),
    {"size_low", 12, 4, nullptr, size_low, WSD_SIZE_WRITE},
    {"size_high", 16, 4, nullptr, size_high, WSD_SIZE_HIGH_WRITE},
    {"text_offset", 20, 4, nullptr, text_offset, WSD_TEXT_OFFSET_WRITE},
    {"data_offset", 24, 4, nullptr, data_offset, WSD_DATA_OFFSET_WRITE},
    zeros(28, 4),
    {"play_time", 32, 4, nullptr, play_time, WSD_PLAY_TIME_WRITE},
    {"rate", 36, 4, nullptr, rate, WSD_RATE_WRITE},
    zeros(40, 4),
    {"channels", 44, 1, nullptr, channels, WSD_CHANNELS_WRITE},
    zeros(45, 3),
    {"assignment", 48, 4, nullptr, assignment, WSD_ASSIGNMENT_WRITE},
    zeros(52, 4),
    {"extra_38", 56, 4, nullptr, extra_38, WSD_EXTRA_38_WRITE},
    zeros(60, 4),
    {"extra_40", 64, 8, nullptr, extra_40, WSD_EXTRA_40_WRITE},
    {"extra_48", 72, 8, nullptr, extra_48, WSD_EXTRA_48_WRITE},
    zeros(80, WSD_HEADER_SIZE - 80),  // up to the text area at 0x80, and the empty text area
};

// ... or as one big-endian 64-bit value.
constexpr std::array<Field, std::size(LOW_HALF_FIRST) - 1> one_size_value() {
    std::array<Field, std::size(LOW_HALF_FIRST) - 1> l{};
    for (size_t i = 0, j = 0; i < std::size(LOW_HALF_FIRST); ++i)
        if (i != 5) l[j++] = LOW_HALF_FIRST[i];
    l[4] = {"size", 12, 8, nullptr, size, WSD_SIZE_WRITE};
    return l;
}
constexpr auto BE64 = one_size_value();

static_assert(fields_contiguous<WsdInfo>(LOW_HALF_FIRST, WSD_HEADER_SIZE));
static_assert(fields_contiguous<WsdInfo>(BE64, WSD_HEADER_SIZE));

}  // namespace

std::span<const HeaderField<WsdInfo>> wsd_layout(int size_order) {
    if (size_order == WSD_SIZE_BE64) return BE64;
    return LOW_HALF_FIRST;
}

int readWsdHeader(WsdInfo* info) {
    FILE* f = info->file;
    char magic[4];
    uint32_t low, high, text_offset, rate;
    if (std::fread(magic, 1, 4, f) != 4 || std::memcmp(magic, "1bit", 4) != 0) return -1;
    if (!skip_bytes(f, 4)) return -1;
    info->version = static_cast<uint8_t>(std::getc(f));
    if (!skip_bytes(f, 3)) return -1;
    if (!read32bitBEint(f, &low) || !read32bitBEint(f, &high)) return -1;
    info->file_size = (static_cast<uint64_t>(high) << 32) | low;
    if (!read32bitBEint(f, &text_offset)) return -1;
    if (!read32bitBEint(f, &info->data_offset)) return -1;
    if (!skip_bytes(f, 4) || !skip_bytes(f, 4)) return -1;  // reserved, playing time
    if (!read32bitBEint(f, &rate)) return -1;
    if (!skip_bytes(f, 4)) return -1;
    int channels = std::getc(f);
    if (channels == EOF || channels > DSD_MAX_CHANNELS) return -1;
    info->channel_count = static_cast<uint8_t>(channels);
    if (!skip_bytes(f, 3) || !skip_bytes(f, 4)) return -1;  // reserved, channel assignment
    if (fseeko(f, static_cast<off_t>(info->data_offset), SEEK_SET) != 0) return -1;
    info->sample_rate = rate;
    return 0;
}

int writeWsdHeader(WsdInfo* info) {
    FILE* f = info->file;
    if (fseeko(f, 0, SEEK_SET) != 0) {
        report_error(WSD_SEEK);
        std::perror("");
        std::exit(WSD_SEEK.status);
    }
    if (const Field* failed = write_fields<WsdInfo>(f, wsd_layout(wsd_size_order), *info, true))
        report_exit(failed->report);
    return 0;
}

int readWsdData(WsdInfo* info, uint8_t* buf, int size) {
    int n = size / 8 * 8;
    int i = 0;
    uint8_t frame[DSD_MAX_CHANNELS] = {};
    while (i < n) {
        if (info->channel_count < 2 || info->channel_count > DSD_MAX_CHANNELS ||
            std::fread(frame, info->channel_count, 1, info->file) != 1) {
            // Complete the last group of 8 with a neutral pattern (4 ones, 4 zeros).
            while (i % 8 != 0) buf[i++] = 0x96;
            return i;
        }
        buf[i] = frame[0];
        buf[i + 1] = frame[1];
        i += 2;
    }
    return i;
}
