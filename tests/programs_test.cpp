// The five modes (sigmelt, the displays and copies of chanfork and chanfork2chx4) on malformed or truncated sources and in hostile
// surroundings: each ends with its status and report, never a crash, hang or sanitizer report, leaving outputs true to their headers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include "support.h"
namespace {
using lay::Bytes, lay::operator+;
using Args = std::vector<std::string>;
enum Mode { MELT, CF_SHOW, CF_COPY, X4_SHOW, X4_COPY, N = -1, X = -2 };  // N: a display's "not DSDIFF" (status 0), X: not run
using St = std::array<int, 5>;  // statuses by mode
const St OK{0, 0, 0, 0, 0}, BAD{134, N, 136, N, 108}, SHORT{0, 0, 228, 0, 177}, WSD{0, N, 136, N, 108}, NORATE{144, N, 136, N, 108};
Args outputs(int m, const std::string& d) {  // of the source d/src.dff; the displays write none
    if (m == CF_COPY) return {d + "/pair.wsd", d + "/pair.dff"};
    return m == X4_COPY ? Args{d + "/src_0.wsd", d + "/src_1.wsd", d + "/src_2.wsd", d + "/src_3.wsd"} : Args{d + "/out.wav"};
}
Args command(int m, const std::string& src, const std::string& d, const std::string& l, const std::string& r, const std::string& out) {
    const std::string cf = ts::bin("chanfork"), x4 = ts::bin("chanfork2chx4");
    if (m == CF_COPY) return out.empty() ? Args{cf, src, l, r, d + "/pair.wsd", l, r, d + "/pair.dff"} : Args{cf, src, l, r, out};
    if (m == MELT) return {ts::bin("sigmelt"), src, out.empty() ? d + "/out.wav" : out};
    return m == X4_COPY ? Args{x4, l, r, l, r, l, r, l, r, src} : Args{m == CF_SHOW ? cf : x4, src};
}
// The length a header declares when it is exactly the writer's layout for its own values, else 0. Kinds: RF64 'r',
// DSDIFF 'd', WSD with the size low half first 'w' or as one 64-bit value 'W'.
uint64_t declared(const Bytes& b, char kind) {
    const size_t h = kind == 'r' ? 84 : kind == 'd' ? 130 : 2048;
    if (b.size() < h) return 0;
    const auto be = [&](size_t at, int w) { return lay::get_be(b, at, w); };
    const uint32_t rate = static_cast<uint32_t>(be(kind == 'd' ? 44 : 36, 4)), play = static_cast<uint32_t>(be(32, 4));
    const uint64_t n = kind == 'r' ? 4 * lay::get_le(b, 36, 8) : kind == 'd' ? be(122, 8) : (kind == 'W' ? be(12, 8) : be(12, 4) | be(16, 4) << 32) - 2048;
    const Bytes want = kind == 'r' ? lay::rf64_header(n / 4) : kind == 'd' ? lay::dsdiff_pair_header(rate, n)
                                                                           : lay::wsd_header({0x11, n + 2048, play, rate, 2, 0x44000000}, kind == 'W');
    return Bytes(b.begin(), b.begin() + static_cast<long>(h)) == want ? h + n : 0;
}
void judge(int m, const ts::Result& r, int want, const std::string& src, const std::string& d, int channels) {
    SCOPED_TRACE(testing::Message() << "mode " << m << " on " << src << ": status " << r.status << ", " << r.err);
    ASSERT_FALSE(r.signal || r.timed_out || r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error") != std::string::npos);
    if (m == CF_SHOW || m == X4_SHOW) {  // status 0 unless the source cannot be opened
        EXPECT_TRUE(r.status == (want == 26 ? 26 : 0) && r.out.starts_with("sampling frequency:\t") == (want == 0) &&
                    r.err.ends_with("file " + src + " is not DSDIFF format.\n") == (want == N)); return; }
    ASSERT_EQ(r.status, want & 0xFF);
    EXPECT_NE(r.err.find(want == 136 || want == 108 ? "is not DSDIFF format.\n" : want == 122 ? " not found\n" : want == 0 ? ""
                         : ' ' + std::to_string(want == 177 ? 173 : want - 1) + ' '), std::string::npos);  // most statuses: line + 1
    const bool cut = want == 228 || want == 177, full = want == 241 || want == 246 || want == 183;
    for (const uint64_t consumed = cut ? std::stoull(r.err.substr(r.err.find(" at ") + 4)) : 0; const std::string& path : outputs(m, d)) {
        const char kind = m == MELT ? 'r' : path.ends_with(".dff") ? 'd' : m == X4_COPY ? 'W' : 'w';
        const uint64_t size = ts::read_file(path).size(), n = declared(ts::read_file(path), kind);  // a folder reads as empty
        if (cut) {  // the header of the whole copy, then every whole frame read
            EXPECT_TRUE(n >= size && size == (kind == 'd' ? 130 : 2048) + 2 * (consumed / channels)) << path << ": " << n << ", " << size;
        } else if (want == 0 || (full && m == MELT && size)) {  // whole, or (on a write error) cut to the frames it counts
            EXPECT_EQ(n, size) << path;
        } else if (!full) {  // refused: nothing left but the empty output of a group whose channel is missing
            EXPECT_TRUE(std::filesystem::is_regular_file(path) == ((want == 167 || want == 171) && path == outputs(m, d)[0]) && size == 0) << path;
        }
    }
}
// The modes at once (their outputs never meet), then their outputs are removed.
void run_modes(const std::string& src, const std::string& d, const St& st, const Args& ids = {"SLFT", "SRGT"}, int channels = 2,
               const ts::Options& o = {}, const std::string& out = "") {
    std::vector<ts::Child> c(5);
    for (int m = 0; m < 5; ++m) if (st[m] != X) c[m] = ts::start(command(m, src, d, ids[0], ids[1], out), o);
    for (int m = 0; m < 5; ++m) if (st[m] != X) judge(m, ts::finish(c[m]), st[m], src, d, channels);
    for (int m = 0; m < 5; ++m) for (const std::string& f : outputs(m, d)) unlink(f.c_str());
}
struct Row { Args gen; St st; Bytes raw = {}; Args ids = {"SLFT", "SRGT"}; int ch = 2; };
// Malformed sources (options to the generator of 2 channels of 4096 bytes, or "=" and bytes), then one cut at every
// chunk boundary and a byte either side: refused before its sound data, copied short within it.
TEST(Programs, MalformedAndTruncatedSources) {
    const Bytes snd(8192, 0x69), ok = lay::dsdiff(2822400, {"SLFT", "SRGT"}, snd), prop = lay::prop(2822400, {"SLFT", "SRGT"});
    const auto over = [](Bytes b, size_t at, const std::string& s) { std::copy(s.begin(), s.end(), b.begin() + static_cast<long>(at)); return b; };
    const auto xtra = [&](uint64_t size) { return lay::form(lay::str("XTRA") + lay::be(size, 8) + Bytes(8) + prop + lay::chunk("DSD ", snd)); };
    std::vector<Row> rows = {
        {{"--form-size=0xFFFFFFFFFFFFFFFF"}, OK}, {{"--form-size=20"}, BAD}, {{"--fver-size=0x8000000000000000"}, BAD}, {{"--fs-size=3"}, BAD},
        {{"--prop-size=0x7FFFFFFFFFFFFFFF"}, BAD}, {{"--chnl-size=0x100000"}, BAD}, {{"--chnl-count=11"}, BAD}, {{"--no-chnl"}, BAD}, {{"--dsti"}, BAD},
        {{"--no-fs"}, NORATE}, {{"--rate=0xFFFFFFFF"}, {144, 0, 0, 0, 0}}, {{"--chnl-count=10"}, OK, {}, {"C000", "C009"}, 10}, {{"--abss-size=9"}, BAD},
        {{"--channels=1"}, OK, {}, {"C000", "C000"}, 1}, {{"--cmpr-name=\\xe9t\\xe9"}, BAD}, {{"--cmpr-type=XXXX"}, BAD}, {{"--lsco-size=0"}, BAD},
        {{"--sound-id=\\x00SD"}, BAD}, {{"--data-size=0"}, OK}, {{"--data-size=8193", "--trailing-chunk=XTRA:100"}, OK}, {{"--header-only"}, SHORT},
        {{"--abss", "--lsco", "--cmpr-name=", "--unknown-chunk=XTRA:5", "--unknown-prop=XPRP:3", "--unknown-chunk=\\xff\\xfe\\x80\\x81:0"}, OK},
        {{"--data-size=0x8000000000000000"}, BAD}, {{"--data-size=16384"}, SHORT}, {{"--data-size=0x7FFFFFFFFFFFFFFF"}, SHORT}, {{"="}, BAD, Bytes(99)},
        {{"--ids=\\x00\\x00\\x00\\x00,\\xff\\xfe\\x80\\x81"}, OK, {}, {"", "\xff\xfe\x80\x81"}}, {{}, {0, 0, 167, 0, 122}, {}, {"NONE", "SRGT"}},
        {{}, {0, 0, 171, 0, 122}, {}, {"SLFT", "SRG"}}, {{"="}, BAD, over(ok, 0, "frm8")}, {{"="}, BAD, over(ok, 12, std::string("DSD\0", 4))},
        {{"="}, BAD, xtra(~0ull)}, {{"="}, BAD, xtra(uint64_t{1} << 63)}, {{"--format=wsd"}, WSD}, {{"--format=wsd", "--rate=0"}, NORATE},
        {{"--format=wsd", "--wsd-channels=0"}, BAD}, {{"--format=wsd", "--wsd-channels=11"}, BAD},  // WSD is the converter's alone
        {{"="}, BAD, over(lay::wsd_header({.file_size = 10240}, false) + snd, 0, "1biT")}};

    const std::string d = ts::tmpdir(), src = d + "/src.dff";
    ASSERT_TRUE(ts::gen({"--bytes=64", "--random=all:3", "--abss", "--lsco", "--unknown-chunk=XTRA:5", "--unknown-prop=XPRP:3", src}));
    const Bytes whole = ts::read_file(src);
    const size_t data = whole.size() - 128;  // where the sound bytes start
    std::vector<size_t> cuts = {1, 12, data - 1, data, data + 1, data + 17, whole.size() - 1, whole.size()};
    for (size_t at = 16, n = 0; at < data; at += std::string(whole.begin() + at, whole.begin() + at + 4) == "PROP" ? 16 : 12 + n + (n & 1))
        n = lay::get_be(whole, at + 4, 8), cuts.insert(cuts.end(), {at - 1, at, at + 1});  // top-level chunks and those within PROP
    for (size_t n : cuts) rows.push_back({{"="}, n < data ? BAD : n < whole.size() ? SHORT : OK, Bytes(whole.begin(), whole.begin() + static_cast<long>(n))});
    for (Row row : rows) {
        row.gen.insert(row.gen.begin(), {"--channels=2", "--bytes=4096", "--random=all:5"}), row.gen.push_back(src);
        if (row.gen[3] == "=") ts::write_file(src, row.raw);
        else ASSERT_TRUE(ts::gen(row.gen));
        run_modes(src, d, row.st, row.ids, row.ch);
    }
}

// Hostile surroundings, one row each; sources of 0.25 s (more than the 1 KiB file limit takes).
TEST(Programs, Surroundings) {
    const ts::Options nobody{"", -1, true, 30}, limit{"", 1024, false, 30};
    const struct { std::string what; St st; std::string out = ""; ts::Options o = {}; } rows[] = {  // `out`: of sigmelt and chanfork
        {"source folder", BAD}, {"source missing", {100, 26, 131, 26, 103}}, {"source loop", {100, 26, 131, 26, 103}}, {"source pipe", SHORT},
        {"source unreadable", {100, 26, 131, 26, 103}, "", nobody}, {"output folder missing", {367, X, 153, X, X}, "none/o.wsd"},
        {"output folder unwritable", {367, X, 153, X, 131}, "", nobody}, {"destination folder", {367, X, 123, X, 95}},
        {"disk full", {241, X, 246, X, 183}, "", limit}, {"/dev/full", {241, X, 123, X, X}, "/dev/full"}, {"the source itself", {161, X, 123, X, X}, "src.dff"}};
    for (const auto& row : rows) {
        const bool pipe = row.what == "source pipe";
        SCOPED_TRACE(row.what);
        const std::string &w = row.what, d = ts::tmpdir(), src = d + "/src.dff", out = row.out.empty() || row.out[0] == '/' ? row.out : d + "/" + row.out;
        ASSERT_TRUE(ts::gen({"--seconds=0.25", w.starts_with("source ") && w != "source unreadable" ? d + "/w.dff" : src}));
        if (w == "source loop" ? symlink("src.dff", src.c_str()) : w == "source folder" ? mkdir(src.c_str(), 0755) : 0) ADD_FAILURE();
        if (w == "source unreadable" || w == "output folder unwritable") chmod(w[0] == 's' ? src.c_str() : d.c_str(), w[0] == 's' ? 0 : 0555);
        if (w == "destination folder") for (const char* name : {"/out.wav", "/pair.wsd", "/src_0.wsd"}) mkdir((d + name).c_str(), 0755);
        const Bytes before = ts::read_file(pipe ? d + "/w.dff" : src);
        for (int m = 0; m < (pipe ? 5 : 1); ++m) {  // a pipe: the header and 1000 sound bytes, to one mode at a time
            St one = row.st;
            if (pipe) one.fill(X), one[m] = row.st[m], mkfifo(src.c_str(), 0644);
            ts::Child c = ts::start({"/bin/sh", "-c", pipe ? "head -c " + std::to_string(before.size() - 175400) + " w.dff > src.dff" : ":"}, {d, -1, false, 30});
            run_modes(src, d, one, {"SLFT", "SRGT"}, 2, row.o, out), ts::finish(c);
        }
        EXPECT_TRUE(pipe || ts::read_file(src) == before);
    }
}

}  // namespace
