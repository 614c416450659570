// chanfork end to end: output formats by name, refusals, byte-exact WSD and
// DSDIFF outputs, the copy's limits and its error reports.
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

std::vector<std::string> cmd(const std::string& src, const std::vector<std::string>& groups) {
    std::vector<std::string> argv{CHANFORK_BIN, src};
    argv.insert(argv.end(), groups.begin(), groups.end());
    return argv;
}

// Playing-time word: characters of the minutes' and hours' digits.
uint32_t play_time(uint64_t seconds) {
    const uint32_t h = static_cast<uint32_t>(seconds / 3600), m = static_cast<uint32_t>(seconds / 60 % 60);
    return 0x30303030u + (m / 10 << 24) + (m % 10 << 16) + (h / 10 << 8) + h % 10;
}

std::vector<uint8_t> expected_wsd(const Source& src, int left, int right, uint32_t rate = 2822400) {
    const uint64_t bpc = src.data_size / static_cast<uint64_t>(src.channels);
    return exttest::concat(exttest::wsd_header(2 * bpc + 2048, play_time(bpc * 8 / rate), rate, false),
                           exttest::pair_data(src, left, right));
}

std::vector<uint8_t> expected_dff(const Source& src, int left, int right, uint32_t rate = 2822400) {
    const uint64_t bpc = src.data_size / static_cast<uint64_t>(src.channels);
    return exttest::concat(exttest::dff_header(2 * bpc, rate), exttest::pair_data(src, left, right));
}

Source six_channels(const std::string& dir, int seed = 1) {
    auto args = exttest::random_channels(6, seed);
    args.insert(args.end(), {"--channels=6", "--bytes=1000"});
    return exttest::make_source(dir + "/six.dff", args);
}

TEST(ChanforkFormats, TheOutputNameDecidesTheFormat) {
    const struct {
        std::string name;
        bool wsd;
    } cases[] = {
        {"out.wsd", true},      {"out.WSD", true},       {"out.dff", false},    {"out.DFF", false},
        {".wsd", false},        {"abcd", false},         {"output", false},     {"./out.wsd", true},
        {"dir.v2/out.wsd", true}, {"dir.v2/output", false}, {"dir.v2/a.wsd", true}, {"dir.v2/.wsd", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = testutil::make_temp_dir();
        std::filesystem::create_directories(dir + "/dir.v2");
        const Source src = six_channels(dir);
        RunResult r = exttest::run_in(dir, cmd("six.dff", {"C002", "C005", c.name}));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        const auto out = testutil::read_file(dir + "/" + c.name);
        EXPECT_TRUE(out == (c.wsd ? expected_wsd(src, 2, 5) : expected_dff(src, 2, 5)));
    }
}

TEST(ChanforkFormats, OtherExtensionsAreRefusedBeforeAnythingIsOpened) {
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"out.Wsd", ".Wsd"}, {"out.dsf", ".dsf"}, {"my.song.wsd", ".song.wsd"}, {"take.wsd.bak", ".wsd.bak"},
        {"dir.v2/x.y.dff", ".y.dff"}, {"name.", "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = testutil::make_temp_dir();
        // The refused name is in the second group; the source does not exist.
        RunResult r = exttest::run_in(dir, cmd("none.dff", {"C000", "C001", "good.wsd", "C002", "C003", c.name}));
        EXPECT_EQ(r.status, 111);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, err_report("main", 110, "could not judge file name extension \"" + c.shown + "\".\n"));
        EXPECT_TRUE(exttest::list_dir(dir).empty());
    }
}

TEST(ChanforkRefusals, ExistingOutputOfALaterGroup) {
    const std::string dir = testutil::make_temp_dir();
    testutil::write_file(dir + "/rear.dff", std::string("old"));
    RunResult r = exttest::run_in(dir, cmd("none.dff", {"C000", "C001", "front.wsd", "C002", "C003", "rear.dff"}));
    EXPECT_EQ(r.status, 123);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err_report("main", 122, "output file rear.dff exist. Abort.\n"));
    EXPECT_EQ(exttest::list_dir(dir), std::vector<std::string>{"rear.dff"});
    EXPECT_EQ(testutil::read_file(dir + "/rear.dff"), std::vector<uint8_t>({'o', 'l', 'd'}));

    // A status query failing for another reason (ENOTDIR) counts the same.
    r = exttest::run_in(dir, cmd("none.dff", {"C000", "C001", "rear.dff/x.wsd"}));
    EXPECT_EQ(r.status, 123);
    EXPECT_EQ(r.err, err_report("main", 122, "output file rear.dff/x.wsd exist. Abort.\n"));
}

