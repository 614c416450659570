// The decimator against the plain loops it stands for and the direct form; refusals, routing, coefficients, a tone.
#include <gtest/gtest.h>
#include <cstring>
#include "coeffgen_design.h"
#include "deltasigma.h"
#include "modulator.h"
#include "outputsets.h"
#include "pcmstage.h"
#include "support.h"
#include "wavetone.h"
ChannelSwitch channel_switches[DSD_MAX_CHANNELS];  // owned by the converter, read by coeff_deltasigma_init
namespace {
struct Set { const float* h; int taps, block; };  // taps: the stored ones and a zero; block: bytes per channel
Set at(int r) { return {r == 2822400 ? coeff_FDA_2822k : r == 5644800 ? coeff_FDA_5644k : coeff_FDA_11289k, r / 44100 * 32, r / 352800}; }
void route(unsigned left, unsigned right) {  // bit c of a mask routes channel c; any value but 0 does
    for (unsigned c = 0; c < DSD_MAX_CHANNELS; ++c) channel_switches[c] = {left >> c & 1 ? 7 : 0, right >> c & 1 ? -1 : 0};
}
bool routed(int c, int side) { return (side ? channel_switches[c].to_right : channel_switches[c].to_left) != 0; }
// The plain loops: per slot the signed sums of 8 taps (the first bit the most significant, 1 is +1) for each byte added
// over byte positions, then channels; a ring of 32 sums read backwards; means per side.
struct Plain {
    Set s;
    int k, index = 0;
    float ring[2][32] = {}, out[2] = {};
    float group(int g, int v) const {
        float acc = 0.0f;
        for (int j = 0, t = 8 * g; j < 8; ++j, ++t) acc += (v >> (7 - j) & 1 ? 1 : -1) * (t < s.taps - 1 ? s.h[t] : 0.0f);
        return acc;
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
                        if (routed(c, side)) acc += group(q * s.block + pos, block[pos * k + c]);
                ring[side][(p + q) % 32] += acc;
            }
        }
        return index = (index + 1) % 32, out;
    }
};
// The decimator, initialised by the caller, over 100 random blocks: the plain loops' bits, and near the direct form: per side
// the mean over its channels of sum h[t] b((m - 32) 8 B + t) at call m, b = +-1 and 0 before the stream. Refusals leave it be.
void expect_bit_exact(int rate, int k, unsigned seed, Set set) {
    Plain plain{set, k};
    const int size = k * plain.s.block, bits = 8 * plain.s.block;  // one call's bytes, and bits of a channel
    std::vector<uint8_t> data(size_t(100 * size));
    for (auto& b : data) b = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
    for (int m = 0; m < 100; ++m) {
        for (int bad : {44100, 0, -1, 2822401, 352800, rate})  // before call 50; at `rate` too many channels
            EXPECT_TRUE(m != 50 || coeff_deltasigma_init(bad, bad == rate ? DSD_MAX_CHANNELS + 1 : k) == 0) << bad;
        const float* y = coeff_deltasigma(data.data() + m * size);
        ASSERT_EQ(std::memcmp(y, plain.step(data.data() + m * size), 8), 0) << rate << " Hz, " << k << " ch, call " << m;
        for (int side = 0, count = 0; side < 2; ++side, count = 0) {
            double sum = 0.0;
            for (int c = 0; c < k; count += routed(c++, side))
                for (long t = 0, n = (m - 32L) * bits; routed(c, side) && t < plain.s.taps - 1; ++t, ++n)
                    sum += n < 0 ? 0 : plain.s.h[t] * (data[size_t(n / 8 * k + c)] >> (7 - n % 8) & 1 ? 1 : -1);
            ASSERT_NEAR(y[side], count ? sum / count : 0.0, 5e-7) << rate << " Hz, " << k << " ch, call " << m << " side " << side;
        }
    }
}
TEST(Decimator, BitExactWithThePlainLoopsAtEveryVectorLevelNearTheDirectFormRefusalsKeepTheRunningFilter) {
    const struct { int k; unsigned left, right; } routings[] = {  // the last two silent: nothing routed, no channel
        {1, 1, 0}, {2, 1, 2}, {6, 0b110011, 0b011110}, {10, 0x3FF, 0x2B5}, {6, 0, 0}, {0, 1, 1}};
    for (int level = 0, best = coeff_deltasigma_vector_level(99); level <= best; ++level)
        for (int rate : {2822400, 5644800, 11289600})
            for (const auto& r : routings) {
                route(r.left, r.right);
                ASSERT_TRUE(coeff_deltasigma_vector_level(level) == level && coeff_deltasigma_init(rate, r.k) == -1);
                expect_bit_exact(rate, r.k, unsigned(rate + r.k), at(rate));
            }
}
// The rows of the higher output rates as exact, their blocks a quarter or half of the 44.1 kHz ones; and every row run in
// batches of 1 to 7 calls gives the bits of call after call.
TEST(Decimator, HigherRateRowsAndBatchesAsExactAtEveryVectorLevel) {
    for (int level = 0, best = coeff_deltasigma_vector_level(99); level <= best; ++level)
        for (const CoeffInfo* rows : {s_coeff_infos, s_coeff_infos_88k, s_coeff_infos_176k})
            for (const CoeffInfo* row = rows; row->rate > 0; ++row) {
                route(0b101, 0b110);
                ASSERT_TRUE(coeff_deltasigma_vector_level(level) == level && coeff_deltasigma_init_from(rows, row->rate, 3) == -1);
                if (rows != s_coeff_infos) expect_bit_exact(row->rate, 3, unsigned(row->filter_len), {row->coeffs, row->filter_len, row->history_bytes / 32});
                const int size = 3 * row->history_bytes / 32, n = 100;
                std::vector<uint8_t> data(size_t(n * size));
                for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 2654435761u >> 13);
                std::vector<float> one, many(2 * n);
                coeff_deltasigma_init_from(rows, row->rate, 3);
                for (int m = 0; m < n; ++m)
                    if (const float* y = coeff_deltasigma(&data[size_t(m * size)])) one.insert(one.end(), y, y + 2);
                coeff_deltasigma_init_from(rows, row->rate, 3);
                for (int m = 0, b = 1; m < n; m += b, b = b % 7 + 1) coeff_deltasigma_run(&data[size_t(m * size)], std::min(b, n - m), &many[size_t(2 * m)]);
                EXPECT_EQ(std::memcmp(one.data(), many.data(), 8 * n), 0) << row->rate << " level " << level;
            }
}
// The half-rate stage: every second pair out, near the plain double sum of taps over the last inputs (oldest to index 0, the
// zero padding in front), at every vector level; counts out of range refused.
TEST(PcmStage, HalvesTheRateNearThePlainDoubleSumAtEveryVectorLevel) {
    EXPECT_TRUE(pcm_stage_init(coeff_FDA_88k_44k, 0) == 0 && pcm_stage_init(coeff_FDA_88k_44k, PCM_STAGE_MAX_TAPS + 1) == 0);
    std::vector<float> x(2 * 2000);
    unsigned seed = 5;
    for (float& v : x) v = float(int((seed = seed * 1103515245 + 12345) >> 16 & 0xFFFF) - 32768) / 32768.0f;
    const int n = 255, padded = 256;
    for (int level = 0, best = pcm_stage_vector_level(99); level <= best; ++level) {
        ASSERT_TRUE(pcm_stage_vector_level(level) == level && pcm_stage_init(coeff_FDA_88k_44k, n) == -1);
        for (int i = 0; i < 2000; ++i) {
            const float* y = pcm_stage(&x[2 * i]);
            ASSERT_EQ(y == nullptr, i % 2 == 0) << i;
            for (int side = 0; y != nullptr && side < 2; ++side) {
                double sum = 0.0;
                for (int t = padded - n; t < padded; ++t)
                    sum += i - padded + 1 + t < 0 ? 0.0 : coeff_FDA_88k_44k[t - (padded - n)] * double(x[2 * (i - padded + 1 + t) + side]);
                ASSERT_NEAR(y[side], sum, 2e-6) << "level " << level << " input " << i << " side " << side;
            }
        }
    }
}
TEST(Decimator, ModulatedToneComesOutAtItsLevel) {  // at one rate; the converter's tests measure tones at each
    dsdmod::Modulator mod;  // of 7th order
    dsdmod::ToneGen tone;
    route(1, 0);
    ASSERT_TRUE(dsdmod::modulator_design(mod, 7, 2822400) && dsdmod::tone_add(tone, 1000, 0.5, 2822400) &&
                coeff_deltasigma_init(2822400, 1));
    std::vector<double> in(64), out;  // one call's samples
    std::vector<uint8_t> block(8);
    for (int m = 0; m < 32 + 4410; ++m) {  // the first 32 outputs fill the window
        dsdmod::tone_fill(tone, in.data(), in.size());
        dsdmod::modulator_run(mod, in.data(), block.data(), block.size());
        if (const float y = coeff_deltasigma(block.data())[0]; m >= 32) out.push_back(y);
    }
    Tone t;
    EXPECT_TRUE(tone_fit(out, 44100, 1000, 0, out.size(), t) && std::abs(t.amplitude - 0.5) < 5e-4 && t.residual < 5e-6)
        << t.amplitude << ", " << t.residual;
}
TEST(Coefficients, CommittedModulesAreTheGeneratorsOutput) {
    const std::string dir = ts::tmpdir();
    ASSERT_EQ(ts::run({ts::bin("coeffgen"), dir}).status, 0);
    for (const CoeffgenSet& set : coeffgen_sets)
        EXPECT_TRUE(ts::read_file(dir + "/" + set.module + ".cpp") ==
                    ts::read_file(std::string(DSD_SOURCE_DIR "/filter/") + set.module + ".cpp")) << set.module << ": run coeffgen-update";
}
}  // namespace
