#include "wav.h"

#include <cstdlib>

#include "readwrite.h"
#include "report.h"

namespace {

constexpr const char* MODULE = "wav";

constexpr unsigned char leading[16] = {'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF,
                                       'W', 'A', 'V', 'E', 'd',  's',  '6',  '4'};
constexpr unsigned char trailing[8] = {'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF};

// PCM, 2 channels, 44100 Hz, 176400 bytes/s, 4-byte frames, 16 bits, no
// extension, two zero bytes to fill the 20-byte chunk.
constexpr unsigned char my_format[20] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1,
                                         2, 0, 4, 0, 16,   0,    0, 0, 0,    0};

int failed(int line) {
    report_error(MODULE, line, "write failed.\n");
    return 0;
}

}  // namespace

int writeWavHeader(FILE* f, uint64_t frames) {
    if (fseeko(f, 0, SEEK_SET) != 0) {
        report_error(MODULE, 189, "fseeko() failed.\n");
        std::perror("");
        std::exit(191);
    }
    const uint64_t data_bytes = 4 * frames;
    if (std::fwrite(leading, sizeof leading, 1, f) != 1) return failed(195);
    if (!write32bitLEint(f, 28)) return failed(202);
    if (!write64bitLEint(f, data_bytes + (WAV_HEADER_SIZE - 8))) return failed(211);
    if (!write64bitLEint(f, data_bytes)) return failed(217);
    if (!write64bitLEint(f, frames)) return failed(223);
    if (!write32bitLEint(f, 0)) return failed(229);
    if (std::fwrite("fmt ", 4, 1, f) != 1) return failed(234);
    if (!write32bitLEint(f, sizeof my_format)) return failed(239);
    if (std::fwrite(my_format, sizeof my_format, 1, f) != 1) return failed(243);
    if (std::fwrite(trailing, sizeof trailing, 1, f) != 1) return failed(248);
    return -1;
}
