// The signal-analysis helpers that other tests lean on: each checked
// against a case whose answer is known in closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "signal_analysis.h"
#include "testutil.h"

namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> sine(size_t n, double freq, double rate, double amp, double phase = 0.0, double dc = 0.0) {
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = dc + amp * std::sin(2 * kPi * freq * static_cast<double>(i) / rate + phase);
    return x;
}

// |H(f)| of an FIR at f cycles per sample.
double response(const std::vector<double>& h, double f) {
    std::complex<double> s = 0.0;
    for (size_t k = 0; k < h.size(); ++k) s += h[k] * std::polar(1.0, -2 * kPi * f * static_cast<double>(k));
    return std::abs(s);
}

TEST(DecodeBits, MsbFirstPlusMinusOneAndChannelPick) {
    std::vector<uint8_t> data = {0x80, 0x01, 0xFF, 0x00};  // two channels, two frames
    std::vector<double> c0 = sig::decode_bits(data, 2, 0);
    std::vector<double> c1 = sig::decode_bits(data, 2, 1);
    std::vector<double> e0 = {1, -1, -1, -1, -1, -1, -1, -1, 1, 1, 1, 1, 1, 1, 1, 1};
    std::vector<double> e1 = {-1, -1, -1, -1, -1, -1, -1, 1, -1, -1, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(c0, e0);
    EXPECT_EQ(c1, e1);
    EXPECT_TRUE(sig::decode_bits(data, 2, 2).empty());
}

TEST(Fft, MatchesTheDirectTransform) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1, 1);
    for (size_t n : {1u, 2u, 8u, 64u, 256u}) {
        std::vector<std::complex<double>> a(n);
        for (auto& v : a) v = {u(rng), u(rng)};
        auto b = a;
        sig::fft(b);
        for (size_t k = 0; k < n; ++k) {
            std::complex<double> s = 0.0;
            for (size_t i = 0; i < n; ++i) s += a[i] * std::polar(1.0, -2 * kPi * static_cast<double>(i * k) / static_cast<double>(n));
            EXPECT_NEAR(std::abs(s - b[k]), 0.0, 1e-12 * static_cast<double>(n));
        }
    }
    std::vector<std::complex<double>> bad(12);
    EXPECT_THROW(sig::fft(bad), std::invalid_argument);
}

TEST(Lowpass, FlatPassbandAndDeepStopband) {
    const double rate = 2822400.0;
    auto h = sig::design_lowpass(rate, 20000.0, 156400.0, 160.0);
    ASSERT_EQ(h.size() % 2, 1u);
    double worst_pass = 0.0, worst_stop = 0.0;
    for (double f = 0.0; f <= 20000.0; f += 500.0) worst_pass = std::max(worst_pass, std::abs(20 * std::log10(response(h, f / rate))));
    for (double f = 156400.0; f <= rate / 2; f += 997.0) worst_stop = std::max(worst_stop, response(h, f / rate));
    EXPECT_LT(worst_pass, 1e-4);  // dB
    EXPECT_LT(20 * std::log10(worst_stop), -150.0);
    EXPECT_THROW(sig::design_lowpass(rate, 20000.0, 10000.0, 100.0), std::invalid_argument);
}

TEST(FirDecimate, ValidOutputsOnlyAndDelay) {
    // An impulse at input 20 through a 5-tap filter, decimated by 2: the
    // outputs hold the reversed taps at the matching positions.
    std::vector<double> x(30, 0.0);
    x[20] = 1.0;
    std::vector<double> h = {1, 2, 3, 4, 5};
    std::vector<double> y = sig::fir_decimate(x, h, 2);
    ASSERT_EQ(y.size(), (30u - 5u) / 2 + 1);
    for (size_t m = 0; m < y.size(); ++m) {
        double expect = 0.0;
        for (size_t k = 0; k < 5; ++k)
            if (m * 2 + k == 20) expect = h[k];
        EXPECT_EQ(y[m], expect) << m;
    }
    EXPECT_TRUE(sig::fir_decimate(std::vector<double>(4), h, 2).empty());
}

