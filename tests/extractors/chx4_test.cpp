// chanfork2chx4 end to end: output names, refusals, byte-exact outputs,
// the copy's limits and its error reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "exttest.h"
#include "testutil.h"

using exttest::err_report;
using exttest::Source;
using testutil::RunResult;

namespace {

const std::vector<std::string> IDS8 = {"C000", "C001", "C002", "C003", "C004", "C005", "C006", "C007"};

std::vector<std::string> argv_for(const std::vector<std::string>& ids, const std::string& src) {
    std::vector<std::string> argv{CHANFORK2CHX4_BIN};
    argv.insert(argv.end(), ids.begin(), ids.end());
    argv.push_back(src);
    return argv;
}

// Seconds (mod 60) as the tens and units bytes of the playing-time word.
uint32_t play_time(uint64_t seconds) {
    const uint32_t s = static_cast<uint32_t>(seconds % 60);
    return (s / 10) << 24 | (s % 10) << 16;
}

// Checks the four outputs `<stem>_k.wsd` against the source: header with
// the 64-bit file size, then pairs (positions[2k], positions[2k+1]).
void expect_outputs(const std::string& stem, const Source& src, const std::vector<int>& positions,
                    uint32_t rate = 2822400) {
    const uint64_t bpc = src.data_size / static_cast<uint64_t>(src.channels);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE("output " + std::to_string(k));
        const auto expected =
            exttest::concat(exttest::wsd_header(2 * bpc + 2048, play_time(bpc * 8 / rate), rate, true),
                            exttest::pair_data(src, positions[2 * k], positions[2 * k + 1]));
        const auto actual = testutil::read_file(stem + "_" + std::to_string(k) + ".wsd");
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected);
    }
}

TEST(Chx4Names, OnlyTheLastPathComponentHoldsTheExtension) {
    const struct {
        std::string source;  // relative to the working folder
        std::string stem;    // expected output names: stem + "_k.wsd"
    } cases[] = {
        {"example.dff", "example"},
        {"a.b.dff", "a.b"},
        {"a.df", "a.df"},  // fewer than 5 characters: whole name kept
        {"music", "music"},
        {"./take", "./take"},
        {"dir.v2/take", "dir.v2/take"},
        {"dir.v2/song.dff", "dir.v2/song"},
        {"sub/a.df", "sub/a.df"},  // short last component
        {"sub/x.y.z", "sub/x.y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string dir = testutil::make_temp_dir();
        std::filesystem::create_directories(dir + "/dir.v2");
        std::filesystem::create_directories(dir + "/sub");
        const Source src = exttest::make_source(dir + "/" + c.source, {"--channels=8", "--bytes=40", "--random=all:3"});
        RunResult r = exttest::run_in(dir, argv_for(IDS8, c.source));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        expect_outputs(dir + "/" + c.stem, src, {0, 1, 2, 3, 4, 5, 6, 7});
        // Nothing else appears next to the outputs.
        size_t files = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            if (e.is_regular_file()) ++files;
        EXPECT_EQ(files, 5u);
    }
}

TEST(Chx4Refusals, ExistingOutputStopsBeforeTheSourceIsOpened) {
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/example.dff", {"--channels=8", "--bytes=16"});
    testutil::write_file(dir + "/example_2.wsd", std::string("keep me"));
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "example.dff"));
    EXPECT_EQ(r.status, 95);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err_report("main", 94, "output file example_2.wsd exist. Abort.\n"));
    EXPECT_EQ(exttest::list_dir(dir), (std::vector<std::string>{"example.dff", "example_2.wsd"}));
    EXPECT_EQ(testutil::read_file(dir + "/example_2.wsd"), std::vector<uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));

    // A source that does not exist is never reached.
    testutil::write_file(dir + "/missing_0.wsd", std::string());
    r = exttest::run_in(dir, argv_for(IDS8, "missing.dff"));
    EXPECT_EQ(r.status, 95);
    EXPECT_EQ(r.err, err_report("main", 94, "output file missing_0.wsd exist. Abort.\n"));
}

TEST(Chx4Refusals, OutputWhoseStatusCannotBeQueriedCountsAsExisting) {
    // "plain" is a file, so "plain/x_0.wsd" fails with ENOTDIR, not ENOENT.
    const std::string dir = testutil::make_temp_dir();
    testutil::write_file(dir + "/plain", std::string("x"));
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "plain/x.dff"));
    EXPECT_EQ(r.status, 95);
    EXPECT_EQ(r.err, err_report("main", 94, "output file plain/x_0.wsd exist. Abort.\n"));
}

