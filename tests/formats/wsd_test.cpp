// WSD: the 2048-byte header in both file-size orders, reading it back, the
// reader's refusals, the frame reader, and every failing write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dff_bytes.h"
#include "streams.h"
#include "wsd.h"

using namespace fmt_test;

namespace {

// A record with a distinct value in every field, so that swapped or
// misplaced fields show up.
WsdInfo sample_info(FILE* f) {
    WsdInfo info;
    std::memset(&info, 0, sizeof info);
    info.file = f;
    info.version = 0x11;
    info.file_size = UINT64_C(0x0000000500000BE8);
    info.text_offset = 7;   // the writer puts 128 whatever the record says
    info.data_offset = 9;   // and 2048
    info.play_time = 0x01020304;
    info.sample_rate = 5644800;
    info.channel_count = 2;
    info.channel_assignment = 0x44000000;
    info.extra_38 = 0xA1A2A3A4;
    info.extra_40 = UINT64_C(0xB1B2B3B4B5B6B7B8);
    info.extra_48 = UINT64_C(0xC1C2C3C4C5C6C7C8);
    return info;
}

// The header laid out field by field from the table of offsets.
Bytes expected_header(const WsdInfo& i, bool be64) {
    Bytes size_field = be64 ? be(i.file_size, 8) : cat({be(i.file_size & 0xFFFFFFFF, 4), be(i.file_size >> 32, 4)});
    Bytes h = cat({str("1bit"), Bytes(4, 0), be(i.version, 1), Bytes(3, 0), size_field, be(128, 4), be(2048, 4),
                   Bytes(4, 0), be(i.play_time, 4), be(i.sample_rate, 4), Bytes(4, 0), be(i.channel_count, 1),
                   Bytes(3, 0), be(i.channel_assignment, 4), Bytes(4, 0), be(i.extra_38, 4), Bytes(4, 0),
                   be(i.extra_40, 8), be(i.extra_48, 8), Bytes(48, 0), Bytes(1920, 0)});
    EXPECT_EQ(h.size(), 2048u);
    return h;
}

Bytes write_header(const WsdInfo& proto, int order, long long* pos = nullptr) {
    SettingsGuard guard;
    wsd_size_order = order;
    FILE* f = stream_with({});
    WsdInfo info = proto;
    info.file = f;
    StderrCapture err;
    EXPECT_EQ(writeWsdHeader(&info), 0);
    EXPECT_EQ(err.text(), "");
    if (pos) *pos = ftello(f);
    Bytes b = contents(f);
    std::fclose(f);
    return b;
}

// ---- writer ---------------------------------------------------------------

TEST(WriteWsdHeader, EveryFieldInItsPlaceLowHalfFirst) {
    long long pos = -1;
    Bytes b = write_header(sample_info(nullptr), WSD_SIZE_LOW_HALF_FIRST, &pos);
    EXPECT_EQ(b, expected_header(sample_info(nullptr), false));
    EXPECT_EQ(pos, 2048);
}

TEST(WriteWsdHeader, EveryFieldInItsPlaceAsOneBigEndianValue) {
    long long pos = -1;
    Bytes b = write_header(sample_info(nullptr), WSD_SIZE_BE64, &pos);
    EXPECT_EQ(b, expected_header(sample_info(nullptr), true));
    EXPECT_EQ(pos, 2048);
}

TEST(WriteWsdHeader, FileSizeOf1000StereoBytesInBothOrders) {
    WsdInfo info = sample_info(nullptr);
    info.file_size = 3048;
    info.sample_rate = 2822400;
    Bytes low = write_header(info, WSD_SIZE_LOW_HALF_FIRST);
    Bytes be64 = write_header(info, WSD_SIZE_BE64);
    EXPECT_EQ(Bytes(low.begin() + 0x0C, low.begin() + 0x14), (Bytes{0, 0, 0x0B, 0xE8, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(be64.begin() + 0x0C, be64.begin() + 0x14), (Bytes{0, 0, 0, 0, 0, 0, 0x0B, 0xE8}));
    // Everything else is the same.
    for (size_t i = 0; i < 2048; ++i)
        if (i < 0x0C || i >= 0x14) {
            ASSERT_EQ(low[i], be64[i]) << "offset " << i;
        }
    for (size_t i = 0x80; i < 0x800; ++i) ASSERT_EQ(low[i], 0) << "text area at " << i;
}

TEST(WriteWsdHeader, RewritingReplacesOnlyTheHeader) {
    Bytes sound(500);
    for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<uint8_t>(i * 13 + 1);
    FILE* f = stream_with(cat({Bytes(2048, 0xEE), sound}));
    std::fseek(f, 0, SEEK_END);
    WsdInfo info = sample_info(f);
    EXPECT_EQ(writeWsdHeader(&info), 0);
    EXPECT_EQ(ftello(f), 2048);
    EXPECT_EQ(contents(f), cat({expected_header(info, false), sound}));
    std::fclose(f);
}

// ---- reader ---------------------------------------------------------------

struct Read {
    int result;
    std::string err;
    WsdInfo info;
    long long pos;
};

WsdInfo marked_info(FILE* f) {
    WsdInfo info;
    std::memset(&info, 0x5A, sizeof info);
    info.file = f;
    return info;
}

Read read_header(FILE* f) {
    Read r;
    r.info = marked_info(f);
    StderrCapture err;
    r.result = readWsdHeader(&r.info);
    r.err = err.text();
    r.pos = ftello(f);
    return r;
}

Read read_bytes(const Bytes& bytes) {
    FILE* f = stream_with(bytes);
    Read r = read_header(f);
    std::fclose(f);
    return r;
}

TEST(WsdRoundTrip, LowHalfFirstWriterAndReaderAgree) {
    SettingsGuard guard;
    wsd_size_order = WSD_SIZE_LOW_HALF_FIRST;
    for (uint64_t size : {UINT64_C(3048), UINT64_C(0x0000000500000BE8), UINT64_C(0xFFFFFFFFFFFFFFFF)}) {
        FILE* f = stream_with({});
        WsdInfo out = sample_info(f);
        out.file_size = size;
        out.channel_count = 10;
        ASSERT_EQ(writeWsdHeader(&out), 0);
        std::rewind(f);
        Read r = read_header(f);
        ASSERT_EQ(r.result, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.info.file_size, size);
        EXPECT_EQ(r.info.version, 0x11);
        EXPECT_EQ(r.info.data_offset, 2048u);
        EXPECT_EQ(r.info.sample_rate, 5644800u);
        EXPECT_EQ(r.info.channel_count, 10);
        EXPECT_EQ(r.pos, 2048) << "stream at the sound data";
        std::fclose(f);
    }
}

TEST(WsdRoundTrip, SixtyFourBitWriterReadsBackWithItsHalvesSwapped) {
    // The reader always takes the low half first, so a size written as one
    // big-endian value comes back with its halves exchanged.
    SettingsGuard guard;
    wsd_size_order = WSD_SIZE_BE64;
    FILE* f = stream_with({});
    WsdInfo out = sample_info(f);
    out.file_size = 3048;
    ASSERT_EQ(writeWsdHeader(&out), 0);
    std::rewind(f);
    Read r = read_header(f);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.info.file_size, UINT64_C(3048) << 32);
    EXPECT_EQ(r.info.version, 0x11);
    EXPECT_EQ(r.info.data_offset, 2048u);
    EXPECT_EQ(r.info.sample_rate, 5644800u);
    EXPECT_EQ(r.info.channel_count, 2);
    EXPECT_EQ(r.pos, 2048);
    std::fclose(f);
}

TEST(ReadWsdHeader, LeavesFieldsItDoesNotReadAlone) {
    Read r = read_bytes(expected_header(sample_info(nullptr), false));
    ASSERT_EQ(r.result, 0);
    WsdInfo marks = marked_info(nullptr);
    EXPECT_EQ(r.info.text_offset, marks.text_offset);
    EXPECT_EQ(r.info.play_time, marks.play_time);
    EXPECT_EQ(r.info.channel_assignment, marks.channel_assignment);
    EXPECT_EQ(r.info.extra_38, marks.extra_38);
}

Bytes header_with(size_t offset, uint8_t value) {
    Bytes h = expected_header(sample_info(nullptr), false);
    h[offset] = value;
    return h;
}

TEST(ReadWsdHeader, ChannelCountAboveTenIsRefused) {
    Read ten = read_bytes(header_with(0x2C, 10));
    EXPECT_EQ(ten.result, 0);
    EXPECT_EQ(ten.info.channel_count, 10);

    Read zero = read_bytes(header_with(0x2C, 0));
    EXPECT_EQ(zero.result, 0) << "a count of 0 is not checked";

    for (int count : {11, 255}) {
        Read r = read_bytes(header_with(0x2C, static_cast<uint8_t>(count)));
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.err, "");
        // Fields before the count are stored, the count and the rate are not.
        EXPECT_EQ(r.info.version, 0x11);
        EXPECT_EQ(r.info.file_size, UINT64_C(0x0000000500000BE8));
        EXPECT_EQ(r.info.data_offset, 2048u);
        EXPECT_EQ(r.info.channel_count, marked_info(nullptr).channel_count);
        EXPECT_EQ(r.info.sample_rate, marked_info(nullptr).sample_rate);
    }
}

TEST(ReadWsdHeader, NothingButTheMagicAndTheCountIsChecked) {
    Bytes h = expected_header(sample_info(nullptr), false);
    h[0x08] = 0xFF;                                        // version
    for (size_t i = 0x14; i < 0x18; ++i) h[i] = 0x77;      // text offset
    for (size_t i = 0x30; i < 0x34; ++i) h[i] = 0x88;      // channel assignment
    h[0x04] = 'x';                                         // reserved
    Read r = read_bytes(h);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.info.version, 0xFF);
}

