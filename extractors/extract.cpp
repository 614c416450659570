#include "extract.h"

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "dst.h"
#include "dstreader.h"
#include "report.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// A DSF source: its sound is read through the DSF reader, which hands out
// the frames a DSDIFF file of the same sound holds.
DsfInfo dsf_source;
bool source_is_dsf = false;

// The DSDIFF view of a DSF file: the sound bytes without padding, and the
// identifiers DSDIFF gives the same loudspeakers.
void take_dsf(DsdiffInfo* info) {
    source_is_dsf = true;
    info->sample_rate = dsf_source.sample_rate;
    info->channel_count = static_cast<uint16_t>(dsf_source.channel_count);
    info->data_size = dsf_source.bytes_per_channel * dsf_source.channel_count;
    for (int c = 0; c < info->channel_count; ++c) std::memcpy(info->channel_ids[c], dsfChannelId(dsf_source, c), 5);
}

}  // namespace

void open_source(const char* path, const SourceReports& reports, DsdiffInfo* info) {
    *info = DsdiffInfo{};
    info->file = std::fopen(path, "rb");
    if (info->file == nullptr) report_exit(reports.open, path);
    // DSF begins "DSD ", DSDIFF "FRM8": the first byte picks the reader, and
    // goes back, as it must for a pipe.
    const int first = std::getc(info->file);
    std::ungetc(first, info->file);
    dsf_source.file = info->file;
    dsf_reporting = 1;
    source_is_dsf = false;
    const bool read = first == 'D' ? readDsfHeader(&dsf_source) == 0 && (take_dsf(info), true) : readDsdHeader(info) == 0;
    // Without a rate or a channel the playing time has no divisor and a
    // frame no size, so such a header counts as not DSDIFF.
    if (!read || !dsdiff_usable(*info)) {
        std::fprintf(stderr, "file %s is not DSDIFF format.\n", path);
        std::fflush(stderr);
        std::exit(reports.not_dsdiff_status);
    }
}

int show_dsdiff_info(const char* path, const SourceReports& reports) {
    // Nothing is printed before the reader's verdict.
    DsdiffInfo info;
    open_source(path, reports, &info);

    // DSF counts samples: its last byte may hold fewer than 8.
    const uint64_t seconds = source_is_dsf ? dsf_source.sample_count / info.sample_rate
                                           : playing_seconds(info.data_size / info.channel_count, info.sample_rate);
    std::printf("sampling frequency:\t%u [Hz]\n", static_cast<unsigned>(info.sample_rate));
    std::printf("data size in bytes:\t%llu [Byte]\n", static_cast<unsigned long long>(info.data_size));
    std::printf("playing time:\t\t%llu:%02u:%02u\n", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    std::printf("channel:\t\t%d [ch]\n", static_cast<int>(info.channel_count));
    for (int c = 0; c < info.channel_count; ++c)
        std::printf("\tchannel %d name is \"%s\"\n", c, info.channel_ids[c]);
    if (info.compression == DSDIFF_DST)
        std::printf("sound:\t\t\tDST-compressed, %u frames of 1/75 s\n", static_cast<unsigned>(info.frame_count));
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

void channel_id_bytes(const char* arg, char out[4], char pad) {
    std::memset(out, pad, 4);
    for (int i = 0; i < 4 && arg[i] != '\0'; ++i) out[i] = arg[i];
}

int find_channel(const DsdiffInfo& info, const char id[4]) {
    int position = -1;
    for (int c = 0; c < info.channel_count && c < DSD_MAX_CHANNELS; ++c)
        if (std::memcmp(info.channel_ids[c], id, 4) == 0) position = c;
    return position;
}

int find_channel_arg(const DsdiffInfo& info, const char* arg) {
    char id[4];
    channel_id_bytes(arg, id, ' ');
    const int at = find_channel(info, id);
    if (at >= 0) return at;
    channel_id_bytes(arg, id);
    return find_channel(info, id);
}

void list_channels(const DsdiffInfo& info) {
    std::fprintf(stderr, "the channels of this file are");
    for (int c = 0; c < info.channel_count && c < DSD_MAX_CHANNELS; ++c)
        std::fprintf(stderr, " \"%s\"", info.channel_ids[c]);
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

namespace {

std::array<uint8_t, COPY_FRAMES * DSD_MAX_CHANNELS> frame_buffer;
std::array<uint8_t, COPY_FRAMES * 2> pair_buffer;

// Byte gather, one output at a time: dst[2i] = frame i's byte `left`,
// dst[2i+1] = its byte `right`. Returns the number of frames done.
size_t gather_pairs_scalar(const uint8_t* frames, size_t count, int channel_count, int left, int right,
                           uint8_t* dst) {
    const uint8_t* l = frames + left;
    const uint8_t* r = frames + right;
    const size_t stride = static_cast<size_t>(channel_count);
    for (size_t i = 0; i < count; ++i) {
        dst[2 * i] = l[i * stride];
        dst[2 * i + 1] = r[i * stride];
    }
    return count;
}

#if defined(__x86_64__)
// With 2, 4 or 8 channels whole frames sit inside each 16-byte lane, so a
// byte shuffle per 32-byte load picks the pairs out: each load gives every
// lane 32 / CC output bytes, CC / 2 loads fill 32 output bytes, and a dword
// permutation puts the two lanes' pieces in frame order. Handles blocks of
// 16 frames and returns how many frames it did.
template <int CC>
__attribute__((target("avx2"))) size_t gather_pairs_avx2(const uint8_t* frames, size_t count, int left, int right,
                                                          uint8_t* dst) {
    constexpr int P = 16 / CC;  // frames per lane
    constexpr int C = 2 * P;    // output bytes per lane and load
    constexpr int G = CC / 2;   // loads per 32 output bytes
    __m256i masks[G];
    for (int j = 0; j < G; ++j) {
        alignas(32) int8_t m[32];
        std::memset(m, 0x80, sizeof m);  // high bit set: byte becomes 0
        for (int lane = 0; lane < 2; ++lane) {
            for (int f = 0; f < P; ++f) {
                m[16 * lane + C * j + 2 * f] = static_cast<int8_t>(f * CC + left);
                m[16 * lane + C * j + 2 * f + 1] = static_cast<int8_t>(f * CC + right);
            }
        }
        masks[j] = _mm256_load_si256(reinterpret_cast<const __m256i*>(m));
    }
    // Output piece u (C bytes) is lane u % 2 of load u / 2.
    alignas(32) int32_t order_words[8];
    for (int d = 0; d < 8; ++d) {
        const int u = d / (C / 4), w = d % (C / 4);
        order_words[d] = (u % 2) * 4 + (C * (u / 2)) / 4 + w;
    }
    const __m256i order = _mm256_load_si256(reinterpret_cast<const __m256i*>(order_words));

    const size_t blocks = count / 16;
    for (size_t b = 0; b < blocks; ++b) {
        const uint8_t* src = frames + b * 16 * CC;
        __m256i acc = _mm256_setzero_si256();
        for (int j = 0; j < G; ++j) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32 * j));
            acc = _mm256_or_si256(acc, _mm256_shuffle_epi8(v, masks[j]));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32 * b), _mm256_permutevar8x32_epi32(acc, order));
    }
    return blocks * 16;
}

