// The format library against files from the test-signal generator, which
// assembles them with its own code: real tones through the readers, the
// writers against and around the generator's files, and the generator's
// bent shapes through the readers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dsdiff.h"
#include "streams.h"
#include "testutil.h"
#include "wsd.h"

using namespace fmt_test;

namespace {

struct Generated {
    std::string path;
    Bytes bytes;
};

Generated generate(const std::string& name, std::vector<std::string> args) {
    static const std::string dir = testutil::make_temp_dir();
    Generated g;
    g.path = dir + "/" + name;
    args.push_back(g.path);
    if (testutil::dsdgen(args)) g.bytes = testutil::read_file(g.path);
    return g;
}

std::string report(int n) { return "\nERROR dsdiff " + std::to_string(n) + " \n"; }

// A header read of a generated file in reporting mode.
template <typename Info>
struct Opened : HeaderRead<Info> {
    Opened(const std::string& path, int (*read)(Info*)) : HeaderRead<Info>(std::fopen(path.c_str(), "rb"), read) {}
};

// Checks that `buf` holds channels `left` and `right` of the interleaved
// frames starting at `offset` of `file`.
void expect_pairs(const std::vector<uint8_t>& buf, const Bytes& file, size_t offset, size_t channels, size_t left,
                  size_t right) {
    for (size_t i = 0; i < buf.size() / 2; ++i) {
        ASSERT_EQ(buf[2 * i], file.at(offset + i * channels + left)) << "frame " << i;
        ASSERT_EQ(buf[2 * i + 1], file.at(offset + i * channels + right)) << "frame " << i;
    }
}

TEST(GeneratedDsdiff, TonesReadBackAtEveryRate) {
    for (uint32_t rate : {2822400u, 5644800u, 11289600u}) {
        const size_t frames = 4000;
        Generated g = generate("tones.dff", {"--rate=" + std::to_string(rate), "--channels=6",
                                             "--bytes=" + std::to_string(frames), "--tone=0:1000:0.5",
                                             "--tone=3:440:0.25", "--random=5:7", "--const=1:0x0F"});
        ASSERT_FALSE(g.bytes.empty());
        Opened<DsdiffInfo> o(g.path, readDsdHeader);
        ASSERT_EQ(o.result, 0) << rate;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.info.sample_rate, rate);
        EXPECT_EQ(o.info.channel_count, 6);
        EXPECT_EQ(o.info.version, 0x01050000u);
        EXPECT_EQ(o.info.data_size, 6 * frames);
        EXPECT_STREQ(o.info.channel_ids[5], "C005");
        const size_t data_at = static_cast<size_t>(ftello(o.f));
        EXPECT_EQ(data_at + o.info.data_size, g.bytes.size());

        o.info.left_channel = 3;
        o.info.right_channel = 5;
        std::vector<uint8_t> buf(2 * frames);
        ASSERT_EQ(readDsdData(&o.info, buf.data(), static_cast<int>(buf.size())), static_cast<int>(buf.size()));
        expect_pairs(buf, g.bytes, data_at, 6, 3, 5);
    }
}

TEST(GeneratedDsdiff, WriterHeaderOverGeneratedSoundReadsBack) {
    Generated g = generate("stereo.dff", {"--bytes=1000", "--tone=all:1000:0.5"});
    ASSERT_FALSE(g.bytes.empty());
    const Bytes sound(g.bytes.end() - 2000, g.bytes.end());
    FILE* f = stream_with({});
    DsdiffInfo out{};
    out.file = f;
    out.sample_rate = 2822400;
    out.data_size = sound.size();
    ASSERT_EQ(dsdiffWriteHeader(&out), 0);
    std::fwrite(sound.data(), 1, sound.size(), f);
    std::rewind(f);

    HeaderRead<DsdiffInfo> o(f, readDsdHeader);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.info.data_size, 2000u);
    EXPECT_EQ(o.info.version, 0x01050000u);
    EXPECT_EQ(o.info.sample_rate, 2822400u);
    EXPECT_EQ(o.info.channel_count, 2);
    EXPECT_STREQ(o.info.channel_ids[0], "SLFT");
    EXPECT_STREQ(o.info.channel_ids[1], "SRGT");
    EXPECT_EQ(ftello(f), 130);
    o.info.left_channel = 1;
    o.info.right_channel = 0;
    std::vector<uint8_t> buf(2000);
    ASSERT_EQ(readDsdData(&o.info, buf.data(), 2000), 2000);
    expect_pairs(buf, sound, 0, 2, 1, 0);
}

