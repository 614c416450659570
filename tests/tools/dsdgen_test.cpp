// The test-signal generator end to end: exact bytes of well-formed DSDIFF
// and WSD files, lengths, sound sources, each shape option, and refusals.
// Expectations are written out by hand from the file layouts, not taken
// from the format library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "signal_analysis.h"
#include "testutil.h"

namespace {

using testutil::be;
using testutil::put_be;
using testutil::put_str;
using Bytes = std::vector<uint8_t>;

struct Gen {
    std::string dir = testutil::make_temp_dir();
    int count = 0;

    // Runs the generator into a fresh file and returns its bytes.
    Bytes make(std::vector<std::string> args, const std::string& ext = ".dff") {
        std::string path = dir + "/f" + std::to_string(count++) + ext;
        args.push_back(path);
        EXPECT_TRUE(testutil::dsdgen(args));
        return testutil::read_file(path);
    }
};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

Bytes chunk(const std::string& id, uint64_t size, const Bytes& body) {
    Bytes b;
    put_str(b, id);
    put_be(b, size, 8);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes be_bytes(uint64_t v, int width) {
    Bytes b;
    put_be(b, v, width);
    return b;
}

Bytes str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The CMPR sub-chunk of an uncompressed file: type, count 14, the name and
// one pad byte (count plus name are odd): 20 bytes.
Bytes cmpr_default() { return chunk("CMPR", 20, concat({str("DSD "), {14}, str("not compressed"), {0}})); }

// Chunk list of a DSDIFF file, walked by the sizes it declares.
struct ChunkInfo {
    std::string id;
    uint64_t offset;  // of the chunk header
    uint64_t size;
};

std::vector<ChunkInfo> walk(const Bytes& b, size_t from, size_t to) {
    std::vector<ChunkInfo> list;
    size_t pos = from;
    while (pos + 12 <= to) {
        ChunkInfo c{std::string(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos) + 4), pos,
                    be(b, pos + 4, 8)};
        list.push_back(c);
        pos += 12 + c.size + (c.size & 1);
    }
    return list;
}

// ---- well-formed files, byte by byte ---------------------------------------

TEST(DsdgenDsdiff, DefaultStereoHeaderByteByByte) {
    Gen g;
    Bytes f = g.make({"--bytes=3", "--const=0:0x12", "--const=1:0x34"});
    Bytes expect = concat({
        str("FRM8"), be_bytes(118 + 6, 8), str("DSD "),
        chunk("FVER", 4, {0x01, 0x05, 0x00, 0x00}),
        chunk("PROP", 74,
              concat({str("SND "), chunk("FS  ", 4, {0x00, 0x2B, 0x11, 0x00}),
                      chunk("CHNL", 10, concat({{0x00, 0x02}, str("SLFTSRGT")})), cmpr_default()})),
        chunk("DSD ", 6, {0x12, 0x34, 0x12, 0x34, 0x12, 0x34}),
    });
    ASSERT_EQ(expect.size(), 136u);
    EXPECT_EQ(f, expect);
}

TEST(DsdgenDsdiff, ChannelCountsIdsAndRates) {
    Gen g;
    // Three channels: identifiers C000..C002, CHNL of 2 + 12 bytes.
    Bytes f = g.make({"--channels=3", "--bytes=2", "--rate=5644800"});
    Bytes expect = concat({
        str("FRM8"), be_bytes(4 + 16 + 12 + 78 + 12 + 6, 8), str("DSD "),
        chunk("FVER", 4, {0x01, 0x05, 0x00, 0x00}),
        chunk("PROP", 78,
              concat({str("SND "), chunk("FS  ", 4, be_bytes(5644800, 4)),
                      chunk("CHNL", 14, concat({{0x00, 0x03}, str("C000C001C002")})), cmpr_default()})),
        chunk("DSD ", 6, Bytes(6, 0x69)),
    });
    EXPECT_EQ(f, expect);

    // Ten channels, explicit identifiers with escapes and NUL padding.
    Bytes t = g.make({"--channels=10", "--bytes=1",
                      "--ids=A,BB,CCC,DDDD,\\x00\\xff,E\\x2cF,6,7,8,9"});
    size_t chnl = 16 + 16 + 12 + 4 + 16;
    ASSERT_EQ(std::string(t.begin() + static_cast<long>(chnl), t.begin() + static_cast<long>(chnl) + 4), "CHNL");
    EXPECT_EQ(be(t, chnl + 4, 8), 42u);
    EXPECT_EQ(be(t, chnl + 12, 2), 10u);
    Bytes ids(t.begin() + static_cast<long>(chnl) + 14, t.begin() + static_cast<long>(chnl) + 14 + 40);
    Bytes expect_ids = concat({str(std::string("A\0\0\0", 4)), str(std::string("BB\0\0", 4)), str(std::string("CCC\0", 4)),
                               str("DDDD"), {0x00, 0xFF, 0x00, 0x00}, str(std::string("E,F\0", 4)),
                               str(std::string("6\0\0\0", 4)), str(std::string("7\0\0\0", 4)),
                               str(std::string("8\0\0\0", 4)), str(std::string("9\0\0\0", 4))});
    EXPECT_EQ(ids, expect_ids);
    EXPECT_EQ(be(t, 4, 8), t.size() - 12);

    // Any 32-bit rate goes into FS as given, zero included.
    for (const char* rate : {"0", "4294967295", "0x2B1100"}) {
        Bytes r = g.make({std::string("--rate=") + rate, "--bytes=0"});
        uint64_t want = std::stoull(rate, nullptr, 0);
        EXPECT_EQ(be(r, 16 + 16 + 12 + 4 + 12, 4), want) << rate;
    }
}

TEST(DsdgenWsd, DefaultHeaderByteByByte) {
    Gen g;
    Bytes f = g.make({"--bytes=500", "--const=all:0xA5"}, ".wsd");
    ASSERT_EQ(f.size(), 2048u + 1000u);
    Bytes h(2048, 0);
    auto put = [&](size_t off, const Bytes& v) { std::copy(v.begin(), v.end(), h.begin() + static_cast<long>(off)); };
    put(0x00, str("1bit"));
    put(0x08, {0x11});
    put(0x0C, {0x00, 0x00, 0x0B, 0xE8, 0x00, 0x00, 0x00, 0x00});  // 3048, low half first
    put(0x14, be_bytes(128, 4));
    put(0x18, be_bytes(2048, 4));
    put(0x24, {0x00, 0x2B, 0x11, 0x00});
    put(0x2C, {0x02});
    put(0x30, {0x44, 0x00, 0x00, 0x00});
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 2048), h);
    EXPECT_TRUE(std::all_of(f.begin() + 2048, f.end(), [](uint8_t v) { return v == 0xA5; }));

    // --format overrides the extension; 64-bit sizes keep their high half.
    Bytes big = g.make({"--format=wsd", "--channels=6", "--bytes=0", "--header-only", "--rate=11289600",
                        "--wsd-file-size=0x123456789A"});
    ASSERT_EQ(big.size(), 2048u);
    EXPECT_EQ(be(big, 0x0C, 4), 0x3456789Au);
    EXPECT_EQ(be(big, 0x10, 4), 0x12u);
    EXPECT_EQ(be(big, 0x24, 4), 11289600u);
    EXPECT_EQ(big[0x2C], 6);
    EXPECT_EQ(be(big, 0x30, 4), 0u);  // no stereo assignment word for six channels
}

