// The converter's small parts on their own: ring buffer arithmetic, the
// "--channels=" reader, sample conversion, the group rule of the block
// reader and the console lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "parse_param.h"
#include "ringbuffer.h"
#include "sigmelt.h"
#include "util.h"

namespace {

// ---- ring buffer ----

TEST(Ringbuffer, CreationRoundsDownToUnitsAndRefusesUnusableShapes) {
    Ringbuffer* rb = ringbuffer_new(10, 4);
    ASSERT_NE(rb, nullptr);
    EXPECT_EQ(rb->len, 8u);
    EXPECT_EQ(rb->size, 10u);
    EXPECT_EQ(rb->marker, nullptr);
    EXPECT_EQ(rb->producing.load(), 1u);
    EXPECT_EQ(ringbuffer_level(rb), 0u);
    EXPECT_EQ(ringbuffer_space(rb), 4);
    ringbuffer_destroy(&rb);
    EXPECT_EQ(rb, nullptr);
    ringbuffer_destroy(&rb);  // a second release does nothing

    rb = ringbuffer_new(1048576, 4);
    ASSERT_NE(rb, nullptr);
    EXPECT_EQ(rb->len, 1048576u);
    EXPECT_EQ(ringbuffer_space(rb), 1048572);
    ringbuffer_destroy(&rb);

    EXPECT_EQ(ringbuffer_new(16, 0), nullptr);
    EXPECT_EQ(ringbuffer_new(3, 4), nullptr);  // not one whole unit
}

TEST(Ringbuffer, PutSplitsAtTheWrapAndKeepsOneUnitFree) {
    Ringbuffer* rb = ringbuffer_new(16, 4);
    ASSERT_NE(rb, nullptr);
    // Move both indices to two bytes before the end.
    rb->write_pos = 14;
    rb->read_pos = 14;
    const uint8_t frame[4] = {1, 2, 3, 4};
    EXPECT_EQ(ringbuffer_put(rb, frame, 4), 4u);
    EXPECT_EQ(rb->write_pos.load(), 2u);
    EXPECT_EQ(rb->buffer[14], 1);
    EXPECT_EQ(rb->buffer[15], 2);
    EXPECT_EQ(rb->buffer[0], 3);
    EXPECT_EQ(rb->buffer[1], 4);
    EXPECT_EQ(ringbuffer_level(rb), 4u);
    EXPECT_EQ(ringbuffer_run(rb), 2u);  // a run never wraps
    ringbuffer_advance(rb, 2);
    EXPECT_EQ(rb->read_pos.load(), 0u);
    EXPECT_EQ(ringbuffer_run(rb), 2u);
    ringbuffer_advance(rb, 2);
    EXPECT_EQ(ringbuffer_level(rb), 0u);  // empty again at any index

    // Fill up: one unit stays free.
    EXPECT_EQ(ringbuffer_put(rb, frame, 4), 4u);
    EXPECT_EQ(ringbuffer_put(rb, frame, 4), 4u);
    EXPECT_EQ(ringbuffer_put(rb, frame, 4), 4u);
    EXPECT_EQ(ringbuffer_space(rb), 0);
    EXPECT_EQ(ringbuffer_put(rb, frame, 4), 0u);
    EXPECT_EQ(ringbuffer_level(rb), 12u);
    ringbuffer_destroy(&rb);
}

TEST(Ringbuffer, DrainedOnlyAfterTheProducerFinished) {
    Ringbuffer* rb = ringbuffer_new(16, 4);
    ASSERT_NE(rb, nullptr);
    EXPECT_FALSE(ringbuffer_drained(rb));
    const uint8_t frame[4] = {};
    ringbuffer_put(rb, frame, 4);
    ringbuffer_finish(rb);
    EXPECT_FALSE(ringbuffer_drained(rb));
    ringbuffer_advance(rb, ringbuffer_run(rb));
    EXPECT_TRUE(ringbuffer_drained(rb));
    ringbuffer_destroy(&rb);
}

// Two threads through a small buffer that wraps thousands of times: every
// frame arrives once, in order.
TEST(Ringbuffer, ProducerAndConsumerThreadsSeeEveryFrameInOrder) {
    Ringbuffer* rb = ringbuffer_new(64, 4);
    ASSERT_NE(rb, nullptr);
    constexpr uint32_t kFrames = 200000;
    std::vector<uint32_t> got;
    got.reserve(kFrames);
    std::thread consumer([&] {
        std::vector<uint8_t> pending;
        while (!ringbuffer_drained(rb)) {
            const uint32_t n = ringbuffer_run(rb);
            if (n == 0) {
                std::this_thread::yield();
                continue;
            }
            const uint8_t* p = rb->buffer + rb->read_pos.load();
            pending.insert(pending.end(), p, p + n);
            ringbuffer_advance(rb, n);
            while (pending.size() >= 4) {
                uint32_t v;
                std::memcpy(&v, pending.data(), 4);
                got.push_back(v);
                pending.erase(pending.begin(), pending.begin() + 4);
            }
        }
    });
    for (uint32_t i = 0; i < kFrames;) {
        if (ringbuffer_space(rb) < 4) {
            std::this_thread::yield();
            continue;
        }
        if (ringbuffer_put(rb, &i, 4) == 4) ++i;
    }
    ringbuffer_finish(rb);
    consumer.join();
    ASSERT_EQ(got.size(), kFrames);
    for (uint32_t i = 0; i < kFrames; ++i) ASSERT_EQ(got[i], i) << "frame " << i;
    ringbuffer_destroy(&rb);
}

// ---- "--channels=" ----

struct PairCase {
    const char* text;
    bool ok;
    int32_t left, right;
};

TEST(ParseChannelPair, ReadsLikeTheDecimalPairFormat) {
    const PairCase cases[] = {
        {"2,3", true, 2, 3},
        {"-1,-1", true, -1, -1},
        {" 1, 0", true, 1, 0},
        {"+4,\t5", true, 4, 5},
        {"1,2,3", true, 1, 2},
        {"7,8xyz", true, 7, 8},
        {"2147483647,-2147483648", true, INT32_MAX, INT32_MIN},
        {"1 ,2", false, 0, 0},  // the comma must follow the number
        {"1", false, 0, 0},
        {"1,", false, 0, 0},
        {"a,b", false, 0, 0},
        {"", false, 0, 0},
        {",2", false, 0, 0},
        {"- 1,2", false, 0, 0},
        {"2147483648,0", false, 0, 0},  // would overflow
        {"0,-2147483649", false, 0, 0},
        {"99999999999999999999,1", false, 0, 0},
    };
    for (const PairCase& c : cases) {
        int32_t l = 111, r = 222;
        EXPECT_EQ(parse_channel_pair(c.text, &l, &r), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(l, c.left) << c.text;
            EXPECT_EQ(r, c.right) << c.text;
        }
    }
}

// ---- sample conversion and block geometry ----

TEST(SampleFromFloat, TruncatesTowardZeroAndSaturates) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float v;
        int16_t want;
    } cases[] = {
        {0.0f, 0},          {1.0f, 32767},         {-1.0f, -32767},       {1.00002f, 32767},
        {1.1f, 32767},      {-1.1f, -32768},       {1.788f, 32767},       {-1.788f, -32768},
        {0.5f, 16383},      {-0.5f, -16383},       {0.99999f, 32766},     {1.0f / 32767, 1},
        {0.9f / 32767, 0},  {-0.9f / 32767, 0},    {-1.0000305f, -32768}, {nan, 0},
        {inf, 32767},       {-inf, -32768},        {1e30f, 32767},        {-1e30f, -32768},
    };
    for (const auto& c : cases) EXPECT_EQ(sample_from_float(c.v), c.want) << c.v;
}

