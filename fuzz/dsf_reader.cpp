// readDsfHeader, then readDsfSound in pieces that the last byte picks, over
// the input as a stream: each byte handed out must be the one the layout
// puts there (bits reversed unless 8 bits per sample), as many as there are
// whole frames present and declared. Then the tag readers on the input (as
// an ID3v2 tag, as a DSDIFF file, at the DSF metadata offset), and the wave
// chunks of what they found must be whole chunks.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static DsfInfo info;
    info = {};
    info.file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    dsf_reporting = data[size - 1] & 1;
    if (readDsfHeader(&info) == 0) {
        const uint64_t ch = info.channel_count;
        std::vector<uint8_t> piece(1 + data[size - 1] * 263u % 70000);  // some beyond a whole read
        uint64_t i = 0;
        for (size_t n = piece.size(); n == piece.size(); i += n) {
            n = readDsfSound(&info, piece.data(), piece.size());
            for (size_t k = 0; k < n; ++k) {
                const uint64_t frame = (i + k) / ch, at = fuzzhook::dsf_offset(frame, (i + k) % ch, ch);
                if (frame >= info.bytes_per_channel || at >= size || piece[k] != (info.bits_per_sample == 8 ? data[at] : fuzzhook::reversed(data[at])))
                    fuzzhook::fail("byte %llu is not the sound's", static_cast<unsigned long long>(i + k));
            }
        }
        if (i % ch || (i / ch < info.bytes_per_channel && fuzzhook::dsf_offset(i / ch, ch - 1, ch) < size) || readDsfSound(&info, piece.data(), 1))
            fuzzhook::fail("%llu bytes handed out: not every whole frame present", static_cast<unsigned long long>(i));
    }
    Tags t;
    std::vector<uint8_t> chunks;
    for (int k = 0; k < 3; ++k) {
        k == 0 ? void(readId3Tag(info.file, 0, &t)) : k == 1 ? readDsdiffTags(info.file, &t) : void(readId3Tag(info.file, info.metadata_offset, &t));
        chunks = waveTagChunks(t);
        size_t at = 0;
        for (uint64_t n; at + 8 <= chunks.size(); at += 8 + n + (n & 1)) n = lay::get_le(chunks, at + 4, 4);
        if (at != chunks.size() || t.id3.size() > TAG_MAX_BYTES) fuzzhook::fail("tag chunks that do not add up");
    }
    std::fclose(info.file);
    return 0;
}
