// sigmelt end to end: its reports and statuses, the frames it writes for
// sources of every shape, the file line and the channel routing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "melt_util.h"

namespace {

using melt::report;
using melt::sigmelt;
using testutil::dsdgen;

class Sigmelt : public ::testing::Test {
protected:
    std::string dir = testutil::make_temp_dir();
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

const std::string kUsage =
    "usage:\t" SIGMELT_BIN " --version\n\t" SIGMELT_BIN
    " [--channels=#,#] source_delta_sigma_file destination_wav_file\n\n";

// ---- command line ----

TEST_F(Sigmelt, CommandLineReportsAndStatuses) {
    const std::string src = path("s.dff");
    ASSERT_TRUE(dsdgen({"--bytes=800", src}));
    const std::string out = path("o.wav");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{}, 27, kUsage, ""},
        {{"--version"}, 0, kUsage, ""},
        {{"--version", src, out}, 0, kUsage, ""},
        {{"--channels=1", src, out}, 39, "", report("parse_param", 38, "parse error arg --channels=1\n")},
        {{"--channels=a,b", src, out}, 39, "", report("parse_param", 38, "parse error arg --channels=a,b\n")},
        {{"--channels=1 ,0", src, out}, 39, "", report("parse_param", 38, "parse error arg --channels=1 ,0\n")},
        {{"--channels=9999999999,0", src, out},
         39,
         "",
         report("parse_param", 38, "parse error arg --channels=9999999999,0\n")},
        {{src, out, "third"}, 49, "", report("parse_param", 48, "too many parameters after third\n")},
        {{"--channels=0,1"}, 54, "", report("parse_param", 53, "source Delta Sigma file name is not defined.\n")},
        {{src}, 58, "", report("parse_param", 57, "destination WAV file name is not defined.\n")},
        {{path("missing.dff"), out}, 100, "", report("sigmelt", 99, "file " + path("missing.dff") + " open error.\n")},
        {{"--channels=2,0", src, out},
         148,
         "",
         report("sigmelt", 147, "left channel index 2 is larger than file channels 2\n")},
        {{"--channels=0,5", src, out},
         152,
         "",
         report("sigmelt", 151, "right channel index 5 is larger than file channels 2\n")},
    };
    for (const auto& c : cases) {
        std::string cmd;
        for (const auto& a : c.args) cmd += a + " ";
        const auto r = sigmelt(c.args);
        EXPECT_EQ(r.status, c.status) << cmd;
        EXPECT_EQ(r.out, c.out) << cmd;
        EXPECT_EQ(r.err, c.err) << cmd;
        EXPECT_FALSE(testutil::file_exists(out)) << cmd;
    }
}

// Runs sigmelt from inside the test folder, for names without a folder.
testutil::RunResult sigmelt_in(const std::string& dir, const std::vector<std::string>& args) {
    char cwd[4096];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(chdir(dir.c_str()), 0);
    auto r = sigmelt(args);
    EXPECT_EQ(chdir(cwd), 0);
    return r;
}

