// The three header writers: exact bytes (130-byte DSDIFF, 2048-byte WSD in
// both size orders, 84-byte RF64), rewriting in place, every failing write
// with its report and status, and failing seeks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "bytes.h"
#include "dsdiff.h"
#include "streams.h"
#include "wav.h"
#include "wsd.h"

using namespace fmt_test;

namespace {

// A writer call, what it returns on success and the header it must write.
struct Writer {
    std::string name;
    std::function<int(FILE*)> write;
    int ok;
    Bytes header;
};

Writer dsdiff(uint32_t rate, uint64_t size) {
    auto write = [=](FILE* f) {
        DsdiffInfo info{f, size, 0, rate, 0, 0, 0, {}};
        return dsdiffWriteHeader(&info);
    };
    return {"dsdiff " + std::to_string(size), write, 0, dsdiff_header(rate, size)};
}

Writer wsd(WsdInfo info, int order) {
    auto write = [=](FILE* f) mutable {
        SettingsGuard guard;
        wsd_size_order = order;
        info.file = f;
        return writeWsdHeader(&info);
    };
    return {"wsd order " + std::to_string(order), write, 0, wsd_header(info, order == WSD_SIZE_BE64)};
}

Writer wav(uint64_t frames) {
    return {"wav " + std::to_string(frames), [=](FILE* f) { return writeWavHeader(f, frames); }, -1, wav_header(frames)};
}

// Writes into a sink that takes exactly the header's size.
Bytes write_exactly(const Writer& w, bool seekable = true) {
    Sink sink;
    sink.fail_at = w.header.size();
    sink.seekable = seekable;
    FILE* f = open_sink(&sink);
    StderrCapture err;
    EXPECT_EQ(w.write(f), w.ok) << w.name;
    EXPECT_EQ(err.text(), "") << w.name;
    if (seekable) {
        EXPECT_EQ(ftello(f), static_cast<long long>(w.header.size())) << w.name;
    }
    std::fclose(f);
    return sink.data;
}

Bytes slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

TEST(HeaderWriters, ExactBytes) {
    WsdInfo info = sample_wsd_info();
    const Writer writers[] = {
        dsdiff(2822400, 0), dsdiff(5644800, UINT64_C(1) << 32), dsdiff(0xFFFFFFFF, UINT64_C(0x0102030405060708)),
        wsd(info, WSD_SIZE_LOW_HALF_FIRST), wsd(info, WSD_SIZE_BE64),
        wav(0), wav(44100), wav(4294967295), wav((UINT64_C(1) << 40) + 3),
    };
    for (const auto& w : writers) EXPECT_EQ(write_exactly(w), w.header) << w.name;

    // Spot checks independent of the builders.
    Bytes b = write_exactly(dsdiff(2822400, 0));
    EXPECT_EQ(slice(b, 4, 12), (Bytes{0, 0, 0, 0, 0, 0, 0, 118}));
    EXPECT_EQ(slice(b, 44, 48), (Bytes{0x00, 0x2B, 0x11, 0x00}));
    EXPECT_EQ(slice(b, 114, 118), (Bytes{1, 5, 0, 0}));
    EXPECT_EQ(b[101], 0) << "pad after the compression name";
    b = write_exactly(dsdiff(5644800, UINT64_C(1) << 32));
    EXPECT_EQ(slice(b, 4, 12), (Bytes{0, 0, 0, 1, 0, 0, 0, 0x76}));
    EXPECT_EQ(slice(b, 122, 130), (Bytes{0, 0, 0, 1, 0, 0, 0, 0}));
    // The placeholder length of 2^32 - 1 frames with its 64-bit sizes.
    b = write_exactly(wav(4294967295));
    EXPECT_EQ(slice(b, 20, 44), (Bytes{0x48, 0, 0, 0, 4, 0, 0, 0, 0xFC, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0, 0, 0, 0}));
    // The WSD size of a file of 1000 stereo bytes in both orders.
    info.file_size = 3048;
    EXPECT_EQ(slice(write_exactly(wsd(info, WSD_SIZE_LOW_HALF_FIRST)), 0x0C, 0x14), (Bytes{0, 0, 0x0B, 0xE8, 0, 0, 0, 0}));
    EXPECT_EQ(slice(write_exactly(wsd(info, WSD_SIZE_BE64)), 0x0C, 0x14), (Bytes{0, 0, 0, 0, 0, 0, 0x0B, 0xE8}));

    // The DSDIFF writer does not test its seek: a stream that cannot seek takes the header.
    EXPECT_EQ(write_exactly(dsdiff(2822400, 0), false), dsdiff_header(2822400, 0));
}

TEST(HeaderWriters, RewritingReplacesOnlyTheHeader) {
    Bytes samples(176400);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i ^ (i >> 8));
    for (const auto& w : {dsdiff(11289600, samples.size()), wsd(sample_wsd_info(), WSD_SIZE_LOW_HALF_FIRST),
                          wav(samples.size() / 4)}) {
        FILE* f = stream_with(cat({Bytes(w.header.size(), 0xEE), samples}));
        std::fseek(f, 0, SEEK_END);  // wherever the caller stands
        EXPECT_EQ(w.write(f), w.ok) << w.name;
        EXPECT_EQ(ftello(f), static_cast<long long>(w.header.size())) << w.name;
        EXPECT_EQ(contents(f), cat({w.header, samples})) << w.name;
        std::fclose(f);
    }
}