TEST(GeneratedWsd, ReaderAgreesWithTheGeneratorInBothSizeOrders) {
    for (const std::string order : {"low", "be64"}) {
        Generated g = generate("six.wsd", {"--rate=5644800", "--channels=6", "--bytes=3000", "--tone=1:440:0.5",
                                           "--random=0:3", "--wsd-size-order=" + order});
        ASSERT_EQ(g.bytes.size(), 2048u + 6 * 3000);
        Opened<WsdInfo> o(g.path, readWsdHeader);
        ASSERT_EQ(o.result, 0) << order;
        EXPECT_EQ(o.err, "");
        // The reader takes the low half first; a 64-bit value comes back swapped.
        const uint64_t size = g.bytes.size();
        EXPECT_EQ(o.info.file_size, order == "low" ? size : size << 32) << order;
        EXPECT_EQ(o.info.version, 0x11);
        EXPECT_EQ(o.info.data_offset, 2048u);
        EXPECT_EQ(o.info.sample_rate, 5644800u);
        EXPECT_EQ(o.info.channel_count, 6);
        EXPECT_EQ(ftello(o.f), 2048);

        std::vector<uint8_t> buf(6000);
        ASSERT_EQ(readWsdData(&o.info, buf.data(), 6000), 6000);
        expect_pairs(buf, g.bytes, 2048, 6, 0, 1);

        Opened<DsdiffInfo> as_dsdiff(g.path, readDsdHeader);
        EXPECT_EQ(as_dsdiff.result, -1);
        EXPECT_EQ(as_dsdiff.err, report(42) + report(57));
    }
}

TEST(GeneratedWsd, WriterMatchesTheGeneratorsHeaderByteForByte) {
    SettingsGuard guard;
    for (int order : {WSD_SIZE_LOW_HALF_FIRST, WSD_SIZE_BE64}) {
        wsd_size_order = order;
        Generated g = generate("pair.wsd", {"--rate=2822400", "--bytes=500", "--const=all:0x69",
                                            order == WSD_SIZE_BE64 ? "--wsd-size-order=be64" : "--wsd-size-order=low"});
        ASSERT_GE(g.bytes.size(), 2048u);
        Sink sink;
        WsdInfo info{};
        info.file = open_sink(&sink);
        info.version = 0x11;
        info.file_size = 2048 + 2 * 500;
        info.sample_rate = 2822400;
        info.channel_count = 2;
        info.channel_assignment = 0x44000000;
        ASSERT_EQ(writeWsdHeader(&info), 0);
        EXPECT_EQ(sink.data, Bytes(g.bytes.begin(), g.bytes.begin() + 2048)) << "order " << order;
        std::fclose(info.file);
    }
}

