// What a 16-bit PCM wave file (RF64 or RIFF) holds, and the tone in one of
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
    std::vector<int16_t> pcm;  // interleaved, the frames present in the file (at most data_size)
};

// Null on success, else why the bytes are not a 16-bit PCM wave file.
const char* wave_parse(const std::vector<uint8_t>& bytes, Wave& w);
bool read_whole_file(const char* name, std::vector<uint8_t>& bytes);

// Channel c as values of full scale 1.0 (a sample / 32767).
std::vector<double> wave_channel(const Wave& w, int c);

struct Tone {
    double freq = 0, amplitude = 0, dc = 0;
    double residual = 0;  // rms of what the fitted sine and offset leave
};

// Least-squares fit of a sine of frequency `freq` plus an offset to x[begin, end).
bool tone_fit(const std::vector<double>& x, double rate, double freq, size_t begin, size_t end, Tone& t);

// Frequency from the rising zero crossings, then the fit over whole periods;
// the first tenth of a second, where a filter may still be starting, is
// left out.
bool tone_find(const std::vector<double>& x, double rate, Tone& t);