// ---- lengths ---------------------------------------------------------------

TEST(DsdgenLength, SecondsAndBytes) {
    Gen g;
    struct Case {
        std::vector<std::string> args;
        uint64_t per_channel;
    };
    const std::vector<Case> cases = {
        {{}, 352800},                                         // 1 s at 2822400
        {{"--seconds=0.1"}, 35280},                           // exact decimal, no rounding down to 35279
        {{"--seconds=0.3"}, 105840},
        {{"--seconds=2", "--rate=5644800", "--channels=1"}, 1411200},
        {{"--seconds=1", "--rate=1001"}, 125},                // floor(1001 / 8)
        {{"--seconds=0.5", "--rate=0"}, 0},
        {{"--bytes=0"}, 0},
        {{"--bytes=0x10", "--channels=5"}, 16},
    };
    for (const Case& c : cases) {
        Bytes wsd = g.make(c.args, ".wsd");
        uint64_t ch = wsd.size() >= 0x2D ? wsd[0x2C] : 0;
        EXPECT_EQ(wsd.size(), 2048 + c.per_channel * ch) << c.args.size();
        Bytes dff = g.make(c.args);
        EXPECT_EQ(be(dff, dff.size() - c.per_channel * ch - 8, 8), c.per_channel * ch);
    }
}

