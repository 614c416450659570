// The 130-byte two-channel DSDIFF header: exact bytes, 64-bit sizes,
// rewriting in place, reading it back, and the failing write.
#include <gtest/gtest.h>

#include <cstring>

#include "dff_bytes.h"
#include "dsdiff.h"
#include "streams.h"

using namespace fmt_test;

namespace {

// The header as the chunk rules build it, independent of the writer's template.
Bytes expected_header(uint32_t rate, uint64_t data_size) {
    Bytes chunks = cat({prop(cat({fs(rate), chnl({"SLFT", "SRGT"}), cmpr()})), fver(0x01050000), head("DSD ", data_size)});
    return form_with_size(data_size + 118, chunks);
}

Bytes write_header(uint32_t rate, uint64_t data_size, long long* pos = nullptr) {
    FILE* f = stream_with({});
    DsdiffInfo info{};
    info.file = f;
    info.sample_rate = rate;
    info.data_size = data_size;
    EXPECT_EQ(dsdiffWriteHeader(&info), 0);
    if (pos) *pos = ftello(f);
    Bytes b = contents(f);
    std::fclose(f);
    return b;
}

TEST(DsdiffWriteHeader, EmptySoundAt2822400IsTheTemplate) {
    long long pos = -1;
    Bytes b = write_header(2822400, 0, &pos);
    ASSERT_EQ(b.size(), 130u);
    EXPECT_EQ(b, expected_header(2822400, 0));
    EXPECT_EQ(pos, 130);
    EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 12), (Bytes{0, 0, 0, 0, 0, 0, 0, 118}));
    EXPECT_EQ(Bytes(b.begin() + 44, b.begin() + 48), (Bytes{0x00, 0x2B, 0x11, 0x00}));
    EXPECT_EQ(Bytes(b.begin() + 114, b.begin() + 118), (Bytes{1, 5, 0, 0}));
    EXPECT_EQ(b[101], 0) << "pad after the compression name";
}

TEST(DsdiffWriteHeader, AllSixtyFourBitsOfTheSizesAreWritten) {
    Bytes b = write_header(5644800, UINT64_C(1) << 32);
    EXPECT_EQ(b, expected_header(5644800, UINT64_C(1) << 32));
    EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 12), (Bytes{0, 0, 0, 1, 0, 0, 0, 0x76}));
    EXPECT_EQ(Bytes(b.begin() + 122, b.begin() + 130), (Bytes{0, 0, 0, 1, 0, 0, 0, 0}));

    b = write_header(0xFFFFFFFF, UINT64_C(0x0102030405060708));
    EXPECT_EQ(b, expected_header(0xFFFFFFFF, UINT64_C(0x0102030405060708)));
}

TEST(DsdiffWriteHeader, RewritingReplacesOnlyTheHeader) {
    Bytes sound(1000);
    for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<uint8_t>(i * 7);
    FILE* f = stream_with(cat({Bytes(130, 0xEE), sound}));
    std::fseek(f, 0, SEEK_END);  // wherever the caller stands
    DsdiffInfo info{};
    info.file = f;
    info.sample_rate = 11289600;
    info.data_size = sound.size();
    EXPECT_EQ(dsdiffWriteHeader(&info), 0);
    EXPECT_EQ(ftello(f), 130);
    EXPECT_EQ(contents(f), cat({expected_header(11289600, 1000), sound}));
    std::fclose(f);
}

TEST(DsdiffWriteHeader, ReadsBackWithTheReader) {
    const Bytes frames = {0xA1, 0xB1, 0xA2, 0xB2, 0xA3, 0xB3, 0xA4, 0xB4, 0xA5, 0xB5};
    FILE* f = stream_with({});
    DsdiffInfo out{};
    out.file = f;
    out.sample_rate = 2822400;
    out.data_size = frames.size();
    ASSERT_EQ(dsdiffWriteHeader(&out), 0);
    std::fwrite(frames.data(), 1, frames.size(), f);
    std::rewind(f);

    DsdiffInfo in;
    std::memset(&in, 0, sizeof in);
    in.file = f;
    SettingsGuard guard;
    dsdiff_reporting = 1;
    StderrCapture err;
    ASSERT_EQ(readDsdHeader(&in), 0);
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(in.channel_count, 2);
    EXPECT_STREQ(in.channel_ids[0], "SLFT");
    EXPECT_STREQ(in.channel_ids[1], "SRGT");
    EXPECT_EQ(in.version, 0x01050000u);
    EXPECT_EQ(in.sample_rate, 2822400u);
    EXPECT_EQ(in.data_size, frames.size());
    EXPECT_EQ(ftello(f), 130);

    in.left_channel = 1;
    in.right_channel = 0;
    uint8_t buf[16];
    // Five frames, then the group of 8 is completed with 0x96.
    ASSERT_EQ(readDsdData(&in, buf, 16), 16);
    const uint8_t swapped[16] = {0xB1, 0xA1, 0xB2, 0xA2, 0xB3, 0xA3, 0xB4, 0xA4,
                                 0xB5, 0xA5, 0x96, 0x96, 0x96, 0x96, 0x96, 0x96};
    EXPECT_EQ(std::memcmp(buf, swapped, 16), 0);
    std::fclose(f);
}

TEST(DsdiffWriteHeader, SeekResultIsNotTestedSoAPipeTakesTheHeader) {
    PipeSink sink = pipe_writing();
    DsdiffInfo info{};
    info.file = sink.file;
    info.sample_rate = 2822400;
    info.data_size = 0;
    StderrCapture err;
    EXPECT_EQ(dsdiffWriteHeader(&info), 0);
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(drain_pipe(sink), expected_header(2822400, 0));
}

TEST(DsdiffWriteHeader, WritesOfExactly130BytesSucceed) {
    Sink sink;
    sink.fail_at = 130;
    FILE* f = open_sink(&sink);
    DsdiffInfo info{};
    info.file = f;
    info.sample_rate = 2822400;
    EXPECT_EQ(dsdiffWriteHeader(&info), 0);
    EXPECT_EQ(sink.data, expected_header(2822400, 0));
    std::fclose(f);
}

void write_failing_at(size_t n) {
    Sink sink;
    sink.fail_at = n;
    DsdiffInfo info{};
    info.file = open_sink(&sink);
    info.sample_rate = 2822400;
    dsdiffWriteHeader(&info);
}

TEST(DsdiffWriteHeaderDeathTest, FailingWriteExitsWith276) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{64}, size_t{129}}) {
        // A process status keeps the low 8 bits of the value passed to exit().
        EXPECT_EXIT(write_failing_at(n), ::testing::ExitedWithCode(276 & 0xFF),
                    ::testing::Eq("\nERROR dsdiff 275 Header write error.\n"))
            << "write failing at byte " << n;
    }
}

TEST(DsdiffWriteHeaderDeathTest, FullDeviceExitsWith276) {
    FILE* probe = std::fopen("/dev/full", "wb");
    if (probe == nullptr) GTEST_SKIP() << "no /dev/full";
    std::fclose(probe);
    EXPECT_EXIT(
        {
            FILE* f = std::fopen("/dev/full", "wb");
            setvbuf(f, nullptr, _IONBF, 0);
            DsdiffInfo info{};
            info.file = f;
            dsdiffWriteHeader(&info);
        },
        ::testing::ExitedWithCode(276 & 0xFF), ::testing::Eq("\nERROR dsdiff 275 Header write error.\n"));
}

}  // namespace
