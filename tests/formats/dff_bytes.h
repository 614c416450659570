// Hand-made DSDIFF pieces: every chunk is assembled byte by byte here, so
// the reader is never checked against the library's own writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testutil.h"

namespace fmt_test {

inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::vector<uint8_t> str(const std::string& s) {
    std::vector<uint8_t> b;
    testutil::put_str(b, s);
    return b;
}

inline std::vector<uint8_t> be(uint64_t v, int width) {
    std::vector<uint8_t> b;
    testutil::put_be(b, v, width);
    return b;
}

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

inline std::vector<uint8_t> form(const std::vector<uint8_t>& chunks) {
    return form_with_size(4 + chunks.size(), chunks);
}

inline std::vector<uint8_t> fver(uint32_t v = 0x01050000) { return chunk("FVER", be(v, 4)); }

inline std::vector<uint8_t> prop(const std::vector<uint8_t>& subchunks) {
    return chunk("PROP", cat({str("SND "), subchunks}));
}

inline std::vector<uint8_t> fs(uint32_t rate = 2822400) { return chunk("FS  ", be(rate, 4)); }

inline std::vector<uint8_t> chnl(const std::vector<std::string>& ids) {
    auto body = be(ids.size(), 2);
    for (const auto& id : ids) {
        auto b = str(id);
        b.resize(4, 0);
        body.insert(body.end(), b.begin(), b.end());
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

}  // namespace fmt_test