bool have_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

}  // namespace

void gather_pairs(const uint8_t* frames, size_t count, int channel_count, int left, int right, uint8_t* dst) {
    size_t done = 0;
#if defined(__x86_64__)
    if (have_avx2()) {
        if (channel_count == 8)
            done = gather_pairs_avx2<8>(frames, count, left, right, dst);
        else if (channel_count == 4)
            done = gather_pairs_avx2<4>(frames, count, left, right, dst);
        else if (channel_count == 2)
            done = gather_pairs_avx2<2>(frames, count, left, right, dst);
    }
#endif
    const size_t offset = done * static_cast<size_t>(channel_count);
    gather_pairs_scalar(frames + offset, count - done, channel_count, left, right, dst + 2 * done);
}

namespace {

bool write_pairs(const PairOutput& out, const uint8_t* frames, size_t frame_count, int channel_count) {
    gather_pairs(frames, frame_count, channel_count, out.left, out.right, pair_buffer.data());
    return std::fwrite(pair_buffer.data(), 1, 2 * frame_count, out.file) == 2 * frame_count;
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
        const size_t got = source_is_dsf ? readDsfSound(&dsf_source, frame_buffer.data(), want * frame_bytes)
                                         : std::fread(frame_buffer.data(), 1, want * frame_bytes, src);
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

int32_t copy_threads = 0;

bool take_threads_option(int* argc, char** argv, bool (*fits)(int argc)) {
    constexpr char OPTION[] = "--threads=";
    constexpr size_t LEN = sizeof OPTION - 1;
    if (*argc < 2 || fits(*argc) || std::strncmp(argv[1], OPTION, LEN) != 0) return true;
    // Digits alone, as sigmelt takes them.
    int32_t n = 0;
    const char* p = argv[1] + LEN;
    for (; *p >= '0' && *p <= '9' && n <= WORKERS_MAX_THREADS; ++p) n = n * 10 + (*p - '0');
    if (p == argv[1] + LEN || *p != '\0' || n < 1 || n > WORKERS_MAX_THREADS) return false;
    copy_threads = n;
    for (int i = 1; i < *argc; ++i) argv[i] = argv[i + 1];  // argv[argc] is the null after the last
    --*argc;
    return true;
}

namespace {

// The pool and the reader of a DST copy: the reader is closed (its frames in
// flight waited for) and the threads ended on every way out of the copy,
// before any report ends the process.
struct DstDecoding {
    Workers* pool = nullptr;
    DstReader reader;
    ~DstDecoding() {
        dst_reader_close(&reader);
        workers_destroy(&pool);
    }
};

}  // namespace

CopyResult copy_dst_pairs(DsdiffInfo& src, const PairOutput* outputs, int output_count, uint64_t* consumed) {
    const size_t frame_bytes = dst_sound_bytes(src);
    const size_t frames = frame_bytes / src.channel_count;
    const int32_t threads = copy_threads > 0 ? copy_threads : workers_default_count();
    DstDecoding dst;
    dst.pool = workers_new(threads);
    dst_reader_init(&dst.reader, &src, dst.pool, threads);
    *consumed = 0;
    for (;;) {
        const uint8_t* sound = nullptr;
        const int r = dst_reader_next(&dst.reader, &sound);
        if (r != 0) return r > 0 ? COPY_OK : COPY_READ_ERROR;
        for (int k = 0; k < output_count; ++k)
            if (!write_pairs(outputs[k], sound, frames, src.channel_count)) return COPY_WRITE_ERROR;
        *consumed += frame_bytes;
    }
}

void fill_pair_wsd_info(WsdInfo& w, FILE* f, uint64_t bytes_per_channel, uint32_t sample_rate,
                        uint32_t play_time) {
    w = WsdInfo{};
    w.file = f;
    w.version = 0x11;
    w.file_size = 2 * bytes_per_channel + WSD_HEADER_SIZE;
    w.text_offset = 128;
    w.data_offset = WSD_HEADER_SIZE;
    w.play_time = play_time;
    w.sample_rate = sample_rate;
    w.channel_count = 2;
    w.channel_assignment = 0x44000000;
}

namespace {

// An output whose copy failed keeps the whole frames that reached the file:
// what could not be written is dropped, a cut frame is cut off, and the
// header is rewritten in place to count what is left. One that does not
// even hold its header (the disk was full from the start) holds nothing
// and is removed, so that it does not block the next try.
void keep_whole_frames(const PairOutput& out, int k, HeaderWriter write_header) {
    if (std::fflush(out.file) != 0) __fpurge(out.file);
    std::clearerr(out.file);
    struct stat st {};
    const uint64_t size = fstat(fileno(out.file), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    const uint64_t header = static_cast<uint64_t>(out.header_bytes);
    if (size < header) {
        std::remove(out.name);
        return;
    }
    const uint64_t bytes_per_channel = (size - header) / 2;
    if (ftruncate(fileno(out.file), static_cast<off_t>(header + 2 * bytes_per_channel)) != 0) {
    }
    write_header(k, bytes_per_channel);
    std::fflush(out.file);
}

[[noreturn]] void copy_failed(const PairOutput* outputs, int output_count, HeaderWriter write_header,
                              const Report& report, uint64_t consumed) {
    for (int k = 0; k < output_count; ++k) keep_whole_frames(outputs[k], k, write_header);
    report_exit(report, static_cast<unsigned long long>(consumed));
}

}  // namespace

void copy_and_close(DsdiffInfo& src, const PairOutput* outputs, int output_count, const CopyReports& reports,
                    HeaderWriter write_header) {
    uint64_t consumed = 0;
    const CopyResult result = src.compression == DSDIFF_DST
                                  ? copy_dst_pairs(src, outputs, output_count, &consumed)
                                  : copy_channel_pairs(src.file, src.data_size, src.channel_count, outputs, output_count, &consumed);
    switch (result) {
    case COPY_OK:
        break;
    case COPY_READ_ERROR:
        copy_failed(outputs, output_count, write_header, reports.read, consumed);
    case COPY_WRITE_ERROR:
        copy_failed(outputs, output_count, write_header, reports.write, consumed);
    }
    // The last buffered bytes go out now: a failure there is a failed write.
    for (int k = 0; k < output_count; ++k)
        if (std::fflush(outputs[k].file) != 0)
            copy_failed(outputs, output_count, write_header, reports.write, consumed);
    bool closed = true;
    for (int k = 0; k < output_count; ++k) closed = std::fclose(outputs[k].file) == 0 && closed;
    std::fclose(src.file);
    if (!closed) report_exit(reports.write);
}
