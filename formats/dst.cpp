#include "dst.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

constexpr int MAX_FILTER = 128;
constexpr int MAX_TABLE = 64;
constexpr int GROUPS = MAX_FILTER / 8;
// |z| >> 3 of any prediction of coefficients in -256..255.
constexpr int MAX_INDEX = MAX_FILTER * 256 / 8;
// Longest unary part of a residual: any longer one gives a value out of range.
constexpr uint32_t MAX_UNARY = 4096;
// Bits the arithmetic decoding may take beyond the end of the frame (as
// zeros): as many as 16 renormalisations can need, no more. Checked every 8
// time steps, so a frame that runs on ends a little later.
constexpr uint64_t MAX_OVERRUN_BITS = 16 * 8;
constexpr size_t PAD = DST_PAD;
static_assert(PAD >= 16, "a 64-bit load and the overrun margin past the end");

// The frame of dst_decode_frame and dstReadFrame, followed by zeros:
// reading on past its end yields 0 bits without leaving the buffer.
thread_local std::vector<uint8_t> frame_buf;

struct Bits {
    const uint8_t* buf;
    uint64_t pos;  // next bit
    uint64_t end;  // bits of the frame
    uint64_t cap;  // bytes that may be loaded from buf
};

// The next n (1..32) bits, most significant first; 0 bits past the end.
inline uint32_t get(Bits& b, int n) {
    const uint64_t byte = b.pos >> 3;
    uint64_t w = 0;
    if (byte + 8 <= b.cap) {
        std::memcpy(&w, b.buf + byte, 8);
        w = __builtin_bswap64(w);
    } else {
        for (uint64_t i = byte; i < byte + 8; ++i) w = w << 8 | (i < b.cap ? b.buf[i] : 0);
    }
    b.pos += static_cast<uint64_t>(n);
    return static_cast<uint32_t>((w << ((b.pos - static_cast<uint64_t>(n)) & 7)) >> (64 - n));
}

inline bool cut(const Bits& b) { return b.pos > b.end; }

int signed9(uint32_t v) { return v & 256 ? static_cast<int>(v) - 512 : static_cast<int>(v); }

int round8(int x) { return x >= 0 ? (x + 4) / 8 : -((-x + 3) / 8); }

// Signed Rice code: false for a unary part too long to give a value in range.
bool rice(Bits& b, int k, int& r) {
    uint32_t q = 0;
    while (get(b, 1) == 0)
        if (++q > MAX_UNARY) return false;
    const uint32_t u = q << k | (k > 0 ? get(b, k) : 0);
    r = u != 0 && get(b, 1) ? -static_cast<int>(u) : static_cast<int>(u);
    return true;
}

// Prediction of the coefficients of coded filters and tables by method.
constexpr int FILTER_PRED[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-9, -5, 6}};
constexpr int TABLE_PRED[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-24, 24, -8}};

struct Map {
    int elements;
    uint8_t of[DSD_MAX_CHANNELS];
};

DstError read_map(Bits& b, int channels, Map& m) {
    m = Map{1, {}};
    if (get(b, 1)) return cut(b) ? DST_CUT_HEADER : DST_OK;
    for (int c = 1; c < channels; ++c) {
        const int width = 32 - __builtin_clz(static_cast<unsigned>(m.elements));
        const int v = static_cast<int>(get(b, width));
        if (cut(b)) return DST_CUT_HEADER;
        if (v > m.elements) return DST_BAD_MAP;
        if (v == m.elements) ++m.elements;
        m.of[c] = static_cast<uint8_t>(v);
    }
    return DST_OK;
}

// One filter (signed, 9-bit, 7-bit length) or probability table (1..128,
// 7-bit values plus 1, 6-bit length) into v[0 .. length-1].
DstError read_coefficients(Bits& b, bool filter, int& length, int* v) {
    const DstError range = filter ? DST_BAD_COEFFICIENT : DST_BAD_PROBABILITY;
    const auto first = [&](uint32_t bits) { return filter ? signed9(bits) : static_cast<int>(bits) + 1; };
    const int width = filter ? 9 : 7;
    length = static_cast<int>(get(b, filter ? 7 : 6)) + 1;
    if (get(b, 1) == 0) {
        for (int j = 0; j < length; ++j) v[j] = first(get(b, width));
        return cut(b) ? DST_CUT_HEADER : DST_OK;
    }
    const int method = static_cast<int>(get(b, 2));
    if (cut(b)) return DST_CUT_HEADER;
    if (method == 3) return DST_BAD_METHOD;
    if (length < method + 1) return DST_SHORT_CODED;
    for (int j = 0; j <= method; ++j) v[j] = first(get(b, width));
    const int k = static_cast<int>(get(b, 3));
    const int(&pred)[3] = filter ? FILTER_PRED[method] : TABLE_PRED[method];
    for (int j = method + 1; j < length; ++j) {
        int x = 0, r = 0;
        for (int t = 0; t <= method; ++t) x += pred[t] * v[j - 1 - t];
        const bool read = rice(b, k, r);
        if (cut(b)) return DST_CUT_HEADER;
        if (!read) return range;
        v[j] = r - round8(x);
        if (filter ? v[j] < -256 || v[j] > 255 : v[j] < 1 || v[j] > 128) return range;
    }
    return cut(b) ? DST_CUT_HEADER : DST_OK;
}

