// DSDIFF header reader: accepted shapes, padding, every refusal with its
// report in both modes, the oversized-chunk guard, and the frame reader.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "dff_bytes.h"
#include "dsdiff.h"
#include "streams.h"

using namespace fmt_test;

namespace {

constexpr uint32_t kCallerVersion = 0xCAFEF00D;

// A record as a caller would hand it over, with recognisable values in every
// field that the reader may or may not fill.
DsdiffInfo fresh_info(FILE* f) {
    DsdiffInfo info;
    std::memset(&info, 0x5A, sizeof info);
    info.file = f;
    info.version = kCallerVersion;
    std::memset(info.channel_ids, 'x', sizeof info.channel_ids);  // no NUL anywhere
    return info;
}

bool untouched(const char* id) { return std::memcmp(id, "xxxxx", 5) == 0; }

struct Read {
    int result;
    std::string err;
    DsdiffInfo info;
    long long pos;
};

Read read_header(const Bytes& bytes, int reporting) {
    SettingsGuard guard;
    dsdiff_reporting = reporting;
    FILE* f = stream_with(bytes);
    Read r;
    r.info = fresh_info(f);
    {
        StderrCapture err;
        r.result = readDsdHeader(&r.info);
        r.err = err.text();
    }
    r.pos = ftello(f);
    std::fclose(f);
    r.info.file = nullptr;
    return r;
}

const Bytes kFrames = {0x10, 0x20, 0x11, 0x21, 0x12, 0x22};

// ---- accepted files -------------------------------------------------------

TEST(ReadDsdHeader, WellFormedStereoFile) {
    Bytes file = stereo_file(kFrames);
    for (int reporting : {0, 1}) {
        Read r = read_header(file, reporting);
        ASSERT_EQ(r.result, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.info.data_size, kFrames.size());
        EXPECT_EQ(r.info.version, 0x01050000u);
        EXPECT_EQ(r.info.sample_rate, 2822400u);
        EXPECT_EQ(r.info.channel_count, 2);
        EXPECT_STREQ(r.info.channel_ids[0], "SLFT");
        EXPECT_STREQ(r.info.channel_ids[1], "SRGT");
        // Entries beyond the channel count are not touched.
        for (int i = 2; i < DSDIFF_MAX_CHANNELS; ++i) EXPECT_TRUE(untouched(r.info.channel_ids[i])) << i;
        EXPECT_EQ(r.pos, static_cast<long long>(file.size() - kFrames.size())) << "stream at the first sound byte";
    }
}

TEST(ReadDsdHeader, MinimalFileKeepsTheCallersVersion) {
    Bytes file = form(cat({prop(cat({fs(5644800), chnl({"SLFT", "SRGT"})})), sound(kFrames)}));
    Read r = read_header(file, 1);
    ASSERT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.info.version, kCallerVersion);
    EXPECT_EQ(r.info.sample_rate, 5644800u);
    EXPECT_EQ(r.pos, static_cast<long long>(file.size() - kFrames.size()));
}

TEST(ReadDsdHeader, OrderOfChunksAndSubChunksIsFree) {
    Bytes file = form(cat({prop(cat({cmpr(), chnl({"C000", "C001", "C002"}), fs(11289600)})), fver(0x01040000),
                           sound(kFrames)}));
    Read r = read_header(file, 1);
    ASSERT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.info.version, 0x01040000u);
    EXPECT_EQ(r.info.sample_rate, 11289600u);
    EXPECT_EQ(r.info.channel_count, 3);
    EXPECT_STREQ(r.info.channel_ids[2], "C002");
}

TEST(ReadDsdHeader, IdentifiersAreKeptAsStored) {
    // No case folding, NUL bytes and blanks kept; ten channels are allowed.
    std::vector<std::string> ids = {"slft", "SRGT", "A", "B   ", "C000", "C001", "C002", "C003", "C004", "C005"};
    Bytes file = form(cat({prop(cat({fs(), chnl(ids)})), sound(Bytes(10, 0))}));
    Read r = read_header(file, 1);
    ASSERT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.info.channel_count, 10);
    EXPECT_EQ(std::memcmp(r.info.channel_ids[0], "slft", 5), 0);
    EXPECT_EQ(std::memcmp(r.info.channel_ids[2], "A\0\0\0", 5), 0);
    EXPECT_EQ(std::memcmp(r.info.channel_ids[3], "B   ", 5), 0);
    EXPECT_STREQ(r.info.channel_ids[9], "C005");
}

