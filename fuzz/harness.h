// What the fuzz targets share, compiled once into each target: the hooks'
// bodies, a private work folder, one in-process run of a program's main,
// the source as the library reads it, and the check of a stereo output
// against the source and the header layouts.
#pragma once
#define FUZZ_HOOKS_IMPL
#include "program_hooks.h"
#undef exit
#undef fopen
#undef fclose

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <utility>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dsdiff.h"
#include "dsf.h"
#include "dst.h"
#include "layouts.h"
#include "tags.h"
#include "wsd.h"

namespace fuzzhook {
namespace fs = std::filesystem;
inline std::vector<FILE*> open_files;

// Aborts, so that the fuzzer keeps the input.
[[noreturn]] __attribute__((format(printf, 1, 2))) inline void fail(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: "), std::vfprintf(stderr, format, ap);
    std::abort();
}
}  // namespace fuzzhook
namespace std {
void fuzz_exit(int status) { throw fuzzhook::ProgramExit{status}; }
FILE* fuzz_fopen(const char* path, const char* mode) {
    FILE* f = ::fopen(path, mode);
    if (f != nullptr) fuzzhook::open_files.push_back(f);
    return f;
}
int fuzz_fclose(FILE* f) { return std::erase(fuzzhook::open_files, f), ::fclose(f); }
}  // namespace std
namespace fuzzhook {
// A folder of this process, emptied for each input and removed at exit;
// standard output goes to a file beside it.
inline std::string path(const std::string& name) {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        static std::string d = std::string(tmp && *tmp ? tmp : "/tmp") + "/dsdfuzz.XXXXXX";
        if (mkdtemp(d.data()) == nullptr || !std::freopen((d + ".out").c_str(), "w+", stdout)) std::abort();
        std::atexit([] { fs::remove_all(d), fs::remove(d + ".out"); });
        return d;
    }();
    return dir + "/" + name;
}
inline void write(const std::string& name, const uint8_t* data, size_t size) {
    for (const auto& e : fs::directory_iterator(path(""))) fs::remove_all(e.path());
    FILE* f = ::fopen(path(name).c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || ::fclose(f) != 0) fail("cannot write %s", name.c_str());
}
inline lay::Bytes read(const std::string& p) {
    lay::Bytes b(fs::file_size(p));
    FILE* f = ::fopen(p.c_str(), "rb");
    if (std::fread(b.data(), 1, b.size(), f) != b.size()) fail("cannot read %s", p.c_str());
    return ::fclose(f), b;
}

// Threads of this process now.
inline size_t thread_count() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Runs a program's main as the process would and returns its status,
// whether it returned or called exit(); what it left open is closed, the
// signal handlers put back, and what it printed handed to `out`.
inline int run(int (*program_main)(int, char**), std::vector<std::string> args, std::string* out = nullptr) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    constexpr int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction old[3];
    for (int i = 0; i < 3; ++i) sigaction(signals[i], nullptr, &old[i]);
    const size_t threads = thread_count();
    int status;
    try {
        status = program_main(static_cast<int>(args.size()), argv.data());
    } catch (const ProgramExit& e) {
        status = e.status;
    }
    // Every thread it started has ended, whichever way it ended: a joined
    // thread leaves the list a moment after its join.
    for (int wait = 0; thread_count() > threads; usleep(1000))
        if (++wait == 200) fail("%s left threads running", args[0].c_str());
    for (int i = 0; i < 3; ++i) sigaction(signals[i], &old[i], nullptr);
    for (FILE* f : open_files) ::fclose(f);
    open_files.clear();
    std::string printed(static_cast<size_t>(std::ftell(stdout)), '\0');
    std::rewind(stdout);
    if (std::fread(printed.data(), 1, printed.size(), stdout) != printed.size() || ftruncate(fileno(stdout), 0) != 0)
        fail("standard output lost");
    if (out != nullptr) *out = printed;
    return std::rewind(stdout), status;
}

// DSF stores the first sample of a byte in its lowest bit (with 1 bit per
// sample).
inline uint8_t reversed(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r << 1 | (b >> i & 1));
    return r;
}
// Where the DSF layout puts byte i of channel c: block sets of 4096 bytes per
// channel, channel after channel, after the 92-byte header.
inline uint64_t dsf_offset(uint64_t i, uint64_t c, uint64_t channels) {
    return 92 + i / 4096 * channels * 4096 + c * 4096 + i % 4096;
}

