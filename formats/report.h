// Failure reports in the tools' common form: "\nERROR <module> <line> "
// then the message on standard error, which is then flushed.
#pragma once

#include <cstdarg>

// Prints the report and returns.
void report_error(const char* module, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Prints the report and ends the process with the given status.
[[noreturn]] void report_exit(int status, const char* module, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
