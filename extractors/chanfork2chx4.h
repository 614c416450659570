// chanfork2chx4's reports (module "main") and its reset for repeated runs in
// one process.
#pragma once

#include "extract.h"
#include "report.h"

constexpr Report CHX4_EXISTS{"main", 94, 95, "output file %s exist. Abort.\n"};
constexpr Report CHX4_OPEN_SOURCE{"main", 102, 103, "fopen(%s) failed.\n"};
constexpr Report CHX4_OPEN_OUTPUT{"main", 130, 131, "fopen(%s) failed.\n"};
constexpr Report CHX4_WSD_HEADER{"main", 162, 163, "WSD file writing header failed.\n"};
constexpr Report CHX4_READ{"main", 173, 177, "read data error at %llu bytes offset\n"};
constexpr Report CHX4_WRITE{"main", 182, 183, "write data error\n"};
// Statuses without an "ERROR" report: a source that is not DSDIFF, an
// identifier the file lacks (after "channel name ... not found"), and a
// command line of the wrong length (after the usage text).
constexpr int CHX4_NOT_DSDIFF_STATUS = 108;
constexpr int CHX4_NOT_FOUND_STATUS = 122;
constexpr int CHX4_USAGE_STATUS = 213;

void chanfork2chx4_reset();
