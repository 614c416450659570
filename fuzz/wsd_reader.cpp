// WSD header reader, then its frame reader, over the fuzz input as a stream;
// a header that reads is also written back out in both size layouts and
// read again.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "harness.h"
#include "wsd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (f == nullptr) return 0;

    WsdInfo info{};
    info.file = f;
    if (readWsdHeader(&info) != 0) {
        std::fclose(f);
        return 0;
    }
    if (info.channel_count > 10) fuzzhook::fail("channel count %d accepted", info.channel_count);
    if (static_cast<uint64_t>(std::ftell(f)) != info.data_offset) fuzzhook::fail("not at the data offset");

    if (info.channel_count >= 2) {
        const uint64_t frames_present =
            info.data_offset < size ? (size - info.data_offset) / info.channel_count : 0;
        std::vector<uint8_t> buf(29);
        uint64_t pairs = 0;
        for (;;) {
            const int capacity = static_cast<int>(buf.size());
            const uint64_t full = static_cast<uint64_t>(capacity) / 8 * 8;
            const int n = readWsdData(&info, buf.data(), capacity);
            const uint64_t left = frames_present - pairs;
            // Whole pairs as long as frames last, then the last group of 8
            // completed with 0x96.
            const uint64_t want = left * 2 >= full ? full : (left * 2 + 7) / 8 * 8;
            if (n < 0 || static_cast<uint64_t>(n) != want)
                fuzzhook::fail("readWsdData returned %d for %d with %llu frames left", n, capacity,
                               static_cast<unsigned long long>(left));
            const uint64_t got = std::min<uint64_t>(left, full / 2);
            for (uint64_t i = 0; i < got; ++i) {
                const uint8_t* frame = data + static_cast<uint64_t>(info.data_offset) + (pairs + i) * info.channel_count;
                if (buf[2 * i] != frame[0] || buf[2 * i + 1] != frame[1])
                    fuzzhook::fail("pair %llu differs from the input", static_cast<unsigned long long>(pairs + i));
            }
            for (uint64_t i = got * 2; i < static_cast<uint64_t>(n); ++i)
                if (buf[i] != 0x96) fuzzhook::fail("filler byte %02x", buf[i]);
            pairs += got;
            if (left * 2 < full) break;
        }
    }
    std::fclose(f);

    // Both layouts of the file size are 2048 bytes; the default one reads
    // back with every value the reader keeps.
    for (int order : {WSD_SIZE_BE64, WSD_SIZE_LOW_HALF_FIRST}) {
        wsd_size_order = order;
        char* mem = nullptr;
        size_t mem_size = 0;
        FILE* out = open_memstream(&mem, &mem_size);
        if (out == nullptr) return 0;
        WsdInfo w = info;
        w.file = out;
        writeWsdHeader(&w);
        std::fclose(out);
        if (mem_size != WSD_HEADER_SIZE) fuzzhook::fail("header of %zu bytes", mem_size);
        if (order == WSD_SIZE_LOW_HALF_FIRST) {
            FILE* back = fmemopen(mem, mem_size, "rb");
            WsdInfo r{};
            r.file = back;
            if (readWsdHeader(&r) != 0 || r.file_size != info.file_size || r.sample_rate != info.sample_rate ||
                r.channel_count != info.channel_count || r.version != info.version || r.data_offset != 2048)
                fuzzhook::fail("written header does not read back");
            std::fclose(back);
        }
        std::free(mem);
    }
    return 0;
}
