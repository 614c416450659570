// An independent reader: ffmpeg reads sigmelt's RF64 output sample for sample and an extractor's WSD and DSDIFF outputs,
// and its own conversion of a DSD tone agrees in level with sigmelt's; flac and python's soundfile check the FLAC, 24-bit and
// float outputs. Skipped without ffmpeg and ffprobe on PATH.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
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

namespace {
// The samples of a raw little-endian stream of n-byte integers (as int32 from the top) or of floats (their bits), for comparing.
std::vector<int32_t> words(const std::string& raw, int n) {
    std::vector<int32_t> v(raw.size() / size_t(n));
    for (size_t i = 0; i < v.size(); ++i)
        for (int b = 0; b < n; ++b) v[i] |= int32_t(uint32_t(uint8_t(raw[i * size_t(n) + size_t(b)])) << (8 * (4 - n + b)));
    return v;
}
// python's soundfile: "rate subtype" on a line, then the samples as int32 (integers from the top) or float32. Status 77 without it.
ts::Result soundfile(const std::string& f, const char* dtype) {
    return ts::run({"/bin/sh", "-c", "for p in python3 /usr/bin/python3; do \"$p\" -c 'import soundfile' 2>/dev/null && exec \"$p\" -c \"$0\" \"$@\"; "
                    "done; exit 77", "import soundfile as s, sys; d, r = s.read(sys.argv[1], dtype=sys.argv[2]); sys.stdout.write('%d %s\\n' % "
                    "(r, s.info(sys.argv[1]).subtype)); sys.stdout.flush(); sys.stdout.buffer.write(d.tobytes())", f, dtype});
}
}  // namespace

// Each new kind as ffmpeg, flac and soundfile read it: rate, sample format, frame count and the very samples of the wave file made
// with the same options (the FLAC ones through both, with the source's title and artist as Vorbis comments).
TEST_F(Interop, NewOutputKindsReadSampleExact) {
    const std::string d = ts::tmpdir(), src = d + "/t.dff";
    ASSERT_TRUE(ts::gen({"--seconds=0.5", "--tone=0:1000:0.5", "--tone=1:3000:0.7", "--diin=A title:Someone", src}));
    const struct { std::vector<std::string> opt; std::string ext, codec, raw, subtype; int bytes; } rows[] = {
        {{"--bits=24", "--rate=88200"}, "wav", "pcm_s24le,88200", "s24le", "PCM_24", 3}, {{"--float", "--rate=176400"}, "wav", "pcm_f32le,176400", "f32le", "FLOAT", 4},
        {{"--float", "--filter=steep"}, "wav", "pcm_f32le,44100", "f32le", "FLOAT", 4}, {{"--dither"}, "wav", "pcm_s16le,44100", "s16le", "PCM_16", 2},
        {{"--bits=24", "--rate=176400"}, "flac", "flac,176400", "s24le", "PCM_24", 3}, {{}, "Flac", "flac,44100", "s16le", "PCM_16", 2}};
    for (const auto& r : rows) {
        if (r.ext != "wav" && !DSD_FLAC) continue;  // built without libFLAC
        const std::string out = d + "/o." + r.ext, wav = d + "/o.wav";
        std::vector<std::string> a{ts::bin("sigmelt")};
        a.insert(a.end(), r.opt.begin(), r.opt.end());
        ASSERT_TRUE(ts::run(a + std::vector<std::string>{src, wav}).status == 0 && ts::run(a + std::vector<std::string>{src, out}).status == 0);
        const ts::Bytes file = ts::read_file(wav);
        Wave w;
        ASSERT_EQ(wave_parse(file, w), nullptr);
        const std::string samples(file.begin() + long(w.data_offset), file.begin() + long(w.data_offset + w.data_size));
        EXPECT_EQ(probe(out, "codec_name,sample_rate,channels,duration_ts"), r.codec + ",2," + std::to_string(w.frames) + "\n") << out;
        EXPECT_TRUE(ff({"ffmpeg", "-i", out, "-f", r.raw, "-"}).out == samples) << out;
        EXPECT_TRUE(r.ext == "wav" || (ts::run({"/bin/sh", "-c", "exec flac --test -s \"$0\"", out}).status == 0 &&
                    ff({"ffprobe", "-show_entries", "format_tags=title,artist", "-of", "compact=p=0:nk=1:s=|", out}).out == "A title|Someone\n")) << out;
        const ts::Result sf = soundfile(out, r.bytes == 4 ? "float32" : "int32");
        if (sf.status == 77) { std::printf("python's soundfile missing: %s not read by it\n", out.c_str()); continue; }
        const size_t line = sf.out.find('\n') + 1;
        EXPECT_TRUE(sf.out.substr(0, line) == std::to_string(w.rate) + " " + r.subtype + "\n" &&
                    words(sf.out.substr(line), 4) == (r.bytes == 4 ? words(samples, 4) : words(samples, r.bytes))) << out << sf.err;
    }
}

