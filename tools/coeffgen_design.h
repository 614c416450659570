// Design of the decimation filters' coefficient sets: a linear-phase
// low-pass FIR whose ideal magnitude is flat to a passband edge and then
// falls by 100 dB per 15 kHz, windowed with a Kaiser window.
#pragma once

#include <string>
#include <vector>

// One set to generate: the one-bit rate, the number of stored taps, the
// passband edge and the names of its module and array.
struct CoeffgenSet {
    int rate;
    int count;
    double passband_edge;  // Hz
    const char* module;
    const char* array;
};

// The edge sits about 1.5e-6 x rate below 20 kHz, so that the three sets
// end up with practically the same response in Hz; the exact values
// (tuned to the millihertz) make them sample one and the same impulse
// response, down to the smallest taps at the ends.
constexpr CoeffgenSet coeffgen_sets[3] = {
    {2822400, 2047, 20000.0 - 4.267, "FDA_2822k", "coeff_FDA_2822k"},
    {5644800, 4095, 20000.0 - 8.574, "FDA_5644k", "coeff_FDA_5644k"},
    {11289600, 8191, 20000.0 - 17.108, "FDA_11288k", "coeff_FDA_11289k"},
};

// The taps in double precision, exactly symmetric (count must be odd).
std::vector<double> coeffgen_design(const CoeffgenSet& set);

// The same rounded to single precision, as stored.
std::vector<float> coeffgen_design_float(const CoeffgenSet& set);

// The whole source text of the module holding one set.
std::string coeffgen_module_text(const CoeffgenSet& set);