TEST(ReadDsdHeader, OptionalPropertiesAreReadAndDropped) {
    Bytes abss = chunk("ABSS", cat({be(1, 2), be(2, 1), be(3, 1), be(4, 4)}));
    Bytes lsco = chunk("LSCO", be(0, 2));
    Bytes file = form(cat({fver(), prop(cat({fs(), abss, chnl({"SLFT", "SRGT"}), lsco, cmpr()})), sound(kFrames)}));
    Read r = read_header(file, 1);
    ASSERT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.pos, static_cast<long long>(file.size() - kFrames.size()));
}

TEST(ReadDsdHeader, ChunksAfterTheSoundDataAreNotLookedAt) {
    Bytes file = cat({stereo_file(kFrames), chunk("DIIN", Bytes(30, 0xEE)), str("garbage")});
    Read r = read_header(file, 1);
    ASSERT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.info.data_size, kFrames.size());
}

// ---- padding --------------------------------------------------------------

TEST(ReadDsdHeaderPadding, OddChunkBeforePropIsSkippedWithItsPad) {
    // The pad byte is not zero: a reader that did not skip it would take
    // "\xEEPRO" for the next identifier.
    Bytes odd = chunk_sized("COMT", 5, Bytes{1, 2, 3, 4, 5, 0xEE});
    Bytes file = form(cat({fver(), odd, prop(stereo_props()), sound(kFrames)}));
    Read r = read_header(file, 1);
    ASSERT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.info.sample_rate, 2822400u);
    EXPECT_EQ(r.pos, static_cast<long long>(file.size() - kFrames.size()));
}

TEST(ReadDsdHeaderPadding, OddSubChunkIsSkippedWithItsPadAndCountedInProp) {
    Bytes odd = chunk_sized("EMID", 3, Bytes{7, 8, 9, 0xEE});
    Bytes props = cat({fs(), odd, chnl({"SLFT", "SRGT"}), cmpr()});
    Bytes p = chunk("PROP", cat({str("SND "), props}));
    ASSERT_EQ(be(4 + props.size(), 8), Bytes(p.begin() + 4, p.begin() + 12)) << "PROP size includes the pad";
    Bytes file = form(cat({p, sound(kFrames)}));
    Read r = read_header(file, 1);
    ASSERT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.info.channel_count, 2);
    EXPECT_STREQ(r.info.channel_ids[1], "SRGT");
}

TEST(ReadDsdHeaderPadding, CmprNameOfEvenLengthHasAPadOddLengthHasNone) {
    for (const std::string name : {"not compressed", "DSD", "", "x"}) {
        Bytes body = cmpr_body("DSD ", name);
        EXPECT_EQ(body.size() % 2, 0u) << name;
        // The sub-chunk after CMPR must be found where the padding rule says.
        Bytes file = form(cat({prop(cat({chunk("CMPR", body), fs(), chnl({"SLFT", "SRGT"})})), sound(kFrames)}));
        Read r = read_header(file, 1);
        EXPECT_EQ(r.result, 0) << "name \"" << name << "\": " << r.err;
        EXPECT_EQ(r.info.sample_rate, 2822400u) << name;
    }
}

TEST(ReadDsdHeaderPadding, CmprSizeIsNotComparedWithTheName) {
    // Declared size 20 but only 6 bytes of name data: the reader consumes
    // what the counted name says and subtracts the declared size, so the
    // property walk ends where the declared sizes say.
    Bytes body = cmpr_body("DSD ", "x");
    Bytes props = cat({fs(), chnl({"SLFT", "SRGT"}), chunk_sized("CMPR", body.size(), body)});
    Bytes file = form(cat({prop(props), sound(kFrames)}));
    EXPECT_EQ(read_header(file, 1).result, 0);
}

// ---- refusals, one row per report -----------------------------------------

struct Refusal {
    const char* name;
    int number;       // report of readDsdHeader
    int compare;      // report of read_and_compare_4bytes first (38, 42) or 0
    bool primitive;   // a primitive says "fread() failed.\n" first
    Bytes bytes;
};

