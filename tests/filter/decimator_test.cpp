// The lookup-table decimator against the direct convolution it stands for
// and against a plain, loop-for-loop implementation that it must match bit
// for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "deltasigma.h"
#include "reference_decimator.h"
#include "testutil.h"

// The decimator reads the routing that the converter owns.
ChannelSwitch channel_switches[MAX_CHANNELS];

namespace {

constexpr int SLOTS = 32;
constexpr int RATES[3] = {2822400, 5644800, 11289600};

struct Set {
    const float* coeffs;
    int taps;  // including the appended zero
    int block_bytes;
};

Set set_for(int rate) {
    switch (rate) {
        case 2822400: return {coeff_FDA_2822k, 2048, 8};
        case 5644800: return {coeff_FDA_5644k, 4096, 16};
        default: return {coeff_FDA_11289k, 8192, 32};
    }
}

// Routings: which channels go left and right, as the converter fills them.
enum class Routing { EvenOdd, Both, LeftOnly, Mixed };

const char* routing_name(Routing r) {
    switch (r) {
        case Routing::EvenOdd: return "EvenOdd";
        case Routing::Both: return "Both";
        case Routing::LeftOnly: return "LeftOnly";
        default: return "Mixed";
    }
}

void route(Routing routing, int channels) {
    std::memset(channel_switches, 0, sizeof channel_switches);
    for (int c = 0; c < channels; ++c) {
        switch (routing) {
            case Routing::EvenOdd:
                (c % 2 == 0 ? channel_switches[c].to_left : channel_switches[c].to_right) = 1;
                break;
            case Routing::Both: channel_switches[c] = {1, 1}; break;
            case Routing::LeftOnly: channel_switches[c].to_left = 7; break;
            case Routing::Mixed:
                // Some channels on both sides, some on one, some on none.
                channel_switches[c] = {c % 3 != 2 ? -1 : 0, c % 3 != 1 ? 2 : 0};
                if (c == 3) channel_switches[c] = {0, 0};
                break;
        }
    }
}

// Random bytes, or the output of a small second-order delta-sigma loop
// fed a sine, which looks like real one-bit sound.
std::vector<uint8_t> random_stream(size_t bytes, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(bytes);
    for (auto& b : v) b = static_cast<uint8_t>(gen() >> 24);
    return v;
}

// Interleaved one-bit sine per channel (each its own frequency).
std::vector<uint8_t> modulated_stream(int rate, int channels, int calls, double amplitude) {
    const int block_bytes = set_for(rate).block_bytes;
    std::vector<uint8_t> v(static_cast<size_t>(channels) * block_bytes * calls);
    for (int c = 0; c < channels; ++c) {
        const double f = 1000.0 * (c + 1);
        double i1 = 0.0, i2 = 0.0, y = 0.0;
        long n = 0;
        for (int m = 0; m < calls; ++m)
            for (int r = 0; r < block_bytes; ++r) {
                uint8_t byte = 0;
                for (int j = 0; j < 8; ++j, ++n) {
                    const double x = amplitude * std::sin(2.0 * std::numbers::pi * f * n / rate);
                    i1 += x - y;
                    i2 += i1 - y;
                    y = i2 >= 0.0 ? 1.0 : -1.0;
                    byte = static_cast<uint8_t>(byte << 1 | (y > 0.0));
                }
                v[(static_cast<size_t>(m) * block_bytes + r) * channels + c] = byte;
            }
    }
    return v;
}

// The direct form: call m returns, per side, the mean over the routed
// channels of sum h[t] b_c((m - 32) 8B + t), with b = 0 before the stream.
struct Direct {
    std::vector<double> left, right;
};

Direct direct_form(int rate, int channels, const std::vector<uint8_t>& stream, int calls) {
    const Set set = set_for(rate);
    std::vector<double> h(set.coeffs, set.coeffs + set.taps - 1);
    h.push_back(0.0);
    const long bits_per_block = 8L * set.block_bytes;
    auto bit = [&](int c, long n) -> double {
        if (n < 0) return 0.0;
        const long block = n / bits_per_block, within = n % bits_per_block;
        const uint8_t byte = stream[(block * set.block_bytes + within / 8) * channels + c];
        return (byte >> (7 - within % 8)) & 1 ? 1.0 : -1.0;
    };
    Direct d{std::vector<double>(calls), std::vector<double>(calls)};
    for (int m = 0; m < calls; ++m) {
        double l = 0.0, r = 0.0;
        int nl = 0, nr = 0;
        for (int c = 0; c < channels; ++c) {
            if (!channel_switches[c].to_left && !channel_switches[c].to_right) continue;
            double y = 0.0;
            const long start = (m - SLOTS) * bits_per_block;
            for (int t = 0; t < set.taps; ++t) y += h[t] * bit(c, start + t);
            if (channel_switches[c].to_left) l += y, ++nl;
            if (channel_switches[c].to_right) r += y, ++nr;
        }
        d.left[m] = nl ? l / nl : 0.0;
        d.right[m] = nr ? r / nr : 0.0;
    }
    return d;
}

std::string label(int rate, int channels, Routing routing) {
    return std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch, " + routing_name(routing);
}

TEST(DecimatorInit, SelectsTheRowOfItsRate) {
    route(Routing::EvenOdd, 2);
    for (int rate : RATES) EXPECT_EQ(coeff_deltasigma_init(rate, 2), -1) << rate;
    for (int rate : {44100, 0, -1, 2822401, 352800}) EXPECT_EQ(coeff_deltasigma_init(rate, 2), 0) << rate;
}

TEST(DecimatorInit, RefusesMoreChannelsThanTheRoutingHolds) {
    route(Routing::Both, MAX_CHANNELS);
    EXPECT_EQ(coeff_deltasigma_init(2822400, MAX_CHANNELS), -1);
    EXPECT_EQ(coeff_deltasigma_init(2822400, MAX_CHANNELS + 1), 0);
    EXPECT_EQ(coeff_deltasigma_init(2822400, 1000000), 0);
}

// Every result, the first (0.0) and the 31 partial ones included, equals
// the direct convolution up to single-precision rounding.
TEST(Decimator, EqualsTheDirectForm) {
    const int calls = 70;
    double worst = 0.0;
    for (int rate : RATES)
        for (int channels : {1, 2, 6, 10})
            for (Routing routing : {Routing::EvenOdd, Routing::Both, Routing::Mixed}) {
                const int block = channels * set_for(rate).block_bytes;
                const auto stream = random_stream(static_cast<size_t>(block) * calls, rate + channels);
                route(routing, channels);
                ASSERT_EQ(coeff_deltasigma_init(rate, channels), -1);
                const Direct d = direct_form(rate, channels, stream, calls);
                for (int m = 0; m < calls; ++m) {
                    const float* y = coeff_deltasigma(stream.data() + static_cast<size_t>(m) * block);
                    if (m == 0) {
                        EXPECT_EQ(y[0], 0.0f);
                        EXPECT_EQ(y[1], 0.0f);
                    }
                    ASSERT_NEAR(y[0], d.left[m], 5e-7) << label(rate, channels, routing) << " call " << m;
                    ASSERT_NEAR(y[1], d.right[m], 5e-7) << label(rate, channels, routing) << " call " << m;
                    worst = std::max({worst, std::fabs(y[0] - d.left[m]), std::fabs(y[1] - d.right[m])});
                }
            }
    std::printf("  largest difference from the direct form: %.3g\n", worst);
}

// Bit identity with the plain loops over long streams, random and
// modulated, at every rate, channel count and routing, with every set of
// vector instructions that this processor has.
TEST(Decimator, BitIdenticalToThePlainLoops) {
    const int best = coeff_deltasigma_vector_level(99);
    EXPECT_EQ(coeff_deltasigma_vector_level(-1), 0) << "SSE2 is always there";
    std::printf("  vector levels checked: 0 to %d\n", best);
    for (int level = 0; level <= best; ++level) {
        ASSERT_EQ(coeff_deltasigma_vector_level(level), level);
        const int calls = level == best ? 1200 : 300;
        for (int rate : RATES)
            for (int channels : {1, 2, 6, 10})
                for (Routing routing : {Routing::EvenOdd, Routing::Both, Routing::LeftOnly, Routing::Mixed})
                    for (bool modulated : {false, true}) {
                        if (modulated && routing != Routing::EvenOdd) continue;
                        const int block = channels * set_for(rate).block_bytes;
                        const auto stream =
                            modulated ? modulated_stream(rate, channels, calls, 0.5)
                                      : random_stream(static_cast<size_t>(block) * calls, 7 * rate + channels);
                        route(routing, channels);
                        ASSERT_EQ(coeff_deltasigma_init(rate, channels), -1);
                        ASSERT_EQ(reference::init(rate, channels), -1);
                        for (int m = 0; m < calls; ++m) {
                            const uint8_t* p = stream.data() + static_cast<size_t>(m) * block;
                            float got[2], want[2];
                            std::memcpy(got, coeff_deltasigma(p), sizeof got);
                            std::memcpy(want, reference::filter(p), sizeof want);
                            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0)
                                << "level " << level << ", " << label(rate, channels, routing)
                                << (modulated ? " modulated" : " random") << " call " << m << ": " << got[0]
                                << " " << got[1] << " vs " << want[0] << " " << want[1];
                        }
                    }
    }
    coeff_deltasigma_vector_level(best);
}

