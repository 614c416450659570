// Pieces shared by the two extractor programs: the one-argument property
// display of a DSDIFF or DSF file, playing-time arithmetic, channel identifier
// matching and the frame copy that fans channel pairs out to stereo files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "dsdiff.h"
#include "dsf.h"
#include "report.h"
#include "workers.h"
#include "wsd.h"

// How a program reports a source it cannot open or read as DSDIFF or DSF:
// the display ends the same way as the program's copy.
struct SourceReports {
    Report open;  // "fopen(%s) failed.\n"
    int not_dsdiff_status;
};

// Opens `path` and reads its DSDIFF or DSF header into *info, leaving the
// stream at the first sound byte; a DSF file fills the record as the DSDIFF
// file of the same sound would (its sound bytes without padding, DSDIFF's
// identifiers of its loudspeakers), and the copy below reads its sound
// through the DSF reader. A file that cannot be opened ends the process with
// the open report, one that is not usable DSDIFF or DSF (a refused DSF file
// says why first) with "file <path> is not DSDIFF format." on standard error
// and the program's status for it.
void open_source(const char* path, const SourceReports& reports, DsdiffInfo* info);

// Prints the properties of the DSDIFF or DSF file `path` on standard output
// (one line more for DST-compressed sound, whose data size is the decoded
// one) and returns 0; ends the process as open_source does.
int show_dsdiff_info(const char* path, const SourceReports& reports);

// True when the header holds what the extractors need to work with: a
// sampling frequency and at least one channel (the record starts zeroed, so
// a missing FS or CHNL chunk reads as 0).
bool dsdiff_usable(const DsdiffInfo& info);

// Whole seconds of sound in `bytes_per_channel` bytes of one channel (8
// one-bit samples per byte), truncated. Exact for every 64-bit byte count.
uint64_t playing_seconds(uint64_t bytes_per_channel, uint32_t sample_rate);

// The four bytes an identifier argument is compared by: its first four
// characters, padded with `pad` when it is shorter.
void channel_id_bytes(const char* arg, char out[4], char pad = '\0');

// Position of the channel whose identifier equals `id` (four bytes, exact,
// case-sensitive); the later channel wins when the file repeats an
// identifier. -1 when there is none.
int find_channel(const DsdiffInfo& info, const char id[4]);

// Position of the channel an identifier argument names. A shorter argument
// is padded with spaces, as DSDIFF stores "C   " and "LFE ", or failing that
// with NULs. -1 when there is none.
int find_channel_arg(const DsdiffInfo& info, const char* arg);

// One line on standard error naming the identifiers the file has, for a
// user whose identifier was not found.
void list_channels(const DsdiffInfo& info);

// Frames per read of the copy: large reads and writes (at most 2.5 MiB and
// 512 KiB) keep it near the speed of a plain file copy; small ones spend
// their time in system calls.
constexpr size_t COPY_FRAMES = size_t{1} << 18;

// dst[2i] = byte `left` and dst[2i+1] = byte `right` of frame i, for `count`
// frames of `channel_count` bytes.
void gather_pairs(const uint8_t* frames, size_t count, int channel_count, int left, int right, uint8_t* dst);

// One stereo output of the copy: its stream and the frame positions of the
// bytes that become its left and right channel.
struct PairOutput {
    FILE* file;
    int left;
    int right;
    int header_bytes;  // of its format, before the sound
    const char* name;
};

enum CopyResult {
    COPY_OK,
    COPY_READ_ERROR,   // a whole frame could not be read
    COPY_WRITE_ERROR,  // an output refused its bytes
};

// Copies every whole frame of `channel_count` bytes that lies within
// `data_size` from `src` (positioned at the first sound byte) and writes two
// bytes per frame, left then right, to each output in order. On a read
// error every whole frame before the failing one has been written and
// `*consumed` holds the source bytes consumed before it.
CopyResult copy_channel_pairs(FILE* src, uint64_t data_size, int channel_count,
                              const PairOutput* outputs, int output_count, uint64_t* consumed);

// Threads that decode the DST frames of a copy; 0 (the default): as many as
// the processors this process may use.
extern int32_t copy_threads;

// The --help line of the option below.
constexpr const char* THREADS_HELP =
    "\t--threads=N\tbefore the other arguments: threads decoding DST frames, 1 to 64 (the default: the processors this "
    "process may use)\n";

// A command line may start with "--threads=N", N from 1 to
// WORKERS_MAX_THREADS: takes it out of argv (*argc one less) into
// copy_threads, and returns false for a value it does not take. Only a
// command line whose length the program does not take (`fits`) is looked
// at, so one that is the program's as it stands (a source or a file to
// show named "--threads=2") keeps its meaning.
bool take_threads_option(int* argc, char** argv, bool (*fits)(int argc));

// The same for the DST sound of `src`, which readDsdHeader left at its
// first frame: each frame is decoded once, whatever the number of outputs,
// on copy_threads threads ahead of the writes, and `*consumed` counts
// decoded bytes. A corrupt or missing frame is reported with its index and
// ends the copy as a read error after exactly the frames before it. The
// threads have ended when it returns.
CopyResult copy_dst_pairs(DsdiffInfo& src, const PairOutput* outputs, int output_count, uint64_t* consumed);

// The header values of a stereo WSD output made from a source with
// `bytes_per_channel` bytes of each channel; only the playing-time word
// differs between the programs.
void fill_pair_wsd_info(WsdInfo& w, FILE* f, uint64_t bytes_per_channel, uint32_t sample_rate,
                        uint32_t play_time);

// A program's reports of copy failures.
struct CopyReports {
    Report read;   // "read data error at %llu bytes offset\n"
    Report write;  // "write data error\n"
};

// Writes output k's header for `bytes_per_channel` bytes of each channel.
using HeaderWriter = void (*)(int k, uint64_t bytes_per_channel);

// Copies the sound data of `src` to the outputs, then closes every output
// and the source. A read error, a write error or an output whose last bytes
// cannot be flushed ends the process with the program's report, after each
// output has been cut to the whole frames it holds and its header rewritten
// by `write_header` to say so (an output without a whole header is removed).
void copy_and_close(DsdiffInfo& src, const PairOutput* outputs, int output_count, const CopyReports& reports,
                    HeaderWriter write_header);
