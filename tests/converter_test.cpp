// The converter's parts on their own; sigmelt end to end from tables; runs cut short by Ctrl-C or by an output that stops taking data.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <thread>
#include "deltasigma.h"
#include "parse_param.h"
#include "ringbuffer.h"
#include "sigmelt.h"
#include "support.h"
#include "util.h"
#include "wavetone.h"

ChannelSwitch channel_switches[DSD_MAX_CHANNELS];  // owned by the converter, read by coeff_deltasigma_init

namespace {
using Args = std::vector<std::string>;
using lay::operator+, ts::Bytes;
const std::string CLEAR = std::string(1, '\r').append(72, ' ');
Args operator+(Args a, const Args& b) { a.insert(a.end(), b.begin(), b.end()); return a; }

TEST(Units, RingbufferPairsSamplesBlocksAndStatusLine) {
    EXPECT_TRUE(ringbuffer_new(16, 0) == nullptr && ringbuffer_new(3, 4) == nullptr);  // no whole unit
    std::vector<uint32_t> frames(200000);
    for (uint32_t i = 0; i < frames.size(); ++i) frames[i] = i;
    // Two threads, puts of three frames into 64 bytes (66 rounded down to a unit): some wrap, some are cut short (one unit stays free).
    Ringbuffer* rb = ringbuffer_new(66, 4);
    std::thread producer([&] {
        for (size_t i = 0; i < frames.size(); std::this_thread::yield()) i += ringbuffer_put(rb, &frames[i], 4 * std::min<size_t>(3, frames.size() - i)) / 4;
        ringbuffer_finish(rb);
    });
    Bytes got;  // a run never wraps; every frame comes out once, in order
    for (uint32_t n = 0; !ringbuffer_drained(rb); ringbuffer_advance(rb, n), std::this_thread::yield())
        got.insert(got.end(), rb->buffer + rb->read_pos, rb->buffer + rb->read_pos + (n = ringbuffer_run(rb)));
    producer.join();
    for (int twice = 0; twice < 2; ++twice) ringbuffer_destroy(&rb);  // the second release does nothing
    EXPECT_TRUE(got == Bytes(reinterpret_cast<uint8_t*>(frames.data()), reinterpret_cast<uint8_t*>(frames.data() + frames.size())));
    auto parse = [](const char* text, int32_t l = 111, int32_t r = 222) { const bool ok = parse_channel_pair(text, &l, &r); return std::tuple(ok, l, r); };
    const struct { const char* text; bool ok; int32_t l = 111, r = 222; } pairs[] = {{" 1, 0", 1, 1, 0}, {"+4,\t5", 1, 4, 5}, {"7,8,9x", 1, 7, 8},
        {"2147483647,-2147483648", 1, INT32_MAX, INT32_MIN}, {"1 ,2", 0}, {"1,", 0}, {"- 1,2", 0}, {"2147483648,0", 0}, {"0,-2147483649", 0}};
    for (const auto& c : pairs) EXPECT_EQ(parse(c.text), std::tuple(c.ok, c.l, c.r)) << c.text;  // the numbers untouched unless both were read
    const std::pair<float, int16_t> samples[] = {{1, 32767}, {-1, -32767}, {1.1f, 32767}, {-1.1f, -32768}, {0.5f, 16383}, {-0.5f, -16383},
        {0.99999f, 32766}, {-1.0000305f, -32768}, {NAN, 0}, {INFINITY, 32767}, {-INFINITY, -32768}};
    for (auto [v, want] : samples) EXPECT_EQ(sample_from_float(v), want) << v;  // truncated toward zero, saturated at both ends
    const std::tuple<size_t, size_t, size_t, bool> blocks[] = {{16, 16, 2, 1}, {15, 16, 2, 1}, {14, 16, 2, 0}, {43, 48, 6, 1}, {42, 48, 6, 0}};
    for (auto [got, block, group, want] : blocks) EXPECT_EQ(block_complete(got, block, group), want) << got;  // a short last group counts
    testing::internal::CaptureStdout(), util_display_current_time(3600, 42);  // hours: an hour's run end to end
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\rposition 1:00:00 buffer 42[%]    ");
}

struct Melt : ::testing::Test {
    std::string dir = ts::tmpdir(), o = p("o");
    std::string p(const std::string& name) const { return dir + "/" + name; }
    ts::Result melt(const Args& a, int64_t limit = -1) const { return ts::run(Args{ts::bin("sigmelt")} + a, {.cwd = dir, .file_limit = limit}); }
    static Wave load(const std::string& path, Wave w = {}) {  // a converter output: its header is the one for the frames it holds
        const Bytes b = ts::read_file(path);
        EXPECT_TRUE(!wave_parse(b, w) && b.size() == 84 + 4 * w.frames && Bytes(b.begin(), b.begin() + 84) == lay::rf64_header(w.frames)) << path;
        return w;
    }
};

// Rows run in the test folder, refusals first (none may leave o); gen: generator arguments for args[0]; frames -1: no destination;
// limit: the file size at which writes fail (the file keeps the whole frames written).
TEST_F(Melt, CommandLinesFramesAndFileLines) {
    struct Row { Args args; int status; std::string err, out = ""; Args gen = {}; int64_t frames = -1, limit = -1; };
    const std::string prog = ts::bin("sigmelt"), n40(40, 'n'), n41(41, 'n'), big = " is larger than file channels 2\n";
    const std::string use = "usage:\t" + prog + " --version\n\t" + prog + " [--channels=#,#] source_delta_sigma_file destination_wav_file\n\n";
    ASSERT_TRUE(ts::gen({"--bytes=100", p("s")}) && link(p("s").c_str(), p("hard").c_str()) == 0 && symlink("s", p("soft").c_str()) == 0);
    auto line = [](const std::string& time, const std::string& name) {  // a name beyond 40 characters on a line of its own
        return CLEAR + "\nplaying file 1/1 total " + time + (name.size() > 40 ? " \n\"" : " \"") + name + "\"\n"; };
    auto ok = [&](const Args& gen, int64_t frames, const std::string& time = "00:00", const Args& args = {"x", "o"}) {
        return Row{args, 0, "", line(time, args[0]), gen, frames}; };
    auto sm = [](int n, const std::string& m) { return ts::report("sigmelt", n, m); };
    const Args xo{"x", "o"}, ws{"--format=wsd"};
    const std::string no = sm(133, "file x is not Delta Sigma format.\n"), s = line("00:00", "s");
    const Row rows[] = {
        {{}, 27, "", use}, {{"--version"}, 0, "", use}, {{"--version", "s", "o"}, 0, "", use}, {{"-h", "s"}, 0, "", use + "\t--channels=L,R\tleft output"},
        {{"--channels=1", "s", "o"}, 39, ts::report("parse_param", 38, "parse error arg --channels=1\n")},
        {{"s", "o", "third"}, 49, ts::report("parse_param", 48, "too many parameters after third\n")},
        {{"--channels=0,1"}, 54, ts::report("parse_param", 53, "source Delta Sigma file name is not defined.\n")},
        {{"s"}, 58, ts::report("parse_param", 57, "destination WAV file name is not defined.\n")}, {{"none", "o"}, 100, sm(99, "file none open error.\n")},
        {{"--channels=2,0", "s", "o"}, 148, sm(147, "left channel index 2" + big)}, {{"s", "o", "--channels=0,5"}, 152, sm(151, "right channel index 5" + big)},
        {xo, 134, no, "", {"--truncate=0"}}, {xo, 134, no, "", ws + Args{"--wsd-channels=0"}}, {xo, 134, no, "", ws + Args{"--wsd-channels=11"}},
        {xo, 144, sm(143, "sampling rate 2822401Hz is not supported yet\n"), "", {"--rate=2822401"}},  // DSF: refused, and said why
        {xo, 134, ts::report("dsf", 5, "format version 0, not 1\n") + no, "", {"--format=dsf", "--dsf-field=version:0"}},
        {{p("s"), "no/o"}, 367 & 0xFF, sm(366, "fopen(no/o) failed.\n"), CLEAR + "\nplaying file 1/1 total 00:00 \"s\" "},
        {{"s", "hard"}, 161, sm(160, "destination hard is the source file\n"), s}, {{"s", "soft"}, 161, sm(160, "destination soft is the source file\n"), s},
        {{"s", "/dev/full"}, 241, ts::report("wav", 195, "write failed.\n") + sm(240, "write error on /dev/full\n"), s},  // the header did not go out
        ok({}, 12, "00:00", {"s", "--version"}), ok({"--bytes=0"}, 0), ok({"--channels=10", "--rate=11289600", "--bytes=3200"}, 100),
        ok({"--data-size=15"}, 1), ok({"--data-size=14"}, 0), ok({"--bytes=8000", "--truncate=1745"}, 101),  // 130-byte header, 100 blocks, a short group
        ok(ws + Args{"--channels=6", "--truncate=2091"}, 1), ok({"--bytes=8"}, 1, "00:00", {n40, "o"}), ok({"--bytes=8"}, 1, "00:00", {n41, "o"}),
        ok(ws + Args{"--wsd-file-size=1024"}, 1), ok({"--format=dsf", "--bytes=8000", "--truncate=5188"}, 125),  // 1000 bytes of both channels
        ok({"--format=dsf", "--header-only", "--bytes=21168000", "--dsf-field=samples:169343999"}, 0, "00:59"),  // the time from the sample count
        ok({"--header-only", "--data-size=2540159999"}, 0, "59:59"),  // ends before the data
        ok(ws + Args{"--wsd-file-size=2628362048"}, 1, "1:02:05"), ok(ws + Args{"--wsd-file-size=0x7FFFFFFFFFFFFFFF"}, 1, "596523:14:07"),
        {xo, 241, sm(240, "write error on o\n"), line("00:00", "x"), {"--bytes=100000"}, 10000, 84 + 4 * 10000 + 3},
        {{"x", "--threads=7", "o"}, 241, sm(240, "write error on o\n"), line("00:02", "x"), {"--bytes=1000000"}, 100000, 84 + 4 * 100000 + 1},
        {xo, 241, sm(240, "write error on o\n"), line("00:00", "x"), {"--format=dsf", "--title=T", "--bytes=8000"}, 1000, 84 + 4 * 1000 + 5},  // tags cut
        {xo, 251, ts::report("dst", 20, "frame 5: the arithmetic code runs past the end of the frame\n") +  // the 5 frames before it, none after
         sm(250, "o holds the sound before the corrupt frame of x\n"), line("00:01", "x"), {"--dst", "--bytes=470400", "--dst-corrupt=overrun:5"}, 5 * 588}};
    for (const Row& c : rows) {
        ASSERT_TRUE(c.gen.empty() || ts::gen(Args{"--bytes=8", "--random=all:7"} + c.gen + Args{p(c.args[0])}));
        const ts::Result r = melt(c.args, c.limit);
        const bool out = r.out.starts_with(c.out) && r.out.empty() == c.out.empty() && (c.frames < 0 || r.out.ends_with(CLEAR + "\n\n"));
        const int64_t frames = c.frames < 0 ? ts::exists(o) - 1 : static_cast<int64_t>(load(p(c.args.back())).frames);
        EXPECT_TRUE(r.status == c.status && out && r.err.ends_with(c.err) && r.err.empty() == c.err.empty() && frames == c.frames)
            << "row " << &c - rows << ": " << r.status << " " << frames << "\n" << r.out << "\n" << r.err;  // a primitive may report first
    }
}

// r1, r6: channel i carries 500 (i + 1) Hz at 0.3; t1 to t3: 1 kHz at 0.5 at each rate, THD+N from what the fit leaves (7 s wrap the ring,
// 6 channels straddle the read-ahead). peak: bits following the signs of the taps drive frame 32 beyond full scale, inverted ones below.
TEST_F(Melt, RoutingTonesAndSaturation) {
    Bytes sound = Bytes(512, 0) + Bytes(256, 0x69);
    for (size_t i = 0; i < 2047; ++i) sound[i / 8 * 2] |= static_cast<uint8_t>((coeff_FDA_2822k[i] > 0) << (7 - i % 8));
    for (size_t i = 1; i < 512; i += 2) sound[i] = ~sound[i - 1];
    ts::write_file(p("peak"), lay::dsdiff(2822400, {"SLFT", "SRGT"}, sound));
    const Args r6{"--channels=6", "--seconds=0.6", "--tone=0:500:0.3", "--tone=1:1000:0.3", "--tone=2:1500:0.3", "--tone=3:2000:0.3",
                  "--tone=4:2500:0.3", "--tone=5:3000:0.3"}, k{"--tone=all:1000:0.5"};
    const struct { Args gen; std::string src; Args opt; std::vector<double> left, right; } rows[] = {
        {{"--channels=1", "--seconds=0.6", "--tone=0:500:0.3"}, "r1", {}, {.3}, {.3}}, {k + Args{"--seconds=7"}, "t1", {}, {0, .5}, {0, .5}},
        {r6, "r6", {}, {.1, 0, .1, 0, .1, 0}, {0, .1, 0, .1, 0, .1}}, {k + Args{"--rate=11289600", "--seconds=1"}, "t3", {}, {0, .5}, {0, .5}},
        {{}, "r6", {"--channels=7,7", "--channels=-1,3"}, {.1, 0, .1, 0, .1, 0}, {0, 0, 0, .3, 0, 0}}, {{}, "peak", {}, {}, {}},  // the last counts
        {{}, "r6", {"--channels=4,-7"}, {0, 0, 0, 0, .3, 0}, {0, .1, 0, .1, 0, .1}}, {{}, "r6", {"--channels=2,3"}, {0, 0, .3, 0, 0, 0}, {0, 0, 0, .3, 0, 0}},
        {{"--seconds=0.6", "--tone=0:500:0.3", "--tone=1:1000:0.3"}, "r2", {"--channels=1,0"}, {0, .3}, {.3, 0}},  // swapped: each alone, at full level
        {k + Args{"--rate=5644800", "--channels=6", "--seconds=1"}, "t2", {}, {0, .5}, {0, .5}}};
    for (const auto& [gen, src, args, left, right] : rows) {
        ASSERT_TRUE(gen.empty() || ts::gen(gen + Args{p(src)}));
        EXPECT_NE(melt(args + Args{src, "o"}).out.find("\rposition 00:00 buffer 0[%]    "), std::string::npos);
        const Wave w = load(o);
        for (size_t i = 0; i < 2 * left.size(); ++i) {  // from 0.1 s to 0.1 s before the end: whole periods
            Tone t;
            EXPECT_TRUE(tone_fit(wave_channel(w, i % 2), 44100, 500.0 * (i / 2 + 1), 4410, w.frames - 4410, t));
            EXPECT_NEAR(t.amplitude, (i % 2 ? right : left)[i / 2], 2e-4) << src << (args.empty() ? "" : args.back()) << " " << i;
            EXPECT_LT(t.amplitude > .4 ? 20 * std::log10(t.residual * M_SQRT2 / t.amplitude) : -99, -89) << src;
        }
        for (size_t i = 1; src == "r1" && i < w.pcm.size(); i += 2) ASSERT_EQ(w.pcm[i], w.pcm[i - 1]);  // mono: the same on both sides
        if (src == "peak") { EXPECT_EQ(std::tuple(w.frames, w.pcm.at(64) + 0, w.pcm.at(65) + 0), std::tuple(48ul, 32767, -32768)); }
    }
}

// A signal a second in (the source declares far more), with one thread or several: 128 + the signal, one line on how much was written, a valid shorter file, the
// placeholder while it ran. One sound, five shapes (plain, with a chunk after it, WSD, DST with every field, DST), one output.
TEST_F(Melt, InterruptAndSourceShapes) {
    ASSERT_TRUE(ts::gen({"--header-only", "--data-size=1000000000000", p("head")}));
    for (auto [sig, name, threads] : {std::tuple(SIGINT, "SIGINT", "--threads=1"), std::tuple(SIGTERM, "SIGTERM", "--threads=8"),
                                      std::tuple(SIGHUP, "SIGHUP", "--threads=3")}) {
        unlink(o.c_str()), unlink(p("fifo").c_str());
        const Args sh = {"/bin/sh", "-c", "mkfifo fifo && { cat head /dev/zero >fifo & exec \"$@\" fifo o; }", "sh"};
        ts::Child c = ts::start(sh + ts::emulated({ts::bin("sigmelt"), threads}), {.cwd = dir});
        for (int ms = 0; ms < 20000 && !ts::ended(c) && ts::size_of(o) < 84 + 4 * 44100; ++ms) usleep(1000);
        const Bytes running = ts::read_file(o);
        ASSERT_TRUE(!ts::ended(c) && kill(c.pid, sig) == 0);
        const ts::Result r = ts::finish(c);
        const std::string said = std::string("interrupted by ") + name + ": o holds the first " + std::to_string(load(o).frames) + " frames (";
        EXPECT_EQ(std::tuple(lay::get_le(running, 36, 8), r.status, r.out.ends_with(CLEAR + "\n\n"), r.err.starts_with(said), load(o).frames >= 44100),
                  std::tuple(4294967295u, 128 + sig, true, true, true)) << r.err;
    }
    // Tags follow the sound, counted by the RIFF size: an "id3 " chunk with the ID3v2 bytes as they are, INFO texts ended by a NUL.
    const auto chunk = [](const std::string& id, Bytes b) { const size_t n = b.size(); return lay::str(id) + lay::le(n, 4) + b + Bytes(n & 1, 0); };
    const Bytes info = lay::str("INFO") + chunk("INAM", lay::str("T\xc3\xaftle") + Bytes{0});
    Bytes whole;
    for (const std::string shape : {"dff", "dff --trailing-chunk=ID3 :4001", "wsd", "dsf", "dsf --dsf-field=bits:8", "dsf --title=T\xc3\xaftle",
                                    "dff --diin=T\xc3\xaftle:Ab", "dff --dst=mix", "dff --dst"}) {  // DSF: blocks, bits reversed or not
        ASSERT_TRUE(ts::gen({"--seconds=2", "--random=all:3", "--format=" + shape.substr(0, 3), shape.size() > 3 ? shape.substr(4) : "--channels=2", p("s")}) &&
                    melt({"s", "o"}).status == 0);
        whole = whole.empty() ? ts::read_file(o) : whole;
        const Bytes src = ts::read_file(p("s")), tags = shape.ends_with("Ab") ? chunk("LIST", info + chunk("IART", lay::str("Ab") + Bytes{0}))
            : shape.ends_with("tle") ? chunk("id3 ", Bytes(src.begin() + lay::get_le(src, 20, 8), src.end())) + chunk("LIST", info) : Bytes{};
        Bytes want = whole + tags;
        std::ranges::copy(lay::le(lay::get_le(whole, 20, 8) + tags.size(), 8), want.begin() + 20);
        EXPECT_EQ(ts::read_file(o), want) << shape;
    }
}

}  // namespace

