#include "dsdiff.h"

#include <cstring>

#include "dst.h"
#include "readwrite.h"

int dsdiff_reporting = 0;

namespace {

// A chunk size this large cannot be skipped forward: a relative seek would
// jump backwards and the walk could revisit bytes for ever.
constexpr uint64_t MAX_CHUNK_SIZE = UINT64_C(0x7FFFFFFFFFFFFFFF);

int fail(const Report& r) {
    if (dsdiff_reporting) report_error(r);
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
    if (!read4(f, type)) return fail(DSDIFF_CMPR_TYPE);
    if (!is(type, "DSD ") && !is(type, "DST ")) return fail(DSDIFF_CMPR_UNKNOWN);
    int n = std::getc(f);
    if (n == EOF) return fail(DSDIFF_CMPR_COUNT);
    for (int i = 0; i < n; ++i) {
        int c = std::getc(f);
        if (c == EOF || c >= 0x80) return fail(DSDIFF_CMPR_NAME);
    }
    if ((n & 1) == 0 && std::getc(f) == EOF) return fail(DSDIFF_CMPR_PAD);
    return 0;
}

int read_chnl(DsdiffInfo* info, uint64_t size) {
    if (!read16bitBEint(info->file, &info->channel_count)) return fail(DSDIFF_CHNL_COUNT);
    if (info->channel_count > DSD_MAX_CHANNELS) return fail(DSDIFF_CHNL_TOO_MANY);
    for (int i = 0; i < info->channel_count; ++i) {
        if (!read4(info->file, info->channel_ids[i])) return fail(DSDIFF_CHNL_ID);
        info->channel_ids[i][4] = '\0';
    }
    if (size != 2 + 4 * static_cast<uint64_t>(info->channel_count)) return fail(DSDIFF_CHNL_SIZE);
    return 0;
}

// Walks the sub-chunks of a PROP chunk of the given size (type included).
int read_prop(DsdiffInfo* info, uint64_t size) {
    FILE* f = info->file;
    if (read_and_compare_4bytes(f, "SND ") != 0) return fail(DSDIFF_PROP_TYPE);
    // Unsigned so that sizes which do not add up wrap instead of overflowing.
    uint64_t prop_remaining = size - 4;
    while (prop_remaining != 0) {
        char id[4];
        uint64_t sub_size;
        if (!read4(f, id)) return fail(DSDIFF_SUB_ID);
        if (!read64bitBElong(f, &sub_size)) return fail(DSDIFF_SUB_SIZE);
        if (sub_size > MAX_CHUNK_SIZE) return fail(DSDIFF_SUB_SIZE);
        if (is(id, "FS  ")) {
            if (!read32bitBEint(f, &info->sample_rate)) return fail(DSDIFF_FS_VALUE);
            if (sub_size != 4) return fail(DSDIFF_FS_SIZE);
        } else if (is(id, "CHNL")) {
            if (read_chnl(info, sub_size) != 0) return -1;
        } else if (is(id, "CMPR")) {
            if (read_cmpr(f) != 0) return -1;
        } else if (is(id, "ABSS")) {
            uint16_t hours;
            uint32_t samples;
            if (!read16bitBEint(f, &hours)) return fail(DSDIFF_ABSS_HOURS);
            std::getc(f);  // minutes
            std::getc(f);  // seconds
            if (!read32bitBEint(f, &samples)) return fail(DSDIFF_ABSS_SAMPLES);
            if (sub_size != 8) return fail(DSDIFF_ABSS_SIZE);
        } else if (is(id, "LSCO")) {
            uint16_t lsco;
            if (!read16bitBEint(f, &lsco)) return fail(DSDIFF_LSCO_VALUE);
            if (sub_size != 2) return fail(DSDIFF_LSCO_SIZE);
        } else if (!skip(f, sub_size)) {
            return fail(DSDIFF_SUB_SIZE);
        }
        prop_remaining -= 12 + sub_size;
        if (sub_size & 1) {
            if (!skip_pad(f, sub_size)) return fail(DSDIFF_SUB_SIZE);
            prop_remaining -= 1;
        }
    }
    return 0;
}

// The DST sound chunk of the given size: FRTE first (frame count, frame
// rate), then the frames, which dstReadFrame reads one by one.
int read_dst(DsdiffInfo* info, uint64_t size) {
    const uint32_t bits = dst_frame_bits(info->sample_rate);
    if (bits == 0 || info->channel_count == 0 || info->channel_count > DSD_MAX_CHANNELS) return fail(DSDIFF_DST_SHAPE);
    uint8_t frte[18];
    if (size < sizeof frte || std::fread(frte, 1, sizeof frte, info->file) != sizeof frte) return fail(DSDIFF_DST_FRTE);
    uint64_t frte_size = 0;
    for (int i = 4; i < 12; ++i) frte_size = frte_size << 8 | frte[i];
    if (!is(reinterpret_cast<const char*>(frte), "FRTE") || frte_size != 6) return fail(DSDIFF_DST_FRTE);
    const uint32_t frames = static_cast<uint32_t>(frte[12]) << 24 | frte[13] << 16 | frte[14] << 8 | frte[15];
    if ((frte[16] << 8 | frte[17]) != DST_FRAMES_PER_SECOND) return fail(DSDIFF_DST_FRAME_RATE);
    info->compression = DSDIFF_DST;
    info->frame_count = frames;
    info->frames_read = 0;
    info->dst_remaining = size - sizeof frte;
    info->data_size = static_cast<uint64_t>(frames) * (bits / 8) * info->channel_count;
    return 0;
}

}  // namespace

