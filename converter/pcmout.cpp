#include "pcmout.h"

#include <cmath>
#include <cstring>

#include "sigmelt.h"

double pcmout_peak = 0.0;
uint64_t pcmout_clipped = 0;

namespace {

int32_t bits = 16;
bool dither = false;
double gain = 1.0;
uint64_t dither_state = 0;

// xorshift64*: a fixed seed, so that dithered runs are repeatable.
double uniform() {
    dither_state ^= dither_state >> 12;
    dither_state ^= dither_state << 25;
    dither_state ^= dither_state >> 27;
    return static_cast<double>((dither_state * 0x2545F4914F6CDD1Dull) >> 40) / 16777216.0 - 0.5;
}

// An integer sample of `width` bits from full scale 2^(width - 1) - 1:
// truncated toward zero (16 bits, as the default run) or rounded (after the
// dither), then saturated.
double full = 32768.0;  // 2^(bits - 1)

[[gnu::always_inline]] inline int32_t integer_sample(double v, int32_t width) {
    if (width == 16 && !dither) {  // the default run's samples, from the same float
        const float product = static_cast<float>(v) * 32767.0f;
        if (product >= 32768.0f || product <= -32769.0f) ++pcmout_clipped;
        return sample_from_float(static_cast<float>(v));
    }
    double x = v * (full - 1.0);
    if (dither) x += uniform() + uniform();
    // Rounded to nearest, ties to even, without a call into the maths
    // library: below 2^51 adding and taking away 1.5 x 2^52 leaves no
    // fraction.
    constexpr double ROUND = 6755399441055744.0;
    x = (x + ROUND) - ROUND;
    if (x > full - 1.0 || x < -full) {
        ++pcmout_clipped;
        x = x > 0 ? full - 1.0 : -full;
    }
    return static_cast<int32_t>(x);
}

}  // namespace

void pcmout_init(int32_t bits_per_sample, bool with_dither, double gain_db) {
    bits = bits_per_sample;
    dither = with_dither && bits != 32;
    gain = std::pow(10.0, gain_db / 20.0);
    full = std::ldexp(1.0, bits - 1);
    dither_state = 0x9E3779B97F4A7C15ull;
    pcmout_peak = 0.0;
    pcmout_clipped = 0;
}

int32_t pcmout_frame_bytes() { return bits / 4; }

void pcmout_frame(const float* lr, uint8_t* out) {
    const double l = static_cast<double>(lr[0]) * gain, r = static_cast<double>(lr[1]) * gain;
    const double m = std::fabs(l) > std::fabs(r) ? std::fabs(l) : std::fabs(r);
    if (m > pcmout_peak) pcmout_peak = m;
    uint32_t word[2];
    switch (bits) {
        case 16:
            word[0] = static_cast<uint32_t>(integer_sample(l, 16));
            word[1] = static_cast<uint32_t>(integer_sample(r, 16));
            for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(word[i / 2] >> (8 * (i % 2)));
            break;
        case 24:
            word[0] = static_cast<uint32_t>(integer_sample(l, 24));
            word[1] = static_cast<uint32_t>(integer_sample(r, 24));
            for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(word[i / 3] >> (8 * (i % 3)));
            break;
        default: {
            const float f[2] = {static_cast<float>(l), static_cast<float>(r)};
            std::memcpy(out, f, sizeof f);  // little-endian, as the machine
        }
    }
}

void pcmout_print_peak(FILE* f) {
    if (pcmout_peak > 0.0)
        std::fprintf(f, "peak %.2f dBFS, %llu samples clipped\n", 20.0 * std::log10(pcmout_peak),
                     static_cast<unsigned long long>(pcmout_clipped));
    else
        std::fprintf(f, "peak -inf dBFS, %llu samples clipped\n", static_cast<unsigned long long>(pcmout_clipped));
}