// The plain loops themselves read the ring backwards: 0, 31, 30, ..., 1, 0.
TEST(Decimator, ReadOutSlotsWalkTheRingBackwards) {
    route(Routing::EvenOdd, 2);
    ASSERT_EQ(reference::init(2822400, 2), -1);
    const std::vector<uint8_t> block(16, 0x96);
    for (int m = 0; m < 70; ++m) {
        EXPECT_EQ(reference::next_slot(), (SLOTS - m % SLOTS) % SLOTS) << m;
        if (m == 5) {
            EXPECT_EQ(reference::next_slot(), 27);
        }
        reference::filter(block.data());
    }
}

// A block reaches exactly the 32 results after it: its newest taps the next
// call's, its oldest taps the result 32 calls on.
TEST(Decimator, EachBlockReachesTheNext32Results) {
    for (int rate : RATES) {
        const Set set = set_for(rate);
        const int calls = 80, changed = 37;
        std::vector<uint8_t> a(static_cast<size_t>(set.block_bytes) * calls, 0x00);
        std::vector<uint8_t> b = a;
        for (int r = 0; r < set.block_bytes; ++r) b[changed * set.block_bytes + r] = 0xFF;

        route(Routing::EvenOdd, 1);
        std::vector<float> ya, yb;
        for (auto* s : {&a, &b}) {
            ASSERT_EQ(coeff_deltasigma_init(rate, 1), -1);
            for (int m = 0; m < calls; ++m) {
                const float* y = coeff_deltasigma(s->data() + static_cast<size_t>(m) * set.block_bytes);
                (s == &a ? ya : yb).push_back(y[0]);
                EXPECT_EQ(y[1], 0.0f) << "no channel on the right";
            }
        }
        for (int m = 0; m < calls; ++m) {
            if (m > changed && m <= changed + SLOTS)
                EXPECT_NE(ya[m], yb[m]) << rate << " call " << m;
            else
                EXPECT_EQ(ya[m], yb[m]) << rate << " call " << m;
        }
        // The centre tap meets the last bit of the block 17 calls back: the
        // difference peaks there.
        int peak = 0;
        for (int m = 1; m < calls; ++m)
            if (std::fabs(yb[m] - ya[m]) > std::fabs(yb[peak] - ya[peak])) peak = m;
        EXPECT_EQ(peak, changed + 17) << rate;
    }
}

