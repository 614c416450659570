// sigmelt: converts a DSDIFF, WSD or DSF file of 1-bit delta-sigma sound
// into a 16-bit stereo 44.1 kHz RF64 wave file, or with the output options
// into 16-bit, 24-bit or float samples at 44.1, 88.2 or 176.4 kHz, in an
// RF64 wave or a FLAC file. The main thread reads blocks, runs
// the decimation filter and puts PCM frames into the ring buffer; a writer
// thread takes contiguous runs out of it and writes them to the file.
#include "sigmelt.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "deltasigma.h"
#include "dsdiff.h"
#include "dsf.h"
#include "dst.h"
#include "dstreader.h"
#include "flacout.h"
#include "outputsets.h"
#include "pcmout.h"
#include "pcmstage.h"
#include "parse_param.h"
#include "report.h"
#include "ringbuffer.h"
#include "tags.h"
#include "util.h"
#include "wav.h"
#include "workers.h"
#include "wsd.h"

// Filled by set_routing before the filter starts.
ChannelSwitch channel_switches[DSD_MAX_CHANNELS];

namespace {

constexpr uint32_t RING_BYTES = 1048576;
constexpr uint32_t FRAME_BYTES = 4;
constexpr int BURST_FRAMES = 3528;            // 0.08 s of output
constexpr uint32_t WRITER_BATCH_BYTES = 1024;  // the writer waits for this much
constexpr uint64_t PLACEHOLDER_FRAMES = 4294967295u;
constexpr uint64_t OUTSAMPLES_PER_SECOND = 8 * 44100;

static_assert(std::atomic<int32_t>::is_always_lock_free, "the signal handler stores into it");

// How a run ends. Four flags, each set once and never cleared:
// - the ring buffer's `producing` drops when the producer has put its last
//   frame (the end of the input);
// - `interrupted` is set by SIGINT, SIGTERM or SIGHUP alike;
// - `write_failed` is set by the writer when the file refused bytes (the
//   file then holds fewer frames than were produced: never status 0);
// - `thread_end_flag` is set by the writer when it has left its loop.
// The writer leaves its loop when the buffer is drained, at a signal or at a
// failed write, and then writes the final header; the producer stops at a
// signal or once the writer has left. So after the join the file holds
// exactly the frames its header counts (frames_in_file), and the status
// follows write_failed first, then a corrupt DST frame (source_corrupt, set
// by the producer, whose input then ends), then the signal, whose rest of
// the buffer is dropped.
std::atomic<int32_t> interrupted{0};
std::atomic<int32_t> interrupt_signal{0};
constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int32_t> thread_end_flag{0};
std::atomic<bool> write_failed{false};
// Set when a DST frame could not be decoded: the sound ends before it, and
// the run must not end with status 0.
bool source_corrupt = false;

enum SourceType : int32_t { SOURCE_NONE, SOURCE_DSDIFF, SOURCE_WSD, SOURCE_DSF };
SourceType file_type = SOURCE_NONE;
DsdiffInfo dsdiff_info;
WsdInfo wsd_info;
DsfInfo dsf_info;
uint64_t heltz = 0;
int32_t channels = 0;
uint64_t byte_len = 0;
// Sound bytes of a DSDIFF source not read yet: the producer stops at the end
// of the sound chunk, whatever chunks follow it.
uint64_t sound_remaining = 0;
uint64_t outsamples = 0;
int64_t last_sec = -1;
FILE* fpOutFile = nullptr;
// Frames in the finished file, as its final header counts them.
std::atomic<uint64_t> frames_in_file{0};
// The source's tags as wave chunks, written after the sound; empty when it
// has none, and the file is then header and sound alone.
std::vector<uint8_t> tag_chunks;
// The same tags as a FLAC file's Vorbis comments.
std::vector<std::string> tag_comments;

// The output side. The default run keeps its own 16-bit path, header and
// frame size; the output options and FLAC go through pcmout.
bool shaped = false;      // output options given, or a FLAC destination
bool flac_out = false;
int32_t frame_bytes = FRAME_BYTES;
int32_t filter_rate = 44100;  // the decimator's output rate

void interrupt(int signal) {
    interrupt_signal.store(signal);
    interrupted.store(-1);
}

// Without SA_RESTART, so that a read waiting on a pipe or a terminal returns
// at the signal instead of holding the run up until more input comes.
void catch_signals() {
    struct sigaction sa {};
    sa.sa_handler = interrupt;
    sigemptyset(&sa.sa_mask);
    for (int signal : STOP_SIGNALS) sigaction(signal, &sa, nullptr);
}

// ---- writer thread -------------------------------------------------------

WavShape shape_of(uint64_t frames, uint64_t after_sound) {
    return {frames, static_cast<uint32_t>(out_rate), static_cast<uint16_t>(out_bits), out_float, after_sound};
}

uint64_t header_size() { return shaped ? wav_header_size(shape_of(0, 0)) : WAV_HEADER_SIZE; }

// The wave header, or at the start of a FLAC file its encoder.
bool write_header(uint64_t frames, uint64_t after_sound) {
    if (flac_out)
        return flacout_begin(fpOutFile, static_cast<uint32_t>(out_rate), static_cast<uint32_t>(out_bits), tag_comments);
    return (shaped ? writeWavHeaderShape(fpOutFile, shape_of(frames, after_sound))
                   : writeWavHeader(fpOutFile, frames, after_sound)) != 0;
}

// Appends the tag chunks after the last whole frame; returns their bytes, or
// 0 after a failure, the file then ending with the sound again.
uint64_t write_tags(uint64_t frames) {
    const off_t end = static_cast<off_t>(header_size() + frames * static_cast<uint64_t>(frame_bytes));
    if (tag_chunks.empty()) return 0;
    if (fseeko(fpOutFile, end, SEEK_SET) == 0 && ftruncate(fileno(fpOutFile), end) == 0 &&
        std::fwrite(tag_chunks.data(), 1, tag_chunks.size(), fpOutFile) == tag_chunks.size())
        return tag_chunks.size();
    write_failed.store(true);
    std::clearerr(fpOutFile);
    if (ftruncate(fileno(fpOutFile), end) != 0) {
    }
    return 0;
}

void file_out_loop() {
#ifdef __linux__
    // The polls below only wait for data to pile up, and the buffer holds
    // seconds of sound: let the kernel wake this thread up to 1 ms late and
    // batch its timers, instead of some 15000 wake-ups (and as many small
    // writes) per second of work with the default 50 us slack.
    prctl(PR_SET_TIMERSLACK, 1000000UL);
#endif
    Ringbuffer* rb = soundbuffer;
    if (!write_header(PLACEHOLDER_FRAMES, 0)) {
        // Nothing can be written after a header that did not go out, and
        // the piece of it that did would claim the placeholder's 16 GiB of
        // sound: leave the file empty instead.
        write_failed.store(true);
        if (flac_out) flacout_end();
        std::clearerr(fpOutFile);
        if (ftruncate(fileno(fpOutFile), 0) != 0) {
        }
        thread_end_flag.store(-1);
        return;
    }
    uint64_t bytes_written = 0;
    while (thread_end_flag.load() == 0 && interrupted.load() == 0) {
        if (ringbuffer_drained(rb)) break;
        const uint32_t level = ringbuffer_level(rb);
        if (level < WRITER_BATCH_BYTES && rb->producing.load(std::memory_order_acquire) != 0) {
            usleep(10);
            continue;
        }
        const uint32_t n = ringbuffer_run(rb);
        // The stream is unbuffered: what fwrite counts has reached the file.
        const uint8_t* run = rb->buffer + rb->read_pos.load(std::memory_order_relaxed);
        const size_t written = !flac_out ? std::fwrite(run, 1, n, fpOutFile) : flacout_write(run, n) ? n : 0;
        ringbuffer_advance(rb, static_cast<uint32_t>(written));
        bytes_written += written;
        if (written != n) {
            if (flac_out || std::ferror(fpOutFile)) {
                write_failed.store(true);
                break;
            }
            usleep(1);
            continue;
        }
        if (ringbuffer_drained(rb)) break;
        usleep(1);
    }
    thread_end_flag.store(-1);
    const uint64_t frames = bytes_written / static_cast<uint64_t>(frame_bytes);
    if (flac_out) {
        // The encoder counts the frames itself and puts them into STREAMINFO.
        if (!flacout_end()) write_failed.store(true);
        frames_in_file.store(frames);
        return;
    }
    if (write_failed.load()) {
        // Cut a partly written frame so that the file ends where the header
        // says.
        std::clearerr(fpOutFile);
        if (ftruncate(fileno(fpOutFile), static_cast<off_t>(header_size() + frames * frame_bytes)) != 0) {
        }
    }
    const uint64_t trailing = write_failed.load() ? 0 : write_tags(frames);
    if (!write_header(frames, trailing)) write_failed.store(true);
    frames_in_file.store(frames);
}

// ---- producer ------------------------------------------------------------

FILE* source_file() {
    switch (file_type) {
        case SOURCE_DSDIFF: return dsdiff_info.file;
        case SOURCE_WSD: return wsd_info.file;
        case SOURCE_DSF: return dsf_info.file;
        default: report_exit(SIGMELT_FILE_TYPE);
    }
}

// Source bytes are read ahead in large pieces and handed out block by
// block: the same bytes in the same order as reading each block (or each
// group) by itself, without a call into the stream for every frame.
std::array<uint8_t, 1 << 16> readahead;
// DST sound is decoded frame by frame, on the workers and ahead of need;
// each frame's sound then serves as the read-ahead.
Workers* pool = nullptr;
DstReader dst_reader;
const uint8_t* ahead = readahead.data();
size_t readahead_pos = 0;
size_t readahead_len = 0;

// The next piece of sound into the read-ahead; its length, 0 at the end.
size_t refill(FILE* f) {
    if (file_type == SOURCE_DSDIFF && dsdiff_info.compression == DSDIFF_DST) {
        // The sound ends at a corrupt frame, however many passes still ask.
        if (source_corrupt) return 0;
        const uint8_t* sound = nullptr;
        const int r = dst_reader_next(&dst_reader, &sound);
        source_corrupt = r < 0;
        if (r != 0) return 0;
        ahead = sound;
        return dst_sound_bytes(dsdiff_info);
    }
    size_t piece = readahead.size();
    if (file_type == SOURCE_DSDIFF) piece = static_cast<size_t>(std::min<uint64_t>(piece, sound_remaining));
    ahead = readahead.data();
    if (file_type == SOURCE_DSF)  // de-blocked, bits in the usual order, the sound alone
        return readDsfSound(&dsf_info, readahead.data(), piece);
    const size_t got = piece > 0 ? std::fread(readahead.data(), 1, piece, f) : 0;
    if (file_type == SOURCE_DSDIFF) sound_remaining -= got;
    return got;
}

// Copies up to `want` further source bytes to dst; fewer only at the end of
// the sound (end of file, read error, the end of the DSDIFF sound chunk, or
// a DST frame that cannot be decoded).
size_t read_source(uint8_t* dst, size_t want) {
    if (readahead_len - readahead_pos >= want) {  // the usual case
        std::memcpy(dst, ahead + readahead_pos, want);
        readahead_pos += want;
        return want;
    }
    FILE* f = source_file();
    size_t got = 0;
    while (got < want) {
        if (readahead_pos == readahead_len) {
            readahead_pos = 0;
            readahead_len = refill(f);
            // A signal cuts a read that waits on a pipe short: no new read then.
            if (readahead_len == 0 || interrupted.load() != 0) break;
        }
        const size_t n = std::min(want - got, readahead_len - readahead_pos);
        std::memcpy(dst + got, ahead + readahead_pos, n);
        readahead_pos += n;
        got += n;
    }
    return got;
}

void show_status() {
    const uint64_t second = outsamples / OUTSAMPLES_PER_SECOND;
    if (static_cast<int64_t>(second) == last_sec) return;
    last_sec = static_cast<int64_t>(second);
    if (ringbuffer_drained(soundbuffer)) {
        std::printf("%s", UTIL_CLEAR_LINE);
        std::fflush(stdout);
    } else {
        const uint32_t percent = ringbuffer_level(soundbuffer) * 100 / soundbuffer->len;
        util_display_current_time(static_cast<int32_t>(second), static_cast<int32_t>(percent));
    }
}

// The input is cut into runs of blocks, decimated on the workers, each
// from a zeroed state: a run starts with the DELTASIGMA_WINDOW_BLOCKS
// blocks before it, replayed and their outputs dropped, so that every
// output comes from the same additions in the same order as in one pass
// over the whole input. The runs go out to the ring buffer in input order,
// on this thread, through the sample path (which keeps state of its own:
// the steep filter's half-rate stage, the dither's generator, the peak).
struct DecimationRun {
    Job job;
    std::vector<uint8_t> blocks;  // the replayed blocks, then its own
    int32_t replayed = 0;
    int32_t count = 0;          // its own blocks
    std::vector<float> values;  // {left, right} per block, replayed ones first
    int32_t emitted = 0;        // own outputs gone to the ring buffer
};

// Input bytes per run at most, and of all runs in flight together: large
// runs make the replay cheap (32 blocks of thousands), the total bounds the
// memory at every thread count.
constexpr size_t RUN_BYTES = 512 * 1024;
constexpr size_t RUNS_IN_FLIGHT_BYTES = 8 * 1024 * 1024;
constexpr int32_t MIN_RUN_BLOCKS = 4 * DELTASIGMA_WINDOW_BLOCKS;

std::vector<DecimationRun> runs;  // run i in runs[i % size]
uint64_t runs_queued = 0;         // read and handed to the workers
uint64_t runs_emitted = 0;        // gone to the ring buffer whole
int32_t run_blocks = 0;           // own blocks of a run
bool input_ended = false;

void decimate_run(void* arg) {
    auto* run = static_cast<DecimationRun*>(arg);
    DeltasigmaState state{};
    coeff_deltasigma_run_state(&state, run->blocks.data(), run->replayed + run->count, run->values.data());
}

// Runs in flight: enough that each worker has the next one at hand while
// this thread sends out the oldest.
void prepare_runs(int32_t block_bytes) {
    const size_t slots = pool == nullptr ? 1 : pool->threads.size() + 3;
    const size_t bytes = std::min(RUN_BYTES, RUNS_IN_FLIGHT_BYTES / slots);
    run_blocks = std::max(MIN_RUN_BLOCKS, static_cast<int32_t>(bytes / static_cast<size_t>(block_bytes)));
    // No larger than the sound the header declares, so that a short file
    // does not fill megabytes of buffers; a file holding more than that (a
    // WSD file is read to its end) only takes more runs.
    const uint64_t declared = byte_len / static_cast<uint64_t>(block_bytes) + 1;
    run_blocks = static_cast<int32_t>(std::min<uint64_t>(run_blocks, std::max<uint64_t>(MIN_RUN_BLOCKS, declared)));
    runs = std::vector<DecimationRun>(slots);
    const size_t blocks = static_cast<size_t>(DELTASIGMA_WINDOW_BLOCKS + run_blocks);
    for (DecimationRun& run : runs) {
        run.job = {decimate_run, &run, true};
        run.blocks.assign(blocks * static_cast<size_t>(block_bytes), 0);
        run.values.assign(2 * blocks, 0.0f);
    }
}

// Reads up to `want` blocks to `dst`: the number of blocks, 0 at the end of
// the input. Blocks are read group by group (block_complete): a short last
// group still makes a block, and what its missing bytes hold does not
// matter, as a block takes no part in its own output and no output follows
// the last block.
int32_t read_blocks(uint8_t* dst, int32_t block_bytes, int32_t want) {
    const size_t size = static_cast<size_t>(block_bytes);
    const size_t got = read_source(dst, size * static_cast<size_t>(want));
    const size_t rest = got % size;
    return static_cast<int32_t>(got / size + (rest != 0 && block_complete(rest, size, static_cast<size_t>(channels))));
}

// Reads runs and hands them to the workers while a slot is free.
void queue_runs(int32_t block_bytes) {
    const size_t size = static_cast<size_t>(block_bytes);
    while (!input_ended && runs_queued - runs_emitted < runs.size()) {
        DecimationRun& run = runs[runs_queued % runs.size()];
        int32_t replay = 0;
        if (runs_queued > 0) {
            // The end of the run before, which its worker only reads.
            const DecimationRun& before = runs[(runs_queued - 1) % runs.size()];
            const int32_t total = before.replayed + before.count;
            replay = std::min(DELTASIGMA_WINDOW_BLOCKS, total);
            std::memcpy(run.blocks.data(), before.blocks.data() + static_cast<size_t>(total - replay) * size,
                        static_cast<size_t>(replay) * size);
        }
        const int32_t n = read_blocks(run.blocks.data() + static_cast<size_t>(replay) * size, block_bytes, run_blocks);
        // Fewer blocks than asked only at the end of the input.
        input_ended = n < run_blocks;
        if (n == 0) return;
        run.replayed = replay;
        run.count = n;
        run.emitted = 0;
        workers_submit(pool, &run.job);
        runs_queued++;
    }
}

// Frames of `n` {left, right} values into `out`; their bytes.
uint32_t to_frames(const float* values, int32_t n, uint8_t* out) {
    uint32_t bytes = 0;
    for (int32_t k = 0; k < n; ++k) {
        const float* lr = values + 2 * k;
        if (!shaped) {
            const int16_t left = sample_from_float(lr[0]);
            const int16_t right = sample_from_float(lr[1]);
            // Little-endian samples, left then right.
            const uint8_t frame[FRAME_BYTES] = {
                static_cast<uint8_t>(left & 0xFF), static_cast<uint8_t>((left >> 8) & 0xFF),
                static_cast<uint8_t>(right & 0xFF), static_cast<uint8_t>((right >> 8) & 0xFF)};
            std::memcpy(out + bytes, frame, FRAME_BYTES);
            bytes += FRAME_BYTES;
            continue;
        }
        if (out_steep && (lr = pcm_stage(lr)) == nullptr) continue;
        pcmout_frame(lr, out + bytes);
        bytes += static_cast<uint32_t>(frame_bytes);
    }
    return bytes;
}

// One pass: up to BURST_FRAMES outputs of the oldest runs into the ring
// buffer, a batch at a time, or a short sleep while the buffer is full or
// the input has ended. Between passes the loop checks for the end of the
// run and updates the status line.
constexpr int32_t BATCH_BLOCKS = 64;

void produce_pass(int32_t block_bytes) {
    uint8_t frames[8 * BATCH_BLOCKS];
    for (int32_t i = 0; i < BURST_FRAMES;) {
        queue_runs(block_bytes);
        if (runs_emitted == runs_queued) {
            ringbuffer_finish(soundbuffer);
            usleep(10);
            return;
        }
        DecimationRun& run = runs[runs_emitted % runs.size()];
        workers_wait(pool, &run.job);
        if (ringbuffer_space(soundbuffer) < static_cast<int32_t>(sizeof frames) + 16) {
            usleep(10);
            return;
        }
        const int32_t n = std::min(BATCH_BLOCKS, run.count - run.emitted);
        const float* values = run.values.data() + 2 * static_cast<size_t>(run.replayed + run.emitted);
        ringbuffer_put(soundbuffer, frames, to_frames(values, n, frames));
        run.emitted += n;
        outsamples += static_cast<uint64_t>(n) * (OUTSAMPLES_PER_SECOND / static_cast<uint64_t>(filter_rate));
        i += n;
        if (run.emitted == run.count) runs_emitted++;
    }
    // No sleep after a full burst: the producer waits for nothing, and the
    // writer runs on its own core. A pause here would only hand the core
    // away, on a busy machine for a whole time slice.
}

// The workers' part is over: the jobs not started are dropped, those
// running finish, and the threads end; no result is wanted any more.
void stop_workers() {
    workers_destroy(&pool);
    dst_reader.pool = nullptr;
    dst_reader_close(&dst_reader);
}

// ---- start-up ------------------------------------------------------------

// The tags of a DSF or DSDIFF source, wherever they are in the file; the
// stream then goes back to the sound. Not from a pipe, which cannot go back.
void read_tags(FILE* src) {
    const off_t sound = ftello(src);
    if (sound < 0 || (file_type != SOURCE_DSDIFF && file_type != SOURCE_DSF)) return;
    Tags tags;
    if (file_type == SOURCE_DSF && dsf_info.metadata_offset != 0) readId3Tag(src, dsf_info.metadata_offset, &tags);
    if (file_type == SOURCE_DSDIFF) readDsdiffTags(src, &tags);
    // A file that cannot go back to its sound cannot be converted either.
    if (fseeko(src, sound, SEEK_SET) != 0) report_exit(SIGMELT_NOT_DSD, srcFileName);
    tag_chunks = waveTagChunks(tags);
    tag_comments.clear();
    for (const auto& [name, value] : {std::pair("TITLE=", &tags.title), std::pair("ARTIST=", &tags.artist),
                                      std::pair("ALBUM=", &tags.album), std::pair("DATE=", &tags.year)})
        if (!value->empty()) tag_comments.push_back(name + *value);
}

void open_source() {
    FILE* src = std::fopen(srcFileName, "rb");
    if (src == nullptr) report_exit(SIGMELT_OPEN_SOURCE, srcFileName);

    file_type = SOURCE_NONE;
    dsdiff_info.file = src;
    if (readDsdHeader(&dsdiff_info) == 0) {
        file_type = SOURCE_DSDIFF;
        heltz = dsdiff_info.sample_rate;
        channels = dsdiff_info.channel_count;
        byte_len = dsdiff_info.data_size;
        sound_remaining = dsdiff_info.data_size;
    } else if (std::rewind(src), wsd_info.file = src, readWsdHeader(&wsd_info) == 0) {
        file_type = SOURCE_WSD;
        heltz = wsd_info.sample_rate;
        channels = wsd_info.channel_count;
        // A header whose file size ends before its data offset declares no sound.
        byte_len = wsd_info.file_size > wsd_info.data_offset ? wsd_info.file_size - wsd_info.data_offset : 0;
    } else {
        // A file that begins as DSF but is refused says why.
        std::rewind(src);
        dsf_info.file = src;
        dsf_reporting = 1;
        if (readDsfHeader(&dsf_info) != 0) report_exit(SIGMELT_NOT_DSD, srcFileName);
        file_type = SOURCE_DSF;
        heltz = dsf_info.sample_rate;
        channels = static_cast<int32_t>(dsf_info.channel_count);
        byte_len = dsf_info.bytes_per_channel * dsf_info.channel_count;
    }
    // No channel means no sound: the block would be empty and the playing
    // time divides by the count.
    if (channels < 1 || channels > DSD_MAX_CHANNELS) report_exit(SIGMELT_NOT_DSD, srcFileName);
    read_tags(src);
}

void check_source() {
    if (!dsd_rate_supported(heltz)) report_exit(SIGMELT_RATE, static_cast<long long>(heltz));
    if (left_index >= channels) report_exit(SIGMELT_LEFT_INDEX, left_index, channels);
    if (right_index >= channels) report_exit(SIGMELT_RIGHT_INDEX, right_index, channels);
}

// By default even channels go left and odd ones right, and a mono source
// to both sides. A chosen index replaces its side's channels by that one
// channel; -1 keeps the side's default.
void set_routing() {
    for (int32_t i = 0; i < channels; ++i) {
        channel_switches[i].to_left = i % 2 == 0 ? -1 : 0;
        channel_switches[i].to_right = i % 2 == 1 || channels == 1 ? -1 : 0;
        if (left_index >= 0) channel_switches[i].to_left = i == left_index ? -1 : 0;
        if (right_index >= 0) channel_switches[i].to_right = i == right_index ? -1 : 0;
    }
}

void open_destination() {
    // Opening for writing truncates: never when it is the source itself.
    struct stat src_st {}, dst_st {};
    if (fstat(fileno(source_file()), &src_st) == 0 && stat(outFileName, &dst_st) == 0 &&
        src_st.st_dev == dst_st.st_dev && src_st.st_ino == dst_st.st_ino)
        report_exit(SIGMELT_SAME_FILE, outFileName);
    fpOutFile = std::fopen(outFileName, "wb");
    if (fpOutFile == nullptr) report_exit(SIGMELT_OPEN_DESTINATION, outFileName);
    // Unbuffered: each run goes out in one write, and a failing write is
    // seen at once with an exact count instead of at some later flush.
    std::setvbuf(fpOutFile, nullptr, _IONBF, 0);
}

// The filter and sample path for the output: the decimator's rows for the
// output rate (the steep 44.1 kHz output halves its 88.2 kHz one), the
// frame size, FLAC or wave.
void prepare_output() {
    flac_out = flac_destination(outFileName);
    shaped = output_options || flac_out;
    if (out_steep && out_rate != 44100) out_steep = false;  // one set serves each higher rate
    filter_rate = out_steep ? 88200 : out_rate;
    if (!coeff_deltasigma_init_from(coeff_rows_for_output(filter_rate), static_cast<int32_t>(heltz), channels) ||
        (out_steep && !pcm_stage_init(coeff_FDA_88k_44k, 255)))
        report_exit(SIGMELT_FILTER_INIT);
    if (!shaped) return;
    pcmout_init(out_bits, out_dither, out_gain_db);
    frame_bytes = pcmout_frame_bytes();
    // A ring of whole frames, so that every run the writer takes is too.
    ringbuffer_destroy(&soundbuffer);
    soundbuffer = ringbuffer_new(RING_BYTES, static_cast<uint32_t>(frame_bytes));
    if (soundbuffer == nullptr) report_exit(SIGMELT_RING);
}

}  // namespace

