// chanfork2chx4: splits eight channels of a DSDIFF or DSF file, chosen by their
// identifiers, into four stereo WSD files named after the source; with one
// argument it shows the file's properties instead.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chanfork2chx4.h"
#include "dsdiff.h"
#include "wsd.h"

namespace {

constexpr SourceReports SOURCE_REPORTS{.open = CHX4_OPEN_SOURCE, .not_dsdiff_status = CHX4_NOT_DSDIFF_STATUS};
constexpr int PAIRS = 4;
constexpr int IDS = 2 * PAIRS;

// One run's state.
std::string srcFileName;
std::string outFileNames[PAIRS];
int channel_positions[IDS];
DsdiffInfo dsdiff_info;
WsdInfo wsd_infos[PAIRS];

// Asked for with --help or -h (status 0), or after a command line of the
// wrong length or a --threads value it does not take; the option's line
// follows the usage text.
void usage(const char* prog, int status) {
    std::printf(
        "usage:\t%s SOURCE\n"
        "\t%s ID1 ID2 ID3 ID4 ID5 ID6 ID7 ID8 SOURCE\n"
        "Cf:\t%s example.dff\t# show DSDIFF file information.\n"
        "\t%s C000 C001 C002 C003 C004 C005 C006 C007 example.dff\t"
        "# read from example.dff and write into 4 stereo example_?.wsd file\n",
        prog, prog, prog, prog);
    std::fputs(THREADS_HELP, stdout);
    std::fflush(stdout);
    std::exit(status);
}

// "dir/example.dff" gives "dir/example_<k>.wsd". Only a '.' in the last path
// component counts as the start of an extension, so "./take" gives
// "./take_<k>.wsd"; a short last component or one without a '.' keeps its
// whole name.
std::string output_name(const std::string& src, int k) {
    const size_t slash = src.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = src.rfind('.');
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%d.wsd", k);
    if (src.size() - base < 5 || dot == std::string::npos || dot < base) return src + suffix;
    return src.substr(0, dot) + suffix;
}

// Playing-time word of these files: the tens and the units of the seconds
// (mod 60) as binary values in the two high bytes.
uint32_t play_time_word(uint64_t seconds) {
    const uint32_t s = static_cast<uint32_t>(seconds % 60);
    return (s / 10) << 24 | (s % 10) << 16;
}

void write_header(int k, uint64_t bytes_per_channel) {
    WsdInfo& w = wsd_infos[k];
    fill_pair_wsd_info(w, w.file, bytes_per_channel, dsdiff_info.sample_rate,
                       play_time_word(playing_seconds(bytes_per_channel, dsdiff_info.sample_rate)));
    if (writeWsdHeader(&w) != 0) report_exit(CHX4_WSD_HEADER);
}

void convert_file(char** argv) {
    srcFileName = argv[IDS + 1];

    for (int k = 0; k < PAIRS; ++k) {
        outFileNames[k] = output_name(srcFileName, k);
        struct stat st;
        if (stat(outFileNames[k].c_str(), &st) == 0 || errno != ENOENT)
            report_exit(CHX4_EXISTS, outFileNames[k].c_str());
    }

    open_source(srcFileName.c_str(), SOURCE_REPORTS, &dsdiff_info);

    for (int j = 0; j < IDS; ++j) channel_positions[j] = find_channel_arg(dsdiff_info, argv[j + 1]);
    for (int j = 0; j < IDS; ++j) {
        if (channel_positions[j] < 0) {
            std::fprintf(stderr, "channel name %s not found\n", argv[j + 1]);
            list_channels(dsdiff_info);
            std::exit(CHX4_NOT_FOUND_STATUS);
        }
    }

    PairOutput outputs[PAIRS];
    for (int k = 0; k < PAIRS; ++k) {
        // "x": never replace a file that appeared since the check above.
        FILE* f = std::fopen(outFileNames[k].c_str(), "wbx");
        if (f == nullptr) {
            // The outputs made so far are this run's own, and empty of sound.
            for (int j = 0; j < k; ++j) std::remove(outFileNames[j].c_str());
            report_exit(CHX4_OPEN_OUTPUT, outFileNames[k].c_str());
        }
        wsd_infos[k].file = f;
        write_header(k, dsdiff_info.data_size / dsdiff_info.channel_count);
        outputs[k] = PairOutput{f, channel_positions[2 * k], channel_positions[2 * k + 1], WSD_HEADER_SIZE,
                                outFileNames[k].c_str()};
    }

    copy_and_close(dsdiff_info, outputs, PAIRS, CopyReports{.read = CHX4_READ, .write = CHX4_WRITE}, write_header);
}

}  // namespace

void chanfork2chx4_reset() {
    srcFileName.clear();
    for (std::string& name : outFileNames) name.clear();
    for (int& p : channel_positions) p = 0;
    dsdiff_info = {};
    for (WsdInfo& w : wsd_infos) w = {};
    copy_threads = 0;
}

namespace {

// The lengths of the command lines of this program: a file to show, or
// eight identifiers and a source.
bool command_fits(int argc) { return argc == 2 || argc == IDS + 2; }

}  // namespace

int main(int argc, char** argv) {
    dsdiff_reporting = 1;
    wsd_size_order = WSD_SIZE_BE64;
    const char* prog = argc > 0 ? argv[0] : "chanfork2chx4";
    if (!take_threads_option(&argc, argv, command_fits)) usage(prog, CHX4_USAGE_STATUS);
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) usage(prog, 0);
    if (argc == 2) return show_dsdiff_info(argv[1], SOURCE_REPORTS);
    if (!command_fits(argc)) usage(prog, CHX4_USAGE_STATUS);
    convert_file(argv);
    return 0;
}