TEST(Decimator, ConstantStreamsGiveTheSumOfTheSet) {
    for (int rate : RATES) {
        const Set set = set_for(rate);
        double sum = 0.0;
        for (int i = 0; i < set.taps - 1; ++i) sum += set.coeffs[i];
        const struct {
            uint8_t byte;
            double want, tol;
        } cases[] = {{0xFF, sum, 2e-6}, {0x00, -sum, 2e-6}, {0x69, 0.0, 5e-6}, {0x55, 0.0, 5e-6}};
        for (const auto& c : cases) {
            route(Routing::EvenOdd, 1);
            ASSERT_EQ(coeff_deltasigma_init(rate, 1), -1);
            const std::vector<uint8_t> block(set.block_bytes, c.byte);
            for (int m = 0; m < 40; ++m) {
                const float* y = coeff_deltasigma(block.data());
                EXPECT_EQ(y[1], 0.0f);
                if (m >= SLOTS) {
                    EXPECT_NEAR(y[0], c.want, c.tol) << rate << " byte " << int(c.byte);
                }
            }
        }
        EXPECT_NEAR(sum, 1.000016, 2e-7);
    }
}

// The input whose bits follow the signs of the taps drives the output to
// the sum of absolute values, the largest any input can reach.
TEST(Decimator, LargestOutputIsTheSumOfAbsoluteValues) {
    for (int rate : RATES) {
        const Set set = set_for(rate);
        std::vector<uint8_t> stream(static_cast<size_t>(set.taps / 8), 0);
        double abs_sum = 0.0;
        for (int t = 0; t < set.taps - 1; ++t) {
            abs_sum += std::fabs(set.coeffs[t]);
            if (set.coeffs[t] >= 0) stream[t / 8] |= static_cast<uint8_t>(0x80 >> t % 8);
        }
        route(Routing::Both, 1);
        ASSERT_EQ(coeff_deltasigma_init(rate, 1), -1);
        const float* y = nullptr;
        for (int m = 0; m <= SLOTS; ++m) {
            const uint8_t* p = stream.data() + static_cast<size_t>(m % SLOTS) * set.block_bytes;
            y = coeff_deltasigma(p);
            EXPECT_LE(std::fabs(y[0]), abs_sum + 1e-5);
        }
        EXPECT_NEAR(y[0], abs_sum, 2e-6) << rate;
        EXPECT_NEAR(y[0], 1.788, 0.001) << rate;
        EXPECT_EQ(y[0], y[1]);
    }
}