// ---- output options ----
namespace {
struct Out : Melt {
    Wave w;  // the last run's output: a wave file whose header counts the frames it holds
    void make(const Args& a) {
        const ts::Result r = melt(a);
        ASSERT_EQ(r.status, 0) << r.err;
        const Bytes b = ts::read_file(p(a.back()));
        w = {};
        ASSERT_TRUE(!wave_parse(b, w) && b.size() == w.data_offset + w.data_size && w.data_size == w.frames * w.bits / 4);
    }
    Tone tone(int side, double freq) const {
        Tone t;
        EXPECT_TRUE(tone_fit(wave_channel(w, side), w.rate, freq, w.rate / 10, w.frames, t));
        return t;
    }
};
}  // namespace

// Refusals print the usage first; -h shows every option; a run with an option ends with the peak line.
TEST_F(Out, OptionValuesHelpAndPeakLine) {
    const std::string prog = ts::bin("sigmelt");
    const std::string use = "usage:\t" + prog + " --version\n\t" + prog + " [--channels=#,#] source_delta_sigma_file destination_wav_file\n\n";
    ASSERT_TRUE(ts::gen({"--seconds=0.3", "--tone=all:1000:0.5", p("s")}));
    const struct { Args args; int status; std::string err, out = ""; } rows[] = {
        {{"--bits=32", "s", "o"}, 39, "parse error arg --bits=32\n"}, {{"--rate=48000", "s", "o"}, 39, "parse error arg --rate=48000\n"},
        {{"--filter=", "s", "o"}, 39, "parse error arg --filter=\n"}, {{"s", "o", "--gain=20.01"}, 39, "parse error arg --gain=20.01\n"},
        {{"--gain=1e1", "s", "o"}, 39, "parse error arg --gain=1e1\n"}, {{"--gain=-", "s", "o"}, 39, "parse error arg --gain=-\n"},
        {{"--threads=0", "s", "o"}, 39, "parse error arg --threads=0\n"}, {{"s", "o", "--threads=65"}, 39, "parse error arg --threads=65\n"},
        {{"--threads=+2", "s", "o"}, 39, "parse error arg --threads=+2\n"},
        {{"--float", "--bits=24", "s", "o"}, 63, "--float cannot be combined with --bits=24\n"},
        {{"--dither", "s", "--float", "o"}, 63, "--float cannot be combined with --dither\n"},
        {{"--float", "s", "o.FLAC"}, 63, "--float cannot be combined with o.FLAC\n"},
        {{"--gain=-20", "--bits=24", "s", "o"}, 0, "", "peak -26.02 dBFS, 0 samples clipped\n"},
        {{"--gain=+20.0", "s", "o"}, 0, "", "peak 13.98 dBFS, 2"}, {{"--float", "--gain=20", "s", "o"}, 0, "", "peak 13.98 dBFS, 0 samples clipped\n"}};
    for (const auto& c : rows) {
        const ts::Result r = melt(c.args);
        const bool failed = c.status != 0;
        EXPECT_TRUE(r.status == c.status && r.err == (failed ? ts::report("parse_param", c.status - 1, c.err) : "") &&
                    (failed ? r.out == use : r.out.find("\n\n" + c.out) != std::string::npos) && ts::exists(o) != failed)
            << c.args[0] << " " << r.status << "\n" << r.out << r.err;
        unlink(o.c_str());
    }
    const std::string help = melt({"--help"}).out;
    for (const char* option : {"--channels=", "--rate=", "--filter=", "--bits=", "--float", "--dither", "--gain=", "--threads=", "--help", "--version"})
        EXPECT_NE(help.find(std::string("\n\t") + option), std::string::npos) << option;
}

