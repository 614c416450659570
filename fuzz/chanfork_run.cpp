// Whole runs of the channel-pair extractor on a file made from the fuzz
// input, in this process: first the property display, then a copy of two
// pairs into WSD or DSDIFF files as their names say (or names it refuses),
// with identifiers taken from the file (or one it does not have). The exit status must be the one the source
// calls for, and on success every output must hold exactly the source's
// bytes of its two channels under a header that describes it.
#define main chanfork_main
#include "chanfork.cpp"
#undef main

#include <string>
#include <vector>

#include "harness.h"

namespace {

void reset_extractor() {
    dsdiff_reporting = 0;
    wsd_size_order = WSD_SIZE_LOW_HALF_FIRST;
    srcFileName = nullptr;
    dsdiff_info = DsdiffInfo{};
    entries = nullptr;
    pair_outputs = nullptr;
    entry_count = 0;
}

// The entry table lives until the process ends in the program; here it
// ends with the run.
void release_entries() {
    if (entries != nullptr)
        for (int i = 0; i < entry_count; ++i) std::free(entries[i].name);
    std::free(entries);
    std::free(pair_outputs);
    entries = nullptr;
    pair_outputs = nullptr;
}

// Output names by their extension: judged from the first '.' of the name;
// a name of 4 characters or fewer, or one without a '.', is DSDIFF.
struct OutputName {
    std::string name;
    bool refused;
    fuzzhook::OutputKind kind;
};

OutputName output_name(unsigned selector, int group) {
    const std::string g = std::to_string(group);
    switch (selector % 8) {
    case 0: return {"pair" + g + ".wsd", false, fuzzhook::OUT_WSD_LOW_HALF_FIRST};
    case 1: return {"pair" + g + ".WSD", false, fuzzhook::OUT_WSD_LOW_HALF_FIRST};
    case 2: return {"pair" + g + ".dff", false, fuzzhook::OUT_DSDIFF};
    case 3: return {"pair" + g + ".DFF", false, fuzzhook::OUT_DSDIFF};
    case 4: return {"pair" + g, false, fuzzhook::OUT_DSDIFF};
    case 5: return {group == 0 ? ".wsd" : ".dff", false, fuzzhook::OUT_DSDIFF};
    case 6: return {"my.song" + g + ".wsd", true, fuzzhook::OUT_DSDIFF};
    default: return {"pair" + g + ".Wsd", true, fuzzhook::OUT_DSDIFF};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    fuzzhook::clear_work_dir();
    const std::string in = fuzzhook::work_path("in.dff");
    fuzzhook::write_file(in, data, size);
    const fuzzhook::Source src = fuzzhook::look_at(in);
    const bool usable = src.type == 1 && src.sample_rate != 0 && src.channel_count != 0;

    // Display.
    reset_extractor();
    int status = fuzzhook::run_program(chanfork_main, {"chanfork", in});
    release_entries();
    const std::string shown = fuzzhook::take_stdout();
    if (status != 0) fuzzhook::fail("display ended with %d", status);
    if (usable ? !fuzzhook::display_matches(shown, src) : !shown.empty())
        fuzzhook::fail("display printed \"%s\"", shown.c_str());

    // Copy.
    const uint8_t s1 = data[size - 1], s2 = data[size - 2];
    const std::string ids[4] = {fuzzhook::pick_id(src, s1 & 15), fuzzhook::pick_id(src, s1 >> 4),
                                fuzzhook::pick_id(src, s2 & 15), fuzzhook::pick_id(src, s2 >> 4)};
    const OutputName names[2] = {output_name(data[size - 3], 0), output_name(data[size - 3] >> 3, 1)};
    const std::string out1 = fuzzhook::work_path(names[0].name.c_str());
    const std::string out2 = fuzzhook::work_path(names[1].name.c_str());
    reset_extractor();
    status = fuzzhook::run_program(chanfork_main, {"chanfork", in, ids[0], ids[1], out1, ids[2], ids[3], out2});
    release_entries();
    fuzzhook::take_stdout();

    int pos[4];
    for (int i = 0; i < 4; ++i) pos[i] = usable ? fuzzhook::channel_named(src, ids[i]) : -1;
    const uint64_t frames = usable ? src.data_size / static_cast<uint64_t>(src.channel_count) : 0;
    const uint64_t available = src.length - std::min(src.length, src.data_offset);
    int expected = 0;
    if (names[0].refused || names[1].refused)
        expected = 111;
    else if (!usable)
        expected = 136;
    else if (pos[0] < 0)
        expected = 167;
    else if (pos[1] < 0)
        expected = 171;
    else if (pos[2] < 0)
        expected = 167;
    else if (pos[3] < 0)
        expected = 171;
    else if (available < frames * static_cast<uint64_t>(src.channel_count))
        expected = 228;
    if (status != expected) fuzzhook::fail("copy ended with %d, expected %d", status, expected);

    if ((status == 111 || status == 136) && (fuzzhook::file_exists(out1) || fuzzhook::file_exists(out2)))
        fuzzhook::fail("output created by a refused copy");
    if (status == 0) {
        fuzzhook::check_pair_output(out1, names[0].kind, src, data, pos[0], pos[1]);
        fuzzhook::check_pair_output(out2, names[1].kind, src, data, pos[2], pos[3]);
    }
    return 0;
}
