// Outputs of both extractors read back by the format library give the
// source's channel data.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dsdiff.h"
#include "signal_analysis.h"
#include "exttest.h"
#include "testutil.h"
#include "wsd.h"

namespace {

constexpr int BYTES = 4000;  // per channel, a multiple of 8

// Channel pair of a DSDIFF source as the library's frame reader gives it.
std::vector<uint8_t> library_pair(const std::string& path, int left, int right) {
    DsdiffInfo info{};
    info.file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(info.file, nullptr) << path;
    if (info.file == nullptr) return {};
    EXPECT_EQ(readDsdHeader(&info), 0) << path;
    info.left_channel = static_cast<uint16_t>(left);
    info.right_channel = static_cast<uint16_t>(right);
    std::vector<uint8_t> buf(2 * BYTES + 64);
    buf.resize(static_cast<size_t>(readDsdData(&info, buf.data(), static_cast<int>(buf.size()))));
    std::fclose(info.file);
    return buf;
}

// What the library reads back from a stereo DSDIFF output.
std::vector<uint8_t> read_dff_output(const std::string& path, uint32_t rate) {
    DsdiffInfo info{};
    info.file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(info.file, nullptr) << path;
    if (info.file == nullptr) return {};
    EXPECT_EQ(readDsdHeader(&info), 0);
    EXPECT_EQ(info.channel_count, 2);
    EXPECT_STREQ(info.channel_ids[0], "SLFT");
    EXPECT_STREQ(info.channel_ids[1], "SRGT");
    EXPECT_EQ(info.sample_rate, rate);
    EXPECT_EQ(info.data_size, 2u * BYTES);
    info.left_channel = 0;
    info.right_channel = 1;
    std::vector<uint8_t> buf(2 * BYTES + 64);
    buf.resize(static_cast<size_t>(readDsdData(&info, buf.data(), static_cast<int>(buf.size()))));
    std::fclose(info.file);
    return buf;
}

// What the library reads back from a stereo WSD output.
std::vector<uint8_t> read_wsd_output(const std::string& path, uint32_t rate) {
    WsdInfo info{};
    info.file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(info.file, nullptr) << path;
    if (info.file == nullptr) return {};
    EXPECT_EQ(readWsdHeader(&info), 0);
    EXPECT_EQ(info.channel_count, 2);
    EXPECT_EQ(info.sample_rate, rate);
    EXPECT_EQ(info.data_offset, 2048u);
    EXPECT_EQ(info.version, 0x11);
    std::vector<uint8_t> buf(2 * BYTES + 64);
    buf.resize(static_cast<size_t>(readWsdData(&info, buf.data(), static_cast<int>(buf.size()))));
    std::fclose(info.file);
    return buf;
}

TEST(RoundTrip, ChanforkOutputsReadBackAsTheSourceChannels) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/tones.dff";
    ASSERT_TRUE(testutil::dsdgen({"--rate=5644800", "--channels=4", "--bytes=" + std::to_string(BYTES),
                                  "--tone=0:1000:0.5", "--tone=1:440:0.25", "--tone=2:3000:0.5", "--tone=3:50:0.4",
                                  src}));
    testutil::RunResult r = testutil::run(
        {CHANFORK_BIN, src, "C003", "C001", dir + "/a.dff", "C000", "C002", dir + "/b.wsd"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto a = read_dff_output(dir + "/a.dff", 5644800);
    const auto b = read_wsd_output(dir + "/b.wsd", 5644800);
    EXPECT_EQ(a.size(), 2u * BYTES);
    EXPECT_TRUE(a == library_pair(src, 3, 1));
    EXPECT_TRUE(b == library_pair(src, 0, 2));
    // The WSD output's file size reads back as written: low half first.
    WsdInfo info{};
    info.file = std::fopen((dir + "/b.wsd").c_str(), "rb");
    ASSERT_EQ(readWsdHeader(&info), 0);
    EXPECT_EQ(info.file_size, 2048u + 2 * BYTES);
    std::fclose(info.file);
}

TEST(RoundTrip, Chanfork2chx4OutputsReadBackAsTheSourceChannels) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/eight.dff";
    std::vector<std::string> args{"--channels=8", "--bytes=" + std::to_string(BYTES)};
    for (int c = 0; c < 8; ++c)
        args.push_back("--tone=" + std::to_string(c) + ":" + std::to_string(200 * (c + 1)) + ":0.5");
    args.push_back(src);
    ASSERT_TRUE(testutil::dsdgen(args));
    testutil::RunResult r =
        testutil::run({CHANFORK2CHX4_BIN, "C001", "C000", "C002", "C003", "C007", "C004", "C005", "C005", src});
    ASSERT_EQ(r.status, 0) << r.err;
    const int pairs[4][2] = {{1, 0}, {2, 3}, {7, 4}, {5, 5}};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const auto out = read_wsd_output(dir + "/eight_" + std::to_string(k) + ".wsd", 2822400);
        EXPECT_EQ(out.size(), 2u * BYTES);
        EXPECT_TRUE(out == library_pair(src, pairs[k][0], pairs[k][1]));
    }
}

}  // namespace