// ---- failing writes -----------------------------------------------------------

struct Field {
    size_t offset;
    size_t size;
    int number;           // report line
    const char* message;  // after the report prefix
    bool primitive;       // "file write error\n" comes first
};

const char* const kPutc = "putc() failed.\n";
const char* const kWrite = "write failed.\n";

// Where each byte of the WSD header comes from, in the order of writing.
std::vector<Field> wsd_layout(bool be64) {
    std::vector<Field> f = {
        {0x000, 4, 178, "fwrite() failed.\n", false}, {0x004, 4, 155, kPutc, false},
        {0x008, 1, 188, "version number write failed.\n", false}, {0x009, 3, 155, kPutc, false},
        {0x00C, 4, 196, kWrite, true},  {0x010, 4, 202, kWrite, true},  {0x014, 4, 209, kWrite, true},
        {0x018, 4, 216, kWrite, true},  {0x01C, 4, 155, kPutc, false},  {0x020, 4, 227, kWrite, true},
        {0x024, 4, 234, kWrite, true},  {0x028, 4, 155, kPutc, false},
        {0x02C, 1, 244, "channel number write failed.\n", false},       {0x02D, 3, 155, kPutc, false},
        {0x030, 4, 252, kWrite, true},  {0x034, 4, 155, kPutc, false},  {0x038, 4, 262, kWrite, true},
        {0x03C, 4, 155, kPutc, false},  {0x040, 8, 272, kWrite, true},  {0x048, 8, 277, kWrite, true},
        {0x050, 48, 155, kPutc, false}, {0x080, 1920, 155, kPutc, false},
    };
    // One 64-bit size in place of two 32-bit halves.
    if (be64) f.erase(f.begin() + 5), f[4].size = 8;
    return f;
}

// Each step of the RF64 header.
const std::vector<Field> kWavLayout = {
    {0, 16, 195, kWrite, false}, {16, 4, 202, kWrite, true},  {20, 8, 211, kWrite, true}, {28, 8, 217, kWrite, true},
    {36, 8, 223, kWrite, true},  {44, 4, 229, kWrite, true},  {48, 4, 234, kWrite, false}, {52, 4, 239, kWrite, true},
    {56, 20, 243, kWrite, false}, {76, 8, 248, kWrite, false},
};

// In a child: the writer with a sink failing at byte n. On the way out the
// child checks that exactly the bytes before n arrived (status 99 if not);
// a writer that returns exits with 0 when it returned 0.
void write_failing_at(const Writer& w, size_t n) {
    static Sink sink;
    static Bytes want;
    sink.fail_at = n;
    want = Bytes(w.header.begin(), w.header.begin() + static_cast<long>(n));
    std::atexit([] {
        if (sink.data != want) std::_Exit(99);
    });
    std::exit(w.write(open_sink(&sink)) == 0 ? 0 : 98);
}

