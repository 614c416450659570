// What a PCM wave file (RF64 or RIFF; 16 or 24 bits, or 32-bit float, also
// as WAVE_FORMAT_EXTENSIBLE) holds, and the tone in one of
// its channels: the reader and the sine fit behind wavinfo, shared with the
// tests that measure the converter's output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Wave {
    bool rf64 = false;
    uint16_t format_tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    uint64_t frames = 0;       // as the header says (ds64 frame count, or data size / frame)
    uint64_t data_offset = 0;
    uint64_t data_size = 0;    // as the header says
    bool is_float = false;
    std::vector<int16_t> pcm;  // 16 bits: interleaved, the frames present in the file (at most data_size)
    std::vector<double> x;     // every format: the same samples, full scale 1.0 (a sample / 32767, 8388607 or 1)
};

// Null on success, else why the bytes are not such a wave file.
const char* wave_parse(const std::vector<uint8_t>& bytes, Wave& w);
bool read_whole_file(const char* name, std::vector<uint8_t>& bytes);

// Channel c as values of full scale 1.0.
std::vector<double> wave_channel(const Wave& w, int c);

struct Tone {
    double freq = 0, amplitude = 0, dc = 0;
    double phase = 0;     // amplitude (cos(phase) sin + sin(phase) cos) of the fit's angle
    double residual = 0;  // rms of what the fitted sine and offset leave
};

// Least-squares fit of a sine of frequency `freq` plus an offset to x[begin, end).
bool tone_fit(const std::vector<double>& x, double rate, double freq, size_t begin, size_t end, Tone& t);

// THD+N of the tone of `freq` in x[begin, end) in dB re the tone: what the
// fit leaves, limited to the band lo to hi Hz (a Blackman-Harris window and
// an FFT over the largest power of two of samples from begin).
double thd_n_db(const std::vector<double>& x, double rate, double freq, size_t begin, size_t end, double lo, double hi);

// Frequency from the rising zero crossings, then the fit over whole periods;
// the first tenth of a second, where a filter may still be starting, is
// left out.
bool tone_find(const std::vector<double>& x, double rate, Tone& t);
