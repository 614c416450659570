// Support for the fuzz targets: a private work folder, the input written to
// a real file, one in-process run of a program's main, and a look at the
// source with the library's own readers for checking what a run produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dsdiff.h"

namespace fuzzhook {

// Prepared on first use: a folder below $TMPDIR (or /tmp), removed at exit,
// and standard output going to a file in it.
const std::string& work_dir();
std::string work_path(const char* name);

// Removes everything in the work folder.
void clear_work_dir();

void write_file(const std::string& path, const uint8_t* data, size_t size);
std::vector<uint8_t> read_file(const std::string& path);
bool file_exists(const std::string& path);

// Runs `program_main` with these arguments (program name first) the way the
// process would: returns its exit status, whether it returned or called
// exit(). Streams it left open are closed; SIGINT handling is restored.
int run_program(int (*program_main)(int, char**), const std::vector<std::string>& args);

// What the program printed on standard output since the last call.
std::string take_stdout();

// Reports a broken expectation about a run and aborts, so that the fuzzer
// keeps the input.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The source as the library's readers see it (silent mode).
struct Source {
    int type = 0;  // 0 neither, 1 DSDIFF, 2 WSD
    uint64_t length = 0;       // bytes in the file
    uint64_t data_offset = 0;  // first sound byte
    uint64_t data_size = 0;    // DSDIFF sound chunk size
    uint64_t wsd_file_size = 0;
    uint32_t sample_rate = 0;
    int channel_count = 0;
    char channel_ids[DSDIFF_MAX_CHANNELS][5] = {};
};
Source look_at(const std::string& path);

// A channel identifier chosen by `selector`: usually one of the file's,
// sometimes one that it does not have.
std::string pick_id(const Source& src, unsigned selector);

// True when `shown` is the property display of `src`: the four property
// lines, then one line per channel, in order, with its identifier as stored
// (up to its first NUL; the identifier may hold any other byte).
bool display_matches(const std::string& shown, const Source& src);

// Position of the channel an identifier argument names (its first four
// bytes, NUL-padded; the later channel wins), or -1.
int channel_named(const Source& src, const std::string& arg);

// The layouts of the extractors' stereo outputs.
enum OutputKind { OUT_WSD_LOW_HALF_FIRST, OUT_WSD_BE64, OUT_DSDIFF };

// Checks a finished stereo output against the source: its length, the sizes
// and the rate its header declares, and every byte of the two channels.
void check_pair_output(const std::string& path, OutputKind kind, const Source& src,
                       const uint8_t* source_bytes, int left, int right);

}  // namespace fuzzhook
