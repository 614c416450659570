// readWsdHeader, then readWsdData, over the input as a stream; a header
// that reads is written back in both size layouts, byte for byte as the
// layouts say, and the default one must read back.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    WsdInfo info{};
    info.file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (readWsdHeader(&info) != 0) return std::fclose(info.file), 0;
    if (info.channel_count > 10 || static_cast<uint64_t>(std::ftell(info.file)) != info.data_offset)
        fuzzhook::fail("header of %d channels, at %ld", info.channel_count, std::ftell(info.file));
    uint8_t buf[40];
    const uint64_t frames = info.data_offset < size && info.channel_count ? (size - info.data_offset) / info.channel_count : 0;
    for (uint64_t done = 0; readWsdData(&info, buf, sizeof buf) == 40; done += 20)
        if (info.channel_count < 2 || done + 17 > frames || buf[1] != data[info.data_offset + done * info.channel_count + 1])
            fuzzhook::fail("pairs beyond the frames present, or not channel 1's");
    std::fclose(info.file);
    for (int order : {WSD_SIZE_BE64, WSD_SIZE_LOW_HALF_FIRST}) {
        wsd_size_order = order;
        char* mem = nullptr;
        size_t mem_size = 0;
        WsdInfo w = info, r{};
        w.file = open_memstream(&mem, &mem_size);
        writeWsdHeader(&w);
        std::fclose(w.file);
        const lay::Bytes want = lay::wsd_header({info.version, info.file_size, info.play_time, info.sample_rate,
                                                 info.channel_count, info.channel_assignment, info.extra_38,
                                                 info.extra_40, info.extra_48}, order == WSD_SIZE_BE64);
        r.file = fmemopen(mem, mem_size, "rb");
        if (mem_size != want.size() || std::memcmp(mem, want.data(), want.size()) != 0 ||
            (order == WSD_SIZE_LOW_HALF_FIRST && (readWsdHeader(&r) != 0 || r.file_size != info.file_size)))
            fuzzhook::fail("the written header is not the layout's or does not read back");
        std::fclose(r.file);
        std::free(mem);
    }
    return 0;
}
