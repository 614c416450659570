// The two frame readers: the chosen channel pair of each frame, sizes
// rounded down to groups of 8, the 0x96 fill of a last partial group, and
// records outside their preconditions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bytes.h"
#include "dsdiff.h"
#include "streams.h"
#include "wsd.h"

using namespace fmt_test;

namespace {

// Sound data of `frames` frames of `channels` bytes: byte = 16 * channel + frame.
Bytes frame_data(int channels, int frames) {
    Bytes data;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) data.push_back(static_cast<uint8_t>(16 * c + i));
    return data;
}

// A DSDIFF or WSD file of such frames, opened and read up to the sound.
struct Opened {
    bool wsd;
    FILE* f;
    DsdiffInfo dff{};
    WsdInfo w{};
    long long start;

    Opened(bool is_wsd, int channels, int frames, uint16_t left = 0, uint16_t right = 1) : wsd(is_wsd) {
        if (wsd) {
            Bytes h(WSD_HEADER_SIZE, 0);
            std::memcpy(h.data(), "1bit", 4);
            h[0x1A] = 0x08;  // sound data at 0x800
            h[0x2C] = static_cast<uint8_t>(channels);
            f = stream_with(cat({h, frame_data(channels, frames)}));
            w.file = f;
            EXPECT_EQ(readWsdHeader(&w), 0);
        } else {
            std::vector<std::string> ids;
            for (int c = 0; c < channels; ++c) ids.push_back("C00" + std::to_string(c));
            f = stream_with(form(cat({prop(cat({fs(), chnl(ids)})), sound(frame_data(channels, frames))})));
            dff.file = f;
            EXPECT_EQ(readDsdHeader(&dff), 0);
            dff.left_channel = left;
            dff.right_channel = right;
        }
        start = ftello(f);
    }
    ~Opened() { std::fclose(f); }
    int read(uint8_t* buf, int size) { return wsd ? readWsdData(&w, buf, size) : readDsdData(&dff, buf, size); }
};

TEST(FrameReaders, PairsRoundingAndFill) {
    const struct {
        bool wsd;
        int channels, frames, left, right;
        int request, returned, consumed, again;  // consumed in frames; again: a second call of the same size
    } rows[] = {
        {false, 6, 8, 4, 1, 16, 16, 8, 0},     // the chosen pair, then the end of the data
        {false, 2, 100, 0, 1, 100, 96, 48, 96},  // rounded down to whole groups of 8
        {false, 2, 3, 0, 1, 100, 8, 3, 0},     // partial group completed with 0x96
        {false, 3, 4, 2, 2, 24, 8, 4, 0},      // a full group at the end needs no fill
        {false, 2, 16, 0, 1, 7, 0, 0, 0},      // less than a group
        {false, 2, 16, 0, 1, 0, 0, 0, 0},
        {true, 6, 4, 0, 1, 8, 8, 4, 0},        // channels 0 and 1 of each frame
        {true, 2, 3, 0, 1, 7, 0, 0, 0},
        {true, 2, 3, 0, 1, 100, 8, 3, 0},
        {true, 10, 60, 0, 1, 100, 96, 48, 24},
        {true, 0, 8, 0, 1, 8, 0, 0, 0},        // the header reader accepts counts 0 and 1,
        {true, 1, 8, 0, 1, 8, 0, 0, 0},        // the frame reader then delivers nothing
    };
    for (const auto& row : rows) {
        const std::string label = std::string(row.wsd ? "wsd " : "dsdiff ") + std::to_string(row.channels) + "x" +
                                  std::to_string(row.frames) + " asking " + std::to_string(row.request);
        Opened o(row.wsd, row.channels, row.frames, static_cast<uint16_t>(row.left), static_cast<uint16_t>(row.right));
        uint8_t buf[128];
        std::memset(buf, 0xAA, sizeof buf);
        ASSERT_EQ(o.read(buf, row.request), row.returned) << label;
        for (int k = 0; k < row.returned / 2; ++k) {
            const bool real = k < row.frames;
            EXPECT_EQ(buf[2 * k], real ? 16 * row.left + k : 0x96) << label << " frame " << k;
            EXPECT_EQ(buf[2 * k + 1], real ? 16 * row.right + k : 0x96) << label << " frame " << k;
        }
        for (int i = row.returned; i < row.request + 1; ++i) EXPECT_EQ(buf[i], 0xAA) << label << " beyond, at " << i;
        EXPECT_EQ(ftello(o.f) - o.start, row.consumed * row.channels) << label;
        EXPECT_EQ(o.read(buf, row.request), row.again) << label << ", second call";
    }
}

TEST(FrameReaders, DsdiffRecordsOutsideThePreconditionsReadNothing) {
    // No caller should pass these, but no record may make the reader touch
    // memory outside its frame buffer.
    Opened o(false, 2, 16);
    uint8_t buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    const struct {
        uint16_t count, left, right;
        int size;
    } rows[] = {{0, 0, 1, 16}, {11, 0, 1, 16}, {2, 10, 1, 16}, {2, 0, 0xFFFF, 16}, {2, 0, 1, -8}};
    for (const auto& row : rows) {
        o.dff.channel_count = row.count;
        o.dff.left_channel = row.left;
        o.dff.right_channel = row.right;
        EXPECT_EQ(o.read(buf, row.size), 0) << row.count << " " << row.left << " " << row.right << " " << row.size;
    }
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(ftello(o.f), o.start);
}

}  // namespace