TEST(Chx4Refusals, SourceThatCannotBeOpened) {
    const std::string dir = testutil::make_temp_dir();
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "missing.dff"));
    EXPECT_EQ(r.status, 103);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err_report("main", 102, "fopen(missing.dff) failed.\n"));
    EXPECT_TRUE(exttest::list_dir(dir).empty());
}

TEST(Chx4Refusals, SourceThatIsNotDsdiff) {
    const std::string dir = testutil::make_temp_dir();
    ASSERT_TRUE(testutil::dsdgen({"--channels=8", "--bytes=16", dir + "/eight.wsd"}));
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "eight.wsd"));
    EXPECT_EQ(r.status, 108);
    EXPECT_EQ(r.err, err_report("dsdiff", 42, "\n") + err_report("dsdiff", 57, "\n") +
                         "file eight.wsd is not DSDIFF format.\n");
    EXPECT_EQ(exttest::list_dir(dir), std::vector<std::string>{"eight.wsd"});

    // A header without a rate has no playing time: refused before any output.
    exttest::make_source(dir + "/norate.dff", {"--channels=8", "--bytes=16", "--rate=0"});
    r = exttest::run_in(dir, argv_for(IDS8, "norate.dff"));
    EXPECT_EQ(r.status, 108);
    EXPECT_EQ(r.err, "file norate.dff is not DSDIFF format.\n");
    exttest::make_source(dir + "/nochnl.dff", {"--channels=8", "--bytes=16", "--no-chnl"});
    r = exttest::run_in(dir, argv_for(IDS8, "nochnl.dff"));
    EXPECT_EQ(r.status, 108);
    EXPECT_EQ(r.err, "file nochnl.dff is not DSDIFF format.\n");
    EXPECT_EQ(exttest::list_dir(dir), (std::vector<std::string>{"eight.wsd", "nochnl.dff", "norate.dff"}));
}

TEST(Chx4Refusals, MissingIdentifierCreatesNoOutput) {
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/src.dff", {"--channels=8", "--bytes=16", "--ids=C000,C001,C002,C003,C004,C005,C006,AB"});
    const struct {
        std::vector<std::string> ids;
        std::string named;
    } cases[] = {
        {{"C000", "C001", "C002", "C003", "C009", "C005", "C006", "C008"}, "C009"},  // the first of two missing
        {{"C000", "C001", "C002", "C003", "c004", "C005", "C006", "AB"}, "c004"},    // case counts
        {{"C000", "C001", "C002", "C003", "C004", "C005", "C006", "C00"}, "C00"},    // "C00\0" is no channel
        {{"C000", "C001", "C002", "C003", "C004", "C005", "C006", "ABC"}, "ABC"},    // padding is NUL, not space
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        RunResult r = exttest::run_in(dir, argv_for(c.ids, "src.dff"));
        EXPECT_EQ(r.status, 122);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "channel name " + c.named + " not found\n");
        EXPECT_EQ(exttest::list_dir(dir), std::vector<std::string>{"src.dff"});
    }
}

TEST(Chx4Copy, EightChannelsInAnyOrder) {
    const std::string dir = testutil::make_temp_dir();
    auto args = exttest::random_channels(8);
    args.insert(args.end(), {"--channels=8", "--bytes=5000"});
    const Source src = exttest::make_source(dir + "/eight.dff", args);
    // Identifiers longer than four characters are compared on their first four.
    RunResult r = exttest::run_in(
        dir, argv_for({"C007", "C000", "C003", "C003xyz", "C001", "C006", "C005", "C002"}, "eight.dff"));
    ASSERT_EQ(r.status, 0) << r.err;
    expect_outputs(dir + "/eight", src, {7, 0, 3, 3, 1, 6, 5, 2});
}

