// Shared by the converter's end-to-end tests: generated sources, runs of
// sigmelt and a look at what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "signal_analysis.h"
#include "testutil.h"

namespace melt {

constexpr uint64_t kHeaderBytes = 84;
inline const std::string kClear = "\r" + std::string(72, ' ');

inline testutil::RunResult sigmelt(const std::vector<std::string>& args, int timeout_seconds = 300) {
    std::vector<std::string> argv{SIGMELT_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return testutil::run(argv, timeout_seconds);
}

// "\nERROR <module> <line> <message>" as every tool reports.
inline std::string report(const std::string& module, int line, const std::string& message) {
    return "\nERROR " + module + " " + std::to_string(line) + " " + message;
}

// Reads a converter output and checks that its header agrees with itself
// and with the file length.
inline sig::Wave load_wave(const std::string& path) {
    sig::Wave w;
    const bool ok = sig::read_wave_file(path, w);
    EXPECT_TRUE(ok) << path << ": " << w.error;
    EXPECT_EQ(w.form, "RF64");
    EXPECT_EQ(w.riff_size32, 0xFFFFFFFFu);
    EXPECT_EQ(w.data_size32, 0xFFFFFFFFu);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.sample_rate, 44100u);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.data_offset, kHeaderBytes);
    EXPECT_EQ(w.ds64_data_size, 4 * w.sample_count);
    EXPECT_EQ(w.riff_size, w.file_size - 8);
    EXPECT_EQ(w.file_size, kHeaderBytes + 4 * w.sample_count);
    EXPECT_EQ(w.left.size(), w.sample_count);
    return w;
}

// Samples to doubles with full scale 32767, the converter's scale.
inline std::vector<double> to_unit(const std::vector<int16_t>& s, size_t skip = 0, size_t count = SIZE_MAX) {
    std::vector<double> x;
    for (size_t i = skip; i < s.size() && x.size() < count; ++i) x.push_back(s[i] / 32767.0);
    return x;
}

inline double db(double amplitude) { return 20.0 * std::log10(amplitude); }

}  // namespace melt
