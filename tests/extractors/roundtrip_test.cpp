// Outputs of both extractors read back by the format library, and heard by
// the converter, give the source's channel data.
#include "dsdiff.h"
#include "exttest.h"
#include "signal_analysis.h"
#include "wsd.h"

using exttest::Args;
using exttest::Bytes;

namespace {

constexpr int BYTES = 4000;  // per channel, a multiple of 8

// A channel pair of a DSDIFF file as the library's frame reader gives it.
Bytes library_pair(const std::string& path, int left, int right, int channels, uint32_t rate) {
    DsdiffInfo info{};
    info.file = std::fopen(path.c_str(), "rb");
    if (info.file == nullptr) return {};
    EXPECT_EQ(readDsdHeader(&info), 0) << path;
    EXPECT_EQ(info.channel_count, channels);
    EXPECT_EQ(info.sample_rate, rate);
    info.left_channel = static_cast<uint16_t>(left);
    info.right_channel = static_cast<uint16_t>(right);
    Bytes buf(2 * BYTES + 64);
    buf.resize(static_cast<size_t>(readDsdData(&info, buf.data(), static_cast<int>(buf.size()))));
    std::fclose(info.file);
    return buf;
}

// What the library reads back from a stereo WSD output.
Bytes wsd_pair(const std::string& path, uint32_t rate, bool size_low_half_first) {
    WsdInfo info{};
    info.file = std::fopen(path.c_str(), "rb");
    if (info.file == nullptr) return {};
    EXPECT_EQ(readWsdHeader(&info), 0);
    EXPECT_EQ(info.channel_count, 2);
    EXPECT_EQ(info.sample_rate, rate);
    EXPECT_EQ(info.data_offset, 2048u);
    if (size_low_half_first) {
        EXPECT_EQ(info.file_size, 2048u + 2 * BYTES);
    }
    EXPECT_EQ(info.version, 0x11);
    Bytes buf(2 * BYTES + 64);
    buf.resize(static_cast<size_t>(readWsdData(&info, buf.data(), static_cast<int>(buf.size()))));
    std::fclose(info.file);
    return buf;
}

TEST(RoundTrip, OutputsReadBackAsTheSourceChannels) {
    const std::string dir = testutil::make_temp_dir(), src = dir + "/tones.dff";
    Args gen{"--rate=5644800", "--channels=8", "--bytes=" + std::to_string(BYTES)};
    for (int c = 0; c < 8; ++c) gen.push_back("--tone=" + std::to_string(c) + ":" + std::to_string(200 * (c + 1)) + ":0.5");
    exttest::make_source(src, gen);
    testutil::RunResult r = testutil::run({CHANFORK_BIN, src, "C003", "C001", dir + "/a.dff", "C000", "C002", dir + "/b.wsd"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = testutil::run({CHANFORK2CHX4_BIN, "C001", "C000", "C002", "C003", "C007", "C004", "C005", "C005", src});
    ASSERT_EQ(r.status, 0) << r.err;
    const struct {
        std::string output;
        int left, right;
    } cases[] = {{"a.dff", 3, 1}, {"b.wsd", 0, 2}, {"tones_0.wsd", 1, 0}, {"tones_1.wsd", 2, 3}, {"tones_2.wsd", 7, 4},
                 {"tones_3.wsd", 5, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string path = dir + "/" + c.output;
        const Bytes out = c.output == "a.dff" ? library_pair(path, 0, 1, 2, 5644800) : wsd_pair(path, 5644800, c.output == "b.wsd");
        EXPECT_EQ(out.size(), 2u * BYTES);
        EXPECT_TRUE(out == library_pair(src, c.left, c.right, 8, 5644800));
    }
}

// The converter hears in each extracted stereo file the two tones of the
// source channels that were named. (Its routing always mixes in source
// channels 0 and 1, so only the pair 0, 1 can be compared with a conversion
// of the source itself; that one must match bit for bit.)
TEST(RoundTrip, ConverterHearsTheNamedChannels) {
    const std::string dir = testutil::make_temp_dir(), src = dir + "/oct.dff";
    const double freq[8] = {1000, 440, 3000, 7000, 200, 0, 12000, 5000};
    const double amp[8] = {0.5, 0.25, 0.5, 0.3, 0.5, 0, 0.2, 0.5};
    Args gen{"--channels=8", "--seconds=0.1", "--random=5:3"};
    for (int c = 0; c < 8; ++c)
        if (freq[c] > 0)
            gen.push_back("--tone=" + std::to_string(c) + ":" + std::to_string(static_cast<int>(freq[c])) + ":" +
                          std::to_string(amp[c]));
    exttest::make_source(src, gen);
    testutil::RunResult r = testutil::run({CHANFORK_BIN, src, "C003", "C001", dir + "/a.dff", "C000", "C001", dir + "/b.wsd"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = testutil::run({CHANFORK2CHX4_BIN, "C000", "C001", "C002", "C003", "C007", "C004", "C006", "C006", src});
    ASSERT_EQ(r.status, 0) << r.err;
    r = testutil::run({SIGMELT_BIN, "--channels=0,1", src, dir + "/src01.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes reference = testutil::read_file(dir + "/src01.wav");

    const struct {
        std::string output;
        int left, right;
    } cases[] = {{"a.dff", 3, 1}, {"b.wsd", 0, 1}, {"oct_0.wsd", 0, 1}, {"oct_1.wsd", 2, 3}, {"oct_2.wsd", 7, 4},
                 {"oct_3.wsd", 6, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string wav = dir + "/" + c.output + ".wav";
        r = testutil::run({SIGMELT_BIN, dir + "/" + c.output, wav});
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.left == 0 && c.right == 1) {
            EXPECT_TRUE(testutil::read_file(wav) == reference);
        }
        sig::Wave w;
        ASSERT_TRUE(sig::read_wave_file(wav, w)) << w.error;
        ASSERT_GE(w.left.size(), 4000u);  // 0.1 s at 44.1 kHz
        if (c.left == c.right) {
            EXPECT_EQ(w.left, w.right);
        }
        // Past the filter's start: 2048 taps at 64x decimation is 32 frames.
        for (const auto& [pcm, channel] : {std::pair{&w.left, c.left}, std::pair{&w.right, c.right}}) {
            SCOPED_TRACE(channel);
            const auto all = sig::pcm_to_double(*pcm);
            const std::vector<double> x(all.begin() + 256, all.end());
            EXPECT_NEAR(sig::estimate_frequency(x, 44100.0), freq[channel], 1.0);
            EXPECT_NEAR(sig::amplitude_dbfs(sig::fit_sine(x, freq[channel], 44100.0).amplitude),
                        sig::amplitude_dbfs(amp[channel]), 0.1);
        }
    }
}

}  // namespace