TEST(BlockGeometry, BytesPerBlockAndTheGroupRule) {
    EXPECT_EQ(block_bytes_for(2, 2822400), 16);
    EXPECT_EQ(block_bytes_for(2, 5644800), 32);
    EXPECT_EQ(block_bytes_for(2, 11289600), 64);
    EXPECT_EQ(block_bytes_for(1, 2822400), 8);
    EXPECT_EQ(block_bytes_for(10, 11289600), 320);
    EXPECT_EQ(block_bytes_for(6, 2822400), 48);

    // Stereo, 16-byte block: a short last group still completes the block.
    EXPECT_TRUE(block_complete(16, 16, 2));
    EXPECT_TRUE(block_complete(15, 16, 2));
    EXPECT_FALSE(block_complete(14, 16, 2));
    EXPECT_FALSE(block_complete(0, 16, 2));
    // Six channels, 48-byte block: 43 to 47 bytes make a whole block.
    EXPECT_TRUE(block_complete(43, 48, 6));
    EXPECT_FALSE(block_complete(42, 48, 6));
    // Mono: every byte is a group.
    EXPECT_FALSE(block_complete(7, 8, 1));
}

// ---- console lines ----

// Runs f with standard output going to a file and returns what it printed.
template <typename F>
std::string capture_stdout(F f) {
    std::fflush(stdout);
    FILE* tmp = std::tmpfile();
    const int saved = dup(1);
    dup2(fileno(tmp), 1);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::rewind(tmp);
    std::string s;
    int c;
    while ((c = std::fgetc(tmp)) != EOF) s.push_back(static_cast<char>(c));
    std::fclose(tmp);
    return s;
}

const std::string kClear = "\r" + std::string(72, ' ');

TEST(ConsoleLines, FileLineTimesAndNames) {
    const std::string name40(40, 'n');
    const std::string name41(41, 'n');
    const struct {
        int32_t seconds;
        std::string name;
        std::string want;  // after the clearing line and "\nplaying file 1/1 total "
    } cases[] = {
        {3725, "/music/a.dff", "1:02:05 \"a.dff\" \"/music/a.dff\"\n"},
        {0, "a.dff", "00:00 \"a.dff\"\n"},
        {59, "a.dff", "00:59 \"a.dff\"\n"},
        {3599, "a.dff", "59:59 \"a.dff\"\n"},
        {3600, "a.dff", "1:00:00 \"a.dff\"\n"},
        {36000, "a.dff", "10:00:00 \"a.dff\"\n"},
        {60, name40, "01:00 \"" + name40 + "\"\n"},
        {60, name41, "01:00 \n\"" + name41 + "\"\n"},
        {60, "dir/", "01:00 \"\" \"dir/\"\n"},
    };
    for (const auto& c : cases) {
        const std::string out = capture_stdout([&] { util_display_fileinfo(1, 1, c.seconds, c.name.c_str()); });
        EXPECT_EQ(out, kClear + "\nplaying file 1/1 total " + c.want) << c.seconds << " " << c.name;
    }
}

TEST(ConsoleLines, StatusLine) {
    const struct {
        int32_t seconds, percent;
        std::string want;
    } cases[] = {
        {0, 0, "\rposition 00:00 buffer 0[%]    "},
        {61, 100, "\rposition 01:01 buffer 100[%]    "},
        {3600, 42, "\rposition 1:00:00 buffer 42[%]    "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(capture_stdout([&] { util_display_current_time(c.seconds, c.percent); }), c.want);
    EXPECT_EQ(std::string(UTIL_CLEAR_LINE), kClear);
}

}  // namespace
