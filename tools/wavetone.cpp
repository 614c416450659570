#include "wavetone.h"

#include <cmath>
#include <cstdio>
#include <complex>
#include <cstring>
#include <numbers>

namespace {

uint64_t le(const uint8_t* p, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

bool read_whole_file(const char* name, std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(name, "rb");
    if (f == nullptr) return false;
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Walks the chunks; the ds64 sizes stand in for 32-bit fields of all ones.
const char* wave_parse(const std::vector<uint8_t>& b, Wave& w) {
    if (b.size() < 12) return "too short for a wave file";
    w.rf64 = std::memcmp(b.data(), "RF64", 4) == 0;
    if (!w.rf64 && std::memcmp(b.data(), "RIFF", 4) != 0) return "neither RF64 nor RIFF";
    if (std::memcmp(b.data() + 8, "WAVE", 4) != 0) return "not a WAVE form";
    uint64_t ds64_data = 0, ds64_frames = 0;
    bool have_fmt = false, have_data = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint8_t* id = b.data() + pos;
        const uint64_t size = le(id + 4, 4);
        const size_t body = pos + 8;
        if (std::memcmp(id, "ds64", 4) == 0 && size >= 24 && body + 24 <= b.size()) {
            ds64_data = le(b.data() + body + 8, 8);
            ds64_frames = le(b.data() + body + 16, 8);
        } else if (std::memcmp(id, "fmt ", 4) == 0 && size >= 16 && body + 16 <= b.size()) {
            w.format_tag = static_cast<uint16_t>(le(b.data() + body, 2));
            // WAVE_FORMAT_EXTENSIBLE: the tag is the subformat's first field.
            if (w.format_tag == 0xFFFE && size >= 40 && body + 40 <= b.size())
                w.format_tag = static_cast<uint16_t>(le(b.data() + body + 24, 2));
            w.channels = static_cast<uint16_t>(le(b.data() + body + 2, 2));
            w.rate = static_cast<uint32_t>(le(b.data() + body + 4, 4));
            w.bits = static_cast<uint16_t>(le(b.data() + body + 14, 2));
            have_fmt = true;
        } else if (std::memcmp(id, "data", 4) == 0) {
            w.data_offset = body;
            w.data_size = (w.rf64 && size == 0xFFFFFFFFu) ? ds64_data : size;
            have_data = true;
            break;
        }
        if (size > b.size()) break;
        pos = body + static_cast<size_t>(size) + (size & 1);
    }
    if (!have_fmt) return "no format chunk";
    if (!have_data) return "no data chunk";
    w.is_float = w.format_tag == 3 && w.bits == 32;
    if (!w.is_float && (w.format_tag != 1 || (w.bits != 16 && w.bits != 24))) return "not 16- or 24-bit PCM or float";
    if (w.channels == 0) return "no channel";
    const uint64_t frame_bytes = w.bits / 8ull * w.channels;
    w.frames = w.rf64 && ds64_frames != 0 ? ds64_frames : w.data_size / frame_bytes;
    const uint64_t n = std::min((b.size() - w.data_offset) / frame_bytes, w.data_size / frame_bytes);
    const size_t width = w.bits / 8;
    w.x.resize(n * w.channels);
    if (w.bits == 16) w.pcm.resize(n * w.channels);
    for (size_t i = 0; i < w.x.size(); ++i) {
        const uint32_t v = static_cast<uint32_t>(le(b.data() + w.data_offset + width * i, static_cast<int>(width)));
        if (w.is_float) {
            float f;
            std::memcpy(&f, &v, sizeof f);
            w.x[i] = f;
        } else if (w.bits == 24) {
            w.x[i] = (static_cast<int32_t>(v << 8) >> 8) / 8388607.0;
        } else {
            w.pcm[i] = static_cast<int16_t>(v);
            w.x[i] = w.pcm[i] / 32767.0;
        }
    }
    return nullptr;
}

std::vector<double> wave_channel(const Wave& w, int c) {
    std::vector<double> x;
    for (size_t i = static_cast<size_t>(c); i < w.x.size(); i += w.channels) x.push_back(w.x[i]);
    return x;
}

bool tone_fit(const std::vector<double>& x, double rate, double freq, size_t begin, size_t end, Tone& t) {
    // Normal equations for s*sin + c*cos + d, solved by Gauss-Jordan: the
    // matrix is well conditioned over whole periods.
    double m[3][4] = {};
    for (size_t i = begin; i < end; ++i) {
        const double ph = 2 * std::numbers::pi * freq * static_cast<double>(i) / rate;
        const double v[3] = {std::sin(ph), std::cos(ph), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) m[r][k] += v[r] * v[k];
            m[r][3] += v[r] * x[i];
        }
    }
    for (int p = 0; p < 3; ++p) {
        if (std::fabs(m[p][p]) < 1e-12) return false;
        for (int r = 0; r < 3; ++r) {
            if (r == p) continue;
            const double f = m[r][p] / m[p][p];
            for (int k = p; k < 4; ++k) m[r][k] -= f * m[p][k];
        }
    }
    const double s = m[0][3] / m[0][0], c = m[1][3] / m[1][1];
    t.freq = freq;
    t.amplitude = std::hypot(s, c);
    t.phase = std::atan2(c, s);
    t.dc = m[2][3] / m[2][2];
    double sum = 0;
    for (size_t i = begin; i < end; ++i) {
        const double ph = 2 * std::numbers::pi * freq * static_cast<double>(i) / rate;
        const double e = x[i] - s * std::sin(ph) - c * std::cos(ph) - t.dc;
        sum += e * e;
    }
    t.residual = std::sqrt(sum / static_cast<double>(end - begin));
    return true;
}

double thd_n_db(const std::vector<double>& x, double rate, double freq, size_t begin, size_t end, double lo, double hi) {
    Tone t;
    if (!tone_fit(x, rate, freq, begin, end, t)) return 0.0;
    size_t n = 1;
    while (2 * n <= end - begin) n *= 2;
    std::vector<std::complex<double>> e(n);
    double window_power = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double ph = 2 * std::numbers::pi * freq * static_cast<double>(begin + i) / rate;
        const double a = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        const double w = 0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
        // The fitted sine again, from its amplitude and phase at begin.
        const double s = std::sin(ph), c = std::cos(ph);
        const double fit = t.dc + t.amplitude * (std::cos(t.phase) * s + std::sin(t.phase) * c);
        e[i] = (x[begin + i] - fit) * w;
        window_power += w * w;
    }
    // Iterative radix-2 FFT.
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(e[i], e[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> r = 1.0;
            for (size_t k = 0; k < len / 2; ++k, r *= step) {
                const std::complex<double> u = e[i + k], v = e[i + k + len / 2] * r;
                e[i + k] = u + v;
                e[i + k + len / 2] = u - v;
            }
        }
    }
    double band = 0.0;
    const double bin = rate / static_cast<double>(n);
    for (size_t k = static_cast<size_t>(std::ceil(lo / bin)); k <= static_cast<size_t>(hi / bin) && k < n / 2; ++k)
        band += std::norm(e[k]);
    band *= 2.0 / (static_cast<double>(n) * window_power);
    return 10.0 * std::log10(band / (t.amplitude * t.amplitude / 2.0));
}

bool tone_find(const std::vector<double>& x, double rate, Tone& t) {
    const size_t start = std::min(x.size(), static_cast<size_t>(rate / 10));
    if (x.size() - start < 16) return false;
    double mean = 0;
    for (size_t i = start; i < x.size(); ++i) mean += x[i];
    mean /= static_cast<double>(x.size() - start);
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = start + 1; i < x.size(); ++i) {
        const double a = x[i - 1] - mean, b = x[i] - mean;
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(i - 1) + a / (a - b);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 3) return false;
    return tone_fit(x, rate, rate * (crossings - 1) / (last - first), static_cast<size_t>(std::ceil(first)),
                    static_cast<size_t>(last), t);
}
