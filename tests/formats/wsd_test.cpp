// WSD header reader: what it checks, stores and leaves alone, both size
// orders, short reads and the failing seek.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bytes.h"
#include "streams.h"
#include "wsd.h"

using namespace fmt_test;

namespace {

WsdInfo marked_info() {
    WsdInfo info;
    std::memset(&info, 0x5A, sizeof info);
    return info;
}

const WsdInfo kMarks = marked_info();

using Read = HeaderRead<WsdInfo>;

Read read_bytes(const Bytes& bytes) { return {stream_with(bytes), readWsdHeader, kMarks}; }

Bytes header_with(size_t offset, const Bytes& value, uint64_t file_size = UINT64_C(0x0000000500000BE8), bool be64 = false) {
    WsdInfo info = sample_wsd_info();
    info.file_size = file_size;
    Bytes h = wsd_header(info, be64);
    std::copy(value.begin(), value.end(), h.begin() + static_cast<long>(offset));
    return h;
}

TEST(ReadWsdHeader, OnlyTheMagicAndTheChannelCountAreChecked) {
    const uint64_t sample_size = UINT64_C(0x0000000500000BE8), all = UINT64_C(0xFFFFFFFFFFFFFFFF);
    const struct {
        const char* name;
        Bytes bytes;
        int result;
        long long pos;
        uint64_t file_size;  // as read when accepted
    } rows[] = {
        {"10 channels", header_with(0x2C, {10}), 0, 2048, sample_size},
        {"0 channels", header_with(0x2C, {0}), 0, 2048, sample_size},
        {"11 channels", header_with(0x2C, {11}), -1, 0x2D, 0},
        {"255 channels", header_with(0x2C, {255}), -1, 0x2D, 0},
        {"3048 bytes", header_with(0x2C, {2}, 3048), 0, 2048, 3048},
        {"all size bits", header_with(0x2C, {2}, all), 0, 2048, all},
        // The reader takes the low half first: one big-endian value comes
        // back with its halves exchanged.
        {"3048 bytes as one value", header_with(0x2C, {2}, 3048, true), 0, 2048, UINT64_C(3048) << 32},
        {"version and reserved bytes", header_with(0x04, {'x', 0, 0, 0, 0xFF}), 0, 2048, sample_size},
        {"text offset", header_with(0x14, {0x77, 0x77, 0x77, 0x77}), 0, 2048, sample_size},
        {"channel assignment", header_with(0x30, {0x88, 0x88, 0x88, 0x88}), 0, 2048, sample_size},
        {"data offset beyond the end", header_with(0x18, be(1 << 20, 4)), 0, 1 << 20, sample_size},
        {"data offset is unsigned", header_with(0x18, {0xFF, 0xFF, 0xFF, 0xFF}), 0, 0xFFFFFFFFLL, sample_size},
        {"dsdiff file", cat({str("FRM8"), Bytes(2044, 0)}), -1, 4, 0},
    };
    for (const auto& row : rows) {
        Read r = read_bytes(row.bytes);
        EXPECT_EQ(r.result, row.result) << row.name;
        EXPECT_EQ(r.err, "") << row.name;
        EXPECT_EQ(r.pos, row.pos) << row.name;
        if (row.result != 0) continue;
        EXPECT_EQ(r.info.file_size, row.file_size) << row.name;
        EXPECT_EQ(r.info.version, row.bytes[8]) << row.name;
        EXPECT_EQ(r.info.data_offset, static_cast<uint64_t>(row.pos)) << row.name;
        EXPECT_EQ(r.info.sample_rate, 5644800u) << row.name;
        EXPECT_EQ(r.info.channel_count, row.bytes[0x2C]) << row.name;
        // Fields the reader does not read are left alone.
        EXPECT_EQ(r.info.text_offset, kMarks.text_offset) << row.name;
        EXPECT_EQ(r.info.play_time, kMarks.play_time) << row.name;
        EXPECT_EQ(r.info.channel_assignment, kMarks.channel_assignment) << row.name;
        EXPECT_EQ(r.info.extra_38, kMarks.extra_38) << row.name;
    }
    EXPECT_EQ(read_bytes(rows[7].bytes).info.version, 0xFF);

    // Refused for its count: the fields before it are stored, the count and
    // the rate are not.
    Read r = read_bytes(rows[2].bytes);
    EXPECT_EQ(r.info.version, 0x11);
    EXPECT_EQ(r.info.file_size, sample_size);
    EXPECT_EQ(r.info.data_offset, 2048u);
    EXPECT_EQ(r.info.channel_count, kMarks.channel_count);
    EXPECT_EQ(r.info.sample_rate, kMarks.sample_rate);
    // Refused for its magic: nothing stored.
    Read frm8 = read_bytes(rows[12].bytes);
    EXPECT_EQ(frm8.info.version, kMarks.version);
    EXPECT_EQ(frm8.info.file_size, kMarks.file_size);
}

TEST(ReadWsdHeader, EveryShortReadFails) {
    // The reader consumes 0x34 bytes before it seeks. Cut the header at each
    // length below that: the read that runs into the end fails; only the
    // 32-bit numbers go through the primitive that prints.
    const Bytes full = wsd_header(sample_wsd_info(), false);
    auto by_primitive = [](size_t len) { return (len >= 0x0C && len < 0x1C) || (len >= 0x24 && len < 0x28); };
    for (size_t len = 0; len < 0x34; ++len) {
        Read r = read_bytes(Bytes(full.begin(), full.begin() + static_cast<long>(len)));
        EXPECT_EQ(r.result, -1) << "cut at " << len;
        EXPECT_EQ(r.err, by_primitive(len) ? "fread() failed.\n" : "") << "cut at " << len;
    }
    EXPECT_EQ(read_bytes(Bytes(full.begin(), full.begin() + 0x34)).result, 0) << "the rest of the header is not read";
}

TEST(ReadWsdHeader, FailingSeekFailsSilently) {
    Read r(pipe_reading(wsd_header(sample_wsd_info(), false)), readWsdHeader, kMarks);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.info.channel_count, 2) << "stored before the seek";
    EXPECT_EQ(r.info.sample_rate, kMarks.sample_rate) << "stored only after the seek";
}

}  // namespace