TEST(ChanforkRefusals, SourceThatCannotBeOpenedOrIsNotDsdiff) {
    const std::string dir = testutil::make_temp_dir();
    RunResult r = exttest::run_in(dir, cmd("none.dff", {"C000", "C001", "out.wsd"}));
    EXPECT_EQ(r.status, 131);
    EXPECT_EQ(r.err, err_report("main", 130, "fopen(none.dff) failed.\n"));

    // The reader is silent in this program: only the verdict is printed.
    ASSERT_TRUE(testutil::dsdgen({"--channels=6", "--bytes=16", dir + "/six.wsd"}));
    exttest::make_source(dir + "/norate.dff", {"--channels=6", "--bytes=16", "--rate=0"});
    exttest::make_source(dir + "/zero.dff", {"--channels=6", "--bytes=16", "--chnl-count=0", "--chnl-size=2"});
    for (const char* src : {"six.wsd", "norate.dff", "zero.dff"}) {
        SCOPED_TRACE(src);
        r = exttest::run_in(dir, cmd(src, {"C000", "C001", "out.wsd"}));
        EXPECT_EQ(r.status, 136);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "file " + std::string(src) + " is not DSDIFF format.\n");
    }
    EXPECT_EQ(exttest::list_dir(dir), (std::vector<std::string>{"norate.dff", "six.wsd", "zero.dff"}));
}

TEST(ChanforkRefusals, MissingIdentifiersLeaveTheEarlierOutputs) {
    const struct {
        std::vector<std::string> second;  // left, right of the second group
        int line;
        std::string message;
    } cases[] = {
        {{"C004", "C009"}, 170, "right channel name C009 not found.\n"},
        {{"X", "C001"}, 166, "left channel name X not found.\n"},
        {{"c004", "c005"}, 166, "left channel name c004 not found.\n"},  // case counts; left first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string dir = testutil::make_temp_dir();
        const Source src = six_channels(dir);
        RunResult r = exttest::run_in(
            dir, cmd("six.dff", {"C000", "C001", "first.wsd", c.second[0], c.second[1], "second.dff", "C002", "C003",
                                 "third.wsd"}));
        EXPECT_EQ(r.status, c.line + 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, err_report("main", c.line, c.message));
        EXPECT_EQ(exttest::list_dir(dir), (std::vector<std::string>{"first.wsd", "second.dff", "six.dff"}));
        auto header = expected_wsd(src, 0, 1);
        header.resize(2048);
        EXPECT_EQ(testutil::read_file(dir + "/first.wsd"), header);
        EXPECT_EQ(testutil::file_size(dir + "/second.dff"), 0u);
    }
}

