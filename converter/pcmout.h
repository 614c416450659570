// The samples of the output options: a gain, the peak level, 16- or 24-bit
// integers (optionally dithered) or 32-bit floats, little-endian, left then
// right. The default run does not come here: it keeps sample_from_float.
#pragma once

#include <cstdint>
#include <cstdio>

// bits 16, 24 or 32 (float); gain in dB.
void pcmout_init(int32_t bits, bool dither, double gain_db);

// Bytes of one frame: 4, 6 or 8.
int32_t pcmout_frame_bytes();

// Writes the frame of one {left, right} pair of filter values (1.0 is full
// scale) to out, and counts it into the peak.
void pcmout_frame(const float* lr, uint8_t* out);

// The largest magnitude seen after the gain and before saturation (1.0 is
// full scale), and the samples that saturation changed.
extern double pcmout_peak;
extern uint64_t pcmout_clipped;

// "peak -0.42 dBFS, 0 samples clipped\n"
void pcmout_print_peak(FILE* f);