// Prediction by per-byte sums, eight time steps at a time. At a time i
// that is a multiple of 8 the history H is fixed for the next 8 steps, and
// at step i + r (r = 0..7) z = sum over t < r of h[t] b(t) (the r bits
// decoded since, bits 0..r-1 of the history) plus S_r = sum over u of
// h[u + r] b_i(u) (the old history against the filter moved by r). For
// group j (history byte j, bit l being b_i(8j + l)), lane r of
// shifted[e][j][byte] holds that byte's part of S_r: one 16-byte load per
// byte gives all eight S_r, and recent[e][r][low 7 bits] the first part.
using Lanes16 = int16_t __attribute__((vector_size(16)));
using Lanes32 = int32_t __attribute__((vector_size(32)));
}  // namespace

// The tables of one frame, some 700 KiB: frames decoded at once each have
// their own.
struct DstTables {
    Lanes16 shifted[DSD_MAX_CHANNELS][GROUPS][256];
    int16_t recent[DSD_MAX_CHANNELS][8][128];
    int groups[DSD_MAX_CHANNELS];
    uint8_t probability[DSD_MAX_CHANNELS][MAX_INDEX + 1];
};

namespace {

using Tables = DstTables;

// Those of dst_decode_frame and dstReadFrame: one set per thread that
// calls them, made on its first frame.
thread_local std::unique_ptr<Tables> thread_tables;

Tables* tables() {
    if (thread_tables == nullptr) thread_tables.reset(new (std::nothrow) Tables);
    return thread_tables.get();
}

void build_sums(Tables& t, int e, int length, const int* h) {
    const auto coefficient = [&](int t) { return static_cast<int16_t>(t < length ? h[t] : 0); };
    t.groups[e] = (length + 7) / 8;
    for (int j = 0; j < t.groups[e]; ++j) {
        Lanes16 twice[8], all = {};
        for (int l = 0; l < 8; ++l) {
            for (int r = 0; r < 8; ++r) twice[l][r] = coefficient(8 * j + l + r);
            all += twice[l];
            twice[l] *= 2;
        }
        Lanes16* s = t.shifted[e][j];
        s[0] = -all;
        for (int k = 1; k < 256; ++k) s[k] = s[k & (k - 1)] + twice[__builtin_ctz(static_cast<unsigned>(k))];
    }
    for (int r = 0; r < 8; ++r) {
        for (int k = 0; k < 128; ++k) {
            int z = 0;
            for (int u = 0; u < r; ++u) z += (k >> u & 1 ? 1 : -1) * coefficient(u);
            t.recent[e][r][k] = static_cast<int16_t>(z);
        }
    }
}

void build_probability(Tables& t, int e, int length, const int* p) {
    for (int i = 0; i <= MAX_INDEX; ++i) t.probability[e][i] = static_cast<uint8_t>(p[i < length ? i : length - 1]);
}

// S_0..S_7 of one channel from its 128-bit history (lo: the last 64 bits,
// the most recent in bit 0). Each half of the groups covers at most 64
// coefficients and so stays within 16 bits; the halves are added in 32.
inline void predict8(const Lanes16 (*s)[256], int g, uint64_t lo, uint64_t hi, int32_t out[8]) {
    Lanes16 a = {}, b = {};
    switch (g) {
        case 16: b += s[15][hi >> 56]; [[fallthrough]];
        case 15: b += s[14][hi >> 48 & 255]; [[fallthrough]];
        case 14: b += s[13][hi >> 40 & 255]; [[fallthrough]];
        case 13: b += s[12][hi >> 32 & 255]; [[fallthrough]];
        case 12: b += s[11][hi >> 24 & 255]; [[fallthrough]];
        case 11: b += s[10][hi >> 16 & 255]; [[fallthrough]];
        case 10: b += s[9][hi >> 8 & 255]; [[fallthrough]];
        case 9: b += s[8][hi & 255]; [[fallthrough]];
        case 8: a += s[7][lo >> 56]; [[fallthrough]];
        case 7: a += s[6][lo >> 48 & 255]; [[fallthrough]];
        case 6: a += s[5][lo >> 40 & 255]; [[fallthrough]];
        case 5: a += s[4][lo >> 32 & 255]; [[fallthrough]];
        case 4: a += s[3][lo >> 24 & 255]; [[fallthrough]];
        case 3: a += s[2][lo >> 16 & 255]; [[fallthrough]];
        case 2: a += s[1][lo >> 8 & 255]; [[fallthrough]];
        default: a += s[0][lo & 255];
    }
    const Lanes32 sum = __builtin_convertvector(a, Lanes32) + __builtin_convertvector(b, Lanes32);
    std::memcpy(out, &sum, sizeof sum);
}

// The arithmetic decoder. The code bits come from a 64-bit window,
// reloaded when fewer than 16 of its bits are left, so that taking the bits
// of a renormalisation is a shift. Its state lives in locals of the caller
// (in registers) and it has no branches (conditional moves pick the
// outcome): whether the likely outcome comes and whether A needs
// renormalising are coin tosses for the CPU.
struct Coder {
    uint32_t a, c;
    uint64_t window;  // the next bits, most significant first
    uint32_t used;    // bits taken from the window since it was loaded
    uint64_t pos;     // bit position of the window's first bit
};

// 64 bits from bit position `pos` on.
inline uint64_t peek64(const Bits& b, uint64_t pos) {
    const uint64_t byte = pos >> 3;
    const unsigned shift = static_cast<unsigned>(pos & 7);
    uint64_t w = 0;
    if (byte + 9 <= b.cap) {
        std::memcpy(&w, b.buf + byte, 8);
        return __builtin_bswap64(w) << shift | static_cast<uint64_t>(b.buf[byte + 8] >> (8 - shift));
    }
    for (uint64_t i = 0; i < 64; ++i) {
        const uint64_t at = (pos + i) >> 3;
        w = w << 1 | (at < b.cap ? b.buf[at] >> (7 - ((pos + i) & 7)) & 1 : 0);
    }
    return w;
}

__attribute__((always_inline)) inline uint32_t decode_bit(Coder& ac, const Bits& b, uint32_t p) {
    if (ac.used > 48) {
        ac.pos += ac.used;
        ac.window = peek64(b, ac.pos);
        ac.used = 0;
    }
    const uint32_t k = (ac.a >> 8) | ((ac.a >> 7) & 1);
    const uint32_t q = k * p;
    const uint32_t aq = ac.a - q;
    uint32_t a = q, c = ac.c - aq, e = 0;  // a is at least 8
    if (__builtin_expect_with_probability(ac.c < aq, 1, 0.5)) a = aq, c = ac.c, e = 1;
    const int n = std::max(__builtin_clz(a) - 20, 0);
    ac.a = a << n;
    ac.c = c << n | static_cast<uint32_t>(ac.window >> 1 >> (63 - n));
    ac.window <<= n;
    ac.used += static_cast<uint32_t>(n);
    return e;
}

uint8_t reverse8(uint8_t x) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r << 1 | (x >> i & 1));
    return r;
}

