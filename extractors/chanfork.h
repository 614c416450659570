// chanfork's reports (module "main") and its reset for repeated runs in one
// process.
#pragma once

#include "extract.h"
#include "report.h"

constexpr Report CHANFORK_ALLOC_TABLE{"main", 90, 91, "alloca() failed.\n"};
constexpr Report CHANFORK_ALLOC_NAME{"main", 100, 101, "alloca() failed.\n"};
constexpr Report CHANFORK_EXTENSION{"main", 110, 111, "could not judge file name extension \"%s\".\n"};
constexpr Report CHANFORK_EXISTS{"main", 122, 123, "output file %s exist. Abort.\n"};
constexpr Report CHANFORK_OPEN_SOURCE{"main", 130, 131, "fopen(%s) failed.\n"};
constexpr Report CHANFORK_OPEN_OUTPUT{"main", 152, 153, "fopen(%s) failed.\n"};
constexpr Report CHANFORK_LEFT_NOT_FOUND{"main", 166, 167, "left channel name %s not found.\n"};
constexpr Report CHANFORK_RIGHT_NOT_FOUND{"main", 170, 171, "right channel name %s not found.\n"};
constexpr Report CHANFORK_WSD_HEADER{"main", 203, 204, "WSD file writing header failed.\n"};
constexpr Report CHANFORK_DSDIFF_HEADER{"main", 212, 213, "DSDIFF file writing header failed.\n"};
constexpr Report CHANFORK_READ{"main", 227, 228, "read data error at %llu bytes offset\n"};
constexpr Report CHANFORK_WRITE{"main", 245, 246, "write data error\n"};
// Statuses without an "ERROR" report: a source that is not DSDIFF (after
// "file ... is not DSDIFF format."), and a command line of the wrong length
// (after the usage text; the process keeps its low 8 bits, 22).
constexpr int CHANFORK_NOT_DSDIFF_STATUS = 136;
constexpr int CHANFORK_USAGE_STATUS = 278;

void chanfork_reset();
