// DSDIFF header reader: accepted shapes and padding, every refusal with its
// report in both modes, the oversized-chunk guard, and a pipe.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "bytes.h"
#include "dsdiff.h"
#include "streams.h"

using namespace fmt_test;

namespace {

constexpr uint32_t kCallerVersion = 0xCAFEF00D;

// A record as a caller would hand it over, with recognisable values in every
// field that the reader may or may not fill, and no NUL among the ids.
DsdiffInfo fresh_info(FILE* f) {
    DsdiffInfo info;
    std::memset(&info, 0x5A, sizeof info);
    info.file = f;
    info.version = kCallerVersion;
    std::memset(info.channel_ids, 'x', sizeof info.channel_ids);
    return info;
}

bool untouched(const char* id) { return std::memcmp(id, "xxxxx", 5) == 0; }

std::string report(int n) { return "\nERROR dsdiff " + std::to_string(n) + " \n"; }

using Read = HeaderRead<DsdiffInfo>;

Read read_header(const Bytes& bytes, int reporting) { return {stream_with(bytes), readDsdHeader, fresh_info(nullptr), reporting}; }

const Bytes kFrames = {0x10, 0x20, 0x11, 0x21, 0x12, 0x22};

// ---- accepted files -------------------------------------------------------

struct Accepted {
    std::string name;
    Bytes before;  // chunks of the form before the sound chunk
    Bytes after;   // bytes after the form
    uint32_t version;
    uint32_t rate;
    std::vector<std::string> ids;
};

std::vector<Accepted> accepted() {
    const std::vector<std::string> stereo = {"SLFT", "SRGT"};
    const Bytes chnl2 = chnl(stereo);
    std::vector<Accepted> rows = {
        {"well formed", cat({fver(), prop(stereo_props())}), {}, 0x01050000, 2822400, stereo},
        {"no fver keeps the caller's version", prop(cat({fs(5644800), chnl2})), {}, kCallerVersion, 5644800, stereo},
        {"free order", cat({prop(cat({cmpr(), chnl({"C000", "C001", "C002"}), fs(11289600)})), fver(0x01040000)}),
         {}, 0x01040000, 11289600, {"C000", "C001", "C002"}},
        // No case folding, NUL bytes and blanks kept; ten channels allowed.
        {"ids as stored", prop(cat({fs(), chnl({"slft", "SRGT", "A", "B   ", "C000", "C001", "C002", "C003", "C004", "C005"})})),
         {}, kCallerVersion, 2822400, {"slft", "SRGT", "A", "B   ", "C000", "C001", "C002", "C003", "C004", "C005"}},
        {"optional properties", cat({fver(), prop(cat({fs(), chunk("ABSS", cat({be(1, 2), be(2, 1), be(3, 1), be(4, 4)})),
                                                       chnl2, chunk("LSCO", be(0, 2)), cmpr()}))}),
         {}, 0x01050000, 2822400, stereo},
        {"chunks after the sound", cat({fver(), prop(stereo_props())}), cat({chunk("DIIN", Bytes(30, 0xEE)), str("garbage")}),
         0x01050000, 2822400, stereo},
        // Pad bytes that are not zero: a reader that did not skip them would
        // take "\xEEPRO" or "\xEECHN" for the next identifier.
        {"odd chunk and its pad", cat({fver(), chunk_sized("COMT", 5, Bytes{1, 2, 3, 4, 5, 0xEE}), prop(stereo_props())}),
         {}, 0x01050000, 2822400, stereo},
        {"odd sub-chunk and its pad counted in PROP",
         prop(cat({fs(), chunk_sized("EMID", 3, Bytes{7, 8, 9, 0xEE}), chnl2, cmpr()})), {}, kCallerVersion, 2822400, stereo},
    };
    // A name of even length has a pad, one of odd length none: the sub-chunk
    // after CMPR is found only where that rule says.
    for (const std::string name : {"not compressed", "DSD", "", "x"})
        rows.push_back({"cmpr name \"" + name + "\"", prop(cat({chunk("CMPR", cmpr_body("DSD ", name)), fs(), chnl2})), {},
                        kCallerVersion, 2822400, stereo});
    return rows;
}

TEST(ReadDsdHeader, AcceptedFilesInBothModes) {
    for (const auto& row : accepted()) {
        const Bytes file = cat({form(cat({row.before, sound(kFrames)})), row.after});
        for (int reporting : {0, 1}) {
            Read r = read_header(file, reporting);
            ASSERT_EQ(r.result, 0) << row.name << ": " << r.err;
            EXPECT_EQ(r.err, "") << row.name;
            EXPECT_EQ(r.info.data_size, kFrames.size()) << row.name;
            EXPECT_EQ(r.info.version, row.version) << row.name;
            EXPECT_EQ(r.info.sample_rate, row.rate) << row.name;
            ASSERT_EQ(r.info.channel_count, row.ids.size()) << row.name;
            for (size_t i = 0; i < row.ids.size(); ++i) {
                std::string id = row.ids[i];
                id.resize(4, '\0');  // and c_str() adds the NUL after it
                EXPECT_EQ(std::memcmp(r.info.channel_ids[i], id.c_str(), 5), 0) << row.name << " id " << i;
            }
            for (size_t i = row.ids.size(); i < DSDIFF_MAX_CHANNELS; ++i)
                EXPECT_TRUE(untouched(r.info.channel_ids[i])) << row.name << " id " << i;
            EXPECT_EQ(r.pos, static_cast<long long>(16 + row.before.size() + 12)) << row.name << ": at the sound";
        }
    }
}

// ---- refusals, one row per report -----------------------------------------

struct Refusal {
    const char* name;
    int number;      // report of readDsdHeader
    int compare;     // report of read_and_compare_4bytes first (38, 42) or 0
    bool primitive;  // a primitive says "fread() failed.\n" first
    Bytes bytes;
};

Bytes form_head(uint64_t size = 1000) { return cat({str("FRM8"), be(size, 8), str("DSD ")}); }
Bytes in_prop(const Bytes& partial) { return cat({form_head(), head("PROP", 1000), str("SND "), partial}); }

const Bytes kFver8 = cat({form_head(), chunk("FVER", cat({be(0x01050000, 4), Bytes(4, 0)}))});
const Bytes kChnl11 = in_prop(cat({head("CHNL", 46), be(11, 2), Bytes(44, 'A')}));
const Bytes kChnl12 = in_prop(chunk("CHNL", cat({be(2, 2), str("SLFTSRGT"), Bytes(2, 0)})));

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
        {"fver size 8", 90, 0, false, kFver8},
        {"wrong prop type", 97, 42, false, cat({form_head(), chunk("PROP", cat({str("SNX "), good_props}))})},
        {"short prop type", 97, 38, false, cat({form_head(), head("PROP", 100), str("SN")})},
        {"short sub-chunk id", 106, 0, false, in_prop(cat({fs(), str("CH")}))},
        {"short sub-chunk size", 110, 0, true, in_prop(cat({str("FS  "), Bytes(7, 0)}))},
        {"short fs value", 116, 0, true, in_prop(cat({head("FS  ", 4), Bytes(3, 0)}))},
        {"fs size 8", 120, 0, false, in_prop(chunk("FS  ", cat({be(2822400, 4), Bytes(4, 0)})))},
        {"short chnl count", 126, 0, true, in_prop(cat({head("CHNL", 10), Bytes{0}}))},
        {"chnl count 11", 130, 0, false, kChnl11},
        {"short channel id", 136, 0, false, in_prop(cat({head("CHNL", 10), be(2, 2), str("SLFTSR")}))},
        {"chnl size 12 for 2", 142, 0, false, kChnl12},
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

TEST(ReadDsdHeaderRefusals, EachFailureReportedOnlyInReportingMode) {
    std::set<int> covered;
    for (const auto& row : refusals()) {
        covered.insert({row.number, row.compare});
        const std::string primitive = row.primitive ? "fread() failed.\n" : "";
        Read loud = read_header(row.bytes, 1);
        EXPECT_EQ(loud.result, -1) << row.name;
        EXPECT_EQ(loud.err, (row.compare ? report(row.compare) : "") + primitive + report(row.number)) << row.name;
        Read quiet = read_header(row.bytes, 0);
        EXPECT_EQ(quiet.result, -1) << row.name;
        EXPECT_EQ(quiet.err, primitive) << row.name << ": silent mode";
    }
    for (int n : {38, 42, 57, 61, 66, 75, 79, 86, 90, 97, 106, 110, 116, 120, 126, 130, 136, 142, 149, 154, 158, 163, 169,
                  180, 186, 190, 197, 201, 216, 219, 237})
        EXPECT_TRUE(covered.count(n)) << "no refusal row for report " << n;
}

TEST(ReadDsdHeaderRefusals, ValuesReadBeforeTheFailureStayStored) {
    // FVER of size 8: the value was read before the size was checked.
    EXPECT_EQ(read_header(kFver8, 0).info.version, 0x01050000u);
    // 11 channels: the count is stored, no identifier read.
    Read eleven = read_header(kChnl11, 0);
    EXPECT_EQ(eleven.info.channel_count, 11);
    for (const auto& id : eleven.info.channel_ids) EXPECT_TRUE(untouched(id));
    // CHNL of the wrong size: identifiers stored, then refused.
    Read r = read_header(kChnl12, 0);
    EXPECT_EQ(r.info.channel_count, 2);
    EXPECT_STREQ(r.info.channel_ids[1], "SRGT");
    EXPECT_TRUE(untouched(r.info.channel_ids[2]));
}

TEST(ReadAndCompare4Bytes, EqualShortAndDifferent) {
    SettingsGuard guard;
    const struct {
        Bytes bytes;
        int result;
        const char* reporting_err;
    } rows[] = {{str("SND "), 0, ""}, {str("SND"), -1, "\nERROR dsdiff 38 \n"}, {str("snd "), -1, "\nERROR dsdiff 42 \n"}};
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

TEST(ReadDsdHeaderSkips, HugeSizesAndPipes) {
    // Skipping 2^64 - 12 bytes forward is a jump of 12 bytes backwards: the
    // walk would read the same chunk header again for ever. 2^63 - 1 is a
    // forward skip, but no file offset can hold the target. A pipe reads
    // plain files but cannot skip. Each read runs in a child with a watchdog,
    // so a walk that loops fails rather than hangs.
    const uint64_t back12 = UINT64_C(18446744073709551604), top = UINT64_C(1) << 63;
    const Bytes chnl2 = chnl({"SLFT", "SRGT"});
    const struct {
        Bytes bytes;
        bool pipe;
        int number;  // 0: accepted
    } rows[] = {
        {form(cat({fver(), head("JUNK", back12), prop(stereo_props()), sound(kFrames)})), false, 79},
        {form(cat({head("JUNK", top), Bytes(32, 0)})), false, 79},
        {form(cat({head("JUNK", top - 1), Bytes(32, 0)})), false, 79},
        {form(cat({prop(cat({fs(), head("JUNK", back12), chnl2})), sound(kFrames)})), false, 110},
        {form(cat({prop(cat({head("JUNK", top), Bytes(32, 0)}))})), false, 110},
        {stereo_file(kFrames), true, 0},
        {form(cat({chunk("COMT", Bytes(6, 1)), prop(stereo_props()), sound(kFrames)})), true, 79},
        {form(cat({prop(cat({fs(), chunk("EMID", Bytes(6, 1)), chnl2})), sound(kFrames)})), true, 110},
        // CMPR declared with an odd size: the name is read, the pad must be skipped.
        {form(cat({prop(cat({fs(), chunk_sized("CMPR", 5, cat({cmpr_body("DSD ", ""), Bytes{0}})), chnl2})), sound(kFrames)})),
         true, 110},
    };
    SettingsGuard guard;
    dsdiff_reporting = 1;
    for (const auto& row : rows) {
        EXPECT_EXIT(
            {
                alarm(20);
                FILE* f = row.pipe ? pipe_reading(row.bytes) : stream_with(row.bytes);
                DsdiffInfo info = fresh_info(f);
                const int result = readDsdHeader(&info);
                std::exit(result == (row.number ? -1 : 0) && (row.number || info.data_size == kFrames.size()) ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), ::testing::Eq(row.number ? report(row.number) : ""));
    }
}

}  // namespace