// The frame in frame[0 .. size-1], PAD zeros after it. Compiled twice (see
// decode_padded).
__attribute__((always_inline)) inline DstError decode_body(const uint8_t* frame, size_t size, int channels,
                                                           uint32_t bits, uint8_t* out, Tables& t) {
    Bits b{frame, 0, static_cast<uint64_t>(size) * 8, size + PAD};
    const size_t sound = bits / 8 * static_cast<size_t>(channels);
    if (size == 0) return DST_CUT_HEADER;
    if (get(b, 1) == 0) {
        get(b, 1);
        if (get(b, 6) != 0) return DST_PLAIN_RESERVED;
        if (size - 1 < sound) return DST_PLAIN_SHORT;
        std::memcpy(out, frame + 1, sound);
        return DST_OK;
    }
    if (get(b, 3) != 7) return DST_SEGMENTED;
    const bool same_mapping = get(b, 1);
    Map fmap, pmap;
    DstError err = read_map(b, channels, fmap);
    if (err == DST_OK && !same_mapping) err = read_map(b, channels, pmap);
    if (err != DST_OK) return err;
    if (same_mapping) pmap = fmap;
    uint32_t half_until[DSD_MAX_CHANNELS];
    for (int c = 0; c < channels; ++c) half_until[c] = get(b, 1);
    int length[DSD_MAX_CHANNELS], h0 = 0;
    for (int e = 0; e < fmap.elements; ++e) {
        int h[MAX_FILTER];
        if ((err = read_coefficients(b, true, length[e], h)) != DST_OK) return err;
        build_sums(t, e, length[e], h);
        if (e == 0) h0 = h[0];
    }
    for (int e = 0; e < pmap.elements; ++e) {
        int p[MAX_TABLE], n = 0;
        if ((err = read_coefficients(b, false, n, p)) != DST_OK) return err;
        build_probability(t, e, n, p);
    }
    const bool reserved = get(b, 1);
    if (cut(b)) return DST_CUT_HEADER;
    if (reserved) return DST_RESERVED_SET;

    // A channel with half probability set codes its bits at probability
    // 128 while its history is shorter than its filter.
    for (int c = 0; c < channels; ++c) half_until[c] = half_until[c] ? static_cast<uint32_t>(length[fmap.of[c]]) : 0;
    Coder ac{4095, get(b, 12), 0, 0, 0};
    ac.pos = b.pos;
    ac.window = peek64(b, ac.pos);
    decode_bit(ac, b, (reverse8(static_cast<uint8_t>(h0 & 127)) >> 1) + 1);
    uint64_t lo[DSD_MAX_CHANNELS], hi[DSD_MAX_CHANNELS];
    const Lanes16(*s[DSD_MAX_CHANNELS])[256];
    const int16_t(*newer[DSD_MAX_CHANNELS])[128];
    int g[DSD_MAX_CHANNELS];
    const uint8_t* prob[DSD_MAX_CHANNELS];
    for (int c = 0; c < channels; ++c) {
        lo[c] = hi[c] = 0xAAAAAAAAAAAAAAAAull;
        s[c] = t.shifted[fmap.of[c]];
        newer[c] = t.recent[fmap.of[c]];
        g[c] = t.groups[fmap.of[c]];
        prob[c] = t.probability[pmap.of[c]];
    }
    for (uint32_t i = 0; i < bits; i += 8) {
        // The predictions depend on each channel's own history only: those
        // of all channels for 8 steps first, then the serial decoding.
        int32_t older[DSD_MAX_CHANNELS][8];
        for (int c = 0; c < channels; ++c) predict8(s[c], g[c], lo[c], hi[c], older[c]);
        for (uint32_t r = 0; r < 8; ++r) {
            for (int c = 0; c < channels; ++c) {
                const int z = older[c][r] + newer[c][r][lo[c] & 127];
                const uint32_t p = i + r < half_until[c] ? 128 : prob[c][std::abs(z) >> 3];
                const uint64_t v = decode_bit(ac, b, p) ^ static_cast<uint32_t>(z < 0);
                hi[c] = hi[c] << 1 | lo[c] >> 63;
                lo[c] = lo[c] << 1 | v;
            }
        }
        if (ac.pos + ac.used > b.end + MAX_OVERRUN_BITS) return DST_OVERRUN;
        uint8_t* o = out + (i >> 3) * static_cast<size_t>(channels);
        for (int c = 0; c < channels; ++c) o[c] = static_cast<uint8_t>(lo[c]);
    }
    return DST_OK;
}

