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
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dsdiff.h"
#include "layouts.h"
#include "wsd.h"

namespace fuzzhook {
inline std::vector<FILE*> open_files;

[[noreturn]] inline void fail(const char* format, ...) {
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: ");
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fprintf(stderr, "\n");
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
int fuzz_fclose(FILE* f) {
    std::erase(fuzzhook::open_files, f);
    return ::fclose(f);
}
}  // namespace std

namespace fuzzhook {
namespace fs = std::filesystem;

// A folder of this process, emptied before each input and removed at exit;
// standard output goes to a file beside it.
inline std::string path(const std::string& name) {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string d = std::string(tmp && *tmp ? tmp : "/tmp") + "/dsdfuzz.XXXXXX";
        if (mkdtemp(d.data()) == nullptr || !std::freopen((d + ".out").c_str(), "w+", stdout)) std::abort();
        static const std::string keep = d;
        std::atexit([] { fs::remove_all(keep); fs::remove(keep + ".out"); });
        return d;
    }();
    return dir + "/" + name;
}
inline void clear() {
    for (const auto& e : fs::directory_iterator(fs::path(path("")))) fs::remove_all(e.path());
}
inline void write(const std::string& p, const uint8_t* data, size_t size) {
    FILE* f = ::fopen(p.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || ::fclose(f) != 0) fail("cannot write %s", p.c_str());
}
inline lay::Bytes read(const std::string& p) {
    lay::Bytes b(fs::exists(p) ? fs::file_size(p) : 0);
    FILE* f = ::fopen(p.c_str(), "rb");
    if (f == nullptr || std::fread(b.data(), 1, b.size(), f) != b.size()) fail("cannot read %s", p.c_str());
    ::fclose(f);
    return b;
}

// Runs a program's main as the process would: its status whether it
// returned or called exit(); what it left open is closed, SIGINT restored,
// and what it printed returned in `out`.
inline int run(int (*program_main)(int, char**), std::vector<std::string> args, std::string* out = nullptr) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    path("");
    struct sigaction old_int;
    sigaction(SIGINT, nullptr, &old_int);
    int status;
    try {
        status = program_main(static_cast<int>(args.size()), argv.data());
    } catch (const ProgramExit& e) {
        status = e.status;
    }
    sigaction(SIGINT, &old_int, nullptr);
    for (FILE* f : open_files) ::fclose(f);
    open_files.clear();
    std::fflush(stdout);
    std::rewind(stdout);
    std::string printed;
    for (int c; (c = std::getc(stdout)) != EOF;) printed.push_back(static_cast<char>(c));
    if (out != nullptr) *out = printed;
    std::rewind(stdout);
    if (ftruncate(fileno(stdout), 0) != 0) fail("cannot empty standard output");
    return status;
}

// The source as the library's readers see it (silent mode).
struct Source {
    int type = 0;  // 0 neither, 1 DSDIFF, 2 WSD
    uint64_t length = 0, data_offset = 0, data_size = 0;
    uint32_t rate = 0;
    int channels = 0;
    DsdiffInfo dsdiff{};
    bool usable() const { return type == 1 && rate != 0 && channels != 0; }
};
// A real file, not a memory stream: seeking past its end must succeed.
inline Source look_at(const std::string& p) {
    Source s;
    FILE* f = ::fopen(p.c_str(), "rb");
    const uint64_t size = fs::file_size(p);
    const int reporting = dsdiff_reporting;
    dsdiff_reporting = 0;
    s.dsdiff.file = f;
    WsdInfo w{};
    w.file = f;
    if (readDsdHeader(&s.dsdiff) == 0) {
        s = {1, size, static_cast<uint64_t>(std::ftell(f)), s.dsdiff.data_size, s.dsdiff.sample_rate,
             s.dsdiff.channel_count, s.dsdiff};
    } else if ((std::rewind(f), readWsdHeader(&w)) == 0) {
        s = {2, size, w.data_offset, 0, w.sample_rate, w.channel_count, {}};
    }
    dsdiff_reporting = reporting;
    std::fclose(f);
    return s;
}
// An identifier argument for channel `selector` of the file, or one it lacks.
inline std::string pick_id(const Source& s, unsigned selector) {
    return s.usable() && selector % 16 != 15 ? std::string(s.dsdiff.channel_ids[selector % s.channels]) : "NONE";
}
// Position an argument names: its first four bytes, NUL-padded, the later channel winning.
inline int position(const Source& s, const std::string& arg) {
    char id[4] = {};
    arg.copy(id, 4);
    int at = -1;
    for (int c = 0; c < s.channels; ++c)
        if (std::memcmp(s.dsdiff.channel_ids[c], id, 4) == 0) at = c;
    return at;
}
// The property display, line for line (an identifier may hold any byte but NUL).
inline std::string display(const Source& s) {
    const uint64_t per = s.data_size / s.channels, sec = per / s.rate * 8 + per % s.rate * 8 / s.rate;
    char head[200];
    std::snprintf(head, sizeof head,
                  "sampling frequency:\t%u [Hz]\ndata size in bytes:\t%llu [Byte]\nplaying time:\t\t%llu:%02u:%02u\n"
                  "channel:\t\t%d [ch]\n", s.rate, static_cast<unsigned long long>(s.data_size),
                  static_cast<unsigned long long>(sec / 3600), static_cast<unsigned>(sec / 60 % 60),
                  static_cast<unsigned>(sec % 60), s.channels);
    std::string text = head;
    for (int c = 0; c < s.channels; ++c)
        text += "\tchannel " + std::to_string(c) + " name is \"" + s.dsdiff.channel_ids[c] + "\"\n";
    return text;
}

