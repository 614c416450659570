// DSDIFF header reader, then the frame reader for one channel pair, over the
// fuzz input as a stream; a header that reads is also written back out as a
// two-channel header and read again.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dsdiff.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (f == nullptr) return 0;

    // The last byte picks the reporting mode and the channel pair.
    const uint8_t selector = data[size - 1];
    dsdiff_reporting = selector & 1;

    DsdiffInfo info{};
    info.file = f;
    if (readDsdHeader(&info) != 0) {
        std::fclose(f);
        return 0;
    }
    if (info.channel_count > DSDIFF_MAX_CHANNELS) fuzzhook::fail("channel count %d accepted", info.channel_count);
    for (int i = 0; i < info.channel_count; ++i)
        if (info.channel_ids[i][4] != '\0') fuzzhook::fail("identifier %d not terminated", i);
    const long sound_start = std::ftell(f);

    if (info.channel_count > 0) {
        info.left_channel = static_cast<uint16_t>((selector >> 1) % info.channel_count);
        info.right_channel = static_cast<uint16_t>((selector >> 4) % info.channel_count);
        // Frames actually present after the header.
        const uint64_t frames_present = (size - static_cast<uint64_t>(sound_start)) / info.channel_count;
        std::vector<uint8_t> buf(37);
        uint64_t pairs = 0;
        for (;;) {
            const int capacity = static_cast<int>(buf.size());
            const uint64_t full = static_cast<uint64_t>(capacity) / 8 * 8;
            const int n = readDsdData(&info, buf.data(), capacity);
            const uint64_t left = frames_present - pairs;
            // Whole pairs as long as frames last, then the last group of 8
            // completed with 0x96.
            const uint64_t want = left * 2 >= full ? full : (left * 2 + 7) / 8 * 8;
            if (n < 0 || static_cast<uint64_t>(n) != want)
                fuzzhook::fail("readDsdData returned %d for %d with %llu frames left", n, capacity,
                               static_cast<unsigned long long>(left));
            const uint64_t got = std::min<uint64_t>(left, full / 2);
            for (uint64_t i = 0; i < got; ++i) {
                const uint8_t* frame = data + static_cast<uint64_t>(sound_start) + (pairs + i) * info.channel_count;
                if (buf[2 * i] != frame[info.left_channel] || buf[2 * i + 1] != frame[info.right_channel])
                    fuzzhook::fail("pair %llu differs from the input", static_cast<unsigned long long>(pairs + i));
            }
            for (uint64_t i = got * 2; i < static_cast<uint64_t>(n); ++i)
                if (buf[i] != 0x96) fuzzhook::fail("filler byte %02x", buf[i]);
            pairs += got;
            if (left * 2 < full) break;
        }
    }
    std::fclose(f);

    // Written back as a two-channel header, it must read as what was written.
    char* mem = nullptr;
    size_t mem_size = 0;
    FILE* out = open_memstream(&mem, &mem_size);
    if (out == nullptr) return 0;
    DsdiffInfo w{};
    w.file = out;
    w.sample_rate = info.sample_rate;
    w.data_size = info.data_size;
    dsdiffWriteHeader(&w);
    std::fclose(out);
    if (mem_size != DSDIFF_HEADER_SIZE) fuzzhook::fail("header of %zu bytes", mem_size);
    FILE* back = fmemopen(mem, mem_size, "rb");
    DsdiffInfo r{};
    r.file = back;
    if (readDsdHeader(&r) != 0 || r.sample_rate != info.sample_rate || r.data_size != info.data_size ||
        r.channel_count != 2 || std::strcmp(r.channel_ids[0], "SLFT") != 0 ||
        std::strcmp(r.channel_ids[1], "SRGT") != 0 || r.version != 0x01050000u || std::ftell(back) != DSDIFF_HEADER_SIZE)
        fuzzhook::fail("written header does not read back");
    std::fclose(back);
    std::free(mem);
    return 0;
}