TEST(SineFit, RecoversAmplitudePhaseAndDc) {
    const double rate = 44100.0;
    for (double phase : {0.0, 1.0, -2.5}) {
        auto x = sine(10000, 997.3, rate, 0.37, phase, 0.01);
        sig::SineFit f = sig::fit_sine(x, 997.3, rate);
        EXPECT_NEAR(f.amplitude, 0.37, 1e-12);
        EXPECT_NEAR(std::remainder(f.phase - phase, 2 * kPi), 0.0, 1e-10);
        EXPECT_NEAR(f.dc, 0.01, 1e-12);
        EXPECT_LT(f.residual_power, 1e-24);
        auto r = sig::remove_sine(x, 997.3, rate);
        for (double v : r) ASSERT_NEAR(v, 0.0, 1e-12);
    }
    // Goertzel over whole periods: 1000 Hz at 48 kHz, 48 samples a period.
    auto y = sine(4800, 1000.0, 48000.0, 0.25);
    EXPECT_NEAR(sig::goertzel_amplitude(y, 1000.0, 48000.0), 0.25, 1e-12);
    EXPECT_NEAR(sig::goertzel_amplitude(y, 3000.0, 48000.0), 0.0, 1e-12);
}

TEST(EstimateFrequency, FindsAnOffBinTone) {
    std::mt19937 rng(1);
    std::normal_distribution<double> n(0.0, 1e-4);
    auto x = sine(65536, 1234.567, 176400.0, 0.5);
    for (auto& v : x) v += n(rng);
    EXPECT_NEAR(sig::estimate_frequency(x, 176400.0), 1234.567, 1e-3);
}

TEST(BandPower, WhiteNoiseShareAndToneExclusion) {
    const double rate = 100000.0;
    std::mt19937 rng(7);
    std::normal_distribution<double> n(0.0, 1e-3);  // power 1e-6 over 0..50 kHz
    std::vector<double> x(1 << 17);
    for (auto& v : x) v = n(rng);
    // A fifth of the band holds a fifth of the power (about 4000
    // independent bins: a few per cent of spread).
    EXPECT_NEAR(sig::band_power(x, rate, 10000.0, 20000.0) / 2e-7, 1.0, 0.06);
    // A full-scale-ish tone in the band is left out by the exclusion; the
    // window keeps its leakage far below the noise.
    auto t = sine(x.size(), 15000.0, rate, 0.5);
    for (size_t i = 0; i < x.size(); ++i) t[i] += x[i];
    EXPECT_NEAR(sig::band_power(t, rate, 10000.0, 20000.0, {15000.0}, 20.0) / 2e-7, 1.0, 0.06);
    // Without the exclusion the tone's power (0.125) dominates.
    EXPECT_NEAR(sig::band_power(t, rate, 10000.0, 20000.0), 0.125, 0.001);
    EXPECT_NEAR(sig::power_dbfs(0.5), 0.0, 1e-12);
    EXPECT_NEAR(sig::amplitude_dbfs(0.5), -6.0206, 1e-4);
}

TEST(ThdN, KnownHarmonicAndNoise) {
    const double rate = 176400.0;
    // Third harmonic 80 dB below the fundamental.
    auto x = sine(1 << 16, 1000.0, rate, 0.5);
    auto h3 = sine(x.size(), 3000.0, rate, 0.5e-4);
    for (size_t i = 0; i < x.size(); ++i) x[i] += h3[i];
    EXPECT_NEAR(sig::thd_n_db(x, 1000.0, rate), -80.0, 0.1);
    // A harmonic outside the band does not count.
    auto y = sine(1 << 16, 1000.0, rate, 0.5);
    auto h = sine(y.size(), 30000.0, rate, 0.05);
    for (size_t i = 0; i < y.size(); ++i) y[i] += h[i];
    EXPECT_LT(sig::thd_n_db(y, 1000.0, rate), -200.0);
}

TEST(DecimateDsd, ConstantDensityBecomesDc) {
    // 0xEE has six ones in eight: +0.5 average.
    std::vector<uint8_t> bits(200000, 0xEE);
    sig::Decimated d = sig::decimate_dsd(bits, 2822400.0, 16);
    EXPECT_DOUBLE_EQ(d.rate, 176400.0);
    ASSERT_FALSE(d.samples.empty());
    for (double v : d.samples) ASSERT_NEAR(v, 0.5, 1e-9);
    EXPECT_THROW(sig::decimate_dsd(bits, 2822400.0, 64), std::invalid_argument);
}

// ---- RF64 / WAVE reader ----------------------------------------------------

std::vector<uint8_t> rf64(uint64_t frames, const std::vector<int16_t>& samples) {
    using namespace testutil;
    std::vector<uint8_t> b;
    put_str(b, "RF64");
    put_le(b, 0xFFFFFFFF, 4);
    put_str(b, "WAVEds64");
    put_le(b, 28, 4);
    put_le(b, 4 * frames + 76, 8);
    put_le(b, 4 * frames, 8);
    put_le(b, frames, 8);
    put_le(b, 0, 4);
    put_str(b, "fmt ");
    put_le(b, 20, 4);
    put_le(b, 1, 2);
    put_le(b, 2, 2);
    put_le(b, 44100, 4);
    put_le(b, 176400, 4);
    put_le(b, 4, 2);
    put_le(b, 16, 2);
    put_le(b, 0, 4);
    put_str(b, "data");
    put_le(b, 0xFFFFFFFF, 4);
    for (int16_t s : samples) put_le(b, static_cast<uint16_t>(s), 2);
    return b;
}

