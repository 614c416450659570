#include "dsf.h"

#include <algorithm>
#include <cstring>

#include "report.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int dsf_reporting = 0;
int dsf_last_report = 0;

namespace {

int fail(const Report& r, uint64_t value) {
    dsf_last_report = r.line;
    if (dsf_reporting) report_error(r, static_cast<unsigned long long>(value));
    return -1;
}

uint64_t le(const uint8_t* p, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// Channels of each channel type, and their loudspeakers in file order.
constexpr uint32_t TYPE_CHANNELS[8] = {0, 1, 2, 3, 4, 4, 5, 6};
constexpr const char* TYPE_IDS[8][DSF_MAX_CHANNELS] = {
    {},
    {"C   "},
    {"SLFT", "SRGT"},
    {"MLFT", "MRGT", "C   "},
    {"MLFT", "MRGT", "LS  ", "RS  "},
    {"MLFT", "MRGT", "C   ", "LFE "},
    {"MLFT", "MRGT", "C   ", "LS  ", "RS  "},
    {"MLFT", "MRGT", "C   ", "LFE ", "LS  ", "RS  "},
};

// Reverses the bits of every byte in place, turning the first sample from
// the least into the most significant bit: three swaps (neighbouring bits,
// pairs, nibbles) on 8 bytes at a time, which the compiler vectorises.
void reverse_bits(uint8_t* p, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, p + i, 8);
        x = (x >> 1 & 0x5555555555555555) | (x & 0x5555555555555555) << 1;
        x = (x >> 2 & 0x3333333333333333) | (x & 0x3333333333333333) << 2;
        x = (x >> 4 & 0x0F0F0F0F0F0F0F0F) | (x & 0x0F0F0F0F0F0F0F0F) << 4;
        std::memcpy(p + i, &x, 8);
    }
    for (; i < n; ++i) {
        uint32_t x = p[i];
        x = (x >> 1 & 0x55) | (x & 0x55) << 1;
        x = (x >> 2 & 0x33) | (x & 0x33) << 2;
        p[i] = static_cast<uint8_t>((x >> 4 & 0x0F) | (x & 0x0F) << 4);
    }
}

// Stereo, the usual case, in one pass: 16 bytes of each channel reversed in
// registers (the same three swaps) and interleaved by unpacking.
void stereo_frames(const uint8_t* left, const uint8_t* right, uint8_t* frames, size_t count, bool reverse) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i m1 = _mm_set1_epi8(0x55), m2 = _mm_set1_epi8(0x33), m4 = _mm_set1_epi8(0x0F);
    const auto reversed = [&](__m128i x) {
        x = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 1), m1), _mm_slli_epi16(_mm_and_si128(x, m1), 1));
        x = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 2), m2), _mm_slli_epi16(_mm_and_si128(x, m2), 2));
        return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 4), m4), _mm_slli_epi16(_mm_and_si128(x, m4), 4));
    };
    for (; i + 16 <= count; i += 16) {
        __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + i));
        __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + i));
        if (reverse) l = reversed(l), r = reversed(r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(frames + 2 * i), _mm_unpacklo_epi8(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(frames + 2 * i + 16), _mm_unpackhi_epi8(l, r));
    }
#endif
    const size_t rest = i;
    for (; i < count; ++i) {
        frames[2 * i] = left[i];
        frames[2 * i + 1] = right[i];
    }
    if (reverse) reverse_bits(frames + 2 * rest, 2 * (count - rest));
}

// frames[i * CH + c] = block c's byte i, for the first `count` bytes of each
// block; a fixed stride, so that the compiler turns it into byte shuffles.
template <size_t CH>
void interleave(const uint8_t* blocks, uint8_t* frames, size_t count) {
    for (size_t i = 0; i < count; ++i)
        for (size_t c = 0; c < CH; ++c) frames[i * CH + c] = blocks[c * DSF_BLOCK_SIZE + i];
}

constexpr void (*INTERLEAVE[DSF_MAX_CHANNELS + 1])(const uint8_t*, uint8_t*, size_t) = {
    nullptr, interleave<1>, interleave<2>, interleave<3>, interleave<4>, interleave<5>, interleave<6>};

// Sound bytes up to and including a channel's last one: the block sets
// before the last, then the last set's earlier channels whole and the last
// channel's sound bytes. What the "data" chunk must hold.
unsigned __int128 sound_extent(uint64_t bytes_per_channel, uint32_t channels) {
    if (bytes_per_channel == 0) return 0;
    const uint64_t sets = (bytes_per_channel - 1) / DSF_BLOCK_SIZE;  // before the last
    return static_cast<unsigned __int128>(sets) * channels * DSF_BLOCK_SIZE +
           static_cast<unsigned __int128>(channels - 1) * DSF_BLOCK_SIZE + (bytes_per_channel - sets * DSF_BLOCK_SIZE);
}