// Per input rate: 1 kHz at 0.5 on channel 0 (level, THD+N from 20 Hz to 20 kHz), 20 kHz at 0.5 on 1 (flat), and on 2 to 4 at 0.25
// the tone whose alias falls on 19 kHz for each mode (output rate - 20 kHz + 1 kHz), at least 120 dB down.
TEST_F(Out, RatesAndSteepFilterLevelNoiseFlatnessAliases) {
    const struct { Args opt; int alias; double thd_n; } modes[] = {
        {{"--bits=24", "--rate=88200"}, 2, -115}, {{"--bits=24", "--rate=176400"}, 3, -115}, {{"--bits=24", "--filter=steep"}, 4, -112}};
    for (const std::string rate : {"2822400", "5644800", "11289600"}) {
        ASSERT_TRUE(ts::gen({"--rate=" + rate, "--channels=5", "--seconds=0.6", "--tone=0:1000:0.5", "--tone=1:20000:0.5", "--tone=2:69200:0.25",
                             "--tone=3:157400:0.25", "--tone=4:25100:0.25", p("s")}));
        for (const auto& m : modes) {
            make(m.opt + Args{"--channels=0,1", "s", "o"});
            const double level = 20 * std::log10(tone(0, 1000).amplitude / 0.5), flat = 20 * std::log10(tone(1, 20000).amplitude / 0.5);
            const double noise = thd_n_db(wave_channel(w, 0), w.rate, 1000, w.rate / 10, w.frames, 20, 20000);
            make(m.opt + Args{"--channels=" + std::to_string(m.alias) + ",0", "s", "o"});
            const double alias = 20 * std::log10(tone(0, 19000).amplitude / 0.25);
            EXPECT_TRUE(std::abs(level) < 0.01 && std::abs(flat) < 0.01 && noise < m.thd_n && alias < -120)
                << rate << " " << m.opt.back() << ": " << level << " " << flat << " " << noise << " " << alias;
        }
    }
}

