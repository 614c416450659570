// Console lines of the converter: the file line printed once before the
// conversion and the status line rewritten in place while it runs.
#pragma once

#include <cstdint>

// A carriage return and 72 blanks: wipes the status line.
extern const char UTIL_CLEAR_LINE[];

// "playing file N/C total [H:]MM:SS ["base" ]["\n"]"name"\n" after a
// clearing line; flushes standard output.
void util_display_fileinfo(int32_t file_no, int32_t file_count, int32_t seconds, const char* name);

// "\rposition [H:]MM:SS buffer P[%]    " without a line end; flushes.
void util_display_current_time(int32_t seconds, int32_t percent);