TEST(ReadWsdHeader, DsdiffFileIsRefusedAtTheFirstStep) {
    Bytes b = cat({str("FRM8"), Bytes(2044, 0)});
    FILE* f = stream_with(b);
    Read r = read_header(f);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.pos, 4);
    EXPECT_EQ(r.info.version, marked_info(f).version) << "nothing stored";
    EXPECT_EQ(r.info.file_size, marked_info(f).file_size) << "nothing stored";
    std::fclose(f);
}

TEST(ReadWsdHeader, DataOffsetBeyondTheEndIsAcceptedAndTheFirstFrameFails) {
    Bytes h = expected_header(sample_info(nullptr), false);
    Bytes off = be(1 << 20, 4);
    std::copy(off.begin(), off.end(), h.begin() + 0x18);
    FILE* f = stream_with(cat({h, Bytes(100, 0x69)}));
    Read r = read_header(f);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.info.data_offset, 1u << 20);
    EXPECT_EQ(r.pos, 1 << 20);
    uint8_t buf[16];
    EXPECT_EQ(readWsdData(&r.info, buf, 16), 0);
    std::fclose(f);
}

TEST(ReadWsdHeader, DataOffsetIsUnsigned) {
    Bytes h = expected_header(sample_info(nullptr), false);
    for (size_t i = 0x18; i < 0x1C; ++i) h[i] = 0xFF;
    FILE* f = stream_with(h);
    Read r = read_header(f);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.pos, 0xFFFFFFFFLL) << "not a negative offset";
    std::fclose(f);
}

