// The 84-byte RF64 header: exact bytes for the lengths the converter
// writes, rewriting in place, and every failing step.
#include <gtest/gtest.h>

#include <string>

#include "streams.h"
#include "testutil.h"
#include "wav.h"

using namespace fmt_test;

namespace {

// The header assembled from the RF64 layout, little-endian throughout.
Bytes expected_header(uint64_t frames) {
    Bytes h;
    testutil::put_str(h, "RF64");
    testutil::put_le(h, 0xFFFFFFFF, 4);
    testutil::put_str(h, "WAVEds64");
    testutil::put_le(h, 28, 4);
    testutil::put_le(h, 4 * frames + 76, 8);
    testutil::put_le(h, 4 * frames, 8);
    testutil::put_le(h, frames, 8);
    testutil::put_le(h, 0, 4);
    testutil::put_str(h, "fmt ");
    testutil::put_le(h, 20, 4);
    testutil::put_le(h, 1, 2);       // PCM
    testutil::put_le(h, 2, 2);       // channels
    testutil::put_le(h, 44100, 4);   // frames per second
    testutil::put_le(h, 176400, 4);  // bytes per second
    testutil::put_le(h, 4, 2);       // bytes per frame
    testutil::put_le(h, 16, 2);      // bits per sample
    testutil::put_le(h, 0, 4);       // no extension, two zero bytes
    testutil::put_str(h, "data");
    testutil::put_le(h, 0xFFFFFFFF, 4);
    return h;
}

Bytes write_header(uint64_t frames, long long* pos = nullptr) {
    FILE* f = stream_with({});
    StderrCapture err;
    EXPECT_EQ(writeWavHeader(f, frames), -1);
    EXPECT_EQ(err.text(), "");
    if (pos) *pos = ftello(f);
    Bytes b = contents(f);
    std::fclose(f);
    return b;
}

TEST(WriteWavHeader, NoFrames) {
    long long pos = -1;
    Bytes b = write_header(0, &pos);
    ASSERT_EQ(b.size(), 84u);
    EXPECT_EQ(b, expected_header(0));
    EXPECT_EQ(pos, 84);
    EXPECT_EQ(testutil::le(b, 20, 8), 76u);
    EXPECT_EQ(testutil::le(b, 28, 8), 0u);
    EXPECT_EQ(testutil::le(b, 36, 8), 0u);
}

TEST(WriteWavHeader, OneSecondOfSound) {
    FILE* f = stream_with({});
    ASSERT_NE(writeWavHeader(f, 0), 0);
    Bytes samples(176400);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i ^ (i >> 8));
    std::fwrite(samples.data(), 1, samples.size(), f);
    ASSERT_NE(writeWavHeader(f, 44100), 0);
    EXPECT_EQ(ftello(f), 84);
    Bytes b = contents(f);
    std::fclose(f);
    ASSERT_EQ(b.size(), 176484u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 84), expected_header(44100));
    EXPECT_EQ(testutil::le(b, 20, 8), 176476u);
    EXPECT_EQ(testutil::le(b, 20, 8) + 8, b.size());
    EXPECT_EQ(testutil::le(b, 28, 8), 176400u);
    EXPECT_EQ(testutil::le(b, 36, 8), 44100u);
    EXPECT_EQ(Bytes(b.begin() + 84, b.end()), samples) << "samples untouched by the rewrite";
}

TEST(WriteWavHeader, Placeholder) {
    Bytes b = write_header(4294967295);
    EXPECT_EQ(b, expected_header(4294967295));
    EXPECT_EQ(Bytes(b.begin() + 28, b.begin() + 36), (Bytes{0xFC, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}));
    EXPECT_EQ(Bytes(b.begin() + 36, b.begin() + 44), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    EXPECT_EQ(testutil::le(b, 20, 8), UINT64_C(17179869256));
    EXPECT_EQ(testutil::le(b, 28, 8), UINT64_C(17179869180));
}

TEST(WriteWavHeader, SizesAreSixtyFourBitsWide) {
    const uint64_t frames = (UINT64_C(1) << 40) + 3;
    Bytes b = write_header(frames);
    EXPECT_EQ(b, expected_header(frames));
    EXPECT_EQ(testutil::le(b, 28, 8), frames * 4);
}

// Each step of the header and what it says when its first byte fails.
struct Step {
    size_t offset;
    size_t size;
    int number;
    bool primitive;  // "file write error\n" first
};

const Step kSteps[] = {
    {0, 16, 195, false},  {16, 4, 202, true}, {20, 8, 211, true},  {28, 8, 217, true},  {36, 8, 223, true},
    {44, 4, 229, true},   {48, 4, 234, false}, {52, 4, 239, true}, {56, 20, 243, false}, {76, 8, 248, false},
};

TEST(WriteWavHeaderFailures, EachStepReportsAndReturnsZero) {
    size_t next = 0;
    for (const auto& step : kSteps) {
        ASSERT_EQ(step.offset, next);
        next = step.offset + step.size;
        const std::string expected = std::string(step.primitive ? "file write error\n" : "") + "\nERROR wav " +
                                     std::to_string(step.number) + " write failed.\n";
        for (size_t n : {step.offset, step.offset + step.size - 1}) {
            Sink sink;
            sink.fail_at = n;
            FILE* f = open_sink(&sink);
            StderrCapture err;
            EXPECT_EQ(writeWavHeader(f, 44100), 0) << "failing at byte " << n;
            EXPECT_EQ(err.text(), expected) << "failing at byte " << n;
            // Whole items written with one fwrite may be cut anywhere; the
            // byte-wise primitives stop exactly at the failing byte.
            if (step.primitive) {
                Bytes want = expected_header(44100);
                want.resize(n);
                EXPECT_EQ(sink.data, want) << "failing at byte " << n;
            }
            sink.fail_at = SIZE_MAX;
            std::fclose(f);
        }
    }
    EXPECT_EQ(next, 84u);
}

TEST(WriteWavHeaderFailures, ExactlyEightyFourBytesSucceed) {
    Sink sink;
    sink.fail_at = 84;
    FILE* f = open_sink(&sink);
    EXPECT_EQ(writeWavHeader(f, 7), -1);
    EXPECT_EQ(sink.data, expected_header(7));
    std::fclose(f);
}

TEST(WriteWavHeaderFailures, FullDeviceFailsAtTheFirstItem) {
    // A real file descriptor that refuses every byte, unbuffered so that
    // the failure shows in the call that writes.
    FILE* f = std::fopen("/dev/full", "wb");
    if (f == nullptr) GTEST_SKIP() << "no /dev/full";
    setvbuf(f, nullptr, _IONBF, 0);
    StderrCapture err;
    EXPECT_EQ(writeWavHeader(f, 0), 0);
    EXPECT_EQ(err.text(), "\nERROR wav 195 write failed.\n");
    std::fclose(f);
}

TEST(WriteWavHeaderDeathTest, FailingSeekExitsWith191) {
    const std::string expected = "\nERROR wav 189 fseeko() failed.\nIllegal seek\n";
    EXPECT_EXIT(
        {
            PipeSink p = pipe_writing();
            writeWavHeader(p.file, 0);
        },
        ::testing::ExitedWithCode(191), ::testing::Eq(expected));
    EXPECT_EXIT(
        {
            Sink sink;
            sink.seekable = false;
            writeWavHeader(open_sink(&sink), 0);
        },
        ::testing::ExitedWithCode(191), ::testing::Eq(expected));
}

}  // namespace
