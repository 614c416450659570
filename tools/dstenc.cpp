#include "dstenc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace dstenc {

namespace {

constexpr int kPredFilter[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-9, -5, 6}};
constexpr int kPredTable[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-24, 24, -8}};

// The frame's bits, one per byte until they are packed at the end.
struct Bits {
    std::vector<uint8_t> b;
    void put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> i & 1));
    }
    void rice(int r, int k) {
        const uint32_t u = static_cast<uint32_t>(std::abs(r));
        b.insert(b.end(), u >> k, 0);
        b.push_back(1);
        put(u & ((1u << k) - 1), k);
        if (u != 0) b.push_back(r < 0);
    }
};

int rice_length(int r, int k) {
    const uint32_t u = static_cast<uint32_t>(std::abs(r));
    return static_cast<int>(u >> k) + 1 + k + (u != 0);
}

int round8(int x) { return x >= 0 ? (x + 4) / 8 : -((-x + 3) / 8); }

struct Map {
    int kind;
    int elements;
    std::vector<int> of;
};

Map make_map(int kind, int channels) {
    Map m{kind, 1, std::vector<int>(static_cast<size_t>(channels), 0)};
    for (int c = 0; c < channels; ++c) {
        m.of[c] = kind == 1 ? c : kind == 2 ? c % 2 : 0;
        m.elements = std::max(m.elements, m.of[c] + 1);
    }
    return m;
}

// A new element is its number E; the field is floor(log2 E) + 1 bits wide.
void write_map(Bits& w, const Map& m, bool corrupt) {
    w.put(m.kind == 0, 1);
    if (m.kind == 0) return;
    int e = 1;
    for (size_t c = 1; c < m.of.size(); ++c) {
        const int width = 32 - __builtin_clz(static_cast<unsigned>(e));
        const int v = corrupt && c == 2 ? e + 1 : m.of[c];
        w.put(static_cast<uint32_t>(v), width);
        if (v == e) ++e;
    }
}

// A filter (9-bit two's complement coefficients) or probability table
// (values 1..128 stored minus 1 in 7 bits), plain or coded by `method`.
void write_coefficients(Bits& w, bool filter, const std::vector<int>& v, int method) {
    const int n = static_cast<int>(v.size());
    const auto first = [&](int x) { return static_cast<uint32_t>(filter ? x & 511 : x - 1); };
    const int width = filter ? 9 : 7;
    w.put(static_cast<uint32_t>(n - 1), filter ? 7 : 6);
    if (method < 0 || n < method + 1) {
        w.put(0, 1);
        for (int x : v) w.put(first(x), width);
        return;
    }
    w.put(1, 1);
    w.put(static_cast<uint32_t>(method), 2);
    for (int j = 0; j <= method; ++j) w.put(first(v[j]), width);
    std::vector<int> r;
    for (int j = method + 1; j < n; ++j) {
        int x = 0;
        for (int t = 0; t <= method; ++t) x += (filter ? kPredFilter : kPredTable)[method][t] * v[j - 1 - t];
        r.push_back(v[j] + round8(x));
    }
    int best = 0, best_bits = INT32_MAX;
    for (int k = 0; k < 8; ++k) {
        int total = 0;
        for (int x : r) total += rice_length(x, k);
        if (total < best_bits) best = k, best_bits = total;
    }
    w.put(static_cast<uint32_t>(best), 3);
    for (int x : r) w.rice(x, best);
}

// The exact arithmetic coder: L as a bit string of 12 + S bits, most
// significant first, with carries run into the bits already there.
struct Coder {
    std::vector<uint8_t> low = std::vector<uint8_t>(12, 0);
    uint32_t a = 4095;
    void add(uint32_t v) {
        uint32_t carry = 0;
        for (size_t i = 0, pos = low.size(); (i < 12 || carry) && pos > 0; ++i) {
            --pos;
            const uint32_t s = low[pos] + (i < 12 ? (v >> i & 1) : 0) + carry;
            low[pos] = static_cast<uint8_t>(s & 1);
            carry = s >> 1;
        }
    }
    void code(bool e, uint32_t p) {
        const uint32_t k = (a >> 8) | ((a >> 7) & 1);
        const uint32_t q = k * p;
        if (e) {
            a -= q;
        } else {
            add(a - q);
            a = q;
        }
        if (a < 2048) {
            const int n = __builtin_clz(a) - 20;
            a <<= n;
            low.insert(low.end(), static_cast<size_t>(n), 0);
        }
    }
};

uint8_t reverse8(uint8_t x) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r << 1 | (x >> i & 1));
    return r;
}

// Per-byte sums of 8 coefficients, as a decoder would use them.
struct Sums {
    std::vector<std::array<int, 256>> g;
    explicit Sums(const std::vector<int>& h) {
        for (size_t j = 0; j * 8 < h.size(); ++j) {
            std::array<int, 256> s{};
            for (int k = 0; k < 256; ++k)
                for (size_t l = 0; l < 8 && 8 * j + l < h.size(); ++l) s[k] += (k >> l & 1 ? 1 : -1) * h[8 * j + l];
            g.push_back(s);
        }
    }
    int operator()(uint64_t lo, uint64_t hi) const {
        int z = 0;
        for (size_t j = 0; j < g.size(); ++j) z += g[j][(j < 8 ? lo >> (8 * j) : hi >> (8 * (j - 8))) & 255];
        return z;
    }
};

}  // namespace

