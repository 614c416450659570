// The shared pieces of the extractors on their own: playing-time
// arithmetic, identifier matching, and the frame copy against a plain
// one-frame-at-a-time copy.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "extract.h"

namespace {

TEST(PlayingSeconds, TruncatesAndNeverWraps) {
    const struct {
        uint64_t bytes;
        uint32_t rate;
        uint64_t seconds;
    } cases[] = {
        {35280000, 2822400, 100},
        {35280000 + 352799, 2822400, 100},  // one byte short of the next second
        {35280000 + 352800, 2822400, 101},
        {0, 2822400, 0},
        {1, 1, 8},
        {UINT64_C(9223372036854775807), 2822400, UINT64_C(26143344775665)},
        {UINT64_MAX, 8, UINT64_MAX},  // bytes x 8 would wrap; the split does not
        {UINT64_C(1000000), 4294967295u, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(playing_seconds(c.bytes, c.rate), c.seconds);
    }
}

TEST(ChannelIds, FirstFourBytesNulPaddedExactMatchLaterWins) {
    DsdiffInfo info{};
    info.channel_count = 5;
    const char* ids[] = {"AAAA", "BB\0\0", "AAAA", "aaaa", "C D "};
    for (int c = 0; c < 5; ++c) std::memcpy(info.channel_ids[c], ids[c], 5);
    const struct {
        const char* arg;
        int position;
    } cases[] = {{"AAAA", 2}, {"AAAAB", 2}, {"aaaa", 3}, {"BB", 1}, {"B", -1}, {"BB  ", -1},
                 {"C D ", 4}, {"C D", -1}, {"", -1}, {"CCCC", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        char id[4];
        channel_id_bytes(c.arg, id);
        EXPECT_EQ(find_channel(info, id), c.position);
    }
    info.channel_count = 0;
    char id[4];
    channel_id_bytes("AAAA", id);
    EXPECT_EQ(find_channel(info, id), -1);
}

// A temporary stream holding `bytes`, positioned at its start.
FILE* stream_of(const std::vector<uint8_t>& bytes) {
    FILE* f = std::tmpfile();
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

std::vector<uint8_t> contents(FILE* f) {
    std::fflush(f);
    std::vector<uint8_t> out;
    std::rewind(f);
    int c;
    while ((c = std::getc(f)) != EOF) out.push_back(static_cast<uint8_t>(c));
    return out;
}

// The copy as one frame per read and one byte per write, stopping at the
// last whole frame within data_size.
CopyResult reference_copy(const std::vector<uint8_t>& src, uint64_t data_size, int channels,
                          const std::vector<std::pair<int, int>>& pairs, std::vector<std::vector<uint8_t>>* outs,
                          uint64_t* consumed) {
    outs->assign(pairs.size(), {});
    uint64_t count = 0;
    while (count + static_cast<uint64_t>(channels) <= data_size) {
        if (count + static_cast<uint64_t>(channels) > src.size()) {
            *consumed = count;
            return COPY_READ_ERROR;
        }
        for (size_t k = 0; k < pairs.size(); ++k) {
            (*outs)[k].push_back(src[count + static_cast<uint64_t>(pairs[k].first)]);
            (*outs)[k].push_back(src[count + static_cast<uint64_t>(pairs[k].second)]);
        }
        count += static_cast<uint64_t>(channels);
    }
    *consumed = count;
    return COPY_OK;
}

TEST(CopyChannelPairs, MatchesTheFrameByFrameCopy) {
    std::mt19937_64 rng(42);
    const uint64_t READ = COPY_FRAMES;  // frames per read inside the copy
    // (frames in the stream, extra bytes, declared size in frames + bytes)
    const struct {
        int channels;
        uint64_t stream_bytes;
        uint64_t data_size;
    } cases[] = {
        {8, 8 * 1000, 8 * 1000},
        {8, 8 * 1000 + 3, 8 * 1000 + 3},          // cut frame at the end: not copied
        {8, 8 * 1000 + 50, 8 * 999 + 7},          // more bytes follow the chunk
        {8, 8 * READ, 8 * READ},                  // exactly one full read
        {3, 3 * (2 * READ + 5) + 2, UINT64_MAX},  // read error in the third read
        {3, 3 * READ + 1, 3 * (READ + 10)},       // read error right after a full read
        {1, 0, 0},
        {10, 0, 100},                             // read error at 0
        {2, 2 * 77, 2 * 77},
        {4, 4 * (READ + 33), 4 * (READ + 33)},    // a full read, then a short one
        {6, 6 * 5000 + 4, 6 * 5000 + 5},          // read error in the cut frame is no error
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " ch, " << c.stream_bytes << " bytes, size " << c.data_size);
        std::vector<uint8_t> src(c.stream_bytes);
        for (auto& b : src) b = static_cast<uint8_t>(rng());
        std::vector<std::pair<int, int>> pairs;
        for (int k = 0; k < 4; ++k)
            pairs.emplace_back(static_cast<int>(rng() % static_cast<uint64_t>(c.channels)),
                               static_cast<int>(rng() % static_cast<uint64_t>(c.channels)));
        std::vector<std::vector<uint8_t>> expected;
        uint64_t expected_consumed = 0;
        const CopyResult expected_result =
            reference_copy(src, c.data_size, c.channels, pairs, &expected, &expected_consumed);

        FILE* in = stream_of(src);
        std::vector<PairOutput> outs;
        for (const auto& [l, r] : pairs) outs.push_back(PairOutput{std::tmpfile(), l, r});
        uint64_t consumed = 12345;
        EXPECT_EQ(copy_channel_pairs(in, c.data_size, c.channels, outs.data(), static_cast<int>(outs.size()),
                                     &consumed),
                  expected_result);
        if (expected_result == COPY_READ_ERROR) {
            EXPECT_EQ(consumed, expected_consumed);
        }
        for (size_t k = 0; k < outs.size(); ++k) {
            EXPECT_TRUE(contents(outs[k].file) == expected[k]) << "output " << k;
            std::fclose(outs[k].file);
        }
        std::fclose(in);
    }
}

TEST(GatherPairs, EveryChannelCountAndPairAgreesWithTheDefinition) {
    std::mt19937 rng(7);
    std::vector<uint8_t> frames(10 * 300);
    for (auto& b : frames) b = static_cast<uint8_t>(rng());
    for (int cc = 1; cc <= 10; ++cc) {
        for (int left = 0; left < cc; ++left) {
            for (int right = 0; right < cc; ++right) {
                for (size_t count : {0, 1, 15, 16, 17, 31, 32, 33, 64, 299}) {
                    SCOPED_TRACE(testing::Message() << cc << " ch, " << left << "/" << right << ", " << count);
                    std::vector<uint8_t> expected(2 * count), actual(2 * count + 1, 0xEE);
                    for (size_t i = 0; i < count; ++i) {
                        expected[2 * i] = frames[i * static_cast<size_t>(cc) + static_cast<size_t>(left)];
                        expected[2 * i + 1] = frames[i * static_cast<size_t>(cc) + static_cast<size_t>(right)];
                    }
                    gather_pairs(frames.data(), count, cc, left, right, actual.data());
                    EXPECT_EQ(actual.back(), 0xEE);  // nothing written past the pairs
                    actual.pop_back();
                    ASSERT_EQ(actual, expected);
                }
            }
        }
    }
}

TEST(CopyChannelPairs, WriteFailureIsReported) {
    std::vector<uint8_t> src(2 * 100, 0x55);
    FILE* in = stream_of(src);
    FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    PairOutput out{full, 0, 1};
    uint64_t consumed = 0;
    EXPECT_EQ(copy_channel_pairs(in, src.size(), 2, &out, 1, &consumed), COPY_WRITE_ERROR);
    std::fclose(full);
    std::fclose(in);
}

}  // namespace