TEST(ReadWave, Rf64HeaderFieldsAndFrames) {
    std::vector<int16_t> s = {1, -1, 32767, -32768, 100, -200};
    auto b = rf64(3, s);
    ASSERT_EQ(b.size(), 84u + 12u);
    sig::Wave w;
    ASSERT_TRUE(sig::read_wave(b, w)) << w.error;
    EXPECT_EQ(w.form, "RF64");
    EXPECT_EQ(w.riff_size32, 0xFFFFFFFFu);
    EXPECT_TRUE(w.has_ds64);
    EXPECT_EQ(w.ds64_size, 28u);
    EXPECT_EQ(w.riff_size, 88u);
    EXPECT_EQ(w.data_size, 12u);
    EXPECT_EQ(w.data_size32, 0xFFFFFFFFu);
    EXPECT_EQ(w.sample_count, 3u);
    EXPECT_EQ(w.fmt_size, 20u);
    EXPECT_EQ(w.format_tag, 1);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.sample_rate, 44100u);
    EXPECT_EQ(w.byte_rate, 176400u);
    EXPECT_EQ(w.block_align, 4);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.data_offset, 84u);
    EXPECT_EQ(w.left, (std::vector<int16_t>{1, 32767, 100}));
    EXPECT_EQ(w.right, (std::vector<int16_t>{-1, -32768, -200}));
    auto d = sig::pcm_to_double(w.right);
    EXPECT_DOUBLE_EQ(d[1], -1.0);
}

TEST(ReadWave, PlainRiff) {
    using namespace testutil;
    std::vector<uint8_t> b;
    put_str(b, "RIFF");
    put_le(b, 4 + 24 + 8 + 8, 4);
    put_str(b, "WAVEfmt ");
    put_le(b, 16, 4);
    for (auto [v, w] : std::vector<std::pair<uint64_t, int>>{{1, 2}, {2, 2}, {44100, 4}, {176400, 4}, {4, 2}, {16, 2}})
        put_le(b, v, w);
    put_str(b, "data");
    put_le(b, 8, 4);
    for (int16_t s : {5, 6, 7, 8}) put_le(b, static_cast<uint16_t>(s), 2);
    sig::Wave w;
    ASSERT_TRUE(sig::read_wave(b, w)) << w.error;
    EXPECT_EQ(w.form, "RIFF");
    EXPECT_FALSE(w.has_ds64);
    EXPECT_EQ(w.data_size, 8u);
    EXPECT_EQ(w.left, (std::vector<int16_t>{5, 7}));
    EXPECT_EQ(w.right, (std::vector<int16_t>{6, 8}));
}

TEST(ReadWave, RefusesMalformedFiles) {
    std::vector<int16_t> s = {1, 2, 3, 4};
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        size_t frames_read;
    };
    auto placeholder = rf64(4294967295ull, s);  // header never finalised
    auto short_riff = rf64(2, s);
    short_riff[20] = 99;  // RIFF size off
    auto mono = rf64(2, s);
    mono[58] = 1;
    auto riff_without_ds64 = rf64(2, s);
    riff_without_ds64[12] = 'x';  // an unknown chunk now: no 64-bit sizes
    auto good = rf64(2, s);
    std::vector<uint8_t> cut(good.begin(), good.begin() + 50);
    std::vector<Case> cases = {
        {"empty", {}, 0},
        {"not a wave", {'F', 'R', 'M', '8', 0, 0, 0, 0, 'D', 'S', 'D', ' '}, 0},
        {"placeholder sizes", placeholder, 2},
        {"riff size mismatch", short_riff, 2},
        {"mono", mono, 2},
        {"RF64 without ds64", riff_without_ds64, 2},
        {"cut inside the header", cut, 0},
    };
    for (const Case& c : cases) {
        sig::Wave w;
        EXPECT_FALSE(sig::read_wave(c.bytes, w)) << c.what;
        EXPECT_FALSE(w.error.empty()) << c.what;
        EXPECT_EQ(w.left.size(), c.frames_read) << c.what;
    }
    sig::Wave w;
    EXPECT_FALSE(sig::read_wave_file("/nonexistent/x.wav", w));
}

}  // namespace