std::string report(int n) { return "\nERROR dsdiff " + std::to_string(n) + " \n"; }

Bytes form_head(uint64_t size = 1000) { return cat({str("FRM8"), be(size, 8), str("DSD ")}); }
Bytes in_prop(const Bytes& partial) { return cat({form_head(), head("PROP", 1000), str("SND "), partial}); }

std::vector<Refusal> refusals() {
    const Bytes good_props = stereo_props();
    return {
        {"wrong form id", 57, 42, false, cat({str("RIFF"), be(100, 8), str("DSD ")})},
        {"short form id", 57, 38, false, str("FR")},
        {"empty file", 57, 38, false, {}},
        {"wsd file", 57, 42, false, cat({str("1bit"), Bytes(60, 0)})},
        {"short form size", 61, 0, true, cat({str("FRM8"), Bytes{0, 0, 0}})},
        {"wrong form type", 66, 42, false, cat({str("FRM8"), be(100, 8), str("WAVE")})},
        {"short form type", 66, 38, false, cat({str("FRM8"), be(100, 8), str("DS")})},
        {"short chunk id", 75, 0, false, cat({form_head(), fver(), str("PR")})},
        {"form size beyond the chunks", 75, 0, false, form_with_size(1000, cat({fver(), prop(good_props)}))},
        {"skipped chunk beyond the end", 75, 0, false, cat({form_head(), head("COMT", 4000), Bytes(8, 0)})},
        {"short chunk size", 79, 0, true, cat({form_head(), str("PROP"), Bytes(5, 0)})},
        {"short fver value", 86, 0, true, cat({form_head(), head("FVER", 4), Bytes{1, 5}})},
        {"fver size 8", 90, 0, false, cat({form_head(), chunk("FVER", cat({be(0x01050000, 4), Bytes(4, 0)}))})},
        {"wrong prop type", 97, 42, false, cat({form_head(), chunk("PROP", cat({str("SNX "), good_props}))})},
        {"short prop type", 97, 38, false, cat({form_head(), head("PROP", 100), str("SN")})},
        {"short sub-chunk id", 106, 0, false, in_prop(cat({fs(), str("CH")}))},
        {"short sub-chunk size", 110, 0, true, in_prop(cat({str("FS  "), Bytes(7, 0)}))},
        {"short fs value", 116, 0, true, in_prop(cat({head("FS  ", 4), Bytes(3, 0)}))},
        {"fs size 8", 120, 0, false, in_prop(chunk("FS  ", cat({be(2822400, 4), Bytes(4, 0)})))},
        {"short chnl count", 126, 0, true, in_prop(cat({head("CHNL", 10), Bytes{0}}))},
        {"chnl count 11", 130, 0, false, in_prop(cat({head("CHNL", 46), be(11, 2), Bytes(44, 'A')}))},
        {"short channel id", 136, 0, false, in_prop(cat({head("CHNL", 10), be(2, 2), str("SLFTSR")}))},
        {"chnl size 12 for 2", 142, 0, false, in_prop(chunk("CHNL", cat({be(2, 2), str("SLFTSRGT"), Bytes(2, 0)})))},
        {"short cmpr type", 149, 0, false, in_prop(cat({head("CMPR", 20), str("DS")}))},
        {"cmpr type dsd lower case", 154, 0, false, in_prop(chunk("CMPR", cmpr_body("dsd ", "not compressed")))},
        {"no cmpr name count", 158, 0, false, in_prop(cat({head("CMPR", 20), str("DSD ")}))},
        {"cmpr name with bit 7", 163, 0, false, in_prop(chunk("CMPR", cmpr_body("DSD ", "not \x80ompressed")))},
        {"cmpr name cut short", 163, 0, false, in_prop(cat({head("CMPR", 20), str("DSD "), Bytes{14}, str("not")}))},
        {"cmpr pad missing", 169, 0, false, in_prop(cat({head("CMPR", 8), str("DSD "), Bytes{2}, str("ab")}))},
        {"short abss hours", 180, 0, true, in_prop(cat({head("ABSS", 8), Bytes{0}}))},
        {"short abss samples", 186, 0, true, in_prop(cat({head("ABSS", 8), Bytes{0, 1, 2, 3, 0, 0}}))},
        {"abss size 10", 190, 0, false, in_prop(chunk("ABSS", Bytes(10, 1)))},
        {"short lsco", 197, 0, true, in_prop(cat({head("LSCO", 2), Bytes{0}}))},
        {"lsco size 4", 201, 0, false, in_prop(chunk("LSCO", Bytes(4, 0)))},
        {"dst sound chunk", 216, 0, false,
         form(cat({fver(), prop(cat({fs(), chnl({"SLFT", "SRGT"}), cmpr("DST ", "DST Encoded")})),
                   chunk("DST ", Bytes(16, 0))}))},
        {"dsti chunk", 219, 0, false, form(cat({fver(), prop(good_props), chunk("DSTI", Bytes(16, 0)), sound(kFrames)}))},
        {"no sound chunk", 237, 0, false, form(cat({fver(), prop(good_props)}))},
        {"empty form", 237, 0, false, form({})},
    };
}

