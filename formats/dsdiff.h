// DSDIFF ("FRM8" form of type "DSD ") header reader, two-channel header
// writer and a frame reader for one channel pair.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "dsdlimits.h"
#include "layout.h"
#include "report.h"

struct DsdiffInfo {
    FILE* file;
    uint64_t data_size;      // size of the "DSD " sound chunk in bytes
    uint32_t version;        // FVER value, e.g. 0x01050000 for 1.5.0.0
    uint32_t sample_rate;    // Hz, from PROP/FS
    uint16_t channel_count;  // from PROP/CHNL, at most 10
    uint16_t left_channel;   // channel delivered first by readDsdData
    uint16_t right_channel;  // channel delivered second by readDsdData
    char channel_ids[DSD_MAX_CHANNELS][5];  // 4 bytes as stored + NUL
    // The sound chunk's kind. For DST, data_size is the decoded length
    // (frames x rate / 600 x channels) and the frames are read with
    // dstReadFrame (dst.h).
    uint32_t compression;    // DSDIFF_PLAIN or DSDIFF_DST
    uint32_t frame_count;    // DST: frames announced by FRTE
    uint32_t frames_read;    // DST: frames taken by dstReadFrame so far
    uint64_t dst_remaining;  // DST: bytes of the sound chunk not walked yet
};

constexpr uint32_t DSDIFF_PLAIN = 0;
constexpr uint32_t DSDIFF_DST = 1;

// The header reader's reports: where it stopped, with no text. They are
// printed in reporting mode only, and the reader returns instead of ending.
constexpr Report DSDIFF_ID_SHORT{"dsdiff", 38, 0, "\n"};       // an identifier cut short
constexpr Report DSDIFF_ID_WRONG{"dsdiff", 42, 0, "\n"};       // an identifier other than expected
constexpr Report DSDIFF_FORM_ID{"dsdiff", 57, 0, "\n"};        // no "FRM8"
constexpr Report DSDIFF_FORM_SIZE{"dsdiff", 61, 0, "\n"};
constexpr Report DSDIFF_FORM_TYPE{"dsdiff", 66, 0, "\n"};      // no "DSD " form type
constexpr Report DSDIFF_CHUNK_ID{"dsdiff", 75, 0, "\n"};       // the end of the file before the sound
constexpr Report DSDIFF_CHUNK_SIZE{"dsdiff", 79, 0, "\n"};     // unreadable, too large or not skippable
constexpr Report DSDIFF_FVER_VALUE{"dsdiff", 86, 0, "\n"};
constexpr Report DSDIFF_FVER_SIZE{"dsdiff", 90, 0, "\n"};
constexpr Report DSDIFF_PROP_TYPE{"dsdiff", 97, 0, "\n"};      // no "SND "
constexpr Report DSDIFF_SUB_ID{"dsdiff", 106, 0, "\n"};
constexpr Report DSDIFF_SUB_SIZE{"dsdiff", 110, 0, "\n"};      // unreadable, too large or not skippable
constexpr Report DSDIFF_FS_VALUE{"dsdiff", 116, 0, "\n"};
constexpr Report DSDIFF_FS_SIZE{"dsdiff", 120, 0, "\n"};
constexpr Report DSDIFF_CHNL_COUNT{"dsdiff", 126, 0, "\n"};
constexpr Report DSDIFF_CHNL_TOO_MANY{"dsdiff", 130, 0, "\n"};
constexpr Report DSDIFF_CHNL_ID{"dsdiff", 136, 0, "\n"};
constexpr Report DSDIFF_CHNL_SIZE{"dsdiff", 142, 0, "\n"};
constexpr Report DSDIFF_CMPR_TYPE{"dsdiff", 149, 0, "\n"};
constexpr Report DSDIFF_CMPR_UNKNOWN{"dsdiff", 154, 0, "\n"};  // neither "DSD " nor "DST "
constexpr Report DSDIFF_CMPR_COUNT{"dsdiff", 158, 0, "\n"};
constexpr Report DSDIFF_CMPR_NAME{"dsdiff", 163, 0, "\n"};     // cut short or not 7-bit
constexpr Report DSDIFF_CMPR_PAD{"dsdiff", 169, 0, "\n"};
constexpr Report DSDIFF_ABSS_HOURS{"dsdiff", 180, 0, "\n"};
constexpr Report DSDIFF_ABSS_SAMPLES{"dsdiff", 186, 0, "\n"};
constexpr Report DSDIFF_ABSS_SIZE{"dsdiff", 190, 0, "\n"};
constexpr Report DSDIFF_LSCO_VALUE{"dsdiff", 197, 0, "\n"};
constexpr Report DSDIFF_LSCO_SIZE{"dsdiff", 201, 0, "\n"};
constexpr Report DSDIFF_DST_FRTE{"dsdiff", 216, 0, "\n"};      // a DST chunk without FRTE (6 bytes) first
constexpr Report DSDIFF_DST_FRAME_RATE{"dsdiff", 217, 0, "\n"};  // FRTE's frame rate is not 75
constexpr Report DSDIFF_DST_SHAPE{"dsdiff", 218, 0, "\n"};      // no DST frame at this rate or channel count
constexpr Report DSDIFF_NO_SOUND{"dsdiff", 237, 0, "\n"};      // the form ends without a sound chunk
// The writer's one report, which ends the process.
constexpr Report DSDIFF_HEADER_WRITE{"dsdiff", 275, 276, "Header write error.\n"};

// Reporting mode of the header reader, set once by a program at start:
// 0 = silent (the default), non-zero = each failure prints its report.
extern int dsdiff_reporting;

// 0 on success with the stream at the first sound byte (for DST: at the
// first sub-chunk after FRTE); -1 on failure.
int readDsdHeader(DsdiffInfo* info);

// Reads 4 bytes; 0 when they equal `expected`, -1 when short or different.
int read_and_compare_4bytes(FILE* f, const char* expected);

// Fills buf with (left, right) byte pairs of successive frames; returns the
// number of bytes stored, always a multiple of 8 (a partial group at the end
// of the stream is completed with 0x96).
int readDsdData(DsdiffInfo* info, uint8_t* buf, int size);

constexpr int DSDIFF_HEADER_SIZE = 130;

// The two-channel header, field by field.
std::span<const HeaderField<DsdiffInfo>> dsdiff_layout();

// Writes the 130-byte two-channel header for info->sample_rate and
// info->data_size at the start of info->file. Returns 0, or ends the process.
int dsdiffWriteHeader(DsdiffInfo* info);
