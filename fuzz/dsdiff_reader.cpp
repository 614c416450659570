// readDsdHeader, then readDsdData for one channel pair, over the input as a
// stream (the last byte picks the reporting mode and the pair); a header
// that reads is written back as a two-channel header, byte for byte as the
// layouts say, and must read back.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t sel = data[size - 1];
    dsdiff_reporting = sel & 1;
    DsdiffInfo info{};
    info.file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (readDsdHeader(&info) != 0) return std::fclose(info.file), 0;
    if (info.channel_count > DSD_MAX_CHANNELS) fuzzhook::fail("%d channels accepted", info.channel_count);
    // Pairs of the chosen channels while frames last (a last group of 8 is completed).
    const uint64_t start = static_cast<uint64_t>(std::ftell(info.file));
    const int channels = std::max<int>(info.channel_count, 1);
    info.left_channel = static_cast<uint16_t>((sel >> 1) % channels);
    info.right_channel = static_cast<uint16_t>((sel >> 4) % channels);
    uint8_t buf[40];
    for (uint64_t done = 0; readDsdData(&info, buf, sizeof buf) == 40; done += 20)
        if (done + 17 > (size - start) / channels || buf[1] != data[start + done * channels + info.right_channel])
            fuzzhook::fail("pairs beyond the frames present, or not the chosen channel's");
    std::fclose(info.file);
    char* mem = nullptr;
    size_t mem_size = 0;
    DsdiffInfo w{.file = open_memstream(&mem, &mem_size), .data_size = info.data_size, .sample_rate = info.sample_rate};
    dsdiffWriteHeader(&w);
    std::fclose(w.file);
    const lay::Bytes want = lay::dsdiff_pair_header(info.sample_rate, info.data_size);
    DsdiffInfo r{.file = fmemopen(mem, mem_size, "rb")};
    if (mem_size != want.size() || std::memcmp(mem, want.data(), want.size()) != 0 || readDsdHeader(&r) != 0 ||
        r.sample_rate != info.sample_rate || r.data_size != info.data_size)
        fuzzhook::fail("the written header is not the layout's or does not read back");
    std::fclose(r.file);
    std::free(mem);
    return 0;
}