bool corrupt_from_name(const char* name, Corrupt& out) {
    static const char* const names[] = {"none", "plain-reserved", "segmented", "map", "filter-method", "table-method",
                                        "short-coded", "coefficient", "probability", "reserved", "cut", "overrun"};
    for (size_t i = 0; i < std::size(names); ++i)
        if (std::strcmp(name, names[i]) == 0) return out = static_cast<Corrupt>(i), true;
    return false;
}

std::vector<Filter> design_filters(const uint8_t* sound, int channels, uint64_t bytes_per_channel) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes_per_channel, 8192)) * 8;
    std::vector<Filter> filters(static_cast<size_t>(channels), Filter{});
    std::vector<double> x(n);
    for (int c = 0; c < channels && n > kMaxFilter; ++c) {
        for (size_t i = 0; i < n; ++i) x[i] = sound[i / 8 * channels + c] >> (7 - i % 8) & 1 ? 1.0 : -1.0;
        double r[kMaxFilter + 1];
        for (int k = 0; k <= kMaxFilter; ++k) {
            r[k] = 0;
            for (size_t i = static_cast<size_t>(k); i < n; ++i) r[k] += x[i] * x[i - k];
        }
        r[0] *= 1.001;  // keeps a periodic pattern's system solvable
        // Levinson-Durbin: x[i] ~ sum a[k] x[i-k].
        double a[kMaxFilter + 1] = {}, prev[kMaxFilter + 1], err = r[0];
        for (int i = 1; i <= kMaxFilter && err > 0; ++i) {
            double acc = r[i];
            for (int j = 1; j < i; ++j) acc -= a[j] * r[i - j];
            const double k = acc / err;
            std::copy(a, a + i, prev);
            a[i] = k;
            for (int j = 1; j < i; ++j) a[j] = prev[j] - k * prev[i - j];
            err *= 1 - k * k;
        }
        double peak = 0;
        for (int t = 1; t <= kMaxFilter; ++t) peak = std::max(peak, std::abs(a[t]));
        for (int t = 0; peak > 1e-9 && t < kMaxFilter; ++t)
            filters[c][t] = std::clamp(static_cast<int>(std::lround(a[t + 1] * 255 / peak)), -256, 255);
    }
    return filters;
}

Choice mixed_choice(uint64_t index, int channels, bool coded_only) {
    static const int filter_lengths[] = {kMaxFilter, 1, 2, 3, 41, 100};
    static const int table_lengths[] = {kMaxTable, 1, 2, 3, 29};
    Choice ch;
    ch.plain = !coded_only && index % 7 == 6;
    ch.filter_map = static_cast<int>(index % 3);
    ch.table_map = index / 3 % 2 ? static_cast<int>((index + 1) % 3) : -1;
    ch.filter_method = static_cast<int>(index % 4) - 1;
    ch.table_method = static_cast<int>((index + index / 4) % 4) - 1;
    ch.filter_lengths.clear(), ch.table_lengths.clear();
    for (int e = 0; e < channels; ++e) {
        ch.filter_lengths.push_back(filter_lengths[(index + static_cast<uint64_t>(e)) % 6]);
        ch.table_lengths.push_back(table_lengths[(index + static_cast<uint64_t>(e)) % 5]);
    }
    ch.half = index % 3 == 0 ? 0 : index % 3 == 1 ? 0x3FF : 0x155;
    return ch;
}

