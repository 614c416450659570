#include "readwrite.h"

#include <cstring>

namespace {

constexpr int TRUE = -1;

// Reads `width` bytes in one call; prints the short message when fewer arrive.
bool read_bytes(FILE* f, unsigned char* buf, size_t width) {
    if (std::fread(buf, 1, width, f) != width) {
        std::fputs("fread() failed.\n", stderr);
        return false;
    }
    return true;
}

uint64_t assemble_be(const unsigned char* b, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | b[i];
    return v;
}

uint64_t assemble_le(const unsigned char* b, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[i];
    return v;
}

}  // namespace

int write_int(FILE* f, uint64_t value, int width, bool big_endian) {
    for (int i = 0; i < width; ++i) {
        int shift = 8 * (big_endian ? width - 1 - i : i);
        if (std::fputc(static_cast<int>((value >> shift) & 0xFF), f) == EOF) {
            std::fputs("file write error\n", stderr);
            return 0;
        }
    }
    return TRUE;
}

namespace {

// Reads `width` bytes in one call and assembles them in the given order;
// stores into *value only when every byte arrived.
bool read_int(FILE* f, int width, bool big_endian, uint64_t* value) {
    unsigned char b[8];
    if (!read_bytes(f, b, static_cast<size_t>(width))) return false;
    *value = big_endian ? assemble_be(b, width) : assemble_le(b, width);
    return true;
}

}  // namespace

int read16bitBEint(FILE* f, uint16_t* value) {
    uint64_t v;
    if (!read_int(f, 2, true, &v)) return 0;
    *value = static_cast<uint16_t>(v);
    return TRUE;
}

int read32bitBEint(FILE* f, uint32_t* value) {
    uint64_t v;
    if (!read_int(f, 4, true, &v)) return 0;
    *value = static_cast<uint32_t>(v);
    return TRUE;
}

int read64bitBElong(FILE* f, uint64_t* value) { return read_int(f, 8, true, value) ? TRUE : 0; }

int read32bitLEint(FILE* f, int32_t* value) {
    uint64_t v;
    if (!read_int(f, 4, false, &v)) return 0;
    *value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return TRUE;
}

int read64bitLElong(FILE* f, uint64_t* value) { return read_int(f, 8, false, value) ? TRUE : 0; }

// Host-order floating-point values: read whole into a local buffer so that
// a short read leaves the destination untouched.
static int read_raw(FILE* f, void* value, size_t width) {
    unsigned char buf[8];
    if (std::fread(buf, width, 1, f) != 1) {
        std::fputs("file read error\n", stderr);
        return 0;
    }
    std::memcpy(value, buf, width);
    return TRUE;
}

int readfloat(FILE* f, void* value4) { return read_raw(f, value4, 4); }

int readdouble(FILE* f, void* value8) { return read_raw(f, value8, 8); }

int write16bitLEint(FILE* f, int value) { return write_int(f, static_cast<uint32_t>(value), 2, false); }
int write24bitLEint(FILE* f, int value) { return write_int(f, static_cast<uint32_t>(value), 3, false); }
int write32bitLEint(FILE* f, uint32_t value) { return write_int(f, value, 4, false); }
int write64bitLEint(FILE* f, uint64_t value) { return write_int(f, value, 8, false); }
int write32bitBEint(FILE* f, uint32_t value) { return write_int(f, value, 4, true); }
int write64bitBEint(FILE* f, uint64_t value) { return write_int(f, value, 8, true); }

int writefloat(FILE* f, float value) {
    if (std::fwrite(&value, 4, 1, f) != 1) {
        std::fputs("file write error\n", stderr);
        return 0;
    }
    return TRUE;
}

int writedouble(FILE* f, double value) {
    if (std::fwrite(&value, 8, 1, f) != 1) {
        std::fputs("file write error\n", stderr);
        return 0;
    }
    return TRUE;
}
