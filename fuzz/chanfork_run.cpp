// chanfork on the input as a file, in this process: the property display,
// then a copy of two pairs named from the file's identifiers (or one it
// lacks) into outputs whose names the last bytes pick. The status must be
// the one the source calls for, and every output hold its two channels.
#define main chanfork_main
#include "chanfork.cpp"
#undef main
#include "harness.h"

namespace {
// Name, refused, layout: the format is judged from the first '.' of the
// name; a name of 4 characters or fewer, or without a '.', is DSDIFF.
struct Name { std::string name; bool refused; fuzzhook::OutputKind kind; };
Name output_name(unsigned sel, int g) {
    const std::string n = std::to_string(g);
    const Name names[8] = {{"p" + n + ".wsd", false, fuzzhook::OUT_WSD_LOW_HALF_FIRST},
                           {"p" + n + ".WSD", false, fuzzhook::OUT_WSD_LOW_HALF_FIRST},
                           {"p" + n + ".dff", false, fuzzhook::OUT_DSDIFF}, {"p" + n + ".DFF", false, fuzzhook::OUT_DSDIFF},
                           {"pair" + n, false, fuzzhook::OUT_DSDIFF}, {g ? ".dff" : ".wsd", false, fuzzhook::OUT_DSDIFF},
                           {"my.song" + n + ".wsd", true, fuzzhook::OUT_DSDIFF}, {"p" + n + ".Wsd", true, fuzzhook::OUT_DSDIFF}};
    return names[sel % 8];
}
void fresh_state() {
    dsdiff_reporting = 0;
    wsd_size_order = WSD_SIZE_LOW_HALF_FIRST;
    if (entries != nullptr)
        for (int i = 0; i < entry_count; ++i) std::free(entries[i].name);
    std::free(entries);
    std::free(pair_outputs);
    entries = nullptr;
    pair_outputs = nullptr;
    entry_count = 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    fuzzhook::clear();
    const std::string in = fuzzhook::path("in.dff");
    fuzzhook::write(in, data, size);
    const fuzzhook::Source src = fuzzhook::look_at(in);
    std::string shown;
    fresh_state();
    const int shown_status = fuzzhook::run(chanfork_main, {"chanfork", in}, &shown);
    if (shown_status != 0 || shown != (src.usable() ? fuzzhook::display(src) : ""))
        fuzzhook::fail("display ended with %d: \"%s\"", shown_status, shown.c_str());

    const uint8_t a = data[size - 1], b = data[size - 2];
    const std::string ids[4] = {fuzzhook::pick_id(src, a & 15), fuzzhook::pick_id(src, a >> 4),
                                fuzzhook::pick_id(src, b & 15), fuzzhook::pick_id(src, b >> 4)};
    const Name names[2] = {output_name(data[size - 3], 0), output_name(data[size - 3] >> 3, 1)};
    const std::string outs[2] = {fuzzhook::path(names[0].name), fuzzhook::path(names[1].name)};
    fresh_state();
    const int status = fuzzhook::run(chanfork_main, {"chanfork", in, ids[0], ids[1], outs[0], ids[2], ids[3], outs[1]});
    fresh_state();
    int pos[4], expected = 0;
    for (int i = 0; i < 4; ++i) pos[i] = fuzzhook::position(src, ids[i]);
    if (names[0].refused || names[1].refused) expected = 111;
    else if (!src.usable()) expected = 136;
    else if (const long i = std::find(pos, pos + 4, -1) - pos; i < 4) expected = i % 2 ? 171 : 167;
    else if (src.length - std::min(src.length, src.data_offset) < src.data_size / src.channels * src.channels) expected = 228;
    if (status != expected) fuzzhook::fail("copy ended with %d, expected %d", status, expected);
    if ((status == 111 || status == 136) && (std::filesystem::exists(outs[0]) || std::filesystem::exists(outs[1])))
        fuzzhook::fail("output created by a refused copy");
    for (int g = 0; g < 2 && status == 0; ++g) fuzzhook::check_pair(outs[g], names[g].kind, src, data, pos[2 * g], pos[2 * g + 1]);
    return 0;
}
