// RF64 wave header for 16-bit stereo PCM at 44100 Hz: 84 bytes, sizes in
// the ds64 chunk.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int WAV_HEADER_SIZE = 84;

// Seeks to the start of `f` and writes the header for `frames` stereo
// frames. Returns -1 on success, 0 after reporting a write failure; a failing
// seek ends the process.
int writeWavHeader(FILE* f, uint64_t frames);