TEST(GeneratedFiles, BentShapesInReportingMode) {
    const uint64_t huge = UINT64_C(18446744073709551604);
    const struct {
        std::vector<std::string> args;
        int result;
        std::string err;
        uint64_t data_size;  // when accepted
    } shapes[] = {
        {{"--no-fver"}, 0, "", 32},
        {{"--no-cmpr"}, 0, "", 32},
        {{"--abss", "--lsco"}, 0, "", 32},
        {{"--unknown-chunk=COMT:5", "--unknown-chunk=DIIN:0"}, 0, "", 32},
        {{"--unknown-prop=EMID:3", "--unknown-prop=MARK:7"}, 0, "", 32},
        {{"--trailing-chunk=COMT:7"}, 0, "", 32},
        {{"--cmpr-name=DSD"}, 0, "", 32},
        {{"--cmpr-type=DST", "--cmpr-name=DST Encoded"}, 0, "", 32},
        {{"--form-size=" + std::to_string(huge)}, 0, "", 32},
        {{"--fver-size=8"}, -1, report(90), 0},
        {{"--fs-size=8"}, -1, report(120), 0},
        {{"--chnl-count=11"}, -1, report(130), 0},
        {{"--chnl-size=12"}, -1, report(142), 0},
        {{"--cmpr-type=dsd"}, -1, report(154), 0},
        {{"--cmpr-name=not \\x80"}, -1, report(163), 0},
        {{"--abss", "--abss-size=10"}, -1, report(190), 0},
        {{"--lsco", "--lsco-size=4"}, -1, report(201), 0},
        {{"--cmpr-type=DST", "--sound-id=DST"}, -1, report(216), 0},
        {{"--dsti"}, -1, report(219), 0},
        {{"--sound-id=DSDX"}, -1, report(237), 0},
        {{"--form-size=4"}, -1, report(237), 0},
        {{"--unknown-chunk=JUNK:0", "--truncate=40"}, -1, "fread() failed.\n" + report(79), 0},
        {{"--truncate=10"}, -1, "fread() failed.\n" + report(61), 0},
        // A sound chunk size is taken as declared up to 2^63 - 1, the largest
        // file offset; beyond that it is refused like any other chunk size.
        {{"--header-only", "--data-size=9223372036854775807"}, 0, "", UINT64_C(0x7FFFFFFFFFFFFFFF)},
        {{"--header-only", "--data-size=9223372036854775808"}, -1, report(79), 0},
        {{"--header-only", "--data-size=" + std::to_string(huge)}, -1, report(79), 0},
        // WSD headers: only the channel count is checked.
        {{"--wsd-channels=11"}, -1, "", 0},
        {{"--wsd-channels=10"}, 0, "", 0},
        {{"--wsd-data-offset=100000"}, 0, "", 0},
        {{"--wsd-channels=2", "--truncate=26"}, -1, "fread() failed.\n", 0},
    };
    int n = 0;
    for (const auto& shape : shapes) {
        std::string label;
        for (const auto& a : shape.args) label += a + " ";
        const bool wsd = label.find("--wsd") != std::string::npos;
        std::vector<std::string> args = {"--bytes=16"};
        args.insert(args.end(), shape.args.begin(), shape.args.end());
        Generated g = generate("shape" + std::to_string(n++) + (wsd ? ".wsd" : ".dff"), args);
        ASSERT_FALSE(g.bytes.empty()) << label;
        if (wsd) {
            Opened<WsdInfo> o(g.path, readWsdHeader);
            EXPECT_EQ(o.result, shape.result) << label;
            EXPECT_EQ(o.err, shape.err) << label;
            continue;
        }
        Opened<DsdiffInfo> o(g.path, readDsdHeader);
        EXPECT_EQ(o.result, shape.result) << label;
        EXPECT_EQ(o.err, shape.err) << label;
        if (shape.result == 0) {
            EXPECT_EQ(o.info.data_size, shape.data_size) << label;
            EXPECT_EQ(o.info.channel_count, 2) << label;
            // What follows the header: the sound bytes, if written, and a trailing chunk.
            const long long after = (label.find("header-only") != std::string::npos ? 0 : 32) +
                                    (label.find("trailing") != std::string::npos ? 12 + 8 : 0);
            EXPECT_EQ(ftello(o.f) + after, static_cast<long long>(g.bytes.size())) << label;
        }
    }
}

}  // namespace
