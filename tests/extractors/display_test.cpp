// The one-argument property display of both extractors, and their usage
// texts: exact lines, statuses, and the not-DSDIFF verdicts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exttest.h"
#include "testutil.h"

using testutil::RunResult;

namespace {

struct Program {
    const char* bin;
    bool reporting;  // chanfork2chx4's DSDIFF reader prints its own report lines
};

const Program PROGRAMS[] = {{CHANFORK2CHX4_BIN, true}, {CHANFORK_BIN, false}};

std::string display(const std::string& rate, const std::string& size, const std::string& time,
                    const std::vector<std::string>& ids) {
    std::string s = "sampling frequency:\t" + rate + " [Hz]\n";
    s += "data size in bytes:\t" + size + " [Byte]\n";
    s += "playing time:\t\t" + time + "\n";
    s += "channel:\t\t" + std::to_string(ids.size()) + " [ch]\n";
    for (size_t c = 0; c < ids.size(); ++c) s += "\tchannel " + std::to_string(c) + " name is \"" + ids[c] + "\"\n";
    return s;
}

std::vector<std::string> numbered_ids(int n) {
    std::vector<std::string> ids;
    for (int c = 0; c < n; ++c) {
        char id[8];
        std::snprintf(id, sizeof id, "C%03d", c);
        ids.push_back(id);
    }
    return ids;
}

struct DisplayCase {
    const char* what;
    std::vector<std::string> gen;  // generator arguments
    std::string expected;
};

class DisplayTest : public ::testing::TestWithParam<Program> {};

TEST_P(DisplayTest, PrintsThePropertiesOfDsdiffFiles) {
    const std::string dir = testutil::make_temp_dir();
    const DisplayCase cases[] = {
        {"one channel, 100 s",
         {"--channels=1", "--ids=MONO", "--header-only", "--bytes=35280000"},
         display("2822400", "35280000", "0:01:40", {"MONO"})},
        {"ten channels with real data",
         {"--channels=10", "--bytes=3528", "--random=all:7"},
         display("2822400", "35280", "0:00:00", numbered_ids(10))},
        {"the example: 70560000 bytes of stereo",
         {"--header-only", "--bytes=0", "--data-size=70560000"},
         display("2822400", "70560000", "0:01:40", {"SLFT", "SRGT"})},
        {"truncated to whole seconds",
         {"--header-only", "--bytes=0", "--data-size=70560001"},
         display("2822400", "70560001", "0:01:40", {"SLFT", "SRGT"})},
        {"hours beyond 99",
         {"--header-only", "--bytes=0", "--data-size=312612552000"},
         display("2822400", "312612552000", "123:04:05", {"SLFT", "SRGT"})},
        {"4 GiB of sound data",
         {"--header-only", "--bytes=0", "--data-size=4294967296"},
         display("2822400", "4294967296", "1:41:26", {"SLFT", "SRGT"})},
        {"largest size the reader takes, one channel: no wrap in bytes x 8",
         {"--channels=1", "--header-only", "--bytes=0", "--data-size=9223372036854775807"},
         display("2822400", "9223372036854775807", "7262040215:27:45", {"C000"})},
        {"empty sound chunk",
         {"--bytes=0"},
         display("2822400", "0", "0:00:00", {"SLFT", "SRGT"})},
        {"quad rate, six channels",
         {"--rate=11289600", "--channels=6", "--ids=L,R,C,LFE,LS,RS", "--header-only", "--bytes=0",
          "--data-size=6096384000"},
         display("11289600", "6096384000", "0:12:00", {"L", "R", "C", "LFE", "LS", "RS"})},
        {"a rate beyond 2^31 prints as unsigned",
         {"--rate=4294967295", "--bytes=16"},
         display("4294967295", "32", "0:00:00", {"SLFT", "SRGT"})},
        {"identifiers as stored: NUL padding ends them, case kept",
         {"--ids=ab\\x00\\x00,Rgt ", "--bytes=8"},
         display("2822400", "16", "0:00:00", {"ab", "Rgt "})},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir + "/src" + std::to_string(n++) + ".dff";
        testutil::dsdgen([&] {
            auto a = c.gen;
            a.push_back(path);
            return a;
        }());
        RunResult r = testutil::run({GetParam().bin, path});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.expected);
        EXPECT_EQ(r.err, "");
    }
}

TEST_P(DisplayTest, RefusesFilesThatAreNotDsdiffWithStatusZero) {
    const std::string dir = testutil::make_temp_dir();
    const std::string wsd = dir + "/tone.wsd", text = dir + "/notes.txt", empty = dir + "/empty.dff";
    ASSERT_TRUE(testutil::dsdgen({"--tone=all:1000:0.5", "--seconds=0.01", wsd}));
    testutil::write_file(text, std::string("FRM? this is not sound\n"));
    testutil::write_file(empty, std::string());

    // What the reporting reader of chanfork2chx4 prints first: the identifier
    // check (42 differs, 38 short read), then the form check (57).
    const std::string differs = exttest::err_report("dsdiff", 42, "\n") + exttest::err_report("dsdiff", 57, "\n");
    const std::string short_read = exttest::err_report("dsdiff", 38, "\n") + exttest::err_report("dsdiff", 57, "\n");
    const struct {
        std::string path;
        std::string reader_lines;
    } cases[] = {{wsd, differs}, {text, differs}, {empty, short_read}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        RunResult r = testutil::run({GetParam().bin, c.path});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, (GetParam().reporting ? c.reader_lines : "") + "file " + c.path + " is not DSDIFF format.\n");
    }
}