TEST(Decimator, SidesAreMeansOverTheirChannels) {
    const int rate = 5644800, calls = 64, k = 3, block = 16 * k;
    const auto stream = modulated_stream(rate, k, calls, 0.4);
    // Each channel alone, routed to both sides.
    std::vector<float> alone[k];
    for (int c = 0; c < k; ++c) {
        std::vector<uint8_t> mono(static_cast<size_t>(16) * calls);
        for (size_t i = 0; i < mono.size(); ++i) mono[i] = stream[i * k + c];
        route(Routing::Both, 1);
        ASSERT_EQ(coeff_deltasigma_init(rate, 1), -1);
        for (int m = 0; m < calls; ++m) {
            const float* y = coeff_deltasigma(mono.data() + 16 * m);
            EXPECT_EQ(y[0], y[1]) << "an only channel on both sides is the same on both";
            alone[c].push_back(y[0]);
        }
    }
    // Channels 0 and 1 left, 2 right: left is the mean of two, not the sum.
    std::memset(channel_switches, 0, sizeof channel_switches);
    channel_switches[0].to_left = channel_switches[1].to_left = 1;
    channel_switches[2].to_right = 1;
    ASSERT_EQ(coeff_deltasigma_init(rate, k), -1);
    for (int m = 0; m < calls; ++m) {
        const float* y = coeff_deltasigma(stream.data() + block * m);
        EXPECT_NEAR(y[0], (alone[0][m] + alone[1][m]) / 2.0, 2e-6) << m;
        EXPECT_EQ(y[1], alone[2][m]) << m;
    }
}

TEST(Decimator, NoRoutedChannelMeansSilence) {
    const std::vector<uint8_t> block(10 * 32, 0xFF);
    // Nothing routed; then no channels at all, or a negative count.
    std::memset(channel_switches, 0, sizeof channel_switches);
    for (int channels : {6, 0, -3}) {
        ASSERT_EQ(coeff_deltasigma_init(11289600, channels), -1) << channels;
        for (int m = 0; m < 40; ++m) {
            const float* y = coeff_deltasigma(block.data());
            ASSERT_EQ(y[0], 0.0f);
            ASSERT_EQ(y[1], 0.0f);
        }
    }
}

// A failed initialisation leaves the table, the ring and the slot alone.
TEST(Decimator, FailedInitKeepsTheRunningFilter) {
    const auto stream = random_stream(16 * 100, 99);
    route(Routing::EvenOdd, 2);
    ASSERT_EQ(coeff_deltasigma_init(2822400, 2), -1);
    ASSERT_EQ(reference::init(2822400, 2), -1);
    for (int m = 0; m < 100; ++m) {
        if (m == 50) {
            ASSERT_EQ(coeff_deltasigma_init(48000, 2), 0);
        }
        const float* y = coeff_deltasigma(stream.data() + 16 * m);
        const float* want = reference::filter(stream.data() + 16 * m);
        ASSERT_EQ(y[0], want[0]) << m;
        ASSERT_EQ(y[1], want[1]) << m;
    }
}

// Amplitude of a sine of `freq` Hz fitted over whole periods of `y`
// (44100 Hz), and the ratio of its power to what is left, in dB.
struct Fit {
    double amplitude;
    double snr_db;
};

Fit fit_sine(const std::vector<double>& y, double freq) {
    double c = 0.0, s = 0.0;
    for (size_t i = 0; i < y.size(); ++i) {
        const double ph = 2.0 * std::numbers::pi * freq * i / 44100.0;
        c += y[i] * std::cos(ph);
        s += y[i] * std::sin(ph);
    }
    c *= 2.0 / y.size();
    s *= 2.0 / y.size();
    double residual = 0.0;
    for (size_t i = 0; i < y.size(); ++i) {
        const double ph = 2.0 * std::numbers::pi * freq * i / 44100.0;
        const double e = y[i] - c * std::cos(ph) - s * std::sin(ph);
        residual += e * e;
    }
    const double a = std::hypot(c, s);
    return {a, 10.0 * std::log10(a * a / 2.0 / (residual / y.size()))};
}

