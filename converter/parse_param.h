// Command line of the converter: "--version", "--channels=#,#", the source
// and the destination file names.
#pragma once

#include <cstdint>

#include "report.h"

constexpr Report PARAM_PARSE_ERROR{"parse_param", 38, 39, "parse error arg %s\n"};
constexpr Report PARAM_TOO_MANY{"parse_param", 48, 49, "too many parameters after %s\n"};
constexpr Report PARAM_NO_SOURCE{"parse_param", 53, 54, "source Delta Sigma file name is not defined.\n"};
constexpr Report PARAM_NO_DESTINATION{"parse_param", 57, 58, "destination WAV file name is not defined.\n"};
// Without any argument the usage text is printed and the process ends with this.
constexpr int PARAM_NO_ARGUMENT_STATUS = 27;

// Set only by parse_params (and parse_params_reset); the names point into argv itself.
extern const char* srcFileName;
extern const char* outFileName;
extern int32_t left_index;   // -1: no pair chosen
extern int32_t right_index;  // -1: no pair chosen

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
