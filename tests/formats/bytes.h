// Hand-made file pieces: every DSDIFF chunk and every header is assembled
// byte by byte here, so readers and writers are never checked against the
// library's own tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testutil.h"
#include "wsd.h"

namespace fmt_test {

inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::vector<uint8_t> str(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

inline std::vector<uint8_t> be(uint64_t v, int width) {
    std::vector<uint8_t> b;
    testutil::put_be(b, v, width);
    return b;
}

inline std::vector<uint8_t> le(uint64_t v, int width) {
    std::vector<uint8_t> b;
    testutil::put_le(b, v, width);
    return b;
}

// ---- DSDIFF ----

// Identifier and declared 64-bit size, nothing else.
inline std::vector<uint8_t> head(const std::string& id, uint64_t size) { return cat({str(id), be(size, 8)}); }

// A chunk whose declared size is its body's length, padded to even length.
inline std::vector<uint8_t> chunk(const std::string& id, const std::vector<uint8_t>& body) {
    auto out = cat({head(id, body.size()), body});
    if (body.size() & 1) out.push_back(0);
    return out;
}

// A chunk with a declared size that need not match the body; no pad.
inline std::vector<uint8_t> chunk_sized(const std::string& id, uint64_t size, const std::vector<uint8_t>& body) {
    return cat({head(id, size), body});
}

inline std::vector<uint8_t> form_with_size(uint64_t size, const std::vector<uint8_t>& chunks) {
    return cat({str("FRM8"), be(size, 8), str("DSD "), chunks});
}

inline std::vector<uint8_t> form(const std::vector<uint8_t>& chunks) { return form_with_size(4 + chunks.size(), chunks); }

inline std::vector<uint8_t> fver(uint32_t v = 0x01050000) { return chunk("FVER", be(v, 4)); }

inline std::vector<uint8_t> prop(const std::vector<uint8_t>& subchunks) { return chunk("PROP", cat({str("SND "), subchunks})); }

inline std::vector<uint8_t> fs(uint32_t rate = 2822400) { return chunk("FS  ", be(rate, 4)); }

inline std::vector<uint8_t> chnl(const std::vector<std::string>& ids) {
    auto body = be(ids.size(), 2);
    for (auto id : ids) {
        id.resize(4, '\0');
        body.insert(body.end(), id.begin(), id.end());
    }
    return chunk("CHNL", body);
}

// Compression type, counted name, and the pad that makes count + name even.
inline std::vector<uint8_t> cmpr_body(const std::string& type, const std::string& name) {
    auto body = cat({str(type), be(name.size(), 1), str(name)});
    if (name.size() % 2 == 0) body.push_back(0);
    return body;
}

inline std::vector<uint8_t> cmpr(const std::string& type = "DSD ", const std::string& name = "not compressed") {
    return chunk("CMPR", cmpr_body(type, name));
}

inline std::vector<uint8_t> sound(const std::vector<uint8_t>& data) { return chunk("DSD ", data); }

inline std::vector<uint8_t> stereo_props() { return cat({fs(), chnl({"SLFT", "SRGT"}), cmpr()}); }

// A well-formed stereo file: FVER, PROP (FS, CHNL, CMPR), sound chunk.
inline std::vector<uint8_t> stereo_file(const std::vector<uint8_t>& data) {
    return form(cat({fver(), prop(stereo_props()), sound(data)}));
}

// The two-channel header of the DSDIFF writer, by the chunk rules.
inline std::vector<uint8_t> dsdiff_header(uint32_t rate, uint64_t data_size) {
    auto chunks = cat({prop(cat({fs(rate), chnl({"SLFT", "SRGT"}), cmpr()})), fver(0x01050000), head("DSD ", data_size)});
    return form_with_size(data_size + 118, chunks);
}

// ---- WSD ----

// A record with a distinct value in every field, so that swapped or
// misplaced fields show up.
inline WsdInfo sample_wsd_info(FILE* f = nullptr) {
    WsdInfo info{};
    info.file = f;
    info.version = 0x11;
    info.file_size = UINT64_C(0x0000000500000BE8);
    info.text_offset = 7;  // the writer puts 128 whatever the record says
    info.data_offset = 9;  // and 2048
    info.play_time = 0x01020304;
    info.sample_rate = 5644800;
    info.channel_count = 2;
    info.channel_assignment = 0x44000000;
    info.extra_38 = 0xA1A2A3A4;
    info.extra_40 = UINT64_C(0xB1B2B3B4B5B6B7B8);
    info.extra_48 = UINT64_C(0xC1C2C3C4C5C6C7C8);
    return info;
}

// The 2048-byte header laid out field by field from the table of offsets.
inline std::vector<uint8_t> wsd_header(const WsdInfo& i, bool be64) {
    auto size = be64 ? be(i.file_size, 8) : cat({be(i.file_size & 0xFFFFFFFF, 4), be(i.file_size >> 32, 4)});
    return cat({str("1bit"), be(0, 4), be(i.version, 1), be(0, 3), size, be(128, 4), be(2048, 4), be(0, 4),
                be(i.play_time, 4), be(i.sample_rate, 4), be(0, 4), be(i.channel_count, 1), be(0, 3),
                be(i.channel_assignment, 4), be(0, 4), be(i.extra_38, 4), be(0, 4), be(i.extra_40, 8), be(i.extra_48, 8),
                std::vector<uint8_t>(48 + 1920, 0)});
}

// ---- RF64 ----

// The 84-byte header for 16-bit stereo PCM at 44100 Hz, little-endian.
inline std::vector<uint8_t> wav_header(uint64_t frames) {
    return cat({str("RF64"), le(0xFFFFFFFF, 4), str("WAVEds64"), le(28, 4), le(4 * frames + 76, 8), le(4 * frames, 8),
                le(frames, 8), le(0, 4), str("fmt "), le(20, 4),
                le(1, 2), le(2, 2), le(44100, 4), le(176400, 4), le(4, 2), le(16, 2),  // PCM, 2 ch, rate, bytes/s, frame, bits
                le(0, 4), str("data"), le(0xFFFFFFFF, 4)});                          // no extension, two zero bytes
}

}  // namespace fmt_test
