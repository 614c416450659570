// Signal analysis for tests: 1-bit decoding, FIR decimation, spectra,
// sine fits, noise and THD+N measures, and a small RF64/WAVE reader.
// Everything runs in double precision; nothing here is fast on purpose.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sig {

// ---- 1-bit data ------------------------------------------------------------

// Decodes channel `channel` of interleaved 1-bit data (`channels` bytes per
// frame, MSB first) to +1.0 / -1.0 per bit.
std::vector<double> decode_bits(const std::vector<uint8_t>& data, size_t channels = 1, size_t channel = 0);
std::vector<double> decode_bits(const uint8_t* data, size_t frames, size_t channels, size_t channel);

// ---- FIR low-pass and decimation -----------------------------------------

// Kaiser-windowed sinc low-pass of `taps` taps, cutoff in cycles per sample
// (0..0.5), unity gain at DC.
std::vector<double> kaiser_lowpass(size_t taps, double cutoff, double beta);

// Low-pass for input rate `rate` passing 0..pass_hz and attenuating by at
// least atten_db from stop_hz on: length from the Kaiser estimate (odd).
std::vector<double> design_lowpass(double rate, double pass_hz, double stop_hz, double atten_db);

// Direct-form FIR with decimation: y[m] = sum_k h[k] x[m * factor + k], for
// every m where the filter lies fully inside x (no start-up transient).
// Output m stands for input time m * factor + (h.size() - 1) / 2.
std::vector<double> fir_decimate(const std::vector<double>& x, const std::vector<double>& h, size_t factor);

// 1-bit channel at `rate` to double samples at rate / factor, with a
// low-pass that keeps 0..20 kHz flat (ripple far below 0.001 dB) and takes
// out everything that would alias into it (>= 150 dB). factor must leave
// the output rate at 88.2 kHz or more.
struct Decimated {
    std::vector<double> samples;
    double rate = 0.0;
};
Decimated decimate_dsd(const std::vector<uint8_t>& data, double rate, size_t factor, size_t channels = 1,
                       size_t channel = 0);

// ---- spectra -------------------------------------------------------------

// In-place radix-2 FFT; the size must be a power of two.
void fft(std::vector<std::complex<double>>& a);

// 7-term Blackman-Harris window (side lobes below -180 dB, main lobe
// +-7 bins), periodic form.
std::vector<double> blackman_harris7(size_t n);

// Power of a full-scale sine (amplitude 1): the 0 dBFS reference.
constexpr double kFullScalePower = 0.5;

// Power in dB relative to a full-scale sine.
double power_dbfs(double power);
// Amplitude in dB relative to full scale (1.0).
double amplitude_dbfs(double amplitude);

// Mean power of x in the band lo_hz..hi_hz, from a Blackman-Harris windowed
// FFT of the largest power-of-two prefix of x. Bins within exclude_hz of
// any frequency in `exclude` are left out and the remaining bins scaled up
// to the whole band, so that a tone does not count as noise.
double band_power(const std::vector<double>& x, double rate, double lo_hz, double hi_hz,
                  const std::vector<double>& exclude = {}, double exclude_hz = 0.0);

// ---- sines ---------------------------------------------------------------

struct SineFit {
    double amplitude = 0.0;
    double phase = 0.0;  // radians, of amplitude * sin(2 pi f t + phase) at t = 0
    double dc = 0.0;
    double residual_power = 0.0;  // mean square of what the fit leaves
};

// Least-squares fit of dc + amplitude * sin(2 pi freq n / rate + phase).
SineFit fit_sine(const std::vector<double>& x, double freq, double rate);

// Goertzel amplitude estimate at freq over the whole of x (best when x
// holds a whole number of periods).
double goertzel_amplitude(const std::vector<double>& x, double freq, double rate);

// Frequency of the strongest sine in x: the FFT peak, refined by maximising
// the least-squares fit amplitude around it.
double estimate_frequency(const std::vector<double>& x, double rate);

// x with the fitted sine (and dc) at freq taken out.
std::vector<double> remove_sine(const std::vector<double>& x, double freq, double rate);

// THD+N in dB: everything in lo_hz..hi_hz except the fundamental at freq,
// relative to the fundamental's power. The fundamental is fitted and taken
// out, and the bins right around it (+-8) are left out of the sum.
double thd_n_db(const std::vector<double>& x, double freq, double rate, double lo_hz = 20.0,
                double hi_hz = 20000.0);

// ---- RF64 / WAVE ---------------------------------------------------------

struct Wave {
    std::string form;             // "RF64" or "RIFF"
    uint32_t riff_size32 = 0;     // the 32-bit size after the form id
    bool has_ds64 = false;
    uint32_t ds64_size = 0;
    uint64_t riff_size = 0;       // ds64 value, or riff_size32
    uint64_t ds64_data_size = 0;
    uint64_t sample_count = 0;
    uint32_t table_length = 0;
    uint32_t fmt_size = 0;
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint32_t byte_rate = 0;
    uint16_t block_align = 0;
    uint16_t bits = 0;
    uint32_t data_size32 = 0;     // the data chunk's own size field
    uint64_t data_size = 0;       // effective: ds64 value when data_size32 is all ones
    uint64_t data_offset = 0;     // file offset of the first sample
    uint64_t file_size = 0;
    std::vector<int16_t> left, right;
    std::string error;            // first problem found; empty when all is well
};

// Parses a 16-bit stereo PCM wave file. Fills what it can and returns false
// with `error` set on anything malformed or inconsistent (sizes that do not
// match the file included); the frames actually present are still read.
bool read_wave(const std::vector<uint8_t>& file, Wave& w);
bool read_wave_file(const std::string& path, Wave& w);

// 16-bit samples to doubles with full scale 32768.
std::vector<double> pcm_to_double(const std::vector<int16_t>& s);

}  // namespace sig
