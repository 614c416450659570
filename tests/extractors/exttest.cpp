#include "exttest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace exttest {

using testutil::be;

bool find_sound_chunk(const std::vector<uint8_t>& file, uint64_t* offset, uint64_t* size) {
    if (file.size() < 16 || std::string(file.begin(), file.begin() + 4) != "FRM8") return false;
    uint64_t pos = 16;
    while (pos + 12 <= file.size()) {
        const std::string id(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(pos) + 4);
        const uint64_t chunk = be(file, pos + 4, 8);
        if (id == "DSD ") {
            *offset = pos + 12;
            *size = chunk;
            return true;
        }
        pos += 12 + chunk + (chunk & 1);
    }
    return false;
}

Source make_source(const std::string& path, const std::vector<std::string>& args) {
    Source s;
    s.path = path;
    std::vector<std::string> all = args;
    all.push_back(path);
    if (!testutil::dsdgen(all)) return s;
    s.bytes = testutil::read_file(path);
    EXPECT_TRUE(find_sound_chunk(s.bytes, &s.data_offset, &s.data_size)) << path;
    // Channel count from CHNL, found by its identifier.
    for (size_t i = 16; i + 14 <= s.bytes.size(); ++i) {
        if (std::equal(s.bytes.begin() + static_cast<long>(i), s.bytes.begin() + static_cast<long>(i) + 4,
                       "CHNL")) {
            s.channels = static_cast<int>(be(s.bytes, i + 12, 2));
            break;
        }
    }
    return s;
}

std::vector<std::string> random_channels(int channels, int seed) {
    std::vector<std::string> args;
    for (int c = 0; c < channels; ++c)
        args.push_back("--random=" + std::to_string(c) + ":" + std::to_string(seed * 100 + c + 1));
    return args;
}

std::vector<uint8_t> pair_data(const Source& src, int left, int right) {
    std::vector<uint8_t> out;
    const uint64_t frames = src.data_size / static_cast<uint64_t>(src.channels);
    for (uint64_t i = 0; i < frames; ++i) {
        const uint64_t frame = src.data_offset + i * static_cast<uint64_t>(src.channels);
        out.push_back(src.bytes.at(frame + static_cast<uint64_t>(left)));
        out.push_back(src.bytes.at(frame + static_cast<uint64_t>(right)));
    }
    return out;
}

std::vector<uint8_t> wsd_header(uint64_t file_size, uint32_t play_time, uint32_t sample_rate, bool be64) {
    using testutil::put_be;
    std::vector<uint8_t> h;
    testutil::put_str(h, "1bit");
    put_be(h, 0, 4);
    put_be(h, 0x11, 1);
    put_be(h, 0, 3);
    if (be64) {
        put_be(h, file_size, 8);
    } else {
        put_be(h, file_size & 0xFFFFFFFFu, 4);
        put_be(h, file_size >> 32, 4);
    }
    put_be(h, 128, 4);
    put_be(h, 2048, 4);
    put_be(h, 0, 4);
    put_be(h, play_time, 4);
    put_be(h, sample_rate, 4);
    put_be(h, 0, 4);
    put_be(h, 2, 1);
    put_be(h, 0, 3);
    put_be(h, 0x44000000, 4);
    h.resize(2048, 0);
    return h;
}

std::vector<uint8_t> dff_header(uint64_t data_size, uint32_t sample_rate) {
    using testutil::put_be;
    using testutil::put_str;
    std::vector<uint8_t> h;
    put_str(h, "FRM8");
    put_be(h, data_size + 118, 8);
    put_str(h, "DSD PROP");
    put_be(h, 74, 8);
    put_str(h, "SND FS  ");
    put_be(h, 4, 8);
    put_be(h, sample_rate, 4);
    put_str(h, "CHNL");
    put_be(h, 10, 8);
    put_be(h, 2, 2);
    put_str(h, "SLFTSRGTCMPR");
    put_be(h, 20, 8);
    put_str(h, "DSD ");
    put_be(h, 14, 1);
    put_str(h, "not compressed");
    put_be(h, 0, 1);
    put_str(h, "FVER");
    put_be(h, 4, 8);
    put_be(h, 0x01050000, 4);
    put_str(h, "DSD ");
    put_be(h, data_size, 8);
    return h;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

testutil::RunResult run_in(const std::string& dir, const std::vector<std::string>& argv) {
    std::vector<std::string> all{"/usr/bin/env", "-C", dir};
    all.insert(all.end(), argv.begin(), argv.end());
    return testutil::run(all);
}

testutil::RunResult run_with_file_limit(uint64_t bytes, const std::vector<std::string>& argv) {
    // The ignored SIGXFSZ stays ignored across exec, so the write fails.
    std::vector<std::string> all{"/usr/bin/prlimit", "--fsize=" + std::to_string(bytes), "--", "/bin/sh", "-c",
                                 "trap '' XFSZ; exec \"$@\"", "sh"};
    all.insert(all.end(), argv.begin(), argv.end());
    return testutil::run(all);
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string err_report(const char* module, int line, const std::string& message) {
    return "\nERROR " + std::string(module) + " " + std::to_string(line) + " " + message;
}

}  // namespace exttest
