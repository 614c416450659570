#include "dsdiff.h"

#include <cstring>

#include "readwrite.h"
#include "report.h"

int dsdiff_reporting = 0;

namespace {

constexpr const char* MODULE = "dsdiff";

// A chunk size this large cannot be skipped forward: a relative seek would
// jump backwards and the walk could revisit bytes for ever.
constexpr uint64_t MAX_CHUNK_SIZE = UINT64_C(0x7FFFFFFFFFFFFFFF);

int fail(int line) {
    if (dsdiff_reporting) report_error(MODULE, line, "\n");
    return -1;
}

bool read4(FILE* f, char id[4]) { return std::fread(id, 1, 4, f) == 4; }

bool is(const char id[4], const char* expected) { return std::memcmp(id, expected, 4) == 0; }

// Skips `size` bytes, then the pad byte that follows an odd size.
bool skip(FILE* f, uint64_t size) {
    if (size > 0 && fseeko(f, static_cast<off_t>(size), SEEK_CUR) != 0) return false;
    return true;
}

bool skip_pad(FILE* f, uint64_t size) { return (size & 1) == 0 || fseeko(f, 1, SEEK_CUR) == 0; }

// The compression sub-chunk: type, then a counted name of 7-bit characters
// padded to an even length. The name is not kept.
int read_cmpr(FILE* f) {
    char type[4];
    if (!read4(f, type)) return fail(149);
    if (!is(type, "DSD ") && !is(type, "DST ")) return fail(154);
    int n = std::getc(f);
    if (n == EOF) return fail(158);
    for (int i = 0; i < n; ++i) {
        int c = std::getc(f);
        if (c == EOF || c >= 0x80) return fail(163);
    }
    if ((n & 1) == 0 && std::getc(f) == EOF) return fail(169);
    return 0;
}

int read_chnl(DsdiffInfo* info, uint64_t size) {
    if (!read16bitBEint(info->file, &info->channel_count)) return fail(126);
    if (info->channel_count > DSDIFF_MAX_CHANNELS) return fail(130);
    for (int i = 0; i < info->channel_count; ++i) {
        if (!read4(info->file, info->channel_ids[i])) return fail(136);
        info->channel_ids[i][4] = '\0';
    }
    if (size != 2 + 4 * static_cast<uint64_t>(info->channel_count)) return fail(142);
    return 0;
}

// Walks the sub-chunks of a PROP chunk of the given size (type included).
int read_prop(DsdiffInfo* info, uint64_t size) {
    FILE* f = info->file;
    if (read_and_compare_4bytes(f, "SND ") != 0) return fail(97);
    // Unsigned so that sizes which do not add up wrap instead of overflowing.
    uint64_t prop_remaining = size - 4;
    while (prop_remaining != 0) {
        char id[4];
        uint64_t sub_size;
        if (!read4(f, id)) return fail(106);
        if (!read64bitBElong(f, &sub_size)) return fail(110);
        if (sub_size > MAX_CHUNK_SIZE) return fail(110);
        if (is(id, "FS  ")) {
            if (!read32bitBEint(f, &info->sample_rate)) return fail(116);
            if (sub_size != 4) return fail(120);
        } else if (is(id, "CHNL")) {
            if (read_chnl(info, sub_size) != 0) return -1;
        } else if (is(id, "CMPR")) {
            if (read_cmpr(f) != 0) return -1;
        } else if (is(id, "ABSS")) {
            uint16_t hours;
            uint32_t samples;
            if (!read16bitBEint(f, &hours)) return fail(180);
            std::getc(f);  // minutes
            std::getc(f);  // seconds
            if (!read32bitBEint(f, &samples)) return fail(186);
            if (sub_size != 8) return fail(190);
        } else if (is(id, "LSCO")) {
            uint16_t lsco;
            if (!read16bitBEint(f, &lsco)) return fail(197);
            if (sub_size != 2) return fail(201);
        } else if (!skip(f, sub_size)) {
            return fail(110);
        }
        prop_remaining -= 12 + sub_size;
        if (sub_size & 1) {
            if (!skip_pad(f, sub_size)) return fail(110);
            prop_remaining -= 1;
        }
    }
    return 0;
}

}  // namespace

int read_and_compare_4bytes(FILE* f, const char* expected) {
    char id[4];
    if (!read4(f, id)) {
        if (dsdiff_reporting) report_error(MODULE, 38, "\n");
        return -1;
    }
    if (!is(id, expected)) {
        if (dsdiff_reporting) report_error(MODULE, 42, "\n");
        return -1;
    }
    return 0;
}

