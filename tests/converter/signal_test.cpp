// What sigmelt does to the sound: level, delay and distortion of a tone
// through the whole program at every rate, and samples beyond full scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "deltasigma.h"
#include "melt_util.h"

// The filter reads the routing table of its program; this one is unused.
ChannelSwitch channel_switches[MAX_CHANNELS];

namespace {

using melt::sigmelt;

class SigmeltSignal : public ::testing::Test {
protected:
    std::string dir = testutil::make_temp_dir();
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

double wrap(double a) { return std::remainder(a, 2 * std::numbers::pi); }

// A 1 kHz tone at half scale comes out at -6.02 dBFS, 16 frames and one bit
// late, on both sides, at every rate.
TEST_F(SigmeltSignal, ToneLevelDelayAndThdN) {
    for (const int rate : {2822400, 5644800, 11289600}) {
        SCOPED_TRACE(rate);
        const std::string src = path("tone.dff"), out = path("tone.wav");
        ASSERT_TRUE(testutil::dsdgen(
            {"--rate=" + std::to_string(rate), "--seconds=1.2", "--tone=all:1000:0.5", src}));
        const auto r = sigmelt({src, out});
        ASSERT_EQ(r.status, 0) << r.err;
        const sig::Wave w = melt::load_wave(out);
        ASSERT_EQ(w.sample_count, 52920u);
        // One second from frame 4410 on: whole periods, window long past.
        constexpr size_t kStart = 4410;
        for (const auto* side : {&w.left, &w.right}) {
            const auto x = melt::to_unit(*side, kStart, 44100);
            const sig::SineFit fit = sig::fit_sine(x, 1000.0, 44100.0);
            EXPECT_NEAR(melt::db(fit.amplitude), -6.0206, 0.01);
            // Sample m holds the input at bit 64 M (m - 16) - 1.
            const double m = rate / 2822400.0;
            const double bit = 64 * m * (static_cast<double>(kStart) - 16) - 1;
            const double want = 2 * std::numbers::pi * 1000.0 * bit / rate;
            EXPECT_NEAR(wrap(fit.phase - want), 0.0, 0.003) << "phase " << fit.phase << " want " << wrap(want);
            EXPECT_NEAR(fit.dc, 0.0, 1e-4);
            const double thdn = sig::thd_n_db(x, 1000.0, 44100.0);
            EXPECT_LT(thdn, -89.0);  // 16-bit truncation alone gives about -90.5 dB
            std::printf("rate %d Hz: level %.4f dBFS, THD+N %.1f dB\n", rate, melt::db(fit.amplitude), thdn);
            RecordProperty("thd_n_db_" + std::to_string(rate), std::to_string(thdn));
        }
    }
}

// The ring buffer holds 262144 frames; a 7 s run wraps it. Every window,
// the ones across the wrap points included, is the clean tone with the
// phase that its position gives: no frame lost, repeated or out of order.
TEST_F(SigmeltSignal, FramesStayInOrderAcrossTheRingWrap) {
    const std::string src = path("long.dff"), out = path("long.wav");
    ASSERT_TRUE(testutil::dsdgen({"--seconds=7", "--tone=all:1000:0.5", src}));
    ASSERT_EQ(sigmelt({src, out}).status, 0);
    const sig::Wave w = melt::load_wave(out);
    ASSERT_EQ(w.sample_count, 7u * 44100);
    for (const size_t start : {size_t{4410}, size_t{262144 - 2205}, size_t{262144 + 1}, size_t{7 * 44100 - 4410 - 20}}) {
        SCOPED_TRACE(start);
        const auto x = melt::to_unit(w.left, start, 4410);
        const sig::SineFit fit = sig::fit_sine(x, 1000.0, 44100.0);
        EXPECT_NEAR(melt::db(fit.amplitude), -6.0206, 0.01);
        const double bit = 64 * (static_cast<double>(start) - 16) - 1;
        EXPECT_NEAR(wrap(fit.phase - 2 * std::numbers::pi * 1000.0 * bit / 2822400), 0.0, 0.003);
        EXPECT_LT(fit.residual_power, 1e-8);  // 16-bit truncation leaves about 3e-10
    }
}

// The filter can give values up to the sum of its absolute taps: a bit
// pattern that follows the taps' signs. Such values saturate at the 16-bit
// limits; they must never come out with the opposite sign.
TEST_F(SigmeltSignal, ValuesBeyondFullScaleSaturate) {
    const CoeffInfo& row = s_coeff_infos[0];
    ASSERT_EQ(row.rate, 2822400);
    const int n = row.filter_len;
    std::vector<float> h(row.coeffs, row.coeffs + n - 1);
    h.push_back(0.0f);
    double peak = 0;
    for (float v : h) peak += std::fabs(v);
    ASSERT_GT(peak, 1.1) << "no reachable value beyond full scale";

    // Channel 0 follows the signs, channel 1 the opposite; the window of
    // frame 32 covers exactly bits 0 to n - 1. Then 16 more blocks.
    const size_t per_channel = static_cast<size_t>(n) / 8 + 16 * 8;
    std::vector<uint8_t> sound(2 * per_channel, 0x69);
    for (size_t byte = 0; byte < static_cast<size_t>(n) / 8; ++byte) {
        uint8_t b = 0;
        for (int j = 0; j < 8; ++j) b = static_cast<uint8_t>((b << 1) | (h[byte * 8 + j] > 0 ? 1 : 0));
        sound[2 * byte] = b;
        sound[2 * byte + 1] = static_cast<uint8_t>(~b);
    }
    const std::string src = path("peak.dff"), out = path("peak.wav");
    ASSERT_TRUE(testutil::dsdgen({"--header-only", "--bytes=" + std::to_string(per_channel), src}));
    auto bytes = testutil::read_file(src);
    bytes.insert(bytes.end(), sound.begin(), sound.end());
    testutil::write_file(src, bytes);

    const auto r = sigmelt({src, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const sig::Wave w = melt::load_wave(out);
    ASSERT_EQ(w.sample_count, per_channel / 8);
    EXPECT_EQ(w.left[32], 32767);
    EXPECT_EQ(w.right[32], -32768);
    // Every frame against the filter's direct form in double precision:
    // frame m sees bits 64 (m - 32) .. 64 (m - 32) + n - 1, nothing before 0.
    auto bit = [&](size_t channel, int64_t i) -> double {
        if (i < 0) return 0.0;
        const uint8_t b = sound[2 * static_cast<size_t>(i / 8) + channel];
        return (b >> (7 - i % 8)) & 1 ? 1.0 : -1.0;
    };
    auto expected = [](double v) {
        const double p = std::trunc(v * 32767.0);
        return std::clamp(p, -32768.0, 32767.0);
    };
    int beyond = 0;
    for (size_t m = 0; m < w.sample_count; ++m) {
        for (size_t channel = 0; channel < 2; ++channel) {
            double v = 0;
            for (int t = 0; t < n; ++t) v += h[static_cast<size_t>(t)] * bit(channel, 64 * (static_cast<int64_t>(m) - 32) + t);
            if (std::fabs(v) > 1.0) ++beyond;
            const int16_t got = channel == 0 ? w.left[m] : w.right[m];
            EXPECT_NEAR(got, expected(v), 1.0) << "frame " << m << " channel " << channel << " value " << v;
        }
    }
    EXPECT_GE(beyond, 2);
}

}  // namespace