TEST(Chx4Copy, TwoSixAndTenChannelSources) {
    const struct {
        int channels;
        std::vector<std::string> ids;
        std::vector<int> positions;
    } cases[] = {
        {2, {"SLFT", "SRGT", "SRGT", "SLFT", "SLFT", "SLFT", "SRGT", "SRGT"}, {0, 1, 1, 0, 0, 0, 1, 1}},
        {6, {"C005", "C004", "C000", "C001", "C002", "C003", "C001", "C001"}, {5, 4, 0, 1, 2, 3, 1, 1}},
        {10, {"C009", "C008", "C000", "C005", "C002", "C007", "C006", "C006"}, {9, 8, 0, 5, 2, 7, 6, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        const std::string dir = testutil::make_temp_dir();
        auto args = exttest::random_channels(c.channels, c.channels);
        args.insert(args.end(), {"--channels=" + std::to_string(c.channels), "--bytes=1000"});
        const Source src = exttest::make_source(dir + "/src.dff", args);
        ASSERT_EQ(src.data_size, 1000u * static_cast<uint64_t>(c.channels));
        RunResult r = exttest::run_in(dir, argv_for(c.ids, "src.dff"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        expect_outputs(dir + "/src", src, c.positions);
        EXPECT_EQ(testutil::file_size(dir + "/src_0.wsd"), 2048u + 2000u);
    }
}

TEST(Chx4Copy, RepeatedIdentifierInTheFileResolvesToTheLastChannel) {
    const std::string dir = testutil::make_temp_dir();
    auto args = exttest::random_channels(8, 5);
    args.insert(args.end(), {"--channels=8", "--bytes=700", "--ids=AAAA,BBBB,AAAA,CCCC,BBBB,DD,EEEE,AAAA"});
    const Source src = exttest::make_source(dir + "/dup.dff", args);
    RunResult r = exttest::run_in(dir, argv_for({"AAAA", "BBBB", "CCCC", "DD", "EEEE", "AAAA", "DD\\0", "BBBB"}, "dup.dff"));
    // "DD\0" is the literal text D, D, backslash: no such channel.
    EXPECT_EQ(r.status, 122);
    EXPECT_EQ(r.err, "channel name DD\\0 not found\n");
    r = exttest::run_in(dir, argv_for({"AAAA", "BBBB", "CCCC", "DD", "EEEE", "AAAA", "DD", "BBBB"}, "dup.dff"));
    ASSERT_EQ(r.status, 0) << r.err;
    expect_outputs(dir + "/dup", src, {7, 4, 3, 5, 6, 7, 5, 4});
}

TEST(Chx4Copy, EmptySoundChunkGivesHeadersOnly) {
    const std::string dir = testutil::make_temp_dir();
    const Source src = exttest::make_source(dir + "/empty.dff", {"--channels=8", "--bytes=0"});
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "empty.dff"));
    ASSERT_EQ(r.status, 0) << r.err;
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(testutil::read_file(dir + "/empty_" + std::to_string(k) + ".wsd"),
                  exttest::wsd_header(2048, 0, 2822400, true));
}

TEST(Chx4Copy, OnlyWholeFramesWithinTheSoundChunkAreCopied) {
    // 803 bytes declared of an 8-channel chunk: 100 whole frames. The three
    // bytes of the cut frame and the chunk that follows are not sound.
    const std::string dir = testutil::make_temp_dir();
    auto args = exttest::random_channels(8, 9);
    args.insert(args.end(), {"--channels=8", "--bytes=101", "--data-size=803", "--trailing-chunk=ZZZZ:64"});
    const Source src = exttest::make_source(dir + "/cut.dff", args);
    ASSERT_EQ(src.data_size, 803u);
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "cut.dff"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expect_outputs(dir + "/cut", src, {0, 1, 2, 3, 4, 5, 6, 7});
    for (int k = 0; k < 4; ++k) {
        const auto out = testutil::read_file(dir + "/cut_" + std::to_string(k) + ".wsd");
        EXPECT_EQ(out.size(), 2048u + 200u);
        EXPECT_EQ(testutil::be(out, 12, 8), out.size());  // the header tells the truth
    }
}

TEST(Chx4Copy, PlayingTimeHoldsTheSecondsDigits) {
    // 3725 s (1:02:05) of 2-channel sound, declared only: the outputs get
    // their headers, then the copy finds no data at offset 0.
    const std::string dir = testutil::make_temp_dir();
    const uint64_t bpc = 3725ull * 2822400 / 8;
    exttest::make_source(dir + "/long.dff",
                         {"--header-only", "--bytes=0", "--data-size=" + std::to_string(2 * bpc)});
    RunResult r = exttest::run_in(dir, argv_for({"SLFT", "SRGT", "SRGT", "SLFT", "SLFT", "SLFT", "SRGT", "SRGT"},
                                                "long.dff"));
    EXPECT_EQ(r.status, 177);
    EXPECT_EQ(r.err, err_report("main", 173, "read data error at 0 bytes offset\n"));
    for (int k = 0; k < 4; ++k) {
        const auto out = testutil::read_file(dir + "/long_" + std::to_string(k) + ".wsd");
        EXPECT_EQ(out, exttest::wsd_header(2 * bpc + 2048, 0x00050000, 2822400, true));
    }
}

TEST(Chx4Copy, FourGibibyteHeaderWithoutDataFailsAtOffsetZero) {
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/big.dff",
                         {"--channels=8", "--header-only", "--bytes=0", "--data-size=4294967296"});
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "big.dff"));
    EXPECT_EQ(r.status, 177);
    EXPECT_EQ(r.err, err_report("main", 173, "read data error at 0 bytes offset\n"));
    // 536870912 bytes per channel: 1521 s, 21 s into the minute.
    const auto out = testutil::read_file(dir + "/big_3.wsd");
    EXPECT_EQ(out, exttest::wsd_header(2 * 536870912ull + 2048, 0x02010000, 2822400, true));
}