TEST_F(Sigmelt, LaterVersionIsAFileNameAndTheLastChannelsOptionCounts) {
    ASSERT_TRUE(dsdgen({"--channels=4", "--bytes=800", path("s.dff")}));
    // "--version" in second place is the destination.
    auto r = sigmelt_in(dir, {"s.dff", "--version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(melt::load_wave(path("--version")).sample_count, 100u);
    // The first pair would be refused; the second one is used.
    r = sigmelt({"--channels=7,7", path("s.dff"), "--channels=2,3", path("o.wav")});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(Sigmelt, SourcesThatCannotBeConvertedLeaveNoDestination) {
    const std::string out = path("o.wav");
    const std::string text = path("text.dff");
    testutil::write_file(text, std::string("this is not a DSD file at all, just text\n"));
    const std::string empty = path("empty.dff");
    testutil::write_file(empty, std::string());
    const std::string r44 = path("r44.dff"), r0 = path("r0.wsd"), rodd = path("rodd.dff");
    ASSERT_TRUE(dsdgen({"--rate=44100", "--bytes=100", r44}));
    ASSERT_TRUE(dsdgen({"--rate=0", "--bytes=100", r0}));
    ASSERT_TRUE(dsdgen({"--rate=2822401", "--bytes=100", rodd}));
    // Zero channels declared, in both containers.
    const std::string zero_dff = path("zero.dff"), zero_wsd = path("zero.wsd");
    ASSERT_TRUE(dsdgen({"--chnl-count=0", "--chnl-size=2", "--bytes=100", zero_dff}));
    ASSERT_TRUE(dsdgen({"--wsd-channels=0", "--bytes=100", zero_wsd}));
    // Compressed sound is not this program's business.
    const std::string dst = path("dst.dff");
    ASSERT_TRUE(dsdgen({"--cmpr-type=DST ", "--sound-id=DST ", "--bytes=100", dst}));

    const struct {
        std::string src;
        int status;
        std::string err;
    } cases[] = {
        {text, 134, report("sigmelt", 133, "file " + text + " is not Delta Sigma format.\n")},
        {empty, 134, report("sigmelt", 133, "file " + empty + " is not Delta Sigma format.\n")},
        {zero_dff, 134, report("sigmelt", 133, "file " + zero_dff + " is not Delta Sigma format.\n")},
        {zero_wsd, 134, report("sigmelt", 133, "file " + zero_wsd + " is not Delta Sigma format.\n")},
        {dst, 134, report("sigmelt", 133, "file " + dst + " is not Delta Sigma format.\n")},
        {r44, 144, report("sigmelt", 143, "sampling rate 44100Hz is not supported yet\n")},
        {r0, 144, report("sigmelt", 143, "sampling rate 0Hz is not supported yet\n")},
        {rodd, 144, report("sigmelt", 143, "sampling rate 2822401Hz is not supported yet\n")},
    };
    for (const auto& c : cases) {
        const auto r = sigmelt({c.src, out});
        EXPECT_EQ(r.status, c.status) << c.src;
        // A byte-order primitive may have said something before.
        EXPECT_TRUE(r.err.ends_with(c.err)) << c.src << "\n" << r.err;
        EXPECT_FALSE(testutil::file_exists(out)) << c.src;
    }
}

TEST_F(Sigmelt, DestinationThatCannotBeOpened) {
    const std::string src = path("s.dff");
    ASSERT_TRUE(dsdgen({"--bytes=800", src}));
    const std::string out = path("no/such/dir/o.wav");
    const auto r = sigmelt({src, out});
    EXPECT_EQ(r.status, 367 & 0xFF);  // exit(367) as the platform reports it
    EXPECT_EQ(r.err, report("sigmelt", 366, "fopen(" + out + ") failed.\n"));
}

// Converting a file onto itself would truncate the source before reading it.
TEST_F(Sigmelt, DestinationThatIsTheSourceIsRefused) {
    const std::string src = path("s.dff");
    ASSERT_TRUE(dsdgen({"--tone=all:1000:0.5", "--bytes=8000", src}));
    const auto before = testutil::read_file(src);
    ASSERT_EQ(link(src.c_str(), path("hard.dff").c_str()), 0);
    ASSERT_EQ(symlink(src.c_str(), path("soft.wav").c_str()), 0);
    for (const std::string& out : {src, path("hard.dff"), path("soft.wav"), dir + "/./s.dff"}) {
        const auto r = sigmelt({src, out});
        EXPECT_EQ(r.status, 161) << out;
        EXPECT_EQ(r.err, report("sigmelt", 160, "destination " + out + " is the source file\n")) << out;
        EXPECT_EQ(testutil::read_file(src), before) << out;
    }
    // A different file of the same content is fine.
    const std::string copy = path("copy.dff");
    testutil::write_file(copy, before);
    EXPECT_EQ(sigmelt({src, copy}).status, 0);
}

// ---- frame counts ----

struct CountCase {
    std::string what;
    std::vector<std::string> gen;  // generator arguments
    uint64_t frames;
};

TEST_F(Sigmelt, OneFramePerCompleteBlock) {
    const CountCase cases[] = {
        {"stereo 2.8224 MHz", {"--bytes=8000"}, 1000},
        {"partial block dropped", {"--bytes=8003"}, 1000},
        {"empty sound chunk", {"--bytes=0"}, 0},
        {"fewer than 256 frames", {"--bytes=80"}, 10},
        {"one block short of one", {"--bytes=7"}, 0},
        {"5.6448 MHz", {"--rate=5644800", "--bytes=16000"}, 1000},
        {"11.2896 MHz", {"--rate=11289600", "--bytes=32000"}, 1000},
        {"11.2896 MHz partial", {"--rate=11289600", "--bytes=32031"}, 1000},
        {"mono", {"--channels=1", "--bytes=8000"}, 1000},
        {"ten channels", {"--channels=10", "--rate=11289600", "--bytes=3200"}, 100},
        // The sound chunk ends the sound: what follows is not converted.
        {"trailing chunks", {"--bytes=8000", "--trailing-chunk=ID3 :1000", "--trailing-chunk=DIIN:333"}, 1000},
        // Declared shorter than written: the declared size counts.
        {"declared 15 of 16 bytes", {"--bytes=8", "--data-size=15"}, 1},  // short last group
        {"declared 14 of 16 bytes", {"--bytes=8", "--data-size=14"}, 0},
        {"declared 6-ch block less 5", {"--channels=6", "--bytes=16", "--data-size=91"}, 2},
        {"declared 6-ch block less 6", {"--channels=6", "--bytes=16", "--data-size=90"}, 1},
        {"declared 6-ch one block less 6", {"--channels=6", "--bytes=8", "--data-size=42"}, 0},
        // Declared longer than the file: the end of the file ends it.
        {"declared beyond the file", {"--bytes=8000", "--data-size=1000000000"}, 1000},
        {"WSD", {"--format=wsd", "--bytes=8000"}, 1000},
        {"WSD cut to a short last group", {"--format=wsd", "--bytes=16", "--truncate=2079"}, 2},
        {"WSD cut to a whole group short", {"--format=wsd", "--bytes=16", "--truncate=2078"}, 1},
        {"WSD 6 channels, 5 bytes short", {"--format=wsd", "--channels=6", "--bytes=8", "--truncate=2091"}, 1},
        {"WSD 6 channels, 6 bytes short", {"--format=wsd", "--channels=6", "--bytes=8", "--truncate=2090"}, 0},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string src = path("s.src"), out = path("o.wav");
        std::vector<std::string> args = c.gen;
        args.push_back("--random=all:7");
        args.push_back(src);
        ASSERT_TRUE(dsdgen(args));
        const auto r = sigmelt({src, out});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const sig::Wave w = melt::load_wave(out);
        EXPECT_EQ(w.sample_count, c.frames);
        unlink(src.c_str());
        unlink(out.c_str());
    }
}

// A DSDIFF file cut inside its sound data gives the frames present, the
// group rule applying at the cut.
TEST_F(Sigmelt, TruncatedDsdiffGivesTheFramesPresent) {
    const std::string src = path("s.dff"), out = path("o.wav");
    ASSERT_TRUE(dsdgen({"--bytes=8000", "--random=all:1", src}));
    const uint64_t header = testutil::file_size(src) - 16000;
    ASSERT_TRUE(dsdgen({"--bytes=8000", "--random=all:1", "--truncate=" + std::to_string(header + 1615), src}));
    ASSERT_EQ(sigmelt({src, out}).status, 0);
    EXPECT_EQ(melt::load_wave(out).sample_count, 101u);  // 1615 = 100 blocks + 15 bytes
}

TEST_F(Sigmelt, EmptySoundGivesAHeaderOnlyFile) {
    const std::string src = path("s.dff"), out = path("o.wav");
    ASSERT_TRUE(dsdgen({"--bytes=0", src}));
    ASSERT_EQ(sigmelt({src, out}).status, 0);
    const auto bytes = testutil::read_file(out);
    ASSERT_EQ(bytes.size(), 84u);
    // The whole header, byte by byte.
    std::vector<uint8_t> want;
    testutil::put_str(want, "RF64");
    testutil::put_le(want, 0xFFFFFFFF, 4);
    testutil::put_str(want, "WAVEds64");
    testutil::put_le(want, 28, 4);
    testutil::put_le(want, 76, 8);
    testutil::put_le(want, 0, 8);
    testutil::put_le(want, 0, 8);
    testutil::put_le(want, 0, 4);
    testutil::put_str(want, "fmt ");
    testutil::put_le(want, 20, 4);
    for (uint64_t v : {1, 2}) testutil::put_le(want, v, 2);
    testutil::put_le(want, 44100, 4);
    testutil::put_le(want, 176400, 4);
    for (uint64_t v : {4, 16, 0, 0}) testutil::put_le(want, v, 2);
    testutil::put_str(want, "data");
    testutil::put_le(want, 0xFFFFFFFF, 4);
    EXPECT_EQ(bytes, want);
}

// 60 s of stereo 2.8224 MHz sound: 44100 x 60 frames, "total 01:00"; one
// byte less of declared sound shows 59 s and still gives every frame but
// the last.
TEST_F(Sigmelt, OneMinuteExactly) {
    const std::string src = path("m.dff"), out = path("o.wav");
    const uint64_t bytes = 2822400ull * 2 / 8 * 60;
    ASSERT_TRUE(dsdgen({"--seconds=60", "--const=all:0x69", src}));
    auto r = sigmelt({src, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with(melt::kClear + "\nplaying file 1/1 total 01:00 \"m.dff\" ")) << r.out;
    EXPECT_EQ(melt::load_wave(out).sample_count, 44100u * 60);
    // The status line went through the seconds.
    EXPECT_NE(r.out.find("\rposition 00:00 buffer "), std::string::npos);
    EXPECT_NE(r.out.find("\rposition 00:59 buffer "), std::string::npos);
    EXPECT_TRUE(r.out.ends_with(melt::kClear + "\n\n"));

    ASSERT_TRUE(dsdgen({"--seconds=60", "--const=all:0x69", "--data-size=" + std::to_string(bytes - 1), src}));
    r = sigmelt({src, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with(melt::kClear + "\nplaying file 1/1 total 00:59 \"m.dff\" ")) << r.out;
    EXPECT_EQ(melt::load_wave(out).sample_count, 44100u * 60);  // the short last group still counts
}

// The data after the sound chunk does not change a single sample; WSD
// with the same sound gives the same samples.
TEST_F(Sigmelt, TrailingChunksAndContainerDoNotChangeTheSamples) {
    const std::string plain = path("p.dff"), trailing = path("t.dff"), wsd = path("w.wsd");
    const std::vector<std::string> sound{"--tone=all:1000:0.5", "--seconds=0.2"};
    auto args = sound;
    args.push_back(plain);
    ASSERT_TRUE(dsdgen(args));
    args = sound;
    args.insert(args.end(), {"--trailing-chunk=ID3 :4001", "--trailing-chunk=DIIN:100", trailing});
    ASSERT_TRUE(dsdgen(args));
    args = sound;
    args.push_back(wsd);
    ASSERT_TRUE(dsdgen(args));
    for (const auto& s : {plain, trailing, wsd}) ASSERT_EQ(sigmelt({s, s + ".wav"}).status, 0) << s;
    const auto want = testutil::read_file(plain + ".wav");
    EXPECT_EQ(want.size(), 84u + 4 * 8820);
    EXPECT_EQ(testutil::read_file(trailing + ".wav"), want);
    EXPECT_EQ(testutil::read_file(wsd + ".wav"), want);
}

// ---- file line ----

TEST_F(Sigmelt, FileLineTimesAndNames) {
    // Header-only sources declare long sound without holding it.
    const uint64_t per_second = 2822400ull * 2 / 8;
    const struct {
        std::string name;
        uint64_t seconds;
        std::string time;
    } cases[] = {
        {"a-name-long-enough-for-a-line-of-its-own.dff", 3725, "1:02:05"},
        {"b.dff", 3599, "59:59"},
        {"c.dff", 36000, "10:00:00"},
        {"d.dff", 0, "00:00"},
    };
    for (const auto& c : cases) {
        const std::string src = path(c.name);
        ASSERT_TRUE(dsdgen({"--header-only", "--bytes=0", "--data-size=" + std::to_string(c.seconds * per_second), src}));
        const auto r = sigmelt({src, path("o.wav")});
        EXPECT_EQ(r.status, 0) << r.err;
        // Base name, then the whole name, on a line of its own beyond 40
        // characters.
        const std::string line = "\nplaying file 1/1 total " + c.time + " \"" + c.name + "\" " +
                                 (src.size() > 40 ? "\n" : "") + "\"" + src + "\"\n";
        EXPECT_TRUE(r.out.starts_with(melt::kClear + line)) << r.out;
        EXPECT_EQ(melt::load_wave(path("o.wav")).sample_count, 0u);
    }
    // WSD: the playing time comes from the declared file size.
    const std::string wsd = path("w.wsd");
    ASSERT_TRUE(dsdgen({"--bytes=0", "--wsd-file-size=" + std::to_string(2048 + 3725 * per_second), wsd}));
    const auto r = sigmelt({wsd, path("o.wav")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with(melt::kClear + "\nplaying file 1/1 total 1:02:05 \"w.wsd\" ")) << r.out;

    // A file size that ends before the data offset declares no sound, and a
    // size whose bit count exceeds 64 bits still gives a time, not a wrapped
    // or negative one.
    const struct {
        std::string file_size, time;
    } sizes[] = {{"1024", "00:00"}, {"0x7FFFFFFFFFFFFFFF", "596523:14:07"}};
    for (const auto& c : sizes) {
        const std::string odd = path("odd.wsd");
        std::remove(odd.c_str());
        ASSERT_TRUE(dsdgen({"--bytes=0", "--wsd-file-size=" + c.file_size, odd}));
        const auto rr = sigmelt({odd, path("o2.wav")});
        EXPECT_EQ(rr.status, 0) << rr.err;
        EXPECT_TRUE(rr.out.starts_with(melt::kClear + "\nplaying file 1/1 total " + c.time + " \"odd.wsd\" "))
            << c.file_size << ": " << rr.out;
    }
}

TEST_F(Sigmelt, FileLineOfShortNamesWithoutAFolder) {
    const std::string name40 = std::string(36, 'x') + ".dff", name41 = std::string(37, 'x') + ".dff";
    ASSERT_TRUE(dsdgen({"--bytes=8000", path(name40)}));
    ASSERT_TRUE(dsdgen({"--bytes=8000", path(name41)}));
    auto r = sigmelt_in(dir, {name40, "o.wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with(melt::kClear + "\nplaying file 1/1 total 00:00 \"" + name40 + "\"\n")) << r.out;
    r = sigmelt_in(dir, {name41, "o.wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with(melt::kClear + "\nplaying file 1/1 total 00:00 \n\"" + name41 + "\"\n")) << r.out;
}

// ---- routing ----

// Amplitude (fraction of full scale) of `freq` on one side, past the
// filter's start-up.
double level(const std::vector<int16_t>& side, double freq) {
    const auto x = melt::to_unit(side, 2205, 22050);  // 0.5 s, whole periods of every test tone
    return sig::goertzel_amplitude(x, freq, 44100.0);
}

TEST_F(Sigmelt, Routing) {
    // Channel i carries a tone of 500 * (i + 1) Hz at 0.3 of full scale.
    auto source = [&](int channels) {
        std::vector<std::string> args{"--channels=" + std::to_string(channels), "--seconds=0.6"};
        for (int i = 0; i < channels; ++i) {
            char tone[64];
            std::snprintf(tone, sizeof tone, "--tone=%d:%d:0.3", i, 500 * (i + 1));
            args.push_back(tone);
        }
        std::string name = "r";
        name += std::to_string(channels);
        const std::string src = path(name);
        args.push_back(src);
        EXPECT_TRUE(dsdgen(args));
        return src;
    };
    const std::string mono = source(1), stereo = source(2), six = source(6);
    const struct {
        std::string what;
        std::string src;
        std::vector<std::string> option;
        std::vector<double> left, right;  // expected amplitude of each channel's tone
    } cases[] = {
        {"stereo default", stereo, {}, {0.3, 0}, {0, 0.3}},
        {"stereo 0,1", stereo, {"--channels=0,1"}, {0.3, 0}, {0, 0.3}},
        {"stereo 1,0 mixes both", stereo, {"--channels=1,0"}, {0.15, 0.15}, {0.15, 0.15}},
        {"stereo -1,-1 is the default", stereo, {"--channels=-1,-1"}, {0.3, 0}, {0, 0.3}},
        {"six default", six, {}, {0.1, 0, 0.1, 0, 0.1, 0}, {0, 0.1, 0, 0.1, 0, 0.1}},
        {"six 2,3 keeps 0 and 1", six, {"--channels=2,3"}, {0.15, 0, 0.15, 0, 0, 0}, {0, 0.15, 0, 0.15, 0, 0}},
        {"six 5,5", six, {"--channels=5,5"}, {0.15, 0, 0, 0, 0, 0.15}, {0, 0.15, 0, 0, 0, 0.15}},
        {"six -1,3: left unchanged", six, {"--channels=-1,3"}, {0.3, 0, 0, 0, 0, 0}, {0, 0.15, 0, 0.15, 0, 0}},
        {"six 4,-7: right unchanged", six, {"--channels=4,-7"}, {0.15, 0, 0, 0, 0.15, 0}, {0, 0.3, 0, 0, 0, 0}},
        {"mono", mono, {}, {0.3}, {0}},
        {"mono 0,0", mono, {"--channels=0,0"}, {0.3}, {0.3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.option;
        const std::string out = path("o.wav");
        args.insert(args.end(), {c.src, out});
        const auto r = sigmelt(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const sig::Wave w = melt::load_wave(out);
        for (size_t ch = 0; ch < c.left.size(); ++ch) {
            const double f = 500.0 * static_cast<double>(ch + 1);
            EXPECT_NEAR(level(w.left, f), c.left[ch], 2e-4) << "left, channel " << ch;
            EXPECT_NEAR(level(w.right, f), c.right[ch], 2e-4) << "right, channel " << ch;
        }
        if (c.what == "mono") {
            for (int16_t s : w.right) ASSERT_EQ(s, 0);  // silent, not just quiet
        }
    }
}

}  // namespace
