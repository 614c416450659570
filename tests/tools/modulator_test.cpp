// The generator's delta-sigma modulator: loop design, in-band noise and
// level through an ideal band limit, stability over long runs, the guard,
// and the bit packing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "modulator.h"
#include "signal_analysis.h"

namespace {

constexpr double kRates[] = {2822400.0, 5644800.0, 11289600.0};

struct ModRun {
    std::vector<uint8_t> bits;
    uint64_t resets = 0;
    double peak = 0.0;
};

// Modulates the given tones for `seconds` with the default loop.
ModRun modulate(double rate, const std::vector<std::pair<double, double>>& tones, double seconds) {
    dsdmod::Modulator m;
    EXPECT_TRUE(dsdmod::modulator_design(m, dsdmod::kDefaultOrder, rate));
    dsdmod::ToneGen t;
    for (auto [f, a] : tones) dsdmod::tone_add(t, f, a, rate);
    ModRun r;
    size_t bytes = static_cast<size_t>(seconds * rate / 8.0);
    r.bits.resize(bytes);
    std::vector<double> in(8 * 65536);
    for (size_t i = 0; i < bytes; i += 65536) {
        size_t n = std::min<size_t>(65536, bytes - i);
        dsdmod::tone_fill(t, in.data(), n * 8);
        dsdmod::modulator_run(m, in.data(), r.bits.data() + i, n);
    }
    r.resets = m.resets;
    r.peak = m.peak;
    return r;
}

// Runs without keeping the output, for long stability checks.
ModRun modulate_discard(double rate, const std::vector<std::pair<double, double>>& tones, double seconds) {
    dsdmod::Modulator m;
    EXPECT_TRUE(dsdmod::modulator_design(m, dsdmod::kDefaultOrder, rate));
    dsdmod::ToneGen t;
    for (auto [f, a] : tones) dsdmod::tone_add(t, f, a, rate);
    std::vector<double> in(8 * 65536);
    std::vector<uint8_t> out(65536);
    size_t bytes = static_cast<size_t>(seconds * rate / 8.0);
    for (size_t i = 0; i < bytes; i += 65536) {
        size_t n = std::min<size_t>(65536, bytes - i);
        dsdmod::tone_fill(t, in.data(), n * 8);
        dsdmod::modulator_run(m, in.data(), out.data(), n);
    }
    ModRun r;
    r.resets = m.resets;
    r.peak = m.peak;
    return r;
}

// Band-limited view of a modulated stream at 176.4 kHz, with the first
// 10 ms (loop start-up) dropped.
std::vector<double> baseband(const std::vector<uint8_t>& bits, double rate, double& out_rate) {
    size_t factor = static_cast<size_t>(rate / 176400.0);
    sig::Decimated d = sig::decimate_dsd(bits, rate, factor);
    out_rate = d.rate;
    size_t skip = static_cast<size_t>(0.01 * d.rate);
    return std::vector<double>(d.samples.begin() + static_cast<std::ptrdiff_t>(skip), d.samples.end());
}

TEST(ModulatorDesign, OutOfBandGainZerosAndPoles) {
    for (double rate : kRates) {
        for (int order = 1; order <= dsdmod::kMaxOrder; ++order) {
            SCOPED_TRACE("rate " + std::to_string(rate) + " order " + std::to_string(order));
            dsdmod::Modulator m;
            ASSERT_TRUE(dsdmod::modulator_design(m, order, rate));
            EXPECT_NEAR(std::abs(dsdmod::modulator_ntf(m, 0.5)), dsdmod::kDefaultOutOfBandGain, 1e-9);
            double maxgain = 0.0;
            for (int i = 0; i <= 4000; ++i) maxgain = std::max(maxgain, std::abs(dsdmod::modulator_ntf(m, 0.5 * i / 4000)));
            EXPECT_LT(maxgain, dsdmod::kDefaultOutOfBandGain * 1.02);
            for (int i = 0; i < order; ++i) {
                auto z = m.zeros[static_cast<size_t>(i)];
                auto p = m.poles[static_cast<size_t>(i)];
                EXPECT_NEAR(std::abs(z), 1.0, 1e-12);
                // Zeros lie inside the audio band.
                EXPECT_LE(std::abs(std::arg(z)) / (2 * std::numbers::pi) * rate, 20000.0 * (1 + 1e-9));
                EXPECT_LT(std::abs(p), 1.0);
            }
        }
    }
}

TEST(ModulatorDesign, RefusesImpossibleParameters) {
    dsdmod::Modulator m;
    EXPECT_FALSE(dsdmod::modulator_design(m, 0, 2822400.0));
    EXPECT_FALSE(dsdmod::modulator_design(m, dsdmod::kMaxOrder + 1, 2822400.0));
    EXPECT_FALSE(dsdmod::modulator_design(m, 7, 0.0));
    EXPECT_FALSE(dsdmod::modulator_design(m, 7, 44100.0));  // no room above a 20 kHz band
    EXPECT_FALSE(dsdmod::modulator_design(m, 7, 2822400.0, 20000.0, 1.0));
}

// In-band noise (20 Hz - 20 kHz) relative to a full-scale sine, tone level
// and frequency, at every supported rate.
struct NoiseCase {
    double freq;
    double amp;
};

class ModulatorNoise : public ::testing::TestWithParam<double> {};

TEST_P(ModulatorNoise, InBandNoiseLevelAndFrequency) {
    const double rate = GetParam();
    const NoiseCase cases[] = {{1000.0, 0.1}, {1000.0, 0.25}, {1000.0, 0.5}, {20.0, 0.5}, {19000.0, 0.5}};
    for (const NoiseCase& c : cases) {
        SCOPED_TRACE("rate " + std::to_string(rate) + " freq " + std::to_string(c.freq) + " amp " +
                     std::to_string(c.amp));
        ModRun r = modulate(rate, {{c.freq, c.amp}}, 0.4);
        EXPECT_EQ(r.resets, 0u);
        double fs = 0.0;
        std::vector<double> y = baseband(r.bits, rate, fs);
        sig::SineFit fit = sig::fit_sine(y, c.freq, fs);
        EXPECT_NEAR(sig::amplitude_dbfs(fit.amplitude), sig::amplitude_dbfs(c.amp), 0.01);
        EXPECT_NEAR(fit.dc, 0.0, 1e-5);
        if (c.freq == 1000.0) {
            EXPECT_NEAR(sig::estimate_frequency(y, fs), c.freq, 0.01);
        }
        std::vector<double> residual = sig::remove_sine(y, c.freq, fs);
        double noise = sig::band_power(residual, fs, 20.0, 20000.0, {c.freq}, 30.0);
        double below = -sig::power_dbfs(noise);
        std::printf("  rate %8.0f  %5.0f Hz  amp %.2f: level %.4f dBFS, in-band noise %.1f dB below full scale\n",
                    rate, c.freq, c.amp, sig::amplitude_dbfs(fit.amplitude), below);
        EXPECT_GE(below, 110.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ModulatorNoise, ::testing::ValuesIn(kRates));

// The same measurement does see noise where there is some: a second-order
// loop leaves far more in the band.
TEST(ModulatorNoiseMeasure, SeesTheNoiseOfALowOrderLoop) {
    const double rate = 2822400.0;
    dsdmod::Modulator m;
    ASSERT_TRUE(dsdmod::modulator_design(m, 2, rate, 20000.0, 1.5));
    dsdmod::ToneGen t;
    dsdmod::tone_add(t, 1000.0, 0.5, rate);
    std::vector<uint8_t> bits(static_cast<size_t>(0.4 * rate / 8));
    std::vector<double> in(bits.size() * 8);
    dsdmod::tone_fill(t, in.data(), in.size());
    dsdmod::modulator_run(m, in.data(), bits.data(), bits.size());
    double fs = 0.0;
    std::vector<double> y = baseband(bits, rate, fs);
    double below = -sig::power_dbfs(sig::band_power(sig::remove_sine(y, 1000.0, fs), fs, 20.0, 20000.0, {1000.0}, 30.0));
    EXPECT_GT(below, 65.0);
    EXPECT_LT(below, 90.0);
}

// A half-scale 1 kHz tone for 10 s, and half-scale tones at the band's ends
// at every rate: the guard never fires and the quantizer input stays far
// below it.
TEST(ModulatorStability, LongRunsAtHalfScale) {
    ModRun r = modulate_discard(2822400.0, {{1000.0, 0.5}}, 10.0);
    EXPECT_EQ(r.resets, 0u);
    EXPECT_LT(r.peak, 1.2);
    for (double rate : kRates) {
        for (double f : {20.0, 19000.0}) {
            SCOPED_TRACE("rate " + std::to_string(rate) + " freq " + std::to_string(f));
            ModRun s = modulate_discard(rate, {{f, 0.5}}, 2.0);
            EXPECT_EQ(s.resets, 0u);
            EXPECT_LT(s.peak, 1.2);
        }
        // Two tones summing to half scale.
        ModRun t = modulate_discard(rate, {{19000.0, 0.25}, {20.0, 0.25}}, 1.0);
        EXPECT_EQ(t.resets, 0u);
    }
}

// Driven far beyond its range the loop overloads; the guard restarts it,
// and once the input is back in range the noise is as low as ever.
TEST(ModulatorStability, GuardCatchesOverloadAndRecovers) {
    const double rate = 2822400.0;
    dsdmod::Modulator m;
    ASSERT_TRUE(dsdmod::modulator_design(m, dsdmod::kDefaultOrder, rate));
    dsdmod::ToneGen loud, quiet;
    dsdmod::tone_add(loud, 1000.0, 0.95, rate);
    dsdmod::tone_add(quiet, 1000.0, 0.25, rate);
    std::vector<double> in(8 * 35280);
    std::vector<uint8_t> out(35280);
    dsdmod::tone_fill(loud, in.data(), in.size());
    dsdmod::modulator_run(m, in.data(), out.data(), out.size());
    EXPECT_GT(m.resets, 0u);
    EXPECT_TRUE(std::isfinite(m.peak));

    m.resets = 0;
    std::vector<uint8_t> bits(static_cast<size_t>(0.4 * rate / 8));
    std::vector<double> in2(bits.size() * 8);
    dsdmod::tone_fill(quiet, in2.data(), in2.size());
    dsdmod::modulator_run(m, in2.data(), bits.data(), bits.size());
    EXPECT_EQ(m.resets, 0u);
    double fs = 0.0;
    std::vector<double> y = baseband(bits, rate, fs);
    double noise = sig::band_power(sig::remove_sine(y, 1000.0, fs), fs, 20.0, 20000.0, {1000.0}, 30.0);
    EXPECT_GE(-sig::power_dbfs(noise), 110.0);
}

TEST(ModulatorOutput, MsbFirstAndOneIsPositive) {
    dsdmod::Modulator m;
    ASSERT_TRUE(dsdmod::modulator_design(m, dsdmod::kDefaultOrder, 2822400.0));
    // From a cleared state the first decision is the sign of the first
    // input sample, and it lands in the most significant bit.
    for (double first : {0.3, -0.3}) {
        dsdmod::modulator_reset(m);
        std::vector<double> in(8, 0.0);
        in[0] = first;
        uint8_t out = 0;
        dsdmod::modulator_run(m, in.data(), &out, 1);
        EXPECT_EQ((out >> 7) & 1, first > 0 ? 1 : 0);
    }
    // A constant input is the density of ones: +0.5 -> 75 % ones.
    for (double dc : {0.5, -0.5, 0.0}) {
        dsdmod::modulator_reset(m);
        std::vector<double> in(8 * 100000, dc);
        std::vector<uint8_t> out(100000);
        dsdmod::modulator_run(m, in.data(), out.data(), out.size());
        std::vector<double> d = sig::decode_bits(out);
        double mean = 0.0;
        for (double v : d) mean += v;
        mean /= static_cast<double>(d.size());
        EXPECT_NEAR(mean, dc, 1e-3);
    }
}

TEST(ModulatorOutput, StreamingInPiecesMatchesOneRun) {
    const double rate = 5644800.0;
    dsdmod::Modulator a, b;
    ASSERT_TRUE(dsdmod::modulator_design(a, 7, rate));
    ASSERT_TRUE(dsdmod::modulator_design(b, 7, rate));
    dsdmod::ToneGen t;
    dsdmod::tone_add(t, 997.0, 0.4, rate);
    std::vector<double> in(8 * 10000);
    dsdmod::tone_fill(t, in.data(), in.size());
    std::vector<uint8_t> whole(10000), parts(10000);
    dsdmod::modulator_run(a, in.data(), whole.data(), whole.size());
    size_t pos = 0;
    for (size_t piece : {1u, 7u, 300u, 4000u, 5692u}) {
        dsdmod::modulator_run(b, in.data() + 8 * pos, parts.data() + pos, piece);
        pos += piece;
    }
    ASSERT_EQ(pos, whole.size());
    EXPECT_EQ(whole, parts);
}

// The block-wise oscillator stays on the exact sine over long runs.
TEST(ToneGen, MatchesDirectSineOverLongRuns) {
    const double rate = 2822400.0;
    dsdmod::ToneGen t;
    ASSERT_TRUE(dsdmod::tone_add(t, 1234.5, 0.5, rate));
    ASSERT_TRUE(dsdmod::tone_add(t, 19000.0, 0.25, rate));
    std::vector<double> buf(1 << 20);
    double worst = 0.0;
    for (int block = 0; block < 20; ++block) {
        uint64_t first = t.next;
        dsdmod::tone_fill(t, buf.data(), buf.size());
        for (size_t i = 0; i < buf.size(); i += 4099) {
            long double n = static_cast<long double>(first + i);
            long double p1 = std::fmod(1234.5L * n / 2822400.0L, 1.0L);
            long double p2 = std::fmod(19000.0L * n / 2822400.0L, 1.0L);
            long double ref = 0.5L * std::sin(2 * std::numbers::pi_v<long double> * p1) +
                              0.25L * std::sin(2 * std::numbers::pi_v<long double> * p2);
            worst = std::max(worst, static_cast<double>(std::fabs(ref - static_cast<long double>(buf[i]))));
        }
    }
    // What remains is the frequency's own rounding to a double (1e-16
    // relative), which grows with the sample index.
    EXPECT_LT(worst, 1e-9);
    EXPECT_FALSE(dsdmod::tone_add(t, 1.0, 0.1, 0.0));
}

}  // namespace
