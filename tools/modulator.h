// Delta-sigma modulator for test signals: turns a double-precision signal
// (full scale +-1) into 1-bit samples, packed 8 to a byte, most significant
// bit first, bit 1 = +1.
//
// The loop is an error-feedback structure around a 1-bit quantizer:
//   w = u + (H - 1) e,  y = sign(w),  e = y - w   =>   y = u + H e
// so the signal passes with unity gain and no delay, and the quantization
// error is shaped by the noise transfer function H. H has its zeros spread
// over the audio band (Gauss-Legendre nodes, which minimise the integrated
// in-band noise) and Butterworth-like poles placed so that the out-of-band
// gain |H(-1)| equals a target (1.5 by default, which keeps a 1-bit loop
// stable for inputs up to well over half scale).
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>

namespace dsdmod {

constexpr int kMaxOrder = 9;
constexpr int kDefaultOrder = 7;
constexpr double kDefaultBandHz = 20000.0;
constexpr double kDefaultOutOfBandGain = 1.3;
// Quantizer input beyond this magnitude means the loop has overloaded; a
// stable loop stays below about 1.2 (an overloaded one climbs past 15).
constexpr double kDefaultGuard = 8.0;

struct Modulator {
    int order = 0;
    // Noise transfer function H(z) = prod(z - zeros) / prod(z - poles).
    std::array<std::complex<double>, kMaxOrder> zeros{};
    std::array<std::complex<double>, kMaxOrder> poles{};
    // H - 1 = C(z^-1) / A(z^-1) in z^-1 powers; c[0] and a[0] unused.
    std::array<double, kMaxOrder + 1> c{};
    std::array<double, kMaxOrder + 1> a{};
    // Transposed direct-form state of (H - 1), one extra slot kept at 0.
    std::array<double, kMaxOrder + 1> s{};
    double guard = kDefaultGuard;
    uint64_t resets = 0;  // times the guard cleared the state
    double peak = 0.0;    // largest |quantizer input| seen
};

// Designs the loop for the given sampling rate: noise zeros over
// 0..band_hz, out-of-band gain h_inf. Returns false for an order outside
// 1..kMaxOrder or a rate/band that leaves no room (rate must exceed
// 4 * band_hz).
bool modulator_design(Modulator& m, int order, double rate, double band_hz = kDefaultBandHz,
                      double h_inf = kDefaultOutOfBandGain);

// Clears the loop state and the statistics, keeping the design.
void modulator_reset(Modulator& m);

// Modulates 8 * bytes input samples into bytes output bytes.
void modulator_run(Modulator& m, const double* in, uint8_t* out, size_t bytes);

// H at normalised frequency f (cycles per sample, 0..0.5).
std::complex<double> modulator_ntf(const Modulator& m, double f);

// Sum of sines sum(amp_i * sin(2 pi freq_i n / rate)), generated in blocks
// by rotation, with the phase recomputed exactly at the start of each block
// so that long runs do not drift.
constexpr int kMaxTones = 8;

struct ToneGen {
    int count = 0;
    std::array<double, kMaxTones> amp{};
    std::array<double, kMaxTones> step{};   // cycles per sample
    std::array<double, kMaxTones> phase{};  // cycles, at sample `next`
    uint64_t next = 0;                      // index of the next sample
};

// Adds a tone; false when kMaxTones are already there or rate is 0.
bool tone_add(ToneGen& t, double freq, double amp, double rate);

// Writes the next n samples.
void tone_fill(ToneGen& t, double* out, size_t n);

}  // namespace dsdmod
