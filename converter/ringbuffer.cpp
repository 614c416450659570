#include "ringbuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

Ringbuffer* soundbuffer = nullptr;

Ringbuffer* ringbuffer_new(uint32_t size, uint32_t unit) {
    if (unit == 0) return nullptr;
    const uint32_t len = size - size % unit;
    // Without a whole unit of storage the modulo arithmetic has no base.
    if (len == 0) return nullptr;
    auto* rb = new (std::nothrow) Ringbuffer;
    if (rb == nullptr) return nullptr;
    rb->buffer = new (std::nothrow) uint8_t[size];
    if (rb->buffer == nullptr) {
        delete rb;
        return nullptr;
    }
    rb->marker = nullptr;
    rb->marker_countdown = 0;
    rb->size = size;
    rb->len = len;
    rb->unit = unit;
    rb->read_pos.store(0, std::memory_order_relaxed);
    rb->write_pos.store(0, std::memory_order_relaxed);
    rb->producing.store(1, std::memory_order_relaxed);
    return rb;
}

void ringbuffer_destroy(Ringbuffer** p) {
    if (p == nullptr || *p == nullptr) return;
    delete[] (*p)->buffer;
    delete *p;
    *p = nullptr;
}

int32_t ringbuffer_space(const Ringbuffer* rb) {
    // Acquire: the consumer publishes read_pos only after the bytes before it
    // have gone out, so the storage up to there may be reused.
    const int64_t r = rb->read_pos.load(std::memory_order_acquire);
    const int64_t w = rb->write_pos.load(std::memory_order_relaxed);
    int64_t d = r - w;
    if (d <= 0) d += rb->len;
    d -= rb->unit;
    return static_cast<int32_t>(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));
}

uint32_t ringbuffer_level(const Ringbuffer* rb) {
    // Acquire: the bytes below write_pos are in place once it is seen.
    const uint32_t w = rb->write_pos.load(std::memory_order_acquire);
    const uint32_t r = rb->read_pos.load(std::memory_order_acquire);
    return static_cast<uint32_t>((static_cast<uint64_t>(w) + rb->len - r) % rb->len);
}

uint32_t ringbuffer_put(Ringbuffer* rb, const void* data, uint32_t count) {
    const int32_t space = ringbuffer_space(rb);
    const uint32_t k = std::min(space < 0 ? 0u : static_cast<uint32_t>(space), count);
    if (k == 0) return 0;
    const uint32_t w = rb->write_pos.load(std::memory_order_relaxed);
    const uint32_t tail = rb->len - w;
    const auto* src = static_cast<const uint8_t*>(data);
    if (tail < k) {
        std::memcpy(rb->buffer + w, src, tail);
        std::memcpy(rb->buffer, src + tail, k - tail);
    } else {
        std::memcpy(rb->buffer + w, src, k);
    }
    // Release: publish the index only once the bytes are in place.
    rb->write_pos.store(static_cast<uint32_t>((static_cast<uint64_t>(w) + k) % rb->len),
                        std::memory_order_release);
    return k;
}

uint32_t ringbuffer_run(const Ringbuffer* rb) {
    const uint32_t level = ringbuffer_level(rb);
    const uint32_t r = rb->read_pos.load(std::memory_order_relaxed);
    return std::min(level, rb->len - r);
}

void ringbuffer_advance(Ringbuffer* rb, uint32_t k) {
    const uint32_t r = rb->read_pos.load(std::memory_order_relaxed);
    // Release: the producer may overwrite these bytes once it sees the index.
    rb->read_pos.store(static_cast<uint32_t>((static_cast<uint64_t>(r) + k) % rb->len),
                       std::memory_order_release);
}

void ringbuffer_finish(Ringbuffer* rb) {
    // Release after the last write_pos store: whoever sees the flag cleared
    // also sees every frame put before it.
    rb->producing.store(0, std::memory_order_release);
}

bool ringbuffer_drained(const Ringbuffer* rb) {
    if (rb->producing.load(std::memory_order_acquire) != 0) return false;
    return rb->read_pos.load(std::memory_order_acquire) ==
           rb->write_pos.load(std::memory_order_acquire);
}
