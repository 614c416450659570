// Helpers for the extractor tests: sources made by the generator, an
// independent look at their sound chunk, and the output files the two
// programs should write, assembled byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testutil.h"

namespace exttest {

// A generated DSDIFF source and where its sound data lies.
struct Source {
    std::string path;
    std::vector<uint8_t> bytes;
    uint64_t data_offset = 0;  // first sound byte
    uint64_t data_size = 0;    // declared size of the sound chunk
    int channels = 0;
};

// Runs the generator with `args` and the output `path`, then walks the
// top-level chunks of the result to find its "DSD " sound chunk.
Source make_source(const std::string& path, const std::vector<std::string>& args);

// Finds the sound chunk of a DSDIFF byte image; false when there is none.
bool find_sound_chunk(const std::vector<uint8_t>& file, uint64_t* offset, uint64_t* size);

// Generator arguments giving each of `channels` channels its own random bytes.
std::vector<std::string> random_channels(int channels, int seed = 1);

// Two bytes per whole frame within the sound chunk: channel `left` then
// channel `right`, as an extractor should copy them.
std::vector<uint8_t> pair_data(const Source& src, int left, int right);

// The 2048-byte WSD header of a stereo output, built field by field.
// `be64` stores the file size as one 64-bit value, otherwise low half first.
std::vector<uint8_t> wsd_header(uint64_t file_size, uint32_t play_time, uint32_t sample_rate, bool be64);

// The 130-byte two-channel DSDIFF header.
std::vector<uint8_t> dff_header(uint64_t data_size, uint32_t sample_rate);

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b);

// Runs a program with the working directory `dir`.
testutil::RunResult run_in(const std::string& dir, const std::vector<std::string>& argv);

// Runs a program whose written files may not grow beyond `bytes` (rounded
// down to whole kilobytes): writes past it fail with EFBIG instead of
// killing the process.
testutil::RunResult run_with_file_limit(uint64_t bytes, const std::vector<std::string>& argv);

// Names in a folder, sorted.
std::vector<std::string> list_dir(const std::string& dir);

std::string err_report(const char* module, int line, const std::string& message);

}  // namespace exttest
