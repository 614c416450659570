// The header bytes of the three formats, written down independently of the
// library's layouts: builders for hand-made files and for the headers that
// the tests and the fuzz harness check outputs against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lay {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); return a; }
inline Bytes str(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes be(uint64_t v, int width) { Bytes b(width); for (int i = width; i-- > 0; v >>= 8) b[i] = uint8_t(v); return b; }
inline Bytes le(uint64_t v, int width) { Bytes b(width); for (int i = 0; i < width; ++i, v >>= 8) b[i] = uint8_t(v); return b; }
inline uint64_t get_be(const Bytes& b, size_t off, int width) { uint64_t v = 0; for (int i = 0; i < width; ++i) v = v << 8 | b.at(off + i); return v; }
inline uint64_t get_le(const Bytes& b, size_t off, int width) { uint64_t v = 0; for (int i = width; i-- > 0;) v = v << 8 | b.at(off + i); return v; }

// ---- DSDIFF: chunks of identifier, 64-bit big-endian size, body, pad ----
inline Bytes chunk(const std::string& id, const Bytes& body) {
    Bytes c = str(id) + be(body.size(), 8) + body;
    if (body.size() & 1) c.push_back(0);
    return c;
}
inline Bytes form(const Bytes& chunks) { return str("FRM8") + be(chunks.size() + 4, 8) + str("DSD ") + chunks; }
inline Bytes chnl(const std::vector<std::string>& ids) {
    Bytes body = be(ids.size(), 2);
    for (std::string id : ids) { id.resize(4, '\0'); body = body + str(id); }
    return chunk("CHNL", body);
}
inline Bytes cmpr() { return chunk("CMPR", str("DSD ") + be(14, 1) + str("not compressed") + be(0, 1)); }
inline Bytes prop(uint32_t rate, const std::vector<std::string>& ids) {
    return chunk("PROP", str("SND ") + chunk("FS  ", be(rate, 4)) + chnl(ids) + cmpr());
}
// A well-formed file: FVER, PROP (FS, CHNL, CMPR), the sound chunk.
inline Bytes dsdiff(uint32_t rate, const std::vector<std::string>& ids, const Bytes& sound) {
    return form(chunk("FVER", be(0x01050000, 4)) + prop(rate, ids) + chunk("DSD ", sound));
}
// The extractors' 130-byte stereo header: PROP first, FVER after it.
constexpr int DSDIFF_PAIR_HEADER = 130;
inline Bytes dsdiff_pair_header(uint32_t rate, uint64_t data_size) {
    const Bytes chunks = prop(rate, {"SLFT", "SRGT"}) + chunk("FVER", be(0x01050000, 4)) + str("DSD ") + be(data_size, 8);
    return str("FRM8") + be(data_size + 118, 8) + str("DSD ") + chunks;
}

// ---- WSD: 2048 bytes, big-endian ----
struct WsdFields {
    uint8_t version = 1;
    uint64_t file_size = 0;
    uint32_t play_time = 0, rate = 2822400;
    uint8_t channels = 2;
    uint32_t assignment = 0, extra_38 = 0;
    uint64_t extra_40 = 0, extra_48 = 0;
};
inline Bytes wsd_header(const WsdFields& w, bool be64) {
    const Bytes size = be64 ? be(w.file_size, 8) : be(w.file_size & 0xFFFFFFFF, 4) + be(w.file_size >> 32, 4);
    return str("1bit") + be(0, 4) + be(w.version, 1) + be(0, 3) + size + be(128, 4) + be(2048, 4) + be(0, 4) +
           be(w.play_time, 4) + be(w.rate, 4) + be(0, 4) + be(w.channels, 1) + be(0, 3) + be(w.assignment, 4) +
           be(0, 4) + be(w.extra_38, 4) + be(0, 4) + be(w.extra_40, 8) + be(w.extra_48, 8) + Bytes(1968, 0);
}

// ---- RF64: the converter's 84-byte header for 16-bit stereo at 44.1 kHz ----
constexpr int RF64_HEADER = 84;
inline Bytes rf64_header(uint64_t frames) {
    return str("RF64") + le(0xFFFFFFFF, 4) + str("WAVEds64") + le(28, 4) + le(4 * frames + 76, 8) + le(4 * frames, 8) +
           le(frames, 8) + le(0, 4) + str("fmt ") + le(20, 4) + le(1, 2) + le(2, 2) + le(44100, 4) + le(176400, 4) +
           le(4, 2) + le(16, 2) + le(0, 4) + str("data") + le(0xFFFFFFFF, 4);
}

}  // namespace lay
