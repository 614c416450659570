// chanfork and chanfork2chx4: the property display and usage texts, outputs byte for byte against the layouts, copy
// failures and refusals; the pair gather against its definition; a round trip through sigmelt.
#include <gtest/gtest.h>
#include <unistd.h>
#include <random>
#include "extract.h"
#include "support.h"
#include "wavetone.h"
namespace {
using lay::Bytes, lay::operator+;
using Args = std::vector<std::string>;
const std::string FORK = ts::bin("chanfork"), X4 = ts::bin("chanfork2chx4");
const Bytes FVER = lay::chunk("FVER", lay::be(0x01050000, 4));
const Args LR = {"SLFT", "SRGT"}, IDS = {"C000", "C001", "C002", "C003", "C004", "C005", "C006", "C007", "C008", "C009"};
Args ids_of(int ch) { return ch == 2 ? LR : Args(IDS.begin(), IDS.begin() + ch); }
Bytes header_only(uint32_t rate, const Args& ids, uint64_t size) { return lay::form(FVER + lay::prop(rate, ids) + lay::str("DSD ") + lay::be(size, 8)); }
Args fork(Args a) { a.insert(a.begin(), FORK); return a; }
Args x4(Args ids, const std::string& src) { ids.insert(ids.begin(), X4); ids.push_back(src); return ids; }
ts::Result run_in(const std::string& d, const Args& a, int64_t limit = -1) { return ts::run(a, {d, limit, false, 30}); }
void expect(const ts::Result& r, int status, const std::string& said) { EXPECT_EQ(r.status, status); EXPECT_EQ(r.out + r.err, said); }
Bytes pair_wsd(uint64_t sound, uint32_t play, bool be64, uint32_t rate) { return lay::wsd_header({0x11, sound + 2048, play, rate, 2, 0x44000000}, be64); }
// Random sound bytes (a cut frame when `bytes` is no multiple of the channels) at 5644800 Hz, `tail` after the chunk.
Bytes source(const std::string& path, size_t bytes, const Args& ids, const Bytes& tail = {}) {
    static std::mt19937 rng(1);
    Bytes sound(bytes);
    for (auto& b : sound) b = static_cast<uint8_t>(rng());
    return ts::write_file(path, lay::form(FVER + lay::prop(5644800, ids) + lay::chunk("DSD ", sound) + tail)), sound;
}
enum Kind { WSD, WSD64, DFF };  // outputs of a short source: header (playing time 0), the pair's bytes of at most `frames` frames
struct Out { std::string name; Kind kind; int l, r; };
void expect_outputs(const std::string& d, const Bytes& sound, uint64_t ch, const std::vector<Out>& outs, size_t frames) {
    for (const uint64_t bpc = sound.size() / ch; const Out& o : outs) {
        Bytes want = o.kind == DFF ? lay::dsdiff_pair_header(5644800, 2 * bpc) : pair_wsd(2 * bpc, o.kind == WSD ? 0x30303030 : 0, o.kind == WSD64, 5644800);
        for (size_t i = 0; i < std::min(bpc, frames); ++i) want.push_back(sound[i * ch + o.l]), want.push_back(sound[i * ch + o.r]);
        EXPECT_TRUE(ts::read_file(d + "/" + o.name) == want) << o.name;
    }
}
TEST(Extractors, DisplayUsageAndNotDsdiff) {
    const std::string d = ts::tmpdir(), f = d + "/s.dff", no = "file " + f + " is not DSDIFF format.\n", form = ts::report("dsdiff", 57, "\n");
    const auto show = [](uint32_t rate, uint64_t size, const Args& ids, const std::string& time) {
        std::string s = "sampling frequency:\t" + std::to_string(rate) + " [Hz]\ndata size in bytes:\t" + std::to_string(size) +
                        " [Byte]\nplaying time:\t\t" + time + "\nchannel:\t\t" + std::to_string(ids.size()) + " [ch]\n";
        for (size_t i = 0; i < ids.size(); ++i) s += "\tchannel " + std::to_string(i) + " name is \"" + ids[i] + "\"\n";
        return std::tuple{header_only(rate, ids, size), s, std::string()};
    };
    // Not DSDIFF (chanfork2chx4's reader reports first: identifier differs 42, short 38, then form 57; DST sound 216).
    const std::tuple<Bytes, std::string, std::string> rows[] = {
        show(2822400, 35280000, {"MONO"}, "0:01:40"), show(2822400, 35280, IDS, "0:00:00"), show(2822400, 70560001, LR, "0:01:40"),
        show(2822400, 312612552000, LR, "123:04:05"), show(2822400, 4294967296, LR, "1:41:26"), show(2822400, INT64_MAX, {"C"}, "7262040215:27:45"),
        show(11289600, 6096384000, {"L", "R", "C", "LFE", "LS", "RS"}, "0:12:00"), show(4294967295, 32, {"ab", "Rgt "}, "0:00:00"),  // NULs end a name
        {lay::wsd_header({}, false) + Bytes(16), no, ts::report("dsdiff", 42, "\n") + form}, {Bytes(3), no, ts::report("dsdiff", 38, "\n") + form},
        {lay::form(FVER + lay::prop(2822400, LR) + lay::chunk("DST ", Bytes(16))), no, ts::report("dsdiff", 216, "\n")},
        {lay::dsdiff(0, LR, Bytes(64)), no, ""}, {lay::dsdiff(2822400, {}, Bytes(64)), no, ""}};
    for (const std::string& bin : {FORK, X4}) {
        for (const auto& [file, said, lines] : rows) ts::write_file(f, file), expect(ts::run({bin, f}), 0, (bin == X4 ? lines : "") + said);
        expect(ts::run({bin, d + "/none.dff"}), 26, "");
        const std::string use = "usage:\t" + bin + " [left_channel right_channel] file_name\nCf:\t" + bin + " example.dff\t# show DSDIFF file information.\n\t" +
            bin + (bin == FORK ? " C002 C005 example.dff\t# read C002,C005 channel from example.dff and write into example.wsd file\n"
                               : " C000 C001 C002 C003 C004 C005 C006 C006 example.dff\t# read from example.dff and write into 4 stereo example_?.wsd file\n");
        for (size_t n : {0, 2, 3, 5, 6, 8, 9, 10})  // usage: the name as typed; chanfork's 278 seen as its low 8 bits
            if (n != (bin == X4 ? 9u : 10u)) expect(run_in(d, Args(n + 1, bin)), bin == X4 ? 213 : 278 & 0xFF, use);
    }
}
TEST(Extractors, OutputsHoldTheChosenPairs) {
    // Names: chanfork2chx4's after the source's last component, chanfork's from that's first '.' (none or short: DSDIFF). The later
    // channel of a name counts. Whole frames within the chunk are copied; a short source ends the copy (in the first or third read).
    const struct { std::string src, stem; int ch; Args ids; size_t bytes, cut; std::vector<int> x4p; std::vector<Out> fork; } rows[] = {
        {"dir.v2/x.y.z", "dir.v2/x.y", 6, {}, 6000, 0, {5, 4, 0, 1, 2, 3, 1, 1},
         {{"out.wsd", WSD, 0, 1}, {"out.WSD", WSD, 2, 3}, {"out.dff", DFF, 5, 5}, {"out.DFF", DFF, 4, 4}, {".wsd", DFF, 1, 0}, {"abcd", DFF, 3, 2},
          {"output", DFF, 0, 5}, {"./dot.wsd", WSD, 2, 5}, {"dir.v2/out.wsd", WSD, 4, 1}, {"dir.v2/.wsd", DFF, 3, 4}}},
        {"dir.v2/a.df", "dir.v2/a.df", 8, {"AAAA", "BBBB", "AAAA", "CCCC", "BBBB", "DD", "EEEE", "AAAA"}, 799, 0, {7, 4, 3, 5, 6, 7, 5, 4},
         {{"a.wsd", WSD, 7, 4}, {"b.dff", DFF, 3, 7}}},
        {"a.b.dff", "a.b", 8, {}, 8 * 70000, 8 * 4000 - 5, {0, 1, 2, 3, 4, 5, 6, 7}, {{"a.wsd", WSD, 2, 0}, {"b.dff", DFF, 1, 1}}},
        {"dir.v2/music", "dir.v2/music", 3, {}, 3 * (2 * COPY_FRAMES + 10), 13, {0, 1, 2, 0, 1, 2, 0, 1}, {{"a.wsd", WSD, 2, 1}}}};
    for (const auto& c : rows) {
        const std::string d = ts::tmpdir(), src = d + "/" + c.src;
        const Args ids = c.ids.empty() ? ids_of(c.ch) : c.ids;
        mkdir((d + "/dir.v2").c_str(), 0755);
        const Bytes s = source(src, c.bytes, ids, lay::chunk("ZZZZ", Bytes(64, 0xFF)));
        ASSERT_EQ(truncate(src.c_str(), static_cast<off_t>(ts::size_of(src) - (c.cut ? c.cut + 76 : 0))), 0);
        const size_t frames = (c.bytes - c.cut) / c.ch;
        const std::string read = "read data error at " + std::to_string(frames * c.ch) + " bytes offset\n";
        const auto id = [&](int p) { return ids[p] + (ids[p].size() == 4 ? "+" : ""); };  // only four characters count
        Args a, f = {c.src};
        std::vector<Out> outs;
        for (int p : c.x4p) a.push_back(id(p));
        for (int k = 0; k < 4; ++k) outs.push_back({c.stem + "_" + std::to_string(k) + ".wsd", WSD64, c.x4p[2 * k], c.x4p[2 * k + 1]});
        for (const Out& o : c.fork) f.insert(f.end(), {id(o.l), ids[o.r], o.name});
        expect(run_in(d, x4(a, c.src)), c.cut ? 177 : 0, c.cut ? ts::report("main", 173, read) : "");
        expect(run_in(d, fork(f)), c.cut ? 228 : 0, c.cut ? ts::report("main", 227, read) : "");
        expect_outputs(d, s, c.ch, outs, frames), expect_outputs(d, s, c.ch, c.fork, frames);
    }
}
TEST(Extractors, HeadersOfLongAndEmptySourcesAndWriteFailures) {
    // Playing-time words: chanfork's the characters of the minutes' and hours' digits, chanfork2chx4's the seconds' digits.
    for (auto [size, cf, cx] : {std::tuple{0ull, "0000", 0u}, {2 * 3725 * 352800ull, "0201", 0x00050000u},
                                {2 * 46774 * 352800ull, "5912", 0x03040000u}, {8589934592ull, "2203", 0x05030000u}}) {
        const std::string d = ts::tmpdir(), none = "read data error at 0 bytes offset\n";  // the copy, after the headers
        ts::write_file(d + "/l.dff", header_only(2822400, LR, size));
        expect(run_in(d, fork({"l.dff", "SLFT", "SRGT", "l.wsd", "SRGT", "SLFT", "m.dff"})), size ? 228 : 0, size ? ts::report("main", 227, none) : "");
        expect(run_in(d, x4({"SLFT", "SRGT", "SRGT", "SLFT", "SLFT", "SLFT", "SRGT", "SRGT"}, "l.dff")), size ? 177 : 0, size ? ts::report("main", 173, none) : "");
        EXPECT_EQ(ts::read_file(d + "/l.wsd"), pair_wsd(size, static_cast<uint32_t>(lay::get_be(lay::str(cf), 0, 4)), false, 2822400));
        EXPECT_EQ(ts::read_file(d + "/m.dff"), lay::dsdiff_pair_header(2822400, size));
        for (int k = 0; k < 4; ++k) EXPECT_EQ(ts::read_file(d + "/l_" + std::to_string(k) + ".wsd"), pair_wsd(size, cx, true, 2822400));
    }
    // Writes past a 1 KiB limit: of an empty source only the headers, which fail when the closing flushes them.
    const std::string d = ts::tmpdir();
    source(d + "/empty.dff", 0, ids_of(8));
    expect(run_in(d, x4(ids_of(8), "empty.dff"), 1024), 183, ts::report("main", 182, "write data error\n"));
    expect(run_in(d, fork({"empty.dff", "C000", "C001", "o.wsd"}), 1024), 246, ts::report("main", 245, "write data error\n"));
}
// Refusals: report, status and the folder after: the sources six.dff (6 channels) and src.dff (8) and what the setup adds,
// "name=text" a file or "name@" a link to the absent "victim" (never made). Names: in argument order, "C00" NUL-padded.
TEST(Extractors, RefusalsLeaveTheFolderAsPromised) {
    const auto m = [](int line, const std::string& msg) { return ts::report("main", line, msg); };
    const auto named = [](const char* name) { return fork({"none.dff", "C000", "C001", "o.wsd", "C002", "C003", name}); };
    const std::tuple<std::string, Args, int, std::string, Args> rows[] = {
        {"", named("my.song.wsd"), 111, m(110, "could not judge file name extension \".song.wsd\".\n"), {}},
        {"rear.dff=old", named("rear.dff"), 123, m(122, "output file rear.dff exist. Abort.\n"), {"rear.dff=3"}},
        {"rear.dff=old", fork({"none.dff", "C0", "C1", "rear.dff/x.wsd"}), 123, m(122, "output file rear.dff/x.wsd exist. Abort.\n"), {"rear.dff=3"}},
        {"", fork({"six.dff", "C000", "C001", "a.wsd", "C004", "C009", "b.dff", "C002", "C003", "c.wsd"}), 171,
         m(170, "right channel name C009 not found.\n"), {"a.wsd=2048", "b.dff=0"}},
        {"l.dff@", fork({"six.dff", "C000", "C001", "l.dff"}), 153, m(152, "fopen(l.dff) failed.\n"), {"l.dff=0"}},
        {"src_2.wsd=keep me", x4(ids_of(8), "src.dff"), 95, m(94, "output file src_2.wsd exist. Abort.\n"), {"src_2.wsd=7"}},
        {"plain=x", x4(ids_of(8), "plain/x.dff"), 95, m(94, "output file plain/x_0.wsd exist. Abort.\n"), {"plain=1"}},
        {"", x4({"C000", "C001", "C002", "C003", "C009", "C005", "C006", "C008"}, "src.dff"), 122, "channel name C009 not found\n", {}},
        {"", x4({"C000", "C001", "C002", "C003", "C004", "C005", "C006", "C00"}, "src.dff"), 122, "channel name C00 not found\n", {}},
        {"src_1.wsd@", x4(ids_of(8), "src.dff"), 131, m(130, "fopen(src_1.wsd) failed.\n"), {"src_0.wsd=2048", "src_1.wsd=0"}}};
    for (const auto& [item, a, status, err, files] : rows) {
        const std::string d = ts::tmpdir(), name = d + "/" + item.substr(0, item.find_first_of("=@"));
        source(d + "/six.dff", 64, ids_of(6)), source(d + "/src.dff", 64, ids_of(8));
        if (item.ends_with("@")) { EXPECT_EQ(symlink("victim", name.c_str()), 0); }
        if (const size_t eq = item.find('='); eq != std::string::npos) ts::write_file(name, lay::str(item.substr(eq + 1)));
        expect(run_in(d, a), status, err);
        Args seen;
        for (const std::string& n : ts::list_dir(d))
            if (n != "six.dff" && n != "src.dff") seen.push_back(n + '=' + std::to_string(ts::size_of(d + '/' + n)));
        EXPECT_EQ(seen, files) << err;
    }
}
TEST(Library, GatherPairsAgreesWithTheDefinition) {  // blocks of 16 frames take the AVX2 path at 2, 4 and 8 channels
    Bytes frames(10 * 300);
    for (std::mt19937 rng(7); auto& b : frames) b = static_cast<uint8_t>(rng());
    for (int cc = 2; cc <= 10; ++cc) for (int l = 0; l < cc; ++l) for (int r = 0; r < cc; ++r) for (size_t n : {0, 1, 15, 16, 17, 33, 64, 299}) {
        Bytes want(2 * n), got(2 * n + 1, 0xEE);  // nothing is written past the pairs
        for (size_t i = 0; i < n; ++i) want[2 * i] = frames[i * cc + l], want[2 * i + 1] = frames[i * cc + r];
        gather_pairs(frames.data(), n, cc, l, r, got.data());
        ASSERT_EQ(got, want + Bytes{0xEE}) << cc << " channels, " << l << "/" << r << ", " << n << " frames";
    }
}
TEST(Extractors, SigmeltHearsTheNamedChannelsOfAnOutput) {
    const std::string d = ts::tmpdir();
    Wave w;  // the output's left channel is source channel 3, its right channel 1
    ASSERT_TRUE(ts::gen({"--channels=4", "--seconds=0.2", "--tone=0:1000:0.5", "--tone=1:440:0.25", "--tone=2:3000:0.4", "--tone=3:7000:0.3", d + "/s.dff"}));
    expect(ts::run({FORK, d + "/s.dff", "C003", "C001", d + "/a.wsd"}), 0, "");
    ASSERT_TRUE(ts::run({ts::bin("sigmelt"), d + "/a.wsd", d + "/a.wav"}).status == 0 && !wave_parse(ts::read_file(d + "/a.wav"), w));
    for (Tone t; auto [c, freq, amp] : {std::tuple{0, 7000.0, 0.3}, {1, 440.0, 0.25}})
        EXPECT_TRUE(tone_fit(wave_channel(w, c), 44100, freq, 2000, w.pcm.size() / 2, t) && std::abs(t.amplitude - amp) < 0.01) << c << " " << t.amplitude;
}
}  // namespace