int read_and_compare_4bytes(FILE* f, const char* expected) {
    char id[4];
    if (!read4(f, id)) {
        if (dsdiff_reporting) report_error(DSDIFF_ID_SHORT);
        return -1;
    }
    if (!is(id, expected)) {
        if (dsdiff_reporting) report_error(DSDIFF_ID_WRONG);
        return -1;
    }
    return 0;
}

int readDsdHeader(DsdiffInfo* info) {
    FILE* f = info->file;
    uint64_t form_size;
    if (read_and_compare_4bytes(f, "FRM8") != 0) return fail(DSDIFF_FORM_ID);
    if (!read64bitBElong(f, &form_size)) return fail(DSDIFF_FORM_SIZE);
    if (read_and_compare_4bytes(f, "DSD ") != 0) return fail(DSDIFF_FORM_TYPE);

    // Unsigned: a form size that does not match its chunks wraps past 0 and
    // the walk then ends at a failed read at the end of the file.
    uint64_t remaining = form_size - 4;
    while (remaining != 0) {
        char id[4];
        uint64_t size;
        if (!read4(f, id)) return fail(DSDIFF_CHUNK_ID);
        if (!read64bitBElong(f, &size)) return fail(DSDIFF_CHUNK_SIZE);
        if (size > MAX_CHUNK_SIZE) return fail(DSDIFF_CHUNK_SIZE);
        remaining -= 12;
        if (is(id, "FVER")) {
            if (!read32bitBEint(f, &info->version)) return fail(DSDIFF_FVER_VALUE);
            if (size != 4) return fail(DSDIFF_FVER_SIZE);
        } else if (is(id, "PROP")) {
            if (read_prop(info, size) != 0) return -1;
        } else if (is(id, "DSD ")) {
            info->data_size = size;
            info->compression = DSDIFF_PLAIN;
            info->frame_count = 0;
            return 0;
        } else if (is(id, "DST ")) {
            return read_dst(info, size);
        } else if (!skip(f, size)) {
            return fail(DSDIFF_CHUNK_SIZE);
        }
        remaining -= size;
        if (size & 1) {
            if (!skip_pad(f, size)) return fail(DSDIFF_CHUNK_SIZE);
            remaining -= 1;
        }
    }
    return fail(DSDIFF_NO_SOUND);
}

int readDsdData(DsdiffInfo* info, uint8_t* buf, int size) {
    int n = size / 8 * 8;
    int i = 0;
    uint8_t frame[DSD_MAX_CHANNELS] = {};
    if (info->left_channel >= DSD_MAX_CHANNELS || info->right_channel >= DSD_MAX_CHANNELS) return 0;
    while (i < n) {
        if (info->channel_count == 0 || info->channel_count > DSD_MAX_CHANNELS ||
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

using Field = HeaderField<DsdiffInfo>;

uint64_t form_size(const DsdiffInfo& d) { return d.data_size + (DSDIFF_HEADER_SIZE - 12); }
uint64_t rate(const DsdiffInfo& d) { return d.sample_rate; }
uint64_t sound_size(const DsdiffInfo& d) { return d.data_size; }

// Two uncompressed channels: the property chunk (rate, channels,
// compression), the format version 1.5.0.0, then the sound chunk's start.
constexpr Field LAYOUT[] = {
    {"form", 0, 4, "FRM8", nullptr, DSDIFF_HEADER_WRITE},
    {"form_size", 4, 8, nullptr, form_size, DSDIFF_HEADER_WRITE},
    {"prop", 12, 32, "DSD " "PROP\0\0\0\0\0\0\0\x4A" "SND " "FS  \0\0\0\0\0\0\0\x04", nullptr, DSDIFF_HEADER_WRITE},
    {"rate", 44, 4, nullptr, rate, DSDIFF_HEADER_WRITE},
    {"chnl_cmpr_fver", 48, 74,
     "CHNL\0\0\0\0\0\0\0\x0A" "\0\x02" "SLFTSRGT"
     "CMPR\0\0\0\0\0\0\0\x14" "DSD " "\x0E" "not compressed" "\0"
     "FVER\0\0\0\0\0\0\0\x04" "\x01\x05\0\0"
     "DSD ",
     nullptr, DSDIFF_HEADER_WRITE},
    {"sound_size", 122, 8, nullptr, sound_size, DSDIFF_HEADER_WRITE},
};
static_assert(fields_contiguous<DsdiffInfo>(LAYOUT, DSDIFF_HEADER_SIZE));

}  // namespace

std::span<const HeaderField<DsdiffInfo>> dsdiff_layout() { return LAYOUT; }

// Built in memory and written in one piece.
int dsdiffWriteHeader(DsdiffInfo* info) {
    unsigned char header[DSDIFF_HEADER_SIZE];
    fill_fields<DsdiffInfo>(LAYOUT, *info, true, header);
    fseeko(info->file, 0, SEEK_SET);
    if (std::fwrite(header, sizeof header, 1, info->file) != 1) report_exit(DSDIFF_HEADER_WRITE);
    return 0;
}
