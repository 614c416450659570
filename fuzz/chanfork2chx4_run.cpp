// chanfork2chx4 on the input as a file, in this process: the property
// display, then a split of eight identifiers from the file (or one it
// lacks) into four WSD files named after the source, whose name the input
// picks. The status must be the one the source calls for, and every output
// hold its two channels.
#define main chanfork2chx4_main
#include "chanfork2chx4.cpp"
#undef main
#include <sys/stat.h>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    fuzzhook::clear();
    // Source names and the stems of their outputs: only a '.' in a last
    // path component of 5 characters or more starts an extension.
    const char* names[5][2] = {{"in.dff", "in"}, {"in", "in"}, {"in.x.dff", "in.x"}, {"a.b", "a.b"}, {"s.d/take", "s.d/take"}};
    const char* const* name = names[data[size - 4] % 5];
    mkdir(fuzzhook::path("s.d").c_str(), 0700);
    const std::string in = fuzzhook::path(name[0]);
    fuzzhook::write(in, data, size);
    const fuzzhook::Source src = fuzzhook::look_at(in);
    std::string shown;
    const int shown_status = fuzzhook::run(chanfork2chx4_main, {"chanfork2chx4", in}, &shown);
    if (shown_status != 0 || shown != (src.usable() ? fuzzhook::display(src) : ""))
        fuzzhook::fail("display ended with %d: \"%s\"", shown_status, shown.c_str());

    std::vector<std::string> args{"chanfork2chx4"};
    bool found = true;
    int pos[8];
    for (int j = 0; j < 8; ++j) {
        args.push_back(fuzzhook::pick_id(src, data[size - 1 - j / 2] >> (j % 2 * 4)));
        pos[j] = fuzzhook::position(src, args.back());
        found = found && pos[j] >= 0;
    }
    args.push_back(in);
    const int status = fuzzhook::run(chanfork2chx4_main, args);
    int expected = 0;
    if (!src.usable()) expected = 108;
    else if (!found) expected = 122;
    else if (src.length - std::min(src.length, src.data_offset) < src.data_size / src.channels * src.channels) expected = 177;
    if (status != expected) fuzzhook::fail("split ended with %d, expected %d", status, expected);
    for (int k = 0; k < 4; ++k) {
        const std::string out = fuzzhook::path(std::string(name[1]) + "_" + std::to_string(k) + ".wsd");
        if (status == 0) fuzzhook::check_pair(out, fuzzhook::OUT_WSD_BE64, src, data, pos[2 * k], pos[2 * k + 1]);
        else if (status != 177 && std::filesystem::exists(out)) fuzzhook::fail("output created by a refused split");
    }
    return 0;
}
