// The format library's primitives, header readers and writers and frame readers against the builders of layouts.h.
#include <gmock/gmock.h>
#include <unistd.h>
#include "dsdiff.h"
#include "dsf.h"
#include "dst.h"
#include "dstreader.h"
#include "readwrite.h"
#include "tags.h"
#include "support.h"
#include "wav.h"
#include "wsd.h"
using namespace lay;
using Args = std::vector<std::string>;
Args operator+(Args a, const Args& b) { a.insert(a.end(), b.begin(), b.end()); return a; }
using testing::internal::CaptureStderr, testing::internal::GetCapturedStderr, testing::ExitedWithCode, testing::HasSubstr;
namespace {
FILE* mem(const Bytes& b) { FILE* f = std::tmpfile(); std::fwrite((b + Bytes{0}).data(), 1, b.size(), f); std::rewind(f); return f; }
Bytes written;
FILE* budget(size_t n) {  // unbuffered, over `written`; its writes fail after n bytes
    FILE* f = fmemopen((written.assign(n + 1, 0xAA), written.data()), n, "r+");
    return setvbuf(f, nullptr, _IONBF, 0), f;
}
Bytes with(Bytes h, size_t at, const Bytes& v) { for (uint8_t b : v) h.at(at++) = b; return h; }
TEST(Primitives, LittleEndianReadersNarrowWritersShortTransfers) {  // the others are behind the header tests below
    FILE *f = mem(le(0x85868788, 4) + le(0x8182838485868788, 8) + Bytes{1}), *g = budget(6);  // a short read stores nothing
    int32_t i = 7;
    uint64_t l = 7;
    EXPECT_TRUE(read32bitLEint(f, &i) == -1 && read64bitLElong(f, &l) == -1 && !read64bitLElong(f, &l) && i == int32_t(0x85868788) &&
                l == 0x8182838485868788);
    EXPECT_TRUE(write16bitLEint(g, 0x1234) == -1 && write24bitLEint(g, -2) == -1 && !write32bitBEint(g, 0x11223344) &&
                written == (Bytes{0x34, 0x12, 0xFE, 0xFF, 0xFF, 0x11, 0xAA}));  // up to the failing byte
    std::fclose(f);
    std::fclose(g);
}
Bytes H(const char* id, uint64_t size) { return str(id) + be(size, 8); }
// Accepted, with every property: pads not zero, CMPR names padded or not, lower case and short channel names.
const Bytes T = form(H("COMT", 5) + Bytes{1, 2, 3, 4, 5, 0xEE} + chunk("FVER", be(0x01050000, 4)) +
                     chunk("PROP", str("SND ") + chunk("CMPR", str("DST ") + Bytes{3} + str("DSD")) + chunk("FS  ", be(2822400, 4)) +
                                   chnl({"slft", "SRGT", "A", "B  "}) + chunk("ABSS", Bytes(8, 1)) + H("EMID", 3) + Bytes{7, 8, 9, 0xEE} +
                                   chunk("LSCO", Bytes(2, 0)) + cmpr()) + chunk("DSD ", Bytes(6, 1))) + chunk("DIIN", Bytes(3, 1));
// T up to `off` bytes past the start of its last chunk `id`, or T with `patch` put there.
Bytes at(const char* id, long off, const Bytes& patch) {
    const long pos = std::find_end(T.begin(), T.end(), id, id + 4) - T.begin() + off;
    return patch.empty() ? Bytes(T.begin(), T.begin() + pos) : with(T, size_t(pos), patch);
}
std::string rep(int line) { return line > 1 ? ts::report("dsdiff", line, "\n") : ""; }
std::string read_dsd(const Bytes& b, int reporting) {  // result and messages; a walk that loops ends at the alarm
    DsdiffInfo d{};
    d.file = mem(b);
    dsdiff_reporting = reporting, CaptureStderr(), alarm(10);
    const std::string r = std::to_string(readDsdHeader(&d)) + " ";
    return alarm(0), std::fclose(d.file), r + GetCapturedStderr();
}
TEST(ReadDsdHeader, AcceptedAndRefusedFilesReportedOnlyInReportingModeHugeSizes) {
    constexpr int F = 1;  // F: "fread() failed." first; 38, 42: read_and_compare_4bytes reports first; 237 only if pads count
    const struct { int line, pre; const char* id; long off; Bytes patch = {}; } rows[] = {
        {57, 42, "FRM8", 0, {'R'}}, {61, F, "FRM8", 11}, {66, 38, "FRM8", 14}, {75, 0, "FVER", 2}, {79, F, "FVER", 11},
        {86, F, "FVER", 14}, {90, 0, "FVER", 11, {8}}, {97, 42, "SND ", 2, {'X'}}, {106, 0, "FS  ", 3}, {110, F, "FS  ", 8},
        {116, F, "FS  ", 15}, {120, 0, "FS  ", 11, {8}}, {126, F, "CHNL", 13}, {130, 0, "CHNL", 13, {11}}, {136, 0, "CHNL", 20},
        {142, 0, "CHNL", 11, {17}}, {149, 0, "CMPR", 14}, {154, 0, "CMPR", 12, {'d'}}, {158, 0, "CMPR", 16}, {163, 0, "CMPR", 20},
        {163, 0, "CMPR", 20, {0x80}}, {169, 0, "CMPR", 31}, {180, F, "ABSS", 13}, {186, F, "ABSS", 17}, {190, 0, "ABSS", 11, {10}},
        {197, F, "LSCO", 13}, {201, 0, "LSCO", 11, {4}}, {216, 0, "DSD ", 2, {'T'}}, {237, 0, "DSD ", 2, {'T', 'I'}},
        {237, 0, "DSD ", 0, {'d'}}, {79, 0, "DSD ", 4, be(1ull << 63, 8)}, {79, 0, "COMT", 4, be(~0ull >> 1, 8)},
        {110, 0, "EMID", 4, be(~11ull, 8)}, {110, 0, "EMID", 4, be(~0ull >> 1, 8)}, {0, 0, "DSD ", 4, be(~0ull >> 1, 8)}};
    for (const auto& row : rows) {
        const std::string quiet = (row.line ? "-1 " : "0 ") + std::string(row.pre == F ? "fread() failed.\n" : "");
        EXPECT_EQ(read_dsd(at(row.id, row.off, row.patch), 1), quiet + rep(row.pre) + rep(row.line)) << row.line;
        EXPECT_EQ(read_dsd(at(row.id, row.off, row.patch), 0), quiet) << row.line;
    }
}
TEST(ReadDsdHeader, DstSoundChunkFrameCountDecodedLengthStreamAtTheFirstFrame) {  // a DSTI before the sound is passed over
    const Bytes frte = chunk("FRTE", be(3, 4) + be(75, 2)), frames = chunk("DSTF", Bytes(5, 1));
    const struct { uint32_t rate; Bytes sound; int line; } rows[] = {
        {2822400, frte + frames, 0}, {11289600, frte, 0}, {2822400, Bytes(17, 0), 216}, {2822400, chunk("FRTX", be(3, 4) + be(75, 2)), 216},
        {2822400, chunk("FRTE", be(3, 4) + be(75, 4)), 216}, {2822400, chunk("FRTE", be(3, 4) + be(74, 2)), 217}, {44100, frte, 218}};
    for (const auto& r : rows) {
        const Bytes file = form(prop(r.rate, {"L", "R"}) + chunk("DSTI", Bytes(12, 0)) + chunk("DST ", r.sound));
        DsdiffInfo d{};
        d.file = mem(file), dsdiff_reporting = 1, CaptureStderr();
        const int result = readDsdHeader(&d);
        EXPECT_EQ(GetCapturedStderr(), rep(r.line)) << r.line;
        EXPECT_TRUE(r.line ? result == -1 : result == 0 && d.compression == DSDIFF_DST && d.frame_count == 3 && d.data_size == r.rate / 600 * 6 &&
                    d.dst_remaining == r.sound.size() - 18 && ftello(d.file) == off_t(file.size() - r.sound.size() + 18)) << r.line;
        std::fclose(d.file);
    }
}
const WsdFields W{0x11, 0x500000BE8, 0x01020304, 5644800, 2, 0x44000000, 0xA1A2A3A4, 0xB1B2B3B4B5B6B7B8, 0xC1C2C3C4C5C6C7C8};
TEST(ReadWsdHeader, ChecksOnlyMagicAndChannelCountTakesTheLowSizeHalfFirst) {
    const Bytes good = with(with(with(wsd_header(W, false), 4, {'x', 0, 0, 0, 0xFF}), 0x14, {7}), 0x2C, {10});  // all accepted
    struct Row { Bytes bytes; int result; off_t pos; uint64_t size; };
    std::vector<Row> rows = {{good, 0, 2048, W.file_size}, {wsd_header(W, true), 0, 2048, W.file_size << 32 | W.file_size >> 32},
                             {with(good, 0x2C, {11}), -1, 0x2D, 0}, {with(good, 0, str("FRM8")), -1, 4, 0}, {{}, -1, -1, 0}};
    for (off_t n = 0; n < 0x34; ++n) rows.push_back({Bytes(good.begin(), good.begin() + n), -1, n, 0});  // every cut fails
    CaptureStderr();  // the short reads print
    for (const auto& row : rows) {  // at -1 a pipe, where the seek to the sound fails
        WsdInfo w{row.pos < 0 ? popen("printf 1bit; head -c 60 /dev/zero", "r") : mem(row.bytes), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_TRUE(readWsdHeader(&w) == row.result && ftello(w.file) == row.pos && (row.result || (w.file_size == row.size &&
                    w.version == row.bytes[8] && w.sample_rate == W.rate && w.channel_count == row.bytes[0x2C]))) << row.pos;
        row.pos < 0 ? pclose(w.file) : std::fclose(w.file);
    }
    GetCapturedStderr();
}
const uint64_t FRAMES = (uint64_t(1) << 40) + 3, SIZE = 0x0102030405060708;
Bytes header(int w) { return w == 3 ? rf64_header(FRAMES) : w ? wsd_header(W, w == 2) : dsdiff_pair_header(5644800, SIZE); }
// Writer w (0 DSDIFF, 1 WSD low size half first, 2 WSD one 64-bit size, 3 RF64) into n bytes, standing at their end.
[[noreturn]] void write_into(int w, int n, bool seekable = true) {
    FILE* f = seekable ? budget(size_t(n)) : popen("cat >/dev/null", "w");
    DsdiffInfo d{};
    d.file = f, d.data_size = SIZE, d.sample_rate = 5644800;
    WsdInfo i{f, W.version, W.file_size, 7, 9, W.play_time, W.rate, W.channels, W.assignment, W.extra_38, W.extra_40, W.extra_48};
    wsd_size_order = w == 2 ? WSD_SIZE_BE64 : WSD_SIZE_LOW_HALF_FIRST;
    const int64_t end = (std::fseek(f, 0, SEEK_END), ftello(f)), size = int64_t(header(w).size());
    const int r = w == 3 ? writeWavHeader(f, FRAMES) : w ? writeWsdHeader(&i) : dsdiffWriteHeader(&d);
    const bool only_header = r == (w == 3 ? -1 : 0) && ftello(f) == size && written == header(w) + Bytes(size_t(end - size + 1), 0xAA);
    std::exit(w == 3 && r == 0 ? 0 : only_header ? 1 : 98);  // 0 after a wav failure
}
TEST(HeaderWritersDeathTest, ExactBytesOverTheStartEachFieldsFailureWithItsLineAndStatusAsTheGeneratorsDefaults) {
    const std::vector<std::vector<int>> lines = {{275, 275, 275, 275, 275, 275},  // the fields' reports, from the zero writer's 155 on
        {178, 155, 188, 155, 196, 202, 209, 216, 155, 227, 234, 155, 244, 155, 252, 155, 262, 155, 272, 277, 155},
        {178, 155, 188, 155, 196, 209, 216, 155, 227, 234, 155, 244, 155, 252, 155, 262, 155, 272, 277, 155},
        {195, 202, 211, 217, 223, 229, 234, 239, 243, 248}};
    for (int w : {0, 1, 2, 3}) {  // status: line + 1, of which the process keeps 8 bits; the wav writer returns
        EXPECT_EXIT(write_into(w, int(header(w).size()) + 5), ExitedWithCode(1), testing::Eq("")) << w;
        std::vector<int> got;
        auto check = [&](auto layout) {
            for (const auto& fl : layout) {
                for (const Report& r = fl.report; int n : {fl.offset, fl.offset + fl.width - 1})  // the field's first and last byte
                    EXPECT_EXIT(write_into(w, n), ExitedWithCode(w == 3 ? 0 : (r.line + 1) & 255), HasSubstr(ts::report(r.module, r.line, r.text)))
                        << w << " " << fl.name << " at " << n;
                got.push_back(fl.report.line);
            }
        };
        w == 3 ? check(wav_layout()) : w ? check(wsd_layout(w - 1)) : check(dsdiff_layout());
        EXPECT_EQ(got, lines[w]);
    }
    EXPECT_EXIT(write_into(1, 0, false), ExitedWithCode(171), HasSubstr(ts::report("wsd", 169)));  // failing seeks
    EXPECT_EXIT(write_into(3, 0, false), ExitedWithCode(191), HasSubstr(ts::report("wav", 189)));
    const std::string a = ts::tmpdir() + "/a";  // made after the children, whose exit removes the folders made before
    const Bytes idle(2 * 352800, 0x69);  // the generator's defaults: one second of the idle pattern after each header
    EXPECT_TRUE(ts::gen({a + ".dff"}) && ts::gen({a + ".wsd"}) && ts::read_file(a + ".dff") == dsdiff(2822400, {"SLFT", "SRGT"}, idle) &&
                ts::read_file(a + ".wsd") == wsd_header({0x11, 2048 + idle.size(), 0, 2822400, 2, 0x44000000}, false) + idle);
}
TEST(FrameReaders, PairsRoundedDownToGroupsOf8ALastGroupFilledNothingOutsideThePreconditions) {
    const struct { bool wsd; int ch, n, left, right, size, got; } rows[] = {  // frame i of channel c holds 16 c + i
        {0, 10, 8, 9, 1, 16, 16}, {0, 2, 100, 0, 1, 100, 96}, {0, 2, 2, 0, 1, 100, 8}, {0, 3, 4, 2, 2, 24, 8}, {0, 1, 4, 0, 0, 8, 8},
        {0, 2, 16, 0, 1, 7, 0}, {1, 2, 2, 0, 1, 100, 8}, {1, 10, 60, 0, 1, 100, 96}, {1, 1, 8, 0, 1, 8, 0}, {0, 0, 8, 0, 1, 8, 0},
        {0, 2, 8, 10, 1, 16, 0}, {0, 2, 8, 0, 10, 16, 0}, {0, 2, 8, 0, 1, -8, 0}};  // from {1, 1, ...} on: nothing read
    for (const auto& r : rows) {
        Bytes data, out(130, 0xAA);
        for (int i = 0; i < r.n * r.ch; ++i) data.push_back(uint8_t(16 * (i % r.ch) + i / r.ch));
        FILE* f = mem(r.wsd ? wsd_header({.channels = uint8_t(r.ch)}, false) + data
                            : dsdiff(2822400, std::vector<std::string>(size_t(r.ch), "C001"), data));
        DsdiffInfo d{};
        d.file = f, d.left_channel = uint16_t(r.left), d.right_channel = uint16_t(r.right);
        WsdInfo w{f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        ASSERT_TRUE((r.wsd ? readWsdHeader(&w) : readDsdHeader(&d)) == 0 &&
                    (r.wsd || (d.sample_rate == 2822400 && d.version == 0x01050000)));
        ASSERT_EQ(r.wsd ? readWsdData(&w, out.data(), r.size) : readDsdData(&d, out.data(), r.size), r.got) << r.ch << "x" << r.n;
        for (int k = 0; k <= r.got; ++k)
            EXPECT_EQ(out[k], k == r.got ? 0xAA : k / 2 >= r.n ? 0x96 : 16 * (k % 2 ? r.right : r.left) + k / 2) << k;
        std::fclose(f);
    }
}
// Stereo, 10000 bytes a channel: block sets at 92, 8284 and 16476 (channel 1's last 1808 sound bytes at 20572). Accepted files hand out the sound
// that the generator's DSDIFF file of the same arguments holds (the first `bytes` of each channel), also when read in odd pieces.
TEST(ReadDsfHeader, RefusalsWithTheirReportsAndTheSoundAsDsdiffHasIt) {
    const std::string d = ts::tmpdir();
    const struct { Args gen; int report; std::string text; size_t bytes = 10000; } rows[] = {
        {{"--dsf-field=dsd_id:dsd"}, 0, ""}, {{"--truncate=91"}, 1, "file ends inside the header, after 91 bytes"},
        {{"--dsf-field=dsd_size:0x100000000000001C"}, 2, "\"DSD \" chunk size 1152921504606847004, not 28"},
        {{"--dsf-field=fmt_id:FMT"}, 3, "no \"fmt \" chunk at offset 28"}, {{"--dsf-field=fmt_size:51"}, 4, "\"fmt \" chunk size 51, not 52"},
        {{"--dsf-field=version:2"}, 5, "format version 2, not 1"}, {{"--dsf-field=format_id:1"}, 6, "format identifier 1, not 0 (raw DSD)"},
        {{"--dsf-field=channel_type:0"}, 7, "channel type 0, not 1 to 7"}, {{"--dsf-field=channel_type:8"}, 7, "channel type 8, not 1 to 7"},
        {{"--dsf-field=channel_type:3"}, 8, "channel count 2 does not match the channel type"},
        {{"--channels=6", "--dsf-field=channel_type:6"}, 8, "channel count 6 does not match the channel type"},
        {{"--dsf-field=rate:2822401"}, 9, "sampling rate 2822401Hz, not 2822400, 5644800 or 11289600"},
        {{"--dsf-field=bits:0"}, 10, "bits per sample 0, not 1 or 8"}, {{"--dsf-field=block:2048"}, 11, "block size per channel 2048, not 4096"},
        {{"--dsf-field=data_id:DATA"}, 12, "no \"data\" chunk at offset 80"}, {{"--dsf-field=data_size:11"}, 13, "\"data\" chunk size 11 cannot hold the sample count"},
        {{"--dsf-field=data_size:22299"}, 13, "\"data\" chunk size 22299 cannot hold the sample count"}, {{"--dsf-field=data_size:22300"}, -1, ""},
        {{"--dsf-field=samples:0xFFFFFFFFFFFFFFFF"}, 13, "\"data\" chunk size 24588 cannot hold the sample count"},
        {{"--dsf-field=metadata:91"}, 14, "metadata offset 91 lies inside the sound"}, {{"--dsf-field=metadata:22379"}, 14, "metadata offset 22379 lies inside the sound"},
        {{"--dsf-field=metadata:22380"}, -1, ""}, {{"--dsf-field=samples:0"}, -1, "", 0}, {{"--dsf-field=samples:79990"}, -1, "", 9999},
        {{"--dsf-field=bits:8", "--dsf-field=reserved:7", "--dsf-field=file_size:1"}, -1, ""}, {{"--truncate=12479"}, -1, "", 4195},
        {{"--channels=1", "--bytes=4096"}, -1, "", 4096}, {{"--channels=3", "--header-only"}, -1, "", 0}, {{"--channels=4", "--dsf-field=channel_type:5"}, -1, ""},
        {{"--channels=5", "--truncate=8284"}, -1, "", 0}, {{"--channels=6", "--title=T"}, -1, ""}, {{"--channels=1", "--bytes=512", "--title=T"}, -1, "", 512}, {{"--rate=11289600", "--channels=5", "--bytes=12289"}, -1, "", 12289}};
    for (const auto& r : rows) {
        ASSERT_TRUE(ts::gen(Args{"--bytes=10000", "--random=all:9"} + r.gen + Args{d + "/s.dsf"}));
        DsfInfo* info = new DsfInfo{};
        info->file = std::fopen((d + "/s.dsf").c_str(), "rb");
        dsf_reporting = 1, CaptureStderr();
        const int result = readDsfHeader(info);
        EXPECT_EQ(std::tuple(result, dsf_last_report, GetCapturedStderr()), std::tuple(r.report < 0 ? 0 : -1, std::max(r.report, 0),
                  r.report > 0 ? ts::report("dsf", r.report, r.text + "\n") : "")) << r.gen[0];
        Args dff = {"--random=all:9"};
        for (const std::string& a : r.gen) if (a.starts_with("--channels") || a.starts_with("--rate")) dff.push_back(a);
        ASSERT_TRUE(result || ts::gen(dff + Args{"--bytes=" + std::to_string(r.bytes), d + "/s.dff"}));
        const Bytes dsdiff = ts::read_file(d + "/s.dff");
        for (Bytes sound, piece(1001); result == 0;) {  // all of it, and nothing more
            const size_t n = readDsfSound(info, piece.data(), piece.size());
            sound.insert(sound.end(), piece.begin(), piece.begin() + n);
            if (n < piece.size()) { EXPECT_TRUE(readDsfSound(info, piece.data(), 1) == 0 && std::equal(sound.rbegin(), sound.rend(), dsdiff.rbegin()) &&
                                                sound.size() == r.bytes * info->channel_count) << r.gen[0]; break; }
        }
        std::fclose(info->file), delete info;
    }
}
// ID3v2 text frames by hand (the generator writes only 2.3 in UTF-16 and 2.4 in UTF-8): 2.2's short names, a whole 2.3 tag and a
// 2.4 frame unsynchronised (a zero after every FF), an extended header, 2.4's data length, frames passed over, sizes that do not fit.
TEST(ReadId3Tag, TextFramesOfEachVersionAsUtf8) {
    const auto sync = [](uint64_t n) { return Bytes{uint8_t(n >> 21 & 127), uint8_t(n >> 14 & 127), uint8_t(n >> 7 & 127), uint8_t(n & 127)}; };
    const auto unsync = [](const Bytes& b) { Bytes o; for (uint8_t x : b) { o.push_back(x); if (x == 0xFF) o.push_back(0); } return o; };
    const auto tag = [&](uint8_t major, uint8_t flags, const Bytes& frames) { return str("ID3") + Bytes{major, 0, flags} + sync(frames.size()) + frames; };
    const auto f2 = [](const char* id, const Bytes& b) { return str(id) + be(b.size(), 3) + b; };
    const auto f3 = [](const char* id, const Bytes& b, uint8_t fl = 0) { return str(id) + be(b.size(), 4) + Bytes{0, fl} + b; };
    const auto f4 = [&](const char* id, const Bytes& b, uint8_t fl = 0) { return str(id) + sync(b.size()) + Bytes{0, fl} + b; };
    const Bytes ff = {1, 0xFE, 0xFF, 0, 0xFF, 0, 'x', 0xD8, 0x34, 0xDD, 0x1E, 0xDC, 0, 0, 0, 'z'};  // UTF-16BE: U+00FF, x, U+1D11E, half a pair
    const struct { Bytes tag; std::string fields; } rows[] = {
        {tag(2, 0, f2("TT2", Bytes{0} + str("Caf\xe9")) + f2("TP1", str("\3A") + Bytes{0} + str("B")) + f2("TAL", str("\3Al")) + f2("TYE", Bytes{0} + str("1999"))),
         "Caf\xc3\xa9|A|Al|1999"},
        {tag(3, 0x80, unsync(f3("XXXX", Bytes(3, 0xFF)) + f3("TIT2", ff) + f3("TPE1", str("\2") + Bytes{0xFF, 0xFD}) + f3("TALB", str("\3zip"), 0x80))),
         "\xc3\xbfx\xf0\x9d\x84\x9e\xef\xbf\xbd|\xef\xbf\xbd||"},
        {tag(4, 0x40, sync(6) + Bytes{1, 0} + f4("TDRC", str("\3" "2001-02")) + f4("TPE1", be(5, 4) + unsync(str("\3\xff\xfe\xff")), 3) +
                      f4("TIT2", Bytes{0} + str("X"), 0x04) + f4("TALB", Bytes{7} + str("\3B"), 0x40)), "|\xff\xfe\xff|B|2001-02"},
        {tag(3, 0, f3("TIT2", str("\3T")) + str("TPE1") + be(99, 4) + Bytes{0, 0, 3, 'A'}), "T|||"}};
    for (const auto& r : rows) {
        Tags t;
        FILE* f = mem(r.tag + Bytes{0xEE});
        EXPECT_TRUE(readId3Tag(f, 0, &t) && t.id3 == r.tag) << r.fields;
        EXPECT_EQ(t.title + "|" + t.artist + "|" + t.album + "|" + t.year, r.fields);
        std::fclose(f);
    }
}
// Frames written bit by bit ('0' and '1'; anything else is ignored): a plain one and each refusal of the header and the code.
Bytes frame_bits(const std::string& s) {
    Bytes b;
    for (int n = 0; char c : s) if (c == '0' || c == '1') { if (n % 8 == 0) b.push_back(0); b.back() |= uint8_t((c - '0') << (7 - n++ % 8)); }
    return b;
}
TEST(DstFrames, PlainFramesAndEachRefusalWithItsReport) {
    const std::string one = "1 111 1 1 0 ", table = " 000000 0 0000000 ";  // coded, one channel; a one-entry table of 1
    const struct { std::string bits; int ch; DstError want; size_t extra = 0; } rows[] = {
        {"0", 2, DST_OK, 2 * 4704}, {"0", 2, DST_PLAIN_SHORT, 2 * 4704 - 1}, {"00 000001", 1, DST_PLAIN_RESERVED, 4704}, {"", 1, DST_CUT_HEADER},
        {"1 110", 1, DST_SEGMENTED}, {"1 111 0 0 1 11", 3, DST_BAD_MAP}, {"1 111 1 0 0 10 000", 3, DST_CUT_HEADER}, {one + "0000000 1 11", 1, DST_BAD_METHOD},
        {one + "0000000 1 10", 1, DST_SHORT_CODED}, {one + "0000001 0 000000000", 1, DST_CUT_HEADER},
        {one + "0000001 1 00 000000000 111 001 0101100 0", 1, DST_BAD_COEFFICIENT},  // 0, then 300 (k = 7)
        {one + "0000000 0 000000000 000001 1 00 0000000 000 01 1", 1, DST_BAD_PROBABILITY},  // 1, then 1 + (-1)
        {one + "0000000 0 000000000" + table + "1", 1, DST_RESERVED_SET}, {one + "0000000 0 000000000" + table + "0", 1, DST_OVERRUN}};
    for (const auto& r : rows) {
        Bytes in = frame_bits(r.bits), out(4704 * r.ch, 0xEE);
        for (size_t i = 0; i < r.extra; ++i) in.push_back(uint8_t(i * 7));
        EXPECT_EQ(dst_decode_frame(in.data(), in.size(), r.ch, 37632, out.data()), r.want) << r.bits;
        EXPECT_TRUE(r.want != DST_OK || std::equal(out.begin(), out.end(), in.begin() + 1));
    }
    CaptureStderr(), dst_report(DST_SEGMENTED, 5);
    EXPECT_EQ(GetCapturedStderr(), ts::report("dst", 13, "frame 5: segmented frame, which is not supported\n"));
}
// The generator's DST files decode to the sound it stores plain: every field the encoder varies, 1 to 6 channels at the three rates,
// and the container's optional sub-chunks and index chunks; a frame count beyond the frames present ends in a report of the first missing.
TEST(DstFrames, GeneratorFilesDecodeToThePlainSound) {
    const std::string d = ts::tmpdir();
    const struct { int rate, ch; std::vector<std::string> more; int result = 1; } rows[] = {
        {2822400, 1, {"--dst=mix"}}, {5644800, 2, {"--dst=mix"}}, {11289600, 3, {"--dst=mix"}}, {2822400, 4, {"--dst=mix"}},
        {5644800, 5, {"--dst=mix"}}, {11289600, 6, {"--dst=mix"}}, {2822400, 6, {"--dst", "--dstc", "--dst-subchunk=ABCD:3", "--dsti", "--dsti-after"}},
        {2822400, 2, {"--dst=plain", "--frte-count=16"}, -1}};
    for (const auto& r : rows) {
        std::vector<std::string> sound = {"--rate=" + std::to_string(r.rate), "--channels=" + std::to_string(r.ch), "--seconds=0.2",
                                          "--tone=0:1000:0.5", "--tone=1:300:0.3", "--random=2:9", "--const=3:105"};
        sound.resize(size_t(std::min(r.ch, 4) + 3));
        std::vector<std::string> dst = sound;
        dst.insert(dst.end(), r.more.begin(), r.more.end()), dst.push_back(d + "/a.dff"), sound.push_back(d + "/p.dff");
        ASSERT_TRUE(ts::gen(dst) && ts::gen(sound));
        DsdiffInfo a{}, p{};
        a.file = std::fopen((d + "/a.dff").c_str(), "rb"), p.file = std::fopen((d + "/p.dff").c_str(), "rb");
        ASSERT_TRUE(readDsdHeader(&a) == 0 && readDsdHeader(&p) == 0 && a.compression == DSDIFF_DST && p.compression == DSDIFF_PLAIN);
        EXPECT_EQ(a.data_size, r.result > 0 ? p.data_size : p.data_size / 15 * 16);
        Bytes got(dst_sound_bytes(a)), want(got.size());
        int result = 0;
        CaptureStderr();
        for (uint32_t f = 0; (result = dstReadFrame(&a, got.data())) == 0; ++f)
            ASSERT_TRUE(std::fread(want.data(), 1, want.size(), p.file) == want.size() && got == want) << r.rate << " " << r.ch << " frame " << f;
        EXPECT_EQ(GetCapturedStderr(), result > 0 ? "" : ts::report("dst", 23, "frame 15: frame missing: the DST chunk or the file ends before FRTE's count\n"));
        EXPECT_TRUE(result == r.result && a.frames_read == 15 && std::fread(want.data(), 1, 1, p.file) == 0) << r.rate << " " << r.ch;
        std::fclose(a.file), std::fclose(p.file);
    }
}
// The DST reader on pools of 1 to 4 threads (frames in flight: 3 a thread, 15 frames) hands out what dstReadFrame decodes, frame by
// frame in file order, and ends as it ends: after the frames before the first corrupt or missing one (a decoding or a reading fault),
// with the same report of the same index; a call after that reads nothing. A reader closed with frames in flight leaves the pool usable.
TEST(DstFrames, ReaderHandsOutTheFramesOfDstReadFrameOnEveryPool) {
    const std::string d = ts::tmpdir();
    const std::tuple<Args, std::string> rows[] = {{{"--channels=3", "--rate=5644800"}, ""}, {{"--dst-corrupt=coefficient:11", "--dst-corrupt=reserved:12"}, "frame 11:"},
        {{"--frte-count=20", "--channels=4"}, "frame 15:"}, {{"--dst-corrupt=huge:13", "--channels=5"}, "frame 13:"}, {{"--dst-corrupt=cut:0"}, "frame 0:"}};
    for (const auto& [more, bad] : rows) {
        ASSERT_TRUE(ts::gen(more + Args{"--dst=mix", "--seconds=0.2", "--tone=all:1000:0.5", "--random=1:3", d + "/a.dff"}));
        const auto take = [&](int threads) {  // the frames, the result, what was said; threads 0: dstReadFrame
            DsdiffInfo a{}, b{};
            a.file = std::fopen((d + "/a.dff").c_str(), "rb"), b.file = std::fopen((d + "/a.dff").c_str(), "rb");
            EXPECT_TRUE(readDsdHeader(&a) == 0 && readDsdHeader(&b) == 0);
            Workers* pool = workers_new(threads);
            DstReader early, reader;
            const uint8_t* frame = nullptr;
            CaptureStderr(), dst_reader_init(&early, &b, pool, threads), dst_reader_next(&early, &frame), dst_reader_close(&early), GetCapturedStderr();
            dst_reader_init(&reader, &a, pool, threads);
            std::string got;
            Bytes sound(dst_sound_bytes(a));
            int result = 0;
            CaptureStderr();
            while ((result = threads ? dst_reader_next(&reader, &frame) : dstReadFrame(&a, (frame = sound.data(), sound.data()))) == 0)
                got.append(reinterpret_cast<const char*>(frame), sound.size());
            const int again = threads ? dst_reader_next(&reader, &frame) : result;
            got += GetCapturedStderr() + " " + std::to_string(result) + " " + std::to_string(again);
            dst_reader_close(&reader), workers_destroy(&pool), std::fclose(a.file), std::fclose(b.file);
            return got;
        };
        const std::string want = take(0);
        EXPECT_TRUE(want.ends_with(bad.empty() ? " 1 1" : " -1 -1") && (bad.empty() ? want.find("ERROR") == std::string::npos : want.find("\nERROR dst ") + 14 == want.find(bad))) << want.substr(want.size() - 99);
        for (int t = 1; t <= 4; ++t) EXPECT_TRUE(take(t) == want) << more[0] << ", " << t << " threads";
    }
}
}  // namespace
