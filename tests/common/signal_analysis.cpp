#include "signal_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

namespace sig {

namespace {

constexpr double kPi = std::numbers::pi;

double bessel_i0(double x) {
    double sum = 1.0, term = 1.0, q = x * x / 4.0;
    for (int k = 1; k < 500; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

size_t pow2_floor(size_t n) {
    size_t p = 1;
    while (p * 2 <= n) p *= 2;
    return n == 0 ? 0 : p;
}

uint64_t rd_le(const std::vector<uint8_t>& b, size_t off, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[off + static_cast<size_t>(i)];
    return v;
}

bool id_is(const std::vector<uint8_t>& b, size_t off, const char* id) {
    return off + 4 <= b.size() && std::equal(id, id + 4, b.begin() + static_cast<std::ptrdiff_t>(off));
}

}  // namespace

std::vector<double> decode_bits(const uint8_t* data, size_t frames, size_t channels, size_t channel) {
    std::vector<double> out;
    if (channels == 0 || channel >= channels) return out;
    out.reserve(frames * 8);
    for (size_t i = 0; i < frames; ++i) {
        unsigned b = data[i * channels + channel];
        for (int bit = 7; bit >= 0; --bit) out.push_back((b >> bit) & 1u ? 1.0 : -1.0);
    }
    return out;
}

std::vector<double> decode_bits(const std::vector<uint8_t>& data, size_t channels, size_t channel) {
    if (channels == 0) return {};
    return decode_bits(data.data(), data.size() / channels, channels, channel);
}

std::vector<double> kaiser_lowpass(size_t taps, double cutoff, double beta) {
    std::vector<double> h(taps);
    if (taps == 0) return h;
    const double mid = (static_cast<double>(taps) - 1.0) / 2.0;
    const double i0b = bessel_i0(beta);
    double sum = 0.0;
    for (size_t i = 0; i < taps; ++i) {
        double t = static_cast<double>(i) - mid;
        double sinc = t == 0.0 ? 2.0 * cutoff : std::sin(2.0 * kPi * cutoff * t) / (kPi * t);
        double r = mid > 0.0 ? t / mid : 0.0;
        double win = bessel_i0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0b;
        h[i] = sinc * win;
        sum += h[i];
    }
    for (auto& v : h) v /= sum;
    return h;
}

std::vector<double> design_lowpass(double rate, double pass_hz, double stop_hz, double atten_db) {
    if (!(rate > 0.0) || !(stop_hz > pass_hz) || !(atten_db > 21.0))
        throw std::invalid_argument("design_lowpass: bad band edges");
    double dw = 2.0 * kPi * (stop_hz - pass_hz) / rate;
    size_t taps = static_cast<size_t>(std::ceil((atten_db - 8.0) / (2.285 * dw))) + 1;
    taps |= 1;  // odd: whole-sample delay
    double beta = atten_db > 50.0 ? 0.1102 * (atten_db - 8.7)
                                  : 0.5842 * std::pow(atten_db - 21.0, 0.4) + 0.07886 * (atten_db - 21.0);
    return kaiser_lowpass(taps, (pass_hz + stop_hz) / 2.0 / rate, beta);
}

std::vector<double> fir_decimate(const std::vector<double>& x, const std::vector<double>& h, size_t factor) {
    std::vector<double> y;
    if (factor == 0 || h.empty() || x.size() < h.size()) return y;
    const size_t count = (x.size() - h.size()) / factor + 1;
    y.resize(count);
    const double* hp = h.data();
    const size_t taps = h.size();
    for (size_t m = 0; m < count; ++m) {
        const double* xp = x.data() + m * factor;
        double acc = 0.0;
        for (size_t k = 0; k < taps; ++k) acc += hp[k] * xp[k];
        y[m] = acc;
    }
    return y;
}

Decimated decimate_dsd(const std::vector<uint8_t>& data, double rate, size_t factor, size_t channels,
                       size_t channel) {
    Decimated d;
    if (factor == 0) return d;
    d.rate = rate / static_cast<double>(factor);
    if (d.rate < 88200.0 - 1e-6) throw std::invalid_argument("decimate_dsd: output rate below 88.2 kHz");
    auto h = design_lowpass(rate, 20000.0, d.rate - 20000.0, 160.0);
    d.samples = fir_decimate(decode_bits(data, channels, channel), h, factor);
    return d;
}

void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    if (n & (n - 1)) throw std::invalid_argument("fft: size not a power of two");
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const size_t half = len / 2;
        // Twiddles computed directly (not by repeated rotation) to keep
        // the round-off of long transforms near machine precision.
        std::vector<std::complex<double>> tw(half);
        for (size_t k = 0; k < half; ++k) tw[k] = std::polar(1.0, -2.0 * kPi * static_cast<double>(k) / static_cast<double>(len));
        for (size_t i = 0; i < n; i += len) {
            for (size_t k = 0; k < half; ++k) {
                auto u = a[i + k], v = a[i + k + half] * tw[k];
                a[i + k] = u + v;
                a[i + k + half] = u - v;
            }
        }
    }
}

std::vector<double> blackman_harris7(size_t n) {
    static constexpr double c[7] = {0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803,
                                    0.01081174209837, 0.00077658482522, 0.00001388721735};
    std::vector<double> w(n);
    for (size_t i = 0; i < n; ++i) {
        double x = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(n);
        double v = 0.0;
        for (int k = 0; k < 7; ++k) v += (k % 2 ? -c[k] : c[k]) * std::cos(k * x);
        w[i] = v;
    }
    return w;
}

double power_dbfs(double power) { return 10.0 * std::log10(power / kFullScalePower); }

double amplitude_dbfs(double amplitude) { return 20.0 * std::log10(amplitude); }

double band_power(const std::vector<double>& x, double rate, double lo_hz, double hi_hz,
                  const std::vector<double>& exclude, double exclude_hz) {
    const size_t n = pow2_floor(x.size());
    if (n < 16) return 0.0;
    auto w = blackman_harris7(n);
    std::vector<std::complex<double>> a(n);
    double s2 = 0.0;
    for (size_t i = 0; i < n; ++i) {
        a[i] = x[i] * w[i];
        s2 += w[i] * w[i];
    }
    fft(a);
    const double df = rate / static_cast<double>(n);
    double sum = 0.0;
    size_t used = 0, total = 0;
    for (size_t k = 1; k < n / 2; ++k) {
        double f = static_cast<double>(k) * df;
        if (f < lo_hz || f > hi_hz) continue;
        ++total;
        bool skip = false;
        for (double e : exclude)
            if (std::abs(f - e) <= exclude_hz) skip = true;
        if (skip) continue;
        ++used;
        sum += std::norm(a[k]);
    }
    if (used == 0) return 0.0;
    // One-sided: each positive bin stands for its negative twin too.
    double p = 2.0 * sum / (static_cast<double>(n) * s2);
    return p * static_cast<double>(total) / static_cast<double>(used);
}

SineFit fit_sine(const std::vector<double>& x, double freq, double rate) {
    SineFit r;
    const size_t n = x.size();
    if (n < 3) return r;
    // Normal equations for the basis sin, cos, 1.
    double ss = 0, sc = 0, s1 = 0, cc = 0, c1 = 0, xs = 0, xc = 0, x1 = 0;
    const double w = 2.0 * kPi * freq / rate;
    for (size_t i = 0; i < n; ++i) {
        double s = std::sin(w * static_cast<double>(i)), c = std::cos(w * static_cast<double>(i));
        ss += s * s;
        sc += s * c;
        s1 += s;
        cc += c * c;
        c1 += c;
        xs += x[i] * s;
        xc += x[i] * c;
        x1 += x[i];
    }
    double m[3][4] = {{ss, sc, s1, xs}, {sc, cc, c1, xc}, {s1, c1, static_cast<double>(n), x1}};
    for (int col = 0; col < 3; ++col) {
        int piv = col;
        for (int row = col + 1; row < 3; ++row)
            if (std::abs(m[row][col]) > std::abs(m[piv][col])) piv = row;
        for (int k = 0; k < 4; ++k) std::swap(m[col][k], m[piv][k]);
        if (m[col][col] == 0.0) return r;
        for (int row = 0; row < 3; ++row) {
            if (row == col) continue;
            double f = m[row][col] / m[col][col];
            for (int k = col; k < 4; ++k) m[row][k] -= f * m[col][k];
        }
    }
    double bs = m[0][3] / m[0][0], bc = m[1][3] / m[1][1], dc = m[2][3] / m[2][2];
    r.amplitude = std::hypot(bs, bc);
    r.phase = std::atan2(bc, bs);
    r.dc = dc;
    double res = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double e = x[i] - (bs * std::sin(w * static_cast<double>(i)) + bc * std::cos(w * static_cast<double>(i)) + dc);
        res += e * e;
    }
    r.residual_power = res / static_cast<double>(n);
    return r;
}

