// Malformed files, table-driven, through all three programs in all five
// modes: each row is a generated file, bent by the generator or by a patch
// of its bytes, and the status every mode must end with. Every run is also
// checked for crashes, hangs, sanitizer reports, a clear report, and for
// outputs that claim more than they hold (programs.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "programs.h"
#include "testutil.h"

namespace {

using bad::NOT_DSDIFF;
using bad::SHOWN;

using Patch = std::function<void(std::vector<uint8_t>&)>;

struct Row {
    std::string name;
    std::vector<std::string> gen;  // generator options added to the base ones
    Patch patch;                   // bytes bent after generation, or empty
    int sigmelt, show, chanfork, chx4;
    int64_t frames = -1;  // sigmelt's frame count when it succeeds, -1 for any
    std::vector<std::string> ids = {"SLFT", "SRGT"};
    int channels = 2;
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

// 2 channels of 4096 random bytes each at 2822400 Hz: 512 output frames.
const std::vector<std::string> kBase = {"--channels=2", "--bytes=4096", "--random=all:5"};
constexpr int64_t kFrames = 512;

// The header readers refuse the file: the converter finds no format, the
// displays say it is not DSDIFF, the copies end with their not-DSDIFF status.
Row refused(std::string name, std::vector<std::string> gen, Patch patch = {}) {
    return Row{std::move(name), std::move(gen), std::move(patch), 134, NOT_DSDIFF, 136, 108};
}

// Everything works.
Row accepted(std::string name, std::vector<std::string> gen, int64_t frames = kFrames, Patch patch = {}) {
    return Row{std::move(name), std::move(gen), std::move(patch), 0, SHOWN, 0, 0, frames};
}

// A header that reads but holds less sound than it declares: the converter
// converts what there is, the copies stop with their read error.
Row short_sound(std::string name, std::vector<std::string> gen, int64_t frames, Patch patch = {}) {
    return Row{std::move(name), std::move(gen), std::move(patch), 0, SHOWN, 228, 177, frames};
}

// A header that reads but gives no rate or no channel: nothing to work with.
Row unusable(std::string name, std::vector<std::string> gen, int sigmelt_status) {
    return Row{std::move(name), std::move(gen), {}, sigmelt_status, NOT_DSDIFF, 136, 108};
}

// Sets the 64-bit size of the first chunk called `id`.
Patch chunk_size(const std::string& id, uint64_t size) {
    return [id, size](std::vector<uint8_t>& b) {
        for (size_t i = 12; i + 12 <= b.size(); ++i) {
            if (std::memcmp(b.data() + i, id.data(), 4) == 0) {
                for (int k = 0; k < 8; ++k) b[i + 4 + static_cast<size_t>(k)] = static_cast<uint8_t>(size >> (56 - 8 * k));
                return;
            }
        }
        ADD_FAILURE() << "no chunk " << id;
    };
}

Patch overwrite(size_t at, std::string bytes) {
    return [at, bytes](std::vector<uint8_t>& b) { std::memcpy(b.data() + at, bytes.data(), bytes.size()); };
}

constexpr uint64_t k2p63 = uint64_t{1} << 63;
constexpr uint64_t kAllOnes = ~uint64_t{0};

std::vector<Row> dsdiff_rows() {
    std::vector<Row> rows = {
        // The form size is only a bound for the walk: a wrong one does not
        // stop it before the sound chunk.
        accepted("form_size_0", {"--form-size=0"}),
        accepted("form_size_odd", {"--form-size=77"}),
        accepted("form_size_beyond_file", {"--form-size=0x10000000"}),
        accepted("form_size_2p63", {"--form-size=0x8000000000000000"}),
        accepted("form_size_all_ones", {"--form-size=0xFFFFFFFFFFFFFFFF"}),
        refused("form_ends_before_sound", {"--form-size=20"}),
        refused("fver_size_0", {"--fver-size=0"}),
        refused("fver_size_odd", {"--fver-size=5"}),
        refused("fver_size_beyond_file", {"--fver-size=0x100000"}),
        refused("fver_size_2p63", {"--fver-size=0x8000000000000000"}),
        refused("prop_size_0", {"--prop-size=0"}),
        refused("prop_size_odd", {"--prop-size=75"}),
        refused("prop_size_beyond_file", {"--prop-size=0x100000"}),
        refused("prop_size_2p63_minus_1", {"--prop-size=0x7FFFFFFFFFFFFFFF"}),
        refused("prop_size_2p63", {"--prop-size=0x8000000000000000"}),
        refused("prop_size_all_ones", {"--prop-size=0xFFFFFFFFFFFFFFFF"}),
        refused("fs_size_0", {"--fs-size=0"}),
        refused("fs_size_odd", {"--fs-size=3"}),
        refused("fs_size_2p63", {"--fs-size=0x8000000000000000"}),
        refused("chnl_size_0", {"--chnl-size=0"}),
        refused("chnl_size_odd", {"--chnl-size=11"}),
        refused("chnl_size_beyond_file", {"--chnl-size=0x100000"}),
        refused("chnl_size_all_ones", {"--chnl-size=0xFFFFFFFFFFFFFFFF"}),
        refused("chnl_count_11", {"--chnl-count=11"}),
        refused("chnl_count_65535", {"--chnl-count=65535"}),
        unusable("chnl_count_0", {"--chnl-count=0"}, 134),
        unusable("no_chnl", {"--no-chnl"}, 134),
        unusable("rate_0", {"--rate=0"}, 144),
        unusable("no_fs", {"--no-fs"}, 144),
        Row{"rate_44100", {"--rate=44100"}, {}, 144, SHOWN, 0, 0},
        Row{"rate_all_ones", {"--rate=0xFFFFFFFF"}, {}, 144, SHOWN, 0, 0},
        // Ten channels declared over stereo data: frames of ten bytes.
        Row{"chnl_count_10_over_stereo_data", {"--chnl-count=10"}, {}, 0, SHOWN, 0, 0, 102, {"C000", "C009"}, 10},
        refused("cmpr_name_non_ascii", {"--cmpr-name=\\xe9t\\xe9"}),
        refused("cmpr_name_byte_0x80", {"--cmpr-name=ab\\x80"}),
        accepted("cmpr_name_empty", {"--cmpr-name="}),
        accepted("cmpr_name_with_nul", {"--cmpr-name=a\\x00b"}),
        refused("cmpr_type_unknown", {"--cmpr-type=XXXX"}),
        refused("cmpr_type_nul", {"--cmpr-type=\\x00\\x00\\x00\\x00"}),
        refused("dst_sound", {"--cmpr-type=DST", "--sound-id=DST"}),
        refused("dsti_chunk", {"--dsti"}),
        accepted("abss_lsco", {"--abss", "--lsco"}),
        refused("abss_size_odd", {"--abss-size=9"}),
        refused("lsco_size_0", {"--lsco-size=0"}),
        accepted("unknown_chunk_size_0", {"--unknown-chunk=XTRA:0"}),
        accepted("unknown_chunk_size_odd", {"--unknown-chunk=XTRA:5"}),
        accepted("unknown_chunk_id_nul", {"--unknown-chunk=\\x00\\x00\\x00\\x00:6"}),
        accepted("unknown_chunk_id_non_ascii", {"--unknown-chunk=\\xff\\xfe\\x80\\x81:3"}),
        refused("unknown_chunk_size_beyond_file", {"--unknown-chunk=XTRA:8"}, chunk_size("XTRA", 0x100000)),
        refused("unknown_chunk_size_2p63_minus_1", {"--unknown-chunk=XTRA:8"}, chunk_size("XTRA", k2p63 - 1)),
        refused("unknown_chunk_size_2p63", {"--unknown-chunk=XTRA:8"}, chunk_size("XTRA", k2p63)),
        refused("unknown_chunk_size_all_ones", {"--unknown-chunk=XTRA:8"}, chunk_size("XTRA", kAllOnes)),
        accepted("unknown_prop_size_0", {"--unknown-prop=XPRP:0"}),
        accepted("unknown_prop_size_odd", {"--unknown-prop=XPRP:3"}),
        accepted("unknown_prop_id_nul_non_ascii", {"--unknown-prop=\\x00\\xff\\x00\\x80:4"}),
        refused("unknown_prop_size_beyond_file", {"--unknown-prop=XPRP:8"}, chunk_size("XPRP", 0x100000)),
        refused("unknown_prop_size_2p63_minus_1", {"--unknown-prop=XPRP:8"}, chunk_size("XPRP", k2p63 - 1)),
        refused("unknown_prop_size_2p63", {"--unknown-prop=XPRP:8"}, chunk_size("XPRP", k2p63)),
        refused("sound_id_nul", {"--sound-id=\\x00SD"}),
        refused("sound_id_non_ascii", {"--sound-id=\\xc4SD"}),
        refused("form_id_lower_case", {}, overwrite(0, "frm8")),
        refused("form_type_nul", {}, overwrite(12, std::string("DSD\0", 4))),
        // The sound chunk's size against the bytes that follow it.
        accepted("sound_size_0", {"--data-size=0"}, 0),
        accepted("sound_size_odd", {"--data-size=8193"}),
        accepted("sound_size_one_frame_short", {"--data-size=8190"}, 511),
        accepted("trailing_chunk_after_sound", {"--trailing-chunk=XTRA:100"}),
        short_sound("sound_size_beyond_file", {"--data-size=16384"}, kFrames),
        short_sound("sound_size_2p63_minus_1", {"--data-size=0x7FFFFFFFFFFFFFFF"}, kFrames),
        refused("sound_size_2p63", {"--data-size=0x8000000000000000"}),
        refused("sound_size_all_ones", {"--data-size=0xFFFFFFFFFFFFFFFF"}),
        short_sound("header_only", {"--header-only"}, 0),
    };
    // Channel identifiers as the copies name them on the command line.
    Row nul_ids = accepted("channel_ids_nul", {"--ids=\\x00\\x00\\x00\\x00,AB"});
    nul_ids.ids = {"", "AB"};
    Row high_ids = accepted("channel_ids_non_ascii", {"--ids=\\xff\\xfe\\x80\\x81,\\xc3\\xa9t\\xe9"});
    high_ids.ids = {"\xff\xfe\x80\x81", "\xc3\xa9t\xe9"};
    Row same_ids = accepted("channel_ids_repeated", {"--ids=SAME,SAME"});
    same_ids.ids = {"SAME", "SAME"};
    Row no_left = Row{"left_id_missing", {}, {}, 0, SHOWN, 167, 122, kFrames, {"NONE", "SRGT"}};
    Row no_right = Row{"right_id_missing", {}, {}, 0, SHOWN, 171, 122, kFrames, {"SLFT", "SRG"}};
    Row mono = Row{"one_channel", {"--channels=1"}, {}, 0, SHOWN, 0, 0, kFrames, {"C000", "C000"}, 1};
    Row ten = Row{"ten_channels", {"--channels=10"}, {}, 0, SHOWN, 0, 0, kFrames, {"C009", "C000"}, 10};
    for (Row r : {nul_ids, high_ids, same_ids, no_left, no_right, mono, ten}) rows.push_back(r);
    return rows;
}

// WSD sources: the converter reads them, the extractors take DSDIFF only.
Row wsd(std::string name, std::vector<std::string> gen, int sigmelt_status, int64_t frames = kFrames,
        Patch patch = {}) {
    gen.push_back("--format=wsd");
    return Row{std::move(name), std::move(gen), std::move(patch), sigmelt_status, NOT_DSDIFF, 136, 108, frames};
}

std::vector<Row> wsd_rows() {
    return {
        wsd("wsd_plain", {}, 0),
        wsd("wsd_channels_0", {"--wsd-channels=0"}, 134),
        wsd("wsd_channels_11", {"--wsd-channels=11"}, 134),
        wsd("wsd_channels_255", {"--wsd-channels=255"}, 134),
        wsd("wsd_channels_10_over_stereo_data", {"--wsd-channels=10"}, 0, 102),
        wsd("wsd_data_offset_0", {"--wsd-data-offset=0"}, 0, 640),
        // 8191 bytes: the last group is short by one byte and still counts.
        wsd("wsd_data_offset_odd", {"--wsd-data-offset=2049"}, 0, kFrames),
        wsd("wsd_data_offset_beyond_file", {"--wsd-data-offset=0x100000"}, 0, 0),
        wsd("wsd_data_offset_all_ones", {"--wsd-data-offset=0xFFFFFFFF"}, 0, 0),
        wsd("wsd_file_size_0", {"--wsd-file-size=0"}, 0),
        wsd("wsd_file_size_odd", {"--wsd-file-size=2049"}, 0),
        wsd("wsd_file_size_2p63", {"--wsd-file-size=0x8000000000000000"}, 0),
        wsd("wsd_file_size_all_ones", {"--wsd-file-size=0xFFFFFFFFFFFFFFFF"}, 0),
        wsd("wsd_file_size_be64", {"--wsd-size-order=be64"}, 0),
        wsd("wsd_rate_0", {"--rate=0"}, 144),
        wsd("wsd_rate_44100", {"--rate=44100"}, 144),
        wsd("wsd_version_0", {"--wsd-version=0"}, 0),
        wsd("wsd_magic_wrong", {}, 134, kFrames, overwrite(0, "1biT")),
        wsd("wsd_magic_nul", {}, 134, kFrames, overwrite(0, std::string("1bi\0", 4))),
        wsd("wsd_header_only", {"--header-only"}, 0, 0),
    };
}

class BadInput : public ::testing::TestWithParam<Row> {};

void run_row(const Row& row, const std::string& ext) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/src." + ext;
    std::vector<std::string> gen = kBase;
    gen.insert(gen.end(), row.gen.begin(), row.gen.end());
    gen.push_back(src);
    ASSERT_TRUE(testutil::dsdgen(gen));
    if (row.patch) {
        std::vector<uint8_t> bytes = testutil::read_file(src);
        row.patch(bytes);
        testutil::write_file(src, bytes);
    }
    const int expected[] = {row.sigmelt, row.show, row.chanfork, row.show, row.chx4};
    bad::Expect e[5];
    for (bad::Mode m : bad::kModes) {
        e[m].status = expected[m];
        e[m].channels = row.channels;
        e[m].sigmelt_frames = row.frames;
    }
    bad::check_all_modes(src, dir, row.ids, e);
}

TEST_P(BadInput, EveryProgramEndsCleanly) {
    const Row& row = GetParam();
    const bool is_wsd = std::find(row.gen.begin(), row.gen.end(), "--format=wsd") != row.gen.end();
    run_row(row, is_wsd ? "wsd" : "dff");
}

std::string row_name(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Dsdiff, BadInput, ::testing::ValuesIn(dsdiff_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Wsd, BadInput, ::testing::ValuesIn(wsd_rows()), row_name);

// Files that are neither format at all.
TEST(BadInputOther, EmptyAndTextFiles) {
    const std::string dir = testutil::make_temp_dir();
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"empty.dff", {}},
        {"text.dff", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}},
        {"zeros.dff", std::vector<uint8_t>(4096, 0)},
        {"ones.dff", std::vector<uint8_t>(4096, 0xFF)},
    };
    for (const auto& [name, bytes] : files) {
        const std::string src = dir + "/" + name;
        testutil::write_file(src, bytes);
        const int expected[] = {134, NOT_DSDIFF, 136, NOT_DSDIFF, 108};
        for (bad::Mode m : bad::kModes) bad::check_mode(m, src, dir, {"SLFT", "SRGT"}, {expected[m]});
    }
}

}  // namespace
