// DSDIFF ("FRM8" form of type "DSD ") header reader, two-channel header
// writer and a frame reader for one channel pair.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int DSDIFF_MAX_CHANNELS = 10;

struct DsdiffInfo {
    FILE* file;
    uint64_t data_size;      // size of the "DSD " sound chunk in bytes
    uint32_t version;        // FVER value, e.g. 0x01050000 for 1.5.0.0
    uint32_t sample_rate;    // Hz, from PROP/FS
    uint16_t channel_count;  // from PROP/CHNL, at most 10
    uint16_t left_channel;   // channel delivered first by readDsdData
    uint16_t right_channel;  // channel delivered second by readDsdData
    char channel_ids[DSDIFF_MAX_CHANNELS][5];  // 4 bytes as stored + NUL
};

// Reporting mode of the header reader, set once by a program at start:
// 0 = silent (the default), non-zero = each failure prints its report.
extern int dsdiff_reporting;

// 0 on success with the stream at the first sound byte; -1 on failure.
int readDsdHeader(DsdiffInfo* info);

// Reads 4 bytes; 0 when they equal `expected`, -1 when short or different.
int read_and_compare_4bytes(FILE* f, const char* expected);

// Fills buf with (left, right) byte pairs of successive frames; returns the
// number of bytes stored, always a multiple of 8 (a partial group at the end
// of the stream is completed with 0x96).
int readDsdData(DsdiffInfo* info, uint8_t* buf, int size);

// Writes the 130-byte two-channel header for info->sample_rate and
// info->data_size at the start of info->file. Returns 0, or ends the process.
int dsdiffWriteHeader(DsdiffInfo* info);

constexpr int DSDIFF_HEADER_SIZE = 130;
