#include "wsd.h"

#include <cstdlib>
#include <cstring>

#include "readwrite.h"
#include "report.h"

int wsd_size_order = WSD_SIZE_LOW_HALF_FIRST;

namespace {

constexpr const char* MODULE = "wsd";
constexpr int MAX_CHANNELS = 10;

bool skip_bytes(FILE* f, size_t n) {
    unsigned char buf[8];
    return std::fread(buf, 1, n, f) == n;
}

// Zero bytes go out one at a time; putc returns the byte written, 0.
void put_zeros(FILE* f, int count) {
    for (int i = 0; i < count; ++i)
        if (std::putc(0, f) != 0) report_exit(156, MODULE, 155, "putc() failed.\n");
}

void put_byte(FILE* f, uint8_t value, int line, const char* message) {
    if (std::putc(value, f) != value) report_exit(line + 1, MODULE, line, "%s", message);
}

void put32(FILE* f, uint32_t value, int line) {
    if (!write32bitBEint(f, value)) report_exit(line + 1, MODULE, line, "write failed.\n");
}

void put64(FILE* f, uint64_t value, int line) {
    if (!write64bitBEint(f, value)) report_exit(line + 1, MODULE, line, "write failed.\n");
}

}  // namespace

int readWsdHeader(WsdInfo* info) {
    FILE* f = info->file;
    char magic[4];
    uint32_t low, high, text_offset, rate;
    if (std::fread(magic, 1, 4, f) != 4 || std::memcmp(magic, "1bit", 4) != 0) return -1;
    if (!skip_bytes(f, 4)) return -1;
    info->version = static_cast<uint8_t>(std::getc(f));
    if (!skip_bytes(f, 3)) return -1;
    if (!read32bitBEint(f, &low) || !read32bitBEint(f, &high)) return -1;
    info->file_size = (static_cast<uint64_t>(high) << 32) | low;
    if (!read32bitBEint(f, &text_offset)) return -1;
    if (!read32bitBEint(f, &info->data_offset)) return -1;
    if (!skip_bytes(f, 4) || !skip_bytes(f, 4)) return -1;  // reserved, playing time
    if (!read32bitBEint(f, &rate)) return -1;
    if (!skip_bytes(f, 4)) return -1;
    int channels = std::getc(f);
    if (channels == EOF || channels > MAX_CHANNELS) return -1;
    info->channel_count = static_cast<uint8_t>(channels);
    if (!skip_bytes(f, 3) || !skip_bytes(f, 4)) return -1;  // reserved, channel assignment
    if (fseeko(f, static_cast<off_t>(info->data_offset), SEEK_SET) != 0) return -1;
    info->sample_rate = rate;
    return 0;
}

int writeWsdHeader(WsdInfo* info) {
    FILE* f = info->file;
    if (fseeko(f, 0, SEEK_SET) != 0) {
        report_error(MODULE, 169, "fseeko() failed.\n");
        std::perror("");
        std::exit(171);
    }
    if (std::fwrite("1bit", 1, 4, f) != 4) report_exit(179, MODULE, 178, "fwrite() failed.\n");
    put_zeros(f, 4);
    put_byte(f, info->version, 188, "version number write failed.\n");
    put_zeros(f, 3);
    if (wsd_size_order == WSD_SIZE_BE64) {
        put64(f, info->file_size, 196);
    } else {
        put32(f, static_cast<uint32_t>(info->file_size), 196);
        put32(f, static_cast<uint32_t>(info->file_size >> 32), 202);
    }
    put32(f, 128, 209);
    put32(f, WSD_HEADER_SIZE, 216);
    put_zeros(f, 4);
    put32(f, info->play_time, 227);
    put32(f, info->sample_rate, 234);
    put_zeros(f, 4);
    put_byte(f, info->channel_count, 244, "channel number write failed.\n");
    put_zeros(f, 3);
    put32(f, info->channel_assignment, 252);
    put_zeros(f, 4);
    put32(f, info->extra_38, 262);
    put_zeros(f, 4);
    put64(f, info->extra_40, 272);
    put64(f, info->extra_48, 277);
    put_zeros(f, 48);    // up to the text area at 0x80
    put_zeros(f, 1920);  // empty text area up to the sound data at 0x800
    return 0;
}

int readWsdData(WsdInfo* info, uint8_t* buf, int size) {
    int n = size / 8 * 8;
    int i = 0;
    uint8_t frame[MAX_CHANNELS] = {};
    while (i < n) {
        if (info->channel_count < 2 || info->channel_count > MAX_CHANNELS ||
            std::fread(frame, info->channel_count, 1, info->file) != 1) {
            // Complete the last group of 8 with a neutral pattern (4 ones, 4 zeros).
            while (i % 8 != 0) buf[i++] = 0x96;
            return i;
        }
        buf[i] = frame[0];
        buf[i + 1] = frame[1];
        i += 2;
    }
    return i;
}
