// Failure reports in the tools' common form: "\nERROR <module> <number> "
// then the text on standard error, which is then flushed. Each module keeps
// its reports in one table of Report constants beside its declarations.
#pragma once

#include <cstdlib>

struct Report {
    const char* module;
    int line;          // the number printed after the module
    int status;        // the exit status when the failure ends the process
    const char* text;  // a printf format
};

// Prints "\nERROR <module> <line> " and the formatted text. No format check:
// the texts come from the tables, not from the call sites.
void report_print(const char* module, int line, const char* text, ...);

// Prints the report and returns.
template <typename... Args>
void report_error(const Report& r, Args... args) {
    report_print(r.module, r.line, r.text, args...);
}

// Prints the report and ends the process with its status.
template <typename... Args>
[[noreturn]] void report_exit(const Report& r, Args... args) {
    report_print(r.module, r.line, r.text, args...);
    std::exit(r.status);
}