void sigmelt_reset() {
    parse_params_reset();
    for (ChannelSwitch& c : channel_switches) c = {};
    interrupted = interrupt_signal = thread_end_flag = 0;
    write_failed = false;
    source_corrupt = false;
    file_type = SOURCE_NONE;
    channels = 0;
    dsdiff_info = {};
    wsd_info = {};
    dsf_info = {};
    tag_chunks.clear();
    tag_comments.clear();
    heltz = byte_len = sound_remaining = outsamples = 0;
    last_sec = -1;
    fpOutFile = nullptr;
    frames_in_file = 0;
    readahead_pos = readahead_len = 0;
    stop_workers();
    runs.clear();
    runs_queued = runs_emitted = 0;
    run_blocks = 0;
    input_ended = false;
    ringbuffer_destroy(&soundbuffer);
    shaped = flac_out = false;
    frame_bytes = FRAME_BYTES;
    filter_rate = 44100;
}

int main(int argc, char* argv[]) {
    catch_signals();

    soundbuffer = ringbuffer_new(RING_BYTES, FRAME_BYTES);
    if (soundbuffer == nullptr) report_exit(SIGMELT_RING);

    parse_params(argc, argv);
    if (flac_destination(outFileName) && !flacout_available()) report_exit(SIGMELT_NO_FLAC, outFileName);
    open_source();
    check_source();
    set_routing();

    // Wide enough that byte_len x 8 cannot wrap; a time beyond the 32-bit
    // range is shown as the largest one.
    // DSF counts samples: its last byte may hold fewer than 8.
    const unsigned __int128 total_seconds = file_type == SOURCE_DSF ? dsf_info.sample_count / heltz
                                                           : static_cast<unsigned __int128>(byte_len) * 8 / heltz / channels;
    const auto seconds = static_cast<int32_t>(std::min<unsigned __int128>(total_seconds, INT32_MAX));
    util_display_fileinfo(1, 1, seconds, srcFileName);

    open_destination();
    prepare_output();

    std::thread writer;
    // The writer starts with the signals blocked, so that they reach this
    // thread and cut short a read that waits for input.
    sigset_t signals, before;
    sigemptyset(&signals);
    for (int signal : STOP_SIGNALS) sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, &before);
    try {
        writer = std::thread(file_out_loop);
    } catch (const std::system_error&) {
        report_exit(SIGMELT_THREAD_CREATE);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);

    const int32_t block_bytes = block_bytes_for(channels, heltz) / (filter_rate / 44100);
    pool = workers_new(thread_count);
    if (file_type == SOURCE_DSDIFF && dsdiff_info.compression == DSDIFF_DST)
        dst_reader_init(&dst_reader, &dsdiff_info, pool, thread_count);
    prepare_runs(block_bytes);
    for (;;) {
        if (thread_end_flag.load() != 0 || interrupted.load() != 0) break;
        show_status();
        if (ringbuffer_drained(soundbuffer)) {
            usleep(500);
            continue;
        }
        produce_pass(block_bytes);
    }
    stop_workers();

    std::printf("%s\n", UTIL_CLEAR_LINE);
    std::fflush(stdout);
    try {
        writer.join();
    } catch (const std::system_error&) {
        report_exit(SIGMELT_THREAD_JOIN);
    }
    if (std::fclose(fpOutFile) != 0) write_failed.store(true);
    fpOutFile = nullptr;
    std::printf("\n");
    if (output_options) pcmout_print_peak(stdout);
    std::fflush(stdout);

    ringbuffer_destroy(&soundbuffer);

    if (write_failed.load()) report_exit(SIGMELT_WRITE_ERROR, outFileName);
    if (source_corrupt) report_exit(SIGMELT_CORRUPT_FRAME, outFileName, srcFileName);
    if (interrupted.load() != 0) {
        // A shorter file is not a finished conversion: say so, and end as
        // the shell would for the signal, so that "&&" does not go on.
        const int signal = interrupt_signal.load();
        const uint64_t frames = frames_in_file.load();
        std::fprintf(stderr, "interrupted by %s: %s holds the first %llu frames (%llu.%03llu s)\n",
                     signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "SIGINT", outFileName,
                     static_cast<unsigned long long>(frames), static_cast<unsigned long long>(frames / out_rate),
                     static_cast<unsigned long long>(frames % out_rate * 1000 / out_rate));
        return 128 + (signal != 0 ? signal : SIGINT);
    }
    return 0;
}