// ---- sound sources ---------------------------------------------------------

TEST(DsdgenSound, IdleConstRandomAndOverrides) {
    Gen g;
    Bytes f = g.make({"--channels=4", "--bytes=4096", "--random=all:7", "--const=1:0x0F", "--const=3:255"}, ".wsd");
    ASSERT_EQ(f.size(), 2048u + 4 * 4096u);
    std::vector<Bytes> ch(4);
    for (size_t i = 2048; i < f.size(); ++i) ch[(i - 2048) % 4].push_back(f[i]);
    EXPECT_TRUE(std::all_of(ch[1].begin(), ch[1].end(), [](uint8_t v) { return v == 0x0F; }));
    EXPECT_TRUE(std::all_of(ch[3].begin(), ch[3].end(), [](uint8_t v) { return v == 0xFF; }));
    EXPECT_NE(ch[0], ch[2]);  // each channel its own stream
    // Roughly uniform: every byte value shows up, half the bits are ones.
    std::map<uint8_t, int> seen;
    size_t ones = 0;
    for (uint8_t v : ch[0]) {
        ++seen[v];
        ones += static_cast<size_t>(__builtin_popcount(v));
    }
    EXPECT_GT(seen.size(), 250u);
    EXPECT_NEAR(static_cast<double>(ones) / (8.0 * 4096), 0.5, 0.02);

    // The same seed on one channel gives the bytes that "all" gave it, and
    // the untouched channel is idle.
    Bytes one = g.make({"--channels=4", "--bytes=4096", "--random=0:7"}, ".wsd");
    Bytes c0, c1;
    for (size_t i = 2048; i < one.size(); i += 4) {
        c0.push_back(one[i]);
        c1.push_back(one[i + 1]);
    }
    EXPECT_EQ(c0, ch[0]);
    EXPECT_TRUE(std::all_of(c1.begin(), c1.end(), [](uint8_t v) { return v == 0x69; }));

    // Runs are reproducible.
    EXPECT_EQ(g.make({"--bytes=1000", "--random=all:99", "--tone=1:1000:0.3"}),
              g.make({"--bytes=1000", "--random=all:99", "--tone=1:1000:0.3"}));
}

TEST(DsdgenSound, TonesComeOutAtTheirLevelAndFrequency) {
    Gen g;
    const double rate = 2822400.0;
    Bytes f = g.make({"--seconds=0.3", "--tone=0:1000:0.5", "--tone=1:3000:0.25", "--tone=1:5000:0.125"}, ".wsd");
    Bytes data(f.begin() + 2048, f.end());
    for (size_t c = 0; c < 2; ++c) {
        sig::Decimated d = sig::decimate_dsd(data, rate, 16, 2, c);
        std::vector<double> y(d.samples.begin() + 2000, d.samples.end());
        if (c == 0) {
            EXPECT_NEAR(sig::amplitude_dbfs(sig::fit_sine(y, 1000.0, d.rate).amplitude), -6.0206, 0.01);
            EXPECT_LT(sig::thd_n_db(y, 1000.0, d.rate), -110.0);
        } else {
            EXPECT_NEAR(sig::fit_sine(y, 3000.0, d.rate).amplitude, 0.25, 1e-4);
            EXPECT_NEAR(sig::fit_sine(y, 5000.0, d.rate).amplitude, 0.125, 1e-4);
        }
    }
}

// ---- shape options ---------------------------------------------------------

// Offsets in the default stereo header.
constexpr size_t kFver = 16, kProp = 32, kFs = 48, kChnl = 64, kCmpr = 86, kSound = 118;

