// The one-argument property display of both extractors, and their usage
// texts: exact lines, statuses, and the not-DSDIFF verdicts.
#include "exttest.h"

using exttest::Args;
using exttest::err_report;
using testutil::RunResult;

namespace {

struct Program {
    const char* bin;
    bool reporting;  // chanfork2chx4's DSDIFF reader prints its own report lines
};

class DisplayTest : public ::testing::TestWithParam<Program> {};

TEST_P(DisplayTest, PrintsThePropertiesOfDsdiffFiles) {
    const Args stereo{"SLFT", "SRGT"};
    const auto declared = [](const std::string& size, Args more = {}) {
        more.insert(more.end(), {"--header-only", "--bytes=0", "--data-size=" + size});
        return more;
    };
    const struct {
        Args gen;
        std::string rate, size, time;
        Args ids;
    } cases[] = {
        {{"--channels=1", "--ids=MONO", "--header-only", "--bytes=35280000"}, "2822400", "35280000", "0:01:40", {"MONO"}},
        {{"--channels=10", "--bytes=3528", "--random=all:7"}, "2822400", "35280", "0:00:00",
         {"C000", "C001", "C002", "C003", "C004", "C005", "C006", "C007", "C008", "C009"}},
        // Truncated to whole seconds: the example's 70560000 bytes and one more.
        {declared("70560001"), "2822400", "70560001", "0:01:40", stereo},
        {declared("312612552000"), "2822400", "312612552000", "123:04:05", stereo},
        {declared("4294967296"), "2822400", "4294967296", "1:41:26", stereo},
        // The largest size the reader takes, one channel: no wrap in bytes x 8.
        {declared("9223372036854775807", {"--channels=1"}), "2822400", "9223372036854775807", "7262040215:27:45",
         {"C000"}},
        {{"--bytes=0"}, "2822400", "0", "0:00:00", stereo},
        {declared("6096384000", {"--rate=11289600", "--channels=6", "--ids=L,R,C,LFE,LS,RS"}), "11289600",
         "6096384000", "0:12:00", {"L", "R", "C", "LFE", "LS", "RS"}},
        {{"--rate=4294967295", "--bytes=16"}, "4294967295", "32", "0:00:00", stereo},
        // Identifiers as stored: NUL padding ends them, case kept.
        {{"--ids=ab\\x00\\x00,Rgt ", "--bytes=8"}, "2822400", "16", "0:00:00", {"ab", "Rgt "}},
    };
    const std::string dir = testutil::make_temp_dir();
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = dir + "/src" + std::to_string(n++) + ".dff";
        SCOPED_TRACE(c.gen.back());
        exttest::make_source(path, c.gen);
        RunResult r = testutil::run({GetParam().bin, path});
        EXPECT_EQ(r.status, 0);
        std::string out = "sampling frequency:\t" + c.rate + " [Hz]\ndata size in bytes:\t" + c.size +
                          " [Byte]\nplaying time:\t\t" + c.time + "\nchannel:\t\t" + std::to_string(c.ids.size()) +
                          " [ch]\n";
        for (size_t i = 0; i < c.ids.size(); ++i)
            out += "\tchannel " + std::to_string(i) + " name is \"" + c.ids[i] + "\"\n";
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, "");
    }
}

