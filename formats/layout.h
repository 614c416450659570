// Fixed header layouts declared once, as a table of fields in file order:
// the writers serialise the table and the tests check files against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "readwrite.h"
#include "report.h"

template <typename Info>
struct HeaderField {
    const char* name;
    int offset, width;
    // What the field holds: these bytes; or else the value, as an integer in
    // the header's byte order; or else zeros.
    const char* bytes;
    uint64_t (*value)(const Info&);
    Report report;  // of a failed write of this field
};

// Each field starts where the one before it ends.
template <typename Info>
constexpr bool fields_contiguous(std::span<const HeaderField<Info>> fields, int size) {
    int at = 0;
    for (const HeaderField<Info>& fl : fields) {
        if (fl.offset != at || fl.width <= 0 || (fl.value != nullptr && fl.width > 8)) return false;
        at += fl.width;
    }
    return at == size;
}

template <typename Info>
void field_bytes(const HeaderField<Info>& fl, const Info& info, bool big_endian, unsigned char* out) {
    const uint64_t v = fl.value != nullptr ? fl.value(info) : 0;
    for (int i = 0; i < fl.width; ++i) {
        const int shift = 8 * (big_endian ? fl.width - 1 - i : i);
        out[i] = fl.bytes != nullptr ? static_cast<unsigned char>(fl.bytes[i])
                                     : static_cast<unsigned char>(shift < 64 ? v >> shift & 0xFF : 0);
    }
}

// The whole header in memory.
template <typename Info>
void fill_fields(std::span<const HeaderField<Info>> fields, const Info& info, bool big_endian, unsigned char* header) {
    for (const HeaderField<Info>& fl : fields) field_bytes(fl, info, big_endian, header + fl.offset);
}

// Writes field after field and returns the first one that failed, or null.
// Integers of 2 to 8 bytes go through the integer writer, which says "file
// write error" on failure; bytes and zeros go out silently.
template <typename Info>
const HeaderField<Info>* write_fields(FILE* f, std::span<const HeaderField<Info>> fields, const Info& info,
                                      bool big_endian) {
    for (const HeaderField<Info>& fl : fields) {
        bool ok;
        if (fl.bytes != nullptr) {
            ok = std::fwrite(fl.bytes, 1, static_cast<size_t>(fl.width), f) == static_cast<size_t>(fl.width);
        } else if (fl.value != nullptr && fl.width > 1) {
            ok = write_int(f, fl.value(info), fl.width, big_endian) != 0;
        } else {  // a one-byte value, or zeros
            const int byte = fl.value != nullptr ? static_cast<int>(fl.value(info) & 0xFF) : 0;
            ok = true;
            for (int i = 0; i < fl.width && ok; ++i) ok = std::putc(byte, f) != EOF;
        }
        if (!ok) return &fl;
    }
    return nullptr;
}
