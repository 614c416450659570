// Single-producer, single-consumer byte ring buffer between the converter's
// main thread (which puts PCM frames) and its writer thread (which writes
// contiguous runs to the file). No lock: each index has exactly one writer.
#pragma once

#include <atomic>
#include <cstdint>

struct Ringbuffer {
    void* marker;              // never set in this program: always null
    int32_t marker_countdown;  // meaningful only while marker is set
    uint8_t* buffer;           // `size` bytes of storage
    uint32_t size;             // capacity as requested
    uint32_t len;              // usable length: size rounded down to a unit
    std::atomic<uint32_t> read_pos;   // written by the consumer only
    std::atomic<uint32_t> write_pos;  // written by the producer only
    uint32_t unit;                    // element size; one unit always stays free
    std::atomic<uint32_t> producing;  // 1 until the producer's input ends
};

static_assert(std::atomic<uint32_t>::is_always_lock_free);

// The converter's only buffer, set by main before the writer thread exists.
extern Ringbuffer* soundbuffer;

// A new buffer, or null for a zero unit, a size below one unit or a failed
// allocation.
Ringbuffer* ringbuffer_new(uint32_t size, uint32_t unit);

// Releases *p and sets it to null; nothing happens when *p is already null.
void ringbuffer_destroy(Ringbuffer** p);

// Producer side: bytes that may still be put (one unit is kept free).
int32_t ringbuffer_space(const Ringbuffer* rb);

// Consumer side (and status display): bytes held.
uint32_t ringbuffer_level(const Ringbuffer* rb);

// Copies up to `count` bytes in, as far as the space allows, and publishes
// them. Returns the number copied; 0 means full.
uint32_t ringbuffer_put(Ringbuffer* rb, const void* data, uint32_t count);

// Consumer side: the bytes held from read_pos up to the end of the storage
// at most (a run never wraps).
uint32_t ringbuffer_run(const Ringbuffer* rb);

// Consumer side: marks k bytes at read_pos as handed out.
void ringbuffer_advance(Ringbuffer* rb, uint32_t k);

// Producer side: no more data will come.
void ringbuffer_finish(Ringbuffer* rb);

// The producer has finished and everything has been taken out.
bool ringbuffer_drained(const Ringbuffer* rb);