TEST(Chx4Copy, ReadErrorWritesEveryWholeFrameBeforeIt) {
    // The source ends 5 bytes into frame 66000 (past the first 64 Ki frames).
    const std::string dir = testutil::make_temp_dir();
    auto args = exttest::random_channels(8, 11);
    args.insert(args.end(), {"--channels=8", "--bytes=70000"});
    Source src = exttest::make_source(dir + "/short.dff", args);
    const uint64_t whole = 66000;
    std::filesystem::resize_file(src.path, src.data_offset + whole * 8 + 5);
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "short.dff"));
    EXPECT_EQ(r.status, 177);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err_report("main", 173, "read data error at " + std::to_string(whole * 8) + " bytes offset\n"));
    const uint64_t bpc = 70000;
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        auto data = exttest::pair_data(src, 2 * k, 2 * k + 1);
        data.resize(2 * whole);
        const auto expected =
            exttest::concat(exttest::wsd_header(2 * bpc + 2048, play_time(bpc * 8 / 2822400), 2822400, true), data);
        EXPECT_TRUE(testutil::read_file(dir + "/short_" + std::to_string(k) + ".wsd") == expected);
    }
}

TEST(Chx4Copy, WriteErrorIsReported) {
    // Outputs may not grow beyond 64 KiB; each needs 2048 + 200000 bytes.
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/src.dff", {"--channels=8", "--bytes=100000", "--random=all:4"});
    RunResult r = exttest::run_with_file_limit(65536, argv_for(IDS8, dir + "/src.dff"));
    EXPECT_EQ(r.status, 183);
    EXPECT_EQ(r.err, err_report("main", 182, "write data error\n"));
}

TEST(Chx4Copy, HeaderLostAtTheLastFlushIsAWriteError) {
    // Headers only, held in the stream buffers until the files are closed;
    // a file may not grow beyond 1 KiB, so closing fails. That is no success.
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/empty.dff", {"--channels=8", "--bytes=0"});
    RunResult r = exttest::run_with_file_limit(1024, argv_for(IDS8, dir + "/empty.dff"));
    EXPECT_EQ(r.status, 183);
    EXPECT_EQ(r.err, err_report("main", 182, "write data error\n"));
}

TEST(Chx4Copy, NeverWritesThroughANameThatAppearedAfterTheCheck) {
    // A dangling link is no file for the status query, but the exclusive
    // creation refuses it: the link's target is never created.
    const std::string dir = testutil::make_temp_dir();
    const Source src = exttest::make_source(dir + "/link.dff", {"--channels=8", "--bytes=32", "--random=all:2"});
    ASSERT_EQ(symlink("victim", (dir + "/link_1.wsd").c_str()), 0);
    RunResult r = exttest::run_in(dir, argv_for(IDS8, "link.dff"));
    EXPECT_EQ(r.status, 131);
    EXPECT_EQ(r.err, err_report("main", 130, "fopen(link_1.wsd) failed.\n"));
    EXPECT_FALSE(testutil::file_exists(dir + "/victim"));
    // Output 0 was made before and keeps its header.
    EXPECT_EQ(testutil::read_file(dir + "/link_0.wsd"), exttest::wsd_header(2048 + 64, 0, 2822400, true));
    EXPECT_FALSE(testutil::file_exists(dir + "/link_2.wsd"));
}

}  // namespace
