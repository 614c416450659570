#include "extract.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

int show_dsdiff_info(const char* path) {
    DsdiffInfo info{};
    info.file = std::fopen(path, "rb");
    if (info.file == nullptr) std::exit(26);

    // Only a complete, usable header is shown; nothing is printed before the
    // reader's verdict. Without a rate or a channel the playing time has no
    // divisor, so such a header counts as not DSDIFF.
    if (readDsdHeader(&info) != 0 || !dsdiff_usable(info)) {
        std::fprintf(stderr, "file %s is not DSDIFF format.\n", path);
        std::fflush(stderr);
        std::fclose(info.file);
        return 0;
    }

    const uint64_t seconds = playing_seconds(info.data_size / info.channel_count, info.sample_rate);
    std::printf("sampling frequency:\t%u [Hz]\n", static_cast<unsigned>(info.sample_rate));
    std::printf("data size in bytes:\t%llu [Byte]\n", static_cast<unsigned long long>(info.data_size));
    std::printf("playing time:\t\t%llu:%02u:%02u\n", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    std::printf("channel:\t\t%d [ch]\n", static_cast<int>(info.channel_count));
    for (int c = 0; c < info.channel_count; ++c)
        std::printf("\tchannel %d name is \"%s\"\n", c, info.channel_ids[c]);
    std::fflush(stdout);
    std::fclose(info.file);
    return 0;
}

bool dsdiff_usable(const DsdiffInfo& info) { return info.sample_rate != 0 && info.channel_count != 0; }

uint64_t playing_seconds(uint64_t bytes_per_channel, uint32_t sample_rate) {
    // bytes x 8 / rate, split so that the product cannot wrap: with
    // bytes = q x rate + r the result is 8q + 8r / rate, and 8r < 2^35.
    const uint64_t q = bytes_per_channel / sample_rate;
    const uint64_t r = bytes_per_channel % sample_rate;
    return q * 8 + r * 8 / sample_rate;
}

void channel_id_bytes(const char* arg, char out[4]) {
    std::memset(out, 0, 4);
    for (int i = 0; i < 4 && arg[i] != '\0'; ++i) out[i] = arg[i];
}

int find_channel(const DsdiffInfo& info, const char id[4]) {
    int position = -1;
    for (int c = 0; c < info.channel_count && c < DSDIFF_MAX_CHANNELS; ++c)
        if (std::memcmp(info.channel_ids[c], id, 4) == 0) position = c;
    return position;
}

namespace {

// Frames per read: large reads and writes keep the copy near the speed of
// a plain file copy; 64 Ki frames are at most 640 KiB of source.
constexpr size_t COPY_FRAMES = size_t{1} << 16;

std::array<uint8_t, COPY_FRAMES * DSDIFF_MAX_CHANNELS> frame_buffer;
std::array<uint8_t, COPY_FRAMES * 2> pair_buffer;

bool write_pairs(const PairOutput& out, const uint8_t* frames, size_t frame_count, int channel_count) {
    const uint8_t* left = frames + out.left;
    const uint8_t* right = frames + out.right;
    uint8_t* dst = pair_buffer.data();
    for (size_t i = 0; i < frame_count; ++i) {
        dst[2 * i] = left[i * channel_count];
        dst[2 * i + 1] = right[i * channel_count];
    }
    return std::fwrite(dst, 1, 2 * frame_count, out.file) == 2 * frame_count;
}

}  // namespace

CopyResult copy_channel_pairs(FILE* src, uint64_t data_size, int channel_count,
                              const PairOutput* outputs, int output_count, uint64_t* consumed) {
    const size_t frame_bytes = static_cast<size_t>(channel_count);
    // Only whole frames within the sound chunk: the bytes of a frame cut off
    // by the chunk's end (or whatever follows it) are not sound of every
    // channel.
    const uint64_t frame_total = data_size / frame_bytes;
    uint64_t frames_done = 0;
    *consumed = 0;
    while (frames_done < frame_total) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(COPY_FRAMES, frame_total - frames_done));
        const size_t got = std::fread(frame_buffer.data(), 1, want * frame_bytes, src);
        const size_t whole = got / frame_bytes;
        if (whole > 0) {
            for (int k = 0; k < output_count; ++k)
                if (!write_pairs(outputs[k], frame_buffer.data(), whole, channel_count)) return COPY_WRITE_ERROR;
        }
        frames_done += whole;
        *consumed = frames_done * frame_bytes;
        if (whole < want) return COPY_READ_ERROR;
    }
    return COPY_OK;
}