TEST(ReadWsdHeader, EveryShortReadFails) {
    // The reader consumes 0x34 bytes before it seeks. Cut the header at each
    // length below that: the read that runs into the end fails; only the
    // 32-bit numbers go through the primitive that prints.
    const Bytes full = expected_header(sample_info(nullptr), false);
    auto by_primitive = [](size_t len) { return (len >= 0x0C && len < 0x1C) || (len >= 0x24 && len < 0x28); };
    for (size_t len = 0; len < 0x34; ++len) {
        Read r = read_bytes(Bytes(full.begin(), full.begin() + len));
        EXPECT_EQ(r.result, -1) << "cut at " << len;
        EXPECT_EQ(r.err, by_primitive(len) ? "fread() failed.\n" : "") << "cut at " << len;
    }
    Read r = read_bytes(Bytes(full.begin(), full.begin() + 0x34));
    EXPECT_EQ(r.result, 0) << "the rest of the header is not read";
}

TEST(ReadWsdHeader, FailingSeekFailsSilently) {
    FILE* f = pipe_reading(expected_header(sample_info(nullptr), false));
    Read r = read_header(f);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.info.channel_count, 2) << "stored before the seek";
    EXPECT_EQ(r.info.sample_rate, marked_info(nullptr).sample_rate) << "stored only after the seek";
    std::fclose(f);
}

// ---- frame reader -----------------------------------------------------------

FILE* wsd_with_frames(int channels, int frames) {
    WsdInfo info = sample_info(nullptr);
    info.channel_count = static_cast<uint8_t>(channels);
    Bytes data;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) data.push_back(static_cast<uint8_t>(16 * c + i));
    return stream_with(cat({expected_header(info, false), data}));
}

