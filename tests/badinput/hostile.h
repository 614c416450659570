// Running the programs under hostile conditions and judging what they leave
// behind: a child started with fewer privileges or a file-size limit, which
// can be watched, stopped and resumed while it runs; and checks of every
// output file against its own header.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hostile {

struct Options {
    bool as_nobody = false;     // run as uid/gid 65534 without groups
    int64_t file_limit = -1;    // RLIMIT_FSIZE in bytes (SIGXFSZ ignored), -1 for none
    int timeout_seconds = 30;   // killed with SIGKILL after this
};

struct Outcome {
    int status = -1;        // exit status when the program exited
    int signal = 0;         // the signal that ended it, 0 when it exited
    bool timed_out = false;
    std::string out, err;
};

// What a child prints, drained from its pipes by a thread of our own (pipes,
// not files: a file-size limit must not swallow the reports).
struct Capture;

struct Child {
    pid_t pid = -1;
    std::shared_ptr<Capture> capture;
    Options options;
    bool reaped = false;
    int wait_status = 0;
};

// Starts argv[0] (no shell), standard input from /dev/null, standard output
// and error into pipes.
Child spawn(const std::vector<std::string>& argv, const Options& options = {});

// True once the child has ended (it is then reaped).
bool finished(Child& c);

// Waits for the end (killing the child at its timeout, counted from now)
// and collects what it printed.
Outcome wait(Child& c);

Outcome run(const std::vector<std::string>& argv, const Options& options = {});

// One line for failure messages: status or signal, and the stderr text.
std::string describe(const Outcome& o);

// A crash (the program was killed by a signal: many specified statuses are
// 128 or more, so the status alone cannot tell), a hang or a sanitizer
// report: never acceptable.
std::string fault(const Outcome& o);

// ---- outputs --------------------------------------------------------------

// What a header declares and what the file holds.
struct Extent {
    bool valid = false;      // the header could be read and is well-formed
    std::string problem;     // why not
    uint64_t declared = 0;   // file length the header implies
    uint64_t actual = 0;     // file length on disk
};

// RF64 wave of the converter: 84-byte header, sizes in ds64.
Extent rf64_extent(const std::string& path);
// WSD: file_size at 0x0C, two big-endian 32-bit halves low first
// (`be64` false) or one big-endian 64-bit value (`be64` true).
Extent wsd_extent(const std::string& path, bool be64);
// Two-channel DSDIFF of the extractor: 130-byte header.
Extent dff_extent(const std::string& path);

// Files in `dir` (names only, no subfolders), sorted.
std::vector<std::string> list_files(const std::string& dir);

}  // namespace hostile
