// Byte-order primitives: values, byte order, short reads, failing writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "readwrite.h"
#include "streams.h"

using namespace fmt_test;

namespace {

// An integer reader storing through its own destination type into a
// uint64_t (sign-extended for the one signed reader); `out` keeps its low
// bytes when the reader stores nothing.
struct IntReader {
    const char* name;
    int width;
    std::function<int(FILE*, uint64_t*)> read;
};

template <typename T, int (*Fn)(FILE*, T*)>
int read_into(FILE* f, uint64_t* out) {
    T v;
    std::memcpy(&v, out, sizeof v);
    int r = Fn(f, &v);
    *out = std::is_signed_v<T> ? static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
    return r;
}

const IntReader kReaders[] = {
    {"read16bitBEint", 2, read_into<uint16_t, read16bitBEint>},
    {"read32bitBEint", 4, read_into<uint32_t, read32bitBEint>},
    {"read64bitBElong", 8, read_into<uint64_t, read64bitBElong>},
    {"read32bitLEint", 4, read_into<int32_t, read32bitLEint>},
    {"read64bitLElong", 8, read_into<uint64_t, read64bitLElong>},
};

TEST(ReadPrimitives, AssembleInTheirByteOrder) {
    // The top bit set at both ends: the little-endian 32-bit value is signed.
    const Bytes bytes = {0x81, 0x02, 0x03, 0x84, 0x05, 0x06, 0x07, 0x88};
    const uint64_t expected[] = {0x8102, 0x81020384, 0x8102038405060788, 0xFFFFFFFF84030281, 0x8807060584030281};
    for (size_t i = 0; i < std::size(kReaders); ++i) {
        const auto& r = kReaders[i];
        FILE* f = stream_with(bytes);
        uint64_t v = 0;
        StderrCapture err;
        EXPECT_EQ(r.read(f, &v), -1) << r.name;
        EXPECT_EQ(err.text(), "") << r.name;
        EXPECT_EQ(v, expected[i]) << r.name;
        EXPECT_EQ(ftello(f), r.width) << r.name;
        std::fclose(f);
    }
}

TEST(ReadPrimitives, ShortReadLeavesDestinationAndConsumesWhatArrived) {
    // The sentinel's low 32 bits are positive, so no row depends on the sign.
    const uint64_t before = 0x1122334455667788;
    for (const auto& r : kReaders) {
        for (int have = 0; have < r.width; ++have) {
            FILE* f = stream_with(Bytes(static_cast<size_t>(have), 0xAB));
            uint64_t v = before;
            StderrCapture err;
            EXPECT_EQ(r.read(f, &v), 0) << r.name << " with " << have << " bytes";
            EXPECT_EQ(err.text(), "fread() failed.\n") << r.name;
            EXPECT_EQ(v, r.width == 8 ? before : before & ((UINT64_C(1) << (8 * r.width)) - 1)) << r.name;
            EXPECT_EQ(std::getc(f), EOF) << r.name << ": the bytes that arrived are consumed";
            std::fclose(f);
        }
    }
}

TEST(FloatPrimitives, HostBytesRoundTripAndFailuresSayTheirMessage) {
    const float fv = 1.5f;
    const double dv = -2.25;
    Bytes host(12);
    std::memcpy(host.data(), &fv, 4);
    std::memcpy(host.data() + 4, &dv, 8);
    Sink sink;
    FILE* w = open_sink(&sink);
    EXPECT_EQ(writefloat(w, fv), -1);
    EXPECT_EQ(writedouble(w, dv), -1);
    std::fclose(w);
    EXPECT_EQ(sink.data, host);
    FILE* f = stream_with(host);
    float fr = 0;
    double dr = 0;
    EXPECT_EQ(readfloat(f, &fr), -1);
    EXPECT_EQ(readdouble(f, &dr), -1);
    EXPECT_EQ(fr, fv);
    EXPECT_EQ(dr, dv);
    std::fclose(f);

    for (int width : {4, 8}) {
        FILE* r = stream_with(Bytes(static_cast<size_t>(width - 1), 0x55));
        Sink failing;
        failing.fail_at = 2;
        FILE* g = open_sink(&failing);
        uint8_t dest[8];
        std::memset(dest, 0xEE, sizeof dest);
        StderrCapture err;
        EXPECT_EQ(width == 4 ? readfloat(r, dest) : readdouble(r, dest), 0);
        // A short read leaves the destination as it was.
        EXPECT_EQ(Bytes(dest, dest + 8), Bytes(8, 0xEE)) << width;
        EXPECT_EQ(width == 4 ? writefloat(g, 1.0f) : writedouble(g, 1.0), 0);
        EXPECT_EQ(err.text(), "file read error\nfile write error\n");
        failing.fail_at = SIZE_MAX;
        std::fclose(g);
        std::fclose(r);
    }
}

struct IntWriter {
    const char* name;
    int width;
    bool big_endian;
    std::function<int(FILE*, uint64_t)> write;
};

const IntWriter kWriters[] = {
    {"write16bitLEint", 2, false, [](FILE* f, uint64_t v) { return write16bitLEint(f, static_cast<int>(v)); }},
    {"write24bitLEint", 3, false, [](FILE* f, uint64_t v) { return write24bitLEint(f, static_cast<int>(v)); }},
    {"write32bitLEint", 4, false, [](FILE* f, uint64_t v) { return write32bitLEint(f, static_cast<uint32_t>(v)); }},
    {"write64bitLEint", 8, false, [](FILE* f, uint64_t v) { return write64bitLEint(f, v); }},
    {"write32bitBEint", 4, true, [](FILE* f, uint64_t v) { return write32bitBEint(f, static_cast<uint32_t>(v)); }},
    {"write64bitBEint", 8, true, [](FILE* f, uint64_t v) { return write64bitBEint(f, v); }},
};

TEST(WritePrimitives, LowBytesInTheirOrderOneWriteEachStoppingAtTheFirstFailure) {
    const uint8_t msb_first[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const auto& w : kWriters) {
        Bytes all;
        for (int i = 0; i < w.width; ++i) all.push_back(msb_first[w.big_endian ? 8 - w.width + i : 7 - i]);
        // The sink takes k bytes; k == width is the write that succeeds.
        for (int k = 0; k <= w.width; ++k) {
            const bool ok = k == w.width;
            Sink sink;
            sink.fail_at = static_cast<size_t>(k);
            FILE* f = open_sink(&sink);
            StderrCapture err;
            EXPECT_EQ(w.write(f, 0x0102030405060708), ok ? -1 : 0) << w.name << " failing at byte " << k;
            EXPECT_EQ(err.text(), ok ? "" : "file write error\n") << w.name << " failing at byte " << k;
            EXPECT_EQ(sink.data, Bytes(all.begin(), all.begin() + k)) << w.name << ": earlier bytes stay";
            EXPECT_EQ(sink.write_calls, ok ? k : k + 1) << w.name << ": one write per byte, none after a failure";
            sink.fail_at = SIZE_MAX;  // let fclose flush whatever is left without noise
            std::fclose(f);
        }
    }
}

}  // namespace
