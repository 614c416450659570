// The format library against files from the test-signal generator, which
// assembles them with its own code: real tones through the readers, the WSD
// writer against the generator's header, and the generator's bent shapes
// through the DSDIFF reader.
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

// Channel `c` of interleaved frames starting at `offset`.
Bytes channel(const Bytes& file, size_t offset, size_t channels, size_t c, size_t frames) {
    Bytes out;
    for (size_t i = 0; i < frames; ++i) out.push_back(file.at(offset + i * channels + c));
    return out;
}

TEST(GeneratedDsdiff, TonesReadBackAtEveryRate) {
    SettingsGuard guard;
    dsdiff_reporting = 1;
    for (uint32_t rate : {2822400u, 5644800u, 11289600u}) {
        const size_t frames = 4000;
        Generated g = generate("tones.dff", {"--rate=" + std::to_string(rate), "--channels=6",
                                             "--bytes=" + std::to_string(frames), "--tone=0:1000:0.5",
                                             "--tone=3:440:0.25", "--random=5:7", "--const=1:0x0F"});
        ASSERT_FALSE(g.bytes.empty());
        FILE* f = std::fopen(g.path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        DsdiffInfo info;
        std::memset(&info, 0, sizeof info);
        info.file = f;
        StderrCapture err;
        ASSERT_EQ(readDsdHeader(&info), 0) << rate;
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(info.sample_rate, rate);
        EXPECT_EQ(info.channel_count, 6);
        EXPECT_EQ(info.version, 0x01050000u);
        EXPECT_EQ(info.data_size, 6 * frames);
        EXPECT_STREQ(info.channel_ids[5], "C005");
        const size_t data_at = static_cast<size_t>(ftello(f));
        EXPECT_EQ(data_at + info.data_size, g.bytes.size());

        // Channels 3 and 5 through the frame reader, against the raw bytes.
        info.left_channel = 3;
        info.right_channel = 5;
        std::vector<uint8_t> buf(2 * frames);
        ASSERT_EQ(readDsdData(&info, buf.data(), static_cast<int>(buf.size())), static_cast<int>(buf.size()));
        Bytes left = channel(g.bytes, data_at, 6, 3, frames);
        Bytes right = channel(g.bytes, data_at, 6, 5, frames);
        for (size_t i = 0; i < frames; ++i) {
            ASSERT_EQ(buf[2 * i], left[i]) << "frame " << i;
            ASSERT_EQ(buf[2 * i + 1], right[i]) << "frame " << i;
        }
        std::fclose(f);
    }
}

TEST(GeneratedDsdiff, WriterHeaderFollowedByGeneratedSoundReadsBack) {
    // The sound of a generated stereo tone under the library's own header.
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
    DsdiffInfo in{};
    in.file = f;
    ASSERT_EQ(readDsdHeader(&in), 0);
    EXPECT_EQ(in.data_size, 2000u);
    in.left_channel = 0;
    in.right_channel = 1;
    std::vector<uint8_t> buf(2000);
    ASSERT_EQ(readDsdData(&in, buf.data(), 2000), 2000);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), sound);
    std::fclose(f);
}

TEST(GeneratedWsd, ReaderAgreesWithTheGeneratorInBothSizeOrders) {
    for (const char* order : {"low", "be64"}) {
        Generated g = generate("six.wsd", {"--rate=5644800", "--channels=6", "--bytes=3000", "--tone=1:440:0.5",
                                           "--random=0:3", std::string("--wsd-size-order=") + order});
        ASSERT_FALSE(g.bytes.empty());
        ASSERT_EQ(g.bytes.size(), 2048u + 6 * 3000);
        FILE* f = std::fopen(g.path.c_str(), "rb");
        WsdInfo info;
        std::memset(&info, 0, sizeof info);
        info.file = f;
        StderrCapture err;
        ASSERT_EQ(readWsdHeader(&info), 0) << order;
        EXPECT_EQ(err.text(), "");
        const uint64_t size = g.bytes.size();
        // The reader takes the low half first; a 64-bit value comes back swapped.
        EXPECT_EQ(info.file_size, std::string(order) == "low" ? size : size << 32) << order;
        EXPECT_EQ(info.version, 0x11);
        EXPECT_EQ(info.data_offset, 2048u);
        EXPECT_EQ(info.sample_rate, 5644800u);
        EXPECT_EQ(info.channel_count, 6);
        EXPECT_EQ(ftello(f), 2048);

        std::vector<uint8_t> buf(6000);
        ASSERT_EQ(readWsdData(&info, buf.data(), 6000), 6000);
        Bytes c0 = channel(g.bytes, 2048, 6, 0, 3000);
        Bytes c1 = channel(g.bytes, 2048, 6, 1, 3000);
        for (size_t i = 0; i < 3000; ++i) {
            ASSERT_EQ(buf[2 * i], c0[i]) << "frame " << i;
            ASSERT_EQ(buf[2 * i + 1], c1[i]) << "frame " << i;
        }
        std::fclose(f);
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
        info.text_offset = 128;
        info.data_offset = 2048;
        info.sample_rate = 2822400;
        info.channel_count = 2;
        info.channel_assignment = 0x44000000;
        ASSERT_EQ(writeWsdHeader(&info), 0);
        EXPECT_EQ(sink.data, Bytes(g.bytes.begin(), g.bytes.begin() + 2048)) << "order " << order;
        std::fclose(info.file);
    }
}

