#include "parse_param.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <strings.h>

#include "workers.h"


const char* srcFileName = nullptr;
const char* outFileName = nullptr;
int32_t left_index = -1;
int32_t right_index = -1;
int32_t out_rate = 44100;
int32_t out_bits = 16;
bool out_float = false;
bool out_dither = false;
bool out_steep = false;
double out_gain_db = 0.0;
bool output_options = false;
int32_t thread_count = 0;

void parse_params_reset() {
    srcFileName = outFileName = nullptr;
    left_index = right_index = -1;
    out_rate = 44100;
    out_bits = 16;
    out_float = out_dither = out_steep = output_options = false;
    out_gain_db = 0.0;
    thread_count = 0;
}

bool flac_destination(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 5 && strcasecmp(name + n - 5, ".flac") == 0;
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

// A decimal number with an optional sign and fraction, nothing else.
bool read_decimal(const char* text, double* value) {
    const char* s = text;
    if (*s == '+' || *s == '-') ++s;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(*s))) ++s, ++digits;
    if (*s == '.') {
        ++s;
        while (std::isdigit(static_cast<unsigned char>(*s))) ++s, ++digits;
    }
    if (digits == 0 || *s != '\0') return false;
    *value = std::strtod(text, nullptr);
    return true;
}

// "--name=" followed by one of the words; its index, or -1.
int pick(std::string_view value, std::initializer_list<std::string_view> words) {
    int i = 0;
    for (std::string_view w : words) {
        if (value == w) return i;
        ++i;
    }
    return -1;
}

// The output options: true when `arg` is one of them (its value then
// taken), false when it is none; a bad value ends the process with the usage
// text and the report.
bool output_option(const char* prog, const char* arg) {
    const std::string_view a(arg);
    auto value_of = [&](std::string_view name) { return a.substr(name.size()); };
    bool ok = true;
    if (a.starts_with("--rate=")) {
        const int i = pick(value_of("--rate="), {"44100", "88200", "176400"});
        ok = i >= 0;
        if (ok) out_rate = 44100 << i;
    } else if (a.starts_with("--bits=")) {
        const int i = pick(value_of("--bits="), {"16", "24"});
        ok = i >= 0;
        if (ok) out_bits = i == 0 ? 16 : 24;
    } else if (a.starts_with("--filter=")) {
        const int i = pick(value_of("--filter="), {"gentle", "steep"});
        ok = i >= 0;
        if (ok) out_steep = i == 1;
    } else if (a.starts_with("--gain=")) {
        double db = 0.0;
        ok = read_decimal(arg + 7, &db) && db >= -20.0 && db <= 20.0;
        if (ok) out_gain_db = db;
    } else if (a == "--float") {
        out_float = true;
    } else if (a == "--dither") {
        out_dither = true;
    } else {
        return false;
    }
    if (!ok) {
        usage(prog);
        report_exit(PARAM_PARSE_ERROR, arg);
    }
    output_options = true;
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
            "\t--rate=HZ\toutput rate: 44100 (the default), 88200 or 176400\n"
            "\t--filter=NAME\tat 44100 Hz: gentle (the default) or steep (flat to 20 kHz, 120 dB down from 24.1 kHz)\n"
            "\t--bits=N\t16 (the default, truncated) or 24 (rounded) bits per sample\n"
            "\t--float\t32-bit floating-point samples, never clipped\n"
            "\t--dither\tTPDF dither of one LSB before rounding (16 and 24 bits)\n"
            "\t--gain=DB\tgain from -20 to +20 dB before quantisation; beyond full scale integer samples saturate\n"
            "\t--threads=N\tthreads doing the work, 1 to 64 (the default: the processors this process may use)\n"
            "\t--help, -h\tthis text\n"
            "\t--version\tthe usage text alone\n");
        std::exit(0);
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, OPTION_CHANNELS, OPTION_CHANNELS_LEN) == 0) {
            if (!parse_channel_pair(arg + OPTION_CHANNELS_LEN, &left_index, &right_index))
                report_exit(PARAM_PARSE_ERROR, arg);
        } else if (std::strncmp(arg, "--threads=", 10) == 0) {
            // The same bits come out at every count: not an output option.
            const char* p = arg + 10;
            int32_t n = 0;
            if (!std::isdigit(static_cast<unsigned char>(*p)) || !read_int(&p, &n) || *p != '\0' || n < 1 ||
                n > WORKERS_MAX_THREADS) {
                usage(prog);
                report_exit(PARAM_PARSE_ERROR, arg);
            }
            thread_count = n;
        } else if (output_option(prog, arg)) {
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
    if (thread_count == 0) thread_count = workers_default_count();
    // Float samples are neither dithered, nor of a bit count, nor in FLAC.
    if (out_float) {
        const char* other = nullptr;
        for (int i = 1; i < argc && other == nullptr; ++i)
            if (std::strncmp(argv[i], "--bits=", 7) == 0 || std::strcmp(argv[i], "--dither") == 0) other = argv[i];
        if (other == nullptr && flac_destination(outFileName)) other = outFileName;
        if (other != nullptr) {
            usage(prog);
            report_exit(PARAM_FLOAT_WITH, other);
        }
        out_bits = 32;
    }
    return -1;
}
