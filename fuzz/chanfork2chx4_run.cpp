// chanfork2chx4 on the input as a file, in this process: the property
// display, then a split of eight identifiers from the file (or one it
// lacks) into four WSD files named after the source. The status must be
// the one the source calls for, and every output hold its two channels.
#define main chanfork2chx4_main
#include "chanfork2chx4.cpp"
#undef main
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    fuzzhook::write("in.x.dff", data, size);
    const fuzzhook::Source src = fuzzhook::look_at("in.x.dff");
    std::string shown;
    const std::string in = fuzzhook::path("in.x.dff");
    chanfork2chx4_reset();
    const int shown_status = fuzzhook::run(chanfork2chx4_main, {"chanfork2chx4", in}, &shown);
    if (shown_status != (src.usable() ? 0 : CHX4_NOT_DSDIFF_STATUS) || shown.empty() == src.usable()) fuzzhook::fail("display ended with %d: \"%s\"", shown_status, shown.c_str());

    std::vector<std::string> args{"chanfork2chx4"};
    int pos[8];
    for (int j = 0; j < 8; ++j) {
        args.push_back(fuzzhook::pick_id(src, data[size - 1 - j / 2] >> (j % 2 * 4)));
        pos[j] = fuzzhook::position(src, args.back());
    }
    args.push_back(in);
    chanfork2chx4_reset();
    const int status = fuzzhook::run(chanfork2chx4_main, args);
    const int cut = CHX4_READ.status;
    const int expected = !src.usable() ? CHX4_NOT_DSDIFF_STATUS : std::count(pos, pos + 8, -1) ? CHX4_NOT_FOUND_STATUS
                         : src.cut() ? cut : 0;
    if (status != expected) fuzzhook::fail("split ended with %d, expected %d", status, expected);
    for (int k = 0; k < 4; ++k) {
        const std::string out = "in.x_" + std::to_string(k) + ".wsd";
        if (status == 0 || status == cut) fuzzhook::check_pair(out, false, true, src, pos[2 * k], pos[2 * k + 1]);
        else if (std::filesystem::exists(fuzzhook::path(out))) fuzzhook::fail("output of a refused split");
    }
    return 0;
}