namespace {

std::vector<double> tail(const std::vector<int16_t>& pcm, size_t skip) {
    auto x = sig::pcm_to_double(pcm);
    return std::vector<double>(x.begin() + static_cast<long>(std::min(skip, x.size())), x.end());
}

// The converter hears in each extracted stereo file the two tones of the
// source channels that were named. (Its routing always mixes in source
// channels 0 and 1, so only the pair 0, 1 can be compared with a conversion
// of the source itself; that one must match bit for bit.)
TEST(RoundTrip, ConverterHearsTheNamedChannels) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/oct.dff";
    const double freq[8] = {1000, 440, 3000, 7000, 200, 0, 12000, 5000};
    const double amp[8] = {0.5, 0.25, 0.5, 0.3, 0.5, 0, 0.2, 0.5};
    std::vector<std::string> args{"--channels=8", "--seconds=0.1", "--random=5:3"};
    for (int c = 0; c < 8; ++c)
        if (freq[c] > 0)
            args.push_back("--tone=" + std::to_string(c) + ":" + std::to_string(static_cast<int>(freq[c])) + ":" +
                           std::to_string(amp[c]));
    args.push_back(src);
    ASSERT_TRUE(testutil::dsdgen(args));
    testutil::RunResult r = testutil::run(
        {CHANFORK_BIN, src, "C003", "C001", dir + "/a.dff", "C000", "C001", dir + "/b.wsd"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = testutil::run({CHANFORK2CHX4_BIN, "C000", "C001", "C002", "C003", "C007", "C004", "C006", "C006", src});
    ASSERT_EQ(r.status, 0) << r.err;

    r = testutil::run({SIGMELT_BIN, "--channels=0,1", src, dir + "/src01.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto reference = testutil::read_file(dir + "/src01.wav");

    const struct {
        std::string output;
        int left, right;
    } cases[] = {{"a.dff", 3, 1}, {"b.wsd", 0, 1}, {"oct_0.wsd", 0, 1}, {"oct_1.wsd", 2, 3}, {"oct_2.wsd", 7, 4},
                 {"oct_3.wsd", 6, 6}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string wav = dir + "/o" + std::to_string(n++) + ".wav";
        r = testutil::run({SIGMELT_BIN, dir + "/" + c.output, wav});
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.left == 0 && c.right == 1) {
            EXPECT_TRUE(testutil::read_file(wav) == reference);
        }
        sig::Wave w;
        ASSERT_TRUE(sig::read_wave_file(wav, w)) << w.error;
        ASSERT_GE(w.left.size(), 4000u);  // 0.1 s at 44.1 kHz
        // Past the filter's start: 2048 taps at 64x decimation is 32 frames.
        const auto left = tail(w.left, 256), right = tail(w.right, 256);
        const struct {
            const std::vector<double>* x;
            int channel;
        } sides[] = {{&left, c.left}, {&right, c.right}};
        for (const auto& side : sides) {
            SCOPED_TRACE(side.channel);
            const double f = freq[side.channel];
            EXPECT_NEAR(sig::estimate_frequency(*side.x, 44100.0), f, 1.0);
            EXPECT_NEAR(sig::amplitude_dbfs(sig::fit_sine(*side.x, f, 44100.0).amplitude),
                        sig::amplitude_dbfs(amp[side.channel]), 0.1);
        }
        if (c.left == c.right) {
            EXPECT_EQ(w.left, w.right);
        }
    }
}

}  // namespace
