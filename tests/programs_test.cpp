// The five modes (sigmelt, the displays and copies of chanfork and chanfork2chx4) on malformed or truncated sources and in hostile
// surroundings: each ends with its status and report, never a crash, hang or sanitizer report, leaving outputs true to their headers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include "support.h"
namespace {
using Args = std::vector<std::string>;
enum Mode { MELT, CF_SHOW, CF_COPY, X4_SHOW, X4_COPY, X = -2 };  // X: not run
using St = std::array<int, 5>;  // statuses by mode: a display ends as its program's copy does for a source it cannot open or read
const St OK{0, 0, 0, 0, 0}, BAD{134, 136, 136, 108, 108}, SHORT{0, 0, 228, 0, 177}, GONE{100, 131, 131, 103, 103}, CORRUPT{251, 0, 228, 0, 177};
const Args OUTPUTS[] = {{"out.wav"}, {}, {"pair.wsd", "pair.dff"}, {}, {"src_0.wsd", "src_1.wsd", "src_2.wsd", "src_3.wsd"}};  // by mode, beside src.dff
Args command(int m, const std::string& src, const std::string& d, const std::string& out = "", const Args& ids = {"SLFT", "SRGT"}) {  // `out`: the first
    const std::string &l = ids[0], &r = ids[1], cf = ts::bin("chanfork"), x4 = ts::bin("chanfork2chx4"), o = out.empty() ? d + "/pair.wsd" : out;
    return std::vector<Args>{{ts::bin("sigmelt"), src, out.empty() ? d + "/out.wav" : out}, {cf, src}, {cf, src, l, r, o, l, r, d + "/pair.dff"}, {x4, src},
                             {x4, l, r, l, r, l, r, l, r, src}}[m];
}
// The length declared by a header that is the writer's layout for its own values, else 0 (RF64, DSDIFF, WSD: size in halves, one value).
uint64_t declared(const lay::Bytes& b, char kind) {
    const size_t h = kind == 'r' ? 84 : kind == 'd' ? 130 : 2048;
    const auto be = [&](size_t at, int w) { return b.size() < h ? 0 : kind == 'r' ? lay::get_le(b, at, w) : lay::get_be(b, at, w); };
    const uint32_t rate = static_cast<uint32_t>(be(kind == 'd' ? 44 : 36, 4)), play = static_cast<uint32_t>(be(32, 4));
    const uint64_t n = kind == 'r' ? 4 * be(36, 8) : kind == 'd' ? be(122, 8) : (kind == 'W' ? be(12, 8) : be(12, 4) | be(16, 4) << 32) - 2048;
    const lay::Bytes want = kind == 'r' ? lay::rf64_header(n / 4) : kind == 'd' ? lay::dsdiff_pair_header(rate, n)
                                                                           : lay::wsd_header({0x11, n + 2048, play, rate, 2, 0x44000000}, kind == 'W');
    return b.size() >= h && std::equal(want.begin(), want.end(), b.begin()) ? h + n : 0;
}
void judge(int m, const ts::Result& r, int want, const std::string& row, const std::string& d) {
    SCOPED_TRACE(testing::Message() << "mode " << m << ", " << row << ": status " << r.status << ", " << r.err);
    ASSERT_FALSE(r.signal || r.timed_out || r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error") != std::string::npos);
    ASSERT_EQ(r.status, want & 0xFF);
    EXPECT_EQ(r.out.starts_with("sampling frequency:\t"), (m == CF_SHOW || m == X4_SHOW) && want == 0);
    EXPECT_NE(r.err.find(want == 136 || want == 108 ? "is not DSDIFF format.\n" : want == 122 ? " not found\n" : want == 0 ? ""
                         : ' ' + std::to_string(want == 177 ? 173 : want - 1) + ' '), std::string::npos);  // most statuses: line + 1
    const bool cut = want == 228 || want == 177 || want == 251, full = want == 241 || want == 246 || want == 183;
    // A corrupt DST frame (2 channels at 2.8224 MHz): the outputs hold the whole frames before it, 588 wave frames or 9408 bytes each.
    const size_t dst = r.err.find("\nERROR dst "), frame = dst == std::string::npos ? 0 : std::stoull(r.err.substr(r.err.find("frame ", dst) + 6));
    const uint64_t consumed = want == 251 ? frame * 588 * 4 : cut ? std::stoull(r.err.substr(r.err.find(" at ") + 4)) : 0;
    EXPECT_TRUE(dst == std::string::npos || want == 251 || consumed == frame * 9408) << consumed;
    for (const std::string& name : OUTPUTS[m]) {
        const auto b = ts::read_file(d + "/" + name);  // a folder reads as empty
        const uint64_t n = declared(b, m == MELT ? 'r' : name.ends_with(".dff") ? 'd' : m == X4_COPY ? 'W' : 'w');
        // Short: each frame read, under a header rewritten to count them. Whole (or cut by a write error): as declared, unless not even
        // the header went out. Refused: none.
        const bool whole = want == 0 || (full && !b.empty());
        EXPECT_TRUE(cut ? n == b.size() && b.size() == (m == MELT ? 84 : name.ends_with(".dff") ? 130 : 2048) + consumed : whole ? n == b.size() : full ||
                    (!std::filesystem::is_regular_file(d + "/" + name) && b.empty())) << name;
    }
}
struct Row { Args gen; St st; Args ids = {"SLFT", "SRGT"}; };
void run_rows(std::vector<Row>& rows) {  // the generator's file of each row through the five modes
    for (Row& row : rows) {
        const std::string d = ts::tmpdir(), src = d + "/src.dff";
        row.gen.insert(row.gen.begin(), {"--channels=2", "--bytes=4096", "--random=all:5"}), row.gen.push_back(src);
        ASSERT_TRUE(ts::gen(row.gen));
        std::vector<ts::Child> c(5);  // the modes at once: their outputs never meet
        for (int m = 0; m < 5; ++m) c[m] = ts::start(command(m, src, d, "", row.ids));
        for (int m = 0; m < 5; ++m) judge(m, ts::finish(c[m]), row.st[m], row.gen[row.gen.size() - 2], d);
    }
}
// One malformed source per outcome (each refusal of the reader is the format tests' business), then a cut at each chunk boundary +-1.
// Two tests, each well within its minute under the sanitizers.
void sources(bool truncated) {
    std::vector<Row> rows = {  // first: every optional chunk, odd ones padded, odd identifiers
        {{"--form-size=0xFFFFFFFFFFFFFFFF", "--abss", "--lsco", "--cmpr-name=", "--unknown-chunk=XTRA:5", "--unknown-prop=XPRP:3", "--data-size=8193",
          "--trailing-chunk=XTRA:100", "--ids=\\x00\\x00\\x00\\x00,\\xff\\xfe\\x80\\x81"}, OK, {"", "\xff\xfe\x80\x81"}}, {{"--data-size=0"}, OK},
        {{"--chnl-count=10"}, OK, {"C000", "C009"}}, {{"--channels=1"}, OK, {"C000", "C000"}}, {{"--rate=0xFFFFFFFF"}, {144, 0, 0, 0, 0}},
        {{"--no-fs"}, {144, 136, 136, 108, 108}}, {{"--no-chnl"}, BAD}, {{"--chnl-count=11"}, BAD}, {{"--data-size=0x8000000000000000"}, BAD},
        {{"--data-size=0x7FFFFFFFFFFFFFFF"}, SHORT}, {{}, {0, 0, 167, 0, 122}, {"NONE", "SRGT"}}, {{}, {0, 0, 171, 0, 122}, {"SLFT", "SRG"}},
        {{"--form-size=20"}, BAD}, {{"--format=wsd"}, {0, 136, 136, 108, 108}}, {{"--format=wsd", "--wsd-channels=11"}, BAD},  // WSD is the converter's alone
        {{"--format=dsf", "--channels=6"}, OK, {"MLFT", "LFE"}}, {{"--format=dsf", "--dsf-field=channel_type:3"}, BAD},  // DSF: one block set,
        {{"--format=dsf", "--truncate=5188"}, SHORT}};  // cut in the right channel's block
    if (truncated) rows.clear();
    Args cut = {"--bytes=64", "--abss", "--lsco", "--unknown-chunk=XTRA:5", "--unknown-prop=XPRP:3", ts::tmpdir() + "/w.dff"};
    ASSERT_TRUE(ts::gen(cut));
    const auto whole = ts::read_file(cut.back());
    const size_t data = whole.size() - 128;  // where the sound bytes start
    std::vector<size_t> cuts = {1, 12, data - 1, data, data + 1, data + 17, whole.size() - 1, whole.size()};
    for (size_t at = 16, n = 0; at < data; at += std::string(whole.begin() + at, whole.begin() + at + 4) == "PROP" ? 16 : 12 + n + (n & 1))
        n = lay::get_be(whole, at + 4, 8), cuts.insert(cuts.end(), {at - 1, at, at + 1});  // top-level chunks and those within PROP
    for (size_t n : cuts) if (truncated) cut.back() = "--truncate=" + std::to_string(n), rows.push_back({cut, n < data ? BAD : n < whole.size() ? SHORT : OK});
    run_rows(rows);
}
// DST: each corrupt frame at frame 2 of 4, too few DSTF chunks for FRTE, a file cut inside frame 2, the optional chunks.
TEST(Programs, CorruptDstFrames) {
    std::vector<Row> rows = {{{"--dst", "--bytes=18816", "--frte-count=5"}, CORRUPT}, {{"--dst=plain", "--bytes=18816", "--truncate=19088"}, CORRUPT},
                             {{"--dst=mix", "--bytes=18816", "--dstc", "--dsti", "--dsti-after", "--dst-subchunk=ABCD:5"}, OK}};
    for (const std::string kind : {"plain-reserved", "segmented", "filter-method", "table-method", "short-coded", "coefficient", "probability",
                                   "reserved", "cut", "overrun", "huge"})
        rows.push_back({{"--dst=mix", "--bytes=18816", "--dst-corrupt=" + kind + ":2"}, CORRUPT});
    run_rows(rows);
}
TEST(Programs, MalformedSources) { sources(false); }
TEST(Programs, TruncatedSources) { sources(true); }
// Hostile surroundings: a shell command's beside the source (0.25 s, over the 1 KiB file limit), a full disk, /dev/full, the source as output.
TEST(Programs, Surroundings) {
    const ts::Options nobody{"", -1, true, 30}, limit{"", 1024, false, 30};
    const struct { std::string setup; St st; std::string out = "", feed = ""; ts::Options o = {}; } rows[] = {  // `out`: of sigmelt, chanfork
        {"rm src.dff; mkdir src.dff", BAD}, {"rm src.dff", GONE}, {"rm src.dff; ln -s src.dff src.dff", GONE}, {"chmod 0 src.dff", GONE, "", "", nobody},
        {"mv src.dff w.dff; mkfifo src.dff", SHORT, "", "head -c $(($(wc -c < w.dff) - 175400)) w.dff > src.dff"},  // the header, 1000 sound bytes
        {"", {367, X, 153, X, X}, "none/o.wsd"}, {"chmod 555 .", {367, X, 153, X, 131}, "", "", nobody}, {"", {241, X, 246, X, 183}, "", "", limit},
        {"mkdir out.wav pair.wsd src_0.wsd", {367, X, 123, X, 95}}, {"", {241, X, 123, X, X}, "/dev/full"}, {"", {161, X, 123, X, X}, "src.dff"}};
    for (const auto& [setup, st, o, feed, opt] : rows) {
        const std::string d = ts::tmpdir(), src = d + "/src.dff", out = o.empty() || o[0] == '/' ? o : d + "/" + o;
        ASSERT_TRUE(ts::gen({"--seconds=0.25", src}));
        const auto before = ts::read_file(src);
        ASSERT_EQ(ts::run({"/bin/sh", "-c", setup}, {d, -1, false, 30}).status, 0);
        for (int m = 0; m < 5; ++m) {  // one at a time: a pipe is filled for each
            ts::Child c = ts::start({"/bin/sh", "-c", feed}, {d, -1, false, 30});
            if (st[m] != X) judge(m, ts::run(command(m, src, d, out), opt), st[m], setup + " " + out, d);
            ts::finish(c);
        }
        EXPECT_TRUE(!setup.empty() || ts::read_file(src) == before);  // not even when it is the output
    }
}
}  // namespace
