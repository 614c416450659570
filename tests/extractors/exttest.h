// Helpers for the extractor tests: sources made by the generator, the bytes
// an extractor should copy from them, and the output headers the programs
// should write, assembled field by field.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "testutil.h"

namespace exttest {

using testutil::be;
using testutil::put_be;
using testutil::put_str;
using Bytes = std::vector<uint8_t>;
using Args = std::vector<std::string>;

// A generated DSDIFF source and where its sound data lies.
struct Source {
    std::string path;
    Bytes bytes;
    uint64_t data_offset = 0;  // first sound byte
    uint64_t data_size = 0;    // declared size of the sound chunk
    int channels = 0;
    uint32_t rate = 0;
};

// Runs the generator, then walks the chunks of the result (into PROP) for
// the rate, the channel count and the "DSD " sound chunk.
inline Source make_source(const std::string& path, Args args) {
    Source s;
    s.path = path;
    args.push_back(path);
    if (!testutil::dsdgen(args)) return s;
    s.bytes = testutil::read_file(path);
    for (uint64_t pos = 16; pos + 12 <= s.bytes.size();) {
        const std::string id(s.bytes.begin() + static_cast<long>(pos), s.bytes.begin() + static_cast<long>(pos) + 4);
        const uint64_t size = be(s.bytes, pos + 4, 8);
        if (id == "DSD ") {
            s.data_offset = pos + 12;
            s.data_size = size;
            break;
        }
        if (id == "FS  ") s.rate = static_cast<uint32_t>(be(s.bytes, pos + 12, 4));
        if (id == "CHNL") s.channels = static_cast<int>(be(s.bytes, pos + 12, 2));
        pos += id == "PROP" ? 16 : 12 + size + (size & 1);
    }
    EXPECT_NE(s.data_offset, 0u) << path;
    return s;
}

// A source whose channels each hold their own random bytes.
inline Source random_source(const std::string& path, int channels, int bytes, Args extra = {}) {
    extra.push_back("--channels=" + std::to_string(channels));
    extra.push_back("--bytes=" + std::to_string(bytes));
    for (int c = 0; c < channels; ++c)
        extra.push_back("--random=" + std::to_string(c) + ":" + std::to_string(100 * channels + c + 1));
    return make_source(path, extra);
}

// Two bytes per whole frame within the sound chunk (at most `frames`):
// channel `left` then channel `right`, as an extractor should copy them.
inline Bytes pair_data(const Source& src, int left, int right, uint64_t frames = UINT64_MAX) {
    Bytes out;
    const uint64_t cc = static_cast<uint64_t>(src.channels);
    for (uint64_t i = 0; i < std::min(frames, src.data_size / cc); ++i) {
        out.push_back(src.bytes.at(src.data_offset + i * cc + static_cast<uint64_t>(left)));
        out.push_back(src.bytes.at(src.data_offset + i * cc + static_cast<uint64_t>(right)));
    }
    return out;
}

// The 2048-byte WSD header of a stereo output. `be64` stores the file size
// as one 64-bit value, otherwise low half first.
inline Bytes wsd_header(uint64_t file_size, uint32_t play_time, uint32_t sample_rate, bool be64) {
    Bytes h;
    put_str(h, "1bit");
    for (auto [value, width] : std::initializer_list<std::pair<uint64_t, int>>{
             {0, 4}, {0x11000000, 4}, {be64 ? file_size : file_size << 32 | file_size >> 32, 8}, {128, 4},
             {2048, 4}, {0, 4}, {play_time, 4}, {sample_rate, 4}, {0, 4}, {0x02000000, 4}, {0x44000000, 4}})
        put_be(h, value, width);
    h.resize(2048, 0);
    return h;
}

// The 130-byte two-channel DSDIFF header, one chunk a line.
inline Bytes dff_header(uint64_t data_size, uint32_t sample_rate) {
    Bytes h;
    put_str(h, "FRM8"), put_be(h, data_size + 118, 8), put_str(h, "DSD PROP"), put_be(h, 74, 8), put_str(h, "SND ");
    put_str(h, "FS  "), put_be(h, 4, 8), put_be(h, sample_rate, 4);
    put_str(h, "CHNL"), put_be(h, 10, 8), put_be(h, 2, 2), put_str(h, "SLFTSRGT");
    put_str(h, "CMPR"), put_be(h, 20, 8), put_str(h, "DSD "), put_be(h, 14, 1), put_str(h, "not compressed");
    put_be(h, 0, 1);
    put_str(h, "FVER"), put_be(h, 4, 8), put_be(h, 0x01050000, 4);
    put_str(h, "DSD "), put_be(h, data_size, 8);
    return h;
}

// Runs a program with the working directory `dir`.
inline testutil::RunResult run_in(const std::string& dir, const Args& argv) {
    Args all{"/usr/bin/env", "-C", dir};
    all.insert(all.end(), argv.begin(), argv.end());
    return testutil::run(all);
}

// Runs a program whose written files may not grow beyond `bytes`: writes
// past it fail with EFBIG (the ignored SIGXFSZ stays ignored across exec).
inline testutil::RunResult run_with_file_limit(uint64_t bytes, const Args& argv) {
    Args all{"/usr/bin/prlimit", "--fsize=" + std::to_string(bytes), "--", "/bin/sh", "-c",
             "trap '' XFSZ; exec \"$@\"", "sh"};
    all.insert(all.end(), argv.begin(), argv.end());
    return testutil::run(all);
}

// Names in a folder, sorted.
inline Args list_dir(const std::string& dir) {
    Args names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string err_report(const char* module, int line, const std::string& message) {
    return "\nERROR " + std::string(module) + " " + std::to_string(line) + " " + message;
}

}  // namespace exttest
