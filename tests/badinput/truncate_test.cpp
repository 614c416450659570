// A source cut short at every byte of its header, and at a few places in
// its sound data, through all five modes. Cut inside the header, every
// reader refuses it; cut in the sound data, the converter converts every
// whole block there is and the copies stop with a read error, leaving the
// whole frames they read.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "programs.h"
#include "testutil.h"

namespace {

using bad::NOT_DSDIFF;
using bad::SHOWN;

// Frames of a stereo 2822400 Hz conversion of `bytes` sound bytes: blocks of
// 8 groups of 2 bytes; a last group short by one byte still counts.
int64_t stereo_frames(uint64_t bytes) { return static_cast<int64_t>(bytes / 16 + (bytes % 16 == 15 ? 1 : 0)); }

std::vector<uint8_t> generate(const std::string& dir, std::vector<std::string> args) {
    const std::string path = dir + "/gen.tmp";
    args.push_back(path);
    EXPECT_TRUE(testutil::dsdgen(args));
    return testutil::read_file(path);
}

// Each program on every cut, the extractors' two modes taking turns (both
// read the header the same way; the copies also write): this keeps the
// runs to three per cut.
std::vector<bad::Mode> modes_for_cut(size_t i) {
    if (i % 2 == 0) return {bad::SIGMELT, bad::CF_SHOW, bad::X4_COPY};
    return {bad::SIGMELT, bad::CF_COPY, bad::X4_SHOW};
}

// Cuts the file at each offset in `cuts` and runs the chosen modes on it.
template <typename ModesFor, typename ExpectFor>
void run_cuts(const std::vector<uint8_t>& file, const std::string& ext, const std::vector<size_t>& cuts,
              ModesFor modes_for, ExpectFor expect_for) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/src." + ext;
    for (size_t i = 0; i < cuts.size(); ++i) {
        const size_t n = cuts[i];
        SCOPED_TRACE("cut at " + std::to_string(n) + " of " + std::to_string(file.size()));
        testutil::write_file(src, std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(n)));
        bad::Expect e[5];
        expect_for(n, e);
        bad::check_modes(modes_for(i, n), src, dir, {"SLFT", "SRGT"}, e);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(Truncated, DsdiffAtEveryHeaderOffset) {
    // Every kind of chunk the reader knows, an unknown one at each level,
    // odd sizes with their pad bytes, a compression name with its pad.
    const std::vector<std::string> shape = {"--channels=2", "--bytes=64", "--random=all:3", "--abss", "--lsco",
                                            "--unknown-chunk=XTRA:5", "--unknown-prop=XPRP:3"};
    const std::string dir = testutil::make_temp_dir();
    const std::vector<uint8_t> file = generate(dir, shape);
    std::vector<std::string> head_only = shape;
    head_only.push_back("--header-only");
    const size_t header = generate(dir, head_only).size();
    ASSERT_EQ(file.size(), header + 128);

    std::vector<size_t> cuts;
    for (size_t n = 0; n <= header; ++n) cuts.push_back(n);
    for (size_t d : {1, 2, 15, 16, 17, 127, 128}) cuts.push_back(header + d);

    // Every mode in the sound data, where the copies start writing.
    auto modes = [&](size_t i, size_t n) {
        return n < header ? modes_for_cut(i) : std::vector<bad::Mode>(std::begin(bad::kModes), std::end(bad::kModes));
    };
    run_cuts(file, "dff", cuts, modes, [&](size_t n, bad::Expect (&e)[5]) {
        if (n < header) {
            e[bad::SIGMELT].status = 134;
            e[bad::CF_SHOW].status = e[bad::X4_SHOW].status = NOT_DSDIFF;
            e[bad::CF_COPY].status = 136;
            e[bad::X4_COPY].status = 108;
            return;
        }
        const bool whole = n == file.size();
        e[bad::SIGMELT].status = 0;
        e[bad::SIGMELT].sigmelt_frames = stereo_frames(n - header);
        e[bad::CF_SHOW].status = e[bad::X4_SHOW].status = SHOWN;
        e[bad::CF_COPY].status = whole ? 0 : 228;
        e[bad::X4_COPY].status = whole ? 0 : 177;
    });
}

TEST(Truncated, WsdAtEveryHeaderOffset) {
    const std::string dir = testutil::make_temp_dir();
    const std::vector<uint8_t> file =
        generate(dir, {"--format=wsd", "--channels=2", "--bytes=64", "--random=all:3"});
    ASSERT_EQ(file.size(), 2048u + 128);

    // The reader reads the fields up to 0x34 and then seeks to the data;
    // the rest of the 2048 bytes is never read.
    std::vector<size_t> cuts;
    for (size_t n = 0; n <= 0x40; ++n) cuts.push_back(n);
    for (size_t n : {0x80, 0x400, 0x7FF, 0x800, 0x801, 0x80F, 0x810, 0x87F, 0x880}) cuts.push_back(n);

    // Only the converter reads WSD; the extractors refuse it at its first
    // four bytes, which a few cuts show.
    auto modes = [&](size_t i, size_t n) {
        if (n <= 4 || n == 0x34 || n == file.size()) return modes_for_cut(i);
        return std::vector<bad::Mode>{bad::SIGMELT};
    };
    run_cuts(file, "wsd", cuts, modes, [&](size_t n, bad::Expect (&e)[5]) {
        e[bad::SIGMELT].status = n < 0x34 ? 134 : 0;
        e[bad::SIGMELT].sigmelt_frames = n < 0x800 ? 0 : stereo_frames(n - 0x800);
        e[bad::CF_SHOW].status = e[bad::X4_SHOW].status = NOT_DSDIFF;
        e[bad::CF_COPY].status = 136;
        e[bad::X4_COPY].status = 108;
    });
}

}  // namespace