// A frame reader over `frames` whole frames of `channels` bytes from `sound`:
// pairs of bytes `l`, `r` while frames last, then the last group of 8 filled
// with 0x96, then nothing.
template <class Info>
void check_frames(int (*reader)(Info*, uint8_t*, int), Info* info, const uint8_t* sound, uint64_t frames,
                  int channels, int l, int r) {
    uint8_t buf[37];  // 36 bytes used: 18 pairs a call
    for (uint64_t done = 0;; done += 18) {
        const int n = reader(info, buf, sizeof buf);
        const uint64_t pairs = std::min<uint64_t>(frames - done, 18);
        if (static_cast<uint64_t>(n) != (pairs * 2 + 7) / 8 * 8) fail("frame reader gave %d bytes", n);
        for (int i = 0; i < n; ++i)
            if (buf[i] != (i >= static_cast<int>(2 * pairs) ? 0x96 : sound[(done + i / 2) * channels + (i % 2 ? r : l)]))
                fail("byte %d of the pairs from frame %llu", i, static_cast<unsigned long long>(done));
        if (pairs < 18) return;
    }
}

enum OutputKind { OUT_WSD_LOW_HALF_FIRST, OUT_WSD_BE64, OUT_DSDIFF };
// A finished output holds the source's bytes of its two channels after the
// header that the layouts give for them.
inline void check_pair(const std::string& p, OutputKind kind, const Source& s, const uint8_t* data, int l, int r) {
    const lay::Bytes out = read(p);
    const uint64_t frames = s.data_size / s.channels;
    lay::Bytes header;
    if (kind == OUT_DSDIFF) {
        header = lay::dsdiff_pair_header(s.rate, 2 * frames);
    } else {
        // The playing-time word is each program's own: taken from the file.
        const uint32_t play = out.size() >= 36 ? static_cast<uint32_t>(lay::get_be(out, 32, 4)) : 0;
        header = lay::wsd_header({.version = 0x11, .file_size = 2048 + 2 * frames, .play_time = play, .rate = s.rate,
                                  .channels = 2, .assignment = 0x44000000}, kind == OUT_WSD_BE64);
    }
    if (out.size() != (kind == OUT_DSDIFF ? 130 : 2048) + 2 * frames ||
        !std::equal(header.begin(), header.end(), out.begin()))
        fail("%s: header does not describe its %llu frames", p.c_str(), static_cast<unsigned long long>(frames));
    const uint8_t* sound = data + s.data_offset;
    const size_t at = out.size() - 2 * frames;
    for (uint64_t i = 0; i < frames; ++i)
        if (out[at + 2 * i] != sound[i * s.channels + l] || out[at + 2 * i + 1] != sound[i * s.channels + r])
            fail("%s: frame %llu differs from the source", p.c_str(), static_cast<unsigned long long>(i));
}
}  // namespace fuzzhook
