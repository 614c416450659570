// FLAC output of the converter's writer thread: whole frames of 16- or
// 24-bit little-endian samples in, encoded at compression level 5 into the
// destination stream, whose STREAMINFO block is rewritten at the end with
// the true sample count (the stream must be seekable for that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// False when the program was built without libFLAC.
bool flacout_available();

// Starts the stream (the "fLaC" marker, STREAMINFO and, when there are
// any, the Vorbis comments "NAME=value" go out at once). False when the
// encoder cannot be set up or its first bytes cannot be written.
bool flacout_begin(FILE* f, uint32_t rate, uint32_t bits, const std::vector<std::string>& comments);

// Encodes n bytes of interleaved stereo frames; n is a whole number of
// frames. False once a write has failed.
bool flacout_write(const uint8_t* bytes, size_t n);

// Encodes what is still held and rewrites STREAMINFO; releases the encoder.
// False when a write failed.
bool flacout_end();
