#include "tags.h"

#include <algorithm>
#include <cstring>

namespace {

// A DIIN text longer than this is cut: titles, not books.
constexpr uint64_t MAX_TEXT = 4096;

uint64_t be(const uint8_t* p, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = v << 8 | p[i];
    return v;
}

// ID3v2 sizes: four bytes of 7 bits.
uint64_t syncsafe(const uint8_t* p) { return uint64_t{p[0] & 0x7Fu} << 21 | (p[1] & 0x7Fu) << 14 | (p[2] & 0x7Fu) << 7 | (p[3] & 0x7Fu); }

// Undoes ID3v2 unsynchronisation: FF 00 stands for FF.
std::vector<uint8_t> resync(const uint8_t* p, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i)
        if (!(i > 0 && p[i] == 0 && p[i - 1] == 0xFF)) out.push_back(p[i]);
    return out;
}

void put_utf8(std::string& s, uint32_t cp) {
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | cp >> 6);
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | cp >> 12);
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | cp >> 18);
        s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A text frame's first value as UTF-8: encoding byte 0 ISO-8859-1, 1 UTF-16
// after a byte order mark, 2 UTF-16 big-endian, 3 UTF-8.
std::string frame_text(const uint8_t* p, size_t n) {
    std::string out;
    const uint8_t encoding = p[0];
    size_t i = 1;
    if (encoding == 0 || encoding == 3) {
        for (; i < n && p[i] != 0; ++i) encoding == 3 ? void(out += static_cast<char>(p[i])) : put_utf8(out, p[i]);
    } else if (encoding == 1 || encoding == 2) {
        const bool little = encoding == 1 && n >= 3 && p[1] == 0xFF && p[2] == 0xFE;
        if (encoding == 1 && n >= 3 && (little || (p[1] == 0xFE && p[2] == 0xFF))) i = 3;
        const auto unit = [&](size_t at) { return little ? p[at] | p[at + 1] << 8 : p[at] << 8 | p[at + 1]; };
        for (; i + 1 < n && unit(i) != 0; i += 2) {
            uint32_t cp = static_cast<uint32_t>(unit(i));
            if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < n && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + static_cast<uint32_t>(unit(i + 2) - 0xDC00);
                i += 2;
            } else if (cp >= 0xD800 && cp < 0xE000) {
                cp = 0xFFFD;  // half of a pair
            }
            put_utf8(out, cp);
        }
    }
    return out;
}

// The field a text frame fills (ID3v2.2 has three-letter names), or null.
std::string* field_of(const std::string& id, Tags* t) {
    if (id == "TIT2" || id == "TT2") return &t->title;
    if (id == "TPE1" || id == "TP1") return &t->artist;
    if (id == "TALB" || id == "TAL") return &t->album;
    if (id == "TYER" || id == "TYE" || id == "TDRC") return &t->year;
    return nullptr;
}

// Title, artist, album and year from the frames of a whole ID3v2.2, 2.3 or
// 2.4 tag; compressed or encrypted frames are passed over.
void id3_fields(const std::vector<uint8_t>& tag, Tags* t) {
    const int major = tag[3], flags = tag[5];
    if (major == 2 && (flags & 0x40)) return;  // a compressed tag: no scheme was ever given
    std::vector<uint8_t> body(tag.begin() + 10, tag.end());
    if (major < 4 && (flags & 0x80)) body = resync(body.data(), body.size());
    size_t pos = 0;
    if (major > 2 && (flags & 0x40) && body.size() >= 4)  // extended header
        pos = static_cast<size_t>(std::min<uint64_t>(body.size(), major == 3 ? be(body.data(), 4) + 4 : syncsafe(body.data())));
    const size_t head = major == 2 ? 6 : 10;
    while (pos + head <= body.size() && body[pos] != 0) {  // a zero byte begins the padding
        const uint8_t* f = body.data() + pos;
        const uint64_t size = major == 2 ? be(f + 3, 3) : major == 3 ? be(f + 4, 4) : syncsafe(f + 4);
        if (size > body.size() - pos - head) break;
        const uint8_t format = major == 2 ? 0 : f[9];
        const uint8_t* data = f + head;
        size_t n = static_cast<size_t>(size), skip = 0;
        std::vector<uint8_t> plain;
        bool usable = true;
        if (major == 3) {
            usable = !(format & 0xC0);  // compressed, encrypted
            skip = format & 0x20 ? 1 : 0;  // group
        } else if (major == 4) {
            usable = !(format & 0x0C);
            skip = (format & 0x40 ? 1 : 0) + (format & 0x01 ? 4 : 0);  // group, data length
        }
        if (usable && n > skip) {
            data += skip, n -= skip;
            if (major == 4 && (format & 0x02)) plain = resync(data, n), data = plain.data(), n = plain.size();
            std::string* field = field_of(std::string(f, f + (major == 2 ? 3 : 4)), t);
            if (field != nullptr && field->empty()) *field = frame_text(data, n);
        }
        pos += head + static_cast<size_t>(size);
    }
}

