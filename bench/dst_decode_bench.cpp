// Decodes every frame of a DST-compressed DSDIFF file on one thread, RUNS
// times, and prints the CPU time of each pass and the real-time factor of
// the median (seconds of sound per second of CPU; the file is read once
// before, so that it comes from the page cache).
//
// usage: dst_decode_bench FILE [RUNS]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dsdiff.h"
#include "dst.h"

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One pass over the file: the frames decoded, or -1.
long decode_all(const char* path, std::vector<uint8_t>& out, DsdiffInfo& info) {
    info = DsdiffInfo{};
    info.file = std::fopen(path, "rb");
    if (info.file == nullptr || readDsdHeader(&info) != 0 || info.compression != DSDIFF_DST) return -1;
    out.resize(dst_sound_bytes(info));
    long frames = 0;
    int r;
    while ((r = dstReadFrame(&info, out.data())) == 0) ++frames;
    std::fclose(info.file);
    return r > 0 ? frames : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<uint8_t> out;
    DsdiffInfo info;
    if (decode_all(argv[1], out, info) < 0) {
        std::fprintf(stderr, "%s: not a DST file that decodes\n", argv[1]);
        return 1;
    }
    std::vector<double> times;
    long frames = 0;
    for (int i = 0; i < runs; ++i) {
        const double t0 = cpu_seconds();
        frames = decode_all(argv[1], out, info);
        times.push_back(cpu_seconds() - t0);
        std::printf("pass %d: %ld frames in %.3f s of CPU\n", i + 1, frames, times.back());
    }
    std::sort(times.begin(), times.end());
    const double sound = static_cast<double>(frames) / DST_FRAMES_PER_SECOND;
    std::printf("decoder: %.1f s of %d-channel sound at %u Hz, median %.3f s of CPU: %.2f x real time on one core\n",
                sound, info.channel_count, info.sample_rate, times[times.size() / 2], sound / times[times.size() / 2]);
    return 0;
}
