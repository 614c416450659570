// Whole runs of the four-pair splitter on a file made from the fuzz input,
// in this process: first the property display, then a split of eight
// identifiers taken from the file (or one it does not have) into four WSD
// files. The exit status must be the one the source calls for, and on
// success every output must hold exactly the source's bytes of its two
// channels under a header that describes it.
#define main chanfork2chx4_main
#include "chanfork2chx4.cpp"
#undef main

#include <sys/stat.h>

#include <iterator>
#include <string>
#include <vector>

#include "harness.h"

namespace {

void reset_extractor() {
    dsdiff_reporting = 0;
    wsd_size_order = WSD_SIZE_LOW_HALF_FIRST;
    srcFileName.clear();
    for (std::string& n : outFileNames) n.clear();
    for (int& p : channel_positions) p = -1;
    dsdiff_info = DsdiffInfo{};
    for (WsdInfo& w : wsd_infos) w = WsdInfo{};
}

// Source names and the stem the outputs are named by: the name up to the
// last '.' of its last path component, or the whole name when that
// component is shorter than 5 characters or has no '.'.
struct SourceName {
    const char* name;
    const char* stem;
};
constexpr SourceName source_names[] = {
    {"in.dff", "in"}, {"in", "in"}, {"in.x.dff", "in.x"}, {"a.b", "a.b"}, {"sub.d/take", "sub.d/take"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    fuzzhook::clear_work_dir();
    const SourceName& source_name = source_names[data[size - 4] % std::size(source_names)];
    const std::string in = fuzzhook::work_path(source_name.name);
    mkdir(fuzzhook::work_path("sub.d").c_str(), 0700);
    fuzzhook::write_file(in, data, size);
    const fuzzhook::Source src = fuzzhook::look_at(in);
    const bool usable = src.type == 1 && src.sample_rate != 0 && src.channel_count != 0;

    // Display.
    reset_extractor();
    int status = fuzzhook::run_program(chanfork2chx4_main, {"chanfork2chx4", in});
    const std::string shown = fuzzhook::take_stdout();
    if (status != 0) fuzzhook::fail("display ended with %d", status);
    if (usable ? !fuzzhook::display_matches(shown, src) : !shown.empty())
        fuzzhook::fail("display printed \"%s\"", shown.c_str());

    // Split.
    std::vector<std::string> args{"chanfork2chx4"};
    std::string ids[8];
    for (int j = 0; j < 8; ++j) {
        const uint8_t s = data[size - 1 - j / 2];
        ids[j] = fuzzhook::pick_id(src, j % 2 == 0 ? s & 15 : s >> 4);
        args.push_back(ids[j]);
    }
    args.push_back(in);
    reset_extractor();
    status = fuzzhook::run_program(chanfork2chx4_main, args);
    fuzzhook::take_stdout();

    int pos[8];
    bool all_found = true;
    for (int j = 0; j < 8; ++j) {
        pos[j] = usable ? fuzzhook::channel_named(src, ids[j]) : -1;
        all_found = all_found && pos[j] >= 0;
    }
    const uint64_t frames = usable ? src.data_size / static_cast<uint64_t>(src.channel_count) : 0;
    const uint64_t available = src.length - std::min(src.length, src.data_offset);
    int expected = 0;
    if (!usable)
        expected = 108;
    else if (!all_found)
        expected = 122;
    else if (available < frames * static_cast<uint64_t>(src.channel_count))
        expected = 177;
    if (status != expected) fuzzhook::fail("split ended with %d, expected %d", status, expected);

    std::string outs[4];
    for (int k = 0; k < 4; ++k)
        outs[k] = fuzzhook::work_path((std::string(source_name.stem) + "_" + std::to_string(k) + ".wsd").c_str());
    if (status == 108 || status == 122)
        for (const std::string& o : outs)
            if (fuzzhook::file_exists(o)) fuzzhook::fail("output created by a refused split");
    if (status == 0)
        for (int k = 0; k < 4; ++k)
            fuzzhook::check_pair_output(outs[k], fuzzhook::OUT_WSD_BE64, src, data, pos[2 * k], pos[2 * k + 1]);
    return 0;
}