// Title or artist of a DIIN sub-chunk: a 32-bit count, then the text.
std::string diin_text(FILE* f, uint64_t size) {
    uint8_t count[4];
    if (size < 4 || std::fread(count, 1, 4, f) != 4) return "";
    std::string s(static_cast<size_t>(std::min({be(count, 4), size - 4, MAX_TEXT})), '\0');
    if (std::fread(s.data(), 1, s.size(), f) != s.size()) return "";
    return s.substr(0, s.find('\0'));
}

// The 12-byte header of the chunk at `pos`, which must end by `end`. False
// at the end or when it does not fit.
bool chunk_at(FILE* f, uint64_t pos, uint64_t end, uint8_t h[12], uint64_t* size) {
    if (pos > end || end - pos < 12 || pos > INT64_MAX || fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0 ||
        std::fread(h, 1, 12, f) != 12)
        return false;
    *size = be(h + 4, 8);
    return *size <= end - pos - 12;
}

uint64_t next_chunk(uint64_t pos, uint64_t size) { return pos + 12 + size + (size & 1); }

void put_chunk(std::vector<uint8_t>& out, const char* id, const uint8_t* p, size_t n) {
    out.insert(out.end(), id, id + 4);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    out.insert(out.end(), p, p + n);
    if (n & 1) out.push_back(0);  // chunks start on even offsets
}

}  // namespace

bool readId3Tag(FILE* f, uint64_t offset, Tags* t) {
    uint8_t h[10];
    if (offset > INT64_MAX || fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fread(h, 1, 10, f) != 10 ||
        std::memcmp(h, "ID3", 3) != 0 || h[3] < 2 || h[3] > 4 || ((h[6] | h[7] | h[8] | h[9]) & 0x80))
        return false;
    const uint64_t size = 10 + syncsafe(h + 6) + (h[3] == 4 && (h[5] & 0x10) ? 10 : 0);  // a footer
    if (size > TAG_MAX_BYTES) return false;
    std::vector<uint8_t> tag(h, h + 10);
    tag.resize(static_cast<size_t>(size));
    if (std::fread(tag.data() + 10, 1, tag.size() - 10, f) != tag.size() - 10) return false;
    Tags read;
    id3_fields(tag, &read);
    read.id3 = std::move(tag);
    *t = std::move(read);
    return true;
}

void readDsdiffTags(FILE* f, Tags* t) {
    uint8_t h[12];
    uint64_t form_size, size;
    if (!chunk_at(f, 0, UINT64_MAX, h, &form_size) || std::memcmp(h, "FRM8", 4) != 0) return;
    const uint64_t end = 12 + std::min(form_size, UINT64_MAX - 12);
    std::string title, artist;
    for (uint64_t pos = 16; chunk_at(f, pos, end, h, &size); pos = next_chunk(pos, size)) {
        if (std::memcmp(h, "ID3 ", 4) == 0 && size <= TAG_MAX_BYTES) {
            // Only the tag's own bytes, and only within the chunk.
            Tags id3;
            if (readId3Tag(f, pos + 12, &id3) && id3.id3.size() <= size) return void(*t = std::move(id3));
        } else if (std::memcmp(h, "DIIN", 4) == 0) {
            uint64_t sub;
            for (uint64_t at = pos + 12; chunk_at(f, at, pos + 12 + size, h, &sub); at = next_chunk(at, sub)) {
                if (std::memcmp(h, "DITI", 4) == 0) title = diin_text(f, sub);
                if (std::memcmp(h, "DIAR", 4) == 0) artist = diin_text(f, sub);
            }
        }
    }
    t->title = title;
    t->artist = artist;
}

std::vector<uint8_t> waveTagChunks(const Tags& t) {
    std::vector<uint8_t> out, info = {'I', 'N', 'F', 'O'};
    if (!t.id3.empty()) put_chunk(out, "id3 ", t.id3.data(), t.id3.size());
    for (const auto& [id, text] : {std::pair{"INAM", &t.title}, {"IART", &t.artist}, {"IPRD", &t.album}, {"ICRD", &t.year}})
        if (!text->empty()) put_chunk(info, id, reinterpret_cast<const uint8_t*>(text->c_str()), text->size() + 1);
    if (info.size() > 4) put_chunk(out, "LIST", info.data(), info.size());
    return out;
}
