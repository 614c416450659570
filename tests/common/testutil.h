// Helpers shared by the tests: run a program and capture what it says,
// temporary folders, whole-file reads and writes, byte assembly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

struct RunResult {
    int status = -1;      // exit status, or 128 + signal number when killed
    std::string out;      // everything written to standard output
    std::string err;      // everything written to standard error
};

// Runs argv[0] with the given arguments (no shell), standard input from
// /dev/null, and waits for it. A timeout in seconds > 0 kills the program
// with SIGKILL when it runs too long (the status is then 128 + 9).
RunResult run(const std::vector<std::string>& argv, int timeout_seconds = 300);

// A new empty folder below $TMPDIR (or /tmp), removed at process exit.
std::string make_temp_dir();

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
void write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);
uint64_t file_size(const std::string& path);

// Runs the test-signal generator with the given arguments and fails the
// current test (ADD_FAILURE) when it does not exit with status 0.
bool dsdgen(const std::vector<std::string>& args);

// Big- and little-endian readers over a byte vector.
uint64_t be(const std::vector<uint8_t>& b, size_t offset, int width);
uint64_t le(const std::vector<uint8_t>& b, size_t offset, int width);

// Appenders that build byte sequences for hand-made files.
void put_be(std::vector<uint8_t>& b, uint64_t value, int width);
void put_le(std::vector<uint8_t>& b, uint64_t value, int width);
void put_str(std::vector<uint8_t>& b, const std::string& s);

}  // namespace testutil
