// Forced into the programs' sources in the fuzz build: exit() throws and every stream they open is recorded, so that
// one process can run a program's whole path once per input and clean up after.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzzhook {
struct ProgramExit { int status; };
}  // namespace fuzzhook

// In std so that both `exit(...)` and `std::exit(...)` land here.
namespace std {
[[noreturn]] void fuzz_exit(int status);
FILE* fuzz_fopen(const char* path, const char* mode);
int fuzz_fclose(FILE* f);
}  // namespace std
using std::fuzz_exit, std::fuzz_fopen, std::fuzz_fclose;

#ifndef FUZZ_HOOKS_IMPL
#define exit fuzz_exit
#define fopen fuzz_fopen
#define fclose fuzz_fclose
#endif