// 16 bits with dither: THD+N of standard TPDF noise (1 LSB each of two uniform parts) and no harmonic; the same bytes every run.
// --gain=6 raises the level by 6.00 dB, and every mode gives the default's level.
TEST_F(Out, DitherGainAndLevels) {
    ASSERT_TRUE(ts::gen({"--seconds=2", "--tone=all:1000:0.5", p("s")}));
    make({"--dither", "s", "o"});
    const Bytes first = ts::read_file(o);
    EXPECT_LT(thd_n_db(wave_channel(w, 0), w.rate, 1000, w.rate / 10, w.frames, 20, 20000), -87.5);
    for (int k = 2; k <= 20; ++k) {
        Tone t;
        EXPECT_TRUE(tone_fit(wave_channel(w, 0), w.rate, 1000.0 * k, w.rate / 10, w.frames, t) && t.amplitude < 0.5e-6) << k << " " << t.amplitude;
    }
    make({"--dither", "s", "o"});
    EXPECT_EQ(ts::read_file(o), first);
    const double level = tone(0, 1000).amplitude;
    make({"s", "o"});
    EXPECT_NEAR(20 * std::log10(tone(0, 1000).amplitude / level), 0, 0.01);
    for (const Args& a : {Args{"--float"}, Args{"--gain=0", "--bits=24"}, Args{"--bits=16"}, Args{"--gain=6", "--bits=24"}}) {
        make(a + Args{"s", "o"});
        EXPECT_NEAR(20 * std::log10(tone(0, 1000).amplitude / level), a[0] == "--gain=6" ? 6 : 0, 0.01) << a[0];
    }
}

