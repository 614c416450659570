// Outputs of both extractors read back by the format library give the
// source's channel data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsdiff.h"
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

// The converter turns an extracted stereo file into exactly the wave file it
// makes from the same two channels of the source.
TEST(RoundTrip, ConverterHearsTheSameSoundInSourceAndOutputs) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/quad.dff";
    ASSERT_TRUE(testutil::dsdgen({"--channels=8", "--seconds=0.05", "--tone=0:1000:0.5", "--tone=1:440:0.25",
                                  "--tone=2:3000:0.5", "--tone=3:7000:0.3", "--tone=4:100:0.5", "--random=5:3",
                                  "--tone=6:12000:0.2", "--tone=7:5000:0.5", src}));
    testutil::RunResult r = testutil::run(
        {CHANFORK_BIN, src, "C003", "C001", dir + "/a.dff", "C000", "C002", dir + "/b.wsd"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = testutil::run({CHANFORK2CHX4_BIN, "C001", "C000", "C002", "C003", "C007", "C004", "C006", "C006", src});
    ASSERT_EQ(r.status, 0) << r.err;

    const struct {
        std::string output;
        int left, right;
    } cases[] = {{"a.dff", 3, 1}, {"b.wsd", 0, 2}, {"quad_0.wsd", 1, 0}, {"quad_2.wsd", 7, 4}, {"quad_3.wsd", 6, 6}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string from_source = dir + "/s" + std::to_string(n) + ".wav";
        const std::string from_output = dir + "/o" + std::to_string(n++) + ".wav";
        r = testutil::run({SIGMELT_BIN, "--channels=" + std::to_string(c.left) + "," + std::to_string(c.right), src,
                           from_source});
        ASSERT_EQ(r.status, 0) << r.err;
        r = testutil::run({SIGMELT_BIN, dir + "/" + c.output, from_output});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto expected = testutil::read_file(from_source);
        EXPECT_GT(expected.size(), 84u + 4u * 2000u);  // 0.05 s of 44.1 kHz frames
        EXPECT_TRUE(testutil::read_file(from_output) == expected);
    }
}

}  // namespace
