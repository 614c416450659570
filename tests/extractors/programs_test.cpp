// chanfork and chanfork2chx4 end to end: output names and formats,
// refusals, byte-exact outputs, the copy's limits and its error reports.
#include <unistd.h>

#include <iterator>
#include <sstream>
#include <tuple>

#include "exttest.h"

using namespace exttest;
using testutil::read_file;
using testutil::RunResult;

namespace {

const Args IDS8 = {"C000", "C001", "C002", "C003", "C004", "C005", "C006", "C007"};

Args fork_argv(const std::string& src, const Args& groups) {
    Args argv{CHANFORK_BIN, src};
    argv.insert(argv.end(), groups.begin(), groups.end());
    return argv;
}

Args chx4_argv(const Args& ids, const std::string& src) {
    Args argv{CHANFORK2CHX4_BIN};
    argv.insert(argv.end(), ids.begin(), ids.end());
    argv.push_back(src);
    return argv;
}

// What an output of a short source (under a second, so the playing time is
// 0) holds: its header, then the pair's bytes of at most `frames` frames.
enum Kind { FORK_WSD, FORK_DFF, CHX4 };
Bytes expected(const Source& src, Kind kind, int left, int right, uint64_t frames = UINT64_MAX) {
    const uint64_t bpc = src.data_size / static_cast<uint64_t>(src.channels);
    EXPECT_LT(bpc, src.rate / 8);
    Bytes out = kind == FORK_DFF ? dff_header(2 * bpc, src.rate)
                                 : wsd_header(2 * bpc + 2048, kind == CHX4 ? 0 : 0x30303030, src.rate, kind == CHX4);
    const Bytes data = pair_data(src, left, right, frames);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void expect_chx4_outputs(const std::string& stem, const Source& src, const std::vector<int>& pos,
                         uint64_t frames = UINT64_MAX) {
    for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(read_file(stem + "_" + std::to_string(k) + ".wsd") ==
                    expected(src, CHX4, pos[2 * k], pos[2 * k + 1], frames))
            << stem << " output " << k;
}

TEST(ChanforkOutputs, NameDecidesTheFormatAndEachGroupGetsItsPair) {
    const std::string dir = testutil::make_temp_dir();
    std::filesystem::create_directories(dir + "/dir.v2");
    const Source src = random_source(dir + "/six.dff", 6, 1000, {"--rate=5644800"});
    ASSERT_EQ(src.data_size, 6000u);
    const struct {
        std::string left, right, name;
        Kind kind;
        int l, r;
    } groups[] = {
        {"C000", "C001", "out.wsd", FORK_WSD, 0, 1},      {"C002", "C003", "out.WSD", FORK_WSD, 2, 3},
        {"C005", "C005", "out.dff", FORK_DFF, 5, 5},      {"C004C", "C0045", "out.DFF", FORK_DFF, 4, 4},
        {"C001", "C000", ".wsd", FORK_DFF, 1, 0},         {"C003", "C002", "abcd", FORK_DFF, 3, 2},
        {"C000", "C005", "output", FORK_DFF, 0, 5},       {"C002", "C005", "./dot.wsd", FORK_WSD, 2, 5},
        {"C004", "C001", "dir.v2/out.wsd", FORK_WSD, 4, 1}, {"C001", "C001", "dir.v2/output", FORK_DFF, 1, 1},
        {"C005", "C000", "dir.v2/a.wsd", FORK_WSD, 5, 0}, {"C003", "C004", "dir.v2/.wsd", FORK_DFF, 3, 4},
    };
    Args argv;
    for (const auto& g : groups) argv.insert(argv.end(), {g.left, g.right, g.name});
    RunResult r = run_in(dir, fork_argv("six.dff", argv));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    for (const auto& g : groups) EXPECT_TRUE(read_file(dir + "/" + g.name) == expected(src, g.kind, g.l, g.r)) << g.name;
    // The sizes from the example: 2048 + 2000 (the size low half first) and 130 + 2000.
    const Bytes wsd = read_file(dir + "/out.WSD");
    EXPECT_EQ(wsd.size(), 4048u);
    EXPECT_EQ(be(wsd, 12, 8), uint64_t{4048} << 32);
    EXPECT_EQ(testutil::file_size(dir + "/out.dff"), 2130u);
}

TEST(Chx4Outputs, OnlyTheLastPathComponentHoldsTheExtension) {
    const struct {
        std::string source;  // relative to the working folder
        std::string stem;    // expected output names: stem + "_k.wsd"
    } cases[] = {
        {"example.dff", "example"}, {"a.b.dff", "a.b"},   {"a.df", "a.df"},  // fewer than 5 characters
        {"music", "music"},         {"./take", "./take"}, {"dir.v2/take", "dir.v2/take"},
        {"dir.v2/song.dff", "dir.v2/song"}, {"dir.v2/music", "dir.v2/music"}, {"sub/a.df", "sub/a.df"},
        {"sub/x.y.z", "sub/x.y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string dir = testutil::make_temp_dir();
        std::filesystem::create_directories(dir + "/dir.v2");
        std::filesystem::create_directories(dir + "/sub");
        const Source src = random_source(dir + "/" + c.source, 8, 40);
        RunResult r = run_in(dir, chx4_argv({"C007", "C000", "C003", "C003xyz", "C001", "C006", "C005", "C002"},
                                            c.source));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        expect_chx4_outputs(dir + "/" + c.stem, src, {7, 0, 3, 3, 1, 6, 5, 2});
        size_t files = 0;  // nothing else appears next to the outputs
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) files += e.is_regular_file();
        EXPECT_EQ(files, 5u);
    }
}

TEST(BothPrograms, SourcesOfTwoToTenChannelsAndRepeatedIdentifiers) {
    const struct {
        int channels;
        Args gen;
        Args chx4;
        std::vector<int> chx4_pos;
        Args fork;  // left, right, name groups
        std::vector<std::pair<int, int>> fork_pos;
    } cases[] = {
        {2, {}, {"SLFT", "SRGT", "SRGT", "SLFT", "SLFT", "SLFT", "SRGT", "SRGT"}, {0, 1, 1, 0, 0, 0, 1, 1},
         {"SRGT", "SLFT", "swap.wsd", "SLFT", "SLFT", "mono.dff"}, {{1, 0}, {0, 0}}},
        {6, {}, {"C005", "C004", "C000", "C001", "C002", "C003", "C001", "C001"}, {5, 4, 0, 1, 2, 3, 1, 1},
         {"C002", "C005", "out.wsd"}, {{2, 5}}},
        {10, {"--rate=5644800"}, {"C009", "C008", "C000", "C005", "C002", "C007", "C006", "C006"},
         {9, 8, 0, 5, 2, 7, 6, 6},
         {"C009", "C000", "a.wsd", "C004", "C007", "b.dff", "C008", "C008", "c.wsd"}, {{9, 0}, {4, 7}, {8, 8}}},
        // The later channel wins when the file repeats an identifier. Only
        // the 99 whole frames within the chunk's 799 bytes are copied, not
        // the cut frame nor the bytes and the chunk that follow.
        {8, {"--ids=AAAA,BBBB,AAAA,CCCC,BBBB,DD,EEEE,AAAA", "--data-size=799", "--trailing-chunk=ZZZZ:64"},
         {"AAAA", "BBBB", "CCCC", "DD", "EEEE", "AAAA", "DD", "BBBB"}, {7, 4, 3, 5, 6, 7, 5, 4}, {"AAAA", "BBBB", "d.wsd", "CCCC", "AAAA", "e.dff"}, {{7, 4}, {3, 7}}},
    };
    std::string dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        dir = testutil::make_temp_dir();
        const Source src = random_source(dir + "/src.dff", c.channels, 999, c.gen);
        RunResult r = run_in(dir, chx4_argv(c.chx4, "src.dff"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        expect_chx4_outputs(dir + "/src", src, c.chx4_pos);
        r = run_in(dir, fork_argv("src.dff", c.fork));
        ASSERT_EQ(r.status, 0) << r.err;
        for (size_t g = 0; g < c.fork_pos.size(); ++g) {
            const std::string name = c.fork[3 * g + 2];
            const Kind kind = name.find(".wsd") != std::string::npos ? FORK_WSD : FORK_DFF;
            EXPECT_TRUE(read_file(dir + "/" + name) == expected(src, kind, c.fork_pos[g].first, c.fork_pos[g].second))
                << name;
        }
    }
    // The last, cut source's outputs by their sizes: 99 frames.
    EXPECT_EQ(testutil::file_size(dir + "/src_3.wsd"), 2048u + 198u);
    EXPECT_EQ(testutil::file_size(dir + "/e.dff"), 130u + 198u);
}

TEST(BothPrograms, HeadersOfLongAndEmptySourcesHoldEachProgramsPlayingTime) {
    // Declared sizes without data: the outputs get their headers, then the
    // copy finds no data at offset 0. chanfork's word holds the characters
    // of the minutes' and the hours' digits, chanfork2chx4's the binary
    // digits of the seconds.
    const struct {
        uint64_t data_size;  // of a stereo source
        bool header_only;
        const char* fork_chars;
        uint32_t chx4_word;
    } cases[] = {
        {0, false, "0000", 0},
        {2 * 3725 * 352800ull, true, "0201", 0x00050000},                // 1:02:05
        {2 * (12 * 3600 + 34 * 60 + 59) * 352800ull, true, "3412", 0x05090000},
        {2 * 59 * 352800ull, true, "0000", 0x05090000},
        {8589934592ull, true, "2203", 0x05030000},  // 4 GiB per channel: 3:22:53
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data_size);
        const std::string dir = testutil::make_temp_dir();
        make_source(dir + "/long.dff", c.header_only ? Args{"--header-only", "--bytes=0", "--data-size=" +
                                                                     std::to_string(c.data_size)}
                                                     : Args{"--bytes=0"});
        RunResult r = run_in(dir, fork_argv("long.dff", {"SLFT", "SRGT", "long.wsd", "SRGT", "SLFT", "long2.dff"}));
        EXPECT_EQ(r.status, c.header_only ? 228 : 0);
        EXPECT_EQ(r.err, c.header_only ? err_report("main", 227, "read data error at 0 bytes offset\n") : "");
        const Bytes wsd = read_file(dir + "/long.wsd");
        EXPECT_EQ(std::string(wsd.begin() + 32, wsd.begin() + 36), c.fork_chars);
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i) word = word << 8 | static_cast<uint8_t>(c.fork_chars[i]);
        EXPECT_EQ(wsd, wsd_header(c.data_size + 2048, word, 2822400, false));
        EXPECT_EQ(read_file(dir + "/long2.dff"), dff_header(c.data_size, 2822400));

        r = run_in(dir, chx4_argv({"SLFT", "SRGT", "SRGT", "SLFT", "SLFT", "SLFT", "SRGT", "SRGT"}, "long.dff"));
        EXPECT_EQ(r.status, c.header_only ? 177 : 0);
        EXPECT_EQ(r.err, c.header_only ? err_report("main", 173, "read data error at 0 bytes offset\n") : "");
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(read_file(dir + "/long_" + std::to_string(k) + ".wsd"),
                      wsd_header(c.data_size + 2048, c.chx4_word, 2822400, true));
    }
}

TEST(BothPrograms, CopyFailuresAreReported) {
    const std::string dir = testutil::make_temp_dir();
    // The source ends 5 bytes into frame 66000: every whole frame before it
    // is written, then the read error names the bytes consumed.
    const Source cut = random_source(dir + "/short.dff", 8, 70000);
    const uint64_t whole = 66000;
    std::filesystem::resize_file(cut.path, cut.data_offset + whole * 8 + 5);
    const std::string at = "read data error at " + std::to_string(whole * 8) + " bytes offset\n";
    RunResult r = run_in(dir, chx4_argv(IDS8, "short.dff"));
    EXPECT_EQ(r.status, 177);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err_report("main", 173, at));
    expect_chx4_outputs(dir + "/short", cut, {0, 1, 2, 3, 4, 5, 6, 7}, whole);
    r = run_in(dir, fork_argv("short.dff", {"C002", "C000", "s.wsd", "C001", "C001", "s.dff"}));
    EXPECT_EQ(r.status, 228);
    EXPECT_EQ(r.err, err_report("main", 227, at));
    EXPECT_TRUE(read_file(dir + "/s.wsd") == expected(cut, FORK_WSD, 2, 0, whole));
    EXPECT_TRUE(read_file(dir + "/s.dff") == expected(cut, FORK_DFF, 1, 1, whole));

