// chanfork on the input as a file, in this process: the property display,
// then a copy of two pairs named from the file's identifiers (or one it
// lacks) into a WSD and a DSDIFF output, or under a name it refuses. The
// status must be the one the source calls for, and every output hold its
// two channels under the header that describes them.
#define main chanfork_main
#include "chanfork.cpp"
#undef main
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    fuzzhook::write("in.dff", data, size);
    const fuzzhook::Source src = fuzzhook::look_at("in.dff");
    std::string shown;
    const std::string in = fuzzhook::path("in.dff"), last = !src.usable() ? "" : src.dst() ? "sound:\t\t\tDST-compressed, " +
        std::to_string(src.dsdiff.frame_count) + " frames of 1/75 s\n" : "\tchannel " + std::to_string(src.channels - 1) +
        " name is \"" + src.dsdiff.channel_ids[src.channels - 1] + "\"\n";
    chanfork_reset();
    const int shown_status = fuzzhook::run(chanfork_main, {"chanfork", in}, &shown);
    if (shown_status != (src.usable() ? 0 : CHANFORK_NOT_DSDIFF_STATUS) || shown.size() < last.size() || shown.substr(shown.size() - last.size()) != last ||
        shown.empty() == src.usable())
        fuzzhook::fail("display ended with %d: \"%s\"", shown_status, shown.c_str());

    const uint8_t a = data[size - 1], b = data[size - 2];
    const std::string ids[4] = {fuzzhook::pick_id(src, a & 15), fuzzhook::pick_id(src, a >> 4),
                                fuzzhook::pick_id(src, b & 15), fuzzhook::pick_id(src, b >> 4)};
    // The format follows the name from its first '.': upper case is fine, mixed case refused.
    const bool refused = data[size - 3] & 1;
    const std::string outs[2] = {data[size - 3] & 2 ? "P0.WSD" : "p0.wsd", refused ? "p1.Dff" : "p1"};
    chanfork_reset();
    const int status = fuzzhook::run(chanfork_main, {"chanfork", in, ids[0], ids[1], fuzzhook::path(outs[0]),
                                                     ids[2], ids[3], fuzzhook::path(outs[1])});
    chanfork_reset();

    int pos[4], expected = 0;
    for (int i = 0; i < 4; ++i) pos[i] = fuzzhook::position(src, ids[i]);
    const int cut = CHANFORK_READ.status;
    if (refused) expected = CHANFORK_EXTENSION.status;
    else if (!src.usable()) expected = CHANFORK_NOT_DSDIFF_STATUS;
    else if (const long i = std::find(pos, pos + 4, -1) - pos; i < 4)
        expected = (i % 2 ? CHANFORK_RIGHT_NOT_FOUND : CHANFORK_LEFT_NOT_FOUND).status;
    else if (src.cut()) expected = cut;
    if (status != expected) fuzzhook::fail("copy ended with %d, expected %d", status, expected);
    if (status != 0 && status != cut && std::filesystem::exists(fuzzhook::path(outs[0])))
        fuzzhook::fail("output created by a refused copy");
    for (int g = 0; g < 2 && (status == 0 || status == cut); ++g) fuzzhook::check_pair(outs[g], g == 1, false, src, pos[2 * g], pos[2 * g + 1]);
    return 0;
}