// Reads the next block sets, as many as fill DSF_READ_BYTES, and turns
// them into frames at dst. Returns the bytes of frames made, 0 when nothing
// is left.
size_t next_block_sets(DsfInfo* info, uint8_t* dst) {
    const uint64_t done = info->blocks_read * DSF_BLOCK_SIZE;  // of each channel, the last block's padding included
    if (info->ended || done >= info->bytes_per_channel) return 0;
    const uint64_t left = info->bytes_per_channel - done;
    const size_t channels = info->channel_count, set_bytes = channels * DSF_BLOCK_SIZE;
    const size_t before_last = set_bytes - DSF_BLOCK_SIZE;  // of a set, up to its last channel's block
    const size_t sets = static_cast<size_t>(std::min<uint64_t>(DSF_READ_BYTES / set_bytes, (left - 1) / DSF_BLOCK_SIZE + 1));
    const size_t last = static_cast<size_t>(std::min<uint64_t>(DSF_BLOCK_SIZE, left - (sets - 1) * DSF_BLOCK_SIZE));
    // The last channel's padding is not needed: not read.
    const size_t want = (sets - 1) * set_bytes + before_last + last;
    const size_t got = std::fread(info->blocks, 1, want, info->file);
    info->ended = got < want;
    info->blocks_read += sets;
    const bool reverse = info->bits_per_sample != 8;
    if (reverse && channels != 2) reverse_bits(info->blocks, got);
    size_t frames = 0;
    for (size_t set = 0; set < sets; ++set) {
        const size_t at = set * set_bytes, whole = set + 1 < sets ? DSF_BLOCK_SIZE : last;
        // Whole frames only: every channel's byte present.
        const size_t n = got > at + before_last ? std::min(whole, got - at - before_last) : 0;
        if (channels == 2)
            stereo_frames(info->blocks + at, info->blocks + at + DSF_BLOCK_SIZE, dst + 2 * frames, n, reverse);
        else
            INTERLEAVE[channels](info->blocks + at, dst + frames * channels, n);
        frames += n;
        if (n < whole) break;
    }
    return frames * channels;
}

}  // namespace

int readDsfHeader(DsfInfo* info) {
    dsf_last_report = 0;
    uint8_t h[DSF_HEADER_SIZE];
    if (std::fread(h, 1, 4, info->file) != 4 || std::memcmp(h, "DSD ", 4) != 0) return -1;
    const size_t got = 4 + std::fread(h + 4, 1, DSF_HEADER_SIZE - 4, info->file);
    if (got != DSF_HEADER_SIZE) return fail(DSF_SHORT, got);
    if (le(h + 4, 8) != 28) return fail(DSF_DSD_SIZE, le(h + 4, 8));
    if (std::memcmp(h + 28, "fmt ", 4) != 0) return fail(DSF_FMT_ID, 28);
    if (le(h + 32, 8) != 52) return fail(DSF_FMT_SIZE, le(h + 32, 8));
    if (le(h + 40, 4) != 1) return fail(DSF_VERSION, le(h + 40, 4));
    if (le(h + 44, 4) != 0) return fail(DSF_FORMAT_ID, le(h + 44, 4));
    const uint32_t type = static_cast<uint32_t>(le(h + 48, 4)), channels = static_cast<uint32_t>(le(h + 52, 4));
    if (type < 1 || type > 7) return fail(DSF_CHANNEL_TYPE, type);
    if (channels != TYPE_CHANNELS[type]) return fail(DSF_CHANNEL_COUNT, channels);
    const uint32_t rate = static_cast<uint32_t>(le(h + 56, 4)), bits = static_cast<uint32_t>(le(h + 60, 4));
    if (!dsd_rate_supported(rate)) return fail(DSF_RATE, rate);
    if (bits != 1 && bits != 8) return fail(DSF_BITS, bits);
    if (le(h + 72, 4) != DSF_BLOCK_SIZE) return fail(DSF_BLOCK, le(h + 72, 4));
    if (std::memcmp(h + 80, "data", 4) != 0) return fail(DSF_DATA_ID, 80);
    const uint64_t samples = le(h + 64, 8), data_size = le(h + 84, 8);
    const uint64_t bytes_per_channel = samples / 8 + (samples % 8 != 0);
    const unsigned __int128 extent = sound_extent(bytes_per_channel, channels);
    if (data_size < 12 || data_size - 12 < extent) return fail(DSF_DATA_SIZE, data_size);
    const uint64_t metadata = le(h + 20, 8);
    if (metadata != 0 && metadata < DSF_HEADER_SIZE + extent) return fail(DSF_METADATA, metadata);

    info->file_size = le(h + 12, 8);
    info->metadata_offset = metadata;
    info->channel_type = type;
    info->channel_count = channels;
    info->sample_rate = rate;
    info->bits_per_sample = bits;
    info->sample_count = samples;
    info->data_size = data_size;
    info->bytes_per_channel = bytes_per_channel;
    info->blocks_read = 0;
    info->frames_pos = info->frames_len = 0;
    info->ended = false;
    return 0;
}

size_t readDsfSound(DsfInfo* info, uint8_t* buf, size_t size) {
    size_t done = 0;
    while (done < size) {
        if (info->frames_pos == info->frames_len) {
            // Straight into buf when it has room for a whole read.
            if (size - done >= DSF_READ_BYTES) {
                const size_t n = next_block_sets(info, buf + done);
                if (n == 0) break;
                done += n;
                continue;
            }
            info->frames_pos = 0;
            info->frames_len = next_block_sets(info, info->frames);
            if (info->frames_len == 0) break;
        }
        const size_t n = std::min(size - done, info->frames_len - info->frames_pos);
        std::memcpy(buf + done, info->frames + info->frames_pos, n);
        info->frames_pos += n;
        done += n;
    }
    return done;
}

const char* dsfChannelId(const DsfInfo& info, int c) {
    if (info.channel_type > 7 || c < 0 || static_cast<uint32_t>(c) >= TYPE_CHANNELS[info.channel_type]) return "";
    return TYPE_IDS[info.channel_type][c];
}
