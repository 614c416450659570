// Stream fixtures for the format library tests: files made from bytes,
// streams that fail on the n-th byte or cannot seek, pipes, and capture of
// what the library prints on standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fmt_test {

using Bytes = std::vector<uint8_t>;

// A temporary read/write file holding `bytes`, positioned at the start.
FILE* stream_with(const Bytes& bytes);

// Everything in `f`, read from the start; leaves the position at the end.
Bytes contents(FILE* f);

// The read end of a pipe that holds `bytes` (at most the pipe's capacity)
// and is then closed for writing: a stream that reads but cannot seek.
FILE* pipe_reading(const Bytes& bytes);

// The write end of a pipe whose read end is drained into a buffer by
// drain_pipe(); a stream that writes but cannot seek.
struct PipeSink {
    FILE* file = nullptr;
    int read_fd = -1;
};
PipeSink pipe_writing();
Bytes drain_pipe(PipeSink& sink);  // closes sink.file first

// A memory stream (unbuffered) whose writes fail once `fail_at` bytes have
// been accepted: the byte at index fail_at is the first that cannot be
// written. Seeks work unless `seekable` is false, when they fail with ESPIPE.
struct Sink {
    Bytes data;
    size_t pos = 0;
    size_t fail_at = SIZE_MAX;
    bool seekable = true;
    int write_calls = 0;  // calls of the write function, failed ones included
};
FILE* open_sink(Sink* sink);

// Collects what is written to file descriptor 2 between construction and
// text(); standard error is restored afterwards.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    std::string text();

private:
    int saved_ = -1;
    FILE* tmp_ = nullptr;
};

// Restores the two per-program settings of the library when a test ends.
class SettingsGuard {
public:
    SettingsGuard();
    ~SettingsGuard();

private:
    int reporting_;
    int size_order_;
};

}  // namespace fmt_test