DstError decode_portable(const uint8_t* frame, size_t size, int channels, uint32_t bits, uint8_t* out, Tables& t) {
    return decode_body(frame, size, channels, bits, out, t);
}

#if defined(__x86_64__)
// With LZCNT, BMI2 and AVX2 the decoder's chain from bit to bit is some
// 15 % shorter: a one-cycle count of leading zeros, shifts by a register
// without the CL dance, the 32-bit sums in one register.
__attribute__((target("lzcnt,bmi,bmi2,avx2"))) DstError decode_v3(const uint8_t* frame, size_t size, int channels,
                                                                   uint32_t bits, uint8_t* out, Tables& t) {
    return decode_body(frame, size, channels, bits, out, t);
}

bool have_v3() {
    static const bool yes = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        const bool lzcnt = __get_cpuid(0x80000001, &a, &b, &c, &d) && (c & (1u << 5));
        return lzcnt && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    }();
    return yes;
}
#endif

DstError decode_padded(Tables* t, const uint8_t* frame, size_t size, int channels, uint32_t bits, uint8_t* out) {
    if (t == nullptr) return DST_NO_MEMORY;
#if defined(__x86_64__)
    if (have_v3()) return decode_v3(frame, size, channels, bits, out, *t);
#endif
    return decode_portable(frame, size, channels, bits, out, *t);
}