// The source as the library's readers see it (silent mode), from a real
// file: seeking past its end must succeed.
struct Source {
    int type = 0;  // 0 neither, 1 DSDIFF, 2 WSD, 3 DSF
    uint64_t length = 0, data_offset = 0, data_size = 0;
    uint32_t rate = 0;
    int channels = 0;
    DsdiffInfo dsdiff{};  // of a DSF file: the channel identifiers a copy names
    uint64_t declared = 0;  // the whole frames the header declares (DST: decoded)
    // DSDIFF, DSF: the whole frames present, first sample in each byte's top bit; DST: the sound of the
    // frames before the first corrupt or missing one
    lay::Bytes sound;
    bool corrupt = false;  // DST: there is such a frame
    bool dst() const { return type == 1 && dsdiff.compression == DSDIFF_DST; }
    bool usable() const { return (type == 1 || type == 3) && rate != 0 && channels != 0; }
    bool cut() const { return dst() ? corrupt : frames() < declared; }
    uint64_t frames() const { return sound.size() / channels; }
};
inline Source look_at(const std::string& name) {
    static std::vector<uint8_t> frame(DST_MAX_SOUND_BYTES);
    Source s;
    FILE* f = ::fopen(path(name).c_str(), "rb");
    const int reporting = std::exchange(dsdiff_reporting, 0), dsf_said = std::exchange(dsf_reporting, 0);
    WsdInfo w{.file = f};
    static DsfInfo dsf;
    dsf = {}, dsf.file = f;
    s.dsdiff.file = f;
    const lay::Bytes b = read(path(name));
    if (readDsdHeader(&s.dsdiff) == 0) {
        s = {1, 0, static_cast<uint64_t>(ftello(f)), s.dsdiff.data_size, s.dsdiff.sample_rate, s.dsdiff.channel_count, s.dsdiff, 0, {}};
        const uint64_t present = std::min(s.data_size, b.size() - std::min<uint64_t>(b.size(), s.data_offset));
        if (s.channels > 0) s.declared = s.data_size / s.channels;
        if (s.channels > 0 && !s.dst()) s.sound.assign(b.begin() + s.data_offset, b.begin() + s.data_offset + present / s.channels * s.channels);
        DsdiffInfo walk = s.dsdiff;  // the reader's copy keeps the header's counts
        for (int r = s.dst() ? 0 : 1; r == 0; s.corrupt = r < 0)
            if ((r = dstReadFrame(&walk, frame.data())) == 0)
                s.sound.insert(s.sound.end(), frame.begin(), frame.begin() + static_cast<long>(dst_sound_bytes(walk)));
    } else if ((std::rewind(f), readWsdHeader(&w)) == 0) {
        s = {2, 0, w.data_offset, 0, w.sample_rate, w.channel_count, {}, 0, {}};
    } else if ((std::rewind(f), readDsfHeader(&dsf)) == 0) {
        s = {3, 0, 92, 0, dsf.sample_rate, static_cast<int>(dsf.channel_count), {}, dsf.bytes_per_channel, {}};
        s.dsdiff.channel_count = static_cast<uint16_t>(s.channels);
        for (int c = 0; c < s.channels; ++c) std::memcpy(s.dsdiff.channel_ids[c], dsfChannelId(dsf, c), 5);
        for (uint64_t i = 0; i < s.declared && dsf_offset(i, s.channels - 1, s.channels) < b.size(); ++i)
            for (int c = 0; c < s.channels; ++c) {
                const uint8_t byte = b[dsf_offset(i, c, s.channels)];
                s.sound.push_back(dsf.bits_per_sample == 8 ? byte : reversed(byte));
            }
    }
    s.length = b.size();
    dsdiff_reporting = reporting, dsf_reporting = dsf_said;
    return ::fclose(f), s;
}
// An identifier argument naming a channel of the file, or one it lacks;
// and the position an argument names (its first four bytes, padded with
// spaces or failing that with NULs, the later channel winning).
inline std::string pick_id(const Source& s, unsigned selector) {
    return s.usable() && selector % 16 != 15 ? std::string(s.dsdiff.channel_ids[selector % s.channels]) : "NONE";
}
inline int position(const Source& s, const std::string& arg) {
    int at = -1;
    for (const char pad : {' ', '\0'}) {
        char id[4] = {pad, pad, pad, pad};
        arg.copy(id, std::min<size_t>(4, arg.find('\0')));
        for (int c = 0; c < s.channels; ++c) at = std::memcmp(s.dsdiff.channel_ids[c], id, 4) == 0 ? c : at;
        if (at >= 0) return at;
    }
    return at;
}

// A finished output holds the source's bytes of its two channels after
// the header that the layouts give for them.
inline void check_pair(const std::string& name, bool dsdiff, bool be64, const Source& s, int l, int r) {
    const lay::Bytes out = read(path(name));
    const uint64_t frames = s.frames();
    // The playing-time word is each program's own: taken from the file.
    const uint32_t play = out.size() >= 36 ? static_cast<uint32_t>(lay::get_be(out, 32, 4)) : 0;
    const lay::Bytes header = dsdiff ? lay::dsdiff_pair_header(s.rate, 2 * frames)
                                     : lay::wsd_header({.version = 0x11, .file_size = 2048 + 2 * frames, .play_time = play,
                                                        .rate = s.rate, .channels = 2, .assignment = 0x44000000}, be64);
    if (out.size() != header.size() + 2 * frames || !std::equal(header.begin(), header.end(), out.begin()))
        fail("%s: header does not describe its %llu frames", name.c_str(), static_cast<unsigned long long>(frames));
    for (uint64_t i = 0; i < frames; ++i)
        if (out[header.size() + 2 * i] != s.sound[i * s.channels + l] || out[header.size() + 2 * i + 1] != s.sound[i * s.channels + r])
            fail("%s: frame %llu differs from the source", name.c_str(), static_cast<unsigned long long>(i));
}
}  // namespace fuzzhook
