#include "report.h"

#include <cstdio>
#include <cstdlib>

namespace {

void vreport(const char* module, int line, const char* fmt, va_list ap) {
    std::fprintf(stderr, "\nERROR %s %d ", module, line);
    std::vfprintf(stderr, fmt, ap);
    std::fflush(stderr);
}

}  // namespace

void report_error(const char* module, int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vreport(module, line, fmt, ap);
    va_end(ap);
}

void report_exit(int status, const char* module, int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vreport(module, line, fmt, ap);
    va_end(ap);
    std::exit(status);
}