// Tones from the project's generator (a high-order modulator, in a WSD
// file) come out at their amplitude and clean; a side with two channels,
// one of them idle, carries half the tone.
TEST(Decimator, GeneratorTonesComeOutAtTheirLevel) {
    const std::string dir = testutil::make_temp_dir();
    for (int rate : RATES) {
        const std::string path = dir + "/tones" + std::to_string(rate) + ".wsd";
        ASSERT_TRUE(testutil::dsdgen({"--rate=" + std::to_string(rate), "--channels=4", "--seconds=0.12",
                                      "--tone=0:1000:0.5", "--tone=3:5000:0.25", path}));
        const std::vector<uint8_t> file = testutil::read_file(path);
        ASSERT_GT(file.size(), 2048u);
        const size_t data = testutil::be(file, 0x18, 4);
        const int block = 4 * set_for(rate).block_bytes;
        const int calls = static_cast<int>((file.size() - data) / block);
        ASSERT_GE(calls, SLOTS + 4410);

        for (bool with_idle : {false, true}) {
            std::memset(channel_switches, 0, sizeof channel_switches);
            channel_switches[0].to_left = 1;
            channel_switches[3].to_right = 1;
            if (with_idle) channel_switches[2].to_left = 1;
            ASSERT_EQ(coeff_deltasigma_init(rate, 4), -1);
            std::vector<double> left, right;
            for (int m = 0; m < SLOTS + 4410; ++m) {
                const float* y = coeff_deltasigma(file.data() + data + static_cast<size_t>(block) * m);
                if (m >= SLOTS) left.push_back(y[0]), right.push_back(y[1]);
            }
            const Fit l = fit_sine(left, 1000.0), r = fit_sine(right, 5000.0);
            std::printf("  %8d Hz%s: 1 kHz at %.5f (%.1f dB clean), 5 kHz at %.5f (%.1f dB clean)\n", rate,
                        with_idle ? " with an idle channel on the left" : "", l.amplitude, l.snr_db, r.amplitude,
                        r.snr_db);
            EXPECT_NEAR(l.amplitude, with_idle ? 0.25 : 0.5, 0.0005) << rate;
            EXPECT_NEAR(r.amplitude, 0.25, 0.0003) << rate;
            EXPECT_GT(l.snr_db, 100.0) << rate;
            EXPECT_GT(r.snr_db, 100.0) << rate;
        }
    }
}

// A tone through a one-bit loop comes out as a clean sine of its amplitude.
TEST(Decimator, ModulatedToneComesOutClean) {
    for (int rate : RATES) {
        const int calls = 4410 + SLOTS;
        const int block = 2 * set_for(rate).block_bytes;
        const auto stream = modulated_stream(rate, 2, calls, 0.5);
        route(Routing::EvenOdd, 2);
        ASSERT_EQ(coeff_deltasigma_init(rate, 2), -1);
        std::vector<double> out;
        for (int m = 0; m < calls; ++m) {
            const float* y = coeff_deltasigma(stream.data() + static_cast<size_t>(block) * m);
            if (m >= SLOTS) out.push_back(y[0]);
        }
        // Fit a 1 kHz sine over whole periods and measure what is left.
        double c = 0.0, s = 0.0;
        for (size_t i = 0; i < out.size(); ++i) {
            const double ph = 2.0 * std::numbers::pi * 1000.0 * i / 44100.0;
            c += out[i] * std::cos(ph);
            s += out[i] * std::sin(ph);
        }
        c *= 2.0 / out.size();
        s *= 2.0 / out.size();
        double residual = 0.0;
        for (size_t i = 0; i < out.size(); ++i) {
            const double ph = 2.0 * std::numbers::pi * 1000.0 * i / 44100.0;
            const double e = out[i] - c * std::cos(ph) - s * std::sin(ph);
            residual += e * e;
        }
        const double amplitude = std::hypot(c, s);
        const double snr = 10.0 * std::log10(amplitude * amplitude / 2.0 / (residual / out.size()));
        EXPECT_NEAR(amplitude, 0.5, 0.005) << rate;
        // The second-order test loop leaves about 70 dB at the lowest rate.
        EXPECT_GT(snr, 65.0) << rate;
        std::printf("  %d Hz: 1 kHz tone amplitude %.5f, signal to residual %.1f dB\n", rate, amplitude, snr);
    }
}

}  // namespace