double goertzel_amplitude(const std::vector<double>& x, double freq, double rate) {
    if (x.empty()) return 0.0;
    const double w = 2.0 * kPi * freq / rate, coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (double v : x) {
        double s0 = v + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double re = s1 - s2 * std::cos(w), im = s2 * std::sin(w);
    return 2.0 * std::hypot(re, im) / static_cast<double>(x.size());
}

double estimate_frequency(const std::vector<double>& x, double rate) {
    const size_t n = pow2_floor(x.size());
    if (n < 16) return 0.0;
    auto w = blackman_harris7(n);
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < n; ++i) a[i] = x[i] * w[i];
    fft(a);
    size_t best = 8;  // skip dc and its window main lobe
    for (size_t k = 8; k < n / 2; ++k)
        if (std::norm(a[k]) > std::norm(a[best])) best = k;
    const double df = rate / static_cast<double>(n);
    // Golden-section search for the best-fitting frequency within a bin.
    double lo = (static_cast<double>(best) - 1.0) * df, hi = (static_cast<double>(best) + 1.0) * df;
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    double f1 = fit_sine(x, x1, rate).amplitude, f2 = fit_sine(x, x2, rate).amplitude;
    for (int it = 0; it < 60 && hi - lo > 1e-9 * df; ++it) {
        if (f1 > f2) {
            hi = x2;
            x2 = x1;
            f2 = f1;
            x1 = hi - g * (hi - lo);
            f1 = fit_sine(x, x1, rate).amplitude;
        } else {
            lo = x1;
            x1 = x2;
            f1 = f2;
            x2 = lo + g * (hi - lo);
            f2 = fit_sine(x, x2, rate).amplitude;
        }
    }
    return (lo + hi) / 2.0;
}