TEST(ChanforkCopy, WsdAndDsdiffOutputsInOnePass) {
    const std::string dir = testutil::make_temp_dir();
    const Source src = six_channels(dir, 3);
    ASSERT_EQ(src.data_size, 6000u);
    RunResult r = exttest::run_in(dir, cmd("six.dff", {"C000", "C001", "front.dff", "C002", "C003", "rear.WSD",
                                                       "C005", "C005", "sub.wsd", "C004C", "C0045", "back.DFF"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(testutil::read_file(dir + "/front.dff") == expected_dff(src, 0, 1));
    EXPECT_TRUE(testutil::read_file(dir + "/rear.WSD") == expected_wsd(src, 2, 3));
    EXPECT_TRUE(testutil::read_file(dir + "/sub.wsd") == expected_wsd(src, 5, 5));
    EXPECT_TRUE(testutil::read_file(dir + "/back.DFF") == expected_dff(src, 4, 4));
    // The sizes from the example: 2048 + 2000 and 130 + 2000.
    EXPECT_EQ(testutil::file_size(dir + "/rear.WSD"), 4048u);
    const auto rear = testutil::read_file(dir + "/rear.WSD");
    EXPECT_EQ(testutil::be(rear, 12, 4), 4048u);  // low half first
    EXPECT_EQ(testutil::be(rear, 16, 4), 0u);
    EXPECT_EQ(testutil::file_size(dir + "/front.dff"), 2130u);
}

TEST(ChanforkCopy, TwoAndTenChannelSourcesAndRepeatedIdentifiers) {
    const struct {
        int channels;
        std::string ids;  // generator --ids, empty for the default
        std::vector<std::string> groups;
        std::vector<std::pair<int, int>> pairs;
    } cases[] = {
        {2, "", {"SRGT", "SLFT", "swap.wsd", "SLFT", "SLFT", "mono.dff"}, {{1, 0}, {0, 0}}},
        {10, "", {"C009", "C000", "a.wsd", "C004", "C007", "b.dff", "C008", "C008", "c.wsd"}, {{9, 0}, {4, 7}, {8, 8}}},
        // The later channel wins when the file repeats an identifier.
        {5, "AAAA,BB,AAAA,BB,CCCC", {"AAAA", "BB", "d.wsd", "CCCC", "AAAA", "e.dff"}, {{2, 3}, {4, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        const std::string dir = testutil::make_temp_dir();
        auto args = exttest::random_channels(c.channels, c.channels);
        args.insert(args.end(), {"--channels=" + std::to_string(c.channels), "--bytes=999"});
        if (!c.ids.empty()) args.push_back("--ids=" + c.ids);
        const Source src = exttest::make_source(dir + "/src.dff", args);
        RunResult r = exttest::run_in(dir, cmd("src.dff", c.groups));
        ASSERT_EQ(r.status, 0) << r.err;
        for (size_t g = 0; g < c.pairs.size(); ++g) {
            const std::string name = c.groups[3 * g + 2];
            SCOPED_TRACE(name);
            const bool wsd = name.find(".wsd") != std::string::npos;
            const auto [left, right] = c.pairs[g];
            EXPECT_TRUE(testutil::read_file(dir + "/" + name) ==
                        (wsd ? expected_wsd(src, left, right) : expected_dff(src, left, right)));
        }
    }
}

TEST(ChanforkCopy, EmptySoundChunkGivesHeadersOnly) {
    const std::string dir = testutil::make_temp_dir();
    const Source src = exttest::make_source(dir + "/empty.dff", {"--channels=3", "--bytes=0"});
    RunResult r = exttest::run_in(dir, cmd("empty.dff", {"C000", "C002", "e.wsd", "C001", "C001", "e.dff"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testutil::read_file(dir + "/e.wsd"), exttest::wsd_header(2048, 0x30303030, 2822400, false));
    EXPECT_EQ(testutil::read_file(dir + "/e.dff"), exttest::dff_header(0, 2822400));
}

TEST(ChanforkCopy, OnlyWholeFramesWithinTheSoundChunkAreCopied) {
    const std::string dir = testutil::make_temp_dir();
    auto args = exttest::random_channels(6, 8);
    args.insert(args.end(), {"--channels=6", "--bytes=101", "--data-size=604", "--trailing-chunk=ZZZZ:40"});
    const Source src = exttest::make_source(dir + "/cut.dff", args);
    RunResult r = exttest::run_in(dir, cmd("cut.dff", {"C001", "C004", "cut.wsd", "C003", "C000", "cut2.dff"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto wsd = testutil::read_file(dir + "/cut.wsd");
    const auto dff = testutil::read_file(dir + "/cut2.dff");
    EXPECT_TRUE(wsd == expected_wsd(src, 1, 4));
    EXPECT_TRUE(dff == expected_dff(src, 3, 0));
    EXPECT_EQ(wsd.size(), 2048u + 200u);
    EXPECT_EQ(dff.size(), 130u + 200u);
    EXPECT_EQ(testutil::be(dff, 122, 8), 200u);
}

TEST(ChanforkCopy, PlayingTimeHoldsMinutesAndHoursCharacters) {
    const struct {
        uint64_t seconds;
        const char* chars;
    } cases[] = {{3725, "0201"}, {12 * 3600 + 34 * 60 + 59, "3412"}, {59, "0000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        const std::string dir = testutil::make_temp_dir();
        const uint64_t bpc = c.seconds * 2822400 / 8;
        exttest::make_source(dir + "/long.dff",
                             {"--header-only", "--bytes=0", "--data-size=" + std::to_string(2 * bpc)});
        // Nothing to copy: the headers are there, then the read fails at 0.
        RunResult r = exttest::run_in(dir, cmd("long.dff", {"SLFT", "SRGT", "long.wsd", "SRGT", "SLFT", "long2.dff"}));
        EXPECT_EQ(r.status, 228);
        EXPECT_EQ(r.err, err_report("main", 227, "read data error at 0 bytes offset\n"));
        const auto out = testutil::read_file(dir + "/long.wsd");
        ASSERT_EQ(out.size(), 2048u);
        EXPECT_EQ(std::string(out.begin() + 32, out.begin() + 36), c.chars);
        EXPECT_EQ(out, exttest::wsd_header(2 * bpc + 2048, play_time(c.seconds), 2822400, false));
        EXPECT_EQ(testutil::read_file(dir + "/long2.dff"), exttest::dff_header(2 * bpc, 2822400));
    }
}

TEST(ChanforkCopy, FourGibibytesOfDataDeclaredInTheHeaders) {
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/big.dff", {"--channels=2", "--header-only", "--bytes=0", "--data-size=8589934592"});
    RunResult r = exttest::run_in(dir, cmd("big.dff", {"SLFT", "SRGT", "big.wsd", "SLFT", "SRGT", "big2.dff"}));
    EXPECT_EQ(r.status, 228);
    // 4 GiB per channel: 12173 s = 3:22:53.
    const auto wsd = testutil::read_file(dir + "/big.wsd");
    EXPECT_EQ(wsd, exttest::wsd_header(8589934592ull + 2048, 0x32323033, 2822400, false));
    EXPECT_EQ(testutil::read_file(dir + "/big2.dff"), exttest::dff_header(8589934592ull, 2822400));
}

TEST(ChanforkCopy, ReadErrorWritesEveryWholeFrameBeforeIt) {
    const std::string dir = testutil::make_temp_dir();
    auto args = exttest::random_channels(3, 12);
    args.insert(args.end(), {"--channels=3", "--bytes=140000"});
    Source src = exttest::make_source(dir + "/short.dff", args);
    const uint64_t whole = 131072 + 17;  // past two full reads
    std::filesystem::resize_file(src.path, src.data_offset + whole * 3 + 2);
    RunResult r = exttest::run_in(dir, cmd("short.dff", {"C002", "C000", "s.wsd", "C001", "C001", "s.dff"}));
    EXPECT_EQ(r.status, 228);
    EXPECT_EQ(r.err, err_report("main", 227, "read data error at " + std::to_string(whole * 3) + " bytes offset\n"));
    auto wsd = expected_wsd(src, 2, 0);
    wsd.resize(2048 + 2 * whole);
    auto dff = expected_dff(src, 1, 1);
    dff.resize(130 + 2 * whole);
    EXPECT_TRUE(testutil::read_file(dir + "/s.wsd") == wsd);
    EXPECT_TRUE(testutil::read_file(dir + "/s.dff") == dff);
}

TEST(ChanforkCopy, WriteErrorIsReported) {
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/src.dff", {"--channels=2", "--bytes=100000", "--random=all:4"});
    RunResult r = exttest::run_with_file_limit(
        65536, cmd(dir + "/src.dff", {"SLFT", "SRGT", dir + "/o.dff"}));
    EXPECT_EQ(r.status, 246);
    EXPECT_EQ(r.err, err_report("main", 245, "write data error\n"));
}

TEST(ChanforkCopy, HeaderLostAtTheLastFlushIsAWriteError) {
    const std::string dir = testutil::make_temp_dir();
    exttest::make_source(dir + "/empty.dff", {"--channels=2", "--bytes=0"});
    RunResult r = exttest::run_with_file_limit(1024, cmd(dir + "/empty.dff", {"SLFT", "SRGT", dir + "/o.wsd"}));
    EXPECT_EQ(r.status, 246);
    EXPECT_EQ(r.err, err_report("main", 245, "write data error\n"));
}

TEST(ChanforkCopy, OutputsAreCreatedExclusively) {
    const std::string dir = testutil::make_temp_dir();
    const Source src = six_channels(dir);
    // The same name twice: the second creation fails instead of truncating
    // the first output and writing both pairs into one file.
    RunResult r = exttest::run_in(dir, cmd("six.dff", {"C000", "C001", "o.wsd", "C002", "C003", "o.wsd"}));
    EXPECT_EQ(r.status, 153);
    EXPECT_EQ(r.err, err_report("main", 152, "fopen(o.wsd) failed.\n"));
    auto header = expected_wsd(src, 0, 1);
    header.resize(2048);
    EXPECT_EQ(testutil::read_file(dir + "/o.wsd"), header);

    // A dangling link passes the status query; its target is never created.
    ASSERT_EQ(symlink("victim", (dir + "/l.dff").c_str()), 0);
    r = exttest::run_in(dir, cmd("six.dff", {"C000", "C001", "l.dff"}));
    EXPECT_EQ(r.status, 153);
    EXPECT_EQ(r.err, err_report("main", 152, "fopen(l.dff) failed.\n"));
    EXPECT_FALSE(testutil::file_exists(dir + "/victim"));
}

}  // namespace
