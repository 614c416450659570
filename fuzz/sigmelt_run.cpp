// A whole sigmelt run on the input as a file, in this process; the last
// byte picks a --channels= pair (possibly outside the file) and a Ctrl-C
// before the start. The status must be the one the source calls for; a
// failed run leaves no destination, a finished one a wave file whose header
// counts exactly the frames it holds, one per whole block of the source,
// and after them any tag chunks, which its RIFF size counts.
#define main sigmelt_main
#include "sigmelt.cpp"
#undef main
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzzhook::write("in.dsd", data, size);
    const fuzzhook::Source src = fuzzhook::look_at("in.dsd");
    const std::string out = fuzzhook::path("out.wav");
    const uint8_t sel = data[size - 1];
    const int left = sel & 0x80 ? (sel & 7) - 1 : -1, right = sel & 0x80 ? (sel >> 3 & 7) - 1 : -1;
    std::vector<std::string> args{"sigmelt", fuzzhook::path("in.dsd"), out};
    if (sel & 0x80) args.insert(args.begin() + 1, "--channels=" + std::to_string(left) + "," + std::to_string(right));
    sigmelt_reset();
    interrupted = sel & 0x40 ? -1 : 0;
    const int status = fuzzhook::run(sigmelt_main, args);
    sigmelt_reset();

    int expected = 0;
    if (src.type == 0 || src.channels < 1) expected = SIGMELT_NOT_DSD.status;
    else if (!dsd_rate_supported(src.rate)) expected = SIGMELT_RATE.status;
    else if (left >= src.channels) expected = SIGMELT_LEFT_INDEX.status;
    else if (right >= src.channels) expected = SIGMELT_RIGHT_INDEX.status;
    else if (sel & 0x40) expected = 128 + SIGINT;
    else if (src.cut() && src.dst()) expected = SIGMELT_CORRUPT_FRAME.status;
    if (status != expected) fuzzhook::fail("sigmelt ended with %d, expected %d", status, expected);
    const bool output = status == 0 || status == 130 || status == SIGMELT_CORRUPT_FRAME.status;
    if (!output && std::filesystem::exists(out)) fuzzhook::fail("destination left by a failed run");
    if (!output) return 0;
    const lay::Bytes wav = fuzzhook::read(out);
    uint64_t available = src.length - std::min(src.length, src.data_offset);
    if (src.type == 1) available = src.dst() ? src.sound.size() : std::min(available, src.data_size);  // a last group may be short
    if (src.type == 3) available = src.sound.size();
    const uint64_t block = static_cast<uint64_t>(block_bytes_for(src.channels, src.rate));
    const uint64_t frames = sel & 0x40 ? 0 : available / block + (available % block + src.channels > block);
    const lay::Bytes header = lay::rf64_header(frames);
    uint64_t end = lay::RF64_HEADER + 4 * frames;
    if (wav.size() < end || !std::equal(wav.begin(), wav.begin() + 20, header.begin()) || lay::get_le(wav, 20, 8) != wav.size() - 8 ||
        !std::equal(wav.begin() + 28, wav.begin() + lay::RF64_HEADER, header.begin() + 28))
        fuzzhook::fail("%zu bytes of wave file for %llu frames", wav.size(), static_cast<unsigned long long>(frames));
    for (uint64_t n; end < wav.size(); end += 8 + n + (n & 1))
        if (end + 8 > wav.size() || (n = lay::get_le(wav, end + 4, 4), std::memcmp(&wav[end], "id3 ", 4) && std::memcmp(&wav[end], "LIST", 4)))
            fuzzhook::fail("no tag chunk after the sound at %llu", static_cast<unsigned long long>(end));
    if (end != wav.size()) fuzzhook::fail("tag chunks beyond the end of the file");
    return 0;
}
