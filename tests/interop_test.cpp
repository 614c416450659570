// An independent reader: ffmpeg reads sigmelt's RF64 output sample for sample and an extractor's WSD and DSDIFF outputs,
// and its own conversion of a DSD tone agrees in level with sigmelt's. Skipped without ffmpeg and ffprobe on PATH.
#include <gtest/gtest.h>
#include <cmath>
#include "support.h"
#include "wavetone.h"

namespace {
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) { a.insert(a.end(), b.begin(), b.end()); return a; }
// ffmpeg or ffprobe found by the shell, quiet but for errors; ffprobe's values of the first sound stream, comma separated.
ts::Result ff(std::vector<std::string> a) { a.insert(a.begin(), {"/bin/sh", "-c", "exec \"$0\" -v error \"$@\""}); return ts::run(a); }
std::string probe(const std::string& f, const std::string& e) { return ff({"ffprobe", "-show_entries", "stream=" + e, "-of", "csv=p=0", f}).out; }
struct Interop : testing::Test { void SetUp() override { if (ts::run({"/bin/sh", "-c", "type ffmpeg ffprobe"}).status) GTEST_SKIP(); } };

TEST_F(Interop, FfmpegReadsSigmeltsOutputAndAgreesOnTheLevel) {
    const std::string d = ts::tmpdir(), src = d + "/t.dff", wav = d + "/t.wav";
    ASSERT_TRUE(ts::gen({"--channels=6", "--tone=all:1000:0.5", "--tone=1:3000:0.1", src}) && ts::run({ts::bin("sigmelt"), src, wav}).status == 0);
    const ts::Bytes file = ts::read_file(wav);
    Wave w;
    ASSERT_EQ(wave_parse(file, w), nullptr);
    EXPECT_EQ(probe(wav, "codec_name,sample_rate,channels,duration_ts"), "pcm_s16le,44100,2," + std::to_string(w.frames) + "\n");
    const std::string pcm = ff({"ffmpeg", "-i", wav, "-f", "s16le", "-"}).out;
    EXPECT_TRUE(w.frames == 44100 && pcm == std::string(file.begin() + 84, file.end())) << "other samples than the file holds";
    // ffmpeg's own conversion of channel 0 at its 352.8 kHz, from 0.1 s on for 0.4 s, against sigmelt's left side.
    const std::string f = ff({"ffmpeg", "-i", src, "-af", "pan=mono|c0=c0", "-f", "f64le", "-c:a", "pcm_f64le", "-"}).out;
    std::vector<double> x(f.size() / 8);
    f.copy(reinterpret_cast<char*>(x.data()), 8 * x.size());
    Tone theirs, ours;
    ASSERT_TRUE(tone_fit(x, 352800, 1000, 35280, 176400, theirs) && tone_fit(wave_channel(w, 0), 44100, 1000, 4410, 22050, ours));
    EXPECT_NEAR(20 * std::log10(ours.amplitude / theirs.amplitude), 0, 0.1) << ours.amplitude << " " << theirs.amplitude;
}

TEST_F(Interop, FfmpegReadsExtractorOutputs) {
    const std::string d = ts::tmpdir(), src = d + "/six.dff";
    ASSERT_TRUE(ts::gen({"--rate=5644800", "--channels=6", "--bytes=100001", "--random=all:11", src}));
    ASSERT_EQ(ts::run({ts::bin("chanfork"), src, "C002", "C005", d + "/p.wsd", "C004", "C001", d + "/p.dff"}).status, 0);
    for (const std::string out : {"/p.wsd", "/p.dff"})  // 100001 bytes a channel at 5644800 Hz: 0.141725 s
        EXPECT_EQ(probe(d + out, "codec_name,sample_rate,channels,duration").substr(0, 24), "dsd_msbf,705600,2,0.1417") << out;
}

// A decoder we did not write: ffmpeg's conversion of the generator's DST file is its conversion of the same sound stored plain (coded
// frames only: ffmpeg misplaces the bytes of plain ones), with every coded field varied and with the usual choice.
TEST_F(Interop, FfmpegDecodesTheGeneratorsDstFilesToThePlainSound) {
    const std::string d = ts::tmpdir();
    for (const std::string dst : {"--dst=mix-coded", "--dst"}) {
        std::vector<std::string> sound = {dst == "--dst" ? "--rate=5644800" : "--channels=6", "--seconds=0.2", "--tone=all:1000:0.5", "--random=1:5"};
        ASSERT_TRUE(ts::gen(sound + std::vector<std::string>{d + "/p.dff"}) && ts::gen(sound + std::vector<std::string>{dst, d + "/a.dff"}));
        const std::string plain = ff({"ffmpeg", "-i", d + "/p.dff", "-f", "f32le", "-"}).out;
        EXPECT_TRUE(plain.size() > 100000 && ff({"ffmpeg", "-i", d + "/a.dff", "-f", "f32le", "-"}).out == plain) << dst;
    }
}
}  // namespace
