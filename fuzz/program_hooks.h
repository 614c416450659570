// Forced into every source file of the fuzz build that belongs to the
// programs. The programs end with exit() on every failure and never close
// some of their files (the process end does that); here exit() throws
// instead, and every stream they open is recorded, so that one process can
// run a program's whole code path once per fuzz input and clean up after it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzzhook {

// Thrown in place of ending the process.
struct ProgramExit {
    int status;
};

// Closes every stream the program opened and left open.
void close_program_files();

}  // namespace fuzzhook

// Declared in std so that both `exit(...)` and `std::exit(...)` in the
// programs' sources land here.
namespace std {
[[noreturn]] void fuzz_exit(int status);
FILE* fuzz_fopen(const char* path, const char* mode);
int fuzz_fclose(FILE* f);
}  // namespace std
using std::fuzz_exit;
using std::fuzz_fclose;
using std::fuzz_fopen;

#ifndef FUZZ_HOOKS_IMPL
#define exit fuzz_exit
#define fopen fuzz_fopen
#define fclose fuzz_fclose
#endif
