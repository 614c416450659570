// The format library's primitives, header readers and writers and frame readers against the builders of layouts.h.
#include <gmock/gmock.h>
#include <unistd.h>
#include <cstring>
#include "dsdiff.h"
#include "readwrite.h"
#include "support.h"
#include "wav.h"
#include "wsd.h"
using namespace lay;
using testing::internal::CaptureStderr, testing::internal::GetCapturedStderr, testing::ExitedWithCode, testing::HasSubstr;
namespace {
FILE* mem(const Bytes& b) { FILE* f = std::tmpfile(); std::fwrite((b + Bytes{0}).data(), 1, b.size(), f); std::rewind(f); return f; }
FILE* piped(const Bytes& b) {  // reads, cannot seek
    int fd[2];
    return pipe(fd) || write(fd[1], b.data(), b.size()) != ssize_t(b.size()) || close(fd[1]) ? nullptr : fdopen(fd[0], "r");
}
FILE* budget(Bytes& buf, size_t n) {  // unbuffered, over buf; its writes fail after n bytes
    FILE* f = fmemopen((buf.assign(n + 1, 0xAA), buf.data()), n, "r+");
    return setvbuf(f, nullptr, _IONBF, 0), f;
}
template <class T, int (*Fn)(FILE*, T*)> int rd(FILE* f, uint64_t& v) { T x = T(v); const int r = Fn(f, &x); return v = x, r; }
template <class T, int (*Fn)(FILE*, T)> int wr(FILE* f, uint64_t v) { return Fn(f, T(v)); }
TEST(Primitives, ReadersAssembleInTheirOrderWritersPutTheLowBytesShortTransfersFail) {
    const uint64_t mark = 0x1122334455667788, v = 0x0102030405060708;  // mark: low 32 bits positive
    const struct { int width; bool big; int (*read)(FILE*, uint64_t&); int (*write)(FILE*, uint64_t) = nullptr; } rows[] = {
        {2, 1, rd<uint16_t, read16bitBEint>}, {4, 1, rd<uint32_t, read32bitBEint>}, {8, 1, rd<uint64_t, read64bitBElong>},
        {4, 0, rd<int32_t, read32bitLEint>}, {8, 0, rd<uint64_t, read64bitLElong>}, {2, 0, nullptr, wr<int, write16bitLEint>},
        {3, 0, nullptr, wr<int, write24bitLEint>}, {4, 0, nullptr, wr<uint32_t, write32bitLEint>},
        {8, 0, nullptr, wr<uint64_t, write64bitLEint>}, {4, 1, nullptr, wr<uint32_t, write32bitBEint>},
        {8, 1, nullptr, wr<uint64_t, write64bitBEint>}};
    Bytes buf;
    for (const auto& r : rows)  // (the short transfers print their messages)
        for (int n = 0; n <= r.width; ++n) {  // the stream holds or takes n bytes; a short read stores nothing
            const Bytes all = r.big ? be(v, r.width) : le(v, r.width);
            uint64_t mask = ~0ull >> (64 - 8 * r.width), got = mark;
            FILE* f = r.read ? mem(Bytes(all.begin(), all.begin() + n)) : budget(buf, size_t(n));
            EXPECT_TRUE(r.read ? r.read(f, got) == (n < r.width ? 0 : -1) && got == ((n < r.width ? mark : v) & mask)
                               : r.write(f, v) == (n < r.width ? 0 : -1) && std::equal(all.begin(), all.begin() + n, buf.begin()))
                << r.width << (r.big ? " BE " : " LE ") << (r.read ? "read of " : "write into ") << n;
            std::fclose(f);
        }
}
Bytes H(const char* id, uint64_t size) { return str(id) + be(size, 8); }
Bytes P(const Bytes& subs) { return chunk("PROP", str("SND ") + subs); }
Bytes name(const char* type, const std::string& s) { return str(type) + be(s.size(), 1) + str(s) + Bytes(1 - s.size() % 2, 0); }
const Bytes FH = str("FRM8") + be(1000, 8) + str("DSD "), FS = chunk("FS  ", be(2822400, 4)), SIX = chunk("DSD ", Bytes(6, 1));
const Bytes GOOD = FS + chnl({"SLFT", "SRGT"}) + cmpr(), FVER = chunk("FVER", be(0x01050000, 4));
Bytes IP(const Bytes& partial) { return FH + H("PROP", 1000) + str("SND ") + partial; }
std::string rep(int line) { return line ? ts::report("dsdiff", line, "\n") : ""; }
struct Read { int result; DsdiffInfo info; std::string err; };
Read read_dsd(const Bytes& b, int reporting, bool pipe = false) {
    Read r{0, {}, ""};
    std::memset(&r.info, 0x5A, sizeof r.info);  // what a caller leaves in the record
    dsdiff_reporting = reporting, r.info.file = pipe ? piped(b) : mem(b), CaptureStderr(), alarm(10);  // a walk that loops ends
    r.result = readDsdHeader(&r.info), alarm(0), r.err = GetCapturedStderr(), dsdiff_reporting = 0;
    return std::fclose(r.info.file), r;
}
TEST(ReadDsdHeader, AcceptedAndRefusedFilesReportedOnlyInReportingModeHugeSizesAndPipes) {
    const Bytes rich = H("COMT", 5) + Bytes{1, 2, 3, 4, 5, 0xEE} + FVER +  // accepted: pads not zero, CMPR names padded or not
                       P(chunk("CMPR", name("DSD ", "")) + chnl({"slft", "SRGT", "A", "B  "}) + chunk("ABSS", Bytes(8, 1)) +
                         H("EMID", 3) + Bytes{7, 8, 9, 0xEE} + chunk("LSCO", Bytes(2, 0)) + chunk("CMPR", name("DST ", "DSD")) + FS);
    constexpr int F = 1;  // F: "fread() failed." first; 38, 42: read_and_compare_4bytes reports first
    const uint64_t back12 = ~uint64_t(11), top = uint64_t(1) << 63;
    const struct { int line, pre; Bytes bytes; bool pipe = false; } rows[] = {
        {57, 42, str("RIFF") + be(100, 8) + str("DSD ")}, {61, F, str("FRM8") + Bytes{0, 0, 0}},
        {66, 38, str("FRM8") + be(100, 8) + str("DS")}, {75, 0, FH + FVER + str("PR")}, {79, F, FH + str("PROP") + Bytes(5, 0)},
        {86, F, FH + H("FVER", 4) + Bytes{1, 5}}, {90, 0, FH + chunk("FVER", Bytes(8, 1))},
        {97, 42, FH + chunk("PROP", str("SNX ") + GOOD)}, {106, 0, IP(FS + str("CH"))}, {110, F, IP(str("FS  ") + Bytes(7, 0))},
        {116, F, IP(H("FS  ", 4) + Bytes(3, 0))}, {120, 0, IP(chunk("FS  ", Bytes(8, 0)))},
        {126, F, IP(H("CHNL", 10) + Bytes{0})}, {130, 0, IP(H("CHNL", 46) + be(11, 2) + Bytes(44, 'A'))},
        {136, 0, IP(H("CHNL", 10) + be(2, 2) + str("SLFTSR"))}, {142, 0, IP(chunk("CHNL", be(2, 2) + Bytes(10, 'A')))},
        {149, 0, IP(H("CMPR", 20) + str("DS"))}, {154, 0, IP(chunk("CMPR", name("dsd ", "x")))},
        {158, 0, IP(H("CMPR", 20) + str("DSD "))}, {163, 0, IP(chunk("CMPR", name("DSD ", "\x80")))},
        {169, 0, IP(H("CMPR", 8) + str("DSD ") + Bytes{2} + str("ab"))}, {180, F, IP(H("ABSS", 8) + Bytes{0})},
        {186, F, IP(H("ABSS", 8) + Bytes{0, 1, 2, 3, 0, 0})}, {190, 0, IP(chunk("ABSS", Bytes(10, 1)))},
        {197, F, IP(H("LSCO", 2) + Bytes{0})}, {201, 0, IP(chunk("LSCO", Bytes(4, 0)))},
        {216, 0, FH + chunk("DST ", Bytes(16, 0))}, {219, 0, FH + chunk("DSTI", Bytes(16, 0))},
        {237, 0, form(chunk("COMT", Bytes(5, 1)) + FVER + P(GOOD))},  // the pad counts: the walk ends at the form's end
        {79, 0, form(H("JUNK", top) + Bytes(32, 0))}, {79, 0, form(H("JUNK", top - 1) + Bytes(32, 0))},
        {110, 0, form(P(FS + H("JUNK", back12) + GOOD) + SIX)}, {0, 0, form(P(GOOD) + H("DSD ", top - 1))},
        {79, 0, form(P(GOOD) + H("DSD ", top))}, {0, 0, form(rich + SIX) + chunk("DIIN", Bytes(3, 1))},
        {0, 0, form(FVER + P(GOOD) + SIX), true}, {79, 0, form(chunk("COMT", Bytes(6, 1)) + P(GOOD) + SIX), true},
        {110, 0, form(P(FS + H("CMPR", 5) + name("DSD ", "") + Bytes{0}) + SIX), true}};  // an odd CMPR size: a pad to skip
    for (const auto& row : rows) {
        const Read loud = read_dsd(row.bytes, 1, row.pipe), quiet = read_dsd(row.bytes, 0, row.pipe);
        EXPECT_TRUE(loud.result == (row.line ? -1 : 0) && quiet.result == loud.result) << row.line;
        EXPECT_EQ(loud.err, (row.pre > F ? rep(row.pre) : row.pre ? "fread() failed.\n" : "") + rep(row.line)) << row.line;
        EXPECT_EQ(quiet.err, row.pre == F ? "fread() failed.\n" : "") << row.line;
    }
}
const WsdFields W{0x11, 0x500000BE8, 0x01020304, 5644800, 2, 0x44000000, 0xA1A2A3A4, 0xB1B2B3B4B5B6B7B8, 0xC1C2C3C4C5C6C7C8};
Bytes with(Bytes h, size_t at, const Bytes& v) { for (uint8_t b : v) h.at(at++) = b; return h; }
int read_wsd(const Bytes& b, WsdInfo& w, bool pipe = false) {  // the position goes to data_offset
    std::memset(&w, 0x5A, sizeof w);
    const int r = readWsdHeader((w.file = pipe ? piped(b) : mem(b), &w));
    return w.data_offset = uint32_t(r ? ftello(w.file) : w.data_offset), std::fclose(w.file), r;
}
TEST(ReadWsdHeader, ChecksOnlyMagicAndChannelCountTakesTheLowSizeHalfFirstFailsSilently) {
    // Reserved bytes, version and text offset bent, ten channels: not checked. The short reads below print.
    const Bytes good = (CaptureStderr(), with(with(with(wsd_header(W, false), 4, {'x', 0, 0, 0, 0xFF}), 0x14, {7}), 0x2C, {10}));
    const struct { Bytes bytes; int result; uint32_t pos; uint64_t size; } rows[] = {{good, 0, 2048, W.file_size},
        {with(good, 0x2C, {0}), 0, 2048, W.file_size}, {with(good, 0x2C, {11}), -1, 0x2D, 0}, {with(good, 0, str("FRM8")), -1, 4, 0},
        {wsd_header(W, true), 0, 2048, W.file_size << 32 | W.file_size >> 32}};
    WsdInfo w;
    for (const auto& row : rows) {
        EXPECT_TRUE(read_wsd(row.bytes, w) == row.result && w.data_offset == row.pos) << row.pos;
        EXPECT_TRUE(row.result || (w.file_size == row.size && w.version == row.bytes[8] && w.sample_rate == W.rate &&
                                   w.channel_count == row.bytes[0x2C] && w.text_offset == 0x5A5A5A5A)) << row.pos;
    }
    for (long n = 0; n <= 0x34; ++n) EXPECT_EQ(read_wsd(Bytes(good.begin(), good.begin() + n), w), n < 0x34 ? -1 : 0) << n;
    GetCapturedStderr(), CaptureStderr();
    EXPECT_TRUE(read_wsd(good, w, true) == -1 && GetCapturedStderr().empty()) << "a failing seek fails silently";
}
const uint64_t FRAMES = (uint64_t(1) << 40) + 3, SIZE = 0x0102030405060708;
int write_header(int w, FILE* f) {  // 0 DSDIFF, 1 WSD low size half first, 2 WSD one 64-bit size, 3 RF64
    DsdiffInfo d{f, SIZE, 0, 5644800, 0, 0, 0, {}};
    WsdInfo i{f, W.version, W.file_size, 7, 9, W.play_time, W.rate, W.channels, W.assignment, W.extra_38, W.extra_40, W.extra_48};
    wsd_size_order = w == 2 ? WSD_SIZE_BE64 : WSD_SIZE_LOW_HALF_FIRST;
    return w == 3 ? writeWavHeader(f, FRAMES) : w ? writeWsdHeader(&i) : dsdiffWriteHeader(&d);
}
Bytes header(int w) { return w == 3 ? rf64_header(FRAMES) : w ? wsd_header(W, w == 2) : dsdiff_pair_header(5644800, SIZE); }
[[noreturn]] void write_into(int w, int n, bool seekable = true) {  // exits 0 after a failure, 1 after the header alone
    static Bytes buf;  // a stream of n bytes, standing at its end
    FILE* f = seekable ? budget(buf, size_t(n)) : popen("cat >/dev/null", "w");
    const int64_t end = (std::fseek(f, 0, SEEK_END), ftello(f)), size = int64_t(header(w).size()), r = write_header(w, f);
    const bool only_header = r == (w == 3 ? -1 : 0) && ftello(f) == size && buf == header(w) + Bytes(size_t(end - size + 1), 0xAA);
    std::exit(w == 3 && r == 0 ? 0 : only_header ? 1 : 98);
}
TEST(HeaderWritersDeathTest, ExactBytesOverTheStartEachFieldsFailureWithItsLineAndStatus) {
    const std::vector<Field> dsdiff_layout = {{"whole header", 0, DSDIFF_PAIR_HEADER, 275}};  // one fwrite
    for (int w : {0, 1, 2, 3}) {  // status: line + 1, of which the process keeps 8 bits; the wav writer returns
        EXPECT_EXIT(write_into(w, int(header(w).size()) + 5), ExitedWithCode(1), testing::Eq("")) << w;
        for (const Field& fl : w == 3 ? rf64_layout() : w ? wsd_layout(w == 2) : dsdiff_layout)
            for (int n : {fl.offset, fl.offset + fl.width - 1})  // the field's first and last byte
                EXPECT_EXIT(write_into(w, n), ExitedWithCode(w == 3 ? 0 : (fl.line + 1) & 255),
                            HasSubstr(ts::report(w == 3 ? "wav" : w ? "wsd" : "dsdiff", fl.line))) << w << " " << fl.name << " at " << n;
    }
    EXPECT_EXIT(write_into(1, 0, false), ExitedWithCode(171), HasSubstr(ts::report("wsd", 169)));  // failing seeks
    EXPECT_EXIT(write_into(3, 0, false), ExitedWithCode(191), HasSubstr(ts::report("wav", 189)));
}
TEST(FrameReaders, PairsRoundedDownToGroupsOf8ALastGroupFilledNothingOutsideThePreconditions) {
    const struct { bool wsd; int ch, n, left, right, size, got; } rows[] = {  // frame i of channel c holds 16 c + i
        {0, 6, 8, 4, 1, 16, 16}, {0, 2, 100, 0, 1, 100, 96}, {0, 2, 3, 0, 1, 100, 8}, {0, 3, 4, 2, 2, 24, 8}, {0, 2, 16, 0, 1, 7, 0},
        {1, 6, 4, 0, 1, 8, 8}, {1, 2, 3, 0, 1, 100, 8}, {1, 10, 60, 0, 1, 100, 96}, {1, 1, 8, 0, 1, 8, 0}, {0, 0, 8, 0, 1, 8, 0},
        {0, 2, 8, 10, 1, 16, 0}, {0, 2, 8, 0, 0xFFFF, 16, 0}, {0, 2, 8, 0, 1, -8, 0}};  // from {1, 1, ...} on: nothing read
    for (const auto& r : rows) {
        Bytes data, out(130, 0xAA);
        for (int i = 0; i < r.n * r.ch; ++i) data.push_back(uint8_t(16 * (i % r.ch) + i / r.ch));
        DsdiffInfo d{};
        WsdInfo w{};
        w.file = d.file = mem(r.wsd ? wsd_header({.channels = uint8_t(r.ch)}, false) + data
                                    : dsdiff(2822400, std::vector<std::string>(size_t(r.ch), "C001"), data));
        ASSERT_TRUE((r.wsd ? readWsdHeader(&w) : readDsdHeader(&d)) == 0 && d.channel_ids[0] == std::string(r.wsd || !r.ch ? "" : "C001") &&
                    d.sample_rate == (r.wsd ? 0 : 2822400u) && d.version == (r.wsd ? 0 : 0x01050000u));
        d.left_channel = uint16_t(r.left), d.right_channel = uint16_t(r.right);
        ASSERT_EQ(r.wsd ? readWsdData(&w, out.data(), r.size) : readDsdData(&d, out.data(), r.size), r.got) << r.ch << "x" << r.n;
        for (int k = 0; k <= r.got; ++k)
            EXPECT_EQ(out[k], k == r.got ? 0xAA : k / 2 >= r.n ? 0x96 : 16 * (k % 2 ? r.right : r.left) + k / 2) << k;
        std::fclose(d.file);
    }
}
TEST(GeneratedFiles, DefaultHeadersMatchTheLayouts) {
    const std::string dir = ts::tmpdir();
    const Bytes idle(2 * 352800, 0x69);  // one second of the idle pattern follows each header
    ASSERT_TRUE(ts::gen({dir + "/a.dff"}) && ts::gen({dir + "/a.wsd"}));
    EXPECT_TRUE(ts::read_file(dir + "/a.dff") == dsdiff(2822400, {"SLFT", "SRGT"}, idle) &&
                ts::read_file(dir + "/a.wsd") == wsd_header({0x11, 2048 + idle.size(), 0, 2822400, 2, 0x44000000}, false) + idle);
}
}  // namespace
