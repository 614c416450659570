// Outputs of both extractors read back by the format library, and heard by
// the converter, give the source's channel data.
#include "dsdiff.h"
#include "exttest.h"
#include "signal_analysis.h"
#include "wsd.h"

using exttest::Args;
using exttest::Bytes;

namespace {

// A channel pair of a DSDIFF file as the library's frame reader gives it.
Bytes library_pair(const std::string& path, int left, int right) {
    DsdiffInfo info{};
    info.file = std::fopen(path.c_str(), "rb");
    if (info.file == nullptr) return {};
    EXPECT_EQ(readDsdHeader(&info), 0) << path;
    info.left_channel = static_cast<uint16_t>(left);
    info.right_channel = static_cast<uint16_t>(right);
    Bytes buf(2 * info.data_size / info.channel_count + 64);
    buf.resize(static_cast<size_t>(readDsdData(&info, buf.data(), static_cast<int>(buf.size()))));
    std::fclose(info.file);
    return buf;
}

// What the library reads back from a stereo WSD output.
Bytes wsd_pair(const std::string& path, uint64_t bytes_per_channel, bool size_low_half_first) {
    WsdInfo info{};
    info.file = std::fopen(path.c_str(), "rb");
    if (info.file == nullptr) return {};
    EXPECT_EQ(readWsdHeader(&info), 0);
    EXPECT_EQ(info.channel_count, 2);
    EXPECT_EQ(info.sample_rate, 2822400u);
    EXPECT_EQ(info.data_offset, 2048u);
    EXPECT_EQ(info.version, 0x11);
    if (size_low_half_first) {
        EXPECT_EQ(info.file_size, 2048u + 2 * bytes_per_channel);
    }
    Bytes buf(2 * bytes_per_channel + 64);
    buf.resize(static_cast<size_t>(readWsdData(&info, buf.data(), static_cast<int>(buf.size()))));
    std::fclose(info.file);
    return buf;
}

// Each extracted stereo file read back by the library holds the source's
// pair, and the converter hears in it the two tones of the named channels.
// (The converter's routing always mixes in source channels 0 and 1, so only
// the pair 0, 1 can be compared with a conversion of the source itself; that
// one must match bit for bit.)
TEST(RoundTrip, LibraryAndConverterGetTheNamedChannels) {
    const std::string dir = testutil::make_temp_dir(), src = dir + "/oct.dff";
    const double freq[8] = {1000, 440, 3000, 7000, 200, 0, 12000, 5000};
    const double amp[8] = {0.5, 0.25, 0.5, 0.3, 0.5, 0, 0.2, 0.5};
    Args gen{"--channels=8", "--seconds=0.1", "--random=5:3"};
    for (int c = 0; c < 8; ++c)
        if (freq[c] > 0)
            gen.push_back("--tone=" + std::to_string(c) + ":" + std::to_string(static_cast<int>(freq[c])) + ":" +
                          std::to_string(amp[c]));
    const exttest::Source source = exttest::make_source(src, gen);
    const uint64_t bpc = source.data_size / 8;
    testutil::RunResult r =
        testutil::run({CHANFORK_BIN, src, "C003", "C001", dir + "/a.dff", "C000", "C001", dir + "/b.wsd"});
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
        const std::string path = dir + "/" + c.output, wav = path + ".wav";
        const Bytes pair = c.output == "a.dff" ? library_pair(path, 0, 1) : wsd_pair(path, bpc, c.output == "b.wsd");
        EXPECT_EQ(pair.size(), 2 * bpc);
        EXPECT_TRUE(pair == library_pair(src, c.left, c.right));

        r = testutil::run({SIGMELT_BIN, path, wav});
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