std::vector<double> remove_sine(const std::vector<double>& x, double freq, double rate) {
    SineFit f = fit_sine(x, freq, rate);
    std::vector<double> y(x.size());
    const double w = 2.0 * kPi * freq / rate;
    for (size_t i = 0; i < x.size(); ++i)
        y[i] = x[i] - f.amplitude * std::sin(w * static_cast<double>(i) + f.phase) - f.dc;
    return y;
}

double thd_n_db(const std::vector<double>& x, double freq, double rate, double lo_hz, double hi_hz) {
    SineFit f = fit_sine(x, freq, rate);
    if (f.amplitude <= 0.0) return 0.0;
    // What the fit leaves at the fundamental (content elsewhere leaks into
    // a least-squares fit over a window of non-whole periods) is notched
    // out: 8 bins either side, just past the window's main lobe.
    const double notch = 8.0 * rate / static_cast<double>(pow2_floor(x.size()));
    double p = band_power(remove_sine(x, freq, rate), rate, lo_hz, hi_hz, {freq}, notch);
    return 10.0 * std::log10(p / (f.amplitude * f.amplitude / 2.0));
}

bool read_wave(const std::vector<uint8_t>& b, Wave& w) {
    w = Wave{};
    w.file_size = b.size();
    auto fail = [&](const std::string& why) {
        if (w.error.empty()) w.error = why;
        return false;
    };
    if (b.size() < 12) return fail("shorter than a RIFF header");
    if (id_is(b, 0, "RF64"))
        w.form = "RF64";
    else if (id_is(b, 0, "RIFF"))
        w.form = "RIFF";
    else
        return fail("neither RF64 nor RIFF");
    w.riff_size32 = static_cast<uint32_t>(rd_le(b, 4, 4));
    if (!id_is(b, 8, "WAVE")) return fail("form type is not WAVE");
    w.riff_size = w.riff_size32;
    size_t pos = 12;
    bool have_fmt = false, have_data = false;
    while (!have_data) {
        if (pos + 8 > b.size()) return fail("no data chunk");
        uint32_t size = static_cast<uint32_t>(rd_le(b, pos + 4, 4));
        size_t body = pos + 8;
        if (id_is(b, pos, "ds64")) {
            if (size < 28 || body + 28 > b.size()) return fail("ds64 chunk too short");
            w.has_ds64 = true;
            w.ds64_size = size;
            w.riff_size = rd_le(b, body, 8);
            w.ds64_data_size = rd_le(b, body + 8, 8);
            w.sample_count = rd_le(b, body + 16, 8);
            w.table_length = static_cast<uint32_t>(rd_le(b, body + 24, 4));
        } else if (id_is(b, pos, "fmt ")) {
            if (size < 16 || body + 16 > b.size()) return fail("fmt chunk too short");
            have_fmt = true;
            w.fmt_size = size;
            w.format_tag = static_cast<uint16_t>(rd_le(b, body, 2));
            w.channels = static_cast<uint16_t>(rd_le(b, body + 2, 2));
            w.sample_rate = static_cast<uint32_t>(rd_le(b, body + 4, 4));
            w.byte_rate = static_cast<uint32_t>(rd_le(b, body + 8, 4));
            w.block_align = static_cast<uint16_t>(rd_le(b, body + 12, 2));
            w.bits = static_cast<uint16_t>(rd_le(b, body + 14, 2));
        } else if (id_is(b, pos, "data")) {
            have_data = true;
            w.data_size32 = size;
            w.data_offset = body;
            w.data_size = (size == 0xFFFFFFFFu && w.has_ds64) ? w.ds64_data_size : size;
            break;
        }
        pos = body + size + (size & 1u);
    }
    if (w.form == "RF64" && !w.has_ds64) fail("RF64 without ds64");
    if (!have_fmt) fail("no fmt chunk before data");
    else if (w.format_tag != 1 || w.channels != 2 || w.bits != 16 || w.block_align != 4)
        fail("not 16-bit stereo PCM");
    // Read the frames that are there, at most the declared amount.
    uint64_t avail = b.size() - w.data_offset;
    uint64_t take = std::min<uint64_t>(avail, w.data_size) / 4;
    w.left.resize(take);
    w.right.resize(take);
    for (uint64_t i = 0; i < take; ++i) {
        size_t off = static_cast<size_t>(w.data_offset + 4 * i);
        w.left[i] = static_cast<int16_t>(rd_le(b, off, 2));
        w.right[i] = static_cast<int16_t>(rd_le(b, off + 2, 2));
    }
    if (w.data_size > avail) fail("data chunk runs past the end of the file");
    if (w.riff_size != w.file_size - 8) fail("RIFF size does not match the file length");
    if (w.has_ds64 && w.data_size % 4 == 0 && w.sample_count != w.data_size / 4)
        fail("sample count does not match the data size");
    return w.error.empty();
}

bool read_wave_file(const std::string& path, Wave& w) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        w = Wave{};
        w.error = "cannot open " + path;
        return false;
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return read_wave(bytes, w);
}

std::vector<double> pcm_to_double(const std::vector<int16_t>& s) {
    std::vector<double> d(s.size());
    for (size_t i = 0; i < s.size(); ++i) d[i] = s[i] / 32768.0;
    return d;
}

}  // namespace sig
