// What every test area shares: running a program (posix_spawn, optionally in
// another folder, under a file-size limit or as user nobody, always with a
// timeout), private temporary folders, whole-file reads and writes, the
// generator, and the form of the programs' reports.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

#include "layouts.h"

namespace ts {

using lay::Bytes;

struct Options {
    std::string cwd;            // folder to run in; empty: this one
    int64_t file_limit = -1;    // RLIMIT_FSIZE in bytes (writes past it fail with EFBIG)
    bool as_nobody = false;     // uid and gid 65534, no supplementary groups
    int timeout = 30;           // seconds until SIGKILL
};

struct Result {
    int status = -1;   // exit status as the shell sees it (low 8 bits), or 128 + signal
    int signal = 0;    // the signal that ended the program, 0 when it exited
    bool timed_out = false;
    std::string out, err;
};

struct Child {
    pid_t pid = -1;
    std::string capture;  // folder holding its standard output and error
    int timeout = 30;
    Result result;
    bool done = false;
};

// Standard input from /dev/null; standard output and error captured. ended: true once the program has ended (then reaped into
// c.result); finish: waits for the end, at most the timeout counted from now.
Child start(const std::vector<std::string>& argv, const Options& o = {});
bool ended(Child& c);
Result finish(Child& c);
Result run(const std::vector<std::string>& argv, const Options& o = {});
std::vector<std::string> emulated(const std::vector<std::string>& argv);  // as started: a cross build's programs emulated

std::string bin(const std::string& name);  // the built sigmelt, chanfork, chanfork2chx4, dsdgen, coeffgen
bool gen(const std::vector<std::string>& args);  // runs the generator; fails the test unless it ends with 0
std::string tmpdir();  // a new empty folder, removed when the test process ends
Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
bool exists(const std::string& path);
uint64_t size_of(const std::string& path);
std::vector<std::string> list_dir(const std::string& dir);  // names, sorted

// "\nERROR <module> <line> <message>", the programs' report form.
std::string report(const std::string& module, int line, const std::string& message = "");

}  // namespace ts
