// wavinfo: what a PCM or float wave file (RF64 or RIFF) holds: its format,
// frame count and, per channel, the frequency and level of the tone in it
// and its THD+N from 20 Hz to 20 kHz (fitted from 0.1 s on, a power of two
// of samples). With a frequency after the file name the tone of that
// frequency is measured, whatever else is louder, and its highest harmonic
// below 20 kHz is shown.
// A developer's check of the converter's output, e.g. in tools/demo.sh.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "wavetone.h"

int main(int argc, char* argv[]) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s WAVE_FILE [HZ]\n", argc > 0 ? argv[0] : "wavinfo");
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
    const uint64_t present = w.x.size() / w.channels;
    std::printf("%s: %s, %u channels, %u Hz, %u bits%s, %llu frames (%.3f s)\n", argv[1], w.rf64 ? "RF64" : "RIFF",
                w.channels, w.rate, w.bits, w.is_float ? " float" : "", static_cast<unsigned long long>(w.frames),
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
        const std::vector<double> x = wave_channel(w, c);
        if (argc == 3) {
            const double hz = std::atof(argv[2]);
            if (!tone_fit(x, w.rate, hz, w.rate / 10, x.size(), t) || t.amplitude <= 0) {
                std::printf("no tone\n");
                continue;
            }
            double highest = 0, at = 0;
            for (double h = 2 * hz; h < 20000 && h < w.rate / 2.0; h += hz) {
                Tone k;
                if (tone_fit(x, w.rate, h, w.rate / 10, x.size(), k) && k.amplitude > highest) highest = k.amplitude, at = h;
            }
            std::printf("%.0f Hz at %.4f dBFS, THD+N %.1f dB, highest harmonic %.0f Hz at %.1f dB\n", hz,
                        20 * std::log10(t.amplitude), thd_n_db(x, w.rate, hz, w.rate / 10, x.size(), 20, 20000), at,
                        20 * std::log10(highest / t.amplitude));
        } else if (tone_find(x, w.rate, t) && t.amplitude > 1e-6)
            std::printf("tone %.2f Hz at %.3f dBFS, THD+N %.1f dB\n", t.freq, 20 * std::log10(t.amplitude),
                        thd_n_db(x, w.rate, std::round(t.freq), w.rate / 10, x.size(), 20, 20000));
        else
            std::printf("no tone\n");
    }
    return present == w.frames ? 0 : 1;
}
