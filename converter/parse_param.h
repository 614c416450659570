// Command line of the converter: "--version", "--channels=#,#", the output
// options, the source and the destination file names.
#pragma once

#include <cstdint>

#include "report.h"

constexpr Report PARAM_PARSE_ERROR{"parse_param", 38, 39, "parse error arg %s\n"};
constexpr Report PARAM_TOO_MANY{"parse_param", 48, 49, "too many parameters after %s\n"};
constexpr Report PARAM_NO_SOURCE{"parse_param", 53, 54, "source Delta Sigma file name is not defined.\n"};
constexpr Report PARAM_NO_DESTINATION{"parse_param", 57, 58, "destination WAV file name is not defined.\n"};
// The output options' refusals follow the usage text; a bad value is a
// PARAM_PARSE_ERROR.
constexpr Report PARAM_FLOAT_WITH{"parse_param", 62, 63, "--float cannot be combined with %s\n"};
// Without any argument the usage text is printed and the process ends with this.
constexpr int PARAM_NO_ARGUMENT_STATUS = 27;

// Set only by parse_params (and parse_params_reset); the names point into argv itself.
extern const char* srcFileName;
extern const char* outFileName;
extern int32_t left_index;   // -1: no pair chosen
extern int32_t right_index;  // -1: no pair chosen

// The output: rate, sample format, level and filter. Defaults: today's 16-bit
// 44.1 kHz output through the gentle filter, truncated, no gain.
extern int32_t out_rate;      // 44100, 88200 or 176400
extern int32_t out_bits;      // 16, 24 or 32 (float)
extern bool out_float;        // 32-bit IEEE float samples
extern bool out_dither;       // TPDF dither of one LSB, then rounding
extern bool out_steep;        // the steep filter at 44.1 kHz
extern double out_gain_db;    // -20 to +20
extern bool output_options;   // any of the above was given: the peak line is shown

// Threads that decode and decimate: --threads=N, 1 to WORKERS_MAX_THREADS;
// by default the processors the process may use. 1 does all of it on the
// main thread.
extern int32_t thread_count;

// True when the destination name ends in ".flac", in any case.
bool flac_destination(const char* name);

// Back to the values a new process starts with.
void parse_params_reset();

// Returns -1 with both file names set, or ends the process: usage requests
// and every failure exit inside.
int parse_params(int argc, char* argv[]);

// Prints the usage text on standard output.
void usage(const char* prog);

// Reads "%d,%d" the way the option has always been read (white space before
// each number, an optional sign, the comma right after the first number,
// anything after the second ignored), but refuses numbers that do not fit
// in 32 bits instead of letting them overflow. Returns true when both were
// read.
bool parse_channel_pair(const char* text, int32_t* left, int32_t* right);
