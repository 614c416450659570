// Single-producer, single-consumer byte ring buffer between the converter's
// main thread (which puts PCM frames) and its writer thread (which writes
// contiguous runs to the file). No lock: each index has exactly one writer.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

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

// The operations below run once per frame or per pass: inline.

// An index plus at most `len` taken modulo `len`, without a division.
inline uint32_t wrap_index(const Ringbuffer* rb, uint64_t i) {
    return static_cast<uint32_t>(i >= rb->len ? i - rb->len : i);
}

// Producer side: bytes that may still be put (one unit is kept free).
inline int32_t ringbuffer_space(const Ringbuffer* rb) {
    // Acquire: the consumer publishes read_pos only after the bytes before it
    // have gone out, so the storage up to there may be reused.
    const int64_t r = rb->read_pos.load(std::memory_order_acquire);
    const int64_t w = rb->write_pos.load(std::memory_order_relaxed);
    int64_t d = r - w;
    if (d <= 0) d += rb->len;
    d -= rb->unit;
    return static_cast<int32_t>(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));
}

// Consumer side (and status display): bytes held.
inline uint32_t ringbuffer_level(const Ringbuffer* rb) {
    // Acquire: the bytes below write_pos are in place once it is seen.
    const uint32_t w = rb->write_pos.load(std::memory_order_acquire);
    const uint32_t r = rb->read_pos.load(std::memory_order_acquire);
    return wrap_index(rb, static_cast<uint64_t>(w) + rb->len - r);
}

// Copies up to `count` bytes in, as far as the space allows, and publishes
// them. Returns the number copied; 0 means full.
inline uint32_t ringbuffer_put(Ringbuffer* rb, const void* data, uint32_t count) {
    const int32_t space = ringbuffer_space(rb);
    const uint32_t k = std::min(space < 0 ? 0u : static_cast<uint32_t>(space), count);
    if (k == 0) return 0;
    const uint32_t w = rb->write_pos.load(std::memory_order_relaxed);
    const uint32_t tail = rb->len - w;
    const auto* src = static_cast<const uint8_t*>(data);
    if (k == count && tail >= count) {
        // Whole and unwrapped, the usual case: a copy of known size.
        std::memcpy(rb->buffer + w, src, count);
    } else if (tail < k) {
        std::memcpy(rb->buffer + w, src, tail);
        std::memcpy(rb->buffer, src + tail, k - tail);
    } else {
        std::memcpy(rb->buffer + w, src, k);
    }
    // Release: publish the index only once the bytes are in place.
    rb->write_pos.store(wrap_index(rb, static_cast<uint64_t>(w) + k), std::memory_order_release);
    return k;
}

// Consumer side: the bytes held from read_pos up to the end of the storage
// at most (a run never wraps).
inline uint32_t ringbuffer_run(const Ringbuffer* rb) {
    const uint32_t level = ringbuffer_level(rb);
    const uint32_t r = rb->read_pos.load(std::memory_order_relaxed);
    return std::min(level, rb->len - r);
}

// Consumer side: marks k bytes at read_pos as handed out.
inline void ringbuffer_advance(Ringbuffer* rb, uint32_t k) {
    const uint32_t r = rb->read_pos.load(std::memory_order_relaxed);
    // Release: the producer may overwrite these bytes once it sees the index.
    rb->read_pos.store(wrap_index(rb, static_cast<uint64_t>(r) + k), std::memory_order_release);
}

// Producer side: no more data will come.
inline void ringbuffer_finish(Ringbuffer* rb) {
    // Release after the last write_pos store: whoever sees the flag cleared
    // also sees every frame put before it.
    rb->producing.store(0, std::memory_order_release);
}

// The producer has finished and everything has been taken out.
inline bool ringbuffer_drained(const Ringbuffer* rb) {
    if (rb->producing.load(std::memory_order_acquire) != 0) return false;
    return rb->read_pos.load(std::memory_order_acquire) ==
           rb->write_pos.load(std::memory_order_acquire);
}
