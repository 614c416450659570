// Design of the decimation filters' coefficient sets, linear-phase low-pass
// FIRs under a Kaiser window. The gentle sets: an ideal magnitude flat to a
// passband edge that then falls by 100 dB per 15 kHz. The others: a plain
// cut-off midway between 20 kHz and the stop band's edge, under a window
// wide enough (beta 14) for 135 dB in the stop band, and a gain of exactly 1
// at 0 Hz.
#pragma once

#include <string>
#include <vector>

// One set to generate: the input rate, the number of stored taps, the
// passband edge (gentle) or cut-off (kaiser_beta given), the names of its
// module and array, and the header that declares the array.
struct CoeffgenSet {
    int rate;
    int count;
    double passband_edge;  // Hz
    const char* module;
    const char* array;
    double kaiser_beta = 0.0;  // 0: the gentle design
    const char* input = "one-bit";
    const char* header = "deltasigma.h";
};

// The edge sits about 1.5e-6 x rate below 20 kHz, so that the three sets
// end up with practically the same response in Hz; the exact values
// (tuned to the millihertz) make them sample one and the same impulse
// response, down to the smallest taps at the ends.
// The sets for 88.2 and 176.4 kHz output, one per input rate, fill the
// decimator's window of 32 blocks (a block being what one output consumes);
// the steep 44.1 kHz output halves the 88.2 kHz one in a second stage. The
// 176.4 kHz sets of the two higher rates would be those for 88.2 kHz at
// half the rate (the same cut-off relative to the rate, the same length):
// the decimator takes those.
constexpr CoeffgenSet coeffgen_sets[8] = {
    {2822400, 2047, 20000.0 - 4.267, "FDA_2822k", "coeff_FDA_2822k"},
    {5644800, 4095, 20000.0 - 8.574, "FDA_5644k", "coeff_FDA_5644k"},
    {11289600, 8191, 20000.0 - 17.108, "FDA_11288k", "coeff_FDA_11289k"},
    {2822400, 1023, 44100.0, "FDA_2822k_88k", "coeff_FDA_2822k_88k", 14.0, "one-bit", "outputsets.h"},
    {5644800, 2047, 44100.0, "FDA_5644k_88k", "coeff_FDA_5644k_88k", 14.0, "one-bit", "outputsets.h"},
    {11289600, 4095, 44100.0, "FDA_11289k_88k", "coeff_FDA_11289k_88k", 14.0, "one-bit", "outputsets.h"},
    {2822400, 511, 88200.0, "FDA_2822k_176k", "coeff_FDA_2822k_176k", 14.0, "one-bit", "outputsets.h"},
    {88200, 255, 22050.0, "FDA_88k_44k", "coeff_FDA_88k_44k", 14.0, "PCM", "outputsets.h"},
};

// The taps in double precision, exactly symmetric (count must be odd).
std::vector<double> coeffgen_design(const CoeffgenSet& set);

// The same rounded to single precision, as stored.
std::vector<float> coeffgen_design_float(const CoeffgenSet& set);

// The whole source text of the module holding one set.
std::string coeffgen_module_text(const CoeffgenSet& set);
