#include "dstreader.h"

#include <algorithm>

namespace {

void decode_slot(void* arg) {
    auto* slot = static_cast<DstSlot*>(arg);
    slot->error = dst_decode_padded(slot->coded.data(), slot->size, slot->channels, slot->bits, slot->sound.data());
}

// Reads frames and queues them until every slot is busy; the slot of the
// frame handed out last is free again, as its sound is no longer used.
void read_ahead(DstReader* r) {
    while (!r->read_ended && r->queued - r->taken < r->slots.size()) {
        DstSlot& slot = r->slots[r->queued % r->slots.size()];
        const int got = dstReadCoded(r->info, slot.coded, &slot.size, &r->read_error);
        if (got != 0) {
            r->read_ended = true;
            return;
        }
        slot.channels = r->info->channel_count;
        slot.bits = dst_frame_bits(r->info->sample_rate);
        slot.sound.resize(dst_sound_bytes(*r->info));
        slot.error = DST_OK;
        workers_submit(r->pool, &slot.job);
        r->queued++;
    }
}

}  // namespace

void dst_reader_init(DstReader* reader, DsdiffInfo* info, Workers* pool, int32_t threads) {
    *reader = DstReader{};
    reader->info = info;
    reader->pool = pool;
    const int32_t slots = pool == nullptr ? 1 : std::max(threads, 1) * DST_READER_FRAMES_PER_THREAD;
    reader->slots = std::vector<DstSlot>(static_cast<size_t>(slots));
    for (DstSlot& s : reader->slots) s.job = {decode_slot, &s, true};
}

int dst_reader_next(DstReader* r, const uint8_t** sound) {
    if (r->failed || r->slots.empty()) return -1;
    read_ahead(r);
    if (r->taken == r->queued) {
        if (r->read_error == DST_OK) return 1;
        // The frame after the last one queued.
        dst_report(r->read_error, r->info->frames_read);
        r->failed = true;
        return -1;
    }
    DstSlot& slot = r->slots[r->taken % r->slots.size()];
    workers_wait(r->pool, &slot.job);
    if (slot.error != DST_OK) {
        dst_report(slot.error, r->taken);
        r->failed = true;
        return -1;
    }
    *sound = slot.sound.data();
    r->taken++;
    return 0;
}

void dst_reader_close(DstReader* reader) {
    for (DstSlot& s : reader->slots) workers_wait(reader->pool, &s.job);
    reader->slots.clear();
}