TEST(ReadWsdData, TakesTheFirstTwoChannelsOfEachFrame) {
    FILE* f = wsd_with_frames(6, 4);
    Read r = read_header(f);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.info.channel_count, 6);
    uint8_t buf[8];
    ASSERT_EQ(readWsdData(&r.info, buf, 8), 8);
    const uint8_t expected[8] = {0x00, 0x10, 0x01, 0x11, 0x02, 0x12, 0x03, 0x13};
    EXPECT_EQ(std::memcmp(buf, expected, 8), 0);
    EXPECT_EQ(ftello(f), 2048 + 24);
    std::fclose(f);
}

TEST(ReadWsdData, RoundsDownAndFillsTheLastGroupWith0x96) {
    FILE* f = wsd_with_frames(2, 3);
    Read r = read_header(f);
    ASSERT_EQ(r.result, 0);
    uint8_t buf[100];
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(readWsdData(&r.info, buf, 7), 0);
    EXPECT_EQ(ftello(f), 2048) << "nothing read for less than a group";
    EXPECT_EQ(readWsdData(&r.info, buf, 100), 8);
    const uint8_t expected[9] = {0x00, 0x10, 0x01, 0x11, 0x02, 0x12, 0x96, 0x96, 0xAA};
    EXPECT_EQ(std::memcmp(buf, expected, 9), 0);
    EXPECT_EQ(readWsdData(&r.info, buf, 100), 0);
    std::fclose(f);
}

TEST(ReadWsdData, StopsAtTheRoundedSize) {
    FILE* f = wsd_with_frames(10, 60);
    Read r = read_header(f);
    ASSERT_EQ(r.result, 0);
    uint8_t buf[101];
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(readWsdData(&r.info, buf, 100), 96);
    EXPECT_EQ(buf[94], 47);
    EXPECT_EQ(buf[95], 0x10 + 47);
    EXPECT_EQ(buf[96], 0xAA);
    EXPECT_EQ(ftello(f), 2048 + 48 * 10);
    std::fclose(f);
}

TEST(ReadWsdData, ChannelCountsBelowTwoReadNothing) {
    // The header reader accepts a count of 0 or 1; the frame reader, which
    // needs two channels, then delivers nothing.
    for (int count : {0, 1}) {
        FILE* f = wsd_with_frames(count, 8);
        Read r = read_header(f);
        ASSERT_EQ(r.result, 0);
        uint8_t buf[8];
        EXPECT_EQ(readWsdData(&r.info, buf, 8), 0) << count;
        std::fclose(f);
    }
}

// ---- failing writes -----------------------------------------------------------

struct Field {
    size_t offset;
    size_t size;
    int number;           // report line; the status is one more
    const char* message;  // after the report prefix
    bool primitive;       // "file write error\n" comes first
};

// Where each byte of the header comes from, in the order of writing.
std::vector<Field> layout(bool be64) {
    const char* putc_failed = "putc() failed.\n";
    const char* write_failed = "write failed.\n";
    std::vector<Field> f = {
        {0x000, 4, 178, "fwrite() failed.\n", false},
        {0x004, 4, 155, putc_failed, false},
        {0x008, 1, 188, "version number write failed.\n", false},
        {0x009, 3, 155, putc_failed, false},
    };
    if (be64) {
        f.push_back({0x00C, 8, 196, write_failed, true});
    } else {
        f.push_back({0x00C, 4, 196, write_failed, true});
        f.push_back({0x010, 4, 202, write_failed, true});
    }
    std::vector<Field> rest = {
        {0x014, 4, 209, write_failed, true},
        {0x018, 4, 216, write_failed, true},
        {0x01C, 4, 155, putc_failed, false},
        {0x020, 4, 227, write_failed, true},
        {0x024, 4, 234, write_failed, true},
        {0x028, 4, 155, putc_failed, false},
        {0x02C, 1, 244, "channel number write failed.\n", false},
        {0x02D, 3, 155, putc_failed, false},
        {0x030, 4, 252, write_failed, true},
        {0x034, 4, 155, putc_failed, false},
        {0x038, 4, 262, write_failed, true},
        {0x03C, 4, 155, putc_failed, false},
        {0x040, 8, 272, write_failed, true},
        {0x048, 8, 277, write_failed, true},
        {0x050, 48, 155, putc_failed, false},
        {0x080, 1920, 155, putc_failed, false},
    };
    f.insert(f.end(), rest.begin(), rest.end());
    return f;
}