// A FLAC destination that stops taking data at its first frame or later: the write-error report and its status.
TEST_F(Out, FlacWriteFailure) {
    if (!DSD_FLAC) GTEST_SKIP() << "built without libFLAC";
    ASSERT_TRUE(ts::gen({"--seconds=2", "--tone=all:1000:0.5", p("s")}));
    for (int64_t limit : {200, 30000}) {  // the report, captured in a file, fits below either
        const ts::Result r = melt({"--bits=24", "s", "o.flac"}, limit);
        EXPECT_TRUE(r.status == 241 && r.err.ends_with(ts::report("sigmelt", 240, "write error on o.flac\n"))) << limit << " " << r.status << r.err;
    }
}

// --bits=16 alone goes the options' way (batches of 64 blocks) to the default run's very file, the short last group first in its
// batch or not.
TEST_F(Out, SixteenBitsGiveTheDefaultFile) {
    for (const std::string cut : {"--truncate=1169", "--truncate=1745"}) {  // 130-byte header, 64 or 100 blocks of 16 bytes, 15 bytes
        ASSERT_TRUE(ts::gen({"--bytes=8000", "--random=all:7", cut, p("s")}) && melt({"s", "d"}).status == 0);
        make({"--bits=16", "s", "o"});
        EXPECT_TRUE(ts::read_file(o) == ts::read_file(p("d")) && w.frames == (cut == "--truncate=1169" ? 65u : 101u)) << cut << " " << w.frames;
    }
}

