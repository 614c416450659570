// The lookup-table decimator bit for bit against the plain loops it stands for at every vector level, against the
// direct-form FIR, its refusals and routing; the committed coefficient modules; a modulated tone through it.
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include "coeffgen_design.h"
#include "deltasigma.h"
#include "modulator.h"
#include "support.h"
#include "wavetone.h"
ChannelSwitch channel_switches[MAX_CHANNELS];  // owned by the converter, read by coeff_deltasigma_init
namespace {
struct Set { const float* h; int taps, block; };  // taps: the stored ones and a zero; block: bytes per channel
Set set_for(int r) {
    return {r == 2822400 ? coeff_FDA_2822k : r == 5644800 ? coeff_FDA_5644k : coeff_FDA_11289k, r / 352800 * 256, r / 352800};
}
void route(unsigned left, unsigned right) {  // bit c of a mask routes channel c; any value but 0 does
    for (unsigned c = 0; c < MAX_CHANNELS; ++c) channel_switches[c] = {left >> c & 1 ? 7 : 0, right >> c & 1 ? -1 : 0};
}
bool routed(int c, int side) { return (side ? channel_switches[c].to_right : channel_switches[c].to_left) != 0; }
std::vector<uint8_t> noise(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    std::mt19937 gen(seed);
    return std::generate(v.begin(), v.end(), [&] { return uint8_t(gen()); }), v;
}
// The plain loops: per group of 8 taps and byte value the signed sum of the taps (the first bit the most significant,
// 1 is +1); per slot rows added over byte positions, then channels; a ring of 32 sums read backwards; means per side.
struct Plain {
    Set s;
    int k, index = 0;
    std::vector<float> table;
    float ring[2][32] = {}, out[2] = {};
    Plain(int rate, int channels) : s(set_for(rate)), k(channels), table(size_t(s.taps / 8 * 256)) {
        for (int g = 0; g < s.taps / 8; ++g)
            for (int v = 0; v < 256; ++v)
                for (int j = 0, t = 8 * g; j < 8; ++j, ++t)
                    table[size_t(g * 256 + v)] += (v >> (7 - j) & 1 ? 1 : -1) * (t < s.taps - 1 ? s.h[t] : 0.0f);
    }
    const float* step(const uint8_t* block) {
        const int p = (32 - index) % 32;
        for (int side = 0, count = 0; side < 2; ++side, count = 0) {
            for (int c = 0; c < k; ++c) count += routed(c, side);
            out[side] = count ? ring[side][p] / float(count) : 0.0f, ring[side][p] = 0.0f;
            for (int q = 0; q < 32; ++q) {
                float acc = 0.0f;
                for (int pos = 0; pos < s.block; ++pos)
                    for (int c = 0; c < k; ++c)
                        if (routed(c, side)) acc += table[size_t((q * s.block + pos) * 256 + block[pos * k + c])];
                ring[side][(p + q) % 32] += acc;
            }
        }
        return index = (index + 1) % 32, out;
    }
};
// The decimator, initialised by the caller, and the plain loops over 100 random blocks; `between` runs before call 50.
void expect_bit_exact(int rate, int k, unsigned seed, void (*between)() = nullptr) {
    Plain plain(rate, k);
    const size_t size = size_t(k * plain.s.block);
    const std::vector<uint8_t> data = noise(100 * size, seed);
    for (int m = 0; m < 100; ++m) {
        if (m == 50 && between) between();
        const uint8_t* block = data.data() + m * size;
        ASSERT_EQ(std::memcmp(coeff_deltasigma(block), plain.step(block), 8), 0) << rate << " Hz, " << k << " ch, call " << m;
    }
}
TEST(Decimator, BitExactWithThePlainLoopsAtEveryVectorLevelRefusalsKeepTheRunningFilter) {
    const int best = coeff_deltasigma_vector_level(99);
    const struct { int k; unsigned left, right; } routings[] = {  // the last two silent: nothing routed, no channel
        {1, 1, 0}, {2, 1, 2}, {6, 0b110011, 0b011110}, {10, 0x3FF, 0x2B5}, {6, 0, 0}, {0, 1, 1}};
    for (int level = 0; level <= best; ++level)
        for (int rate : {2822400, 5644800, 11289600})
            for (const auto& r : routings) {
                route(r.left, r.right);
                ASSERT_TRUE(coeff_deltasigma_vector_level(level) == level && coeff_deltasigma_init(rate, r.k) == -1);
                expect_bit_exact(rate, r.k, unsigned(rate + r.k));
            }
    route(1, 2);
    ASSERT_EQ(coeff_deltasigma_init(5644800, 2), -1);
    expect_bit_exact(5644800, 2, 5, [] {
        for (int rate : {44100, 0, -1, 2822401, 352800}) EXPECT_EQ(coeff_deltasigma_init(rate, 2), 0) << rate;
        EXPECT_EQ(coeff_deltasigma_init(2822400, MAX_CHANNELS + 1), 0);
    });
}
// Call m of the direct form: per side the mean over its channels of sum h[t] b((m - 32) 8 B + t), b = +-1 and 0
// before the stream. Channel 1 goes to both sides, 0 left, 2 right, 3 nowhere: two channels a side.
TEST(Decimator, EqualsTheDirectFormAtEachRateSidesAreMeansOverTheirChannels) {
    route(0b0011, 0b0110);
    for (int rate : {2822400, 5644800, 11289600}) {
        const Set s = set_for(rate);
        const int k = 4, bits = 8 * s.block;  // one call's bits of a channel
        const std::vector<uint8_t> data = noise(size_t(k * s.block * 70), unsigned(rate));
        ASSERT_EQ(coeff_deltasigma_init(rate, k), -1);
        for (int m = 0; m < 70; ++m) {
            const float* y = coeff_deltasigma(data.data() + size_t(m * k * s.block));
            for (int side = 0; side < 2; ++side) {
                double sum = 0.0;
                for (int c = 0; c < k; ++c)
                    for (long t = 0, n = (m - 32L) * bits; routed(c, side) && t < s.taps - 1; ++t, ++n)
                        sum += n < 0 ? 0 : s.h[t] * (data[size_t((n / bits * s.block + n % bits / 8) * k + c)] >> (7 - n % 8) & 1 ? 1 : -1);
                ASSERT_NEAR(y[side], sum / 2, 5e-7) << rate << " call " << m << " side " << side;
            }
        }
    }
}
TEST(Decimator, ModulatedToneComesOutAtItsLevel) {
    route(1, 0);
    for (int rate : {2822400, 5644800, 11289600}) {
        dsdmod::Modulator mod;  // of 7th order
        dsdmod::ToneGen tone;
        ASSERT_TRUE(dsdmod::modulator_design(mod, 7, rate) && dsdmod::tone_add(tone, 1000, 0.5, rate) && coeff_deltasigma_init(rate, 1));
        std::vector<double> in(size_t(8 * set_for(rate).block)), out;
        std::vector<uint8_t> block(in.size() / 8);
        for (int m = 0; m < 32 + 4410; ++m) {  // the first 32 outputs fill the window
            dsdmod::tone_fill(tone, in.data(), in.size());
            dsdmod::modulator_run(mod, in.data(), block.data(), block.size());
            if (const float y = coeff_deltasigma(block.data())[0]; m >= 32) out.push_back(y);
        }
        Tone t;
        ASSERT_TRUE(tone_fit(out, 44100, 1000, 0, out.size(), t));
        EXPECT_TRUE(std::abs(t.amplitude - 0.5) < 5e-4 && t.residual < 5e-6) << rate << ": " << t.amplitude << ", " << t.residual;
    }
}
TEST(Coefficients, CommittedModulesAreTheGeneratorsOutput) {
    const std::string dir = ts::tmpdir();
    ASSERT_EQ(ts::run({ts::bin("coeffgen"), dir}).status, 0);
    for (const CoeffgenSet& set : coeffgen_sets)
        EXPECT_TRUE(ts::read_file(dir + "/" + set.module + ".cpp") ==
                    ts::read_file(std::string(DSD_SOURCE_DIR "/filter/") + set.module + ".cpp")) << set.module << ": run coeffgen-update";
}
}  // namespace