TEST(WriteWsdHeaderLayout, FieldsCoverTheHeaderOnce) {
    for (bool be64 : {false, true}) {
        size_t next = 0;
        for (const auto& field : layout(be64)) {
            EXPECT_EQ(field.offset, next);
            next = field.offset + field.size;
        }
        EXPECT_EQ(next, 2048u);
    }
}

void write_failing_at(size_t n, int order) {
    wsd_size_order = order;
    Sink sink;
    sink.fail_at = n;
    WsdInfo info = sample_info(open_sink(&sink));
    writeWsdHeader(&info);
}

TEST(WriteWsdHeaderDeathTest, EachFieldReportsItsFailure) {
    SettingsGuard guard;
    for (int order : {WSD_SIZE_LOW_HALF_FIRST, WSD_SIZE_BE64}) {
        for (const auto& field : layout(order == WSD_SIZE_BE64)) {
            // The two orders differ only in the size field.
            if (order == WSD_SIZE_BE64 && field.offset != 0x0C) continue;
            std::string expected = std::string(field.primitive ? "file write error\n" : "") + "\nERROR wsd " +
                                   std::to_string(field.number) + " " + field.message;
            // The first and the last byte of each field.
            for (size_t n : {field.offset, field.offset + field.size - 1}) {
                EXPECT_EXIT(write_failing_at(n, order), ::testing::ExitedWithCode((field.number + 1) & 0xFF),
                            ::testing::Eq(expected))
                    << "failing at byte " << n << ", order " << order;
            }
        }
    }
}

TEST(WriteWsdHeaderDeathTest, FailingWriteLeavesTheBytesBefore) {
    // The bytes before the failing one are in the stream when the writer
    // gives up: the child reports how many arrived through its status.
    SettingsGuard guard;
    auto count_before_failure = [](size_t n) {
        static Sink sink;
        static Bytes want;
        sink.fail_at = n;
        want = expected_header(sample_info(nullptr), false);
        want.resize(n);
        WsdInfo info = sample_info(open_sink(&sink));
        std::atexit([] { std::_Exit(sink.data == want ? 0 : 1); });
        writeWsdHeader(&info);
    };
    for (size_t n : {size_t{2}, size_t{0x0D}, size_t{0x44}, size_t{0x7FF}}) {
        EXPECT_EXIT(count_before_failure(n), ::testing::ExitedWithCode(0), "") << "byte " << n;
    }
}

TEST(WriteWsdHeaderDeathTest, FullDeviceFailsAtTheMagic) {
    FILE* probe = std::fopen("/dev/full", "wb");
    if (probe == nullptr) GTEST_SKIP() << "no /dev/full";
    std::fclose(probe);
    EXPECT_EXIT(
        {
            FILE* f = std::fopen("/dev/full", "wb");
            setvbuf(f, nullptr, _IONBF, 0);
            WsdInfo info = sample_info(f);
            writeWsdHeader(&info);
        },
        ::testing::ExitedWithCode(179), ::testing::Eq("\nERROR wsd 178 fwrite() failed.\n"));
}

TEST(WriteWsdHeaderDeathTest, FailingSeekReportsTheSystemError) {
    const std::string expected = "\nERROR wsd 169 fseeko() failed.\nIllegal seek\n";
    EXPECT_EXIT(
        {
            PipeSink p = pipe_writing();
            WsdInfo info = sample_info(p.file);
            writeWsdHeader(&info);
        },
        ::testing::ExitedWithCode(171), ::testing::Eq(expected));
    EXPECT_EXIT(
        {
            Sink sink;
            sink.seekable = false;
            WsdInfo info = sample_info(open_sink(&sink));
            writeWsdHeader(&info);
        },
        ::testing::ExitedWithCode(171), ::testing::Eq(expected));
}

TEST(WriteWsdHeader, SucceedsWhenTheLastByteFits) {
    Sink sink;
    sink.fail_at = 2048;
    WsdInfo info = sample_info(open_sink(&sink));
    StderrCapture err;
    EXPECT_EQ(writeWsdHeader(&info), 0);
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(sink.data, expected_header(sample_info(nullptr), false));
    std::fclose(info.file);
}

}  // namespace
