#include "ringbuffer.h"

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