TEST(HeaderWritersDeathTest, EachFieldReportsItsFailure) {
    struct Case {
        Writer writer;
        std::vector<Field> layout;
        std::string module;
        bool exits;  // ends the process with report line + 1
    };
    const Case cases[] = {
        {wsd(sample_wsd_info(), WSD_SIZE_LOW_HALF_FIRST), wsd_layout(false), "wsd", true},
        {wsd(sample_wsd_info(), WSD_SIZE_BE64), wsd_layout(true), "wsd", true},
        {wav(44100), kWavLayout, "wav", false},
    };
    for (const auto& c : cases) {
        size_t next = 0;
        for (const auto& field : c.layout) {
            // The fields cover the header once, in the order of writing.
            ASSERT_EQ(field.offset, next) << c.writer.name;
            next = field.offset + field.size;
            // The two WSD orders differ only in the size field.
            if (c.writer.name == "wsd order 1" && field.offset != 0x0C) continue;
            const std::string expected = std::string(field.primitive ? "file write error\n" : "") + "\nERROR " + c.module +
                                         " " + std::to_string(field.number) + " " + field.message;
            const int status = c.exits ? (field.number + 1) & 0xFF : 0;
            // The first and the last byte of each field.
            for (size_t n : {field.offset, field.offset + field.size - 1})
                EXPECT_EXIT(write_failing_at(c.writer, n), ::testing::ExitedWithCode(status), ::testing::Eq(expected))
                    << c.writer.name << " failing at byte " << n;
        }
        EXPECT_EQ(next, c.writer.header.size()) << c.writer.name;
    }
    // The DSDIFF header goes out in one piece; a process status keeps the
    // low 8 bits of the value passed to exit().
    for (size_t n : {size_t{0}, size_t{1}, size_t{64}, size_t{129}})
        EXPECT_EXIT(write_failing_at(dsdiff(2822400, 0), n), ::testing::ExitedWithCode(276 & 0xFF),
                    ::testing::Eq("\nERROR dsdiff 275 Header write error.\n"))
            << "dsdiff failing at byte " << n;
}

TEST(HeaderWritersDeathTest, FailingSeeksAndAFullDevice) {
    const auto run = [](const Writer& w, bool full) {
        Sink sink;
        sink.seekable = false;
        FILE* f = full ? std::fopen("/dev/full", "wb") : open_sink(&sink);
        setvbuf(f, nullptr, _IONBF, 0);  // the failure shows in the call that writes
        std::exit(w.write(f) == 0 ? 0 : 98);
    };
    EXPECT_EXIT(run(wav(0), false), ::testing::ExitedWithCode(191),
                ::testing::Eq("\nERROR wav 189 fseeko() failed.\nIllegal seek\n"));
    EXPECT_EXIT(run(wsd(sample_wsd_info(), 0), false), ::testing::ExitedWithCode(171),
                ::testing::Eq("\nERROR wsd 169 fseeko() failed.\nIllegal seek\n"));

    FILE* probe = std::fopen("/dev/full", "wb");
    if (probe == nullptr) GTEST_SKIP() << "no /dev/full";
    std::fclose(probe);
    EXPECT_EXIT(run(wav(0), true), ::testing::ExitedWithCode(0), ::testing::Eq("\nERROR wav 195 write failed.\n"));
    EXPECT_EXIT(run(wsd(sample_wsd_info(), 0), true), ::testing::ExitedWithCode(179),
                ::testing::Eq("\nERROR wsd 178 fwrite() failed.\n"));
    EXPECT_EXIT(run(dsdiff(2822400, 0), true), ::testing::ExitedWithCode(276 & 0xFF),
                ::testing::Eq("\nERROR dsdiff 275 Header write error.\n"));
}

}  // namespace