TEST(GeneratedWsd, BentHeaders) {
    Generated eleven = generate("eleven.wsd", {"--bytes=64", "--wsd-channels=11"});
    Generated ten = generate("ten.wsd", {"--bytes=64", "--wsd-channels=10"});
    Generated far = generate("far.wsd", {"--bytes=64", "--wsd-data-offset=100000"});
    Generated cut = generate("cut.wsd", {"--bytes=64", "--truncate=26"});
    struct Row {
        const Generated& g;
        int result;
        const char* err;
    } rows[] = {{eleven, -1, ""}, {ten, 0, ""}, {far, 0, ""}, {cut, -1, "fread() failed.\n"}};
    for (const auto& row : rows) {
        FILE* f = std::fopen(row.g.path.c_str(), "rb");
        ASSERT_NE(f, nullptr) << row.g.path;
        WsdInfo info{};
        info.file = f;
        StderrCapture err;
        EXPECT_EQ(readWsdHeader(&info), row.result) << row.g.path;
        EXPECT_EQ(err.text(), row.err) << row.g.path;
        std::fclose(f);
    }
}

// The generator's DSDIFF shapes through the reader in reporting mode.
struct Shape {
    std::vector<std::string> args;
    int result;
    std::string err;
};

std::string report(int n) { return "\nERROR dsdiff " + std::to_string(n) + " \n"; }

TEST(GeneratedDsdiff, BentShapesInReportingMode) {
    const uint64_t huge = UINT64_C(18446744073709551604);
    const Shape shapes[] = {
        {{"--no-fver"}, 0, ""},
        {{"--no-cmpr"}, 0, ""},
        {{"--abss", "--lsco"}, 0, ""},
        {{"--unknown-chunk=COMT:5", "--unknown-chunk=DIIN:0"}, 0, ""},
        {{"--unknown-prop=EMID:3", "--unknown-prop=MARK:7"}, 0, ""},
        {{"--trailing-chunk=COMT:7"}, 0, ""},
        {{"--cmpr-name=DSD"}, 0, ""},
        {{"--cmpr-type=DST", "--cmpr-name=DST Encoded"}, 0, ""},
        {{"--fver-size=8"}, -1, report(90)},
        {{"--fs-size=8"}, -1, report(120)},
        {{"--chnl-count=11"}, -1, report(130)},
        {{"--chnl-size=12"}, -1, report(142)},
        {{"--cmpr-type=dsd"}, -1, report(154)},
        {{"--cmpr-name=not \\x80"}, -1, report(163)},
        {{"--abss", "--abss-size=10"}, -1, report(190)},
        {{"--lsco", "--lsco-size=4"}, -1, report(201)},
        {{"--cmpr-type=DST", "--sound-id=DST"}, -1, report(216)},
        {{"--dsti"}, -1, report(219)},
        {{"--sound-id=DSDX"}, -1, report(237)},
        {{"--form-size=4"}, -1, report(237)},
        {{"--form-size=" + std::to_string(huge)}, 0, ""},
        {{"--unknown-chunk=JUNK:0", "--truncate=40"}, -1, "fread() failed.\n" + report(79)},
        {{"--truncate=10"}, -1, "fread() failed.\n" + report(61)},
    };
    SettingsGuard guard;
    dsdiff_reporting = 1;
    int n = 0;
    for (const auto& shape : shapes) {
        std::vector<std::string> args = {"--bytes=16"};
        args.insert(args.end(), shape.args.begin(), shape.args.end());
        std::string label;
        for (const auto& a : shape.args) label += a + " ";
        Generated g = generate("shape" + std::to_string(n++) + ".dff", args);
        ASSERT_FALSE(g.bytes.empty()) << label;
        FILE* f = std::fopen(g.path.c_str(), "rb");
        DsdiffInfo info{};
        info.file = f;
        StderrCapture err;
        EXPECT_EQ(readDsdHeader(&info), shape.result) << label;
        EXPECT_EQ(err.text(), shape.err) << label;
        if (shape.result == 0) {
            EXPECT_EQ(info.data_size, 32u) << label;
            EXPECT_EQ(info.channel_count, 2) << label;
            EXPECT_EQ(ftello(f) + 32, static_cast<long long>(g.bytes.size()) -
                                          (label.find("trailing") != std::string::npos ? 12 + 8 : 0))
                << label;
        }
        std::fclose(f);
    }
}

TEST(GeneratedDsdiff, SoundSizeLimit) {
    // A sound chunk size is taken as declared up to 2^63 - 1, the largest
    // file offset; beyond that it is refused like any other chunk size.
    SettingsGuard guard;
    dsdiff_reporting = 1;
    const struct {
        uint64_t size;
        int result;
        std::string err;
    } rows[] = {
        {UINT64_C(0x7FFFFFFFFFFFFFFF), 0, ""},
        {UINT64_C(0x8000000000000000), -1, report(79)},
        {UINT64_C(18446744073709551604), -1, report(79)},
    };
    for (const auto& row : rows) {
        Generated g = generate("huge.dff", {"--bytes=0", "--header-only", "--data-size=" + std::to_string(row.size)});
        FILE* f = std::fopen(g.path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        DsdiffInfo info{};
        info.file = f;
        StderrCapture err;
        EXPECT_EQ(readDsdHeader(&info), row.result) << row.size;
        EXPECT_EQ(err.text(), row.err) << row.size;
        if (row.result == 0) {
            EXPECT_EQ(info.data_size, row.size);
        }
        std::fclose(f);
    }
}

TEST(GeneratedDsdiff, WsdFileIsRefusedSilently) {
    Generated g = generate("probe.wsd", {"--bytes=64"});
    SettingsGuard guard;
    for (int reporting : {0, 1}) {
        dsdiff_reporting = reporting;
        FILE* f = std::fopen(g.path.c_str(), "rb");
        DsdiffInfo info{};
        info.file = f;
        StderrCapture err;
        EXPECT_EQ(readDsdHeader(&info), -1);
        EXPECT_EQ(err.text(), reporting ? report(42) + report(57) : "");
        std::fclose(f);
    }
}

}  // namespace