TEST(ReadDsdHeaderRefusals, ReportingModeNamesEachFailure) {
    for (const auto& row : refusals()) {
        Read r = read_header(row.bytes, 1);
        std::string expected = (row.compare ? report(row.compare) : "") +
                               (row.primitive ? "fread() failed.\n" : "") + report(row.number);
        EXPECT_EQ(r.result, -1) << row.name;
        EXPECT_EQ(r.err, expected) << row.name;
    }
}

TEST(ReadDsdHeaderRefusals, SilentModePrintsOnlyPrimitiveMessages) {
    for (const auto& row : refusals()) {
        Read r = read_header(row.bytes, 0);
        EXPECT_EQ(r.result, -1) << row.name;
        EXPECT_EQ(r.err, row.primitive ? "fread() failed.\n" : "") << row.name;
    }
}

TEST(ReadDsdHeaderRefusals, EveryReportNumberHasARow) {
    std::set<int> covered;
    for (const auto& row : refusals()) {
        covered.insert(row.number);
        if (row.compare) covered.insert(row.compare);
    }
    const std::set<int> all = {38,  42,  57,  61,  66,  75,  79,  86,  90,  97,  106, 110, 116, 120, 126,
                               130, 136, 142, 149, 154, 158, 163, 169, 180, 186, 190, 197, 201, 216, 219, 237};
    for (int n : all) EXPECT_TRUE(covered.count(n)) << "no refusal row for report " << n;
}

TEST(ReadDsdHeaderRefusals, ValuesReadBeforeTheFailureStayStored) {
    // FVER of size 8: the value was read before the size was checked.
    Read r = read_header(cat({form_head(), chunk("FVER", cat({be(0x01050000, 4), Bytes(4, 0)}))}), 0);
    EXPECT_EQ(r.info.version, 0x01050000u);

    // CHNL with 11 channels fails before any identifier is read, with the
    // count already stored.
    r = read_header(in_prop(cat({head("CHNL", 46), be(11, 2), Bytes(44, 'A')})), 0);
    EXPECT_EQ(r.info.channel_count, 11);
    for (const auto& id : r.info.channel_ids) EXPECT_TRUE(untouched(id));

    // CHNL of the wrong size: identifiers stored, then refused.
    r = read_header(in_prop(chunk("CHNL", cat({be(2, 2), str("SLFTSRGT"), Bytes(2, 0)}))), 0);
    EXPECT_EQ(r.info.channel_count, 2);
    EXPECT_STREQ(r.info.channel_ids[1], "SRGT");
    EXPECT_TRUE(untouched(r.info.channel_ids[2]));
}

TEST(ReadAndCompare4Bytes, EqualShortAndDifferent) {
    SettingsGuard guard;
    struct Row {
        Bytes bytes;
        int result;
        const char* reporting_err;
    } rows[] = {
        {str("SND "), 0, ""},
        {str("SND"), -1, "\nERROR dsdiff 38 \n"},
        {str("snd "), -1, "\nERROR dsdiff 42 \n"},
    };
    for (int reporting : {0, 1}) {
        dsdiff_reporting = reporting;
        for (const auto& row : rows) {
            FILE* f = stream_with(row.bytes);
            StderrCapture err;
            EXPECT_EQ(read_and_compare_4bytes(f, "SND "), row.result);
            EXPECT_EQ(err.text(), reporting ? row.reporting_err : "");
            std::fclose(f);
        }
    }
}