TEST(DsdgenShape, EachOptionDoesWhatItSays) {
    Gen g;
    const std::vector<std::string> base = {"--bytes=4"};  // 8 bytes of sound
    auto make = [&](std::vector<std::string> extra) {
        std::vector<std::string> a = base;
        a.insert(a.end(), extra.begin(), extra.end());
        return g.make(a);
    };
    Bytes plain = make({});
    ASSERT_EQ(plain.size(), 138u);

    {  // no FVER: PROP comes right after the form type
        Bytes f = make({"--no-fver"});
        EXPECT_EQ(f.size(), 138u - 16);
        EXPECT_EQ(std::string(f.begin() + 16, f.begin() + 20), "PROP");
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
    }
    {  // FVER size and value
        Bytes f = make({"--fver-size=8", "--fver-value=0x01040000"});
        EXPECT_EQ(be(f, kFver + 4, 8), 8u);
        EXPECT_EQ(be(f, kFver + 12, 4), 0x01040000u);
        EXPECT_EQ(Bytes(f.begin() + kProp, f.end()), Bytes(plain.begin() + kProp, plain.end()));
    }
    {  // no FS: PROP shrinks by 16
        Bytes f = make({"--no-fs"});
        EXPECT_EQ(be(f, kProp + 4, 8), 74u - 16);
        EXPECT_EQ(std::string(f.begin() + kFs, f.begin() + kFs + 4), "CHNL");
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
    }
    {
        Bytes f = make({"--fs-size=6"});
        EXPECT_EQ(be(f, kFs + 4, 8), 6u);
        EXPECT_EQ(f.size(), plain.size());
    }
    {
        Bytes f = make({"--no-chnl"});
        EXPECT_EQ(be(f, kProp + 4, 8), 74u - 22);
        EXPECT_EQ(std::string(f.begin() + kChnl, f.begin() + kChnl + 4), "CMPR");
    }
    {  // declared count 11 with eleven identifiers; the data keeps 2 channels
        Bytes f = make({"--chnl-count=11"});
        EXPECT_EQ(be(f, kChnl + 4, 8), 2u + 44);
        EXPECT_EQ(be(f, kChnl + 12, 2), 11u);
        EXPECT_EQ(std::string(f.begin() + kChnl + 14, f.begin() + kChnl + 22), "C000C001");
        EXPECT_EQ(be(f, kProp + 4, 8), 74u + 36);
        EXPECT_EQ(be(f, f.size() - 16, 8), 8u);
    }
    {
        Bytes f = make({"--chnl-size=12"});
        EXPECT_EQ(be(f, kChnl + 4, 8), 12u);
        EXPECT_EQ(f.size(), plain.size());
        EXPECT_EQ(be(f, kProp + 4, 8), 74u);  // the body is still 10 bytes
    }
    {
        Bytes f = make({"--no-cmpr"});
        EXPECT_EQ(be(f, kProp + 4, 8), 74u - 32);
        EXPECT_EQ(std::string(f.begin() + kCmpr, f.begin() + kCmpr + 4), "DSD ");
    }
    {  // odd name length: no pad byte
        Bytes f = make({"--cmpr-type=DST", "--cmpr-name=abc"});
        EXPECT_EQ(Bytes(f.begin() + kCmpr, f.begin() + kCmpr + 20),
                  concat({str("CMPR"), be_bytes(8, 8), str("DST "), {3}, str("abc")}));
        EXPECT_EQ(be(f, kProp + 4, 8), 74u - 12);
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
    }
    {  // a name byte with bit 7 set
        Bytes f = make({"--cmpr-name=\\x80x"});
        EXPECT_EQ(f[kCmpr + 17], 0x80);
    }
    {
        Bytes f = make({"--abss", "--lsco"});
        size_t at = kCmpr + 32;
        EXPECT_EQ(Bytes(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at) + 34),
                  concat({chunk("ABSS", 8, Bytes(8, 0)), chunk("LSCO", 2, {0, 0})}));
        EXPECT_EQ(be(f, kProp + 4, 8), 74u + 34);
    }
    {
        Bytes f = make({"--abss-size=9", "--lsco-size=3"});
        EXPECT_EQ(be(f, kCmpr + 32 + 4, 8), 9u);
        EXPECT_EQ(be(f, kCmpr + 32 + 20 + 4, 8), 3u);
    }
    {  // odd top-level chunk before PROP, with its pad byte
        Bytes f = make({"--unknown-chunk=JUNK:5", "--unknown-chunk=ABCD:0"});
        EXPECT_EQ(Bytes(f.begin() + kProp, f.begin() + kProp + 18 + 12),
                  concat({chunk("JUNK", 5, {0, 1, 2, 3, 4, 0}), chunk("ABCD", 0, {})}));
        EXPECT_EQ(std::string(f.begin() + kProp + 30, f.begin() + kProp + 34), "PROP");
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
    }
    {  // odd sub-chunk at the start of PROP; PROP's size counts the pad
        Bytes f = make({"--unknown-prop=ZZZ:3"});
        EXPECT_EQ(be(f, kProp + 4, 8), 74u + 16);
        EXPECT_EQ(Bytes(f.begin() + kProp + 16, f.begin() + kProp + 32), chunk("ZZZ ", 3, {0, 1, 2, 0}));
        EXPECT_EQ(std::string(f.begin() + kProp + 32, f.begin() + kProp + 36), "FS  ");
    }
    {  // trailing chunks after the sound data, filled with 0xFF
        Bytes f = make({"--trailing-chunk=TRLR:3", "--trailing-chunk=MORE:2"});
        EXPECT_EQ(Bytes(f.begin() + 138, f.end()),
                  concat({chunk("TRLR", 3, {0xFF, 0xFF, 0xFF, 0}), chunk("MORE", 2, {0xFF, 0xFF})}));
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
        EXPECT_EQ(be(f, kSound + 4, 8), 8u);
    }
    {  // odd sound data followed by a chunk gets a pad byte
        Bytes f = g.make({"--channels=1", "--bytes=3", "--const=0:1", "--trailing-chunk=TRLR:1"});
        auto list = walk(f, 16, f.size());
        ASSERT_EQ(list.size(), 4u);
        EXPECT_EQ(list[2].id, "DSD ");
        EXPECT_EQ(list[2].size, 3u);
        EXPECT_EQ(f[list[2].offset + 15], 0);
        EXPECT_EQ(list[3].id, "TRLR");
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
    }
    {  // without anything after it, odd sound data ends the file unpadded
        Bytes f = g.make({"--channels=1", "--bytes=3"});
        EXPECT_EQ(f.size(), 130u - 4 + 3);  // one identifier fewer
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
    }
    {
        Bytes f = make({"--form-size=7", "--prop-size=0x20", "--data-size=18446744073709551604"});
        EXPECT_EQ(be(f, 4, 8), 7u);
        EXPECT_EQ(be(f, kProp + 4, 8), 0x20u);
        EXPECT_EQ(be(f, kSound + 4, 8), 18446744073709551604ull);
        EXPECT_EQ(f.size(), plain.size());
        EXPECT_EQ(Bytes(f.begin() + 130, f.end()), Bytes(plain.begin() + 130, plain.end()));
    }
    {
        Bytes f = make({"--sound-id=DST "});
        EXPECT_EQ(std::string(f.begin() + kSound, f.begin() + kSound + 4), "DST ");
    }
    {
        Bytes f = make({"--dsti"});
        EXPECT_EQ(Bytes(f.begin() + kSound, f.begin() + kSound + 24), chunk("DSTI", 12, Bytes(12, 0)));
        EXPECT_EQ(std::string(f.begin() + kSound + 24, f.begin() + kSound + 28), "DSD ");
        EXPECT_EQ(be(f, 4, 8), f.size() - 12);
    }
    {  // header only: the header still declares the data
        Bytes f = g.make({"--bytes=1000000", "--header-only"});
        EXPECT_EQ(f.size(), 130u);
        EXPECT_EQ(be(f, 4, 8), 118u + 2000000);
        EXPECT_EQ(be(f, kSound + 4, 8), 2000000u);
    }
    {
        Bytes f = make({"--truncate=131"});
        EXPECT_EQ(f, Bytes(plain.begin(), plain.begin() + 131));
        Bytes z = make({"--truncate=0"});
        EXPECT_TRUE(z.empty());
    }
}