    // Outputs may not grow beyond 64 KiB (each needs 200 KB more), or 1 KiB:
    // then the headers are lost when the closing flushes them.
    random_source(dir + "/big.dff", 8, 100000);
    make_source(dir + "/empty.dff", {"--channels=8", "--bytes=0"});
    const struct {
        int limit;
        const char* src;
        const char* output;
    } limits[] = {{65536, "/big.dff", "/o.dff"}, {1024, "/empty.dff", "/o.wsd"}};
    for (const auto& l : limits) {
        SCOPED_TRACE(l.limit);
        r = run_with_file_limit(l.limit, chx4_argv(IDS8, dir + l.src));
        EXPECT_EQ(r.status, 183);
        EXPECT_EQ(r.err, err_report("main", 182, "write data error\n"));
        r = run_with_file_limit(l.limit, fork_argv(dir + l.src, {"C000", "C001", testutil::make_temp_dir() + l.output}));
        EXPECT_EQ(r.status, 246);
        EXPECT_EQ(r.err, err_report("main", 245, "write data error\n"));
    }
}

// Refusals: the report, its status, and what the folder holds afterwards.
// Each setup item makes one thing in the folder: "name.dff channels
// [generator options]" a source with 8 bytes a channel, "name.wsd channels"
// a WSD file, "name=text" a plain file, "name@" a link to the absent
// "victim". Each expected entry is a name, or "name=size".
TEST(BothPrograms, RefusalsLeaveTheFolderAsSaid) {
    const auto bad_ext = [](const std::string& name, const std::string& shown) {
        // The refused name is in the second group; the source does not exist.
        return std::tuple{Args{}, fork_argv("none.dff", {"C000", "C001", "good.wsd", "C002", "C003", name}), 111,
                          err_report("main", 110, "could not judge file name extension \"" + shown + "\".\n"), Args{}};
    };
    const auto fork_ids = [](const char* l, const char* r) {
        return fork_argv("six.dff", {"C000", "C001", "first.wsd", l, r, "second.dff", "C002", "C003", "third.wsd"});
    };
    const auto ids8 = [](const char* fifth, const char* eighth) {
        return chx4_argv({"C000", "C001", "C002", "C003", fifth, "C005", "C006", eighth}, "src.dff");
    };
    const Args left_outputs{"first.wsd=2048", "second.dff=0", "six.dff"};
    const std::string ab = "src.dff 8 --ids=C000,C001,C002,C003,C004,C005,C006,AB";
    const std::tuple<Args, Args, int, std::string, Args> cases[] = {
        bad_ext("out.Wsd", ".Wsd"), bad_ext("out.dsf", ".dsf"), bad_ext("my.song.wsd", ".song.wsd"),
        bad_ext("take.wsd.bak", ".wsd.bak"), bad_ext("dir.v2/x.y.dff", ".y.dff"), bad_ext("name.", "."),
        {{"rear.dff=old"}, fork_argv("none.dff", {"C000", "C001", "front.wsd", "C002", "C003", "rear.dff"}), 123,
         err_report("main", 122, "output file rear.dff exist. Abort.\n"), {"rear.dff=3"}},
        {{"rear.dff=old"}, fork_argv("none.dff", {"C0", "C1", "rear.dff/x.wsd"}), 123,  // ENOTDIR
         err_report("main", 122, "output file rear.dff/x.wsd exist. Abort.\n"), {"rear.dff"}},
        {{}, fork_argv("none.dff", {"C000", "C001", "out.wsd"}), 131, err_report("main", 130, "fopen(none.dff) failed.\n"),
         {}},
        {{"six.wsd 6"}, fork_argv("six.wsd", {"C000", "C001", "out.wsd"}), 136, "file six.wsd is not DSDIFF format.\n",
         {"six.wsd"}},
        {{"six.dff 6 --rate=0"}, fork_argv("six.dff", {"C000", "C001", "out.wsd"}), 136,
         "file six.dff is not DSDIFF format.\n", {"six.dff"}},
        {{"six.dff 6 --chnl-count=0 --chnl-size=2"}, fork_argv("six.dff", {"C000", "C001", "out.wsd"}), 136,
         "file six.dff is not DSDIFF format.\n", {"six.dff"}},
        {{"six.dff 6"}, fork_ids("C004", "C009"), 171, err_report("main", 170, "right channel name C009 not found.\n"),
         left_outputs},
        {{"six.dff 6"}, fork_ids("X", "C001"), 167, err_report("main", 166, "left channel name X not found.\n"),
         left_outputs},
        {{"six.dff 6"}, fork_ids("c004", "c005"), 167, err_report("main", 166, "left channel name c004 not found.\n"),
         left_outputs},
        // The same name twice: the exclusive creation fails instead of
        // writing both pairs into one file. A dangling link passes the
        // status query; its target is never created.
        {{"six.dff 6"}, fork_argv("six.dff", {"C000", "C001", "o.wsd", "C002", "C003", "o.wsd"}), 153,
         err_report("main", 152, "fopen(o.wsd) failed.\n"), {"o.wsd=2048", "six.dff"}},
        {{"six.dff 6", "l.dff@"}, fork_argv("six.dff", {"C000", "C001", "l.dff"}), 153,
         err_report("main", 152, "fopen(l.dff) failed.\n"), {"l.dff", "six.dff"}},

        {{"missing_0.wsd="}, chx4_argv(IDS8, "missing.dff"), 95,
         err_report("main", 94, "output file missing_0.wsd exist. Abort.\n"), {"missing_0.wsd"}},
        {{"example.dff 8", "example_2.wsd=keep me"}, chx4_argv(IDS8, "example.dff"), 95,
         err_report("main", 94, "output file example_2.wsd exist. Abort.\n"), {"example.dff", "example_2.wsd=7"}},
        {{"plain=x"}, chx4_argv(IDS8, "plain/x.dff"), 95,  // ENOTDIR
         err_report("main", 94, "output file plain/x_0.wsd exist. Abort.\n"), {"plain"}},
        {{}, chx4_argv(IDS8, "missing.dff"), 103, err_report("main", 102, "fopen(missing.dff) failed.\n"), {}},
        {{"src.wsd 8"}, chx4_argv(IDS8, "src.wsd"), 108,
         err_report("dsdiff", 42, "\n") + err_report("dsdiff", 57, "\n") + "file src.wsd is not DSDIFF format.\n",
         {"src.wsd"}},
        {{"src.dff 8 --rate=0"}, chx4_argv(IDS8, "src.dff"), 108, "file src.dff is not DSDIFF format.\n", {"src.dff"}},
        {{"src.dff 8 --no-chnl"}, chx4_argv(IDS8, "src.dff"), 108, "file src.dff is not DSDIFF format.\n", {"src.dff"}},
        // The first missing in argument order; case counts; padding is NUL.
        {{ab}, ids8("C009", "C008"), 122, "channel name C009 not found\n", {"src.dff"}},
        {{ab}, ids8("c004", "AB"), 122, "channel name c004 not found\n", {"src.dff"}},
        {{"src.dff 8"}, ids8("C004", "C00"), 122, "channel name C00 not found\n", {"src.dff"}},
        {{ab}, ids8("C004", "ABC"), 122, "channel name ABC not found\n", {"src.dff"}},
        // Output 0 is made before the link refuses output 1.
        {{"src.dff 8", "src_1.wsd@"}, chx4_argv(IDS8, "src.dff"), 131,
         err_report("main", 130, "fopen(src_1.wsd) failed.\n"), {"src.dff", "src_0.wsd=2048", "src_1.wsd"}},
    };
    for (const auto& [setup, argv, status, err, files] : cases) {
        SCOPED_TRACE(err);
        const std::string dir = testutil::make_temp_dir();
        for (const std::string& item : setup) {
            std::istringstream words(item);
            std::string name;
            int channels = 0;
            words >> name >> channels;
            if (item.back() == '@') {
                ASSERT_EQ(symlink("victim", (dir + "/" + item.substr(0, item.size() - 1)).c_str()), 0);
            } else if (const size_t eq = item.find('='); eq != std::string::npos && item.find(' ') > eq) {
                testutil::write_file(dir + "/" + item.substr(0, eq), item.substr(eq + 1));
            } else if (name.ends_with(".wsd")) {
                ASSERT_TRUE(testutil::dsdgen({"--channels=" + std::to_string(channels), "--bytes=16", dir + "/" + name}));
            } else {
                random_source(dir + "/" + name, channels, 8, Args(std::istream_iterator<std::string>(words), {}));
            }
        }
        RunResult r = run_in(dir, argv);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, err);
        const Args seen = list_dir(dir);
        ASSERT_EQ(seen.size(), files.size());
        for (size_t i = 0; i < seen.size(); ++i) {
            const size_t eq = files[i].find('=');
            EXPECT_EQ(seen[i], files[i].substr(0, eq));
            if (eq != std::string::npos) {
                EXPECT_EQ(std::to_string(testutil::file_size(dir + "/" + seen[i])), files[i].substr(eq + 1));
            }
        }
    }
}

}  // namespace