// Against ffmpeg's own float conversion at 44.1 kHz of the same file: the steep filter's THD+N within 3 dB of it (or better).
TEST_F(Interop, SteepFloatNoiseNearFfmpegs) {
    const std::string d = ts::tmpdir(), src = d + "/t.dff";
    ASSERT_TRUE(ts::gen({"--seconds=1", "--tone=all:1000:0.5", src}) && ts::run({ts::bin("sigmelt"), "--float", "--filter=steep", src, d + "/o.wav"}).status == 0);
    const std::string f = ff({"ffmpeg", "-i", src, "-ar", "44100", "-f", "f64le", "-c:a", "pcm_f64le", "-"}).out;
    std::vector<double> x(f.size() / 16);  // the left side
    for (size_t i = 0; i < x.size(); ++i) f.copy(reinterpret_cast<char*>(&x[i]), 8, 16 * i);
    Wave w;
    ASSERT_EQ(wave_parse(ts::read_file(d + "/o.wav"), w), nullptr);
    const double theirs = thd_n_db(x, 44100, 1000, 4410, x.size(), 20, 20000), ours = thd_n_db(wave_channel(w, 0), 44100, 1000, 4410, w.frames, 20, 20000);
    EXPECT_LT(ours, theirs + 3) << ours << " " << theirs;
}

// Ctrl-C in a FLAC conversion: a file that flac --test passes, holding exactly the frames the program says it wrote.
TEST_F(Interop, FlacCutByCtrlC) {
    if (!DSD_FLAC) GTEST_SKIP() << "built without libFLAC";
    const std::string dir = ts::tmpdir();
    ASSERT_TRUE(ts::gen({"--header-only", "--data-size=1000000000000", dir + "/head"}));
    ts::Child c = ts::start({"/bin/sh", "-c", "mkfifo fifo && { cat head /dev/zero >fifo & exec \"$0\" --bits=24 fifo o.flac; }", ts::bin("sigmelt")}, {.cwd = dir});
    for (int ms = 0; ms < 20000 && !ts::ended(c) && ts::size_of(dir + "/o.flac") < 100000; ++ms) usleep(1000);
    ASSERT_TRUE(!ts::ended(c) && kill(c.pid, SIGINT) == 0);
    const ts::Result r = ts::finish(c);
    const size_t at = r.err.find("holds the first ");
    ASSERT_TRUE(r.status == 130 && at != std::string::npos) << r.err;
    const std::string frames = r.err.substr(at + 16, r.err.find(' ', at + 16) - at - 16);
    EXPECT_EQ(probe(dir + "/o.flac", "duration_ts"), frames + "\n");
    EXPECT_EQ(ts::run({"/bin/sh", "-c", "exec flac --test -s \"$0\"", dir + "/o.flac"}).status, 0);
}