TEST(DsdgenShape, WsdOptions) {
    Gen g;
    Bytes f = g.make({"--bytes=10", "--wsd-size-order=be64"}, ".wsd");
    EXPECT_EQ(Bytes(f.begin() + 0x0C, f.begin() + 0x14), Bytes({0, 0, 0, 0, 0, 0, 0x08, 0x14}));
    Bytes o = g.make({"--bytes=10", "--wsd-file-size=99", "--wsd-data-offset=0xFFFFFFFF", "--wsd-channels=11",
                      "--wsd-version=3", "--wsd-text-offset=5", "--wsd-play-time=0x01020000",
                      "--wsd-assignment=7"},
                     ".wsd");
    EXPECT_EQ(be(o, 0x0C, 4), 99u);
    EXPECT_EQ(be(o, 0x10, 4), 0u);
    EXPECT_EQ(be(o, 0x18, 4), 0xFFFFFFFFu);
    EXPECT_EQ(o[0x2C], 11);
    EXPECT_EQ(o[0x08], 3);
    EXPECT_EQ(be(o, 0x14, 4), 5u);
    EXPECT_EQ(be(o, 0x20, 4), 0x01020000u);
    EXPECT_EQ(be(o, 0x30, 4), 7u);
    EXPECT_EQ(o.size(), 2048u + 20);  // the data is still there, at 2048
    Bytes t = g.make({"--bytes=10", "--truncate=100"}, ".wsd");
    EXPECT_EQ(t.size(), 100u);
    Bytes h = g.make({"--seconds=3", "--header-only"}, ".wsd");
    EXPECT_EQ(h.size(), 2048u);
    EXPECT_EQ(be(h, 0x0C, 4), 2048u + 3 * 705600);
}

