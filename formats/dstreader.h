// DST frames read in order on the caller's thread and decoded ahead on the
// worker threads: the sound comes out frame by frame in file order, as from
// dstReadFrame, and a corrupt or missing frame ends it after exactly the
// frames before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "dsdiff.h"
#include "dst.h"
#include "workers.h"

struct DstReader;

struct DstSlot {
    Job job;
    DstReader* reader = nullptr;
    std::vector<uint8_t> coded;  // the frame, then DST_PAD zeros
    size_t size = 0;
    int channels = 0;
    uint32_t bits = 0;
    std::vector<uint8_t> sound;
    DstError error = DST_OK;
};

struct DstReader {
    DsdiffInfo* info = nullptr;
    Workers* pool = nullptr;
    std::vector<DstSlot> slots;  // frame i in slots[i % size]
    uint64_t taken = 0;          // frames handed out
    uint64_t queued = 0;         // frames read and queued
    bool read_ended = false;     // all frames read, or the one after the last queued failed
    DstError read_error = DST_OK;
    bool failed = false;         // a failure was handed out: nothing more comes
    // Decoding tables not in use: as many are made as frames are decoded at
    // once, not one per thread that ever decoded.
    std::mutex spare_lock;
    std::vector<DstTables*> spare;
};

// Frames in flight per worker: one being decoded, two waiting, so that a
// worker finds the next frame queued while this thread takes the oldest.
// At most DST_READER_MAX_FRAMES in all, which bounds the memory (frames and
// tables) at any thread count.
constexpr int32_t DST_READER_FRAMES_PER_THREAD = 3;
constexpr int32_t DST_READER_MAX_FRAMES = 16;

// Makes `reader` read the DST sound chunk that readDsdHeader left `info` at,
// with `threads` workers of `pool` (a null pool decodes each frame when it
// is asked for). The pool must outlive the reader, and a reader used before
// must have been closed.
void dst_reader_init(DstReader* reader, DsdiffInfo* info, Workers* pool, int32_t threads);

// The next frame's sound (dst_sound_bytes(*info) bytes, valid until the next
// call): 0 with *sound set, 1 after the last frame, -1 when the frame is
// corrupt or missing, reported with its index as dstReadFrame reports it;
// every call after that returns -1 without reading.
int dst_reader_next(DstReader* reader, const uint8_t** sound);

// Waits for the frames still being decoded and releases what the reader
// holds; it is empty after it.
void dst_reader_close(DstReader* reader);
