// chanfork and chanfork2chx4: display, usage, outputs byte for byte, copy failures, refusals; the pair gather; a round trip through sigmelt.
#include <gtest/gtest.h>
#include <unistd.h>
#include <random>
#include "dst.h"
#include "extract.h"
#include "support.h"
#include "wavetone.h"
namespace {
using lay::Bytes, lay::operator+;
using Args = std::vector<std::string>;
const std::string FORK = ts::bin("chanfork"), X4 = ts::bin("chanfork2chx4");
Args operator+(Args a, const Args& b) { a.insert(a.end(), b.begin(), b.end()); return a; }
Args ids_of(int ch) { Args a; for (int i = 0; i < ch; ++i) a.push_back("C00" + std::to_string(i)); return a; }
Bytes noise(size_t n) { Bytes b(n); for (std::mt19937 rng(7); auto& x : b) x = static_cast<uint8_t>(rng()); return b; }
Bytes header_only(uint32_t rate, const Args& ids, uint64_t n) { Bytes b = lay::dsdiff(rate, ids, {}); std::ranges::copy(lay::be(n, 8), b.end() - 8); return b; }
Args x4(Args ids, const std::string& src) { ids.insert(ids.begin(), X4); ids.push_back(src); return ids; }
void expect(const ts::Result& r, int status, const std::string& said) { EXPECT_EQ(r.status, status); EXPECT_EQ(r.out + r.err, said); }
// Random sound bytes, then a chunk the copies must not take; or the header of `bytes` and the first `bytes - cut`.
Bytes source(const std::string& path, size_t bytes, const Args& ids, size_t cut = 0, uint32_t rate = 5644800) {
    const Bytes sound = noise(bytes - cut);
    return ts::write_file(path, cut ? header_only(rate, ids, bytes) + sound : lay::dsdiff(rate, ids, sound) + lay::chunk("ZZZZ", Bytes(64, 0xFF))), sound;
}
TEST(Extractors, DisplayUsageAndNotDsdiff) {
    const std::string d = ts::tmpdir(), f = d + "/s.dff", no = "file " + f + " is not DSDIFF format.\n";
    const auto show = [](uint32_t rate, uint64_t size, const Args& ids, const std::string& time) {
        std::string s = "sampling frequency:\t" + std::to_string(rate) + " [Hz]\ndata size in bytes:\t" + std::to_string(size) +
                        " [Byte]\nplaying time:\t\t" + time + "\nchannel:\t\t" + std::to_string(ids.size()) + " [ch]\n";
        for (size_t i = 0; i < ids.size(); ++i) s += "\tchannel " + std::to_string(i) + " name is \"" + ids[i] + "\"\n";
        return std::tuple{header_only(rate, ids, size), s, std::string()};
    };
    auto [dst, said, none] = show(5644800, 3 * 9408 * 3, {"L", "C", "R"}, "0:00:00");  // DST: the decoded size, one line more
    dst = lay::form(lay::prop(5644800, {"L", "C", "R"}) + lay::chunk("DST ", lay::chunk("FRTE", lay::be(3, 4) + lay::be(75, 2))));
    const std::tuple<Bytes, std::string, std::string> rows[] = {  // NULs end a name; not DSDIFF (136, 108): chanfork2chx4's reader reports first
        {dst, said + "sound:\t\t\tDST-compressed, 3 frames of 1/75 s\n", none}, show(2822400, INT64_MAX, {"MONO"}, "7262040215:27:45"), show(4294967295, 32, {"ab", "Rgt "}, "0:00:00"), {lay::dsdiff(0, {"L", "R"}, {}), no, ""},
        {lay::wsd_header({}, false) + Bytes(16), no, ts::report("dsdiff", 42, "\n") + ts::report("dsdiff", 57, "\n")}};
    for (const std::string& bin : {FORK, X4}) {
        for (const auto& [file, said, lines] : rows)
            ts::write_file(f, file), expect(ts::run({bin, f}), said != no ? 0 : bin == X4 ? 108 : 136, (bin == X4 ? lines : "") + said);
        expect(ts::run({bin, d + "/none.dff"}), bin == X4 ? 103 : 131, ts::report("main", bin == X4 ? 102 : 130, "fopen(" + d + "/none.dff) failed.\n"));
        const std::string use = "usage:\t" + bin + " SOURCE\n\t" + bin + (bin == X4 ? " ID1 ID2 ID3 ID4 ID5 ID6 ID7 ID8 SOURCE\n" : " SOURCE L R OUT [L");
        for (size_t n : {0, 3, 5, 6, 8, 9, 10, 11, 12}) {  // usage, with the name as typed; chanfork's 278 seen as its low 8 bits; help
            const ts::Result r = ts::run(n > 10 ? Args{bin, n == 11 ? "--help" : "-h", "x.dff"} : Args(n + 1, bin), {d});
            EXPECT_TRUE(n == (bin == X4 ? 9u : 10u) || (r.status == (n > 10 ? 0 : bin == X4 ? 213 : 278 & 0xFF) && r.out.starts_with(use))) << n;
        }
    }
}
TEST(Extractors, OutputsHoldTheChosenPairs) {
    // chanfork's format from the name's last component's first '.' (none or short: DSDIFF). The later channel of a name counts. Whole
    // frames within the chunk are copied; a short source ends the copy in the third read, each output's header then counting what it
    // holds. At 8 Hz a small source plays for 19:59:59.
    struct Out { std::string name; char kind; int l, r; };  // WSD with the size in halves 'w' or as one value 'W', DSDIFF 'd'
    const struct { std::string src, stem; Args ids; size_t bytes, cut; std::vector<int> x4p; std::vector<Out> fork; uint32_t rate = 5644800; } rows[] = {
        {"dir.v2/x.y.z", "dir.v2/x.y", ids_of(6), 6003, 0, {5, 4, 0, 1, 2, 3, 1, 1}, {{"out.wsd", 'w', 0, 1}, {"out.WSD", 'w', 2, 3}, {"out.dff", 'd', 5, 5},
         {"out.DFF", 'd', 4, 4}, {"abcd", 'd', 3, 2}, {"output", 'd', 0, 5}, {"./dot.wsd", 'w', 2, 5}, {"dir.v2/.wsd", 'd', 3, 4}}},  // a frame cut
        {"a.b.c", "a.b", {"AAAA", "B", "AAAA", "C", "B", "DD", "E", "AAAA"}, 8 * (2 * COPY_FRAMES + 10), 13, {7, 4, 3, 5, 6, 7, 5, 4}, {{"b.dff", 'd', 3, 7}}},
        {"l.dff", "l", {"L", "R"}, 2 * 71999, 0, {0, 1, 1, 0, 0, 0, 1, 1}, {{"l.wsd", 'w', 0, 1}, {"m.dff", 'd', 1, 0}}, 8}};
    for (const auto& c : rows) {
        const std::string d = ts::tmpdir();
        mkdir((d + "/dir.v2").c_str(), 0755);
        const Bytes s = source(d + "/" + c.src, c.bytes, c.ids, c.cut, c.rate);
        const size_t ch = c.ids.size(), frames = (c.bytes - c.cut) / ch, t = frames * 8 / c.rate, m = t / 60 % 60, h = t / 3600;
        // Playing-time words: chanfork's the characters of the minutes' and hours' digits, chanfork2chx4's the seconds' digits.
        const uint32_t cf = 0x30303030 + (m / 10 << 24) + (m % 10 << 16) + (h / 10 << 8) + h % 10, cx = t % 60 / 10 << 24 | t % 60 % 10 << 16;
        const auto id = [&](int p) { return c.ids[p] + (c.ids[p].size() == 4 ? "+" : ""); };  // only four characters count
        Args a, f = {FORK, c.src};
        std::vector<Out> outs = c.fork;
        for (int k = 0; k < 4; ++k) outs.push_back({c.stem + "_" + std::to_string(k) + ".wsd", 'W', c.x4p[2 * k], c.x4p[2 * k + 1]});
        for (int p : c.x4p) a.push_back(id(p));
        for (const Out& o : c.fork) f.insert(f.end(), {id(o.l), c.ids[o.r], o.name});
        const std::string read = "read data error at " + std::to_string(frames * ch) + " bytes offset\n";
        expect(ts::run(x4(a, c.src), {d}), c.cut ? 177 : 0, c.cut ? ts::report("main", 173, read) : "");
        expect(ts::run(f, {d}), c.cut ? 228 : 0, c.cut ? ts::report("main", 227, read) : "");
        for (const Out& o : outs) {
            Bytes want = o.kind == 'd' ? lay::dsdiff_pair_header(c.rate, 2 * frames)
                                       : lay::wsd_header({0x11, 2 * frames + 2048, o.kind == 'w' ? cf : cx, c.rate, 2, 0x44000000}, o.kind == 'W');
            for (size_t i = 0; i < frames; ++i) want.push_back(s[i * ch + o.l]), want.push_back(s[i * ch + o.r]);
            EXPECT_TRUE(ts::read_file(d + "/" + o.name) == want) << o.name;
        }
    }
}
// Refusals and a failed write: status, report, the folder after (besides the sources); setup: a shell command, or "<": a file limit.
TEST(Extractors, RefusalsLeaveTheFolderAsPromised) {
    const auto m = [](int line, const std::string& msg) { return ts::report("main", line, msg); };
    const std::string six = "the channels of this file are \"A\" \"B\" \"C   \" \"LFE \" \"E\" \"F\"\n",
                      eight = "the channels of this file are \"C000\" \"C001\" \"C002\" \"C003\" \"C004\" \"C005\" \"C006\" \"C007\"\n";
    const std::tuple<std::string, Args, int, std::string, Args> rows[] = {
        {"", Args{FORK, "none.dff", "C0", "C1", "o.wsd", "C2", "C3", "my.song.wsd"}, 111, m(110, "could not judge file name extension \".song.wsd\".\n"), {}},
        {"", Args{FORK, "six.dff", "A", "B", "a.wsd", "E", "Z", "b.dff"}, 171, m(170, "right channel name Z not found.\n") + six, {}},
        {"ln -s victim l.dff", Args{FORK, "six.dff", "A", "B", "l.dff"}, 153, m(152, "fopen(l.dff) failed.\n"), {"l.dff=0"}},
        {"", Args{FORK, "six.dff", "C", "LFE", "o.dff"}, 0, "", {"o.dff=150"}},  // short identifiers padded with spaces, as stored
        {"echo x > plain", x4(ids_of(8), "plain/a.df"), 95, m(94, "output file plain/a.df_0.wsd exist. Abort.\n"), {"plain=2"}},  // short: whole
        {": > music_1.wsd", x4(ids_of(8), "./music"), 95, m(94, "output file ./music_1.wsd exist. Abort.\n"), {"music_1.wsd=0"}},
        {"", x4({"C000", "C001", "C002", "C003", "C00", "C005", "C006", "C009"}, "src.dff"), 122, "channel name C00 not found\n" + eight, {}},
        {"ln -s victim src_1.wsd", x4(ids_of(8), "src.dff"), 131, m(130, "fopen(src_1.wsd) failed.\n"), {"src_1.wsd=0"}},  // src_0.wsd removed
        {"<", Args{FORK, "six.dff", "A", "B", "o.wsd"}, 246, m(245, "write data error\n"), {"o.wsd=2058"}}};  // at the closing flush: 5 frames kept
    for (const auto& [setup, a, status, err, files] : rows) {
        const std::string d = ts::tmpdir();
        source(d + "/six.dff", 64, {"A", "B", "C   ", "LFE ", "E", "F"}), source(d + "/src.dff", 64, ids_of(8));
        ASSERT_EQ(ts::run({"/bin/sh", "-c", setup == "<" ? "" : setup}, {d}).status, 0);
        expect(ts::run(a, {d, setup == "<" ? 2059 : -1}), status, err);
        Args seen;
        for (const std::string& n : ts::list_dir(d)) if (n != "six.dff" && n != "src.dff") seen.push_back(n + '=' + std::to_string(ts::size_of(d + '/' + n)));
        EXPECT_EQ(seen, files) << err;
    }
}
TEST(Library, GatherPairsAgreesWithTheDefinition) {  // blocks of 16 frames take the AVX2 path at 2, 4 and 8 channels
    const Bytes frames = noise(10 * 300);
    for (int cc = 2; cc <= 10; ++cc) for (int l = 0; l < cc; ++l) for (int r = 0; r < cc; ++r) for (size_t n : {0, 1, 15, 16, 17, 33, 64, 299}) {
        Bytes want(2 * n), got(2 * n + 1, 0xEE);  // nothing is written past the pairs
        for (size_t i = 0; i < n; ++i) want[2 * i] = frames[i * cc + l], want[2 * i + 1] = frames[i * cc + r];
        gather_pairs(frames.data(), n, cc, l, r, got.data());
        ASSERT_EQ(got, want + Bytes{0xEE}) << cc << " channels, " << l << "/" << r << ", " << n << " frames";
    }
}
// A DSF source shows and copies as the DSDIFF file of the same sound with DSDIFF's identifiers of its loudspeakers; one cut inside
// its second block set (stereo: 4195 bytes of each channel present) as the DSDIFF file of those frames, after the read report.
TEST(Extractors, DsfSourcesAsTheSameSoundInDsdiff) {
    const struct { Args gen, ids, pick; size_t bytes = 10000; } rows[] = {
        {{"--channels=6"}, {"MLFT", "MRGT", "C   ", "LFE ", "LS  ", "RS  "}, {"LFE", "RS", "C", "MLFT"}},
        {{"--channels=1", "--dsf-field=bits:8"}, {"C   "}, {"C", "C", "C", "C"}}, {{"--channels=2", "--truncate=12479"}, {"SLFT", "SRGT"}, {"SRGT", "SLFT", "SRGT", "SRGT"}, 4195}};
    for (const auto& r : rows) {
        const std::string d[2] = {ts::tmpdir(), ts::tmpdir()}, src[2] = {d[0] + "/s.dsf", d[1] + "/s.dff"}, &a = r.pick[0], &b = r.pick[1], &c = r.pick[2], &e = r.pick[3];
        std::string ids = "--ids=" + r.ids[0];
        for (size_t i = 1; i < r.ids.size(); ++i) ids += "," + r.ids[i];
        Args g = {"--bytes=10000", "--random=all:4"};
        g.insert(g.end(), r.gen.begin(), r.gen.end()), g.push_back(src[0]);
        ASSERT_TRUE(ts::gen(g) && ts::gen({"--random=all:4", r.gen[0], ids, "--bytes=" + std::to_string(r.bytes), src[1]}));
        std::string said[2];
        for (int k = 0; k < 2; ++k) {
            const ts::Result shown = ts::run({FORK, src[k]}), cf = ts::run({FORK, src[k], a, b, d[k] + "/a.wsd", c, e, d[k] + "/b.dff"}), x4 = ts::run({X4, a, b, c, e, e, c, b, a, src[k]});
            said[k] = (r.bytes < 10000 ? "" : shown.out) + cf.err + x4.err + std::to_string(cf.status) + " " + std::to_string(x4.status);
        }
        const std::string read = "read data error at 8390 bytes offset\n";
        EXPECT_TRUE(said[1].ends_with("\n0 0") || said[1] == "0 0") << said[1];
        EXPECT_EQ(said[0], r.bytes < 10000 ? ts::report("main", 227, read) + ts::report("main", 173, read) + "228 177" : said[1]);
        for (const std::string f : {"/a.wsd", "/b.dff", "/s_0.wsd", "/s_3.wsd"}) EXPECT_TRUE(ts::read_file(d[0] + f) == ts::read_file(d[1] + f)) << f;
    }
}
TEST(Extractors, SigmeltHearsTheNamedChannelsOfAnOutput) {  // the output's left channel is source channel 3, its right channel 1
    const std::string d = ts::tmpdir();
    ASSERT_TRUE(ts::gen({"--channels=4", "--seconds=0.2", "--tone=1:440:0.25", "--tone=3:7000:0.3", d + "/s.dff"}));
    expect(ts::run({FORK, d + "/s.dff", "C003", "C001", d + "/a.wsd"}), 0, "");
    Wave w;
    ASSERT_TRUE(ts::run({ts::bin("sigmelt"), d + "/a.wsd", d + "/a.wav"}).status == 0 && !wave_parse(ts::read_file(d + "/a.wav"), w));
    for (Tone t; auto [c, freq, amp] : {std::tuple{0, 7000.0, 0.3}, {1, 440.0, 0.25}})
        EXPECT_TRUE(tone_fit(wave_channel(w, c), 44100, freq, 2000, w.pcm.size() / 2, t) && std::abs(t.amplitude - amp) < 0.01) << c << " " << t.amplitude;
}
TEST(Extractors, DstSourcesGiveTheOutputsOfTheirDecodedSound) {  // every field of the frame format, 6 channels, both programs
    const std::string d = ts::tmpdir();
    const Args sound{"--channels=6", "--seconds=0.2", "--rate=5644800", "--tone=all:1000:0.5", "--random=3:8"};
    ASSERT_TRUE(ts::gen(sound + Args{"--dst=mix", d + "/a.dff"}) && ts::gen(sound + Args{d + "/p.dff"}));
    for (const std::string s : {"a", "p"}) {
        expect(ts::run({FORK, d + "/" + s + ".dff", "C005", "C003", d + "/" + s + "x.wsd", "C000", "C002", d + "/" + s + "y.dff"}), 0, "");
        expect(ts::run(x4({"C005", "C003", "C000", "C002", "C001", "C004", "C004", "C004"}, d + "/" + s + ".dff")), 0, "");
    }
    for (const std::string o : {"x.wsd", "y.dff", "_0.wsd", "_1.wsd", "_2.wsd", "_3.wsd"})
        EXPECT_TRUE(ts::size_of(d + "/a" + o) > 2048 && ts::read_file(d + "/a" + o) == ts::read_file(d + "/p" + o)) << o;
}
// DST copies at 1, 2, 8 threads and one of 3 to 7 by row (chanfork2chx4, the same copy, at 1, 2, 5 and 8): the outputs of the plain file of the frames before
// the first corrupt or missing one (of all 25, more than 8 threads hold in flight), that frame's report and the copy's, alike at every
// count; rates, channel counts, every frame form, faults found in decoding and in reading.
TEST(Extractors, DstCopiesAlikeAtEveryThreadCount) {
    const struct { int ch, rate; Args more; DstError e = DST_OK; size_t bad = 25; } rows[] = {
        {6, 2822400, {"--dst=mix"}}, {2, 5644800, {"--dst"}}, {1, 11289600, {"--dst=mix"}}, {4, 2822400, {"--dst=mix", "--dst-corrupt=overrun:0"}, DST_OVERRUN, 0},
        {3, 5644800, {"--dst=mix", "--dst-corrupt=probability:12", "--dst-corrupt=map:13"}, DST_BAD_PROBABILITY, 12},
        {2, 2822400, {"--dst=mix", "--dst-corrupt=huge:20"}, DST_CHUNK_OVERFLOW, 20}, {5, 2822400, {"--dst=mix", "--frte-count=27"}, DST_MISSING}};
    for (const auto& r : rows) {
        const std::string d = ts::tmpdir();
        const size_t fb = r.rate / 600;  // bytes of one channel in a frame
        const Args c = ids_of(r.ch), sound = Args{"--channels=" + std::to_string(r.ch), "--rate=" + std::to_string(r.rate), "--tone=all:1000:0.5",
                                                  "--random=0:6"} + Args(r.ch == 2, "--ids=C000,C001");  // else C000, C001, ...
        ASSERT_TRUE(ts::gen(sound + r.more + Args{"--bytes=" + std::to_string(25 * fb), d + "/s.dff"}) &&
                    ts::gen(sound + Args{"--bytes=" + std::to_string(r.bad * fb), d + "/p.dff"}));
        char m[160];
        std::snprintf(m, sizeof m, DST_REPORTS[r.e].text, static_cast<unsigned long long>(r.bad));
        const std::string read = "read data error at " + std::to_string(r.bad * fb * r.ch) + " bytes offset\n", dst = ts::report("dst", DST_REPORTS[r.e].line, m);
        std::vector<Bytes> outs[9];
        for (const int t : {0, 1, 2, 3 + static_cast<int>(&r - rows) % 5, 8}) {  // 0: the plain file; each count in a folder of its own; 3 to 7 over the rows
            const std::string o = d + "/" + std::to_string(t), th = "--threads=" + std::to_string(t);
            ASSERT_TRUE(mkdir(o.c_str(), 0755) == 0 && symlink(t ? "../s.dff" : "../p.dff", (o + "/s.dff").c_str()) == 0);
            Args cf = {FORK, th, o + "/s.dff", c[r.ch - 1], c[0], o + "/x.wsd", c[r.ch / 2], c[r.ch - 1], o + "/y.dff"}, x4p = {th};
            for (int k = 0; k < 8; ++k) x4p.push_back(c[(3 * k + 1) % r.ch]);
            const bool both = t < 3 || t % 3 == 2;
            if (t == 0) cf.erase(cf.begin() + 1), x4p.erase(x4p.begin());
            ts::Child run[2] = {ts::start(cf), both ? ts::start(x4(x4p, o + "/s.dff")) : ts::Child{}};
            for (int k = 0; k < 1 + both; ++k) {
                const bool cut = t && r.e != DST_OK;
                expect(ts::finish(run[k]), cut ? k ? 177 : 228 : 0, cut ? dst + ts::report("main", k ? 173 : 227, read) : "");
            }
            for (const std::string n : {"x.wsd", "y.dff", "s_0.wsd", "s_1.wsd", "s_2.wsd", "s_3.wsd"}) outs[t].push_back(both || n[0] != 's' ? ts::read_file(o + "/" + n) : outs[0][outs[t].size()]);
            EXPECT_TRUE(outs[t] == outs[0] && outs[0][0].size() == 2048 + 2 * r.bad * fb) << r.more.back() << ", " << t << " threads";
        }
    }
}
// chanfork's and chanfork2chx4's --threads=N, before the other arguments (1 to 64, digits alone; else the usage text and status, 'u'):
// a copy ('c'), help ('h'), a file to show ('s'). A command line that is the program's as it stands keeps its meaning: one argument,
// or a source named like the option. "@": a copy's other arguments, "#": the same from the source "--threads=2".
TEST(Extractors, ThreadsOptionBeforeTheOtherArguments) {
    const std::tuple<Args, char> rows[] = {{{"--threads=0", "@"}, 'u'}, {{"--threads=65", "@"}, 'u'}, {{"--threads=", "@"}, 'u'}, {{"--threads=+2", "@"}, 'u'},
        {{"--threads=2x", "@"}, 'u'}, {{"--threads=99999999999", "@"}, 'u'}, {{"--threads=064", "@"}, 'c'}, {{"--threads=1", "#"}, 'c'}, {{"#"}, 'c'},
        {{"--threads=2", "--help"}, 'h'}, {{"--threads=2"}, 's'}, {{"--threads=3", "--threads=2"}, 's'}, {{"--threads=2", "--threads=2", "@"}, 'u'}};
    for (const std::string& bin : {FORK, X4}) {
        for (const auto& [a, kind] : rows) {
            const std::string d = ts::tmpdir();
            ASSERT_TRUE(ts::gen({"--channels=8", "--bytes=64", d + "/--threads=2"}) && symlink("--threads=2", (d + "/s.dff").c_str()) == 0);
            Args line = {bin};
            for (const std::string& x : a)
                line = x == "@" || x == "#" ? line + (bin == X4 ? ids_of(8) + Args{x == "@" ? "s.dff" : "--threads=2"} : Args{x == "@" ? "s.dff" : "--threads=2", "C000", "C007", "o.dff"})
                                            : line + Args{x};
            const ts::Result r = ts::run(line, {d});
            const int status = kind != 'u' ? 0 : bin == X4 ? 213 : 278 & 0xFF;
            EXPECT_TRUE(r.status == status && r.err.empty() && ts::list_dir(d).size() == (kind != 'c' ? 2u : bin == X4 ? 6u : 3u) &&
                        (kind == 'c' ? r.out.empty() : kind == 's' ? r.out.starts_with("sampling frequency:\t2822400") : r.out.ends_with(THREADS_HELP)))
                << bin << " " << a[0] << ": " << r.status << r.err;
        }
    }
}
}  // namespace