TEST_P(DisplayTest, HeaderWithoutRateOrChannelsIsNotDsdiff) {
    // The reader takes these headers; without a rate or a channel there is
    // nothing to divide the playing time by, so they are reported as not
    // DSDIFF and nothing is printed on standard output.
    const std::string dir = testutil::make_temp_dir();
    const std::vector<std::vector<std::string>> shapes = {
        {"--rate=0"}, {"--no-fs"}, {"--no-chnl"}, {"--chnl-count=0", "--chnl-size=2"}};
    int n = 0;
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape[0]);
        const std::string path = dir + "/odd" + std::to_string(n++) + ".dff";
        auto args = shape;
        args.push_back("--bytes=64");
        args.push_back(path);
        ASSERT_TRUE(testutil::dsdgen(args));
        RunResult r = testutil::run({GetParam().bin, path});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "file " + path + " is not DSDIFF format.\n");
    }
}

TEST_P(DisplayTest, MissingFileEndsWithStatus26AndSilence) {
    const std::string dir = testutil::make_temp_dir();
    RunResult r = testutil::run({GetParam().bin, dir + "/nothing.dff"});
    EXPECT_EQ(r.status, 26);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST_P(DisplayTest, ReaderFailureInsideTheHeaderIsReported) {
    // A DST-compressed sound chunk passes the property walk and is refused at
    // the sound chunk (216).
    const std::string dir = testutil::make_temp_dir();
    const std::string path = dir + "/dst.dff";
    ASSERT_TRUE(testutil::dsdgen({"--cmpr-type=DST ", "--sound-id=DST ", "--bytes=16", path}));
    RunResult r = testutil::run({GetParam().bin, path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, (GetParam().reporting ? exttest::err_report("dsdiff", 216, "\n") : std::string()) + "file " +
                         path + " is not DSDIFF format.\n");
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, DisplayTest, ::testing::ValuesIn(PROGRAMS),
                         [](const auto& info) { return std::string(info.param.reporting ? "chanfork2chx4" : "chanfork"); });

// Usage texts: the program name as typed, in all three places.
std::string usage_chx4(const std::string& p) {
    return "usage:\t" + p + " [left_channel right_channel] file_name\nCf:\t" + p +
           " example.dff\t# show DSDIFF file information.\n\t" + p +
           " C000 C001 C002 C003 C004 C005 C006 C006 example.dff\t# read from example.dff and write into 4 stereo "
           "example_?.wsd file\n";
}

std::string usage_chanfork(const std::string& p) {
    return "usage:\t" + p + " [left_channel right_channel] file_name\nCf:\t" + p +
           " example.dff\t# show DSDIFF file information.\n\t" + p +
           " C002 C005 example.dff\t# read C002,C005 channel from example.dff and write into example.wsd file\n";
}

std::vector<std::string> with_args(const char* bin, int count) {
    // `count` includes the program name; the arguments are names of nothing.
    std::vector<std::string> argv{bin};
    for (int i = 1; i < count; ++i) argv.push_back(std::string("x").append(std::to_string(i)));
    return argv;
}

TEST(Usage, Chanfork2chx4TakesOneOrNineArguments) {
    const std::string dir = testutil::make_temp_dir();
    for (int count : {1, 3, 4, 9, 11, 12}) {
        SCOPED_TRACE(count);
        RunResult r = exttest::run_in(dir, with_args(CHANFORK2CHX4_BIN, count));
        EXPECT_EQ(r.status, 213);
        EXPECT_EQ(r.out, usage_chx4(CHANFORK2CHX4_BIN));
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(exttest::list_dir(dir).empty());
}

// chanfork ends with 278; a POSIX exit status keeps its low 8 bits.
constexpr int CHANFORK_USAGE_STATUS = 278 & 0xFF;

TEST(Usage, ChanforkTakesOneArgumentOrGroupsOfThree) {
    const std::string dir = testutil::make_temp_dir();
    for (int count : {1, 3, 4, 6, 7, 9, 10, 12}) {
        SCOPED_TRACE(count);
        RunResult r = exttest::run_in(dir, with_args(CHANFORK_BIN, count));
        EXPECT_EQ(r.status, CHANFORK_USAGE_STATUS);
        EXPECT_EQ(r.out, usage_chanfork(CHANFORK_BIN));
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(exttest::list_dir(dir).empty());
}

TEST(Usage, NameAsTypedAppearsInTheText) {
    // Started through a relative path, the text shows that path.
    const std::string bin = CHANFORK_BIN;
    const std::string dir = bin.substr(0, bin.rfind('/'));
    RunResult r = exttest::run_in(dir, {"./chanfork", "a", "b"});
    EXPECT_EQ(r.status, CHANFORK_USAGE_STATUS);
    EXPECT_EQ(r.out, usage_chanfork("./chanfork"));
    r = exttest::run_in(dir, {"./chanfork2chx4", "a", "b"});
    EXPECT_EQ(r.status, 213);
    EXPECT_EQ(r.out, usage_chx4("./chanfork2chx4"));
}

}  // namespace
