// Byte-order primitives: values, byte order, short reads, failing writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "readwrite.h"
#include "streams.h"

using fmt_test::Bytes;
using fmt_test::contents;
using fmt_test::open_sink;
using fmt_test::Sink;
using fmt_test::StderrCapture;
using fmt_test::stream_with;

namespace {

// One integer reader: its width and a call that stores into a uint64_t
// through the reader's own destination type (sign-extended for the one
// signed reader), leaving `out` alone when the reader leaves its own alone.
struct IntReader {
    const char* name;
    int width;
    std::function<int(FILE*, uint64_t*)> read;
};

template <typename T, int (*Fn)(FILE*, T*)>
int read_into(FILE* f, uint64_t* out) {
    T v;
    std::memcpy(&v, out, sizeof v);  // keep the caller's bytes if nothing is stored
    int r = Fn(f, &v);
    *out = static_cast<uint64_t>(static_cast<int64_t>(v));
    if constexpr (!std::is_signed_v<T>) *out = static_cast<uint64_t>(v);
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
    const Bytes bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    struct Row {
        int reader;
        uint64_t expected;
    } rows[] = {
        {0, 0x0102},
        {1, 0x01020304},
        {2, 0x0102030405060788},
        {3, 0x04030201},
        {4, 0x8807060504030201},
    };
    for (const auto& row : rows) {
        const auto& r = kReaders[row.reader];
        FILE* f = stream_with(bytes);
        uint64_t v = 0;
        StderrCapture err;
        EXPECT_EQ(r.read(f, &v), -1) << r.name;
        EXPECT_EQ(err.text(), "") << r.name;
        EXPECT_EQ(v, row.expected) << r.name;
        EXPECT_EQ(ftello(f), r.width) << r.name;
        std::fclose(f);
    }
}

TEST(ReadPrimitives, OneIsOneInBigEndianAndTwoToThe24InLittleEndian) {
    FILE* f = stream_with({0, 0, 0, 1, 0, 0, 0, 1});
    uint32_t be = 0;
    int32_t le = 0;
    EXPECT_NE(read32bitBEint(f, &be), 0);
    EXPECT_NE(read32bitLEint(f, &le), 0);
    EXPECT_EQ(be, 1u);
    EXPECT_EQ(le, 1 << 24);
    std::fclose(f);
}

TEST(ReadPrimitives, LittleEndian32IsSigned) {
    FILE* f = stream_with({0xFE, 0xFF, 0xFF, 0xFF});
    int32_t v = 0;
    EXPECT_NE(read32bitLEint(f, &v), 0);
    EXPECT_EQ(v, -2);
    std::fclose(f);
}

TEST(ReadPrimitives, ShortReadLeavesDestinationAndConsumesWhatArrived) {
    for (const auto& r : kReaders) {
        for (int have = 0; have < r.width; ++have) {
            Bytes bytes(static_cast<size_t>(have), 0xAB);
            FILE* f = stream_with(bytes);
            uint64_t v = 0x1122334455667788;
            const uint64_t before = v;
            StderrCapture err;
            EXPECT_EQ(r.read(f, &v), 0) << r.name << " with " << have << " bytes";
            EXPECT_EQ(err.text(), "fread() failed.\n") << r.name;
            // The reader's destination kept its previous content.
            uint64_t expect = before;
            if (r.width == 2) expect = static_cast<uint16_t>(before);
            if (r.width == 4) expect = static_cast<uint32_t>(before);
            if (r.width == 4 && std::string(r.name) == "read32bitLEint")
                expect = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(before)));
            EXPECT_EQ(v, expect) << r.name;
            EXPECT_EQ(std::getc(f), EOF) << r.name << ": the bytes that arrived are consumed";
            std::fclose(f);
        }
    }
}

TEST(ReadPrimitives, FloatAndDoubleCopyHostBytes) {
    const float fv = 1.5f;
    const double dv = -2.25;
    Bytes bytes(12);
    std::memcpy(bytes.data(), &fv, 4);
    std::memcpy(bytes.data() + 4, &dv, 8);
    FILE* f = stream_with(bytes);
    float fr = 0;
    double dr = 0;
    EXPECT_NE(readfloat(f, &fr), 0);
    EXPECT_NE(readdouble(f, &dr), 0);
    EXPECT_EQ(fr, fv);
    EXPECT_EQ(dr, dv);
    std::fclose(f);
}

