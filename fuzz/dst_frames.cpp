// The DST frame decoder on arbitrary bytes. A DSDIFF file (the generator's
// seeds and what the fuzzer makes of them) goes through readDsdHeader and
// dstReadFrame frame by frame; any other input is one frame, its first byte
// choosing the channel count and the rate. A plain frame must come out as
// stored; nothing may read or write outside its buffers.
#include "dst.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint8_t out[DST_MAX_SOUND_BYTES + 1];
    if (size == 0) return 0;
    if (size >= 4 && std::memcmp(data, "FRM8", 4) == 0) {
        DsdiffInfo info{};
        info.file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (readDsdHeader(&info) == 0 && info.compression == DSDIFF_DST) {
            if (dst_sound_bytes(info) * info.frame_count != info.data_size) fuzzhook::fail("decoded length is not the frames'");
            while (dstReadFrame(&info, out) == 0) {
            }
        }
        return std::fclose(info.file), 0;
    }
    const int channels = data[0] % 10 + 1;
    const uint32_t bits = dst_frame_bits(2822400u << (data[0] / 10 % 3));
    const size_t sound = bits / 8 * static_cast<size_t>(channels);
    out[sound] = 0xA5;
    const DstError err = dst_decode_frame(data + 1, size - 1, channels, bits, out);
    if (out[sound] != 0xA5) fuzzhook::fail("decoded past the sound");
    if (err == DST_OK && size > 1 && (data[1] & 0x80) == 0 && std::memcmp(out, data + 2, sound) != 0)
        fuzzhook::fail("plain frame not as stored");
    return 0;
}