// Every thread count gives the first's status, reports and bytes, and the stereo rows (DSDIFF, 130-byte header) the frames of
// the decimator called block after block on the whole sound. Runs are 512 KiB of input (32768 stereo blocks at 2.8224 MHz, 1638
// ten-channel ones at 11.2896 MHz): inputs of whole runs, one more short block alone in its run (the last group cut by a byte), a last
// run shorter than the 32 blocks replayed, none; DST frames decoded ahead, one of them corrupt; every output mode; each source format.
TEST_F(Melt, ThreadCountsGiveTheSameBytes) {
    const Args r7{"--random=all:7"}, two = r7 + Args{"--bytes=524296"};
    const auto reference = [](const Bytes& file, bool swapped) {
        for (int c = 0; c < 2; ++c) channel_switches[c] = {(c == 0) != swapped ? -1 : 0, (c == 1) != swapped ? -1 : 0};
        EXPECT_EQ(coeff_deltasigma_init(2822400, 2), -1);
        Bytes sound(file.begin() + 130, file.end()), frames;
        sound.resize((sound.size() + 15) / 16 * 16);  // a short last group counts
        for (size_t at = 0; at < sound.size(); at += 16) {
            const float* lr = coeff_deltasigma(&sound[at]);
            for (int side = 0; side < 2; ++side)
                for (const int shift : {0, 8}) frames.push_back(static_cast<uint8_t>(sample_from_float(lr[side]) >> shift));
        }
        return frames;
    };
    const struct { Args gen, opt; std::string out = "o"; uint64_t frames = 0; int status = 0; } rows[] = {
        {two + Args{"--truncate=" + std::to_string(130 + 2 * 524288 + 15)}, {}, "o", 65537}, {r7 + Args{"--bytes=524288"}, {}, "o", 65536},
        {r7 + Args{"--bytes=524448"}, {"--channels=1,0"}, "o", 65556}, {{"--bytes=0"}, {}, "o", 0},
        {r7 + Args{"--channels=10", "--rate=11289600", "--bytes=183456"}, {"--channels=3,8"}, "o", 5733},
        {r7 + Args{"--channels=6", "--rate=5644800", "--seconds=0.5"}, {"--rate=88200", "--bits=24", "--dither"}},
        {{"--channels=1", "--seconds=1.5", "--tone=0:1000:0.5"}, {"--filter=steep", "--gain=3"}},
        {r7 + Args{"--rate=11289600", "--seconds=1"}, {"--float", "--rate=176400"}}, {r7 + Args{"--seconds=1"}, {}, DSD_FLAC ? "o.flac" : "o"},
        {{"--channels=6", "--seconds=0.6", "--tone=all:1000:0.5", "--dst=mix"}, {}},
        {{"--channels=5", "--seconds=0.6", "--tone=all:1000:0.5", "--dst", "--dst-corrupt=overrun:30"}, {}, "o", 30 * 588, 251},
        {{"--channels=3", "--seconds=0.6", "--tone=all:1000:0.5", "--dst", "--frte-count=46"}, {}, "o", 45 * 588, 251},  // one missing
        {r7 + Args{"--format=dsf", "--channels=3", "--bytes=300001"}, {}}, {r7 + Args{"--format=wsd", "--bytes=300008", "--truncate=602063"}, {}}};
    for (const auto& c : rows) {
        ASSERT_TRUE(ts::gen(c.gen + Args{p("s")}));
        ts::Result first;
        Bytes want;
        const int row = static_cast<int>(&c - rows);
        for (const int threads : {1, 2, 3 + row % 5, 8}) {  // 2 to 8 over the rows
            const ts::Result r = melt(c.opt + Args{"--threads=" + std::to_string(threads), "s", c.out});
            const Bytes got = ts::read_file(p(c.out));
            if (threads == 1) {
                first = r, want = got;
                EXPECT_TRUE(r.status == c.status && (c.frames == 0 || load(o).frames == c.frames)) << c.gen.back() << " " << r.status << r.err;
                if (row < 3) { EXPECT_TRUE(Bytes(got.begin() + 84, got.end()) == reference(ts::read_file(p("s")), !c.opt.empty())) << c.gen.back(); }
            } else {
                EXPECT_TRUE(r.status == first.status && r.err == first.err && got == want) << c.gen.back() << " " << threads << r.err;
            }
        }
    }
    // Runs are no larger than the sound the header declares: a WSD header declaring 128 blocks, over 3750, makes 30 runs of the
    // sound that one run takes with the whole size declared.
    for (const std::string size : {"--wsd-file-size=4096", "--wsd-channels=2"})
        ASSERT_TRUE(ts::gen({"--format=wsd", "--random=all:9", "--bytes=30000", size, p(size.substr(6, 4))}) &&
                    melt({"--threads=3", size.substr(6, 4), size.substr(6, 4) + ".wav"}).status == 0);
    EXPECT_TRUE(ts::read_file(p("file.wav")) == ts::read_file(p("chan.wav")));
}