int readDsdHeader(DsdiffInfo* info) {
    FILE* f = info->file;
    uint64_t form_size;
    if (read_and_compare_4bytes(f, "FRM8") != 0) return fail(57);
    if (!read64bitBElong(f, &form_size)) return fail(61);
    if (read_and_compare_4bytes(f, "DSD ") != 0) return fail(66);

    // Unsigned: a form size that does not match its chunks wraps past 0 and
    // the walk then ends at a failed read at the end of the file.
    uint64_t remaining = form_size - 4;
    while (remaining != 0) {
        char id[4];
        uint64_t size;
        if (!read4(f, id)) return fail(75);
        if (!read64bitBElong(f, &size)) return fail(79);
        if (size > MAX_CHUNK_SIZE) return fail(79);
        remaining -= 12;
        if (is(id, "FVER")) {
            if (!read32bitBEint(f, &info->version)) return fail(86);
            if (size != 4) return fail(90);
        } else if (is(id, "PROP")) {
            if (read_prop(info, size) != 0) return -1;
        } else if (is(id, "DSD ")) {
            info->data_size = size;
            return 0;
        } else if (is(id, "DST ")) {
            return fail(216);
        } else if (is(id, "DSTI")) {
            return fail(219);
        } else if (!skip(f, size)) {
            return fail(79);
        }
        remaining -= size;
        if (size & 1) {
            if (!skip_pad(f, size)) return fail(79);
            remaining -= 1;
        }
    }
    return fail(237);
}

int readDsdData(DsdiffInfo* info, uint8_t* buf, int size) {
    int n = size / 8 * 8;
    int i = 0;
    uint8_t frame[DSDIFF_MAX_CHANNELS] = {};
    if (info->left_channel >= DSDIFF_MAX_CHANNELS || info->right_channel >= DSDIFF_MAX_CHANNELS) return 0;
    while (i < n) {
        if (info->channel_count == 0 || info->channel_count > DSDIFF_MAX_CHANNELS ||
            std::fread(frame, info->channel_count, 1, info->file) != 1) {
            // Complete the last group of 8 with a neutral pattern (4 ones, 4 zeros).
            while (i % 8 != 0) buf[i++] = 0x96;
            return i;
        }
        buf[i] = frame[info->left_channel];
        buf[i + 1] = frame[info->right_channel];
        i += 2;
    }
    return i;
}

namespace {

// Two-channel uncompressed header; the form size, rate and sound size are
// patched in.
constexpr unsigned char dsdiffHeader[DSDIFF_HEADER_SIZE] = {
    'F', 'R', 'M', '8', 0, 0, 0, 0, 0, 0, 0, 0,          // form, size patched at 4
    'D', 'S', 'D', ' ',                                  // form type
    'P', 'R', 'O', 'P', 0, 0, 0, 0, 0, 0, 0, 74,         // property chunk
    'S', 'N', 'D', ' ',                                  // property type
    'F', 'S', ' ', ' ', 0, 0, 0, 0, 0, 0, 0, 4,          // sampling frequency
    0, 0, 0, 0,                                          // rate patched at 44
    'C', 'H', 'N', 'L', 0, 0, 0, 0, 0, 0, 0, 10,         // channels
    0, 2, 'S', 'L', 'F', 'T', 'S', 'R', 'G', 'T',        //
    'C', 'M', 'P', 'R', 0, 0, 0, 0, 0, 0, 0, 20,         // compression
    'D', 'S', 'D', ' ', 14,                              //
    'n', 'o', 't', ' ', 'c', 'o', 'm', 'p', 'r', 'e', 's', 's', 'e', 'd',
    0,                                                   // pad to even length
    'F', 'V', 'E', 'R', 0, 0, 0, 0, 0, 0, 0, 4,          // format version
    1, 5, 0, 0,                                          // 1.5.0.0
    'D', 'S', 'D', ' ', 0, 0, 0, 0, 0, 0, 0, 0,          // sound chunk, size patched at 122
};

void put_be(unsigned char* p, uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v & 0xFF);
}

}  // namespace

int dsdiffWriteHeader(DsdiffInfo* info) {
    unsigned char header[DSDIFF_HEADER_SIZE];
    std::memcpy(header, dsdiffHeader, sizeof header);
    put_be(header + 44, info->sample_rate, 4);
    put_be(header + 122, info->data_size, 8);
    put_be(header + 4, info->data_size + (DSDIFF_HEADER_SIZE - 12), 8);
    fseeko(info->file, 0, SEEK_SET);
    if (std::fwrite(header, sizeof header, 1, info->file) != 1)
        report_exit(276, MODULE, 275, "Header write error.\n");
    return 0;
}
