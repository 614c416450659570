// chanfork: copies pairs of channels of a DSDIFF or DSF file, chosen by their
// identifiers, each pair into its own stereo WSD or DSDIFF file as the
// output name's extension says; with one argument it shows the file's
// properties instead.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "chanfork.h"
#include "dsdiff.h"
#include "wsd.h"

namespace {

constexpr SourceReports SOURCE_REPORTS{.open = CHANFORK_OPEN_SOURCE, .not_dsdiff_status = CHANFORK_NOT_DSDIFF_STATUS};

enum OutputFormat { OUTPUT_WSD, OUTPUT_DSDIFF };

struct OutputEntry {
    std::string name;
    OutputFormat format;
    WsdInfo wsd;
    DsdiffInfo dsdiff;
    int left;
    int right;
};

// One run's state.
const char* srcFileName;
DsdiffInfo dsdiff_info;
std::vector<OutputEntry> entries;
std::vector<PairOutput> pair_outputs;

// Asked for with --help or -h (status 0), or after a command line of the
// wrong length or a --threads value it does not take; the option's line
// follows the usage text.
void usage(const char* prog, int status) {
    std::printf(
        "usage:\t%s SOURCE\n"
        "\t%s SOURCE L R OUT [L R OUT ...]\n"
        "Cf:\t%s example.dff\t# show DSDIFF file information.\n"
        "\t%s example.dff C002 C005 example.wsd\t# read C002,C005 channel from example.dff and write into "
        "example.wsd file\n",
        prog, prog, prog, prog);
    std::fputs(THREADS_HELP, stdout);
    std::fflush(stdout);
    std::exit(status);
}

// The format follows the extension of the last path component, taken from
// its first '.': ".wsd"/".WSD" or ".dff"/".DFF". A short last component (4
// characters or fewer) or one without a '.' is DSDIFF. Anything else is
// refused.
OutputFormat judge_format(const char* name) {
    const char* slash = std::strrchr(name, '/');
    const char* base = slash == nullptr ? name : slash + 1;
    const char* dot = std::strchr(base, '.');
    if (std::strlen(base) <= 4 || dot == nullptr) return OUTPUT_DSDIFF;
    if (std::strcmp(dot, ".wsd") == 0 || std::strcmp(dot, ".WSD") == 0) return OUTPUT_WSD;
    if (std::strcmp(dot, ".dff") == 0 || std::strcmp(dot, ".DFF") == 0) return OUTPUT_DSDIFF;
    report_exit(CHANFORK_EXTENSION, dot);
}

// Playing-time word of these files: the characters of the minutes' tens and
// units and of the hours' tens and units, in 32-bit arithmetic.
uint32_t play_time_word(uint64_t seconds) {
    const uint64_t h = seconds / 3600;
    const uint64_t m = seconds / 60 % 60;
    return 0x30303030u + static_cast<uint32_t>(m / 10) * (1u << 24) + static_cast<uint32_t>(m % 10) * (1u << 16) +
           static_cast<uint32_t>(h / 10) * (1u << 8) + static_cast<uint32_t>(h % 10);
}

void write_header(OutputEntry& e, FILE* f, uint64_t bytes_per_channel) {
    if (e.format == OUTPUT_WSD) {
        WsdInfo& w = e.wsd;
        fill_pair_wsd_info(w, f, bytes_per_channel, dsdiff_info.sample_rate,
                           play_time_word(playing_seconds(bytes_per_channel, dsdiff_info.sample_rate)));
        if (writeWsdHeader(&w) != 0) report_exit(CHANFORK_WSD_HEADER);
    } else {
        DsdiffInfo& d = e.dsdiff;
        d = DsdiffInfo{};
        d.file = f;
        d.data_size = 2 * bytes_per_channel;
        d.sample_rate = dsdiff_info.sample_rate;
        if (dsdiffWriteHeader(&d) != 0) report_exit(CHANFORK_DSDIFF_HEADER);
    }
}

// After a failed copy: the header again, for what the output holds.
void rewrite_header(int k, uint64_t bytes_per_channel) {
    OutputEntry& e = entries[k];
    write_header(e, e.format == OUTPUT_WSD ? e.wsd.file : e.dsdiff.file, bytes_per_channel);
}

int convert_file(int argc, char** argv) {
    const int entry_count = (argc - 2) / 3;
    try {
        entries.resize(static_cast<size_t>(entry_count));
        pair_outputs.resize(static_cast<size_t>(entry_count));
    } catch (const std::bad_alloc&) {
        report_exit(CHANFORK_ALLOC_TABLE);
    }
    srcFileName = argv[1];

    for (int i = 0; i < entry_count; ++i) {
        OutputEntry& e = entries[i];
        try {
            e.name = argv[2 + 3 * i + 2];
        } catch (const std::bad_alloc&) {
            report_exit(CHANFORK_ALLOC_NAME);
        }
        e.format = judge_format(e.name.c_str());
        struct stat st;
        if (stat(e.name.c_str(), &st) == 0 || errno != ENOENT) report_exit(CHANFORK_EXISTS, e.name.c_str());
    }

    open_source(srcFileName, SOURCE_REPORTS, &dsdiff_info);

    // Every identifier is resolved before any output exists: a mistyped one
    // leaves nothing behind to block the corrected command.
    for (int i = 0; i < entry_count; ++i) {
        OutputEntry& e = entries[i];
        const char* left_arg = argv[2 + 3 * i];
        const char* right_arg = argv[2 + 3 * i + 1];
        e.left = find_channel_arg(dsdiff_info, left_arg);
        e.right = find_channel_arg(dsdiff_info, right_arg);
        if (e.left < 0 || e.right < 0) {
            const Report& r = e.left < 0 ? CHANFORK_LEFT_NOT_FOUND : CHANFORK_RIGHT_NOT_FOUND;
            report_error(r, e.left < 0 ? left_arg : right_arg);
            list_channels(dsdiff_info);
            std::exit(r.status);
        }
    }

    const uint64_t bytes_per_channel = dsdiff_info.data_size / dsdiff_info.channel_count;
    for (int i = 0; i < entry_count; ++i) {
        OutputEntry& e = entries[i];
        // "x": never replace a file that appeared since the check above (or
        // an earlier group's output of the same name).
        FILE* f = std::fopen(e.name.c_str(), "wbx");
        if (f == nullptr) {
            // The outputs made so far are this run's own, and empty of sound.
            for (int j = 0; j < i; ++j) std::remove(entries[j].name.c_str());
            report_exit(CHANFORK_OPEN_OUTPUT, e.name.c_str());
        }
        if (e.format == OUTPUT_WSD)
            e.wsd.file = f;
        else
            e.dsdiff.file = f;
        write_header(e, f, bytes_per_channel);
        const int header_bytes = e.format == OUTPUT_WSD ? WSD_HEADER_SIZE : DSDIFF_HEADER_SIZE;
        pair_outputs[i] = PairOutput{f, e.left, e.right, header_bytes, e.name.c_str()};
    }

    copy_and_close(dsdiff_info, pair_outputs.data(), entry_count,
                   CopyReports{.read = CHANFORK_READ, .write = CHANFORK_WRITE}, rewrite_header);
    return 0;
}

}  // namespace

void chanfork_reset() {
    srcFileName = nullptr;
    dsdiff_info = {};
    entries.clear();
    pair_outputs.clear();
    copy_threads = 0;
}

namespace {

// The lengths of the command lines of this program: a file to show, or a
// source and groups of three.
bool command_fits(int argc) { return argc == 2 || (argc >= 5 && (argc - 2) % 3 == 0); }

}  // namespace

int main(int argc, char** argv) {
    const char* prog = argc > 0 ? argv[0] : "chanfork";
    if (!take_threads_option(&argc, argv, command_fits)) usage(prog, CHANFORK_USAGE_STATUS);
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) usage(prog, 0);
    if (argc == 2) return show_dsdiff_info(argv[1], SOURCE_REPORTS);
    if (!command_fits(argc)) usage(prog, CHANFORK_USAGE_STATUS);
    return convert_file(argc, argv);
}