// ---- chunks that cannot be skipped ------------------------------------------

// Runs the reader in a child with a watchdog, so that a walk that loops
// shows up as a failed test rather than a hung one.
void expect_refused_in_child(const Bytes& bytes, int number) {
    SettingsGuard guard;
    dsdiff_reporting = 1;
    EXPECT_EXIT(
        {
            alarm(20);
            FILE* f = stream_with(bytes);
            DsdiffInfo info = fresh_info(f);
            std::exit(readDsdHeader(&info) == -1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), ::testing::Eq(report(number)));
}

TEST(ReadDsdHeaderHugeSizes, ChunkOfTwoToThe64Minus12IsRefused) {
    // Skipping 2^64 - 12 bytes forward is a jump of 12 bytes backwards: the
    // walk would read the same chunk header again for ever.
    const uint64_t size = UINT64_C(18446744073709551604);
    expect_refused_in_child(form(cat({fver(), head("JUNK", size), prop(stereo_props()), sound(kFrames)})), 79);
    expect_refused_in_child(form(cat({head("JUNK", UINT64_C(1) << 63), Bytes(32, 0)})), 79);
}

TEST(ReadDsdHeaderHugeSizes, SubChunkOfTwoToThe64Minus12IsRefused) {
    const uint64_t size = UINT64_C(18446744073709551604);
    expect_refused_in_child(form(cat({prop(cat({fs(), head("JUNK", size), chnl({"SLFT", "SRGT"})})), sound(kFrames)})),
                            110);
    expect_refused_in_child(form(cat({prop(cat({head("JUNK", UINT64_C(1) << 63), Bytes(32, 0)}))})), 110);
}

TEST(ReadDsdHeaderHugeSizes, LargestForwardSkipFailsAtTheSeek) {
    // 2^63 - 1 is a forward skip, but no file offset can hold the target.
    expect_refused_in_child(form(cat({head("JUNK", UINT64_C(0x7FFFFFFFFFFFFFFF)), Bytes(32, 0)})), 79);
}

// ---- streams that cannot seek ------------------------------------------------

Read read_pipe(const Bytes& bytes) {
    SettingsGuard guard;
    dsdiff_reporting = 1;
    FILE* f = pipe_reading(bytes);
    Read r;
    r.info = fresh_info(f);
    {
        StderrCapture err;
        r.result = readDsdHeader(&r.info);
        r.err = err.text();
    }
    r.pos = 0;
    std::fclose(f);
    return r;
}

TEST(ReadDsdHeaderOnAPipe, NeedsNoSeekForAPlainFile) {
    Read r = read_pipe(stereo_file(kFrames));
    EXPECT_EQ(r.result, 0) << r.err;
    EXPECT_EQ(r.info.data_size, kFrames.size());
}

TEST(ReadDsdHeaderOnAPipe, SkippingAChunkFailsWithTheChunkSizeReport) {
    Read r = read_pipe(form(cat({chunk("COMT", Bytes(6, 1)), prop(stereo_props()), sound(kFrames)})));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, report(79));
}

TEST(ReadDsdHeaderOnAPipe, SkippingASubChunkFailsWithTheSubChunkSizeReport) {
    Read r = read_pipe(form(cat({prop(cat({fs(), chunk("EMID", Bytes(6, 1)), chnl({"SLFT", "SRGT"})})), sound(kFrames)})));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, report(110));
}

TEST(ReadDsdHeaderOnAPipe, SkippingAPadByteFailsWithTheSizeReport) {
    // CMPR declared with an odd size: the name is read, the pad must be skipped.
    Bytes body = cmpr_body("DSD ", "");
    Read r = read_pipe(form(cat({prop(cat({fs(), chunk_sized("CMPR", 5, cat({body, Bytes{0}})),
                                          chnl({"SLFT", "SRGT"})})), sound(kFrames)})));
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.err, report(110));
}

// ---- frame reader ---------------------------------------------------------------

struct Frames {
    FILE* f;
    DsdiffInfo info;
    long long data_start;
};

