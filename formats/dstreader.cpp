#include "dstreader.h"

#include <algorithm>

namespace {

void decode_slot(void* arg) {
    auto* slot = static_cast<DstSlot*>(arg);
    DstReader* r = slot->reader;
    DstTables* tables = nullptr;
    {
        std::lock_guard<std::mutex> hold(r->spare_lock);
        if (!r->spare.empty()) {
            tables = r->spare.back();
            r->spare.pop_back();
        }
    }
    if (tables == nullptr) tables = dst_tables_new();
    slot->error = dst_decode_padded(tables, slot->coded.data(), slot->size, slot->channels, slot->bits, slot->sound.data());
    if (tables == nullptr) return;
    std::lock_guard<std::mutex> hold(r->spare_lock);
    r->spare.push_back(tables);
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
    reader->info = info;
    reader->pool = pool;
    reader->taken = reader->queued = 0;
    reader->read_ended = reader->failed = false;
    reader->read_error = DST_OK;
    const int32_t slots =
        pool == nullptr ? 1 : std::min(std::max(threads, 1) * DST_READER_FRAMES_PER_THREAD, DST_READER_MAX_FRAMES);
    reader->slots = std::vector<DstSlot>(static_cast<size_t>(slots));
    for (DstSlot& s : reader->slots) {
        s.job = {decode_slot, &s, true};
        s.reader = reader;
    }
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
    for (DstTables* t : reader->spare) dst_tables_free(t);
    reader->spare.clear();
}
