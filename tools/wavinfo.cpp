// wavinfo: what a 16-bit PCM wave file (RF64 or RIFF) holds: its format,
// frame count and, per channel, the frequency and level of the tone in it.
// A developer's check of the converter's output, e.g. in tools/demo.sh.
#include <cmath>
#include <cstdio>

#include "wavetone.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WAVE_FILE\n", argc > 0 ? argv[0] : "wavinfo");
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!read_whole_file(argv[1], bytes)) {
        std::fprintf(stderr, "%s: cannot read\n", argv[1]);
        return 1;
    }
    Wave w;
    if (const char* problem = wave_parse(bytes, w)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], problem);
        return 1;
    }
    const uint64_t present = w.pcm.size() / w.channels;
    std::printf("%s: %s, %u channels, %u Hz, %u bits, %llu frames (%.3f s)\n", argv[1], w.rf64 ? "RF64" : "RIFF",
                w.channels, w.rate, w.bits, static_cast<unsigned long long>(w.frames),
                w.rate ? static_cast<double>(w.frames) / w.rate : 0.0);
    if (present != w.frames)
        std::printf("  the file holds %llu frames, not %llu\n", static_cast<unsigned long long>(present),
                    static_cast<unsigned long long>(w.frames));
    for (int c = 0; c < w.channels; ++c) {
        if (w.channels == 2)
            std::printf("  %s", c == 0 ? "left:  " : "right: ");
        else
            std::printf("  channel %d: ", c);
        Tone t;
        if (tone_find(wave_channel(w, c), w.rate, t) && t.amplitude > 1e-6)
            std::printf("tone %.2f Hz at %.2f dBFS\n", t.freq, 20 * std::log10(t.amplitude));
        else
            std::printf("no tone\n");
    }
    return present == w.frames ? 0 : 1;
}
