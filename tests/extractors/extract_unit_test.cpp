// The extractors' frame copy on its own, against a plain one-frame-at-a-time
// copy, and its pair gather against the definition.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "extract.h"

namespace {

std::vector<uint8_t> contents(FILE* f) {
    std::vector<uint8_t> out;
    std::rewind(f);
    for (int c; (c = std::getc(f)) != EOF;) out.push_back(static_cast<uint8_t>(c));
    return out;
}

TEST(CopyChannelPairs, MatchesTheFrameByFrameCopy) {
    std::mt19937_64 rng(42);
    const uint64_t READ = COPY_FRAMES;  // frames per read inside the copy
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
        {6, 6 * 5000 + 4, 6 * 5000 + 5},          // a short cut frame is no error
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " ch, " << c.stream_bytes << " bytes, size " << c.data_size);
        const uint64_t cc = static_cast<uint64_t>(c.channels);
        std::vector<uint8_t> src(c.stream_bytes);
        for (auto& b : src) b = static_cast<uint8_t>(rng());
        FILE* in = std::tmpfile();
        if (!src.empty()) std::fwrite(src.data(), 1, src.size(), in);
        std::rewind(in);
        std::vector<PairOutput> outs;
        for (int k = 0; k < 4; ++k)
            outs.push_back(PairOutput{std::tmpfile(), static_cast<int>(rng() % cc), static_cast<int>(rng() % cc)});

        // The reference: one frame per read, two bytes per output and frame,
        // up to the last whole frame within data_size or the stream's end.
        std::vector<std::vector<uint8_t>> expected(outs.size());
        uint64_t count = 0;
        for (; count + cc <= c.data_size && count + cc <= src.size(); count += cc)
            for (size_t k = 0; k < outs.size(); ++k) {
                expected[k].push_back(src[count + static_cast<uint64_t>(outs[k].left)]);
                expected[k].push_back(src[count + static_cast<uint64_t>(outs[k].right)]);
            }
        const bool read_error = count + cc <= c.data_size;

        uint64_t consumed = 12345;
        EXPECT_EQ(copy_channel_pairs(in, c.data_size, c.channels, outs.data(), 4, &consumed),
                  read_error ? COPY_READ_ERROR : COPY_OK);
        if (read_error) {
            EXPECT_EQ(consumed, count);
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
    for (size_t cc = 1; cc <= 10; ++cc)
        for (size_t left = 0; left < cc; ++left)
            for (size_t right = 0; right < cc; ++right)
                for (size_t count : {0, 1, 15, 16, 17, 31, 32, 33, 64, 299}) {
                    SCOPED_TRACE(testing::Message() << cc << " ch, " << left << "/" << right << ", " << count);
                    std::vector<uint8_t> expected(2 * count), actual(2 * count + 1, 0xEE);
                    for (size_t i = 0; i < count; ++i) {
                        expected[2 * i] = frames[i * cc + left];
                        expected[2 * i + 1] = frames[i * cc + right];
                    }
                    gather_pairs(frames.data(), count, static_cast<int>(cc), static_cast<int>(left),
                                 static_cast<int>(right), actual.data());
                    EXPECT_EQ(actual.back(), 0xEE);  // nothing written past the pairs
                    actual.pop_back();
                    ASSERT_EQ(actual, expected);
                }
}

}  // namespace
