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

// From DSDIFF and DSF (the same tones), with the tags each carries: a DSF file's ID3v2.4 tag, a DSDIFF file's "ID3 " chunk (ID3v2.3, UTF-16)
// before its DIIN chunk, or the DIIN chunk alone.
TEST_F(Interop, FfmpegReadsSigmeltsOutputAndAgreesOnTheLevel) {
    const std::string d = ts::tmpdir(), wav = d + "/t.wav", title = "T\xc3\xaftle \xf0\x9d\x84\x9e", artist = "\xc3\x84rtist";
    const struct { std::string src; std::vector<std::string> gen; std::string tags = ""; } rows[] = {{"t.dff", {}}, {"t.dsf", {"--title=" + title, "--artist=" + artist}, title + "|" + artist},
        {"i.dff", {"--id3-version=3", "--title=" + title, "--artist=" + artist, "--diin=Other:Who"}, title + "|" + artist}, {"d.dff", {"--diin=Other:Who"}, "Other|Who"}};
    for (const auto& [name, gen, tags] : rows) {
        const std::string src = d + "/" + name;
        std::vector<std::string> g = {"--channels=6", "--tone=all:1000:0.5", "--tone=1:3000:0.1", src};
        g.insert(g.begin(), gen.begin(), gen.end());
        ASSERT_TRUE(ts::gen(g) && ts::run({ts::bin("sigmelt"), src, wav}).status == 0);
        const ts::Bytes file = ts::read_file(wav);
        Wave w;
        ASSERT_EQ(wave_parse(file, w), nullptr);
        EXPECT_EQ(probe(wav, "codec_name,sample_rate,channels,duration_ts"), "pcm_s16le,44100,2," + std::to_string(w.frames) + "\n");
        EXPECT_EQ(ff({"ffprobe", "-show_entries", "format_tags=title,artist", "-of", "compact=p=0:nk=1:s=|", wav}).out, tags + "\n") << name;
        const std::string pcm = ff({"ffmpeg", "-i", wav, "-f", "s16le", "-"}).out;
        EXPECT_TRUE(w.frames == 44100 && pcm == std::string(file.begin() + 84, file.begin() + 84 + 4 * 44100)) << "other samples than the file holds";
        // ffmpeg's own conversion of channel 0 at its 352.8 kHz, from 0.1 s on for 0.4 s, against sigmelt's left side (the tones
        // of both formats; the tags' rows have the same sound).
        if (name != "t.dff" && name != "t.dsf") continue;
        const std::string f = ff({"ffmpeg", "-i", src, "-af", "pan=mono|c0=c0", "-f", "f64le", "-c:a", "pcm_f64le", "-"}).out;
        std::vector<double> x(f.size() / 8);
        f.copy(reinterpret_cast<char*>(x.data()), 8 * x.size());
        Tone theirs, ours;
        ASSERT_TRUE(tone_fit(x, 352800, 1000, 35280, 176400, theirs) && tone_fit(wave_channel(w, 0), 44100, 1000, 4410, 22050, ours));
        EXPECT_NEAR(20 * std::log10(ours.amplitude / theirs.amplitude), 0, 0.1) << name << " " << ours.amplitude << " " << theirs.amplitude;
    }
}

TEST_F(Interop, FfmpegReadsExtractorOutputs) {
    const std::string d = ts::tmpdir(), src = d + "/six.dff";
    ASSERT_TRUE(ts::gen({"--rate=5644800", "--channels=6", "--bytes=100001", "--random=all:11", src}));
    ASSERT_EQ(ts::run({ts::bin("chanfork"), src, "C002", "C005", d + "/p.wsd", "C004", "C001", d + "/p.dff"}).status, 0);
    for (const std::string out : {"/p.wsd", "/p.dff"})  // 100001 bytes a channel at 5644800 Hz: 0.141725 s
        EXPECT_EQ(probe(d + out, "codec_name,sample_rate,channels,duration").substr(0, 24), "dsd_msbf,705600,2,0.1417") << out;
    // The generator's DSF file: ffmpeg's packets are block sets (the last one cut to the sound), first sample in the lowest bit.
    ASSERT_TRUE(ts::gen({"--rate=5644800", "--channels=6", "--bytes=100001", "--random=all:11", d + "/six.dsf"}));
    const std::string dsf = ff({"ffmpeg", "-i", d + "/six.dsf", "-map", "0:a", "-c", "copy", "-f", "data", "-"}).out;
    std::string frames(dsf.size(), '\0');
    for (size_t set = 0; set < dsf.size(); set += 6 * 4096)
        for (size_t n = std::min<size_t>(4096, (dsf.size() - set) / 6), i = 0; i < 6 * n; ++i)
            for (int b = 0; b < 8; ++b) frames[set + i] = char(frames[set + i] | (dsf[set + i % 6 * n + i / 6] >> b & 1) << (7 - b));
    EXPECT_TRUE(dsf.size() == 600006 && frames == ff({"ffmpeg", "-i", src, "-map", "0:a", "-c", "copy", "-f", "data", "-"}).out);
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