// Sound data of `frames` frames of `channels` bytes: byte = 16 * channel + frame.
Frames open_frames(int channels, int frames, uint16_t left, uint16_t right) {
    Bytes data;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) data.push_back(static_cast<uint8_t>(16 * c + i));
    std::vector<std::string> ids;
    for (int c = 0; c < channels; ++c) ids.push_back("C00" + std::to_string(c));
    Frames fr;
    fr.f = stream_with(form(cat({prop(cat({fs(), chnl(ids)})), sound(data)})));
    fr.info = fresh_info(fr.f);
    EXPECT_EQ(readDsdHeader(&fr.info), 0);
    fr.data_start = ftello(fr.f);
    fr.info.left_channel = left;
    fr.info.right_channel = right;
    return fr;
}

TEST(ReadDsdData, DeliversTheChosenPairOfEachFrame) {
    Frames fr = open_frames(6, 8, 4, 1);
    uint8_t buf[16];
    std::memset(buf, 0, sizeof buf);
    ASSERT_EQ(readDsdData(&fr.info, buf, 16), 16);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(buf[2 * i], 0x40 + i);
        EXPECT_EQ(buf[2 * i + 1], 0x10 + i);
    }
    EXPECT_EQ(readDsdData(&fr.info, buf, 16), 0) << "end of data";
    std::fclose(fr.f);
}

TEST(ReadDsdData, SizeIsRoundedDownToWholeGroupsOfEight) {
    Frames fr = open_frames(2, 100, 0, 1);
    uint8_t buf[100];
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(readDsdData(&fr.info, buf, 100), 96);
    EXPECT_EQ(ftello(fr.f) - fr.data_start, 96) << "48 frames consumed";
    EXPECT_EQ(buf[94], 0x00 + 47);
    EXPECT_EQ(buf[95], 0x10 + 47);
    for (int i = 96; i < 100; ++i) EXPECT_EQ(buf[i], 0xAA) << "beyond the rounded size";
    EXPECT_EQ(readDsdData(&fr.info, buf, 7), 0);
    EXPECT_EQ(readDsdData(&fr.info, buf, 0), 0);
    std::fclose(fr.f);
}

TEST(ReadDsdData, PartialGroupAtTheEndIsCompletedWith0x96) {
    Frames fr = open_frames(2, 3, 0, 1);
    uint8_t buf[100];
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(readDsdData(&fr.info, buf, 100), 8);
    const uint8_t expected[8] = {0x00, 0x10, 0x01, 0x11, 0x02, 0x12, 0x96, 0x96};
    EXPECT_EQ(std::memcmp(buf, expected, 8), 0);
    EXPECT_EQ(buf[8], 0xAA);
    std::fclose(fr.f);
}

TEST(ReadDsdData, FullGroupAtTheEndNeedsNoFill) {
    Frames fr = open_frames(3, 4, 2, 2);
    uint8_t buf[24];
    EXPECT_EQ(readDsdData(&fr.info, buf, 24), 8);
    const uint8_t expected[8] = {0x20, 0x20, 0x21, 0x21, 0x22, 0x22, 0x23, 0x23};
    EXPECT_EQ(std::memcmp(buf, expected, 8), 0);
    std::fclose(fr.f);
}

TEST(ReadDsdData, RecordsOutsideThePreconditionsReadNothing) {
    // No caller should pass these, but no record may make the reader touch
    // memory outside its frame buffer.
    Frames fr = open_frames(2, 16, 0, 1);
    uint8_t buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    const struct {
        uint16_t count, left, right;
    } rows[] = {{0, 0, 1}, {11, 0, 1}, {2, 10, 1}, {2, 0, 0xFFFF}};
    for (const auto& row : rows) {
        fr.info.channel_count = row.count;
        fr.info.left_channel = row.left;
        fr.info.right_channel = row.right;
        EXPECT_EQ(readDsdData(&fr.info, buf, 16), 0) << row.count << " " << row.left << " " << row.right;
    }
    fr.info.channel_count = 2;
    fr.info.left_channel = 0;
    fr.info.right_channel = 1;
    EXPECT_EQ(readDsdData(&fr.info, buf, -8), 0);
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(ftello(fr.f), fr.data_start);
    std::fclose(fr.f);
}

}  // namespace