TEST(ReadPrimitives, FloatAndDoubleShortReadsSayFileReadError) {
    for (int which = 0; which < 2; ++which) {
        FILE* f = stream_with(Bytes(which == 0 ? 3 : 7, 0x55));
        uint8_t dest[8];
        std::memset(dest, 0xEE, sizeof dest);
        StderrCapture err;
        EXPECT_EQ(which == 0 ? readfloat(f, dest) : readdouble(f, dest), 0);
        EXPECT_EQ(err.text(), "file read error\n");
        std::fclose(f);
    }
}

// The integer writers: the name, the width and the byte order.
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

TEST(WritePrimitives, EmitTheLowBytesInTheirOrderEachOnce) {
    const uint64_t value = 0x0102030405060708;
    const uint8_t msb_first[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const auto& w : kWriters) {
        Sink sink;
        FILE* f = open_sink(&sink);
        StderrCapture err;
        EXPECT_EQ(w.write(f, value), -1) << w.name;
        EXPECT_EQ(err.text(), "") << w.name;
        Bytes expected;
        for (int i = 0; i < w.width; ++i) {
            int k = w.big_endian ? 8 - w.width + i : 7 - i;
            expected.push_back(msb_first[k]);
        }
        EXPECT_EQ(sink.data, expected) << w.name;
        EXPECT_EQ(sink.write_calls, w.width) << w.name << ": one write per byte";
        std::fclose(f);
    }
}

TEST(WritePrimitives, KnownValues) {
    // The 24-bit writer drops the top byte of 0x12345678 silently.
    Sink sink;
    FILE* f = open_sink(&sink);
    EXPECT_NE(write24bitLEint(f, 0x12345678), 0);
    EXPECT_NE(write16bitLEint(f, -2), 0);
    EXPECT_NE(write64bitLEint(f, 0x0102030405060708), 0);
    EXPECT_NE(write64bitBEint(f, 0x0102030405060708), 0);
    EXPECT_EQ(sink.data, (Bytes{0x78, 0x56, 0x34, 0xFE, 0xFF, 8, 7, 6, 5, 4, 3, 2, 1, 1, 2, 3, 4, 5, 6, 7, 8}));
    std::fclose(f);
}

TEST(WritePrimitives, StopAtTheFirstFailingByte) {
    for (const auto& w : kWriters) {
        for (int k = 0; k < w.width; ++k) {
            Sink sink;
            sink.fail_at = static_cast<size_t>(k);
            FILE* f = open_sink(&sink);
            StderrCapture err;
            EXPECT_EQ(w.write(f, 0x0102030405060708), 0) << w.name << " failing at byte " << k;
            EXPECT_EQ(err.text(), "file write error\n") << w.name << " failing at byte " << k;
            EXPECT_EQ(sink.data.size(), static_cast<size_t>(k)) << w.name << ": earlier bytes stay";
            EXPECT_EQ(sink.write_calls, k + 1) << w.name << ": later bytes are not attempted";
            sink.fail_at = SIZE_MAX;  // let fclose flush whatever is left without noise
            std::fclose(f);
        }
    }
}

TEST(WritePrimitives, FloatAndDouble) {
    Sink sink;
    FILE* f = open_sink(&sink);
    EXPECT_NE(writefloat(f, 1.5f), 0);
    EXPECT_NE(writedouble(f, -2.25), 0);
    ASSERT_EQ(sink.data.size(), 12u);
    float fv;
    double dv;
    std::memcpy(&fv, sink.data.data(), 4);
    std::memcpy(&dv, sink.data.data() + 4, 8);
    EXPECT_EQ(fv, 1.5f);
    EXPECT_EQ(dv, -2.25);
    std::fclose(f);

    for (int which = 0; which < 2; ++which) {
        Sink failing;
        failing.fail_at = 2;
        FILE* g = open_sink(&failing);
        StderrCapture err;
        EXPECT_EQ(which == 0 ? writefloat(g, 1.0f) : writedouble(g, 1.0), 0);
        EXPECT_EQ(err.text(), "file write error\n");
        failing.fail_at = SIZE_MAX;
        std::fclose(g);
    }
}

TEST(WritePrimitives, WorkOnOrdinaryFiles) {
    FILE* f = stream_with({});
    EXPECT_NE(write32bitBEint(f, 0xDEADBEEF), 0);
    EXPECT_NE(write32bitLEint(f, 0xDEADBEEF), 0);
    EXPECT_EQ(contents(f), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0xEF, 0xBE, 0xAD, 0xDE}));
    std::fclose(f);
}

}  // namespace
