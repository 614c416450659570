// An independent reader: ffmpeg reads sigmelt's RF64 output sample for sample and an extractor's WSD and DSDIFF outputs,
// and its own conversion of a DSD tone agrees in level with sigmelt's. Skipped without ffmpeg and ffprobe on PATH.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include "support.h"
#include "wavetone.h"

namespace {
// The tool's path, empty when it is missing; ffprobe's values of the first sound stream, comma separated.
std::string tool(const std::string& name) { const auto r = ts::run({"/bin/sh", "-c", "command -v " + name}); return r.status ? "" : r.out.substr(0, r.out.find('\n')); }
std::string probe(const std::string& f, const std::string& e) { return ts::run({tool("ffprobe"), "-v", "error", "-show_entries", "stream=" + e, "-of", "csv=p=0", f}).out; }
#define NEED_FFMPEG() if (tool("ffmpeg").empty() || tool("ffprobe").empty()) GTEST_SKIP() << "ffmpeg or ffprobe not on PATH"

TEST(Interop, FfmpegReadsSigmeltsOutputAndAgreesOnTheLevel) {
    NEED_FFMPEG();
    const std::string d = ts::tmpdir(), src = d + "/t.dff", wav = d + "/t.wav";
    ASSERT_TRUE(ts::gen({"--channels=6", "--seconds=0.6", "--tone=all:1000:0.5", "--tone=1:3000:0.1", src}) && ts::run({ts::bin("sigmelt"), src, wav}).status == 0);
    const ts::Bytes file = ts::read_file(wav);
    Wave w;
    ASSERT_EQ(wave_parse(file, w), nullptr);
    EXPECT_EQ(probe(wav, "codec_name,sample_rate,channels,duration_ts"), "pcm_s16le,44100,2," + std::to_string(w.frames) + "\n");
    const ts::Result pcm = ts::run({tool("ffmpeg"), "-v", "error", "-i", wav, "-f", "s16le", "-"});
    EXPECT_TRUE(w.frames == 26460 && pcm.out == std::string(file.begin() + 84, file.end())) << "other samples than the file holds";
    // ffmpeg's own conversion of channel 0 at its 352.8 kHz, from 0.1 s on for 0.4 s, against sigmelt's left side.
    const ts::Result f = ts::run({tool("ffmpeg"), "-v", "error", "-i", src, "-f", "f64le", "-c:a", "pcm_f64le", "-"});
    std::vector<double> x(f.out.size() / 48);
    for (size_t i = 0; i < x.size(); ++i) std::memcpy(&x[i], f.out.data() + 48 * i, 8);
    Tone theirs, ours;
    ASSERT_TRUE(tone_fit(x, 352800, 1000, 35280, 176400, theirs) && tone_fit(wave_channel(w, 0), 44100, 1000, 4410, 22050, ours));
    EXPECT_NEAR(20 * std::log10(ours.amplitude / theirs.amplitude), 0, 0.1) << ours.amplitude << " " << theirs.amplitude;
}

TEST(Interop, FfmpegReadsExtractorOutputs) {
    NEED_FFMPEG();
    const std::string d = ts::tmpdir(), src = d + "/six.dff";
    ASSERT_TRUE(ts::gen({"--rate=5644800", "--channels=6", "--bytes=100001", "--random=all:11", src}));
    ASSERT_EQ(ts::run({ts::bin("chanfork"), src, "C002", "C005", d + "/p.wsd", "C004", "C001", d + "/p.dff"}).status, 0);
    for (const std::string out : {"/p.wsd", "/p.dff"}) {  // 100001 bytes a channel at 5644800 Hz: 0.141725 s
        const std::string got = probe(d + out, "codec_name,sample_rate,channels,duration");
        EXPECT_TRUE(got.starts_with("dsd_msbf,705600,2,0.1417")) << out << ": " << got;
    }
}

}  // namespace
