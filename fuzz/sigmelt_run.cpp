// A whole run of the converter on a file made from the fuzz input: the
// program's own main, in this process, with its exit() turned into an
// exception and its module state put back before each run. Checks what a
// run must leave behind: on success a wave file holding exactly the frames
// its header counts, one per whole block of the source; on failure no
// destination at all.
#define main sigmelt_main
#include "sigmelt.cpp"
#undef main

#include <string>
#include <vector>

#include "harness.h"

namespace {

void reset_converter() {
    srcFileName = nullptr;
    outFileName = nullptr;
    left_index = -1;
    right_index = -1;
    channel_switches[0] = {1, 0};
    channel_switches[1] = {0, 1};
    for (int i = 2; i < MAX_CHANNELS; ++i) channel_switches[i] = {0, 0};
    interrupted.store(0);
    thread_end_flag.store(0);
    write_failed.store(false);
    file_type = 0;
    dsdiff_info = DsdiffInfo{};
    wsd_info = WsdInfo{};
    heltz = 0;
    channels = 0;
    byte_len = 0;
    sound_remaining = 0;
    outsamples = 0;
    last_sec = -1;
    fpOutFile = nullptr;
}

// Output frames for a source: one per block read, a block being whole when
// at most its last group is short.
uint64_t expected_frames(const fuzzhook::Source& src) {
    uint64_t available = src.length > src.data_offset ? src.length - src.data_offset : 0;
    if (src.type == 1) available = std::min(available, src.data_size);
    const uint64_t block = static_cast<uint64_t>(block_bytes_for(src.channel_count, src.sample_rate));
    const uint64_t rest = available % block;
    return available / block + (rest + static_cast<uint64_t>(src.channel_count) > block ? 1 : 0);
}

bool rate_supported(uint32_t rate) { return rate == 2822400 || rate == 5644800 || rate == 11289600; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzzhook::clear_work_dir();
    const std::string in = fuzzhook::work_path("in.dsd");
    const std::string out = fuzzhook::work_path("out.wav");
    fuzzhook::write_file(in, data, size);
    const fuzzhook::Source src = fuzzhook::look_at(in);

    // The last byte picks the channel option (none, or a pair that may lie
    // outside the file's channels or be negative) and an early Ctrl-C.
    const uint8_t selector = data[size - 1];
    std::vector<std::string> args{"sigmelt"};
    int left = -1, right = -1;
    if (selector & 0x80) {
        left = (selector & 7) - 1;
        right = ((selector >> 3) & 7) - 1;
        args.push_back("--channels=" + std::to_string(left) + "," + std::to_string(right));
    }
    args.push_back(in);
    args.push_back(out);

    reset_converter();
    // Ctrl-C before the conversion starts: the run must still end with a
    // valid, empty wave file.
    const bool interrupt_first = (selector & 0x40) != 0;
    if (interrupt_first) interrupted.store(-1);
    const int status = fuzzhook::run_program(sigmelt_main, args);
    ringbuffer_destroy(&soundbuffer);
    fuzzhook::take_stdout();

    // The status the source calls for.
    int expected = 0;
    if (src.type == 0 || src.channel_count < 1)
        expected = 134;
    else if (!rate_supported(src.sample_rate))
        expected = 144;
    else if (left >= src.channel_count)
        expected = 148;
    else if (right >= src.channel_count)
        expected = 152;
    if (status != expected) fuzzhook::fail("sigmelt ended with %d, expected %d", status, expected);

    if (status != 0) {
        if (fuzzhook::file_exists(out)) fuzzhook::fail("destination created by a failed run");
        return 0;
    }
    const std::vector<uint8_t> wav = fuzzhook::read_file(out);
    if (wav.size() < WAV_HEADER_SIZE || (wav.size() - WAV_HEADER_SIZE) % 4 != 0)
        fuzzhook::fail("wave file of %zu bytes", wav.size());
    uint64_t counted = 0;
    for (int i = 7; i >= 0; --i) counted = counted << 8 | wav[36 + i];
    const uint64_t held = (wav.size() - WAV_HEADER_SIZE) / 4;
    if (counted != held) fuzzhook::fail("header counts %llu frames, file holds %llu",
                                        static_cast<unsigned long long>(counted), static_cast<unsigned long long>(held));
    if (interrupt_first ? held != 0 : held != expected_frames(src))
        fuzzhook::fail("%llu frames from a source that makes %llu", static_cast<unsigned long long>(held),
                       static_cast<unsigned long long>(expected_frames(src)));
    return 0;
}