// ---- refusals --------------------------------------------------------------

TEST(DsdgenUsage, BadOptionsExitWithStatus2AndCreateNothing) {
    const std::string dir = testutil::make_temp_dir();
    const std::vector<std::vector<std::string>> cases = {
        {"--channels=0"},
        {"--channels=11"},
        {"--rate=4294967296"},
        {"--rate=12x"},
        {"--bytes=-1"},
        {"--bytes=18446744073709551616"},
        {"--seconds=-1"},
        {"--seconds=1e3"},
        {"--seconds=1", "--bytes=5"},
        {"--frobnicate"},
        {"--no-fver=1"},
        {"--rate"},
        {"--tone=2:1000:0.5"},
        {"--tone=0:1000"},
        {"--tone=0:1000:1.5"},
        {"--tone=0:2000000:0.5"},
        {"--rate=0", "--tone=0:1:0.5"},
        {"--const=0:256"},
        {"--random=x:1"},
        {"--ids=ABCDE,B"},
        {"--ids=A,B,C"},
        {"--ids=\\q,B"},
        {"--unknown-chunk=JUNK"},
        {"--sound-id=TOOLONG"},
        {"--format=aiff"},
        {"--order=0"},
        {"--order=10"},
        {"--wsd-channels=256", "--format=wsd"},
        {"--wsd-version=1"},        // a WSD option for a DSDIFF file
        {"--format=wsd", "--abss"},  // and the other way round
        {"--truncate=1000", "--bytes=1"},
    };
    for (const auto& c : cases) {
        std::string out = dir + "/never.dff";
        std::vector<std::string> argv{DSDGEN_BIN};
        argv.insert(argv.end(), c.begin(), c.end());
        argv.push_back(out);
        testutil::RunResult r = testutil::run(argv);
        std::string what = c.front();
        EXPECT_EQ(r.status, 2) << what;
        EXPECT_NE(r.err.find("dsdgen: "), std::string::npos) << what;
        EXPECT_TRUE(r.out.empty()) << what;
        EXPECT_FALSE(testutil::file_exists(out)) << what;
    }
    // No output name, two output names.
    EXPECT_EQ(testutil::run({DSDGEN_BIN}).status, 2);
    EXPECT_EQ(testutil::run({DSDGEN_BIN, dir + "/a.dff", dir + "/b.dff"}).status, 2);
    // A folder that does not exist is an I/O failure, not a usage error.
    testutil::RunResult r = testutil::run({DSDGEN_BIN, dir + "/no/such/dir.dff"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
}

// A full disk is reported with status 1; the device itself is left alone.
TEST(DsdgenUsage, WriteFailureIsReported) {
    if (!testutil::file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    testutil::RunResult r = testutil::run({DSDGEN_BIN, "--bytes=100000", "--format=dff", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("dsdgen: "), std::string::npos);
    EXPECT_TRUE(testutil::file_exists("/dev/full"));
}

TEST(DsdgenUsage, HelpGoesToStandardOutput) {
    testutil::RunResult r = testutil::run({DSDGEN_BIN, "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: dsdgen [options] OUTPUT\n", 0), 0u);
    for (const char* opt : {"--tone=CH:FREQ:AMP", "--wsd-size-order", "--trailing-chunk", "--truncate"})
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
    EXPECT_TRUE(r.err.empty());
}

}  // namespace
