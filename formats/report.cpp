#include "report.h"

#include <cstdarg>
#include <cstdio>

void report_print(const char* module, int line, const char* text, ...) {
    std::fprintf(stderr, "\nERROR %s %d ", module, line);
    va_list ap;
    va_start(ap, text);
    std::vfprintf(stderr, text, ap);
    va_end(ap);
    std::fflush(stderr);
}