TEST_P(DisplayTest, FilesThatAreNotDsdiffAreReportedWithStatusZero) {
    const std::string dir = testutil::make_temp_dir();
    ASSERT_TRUE(testutil::dsdgen({"--tone=all:1000:0.5", "--seconds=0.01", dir + "/tone.wsd"}));
    testutil::write_file(dir + "/notes.txt", std::string("FRM? this is not sound\n"));
    testutil::write_file(dir + "/empty.dff", std::string());
    // What the reporting reader prints first: the identifier check (42
    // differs, 38 short read) and the form check (57); a DST sound chunk is
    // refused at 216. Headers without a rate or a channel leave the playing
    // time no divisor and are no DSDIFF to the display.
    const std::string differs = err_report("dsdiff", 42, "\n") + err_report("dsdiff", 57, "\n");
    const struct {
        std::string name;
        Args gen;  // generator arguments, empty for the files above
        std::string reader_lines;
    } cases[] = {
        {"tone.wsd", {}, differs},
        {"notes.txt", {}, differs},
        {"empty.dff", {}, err_report("dsdiff", 38, "\n") + err_report("dsdiff", 57, "\n")},
        {"dst.dff", {"--cmpr-type=DST ", "--sound-id=DST ", "--bytes=16"}, err_report("dsdiff", 216, "\n")},
        {"rate0.dff", {"--rate=0", "--bytes=64"}, ""},
        {"nofs.dff", {"--no-fs", "--bytes=64"}, ""},
        {"nochnl.dff", {"--no-chnl", "--bytes=64"}, ""},
        {"chnl0.dff", {"--chnl-count=0", "--chnl-size=2", "--bytes=64"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name;
        if (!c.gen.empty()) {
            Args gen = c.gen;
            gen.push_back(path);
            ASSERT_TRUE(testutil::dsdgen(gen));
        }
        RunResult r = testutil::run({GetParam().bin, path});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, (GetParam().reporting ? c.reader_lines : "") + "file " + path + " is not DSDIFF format.\n");
    }
    RunResult r = testutil::run({GetParam().bin, dir + "/nothing.dff"});
    EXPECT_EQ(r.status, 26);
    EXPECT_EQ(r.out + r.err, "");
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, DisplayTest,
                         ::testing::Values(Program{CHANFORK2CHX4_BIN, true}, Program{CHANFORK_BIN, false}),
                         [](const auto& info) { return std::string(info.param.reporting ? "chanfork2chx4" : "chanfork"); });

// Usage texts, with the program name as typed in all three places. chanfork
// ends with 278, of which a POSIX exit status keeps the low 8 bits.
TEST(Usage, WrongArgumentCountsPrintTheUsageText) {
    const std::string chx4_example =
        " C000 C001 C002 C003 C004 C005 C006 C006 example.dff\t# read from example.dff and write into 4 stereo "
        "example_?.wsd file\n";
    const std::string fork_example =
        " C002 C005 example.dff\t# read C002,C005 channel from example.dff and write into example.wsd file\n";
    const std::string bin = CHANFORK_BIN, bindir = bin.substr(0, bin.rfind('/'));
    const struct {
        std::string bin;  // as typed
        std::string example;
        int status;
        std::vector<int> counts;  // including the program name
    } cases[] = {
        {CHANFORK2CHX4_BIN, chx4_example, 213, {1, 3, 4, 9, 11, 12}},
        {CHANFORK_BIN, fork_example, 278 & 0xFF, {1, 3, 4, 6, 7, 9, 10, 12}},
        {"./chanfork2chx4", chx4_example, 213, {3}},
        {"./chanfork", fork_example, 278 & 0xFF, {3}},
    };
    for (const auto& c : cases) {
        for (int count : c.counts) {
            SCOPED_TRACE(c.bin + " " + std::to_string(count));
            Args argv{c.bin};
            for (int i = 1; i < count; ++i) argv.push_back(std::string("x").append(std::to_string(i)));
            const std::string dir = c.bin[0] == '.' ? bindir : testutil::make_temp_dir();
            RunResult r = exttest::run_in(dir, argv);
            EXPECT_EQ(r.status, c.status);
            if (dir != bindir) {
                EXPECT_TRUE(exttest::list_dir(dir).empty());
            }
            EXPECT_EQ(r.out, "usage:\t" + c.bin + " [left_channel right_channel] file_name\nCf:\t" + c.bin +
                                 " example.dff\t# show DSDIFF file information.\n\t" + c.bin + c.example);
            EXPECT_EQ(r.err, "");
        }
    }
}

}  // namespace
