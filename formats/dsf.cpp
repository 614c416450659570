#include "dsf.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "report.h"

int dsf_reporting = 0;
int dsf_last_report = 0;

namespace {

constexpr const char* MODULE = "dsf";

// The reader's refusals. Each returns -1 from readDsfHeader; the text takes
// the offending value.
struct Report {
    int number;
    const char* text;
};
enum {
    DSF_SHORT = 1, DSF_DSD_SIZE, DSF_FMT_ID, DSF_FMT_SIZE, DSF_VERSION, DSF_FORMAT_ID, DSF_CHANNEL_TYPE,
    DSF_CHANNEL_COUNT, DSF_RATE, DSF_BITS, DSF_BLOCK, DSF_DATA_ID, DSF_DATA_SIZE, DSF_METADATA,
};
constexpr Report REPORTS[] = {
    {DSF_SHORT, "file ends inside the header, after %llu bytes\n"},
    {DSF_DSD_SIZE, "\"DSD \" chunk size %llu, not 28\n"},
    {DSF_FMT_ID, "no \"fmt \" chunk at offset %llu\n"},
    {DSF_FMT_SIZE, "\"fmt \" chunk size %llu, not 52\n"},
    {DSF_VERSION, "format version %llu, not 1\n"},
    {DSF_FORMAT_ID, "format identifier %llu, not 0 (raw DSD)\n"},
    {DSF_CHANNEL_TYPE, "channel type %llu, not 1 to 7\n"},
    {DSF_CHANNEL_COUNT, "channel count %llu does not match the channel type\n"},
    {DSF_RATE, "sampling rate %lluHz, not 2822400, 5644800 or 11289600\n"},
    {DSF_BITS, "bits per sample %llu, not 1 or 8\n"},
    {DSF_BLOCK, "block size per channel %llu, not 4096\n"},
    {DSF_DATA_ID, "no \"data\" chunk at offset %llu\n"},
    {DSF_DATA_SIZE, "\"data\" chunk size %llu cannot hold the sample count\n"},
    {DSF_METADATA, "metadata offset %llu lies inside the sound\n"},
};
static_assert(std::size(REPORTS) == DSF_METADATA);

int fail(int number, uint64_t value) {
    dsf_last_report = number;
    if (dsf_reporting) report_error(MODULE, number, REPORTS[number - 1].text, static_cast<unsigned long long>(value));
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

// Byte with its bits in the opposite order: turns the first sample from the
// least into the most significant bit.
constexpr std::array<uint8_t, 256> REVERSED = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i)
            if (b & (1 << i)) t[b] |= static_cast<uint8_t>(0x80 >> i);
    return t;
}();

// Sound bytes up to and including a channel's last one: the block sets
// before the last, then the last set's earlier channels whole and the last
// channel's sound bytes. What the "data" chunk must hold.
unsigned __int128 sound_extent(uint64_t bytes_per_channel, uint32_t channels) {
    if (bytes_per_channel == 0) return 0;
    const uint64_t sets = (bytes_per_channel - 1) / DSF_BLOCK_SIZE;  // before the last
    return static_cast<unsigned __int128>(sets) * channels * DSF_BLOCK_SIZE +
           static_cast<unsigned __int128>(channels - 1) * DSF_BLOCK_SIZE + (bytes_per_channel - sets * DSF_BLOCK_SIZE);
}

// Reads the next block set and turns it into frames. False when nothing is
// left.
bool next_block_set(DsfInfo* info) {
    const uint64_t done = info->blocks_read * DSF_BLOCK_SIZE;
    if (info->ended || done >= info->bytes_per_channel) return false;
    const size_t per_channel = static_cast<size_t>(std::min<uint64_t>(DSF_BLOCK_SIZE, info->bytes_per_channel - done));
    const size_t channels = info->channel_count;
    // The last channel's padding is not needed: not read.
    const size_t want = (channels - 1) * DSF_BLOCK_SIZE + per_channel;
    const size_t got = std::fread(info->blocks, 1, want, info->file);
    const size_t before_last = (channels - 1) * DSF_BLOCK_SIZE;
    const size_t frames = got > before_last ? got - before_last : 0;  // whole frames: every channel's byte present
    if (got < want) info->ended = true;
    ++info->blocks_read;
    const uint8_t* table = info->bits_per_sample == 8 ? nullptr : REVERSED.data();
    for (size_t c = 0; c < channels; ++c) {
        const uint8_t* src = info->blocks + c * DSF_BLOCK_SIZE;
        uint8_t* dst = info->frames + c;
        if (table)
            for (size_t i = 0; i < frames; ++i) dst[i * channels] = table[src[i]];
        else
            for (size_t i = 0; i < frames; ++i) dst[i * channels] = src[i];
    }
    info->frames_pos = 0;
    info->frames_len = frames * channels;
    return frames > 0;
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
    if (rate != 2822400 && rate != 5644800 && rate != 11289600) return fail(DSF_RATE, rate);
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
        if (info->frames_pos == info->frames_len && !next_block_set(info)) break;
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
