// The converter's parts on their own; sigmelt end to end from tables; runs cut short by Ctrl-C or by an output that stops taking data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <thread>
#include "deltasigma.h"
#include "parse_param.h"
#include "ringbuffer.h"
#include "sigmelt.h"
#include "support.h"
#include "util.h"
#include "wavetone.h"

namespace {
using Args = std::vector<std::string>;
using lay::operator+, ts::Bytes, std::to_string;
const std::string CLEAR = "\r" + std::string(72, ' ');
Args operator+(Args a, const Args& b) { a.insert(a.end(), b.begin(), b.end()); return a; }

TEST(Units, RingbufferPairsSamplesBlocksAndStatusLine) {
    EXPECT_TRUE(ringbuffer_new(16, 0) == nullptr && ringbuffer_new(3, 4) == nullptr);  // no whole unit
    Ringbuffer* rb = ringbuffer_new(18, 4);  // wraps at 16, not 18
    EXPECT_EQ(std::tuple(rb->len, ringbuffer_space(rb), ringbuffer_drained(rb)), std::tuple(16u, 12, false));
    rb->write_pos = rb->read_pos = 14;
    const uint8_t f[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, *b = rb->buffer;
    EXPECT_EQ(ringbuffer_put(rb, f, 4), 4u);
    EXPECT_EQ(std::tuple(Bytes(b + 14, b + 16) + Bytes(b, b + 2), ringbuffer_level(rb), ringbuffer_run(rb)), std::tuple(Bytes(f, f + 4), 4u, 2u));
    ringbuffer_advance(rb, 2);                  // a run never wraps: two bytes at the end, then two at the start
    EXPECT_EQ(ringbuffer_put(rb, f, 12), 10u);  // as far as the space goes: one unit stays free
    EXPECT_EQ(std::pair(Bytes(b + 2, b + 12), ringbuffer_space(rb)), std::pair(Bytes(f, f + 10), 0));
    for (int twice = 0; twice < 2; ++twice) ringbuffer_destroy(&rb);  // the second release does nothing
    ASSERT_NE(rb = ringbuffer_new(64, 4), nullptr);  // two threads, thousands of wraps: every frame once, in order
    Bytes got;
    std::thread consumer([&] {  // until the producer has finished and everything is out
        for (uint32_t n = 0; !ringbuffer_drained(rb); ringbuffer_advance(rb, n), std::this_thread::yield())
            got.insert(got.end(), rb->buffer + rb->read_pos, rb->buffer + rb->read_pos + (n = ringbuffer_run(rb)));
    });
    for (uint32_t i = 0; i < 200000;) ringbuffer_put(rb, &i, 4) ? ++i : (std::this_thread::yield(), 0u);
    ringbuffer_finish(rb), consumer.join();
    ASSERT_EQ(got.size(), 800000u);
    for (uint32_t i = 0; i < 200000; ++i) ASSERT_EQ(lay::get_le(got, 4 * i, 4), i);
    ringbuffer_destroy(&rb);
    auto parse = [](const char* text, int32_t l = 111, int32_t r = 222) { const bool ok = parse_channel_pair(text, &l, &r); return std::tuple(ok, l, r); };
    const struct { const char* text; bool ok; int32_t l = 111, r = 222; } pairs[] = {  // the numbers untouched unless both were read
        {" 1, 0", 1, 1, 0}, {"+4,\t5", 1, 4, 5}, {"7,8,9x", 1, 7, 8}, {"2147483647,-2147483648", 1, INT32_MAX, INT32_MIN}, {"1 ,2", 0},
        {"1,", 0}, {"- 1,2", 0}, {"2147483648,0", 0}, {"0,-2147483649", 0}, {"99999999999999999999,1", 0}};
    for (const auto& c : pairs) EXPECT_EQ(parse(c.text), std::tuple(c.ok, c.l, c.r)) << c.text;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int16_t> samples[] = {  // truncated toward zero, saturated at both ends
        {1, 32767}, {-1, -32767}, {1.1f, 32767}, {-1.1f, -32768}, {0.5f, 16383}, {-0.5f, -16383}, {0.99999f, 32766}, {1.0f / 32767, 1},
        {0.9f / 32767, 0}, {-0.9f / 32767, 0}, {-1.0000305f, -32768}, {nan, 0}, {inf, 32767}, {-inf, -32768}, {1e30f, 32767}, {-1e30f, -32768}};
    for (auto [v, want] : samples) EXPECT_EQ(sample_from_float(v), want) << v;
    EXPECT_EQ(std::tuple(block_bytes_for(2, 2822400), block_bytes_for(1, 5644800), block_bytes_for(10, 11289600)), std::tuple(16, 16, 320));
    const std::tuple<size_t, size_t, size_t, bool> blocks[] = {  // got, block, group: a short last group completes the block
        {16, 16, 2, 1}, {15, 16, 2, 1}, {14, 16, 2, 0}, {0, 16, 2, 0}, {43, 48, 6, 1}, {42, 48, 6, 0}, {7, 8, 1, 0}, {8, 8, 1, 1}, {15, 16, 0, 0}};
    for (auto [got, block, group, want] : blocks) EXPECT_EQ(block_complete(got, block, group), want) << got;
    testing::internal::CaptureStdout(), util_display_current_time(3600, 42);  // hours: an hour's run end to end
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\rposition 1:00:00 buffer 42[%]    ");
}

struct Melt : ::testing::Test {
    std::string dir = ts::tmpdir(), o = p("o.wav");
    std::string p(const std::string& name) const { return dir + "/" + name; }
    ts::Result melt(const Args& a, bool here = false, int64_t limit = -1) const { return ts::run(Args{ts::bin("sigmelt")} + a, {.cwd = here ? dir : "", .file_limit = limit}); }
    static Wave load(const std::string& path) {  // a converter output: its header is the one for the frames it holds
        const Bytes b = ts::read_file(path);
        Wave w{};
        EXPECT_TRUE(!wave_parse(b, w) && b.size() == 84 + 4 * w.frames && Bytes(b.begin(), b.begin() + 84) == lay::rf64_header(w.frames)) << path;
        return w;
    }
};

// Each row runs in the test folder; gen: generator arguments for the source args[0]; frames -1: no destination.
TEST_F(Melt, CommandLinesFramesAndFileLines) {
    const std::string prog = ts::bin("sigmelt"), n40(40, 'n'), n41(41, 'n'), big = " is larger than file channels 2\n";
    const std::string use = "usage:\t" + prog + " --version\n\t" + prog + " [--channels=#,#] source_delta_sigma_file destination_wav_file\n\n";
    ASSERT_TRUE(ts::gen({"--bytes=100", p("s.dff")}));
    ASSERT_EQ(link(p("s.dff").c_str(), p("hard").c_str()) | symlink("s.dff", p("soft").c_str()), 0);
    auto line = [](const std::string& time, const std::string& name = "x") {  // a name beyond 40 characters on a line of its own
        return CLEAR + "\nplaying file 1/1 total " + time + (name.size() > 40 ? " \n\"" : " \"") + name + "\"\n"; };
    auto sm = [](int n, const std::string& m) { return ts::report("sigmelt", n, m); };
    const Args xo{"x", "o.wav"}, b8{"--bytes=8"};
    auto hd = [](const std::string& size) { return Args{"--header-only", "--bytes=0", "--data-size=" + size}; };  // no sound follows
    auto ws = [](const std::string& size) { return Args{"--format=wsd", "--bytes=0", "--wsd-file-size=" + size}; };
    const std::string l0 = line("00:00"), ls = line("00:00", "s.dff"), no = sm(133, "file x is not Delta Sigma format.\n");
    const struct { Args gen, args; int status; int64_t frames = -1; std::string out = "", err = ""; } rows[] = {
        {{}, {}, 27, -1, use}, {{}, {"--version"}, 0, -1, use}, {{}, {"--version", "s.dff", "o.wav"}, 0, -1, use},
        {{}, {"--channels=1", "s.dff", "o.wav"}, 39, -1, "", ts::report("parse_param", 38, "parse error arg --channels=1\n")},
        {{}, {"s.dff", "o.wav", "third"}, 49, -1, "", ts::report("parse_param", 48, "too many parameters after third\n")},
        {{}, {"--channels=0,1"}, 54, -1, "", ts::report("parse_param", 53, "source Delta Sigma file name is not defined.\n")},
        {{}, {"s.dff"}, 58, -1, "", ts::report("parse_param", 57, "destination WAV file name is not defined.\n")},
        {{}, {"none", "o.wav"}, 100, -1, "", sm(99, "file none open error.\n")},
        {{}, {"--channels=2,0", "s.dff", "o.wav"}, 148, -1, "", sm(147, "left channel index 2" + big)},
        {{}, {"s.dff", "o.wav", "--channels=0,5"}, 152, -1, "", sm(151, "right channel index 5" + big)},
        {{"--truncate=0"}, xo, 134, -1, "", no}, {{"--format=wsd", "--wsd-channels=0"}, xo, 134, -1, "", no}, {{"--format=wsd", "--wsd-channels=11"}, xo, 134, -1, "", no},
        {{"--cmpr-type=DST ", "--sound-id=DST "}, xo, 134, -1, "", no}, {{"--rate=44100"}, xo, 144, -1, "", sm(143, "sampling rate 44100Hz is not supported yet\n")},
        {{"--rate=2822401"}, xo, 144, -1, "", sm(143, "sampling rate 2822401Hz is not supported yet\n")},
        {{}, {p("s.dff"), "no/o.wav"}, 367 & 0xFF, -1, CLEAR + "\nplaying file 1/1 total 00:00 \"s.dff\" ", sm(366, "fopen(no/o.wav) failed.\n")},
        {{}, {"s.dff", "./s.dff"}, 161, -1, ls, sm(160, "destination ./s.dff is the source file\n")},
        {{}, {"s.dff", "hard"}, 161, -1, ls, sm(160, "destination hard is the source file\n")}, {{}, {"s.dff", "soft"}, 161, -1, ls, sm(160, "destination soft is the source file\n")},
        {{}, {"s.dff", "--version"}, 0, 12, ls}, {{"--bytes=8000"}, xo, 0, 1000, l0}, {{"--bytes=0"}, xo, 0, 0, l0},  // later, "--version" is a file name
        {{"--rate=5644800", "--bytes=16000"}, xo, 0, 1000, l0}, {{"--rate=11289600", "--bytes=32031"}, xo, 0, 1000, l0},
        {{"--channels=1", "--bytes=8000"}, xo, 0, 1000, l0}, {{"--channels=10", "--rate=11289600", "--bytes=3200"}, xo, 0, 100, l0},
        {{"--bytes=8000", "--data-size=1000000000"}, xo, 0, 1000, line("23:37")}, {{"--data-size=15"}, xo, 0, 1, l0}, {{"--data-size=14"}, xo, 0, 0, l0},
        {{"--bytes=8000", "--truncate=1745"}, xo, 0, 101, l0},  // a 130-byte header, 100 blocks and a short last group
        {{"--channels=6", "--bytes=16", "--data-size=91"}, xo, 0, 2, l0}, {{"--channels=6", "--bytes=16", "--data-size=90"}, xo, 0, 1, l0},
        {{"--format=wsd", "--channels=6", "--truncate=2091"}, xo, 0, 1, l0}, {{"--format=wsd", "--channels=6", "--truncate=2090"}, xo, 0, 0, l0},
        {b8, {n40, "o.wav"}, 0, 1, line("00:00", n40)}, {b8, {n41, "o.wav"}, 0, 1, line("00:00", n41)}, {ws("1024"), xo, 0, 0, l0},  // ends before the data
        {hd("2628360000"), xo, 0, 0, line("1:02:05")}, {hd("2540159999"), xo, 0, 0, line("59:59")}, {hd("25401600000"), xo, 0, 0, line("10:00:00")},
        {ws("2628362048"), xo, 0, 0, line("1:02:05")}, {ws("0x7FFFFFFFFFFFFFFF"), xo, 0, 0, line("596523:14:07")}};
    for (const auto& c : rows) {
        ASSERT_TRUE(c.gen.empty() || ts::gen(Args{"--bytes=8", "--random=all:7"} + c.gen + Args{p(c.args[0])}));
        const ts::Result r = melt(c.args, true);
        EXPECT_EQ(r.status, c.status) << "row " << &c - rows;
        EXPECT_TRUE(r.out.starts_with(c.out) && (r.out.empty() || !c.out.empty()) && (c.frames < 0 || r.out.ends_with(CLEAR + "\n\n"))) << "row " << &c - rows << r.out;
        EXPECT_TRUE(r.err.ends_with(c.err) && (r.err.empty() || !c.err.empty())) << "row " << &c - rows << r.err;  // a primitive may report first
        EXPECT_EQ(c.frames < 0 ? ts::exists(o) - 1 : static_cast<int64_t>(load(p(c.args.back())).frames), c.frames) << "row " << &c - rows;
        if (c.frames >= 0) std::remove(p(c.args.back()).c_str());
    }
    EXPECT_EQ(ts::size_of(p("s.dff")), 330u);  // never truncated as a destination
}

// Channel i of source rN (N channels) carries 500 (i + 1) Hz at 0.3 of full scale; t1 to t3 a -6 dBFS 1 kHz tone at each rate, with
// THD+N from what the fit leaves: 7 s wrap the ring buffer, 6 channels straddle the read-ahead, a frame lost or out of order spoils it.
TEST_F(Melt, RoutingTonesAndSaturation) {
    for (int n : {1, 2, 6}) {
        Args a{"--channels=" + to_string(n), "--seconds=0.6", p("r") + to_string(n)};
        for (int i = 0; i < n; ++i) a.insert(a.begin(), "--tone=" + to_string(i) + ":" + to_string(500 * i + 500) + ":0.3");
        ASSERT_TRUE(ts::gen(a));
    }
    const struct { Args gen; std::string src; Args opt; uint64_t frames; std::vector<double> left, right; } rows[] = {
        {{}, "r2", {}, 26460, {.3, 0}, {0, .3}}, {{}, "r2", {"--channels=-1,-1"}, 26460, {.3, 0}, {0, .3}}, {{}, "r2", {"--channels=1,0"}, 26460, {.15, .15}, {.15, .15}},
        {{}, "r6", {}, 26460, {.1, 0, .1, 0, .1, 0}, {0, .1, 0, .1, 0, .1}}, {{}, "r1", {}, 26460, {.3}, {0}}, {{}, "r1", {"--channels=0,0"}, 26460, {.3}, {.3}},
        {{}, "r6", {"--channels=7,7", "--channels=2,3"}, 26460, {.15, 0, .15, 0, 0, 0}, {0, .15, 0, .15, 0, 0}},  // the last option counts
        {{}, "r6", {"--channels=-1,3"}, 26460, {.3, 0, 0, 0, 0, 0}, {0, .15, 0, .15, 0, 0}},
        {{}, "r6", {"--channels=4,-7"}, 26460, {.15, 0, 0, 0, .15, 0}, {0, .3, 0, 0, 0, 0}}, {{"--seconds=7"}, "t1", {}, 308700, {0, .5}, {0, .5}},
        {{"--rate=5644800", "--channels=6", "--seconds=1"}, "t2", {}, 44100, {0, .5}, {0, .5}}, {{"--rate=11289600", "--seconds=1"}, "t3", {}, 44100, {0, .5}, {0, .5}}};
    for (const auto& [gen, src, args, frames, left, right] : rows) {
        ASSERT_TRUE(gen.empty() || ts::gen(gen + Args{"--tone=all:1000:0.5", p(src)}));
        EXPECT_NE(melt(args + Args{p(src), o}).out.find("\rposition 00:00 buffer 0[%]    "), std::string::npos);
        const Wave w = load(o);
        ASSERT_EQ(w.frames, frames) << src;
        for (size_t i = 0; i < 2 * left.size(); ++i) {  // from 0.1 s to 0.1 s before the end: whole periods
            Tone t;
            EXPECT_TRUE(tone_fit(wave_channel(w, i % 2), 44100, 500.0 * (i / 2 + 1), 4410, w.frames - 4410, t));
            EXPECT_NEAR(t.amplitude, (i % 2 ? right : left)[i / 2], 2e-4) << src << " " << args[0] << (i % 2 ? " right " : " left ") << i / 2;
            EXPECT_LT(!gen.empty() && t.amplitude > .4 ? 20 * std::log10(t.residual * M_SQRT2 / t.amplitude) : -99, -89) << src;
        }
        for (size_t i = 1; right == std::vector<double>{0} && i < w.pcm.size(); i += 2) ASSERT_EQ(w.pcm[i], 0);  // silent, not quiet
    }
    // Bits following the signs of the 2.8224 MHz taps drive frame 32 (its window: bits 0 to 2047) beyond full scale: it saturates,
    // and so does the other channel (inverted bits) at the other end.
    Bytes sound(768, 0x69);
    for (size_t i = 0; i < 2048; ++i) {
        sound[i / 8 * 2] = static_cast<uint8_t>((i % 8 ? sound[i / 8 * 2] << 1 : 0) | (i < 2047 && coeff_FDA_2822k[i] > 0));
        sound[i / 8 * 2 + 1] = static_cast<uint8_t>(~sound[i / 8 * 2]);
    }
    ts::write_file(p("peak.dff"), lay::dsdiff(2822400, {"SLFT", "SRGT"}, sound));
    ASSERT_EQ(melt({p("peak.dff"), o}).status, 0);
    const Wave w = load(o);
    EXPECT_EQ(std::tuple(w.frames, w.pcm.at(64) + 0, w.pcm.at(65) + 0), std::tuple(48ul, 32767, -32768));
}

// Ctrl-C once a second of sound is out, from a source that declares far more: a valid shorter file, status 0.
TEST_F(Melt, InterruptAndWriteFailures) {
    ASSERT_TRUE(ts::gen({"--header-only", "--bytes=0", "--data-size=1000000000000", p("head")}));
    Bytes feed = ts::read_file(p("head")) + Bytes(4 * 705600, 0x69), running;
    ASSERT_EQ(mkfifo(p("fifo").c_str(), 0600), 0);
    const int fd = open(p("fifo").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);  // a writer already, so sigmelt's open goes on
    ts::Child c = ts::start({ts::bin("sigmelt"), p("fifo"), o});
    for (auto [sent, end] = std::pair(size_t{0}, std::chrono::steady_clock::now() + std::chrono::seconds(20)); !ts::ended(c) && std::chrono::steady_clock::now() < end; usleep(1000)) {
        sent += std::max<ssize_t>(0, write(fd, feed.data() + sent, std::min<size_t>(feed.size() - sent, 65536)));
        if (running.empty() && ts::size_of(o) >= 84 + 4 * 44100) { running = ts::read_file(o); kill(c.pid, SIGINT); close(fd); }  // the end of input ends a waiting read
    }
    ts::Result r = ts::finish(c);
    ASSERT_EQ(lay::get_le(running, 36, 8), 4294967295u);  // the placeholder while it runs
    EXPECT_EQ(std::tuple(r.status, r.err, r.out.ends_with(CLEAR + "\n\n")), std::tuple(0, std::string(), true));
    EXPECT_GE(load(o).frames, 44100u);
    // An output that stops taking data fails the run; the file keeps the whole frames written, its header counts them.
    Bytes whole;
    for (std::string shape : {"--format=dff", "--trailing-chunk=ID3 :4001", "--format=wsd"}) {  // the same sound, the same samples
        ASSERT_TRUE(ts::gen({"--seconds=2", "--random=all:3", shape, p("s")}));
        ASSERT_EQ(melt({p("s"), o}).status, 0);
        if (whole.empty()) whole = ts::read_file(o);
        EXPECT_EQ(ts::read_file(o), whole) << shape;
    }
    r = melt({p("s"), "/dev/full"});
    EXPECT_EQ(std::pair(r.status, r.err), std::pair(241, ts::report("wav", 195, "write failed.\n") + ts::report("sigmelt", 240, "write error on /dev/full\n")));
    for (int extra : {0, 1, 3}) {
        r = melt({p("s"), o}, false, 84 + 4 * 50000 + extra);
        EXPECT_TRUE(r.status == 241 && r.err.ends_with(ts::report("sigmelt", 240, "write error on " + o + "\n"))) << r.err;
        EXPECT_EQ(load(o).frames, 50000u);
        EXPECT_TRUE(std::equal(whole.begin() + 84, whole.begin() + 200084, ts::read_file(o).begin() + 84)) << extra;
    }
}

}  // namespace