bool valid_shape(int channels, uint32_t bits) {
    return channels >= 1 && channels <= DSD_MAX_CHANNELS && bits > 0 && bits % 8 == 0 && bits <= DST_MAX_FRAME_BITS;
}

int fail(DstError error, uint64_t index) {
    dst_report(error, index);
    return -1;
}

// Reads n bytes into buf, or passes over them when buf is null; by reads
// rather than seeks, so that a pipe works as well.
bool take(FILE* f, uint8_t* buf, uint64_t n) {
    if (buf != nullptr) return std::fread(buf, 1, n, f) == n;
    uint8_t scratch[4096];
    for (uint64_t left = n; left > 0;) {
        const size_t piece = left < sizeof scratch ? static_cast<size_t>(left) : sizeof scratch;
        if (std::fread(scratch, 1, piece, f) != piece) return false;
        left -= piece;
    }
    return true;
}

}  // namespace

uint32_t dst_frame_bits(uint32_t sample_rate) {
    if (sample_rate == 0 || sample_rate % (DST_FRAMES_PER_SECOND * 8) != 0) return 0;
    const uint32_t bits = sample_rate / DST_FRAMES_PER_SECOND;
    return bits <= DST_MAX_FRAME_BITS ? bits : 0;
}

size_t dst_sound_bytes(const DsdiffInfo& info) {
    return dst_frame_bits(info.sample_rate) / 8 * static_cast<size_t>(info.channel_count);
}

DstError dst_decode_frame(const uint8_t* frame, size_t size, int channels, uint32_t bits, uint8_t* out) {
    if (size > DST_MAX_FRAME_BYTES || !valid_shape(channels, bits)) return DST_TOO_LARGE;
    frame_buf.assign(size + PAD, 0);
    if (size > 0) std::memcpy(frame_buf.data(), frame, size);
    return decode_padded(tables(), frame_buf.data(), size, channels, bits, out);
}

DstTables* dst_tables_new() { return new (std::nothrow) DstTables; }

void dst_tables_free(DstTables* tables) { delete tables; }

DstError dst_decode_padded(DstTables* tables, const uint8_t* frame, size_t size, int channels, uint32_t bits,
                           uint8_t* out) {
    if (size > DST_MAX_FRAME_BYTES || !valid_shape(channels, bits)) return DST_TOO_LARGE;
    return decode_padded(tables, frame, size, channels, bits, out);
}

void dst_report(DstError error, uint64_t frame_index) {
    report_error(DST_REPORTS[error < DST_ERROR_COUNT ? error : DST_OK], static_cast<unsigned long long>(frame_index));
}

int dstReadCoded(DsdiffInfo* info, std::vector<uint8_t>& frame, size_t* size, DstError* error) {
    if (info->frames_read >= info->frame_count) return 1;
    const auto failed = [error](DstError e) {
        *error = e;
        return -1;
    };
    if (!valid_shape(info->channel_count, dst_frame_bits(info->sample_rate))) return failed(DST_TOO_LARGE);
    for (;;) {
        uint8_t head[12];
        if (info->dst_remaining < 12 || !take(info->file, head, 12)) return failed(DST_MISSING);
        uint64_t n = 0;
        for (int i = 4; i < 12; ++i) n = n << 8 | head[i];
        info->dst_remaining -= 12;
        if (n > info->dst_remaining) return failed(DST_CHUNK_OVERFLOW);
        const bool is_frame = std::memcmp(head, "DSTF", 4) == 0;
        if (is_frame && n > DST_MAX_FRAME_BYTES) return failed(DST_TOO_LARGE);
        if (is_frame) frame.assign(static_cast<size_t>(n) + PAD, 0);
        if (!take(info->file, is_frame ? frame.data() : nullptr, n)) return failed(DST_MISSING);
        info->dst_remaining -= n;
        // The pad byte after an odd size, unless the chunk ends first.
        if ((n & 1) && info->dst_remaining > 0) {
            if (!take(info->file, nullptr, 1)) return failed(DST_MISSING);
            info->dst_remaining -= 1;
        }
        if (!is_frame) continue;  // DSTC (a frame's CRC) and anything else
        info->frames_read++;
        *size = static_cast<size_t>(n);
        return 0;
    }
}

int dstReadFrame(DsdiffInfo* info, uint8_t* out) {
    const uint64_t index = info->frames_read;
    size_t size = 0;
    DstError err = DST_OK;
    const int r = dstReadCoded(info, frame_buf, &size, &err);
    if (r > 0) return 1;
    if (r == 0) err = decode_padded(tables(), frame_buf.data(), size, info->channel_count, dst_frame_bits(info->sample_rate), out);
    return err == DST_OK ? 0 : fail(err, index);
}
