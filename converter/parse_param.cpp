#include "parse_param.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>


const char* srcFileName = nullptr;
const char* outFileName = nullptr;
int32_t left_index = -1;
int32_t right_index = -1;

void parse_params_reset() {
    srcFileName = outFileName = nullptr;
    left_index = right_index = -1;
}

namespace {

constexpr const char OPTION_CHANNELS[] = "--channels=";
constexpr size_t OPTION_CHANNELS_LEN = sizeof OPTION_CHANNELS - 1;  // 11

// One "%d" conversion: leading white space, optional sign, at least one
// digit. Advances *p past the number on success.
bool read_int(const char** p, int32_t* value) {
    const char* s = *p;
    while (std::isspace(static_cast<unsigned char>(*s))) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        ++s;
    }
    if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
    int64_t v = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    while (std::isdigit(static_cast<unsigned char>(*s))) {
        v = v * 10 + (*s - '0');
        if (v > limit) return false;
        ++s;
    }
    *value = static_cast<int32_t>(negative ? -v : v);
    *p = s;
    return true;
}

}  // namespace

bool parse_channel_pair(const char* text, int32_t* left, int32_t* right) {
    const char* p = text;
    int32_t l = 0, r = 0;
    if (!read_int(&p, &l)) return false;
    if (*p != ',') return false;
    ++p;
    if (!read_int(&p, &r)) return false;
    *left = l;
    *right = r;
    return true;
}

void usage(const char* prog) {
    std::printf("usage:\t%s --version\n\t%s [--channels=#,#] source_delta_sigma_file destination_wav_file\n\n",
                prog, prog);
}

int parse_params(int argc, char* argv[]) {
    // An empty argument vector has no program name to show.
    const char* prog = (argc > 0 && argv[0] != nullptr) ? argv[0] : "sigmelt";
    if (argc < 2) {
        usage(prog);
        std::exit(PARAM_NO_ARGUMENT_STATUS);
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        usage(prog);
        std::exit(0);
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        usage(prog);
        std::printf(
            "\t--channels=L,R\tleft output from source channel L alone, right from channel R alone (-1: the default)\n"
            "\t--help, -h\tthis text\n"
            "\t--version\tthe usage text alone\n");
        std::exit(0);
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, OPTION_CHANNELS, OPTION_CHANNELS_LEN) == 0) {
            if (!parse_channel_pair(arg + OPTION_CHANNELS_LEN, &left_index, &right_index))
                report_exit(PARAM_PARSE_ERROR, arg);
        } else if (srcFileName == nullptr) {
            srcFileName = arg;
        } else if (outFileName == nullptr) {
            outFileName = arg;
        } else {
            report_exit(PARAM_TOO_MANY, arg);
        }
    }
    if (srcFileName == nullptr) report_exit(PARAM_NO_SOURCE);
    if (outFileName == nullptr) report_exit(PARAM_NO_DESTINATION);
    return -1;
}