std::vector<uint8_t> encode_frame(const uint8_t* sound, int channels, uint32_t bits,
                                  const std::vector<Filter>& filters, const Choice& choice, Corrupt corrupt) {
    const size_t sound_bytes = bits / 8 * static_cast<size_t>(channels);
    if (choice.plain || corrupt == Corrupt::PlainReserved) {
        std::vector<uint8_t> out{static_cast<uint8_t>(corrupt == Corrupt::PlainReserved ? 0x01 : 0x00)};
        out.insert(out.end(), sound, sound + sound_bytes);
        return out;
    }
    const Map fmap = make_map(corrupt == Corrupt::Map ? 1 : choice.filter_map, channels);
    const Map pmap = choice.table_map < 0 ? fmap : make_map(choice.table_map, channels);
    const auto length_of = [](const std::vector<int>& list, int e, int max) {
        return std::clamp(list.empty() ? max : list[static_cast<size_t>(e) % list.size()], 1, max);
    };

    // Each filter element is the predictor of its first channel, cut to its length.
    std::vector<std::vector<int>> h(static_cast<size_t>(fmap.elements));
    for (int e = 0; e < fmap.elements; ++e) {
        const int c = static_cast<int>(std::find(fmap.of.begin(), fmap.of.end(), e) - fmap.of.begin());
        const int n = corrupt == Corrupt::Coefficient && e == 0 ? kMaxFilter : length_of(choice.filter_lengths, e, kMaxFilter);
        h[e].assign(filters[c].begin(), filters[c].begin() + n);
    }
    std::vector<Sums> sums;
    for (const auto& f : h) sums.emplace_back(f);

    // Predictions and residual bits (1: the prediction held) of every bit.
    std::vector<int> z(static_cast<size_t>(bits) * channels);
    std::vector<uint8_t> e(z.size());
    std::vector<uint64_t> lo(channels, 0xAAAAAAAAAAAAAAAAull), hi(channels, 0xAAAAAAAAAAAAAAAAull);
    for (uint32_t i = 0; i < bits; ++i) {
        for (int c = 0; c < channels; ++c) {
            const size_t at = static_cast<size_t>(i) * channels + c;
            const uint64_t v = sound[i / 8 * channels + c] >> (7 - i % 8) & 1;
            z[at] = sums[fmap.of[c]](lo[c], hi[c]);
            e[at] = static_cast<uint8_t>(v ^ (z[at] < 0));
            hi[c] = hi[c] << 1 | lo[c] >> 63;
            lo[c] = lo[c] << 1 | v;
        }
    }

    // Probability tables from how often each |z| >> 3 missed.
    std::vector<std::vector<int>> p(static_cast<size_t>(pmap.elements));
    for (int t = 0; t < pmap.elements; ++t) {
        const int n = length_of(choice.table_lengths, t, kMaxTable);
        std::vector<double> miss(n, 0.5), total(n, 1.0);
        for (size_t at = 0; at < z.size(); ++at) {
            if (pmap.of[at % channels] != t) continue;
            const int bin = std::min(std::abs(z[at]) >> 3, n - 1);
            miss[bin] += e[at] == 0;
            total[bin] += 1;
        }
        for (int b = 0; b < n; ++b) p[t].push_back(std::clamp(static_cast<int>(std::lround(256 * miss[b] / total[b])), 1, 128));
    }

    Bits w;
    w.put(1, 1);
    w.put(corrupt == Corrupt::Segmented ? 6 : 7, 3);
    w.put(choice.table_map < 0, 1);
    write_map(w, fmap, corrupt == Corrupt::Map);
    if (choice.table_map >= 0) write_map(w, pmap, false);
    for (int c = 0; c < channels; ++c) w.put(choice.half >> c & 1, 1);
    for (int f = 0; f < fmap.elements; ++f) {
        if (f == 0 && corrupt == Corrupt::FilterMethod3) {
            w.put(static_cast<uint32_t>(h[0].size() - 1), 7), w.put(1, 1), w.put(3, 2);
        } else if (f == 0 && corrupt == Corrupt::ShortCoded) {
            w.put(0, 7), w.put(1, 1), w.put(2, 2);
        } else if (f == 0 && corrupt == Corrupt::Coefficient) {
            std::vector<int> bad = h[0];
            bad[1] = 300;
            write_coefficients(w, true, bad, 0);
        } else {
            write_coefficients(w, true, h[f], choice.filter_method);
        }
    }
    for (int t = 0; t < pmap.elements; ++t) {
        if (t == 0 && corrupt == Corrupt::TableMethod3) {
            w.put(static_cast<uint32_t>(p[0].size() - 1), 6), w.put(1, 1), w.put(3, 2);
        } else if (t == 0 && corrupt == Corrupt::Probability) {
            std::vector<int> bad = p[0];
            bad.resize(2, 64);
            bad[1] = 0;
            write_coefficients(w, false, bad, 0);
        } else {
            write_coefficients(w, false, p[t], choice.table_method);
        }
    }
    w.put(corrupt == Corrupt::Reserved, 1);
    const size_t header_bits = w.b.size();

    Coder ac;
    ac.code(true, (reverse8(static_cast<uint8_t>(h[0][0] & 127)) >> 1) + 1u);
    for (uint32_t i = 0; i < bits; ++i) {
        for (int c = 0; c < channels; ++c) {
            const size_t at = static_cast<size_t>(i) * channels + c;
            const int n = static_cast<int>(h[fmap.of[c]].size());
            const int* table = p[pmap.of[c]].data();
            const int last = static_cast<int>(p[pmap.of[c]].size()) - 1;
            const uint32_t prob = (choice.half >> c & 1) && i < static_cast<uint32_t>(n)
                                      ? 128u
                                      : static_cast<uint32_t>(table[std::min(std::abs(z[at]) >> 3, last)]);
            ac.code(e[at] != 0, prob);
        }
    }
    w.b.insert(w.b.end(), ac.low.begin(), ac.low.end());

    std::vector<uint8_t> out((w.b.size() + 7) / 8, 0);
    for (size_t i = 0; i < w.b.size(); ++i) out[i / 8] |= static_cast<uint8_t>(w.b[i] << (7 - i % 8));
    if (corrupt == Corrupt::Cut) out.resize(std::min<size_t>(out.size(), 2));
    if (corrupt == Corrupt::Overrun) out.resize(std::min(out.size(), header_bits / 8 + 8));
    return out;
}

}  // namespace dstenc
