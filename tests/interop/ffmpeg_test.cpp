// Independent readers: ffmpeg and ffprobe read what our programs write.
//  - sigmelt's RF64 output: frame count, rate, channels and every sample;
//  - the extractors' WSD and DSDIFF outputs through ffmpeg's own demuxers:
//    sample count and every DSD byte, against the source's channel data;
//  - ffmpeg's own DSD-to-PCM conversion of a generated tone against
//    sigmelt's: same frequency, same level within 0.1 dB at 1 kHz.
// Without ffmpeg the tests skip, except under CI=true, where they fail.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "signal_analysis.h"
#include "testutil.h"

namespace {

using testutil::RunResult;

std::string find_program(const char* name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

const std::string& ffmpeg() {
    static const std::string p = find_program("ffmpeg");
    return p;
}
const std::string& ffprobe() {
    static const std::string p = find_program("ffprobe");
    return p;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

// Skips the test when ffmpeg is missing, or fails it under CI.
#define REQUIRE_FFMPEG()                                                                          \
    do {                                                                                          \
        if (ffmpeg().empty() || ffprobe().empty()) {                                              \
            if (in_ci()) FAIL() << "ffmpeg/ffprobe not found in PATH (CI=true: they are required)"; \
            GTEST_SKIP() << "ffmpeg/ffprobe not found in PATH: independent-reader tests skipped";  \
        }                                                                                         \
    } while (0)

RunResult run_ok(const std::vector<std::string>& argv) {
    RunResult r = testutil::run(argv, 120);
    std::string cmd;
    for (const auto& a : argv) cmd += a + " ";
    EXPECT_EQ(r.status, 0) << cmd << "\n" << r.err;
    return r;
}

// ffprobe's view of the first stream and of the container, as key=value.
std::map<std::string, std::string> probe(const std::string& file) {
    RunResult r = run_ok({ffprobe(), "-v", "error", "-show_entries",
                          "stream=codec_name,sample_rate,channels,channel_layout,bits_per_sample,time_base,duration_ts:"
                          "format=format_name",
                          "-of", "default=noprint_wrappers=1", file});
    std::map<std::string, std::string> kv;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

std::vector<uint8_t> bytes_of(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

uint64_t num(const std::map<std::string, std::string>& kv, const std::string& key) {
    auto it = kv.find(key);
    if (it == kv.end()) {
        ADD_FAILURE() << "ffprobe gave no " << key;
        return 0;
    }
    return std::strtoull(it->second.c_str(), nullptr, 10);
}

// "1/90000" -> {1, 90000}
std::pair<uint64_t, uint64_t> rational(const std::string& s) {
    const size_t slash = s.find('/');
    if (slash == std::string::npos) return {0, 1};
    return {std::strtoull(s.c_str(), nullptr, 10), std::strtoull(s.c_str() + slash + 1, nullptr, 10)};
}

// The sound bytes of a DSDIFF file, found by walking its top-level chunks
// (kept apart from the library under test on purpose).
std::vector<uint8_t> dsdiff_sound(const std::vector<uint8_t>& f) {
    size_t pos = 16;
    while (pos + 12 <= f.size()) {
        const std::string id(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos) + 4);
        const uint64_t size = testutil::be(f, pos + 4, 8);
        if (id == "DSD ") {
            const size_t begin = pos + 12;
            const size_t end = static_cast<size_t>(std::min<uint64_t>(f.size(), begin + size));
            return std::vector<uint8_t>(f.begin() + static_cast<long>(begin), f.begin() + static_cast<long>(end));
        }
        pos += 12 + static_cast<size_t>(size) + (size & 1);
    }
    ADD_FAILURE() << "no sound chunk";
    return {};
}

// Left/right byte pairs of two channels of interleaved DSD data.
std::vector<uint8_t> pair_of(const std::vector<uint8_t>& data, size_t channels, size_t left, size_t right) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + channels <= data.size(); i += channels) {
        out.push_back(data[i + left]);
        out.push_back(data[i + right]);
    }
    return out;
}

std::string rate_name(uint32_t rate) { return std::to_string(rate / 1000) + "k"; }

// ---- sigmelt's RF64 output --------------------------------------------------

struct WaveCase {
    const char* ext;  // source container
    uint32_t rate;
    int channels;
    const char* length;  // generator option
};

void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.ext << " " << c.rate << " Hz " << c.channels << " ch " << c.length; }

class RF64Read : public ::testing::TestWithParam<WaveCase> {};

TEST_P(RF64Read, SameFramesRateChannelsAndSamples) {
    REQUIRE_FFMPEG();
    const WaveCase& c = GetParam();
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/src." + c.ext;
    const std::string wav = dir + "/out.wav";
    ASSERT_TRUE(testutil::dsdgen({"--rate=" + std::to_string(c.rate), "--channels=" + std::to_string(c.channels),
                                  c.length, "--tone=all:997:0.4", "--tone=0:3000:0.1", src}));
    run_ok({SIGMELT_BIN, src, wav});

    const std::vector<uint8_t> file = testutil::read_file(wav);
    ASSERT_GE(file.size(), 84u);
    const uint64_t frames = testutil::le(file, 36, 8);
    ASSERT_EQ(file.size(), 84 + 4 * frames);

    auto kv = probe(wav);
    EXPECT_EQ(kv["format_name"], "wav");
    EXPECT_EQ(kv["codec_name"], "pcm_s16le");
    EXPECT_EQ(kv["sample_rate"], "44100");
    EXPECT_EQ(kv["channels"], "2");
    EXPECT_EQ(kv["bits_per_sample"], "16");
    EXPECT_EQ(kv["time_base"], "1/44100");
    if (frames > 0) {
        EXPECT_EQ(num(kv, "duration_ts"), frames);
    }

    // Every sample, decoded by ffmpeg to raw 16-bit little-endian.
    RunResult pcm = run_ok({ffmpeg(), "-v", "error", "-i", wav, "-f", "s16le", "-c:a", "pcm_s16le", "-"});
    EXPECT_EQ(pcm.out.size(), 4 * frames);
    EXPECT_TRUE(bytes_of(pcm.out) == std::vector<uint8_t>(file.begin() + 84, file.end()))
        << "ffmpeg decodes other sample values than the file holds";
}

INSTANTIATE_TEST_SUITE_P(Sources, RF64Read,
                         ::testing::Values(WaveCase{"dff", 2822400, 2, "--seconds=0.5"},
                                           WaveCase{"wsd", 5644800, 6, "--seconds=0.25"},
                                           WaveCase{"dff", 11289600, 1, "--seconds=0.2"},
                                           WaveCase{"wsd", 2822400, 10, "--seconds=0.1"},
                                           WaveCase{"dff", 2822400, 2, "--bytes=0"}),
                         [](const auto& info) {
                             return std::string(info.param.ext) + "_" + rate_name(info.param.rate) + "_" +
                                    std::to_string(info.param.channels) + "ch_" + std::to_string(info.index);
                         });

// ---- extractor outputs through ffmpeg's DSDIFF and WSD demuxers ---------------

struct DsdCase {
    uint32_t rate;
    uint64_t bytes_per_channel;
};

void PrintTo(const DsdCase& c, std::ostream* os) { *os << c.rate << " Hz, " << c.bytes_per_channel << " bytes per channel"; }

class DsdDemux : public ::testing::TestWithParam<DsdCase> {
protected:
    // The sample count and DSD bytes ffmpeg finds in `file` must be those of
    // `expected` (left/right byte pairs).
    void check(const std::string& file, const char* format, const std::vector<uint8_t>& expected) {
        SCOPED_TRACE(file);
        const DsdCase& c = GetParam();
        auto kv = probe(file);
        EXPECT_EQ(kv["format_name"], format);
        EXPECT_EQ(kv["codec_name"], "dsd_msbf");
        EXPECT_EQ(kv["channels"], "2");
        // WSD: from the channel-assignment word; DSDIFF: from SLFT, SRGT.
        EXPECT_EQ(kv["channel_layout"], "stereo");
        // ffmpeg's DSD streams count bytes: 8 one-bit samples per "sample".
        EXPECT_EQ(num(kv, "sample_rate"), c.rate / 8);
        // Duration in the stream's time base, to the nearest tick.
        const auto [tb_num, tb_den] = rational(kv["time_base"]);
        ASSERT_GT(tb_num, 0u);
        const double ticks = static_cast<double>(c.bytes_per_channel) * 8.0 * static_cast<double>(tb_den) /
                             (static_cast<double>(c.rate) * static_cast<double>(tb_num));
        EXPECT_NEAR(static_cast<double>(num(kv, "duration_ts")), ticks, 1.0);

        RunResult raw = run_ok({ffmpeg(), "-v", "error", "-i", file, "-map", "0:a", "-c", "copy", "-f", "data", "-"});
        EXPECT_EQ(raw.out.size(), 2 * c.bytes_per_channel) << "sample count differs";
        EXPECT_TRUE(bytes_of(raw.out) == expected) << "DSD bytes differ";
    }
};

TEST_P(DsdDemux, ExtractorOutputsReadBack) {
    REQUIRE_FFMPEG();
    const DsdCase& c = GetParam();
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/six.dff";
    ASSERT_TRUE(testutil::dsdgen({"--rate=" + std::to_string(c.rate), "--channels=6",
                                  "--bytes=" + std::to_string(c.bytes_per_channel), "--random=all:11",
                                  "--ids=C000,C001,C002,C003,C004,C005", src}));
    const std::vector<uint8_t> sound = dsdiff_sound(testutil::read_file(src));
    ASSERT_EQ(sound.size(), 6 * c.bytes_per_channel);

    run_ok({CHANFORK_BIN, src, "C002", "C005", dir + "/pair.wsd", "C004", "C001", dir + "/pair.dff"});
    check(dir + "/pair.wsd", "wsd", pair_of(sound, 6, 2, 5));
    check(dir + "/pair.dff", "iff", pair_of(sound, 6, 4, 1));

    run_ok({CHANFORK2CHX4_BIN, "C000", "C001", "C002", "C003", "C004", "C005", "C005", "C000", src});
    check(dir + "/six_0.wsd", "wsd", pair_of(sound, 6, 0, 1));
    check(dir + "/six_1.wsd", "wsd", pair_of(sound, 6, 2, 3));
    check(dir + "/six_2.wsd", "wsd", pair_of(sound, 6, 4, 5));
    check(dir + "/six_3.wsd", "wsd", pair_of(sound, 6, 5, 0));
}

INSTANTIATE_TEST_SUITE_P(Rates, DsdDemux,
                         ::testing::Values(DsdCase{2822400, 70560}, DsdCase{5644800, 100001},
                                           DsdCase{11289600, 141121}),
                         [](const auto& info) {
                             return rate_name(info.param.rate) + "_" + std::to_string(info.param.bytes_per_channel);
                         });

// ---- ffmpeg's DSD-to-PCM conversion against sigmelt's ---------------------------

struct ToneCase {
    uint32_t rate;
    double amplitude;
};

void PrintTo(const ToneCase& c, std::ostream* os) { *os << c.rate << " Hz, amplitude " << c.amplitude; }

class ToneAgreement : public ::testing::TestWithParam<ToneCase> {};

TEST_P(ToneAgreement, SameFrequencyAndLevelAt1kHz) {
    REQUIRE_FFMPEG();
    const ToneCase& c = GetParam();
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/tone.dff";
    const std::string wav = dir + "/tone.wav";
    char amp[32];
    std::snprintf(amp, sizeof amp, "%.4f", c.amplitude);
    ASSERT_TRUE(testutil::dsdgen(
        {"--rate=" + std::to_string(c.rate), "--channels=2", "--seconds=0.6", std::string("--tone=all:1000:") + amp,
         src}));
    run_ok({SIGMELT_BIN, src, wav});
    sig::Wave w;
    ASSERT_TRUE(sig::read_wave_file(wav, w)) << w.error;

    // ffmpeg's own decoder, at its native rate (no resampler in between),
    // in double precision.
    RunResult pcm = run_ok({ffmpeg(), "-v", "error", "-i", src, "-f", "f64le", "-c:a", "pcm_f64le", "-"});
    const auto kv = probe(src);
    const double ff_rate = static_cast<double>(num(kv, "sample_rate"));
    ASSERT_EQ(ff_rate, c.rate / 8.0);
    std::vector<double> ff_left;
    for (size_t i = 0; i + 16 <= pcm.out.size(); i += 16) {
        double v;
        std::memcpy(&v, pcm.out.data() + i, 8);
        ff_left.push_back(v);
    }

    // The steady middle of both: 0.1 s in, 0.4 s long.
    auto middle = [](const std::vector<double>& x, double rate) {
        const size_t skip = static_cast<size_t>(0.1 * rate), len = static_cast<size_t>(0.4 * rate);
        EXPECT_GE(x.size(), skip + len);
        return std::vector<double>(x.begin() + static_cast<long>(skip),
                                   x.begin() + static_cast<long>(std::min(x.size(), skip + len)));
    };
    const std::vector<double> ours = middle(sig::pcm_to_double(w.left), 44100.0);
    const std::vector<double> theirs = middle(ff_left, ff_rate);

    const double f_ours = sig::estimate_frequency(ours, 44100.0);
    const double f_theirs = sig::estimate_frequency(theirs, ff_rate);
    EXPECT_NEAR(f_ours, 1000.0, 0.01);
    EXPECT_NEAR(f_theirs, 1000.0, 0.01);

    // Full scale is 32768 in pcm_to_double, 1.0 in ffmpeg's float output.
    const double a_ours = sig::fit_sine(ours, 1000.0, 44100.0).amplitude;
    const double a_theirs = sig::fit_sine(theirs, 1000.0, ff_rate).amplitude;
    const double diff_db = 20.0 * std::log10(a_ours / a_theirs);
    EXPECT_LT(std::fabs(diff_db), 0.1) << "sigmelt " << sig::amplitude_dbfs(a_ours) << " dBFS, ffmpeg "
                                       << sig::amplitude_dbfs(a_theirs) << " dBFS";
    RecordProperty("level_difference_db", std::to_string(diff_db));
}

INSTANTIATE_TEST_SUITE_P(Rates, ToneAgreement,
                         ::testing::Values(ToneCase{2822400, 0.5}, ToneCase{5644800, 0.25},
                                           ToneCase{11289600, 0.5}),
                         [](const auto& info) { return rate_name(info.param.rate); });

}  // namespace
