#include "modulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dsdmod {

namespace {

using cplx = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// Roots of the Legendre polynomial P_n in ascending order (Newton from the
// usual cosine guesses). They are the optimal noise-zero positions over a
// band normalised to [-1, 1].
void legendre_roots(int n, std::array<double, kMaxOrder>& roots) {
    for (int i = 0; i < n; ++i) {
        double x = std::cos(kPi * (i + 0.75) / (n + 0.5));
        for (int it = 0; it < 100; ++it) {
            double p0 = 1.0, p1 = x;
            for (int k = 2; k <= n; ++k) {
                double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
                p0 = p1;
                p1 = p2;
            }
            double pn = n == 0 ? 1.0 : p1;
            double pn1 = n == 1 ? 1.0 : p0;  // P_{n-1}
            double d = n * (x * pn - pn1) / (x * x - 1.0);
            double dx = pn / d;
            x -= dx;
            if (std::abs(dx) < 1e-16) break;
        }
        roots[static_cast<size_t>(i)] = std::abs(x) < 1e-14 ? 0.0 : x;
    }
    std::sort(roots.begin(), roots.begin() + n);
}

cplx eval_zpk(const Modulator& m, cplx z) {
    cplx num(1.0), den(1.0);
    for (int i = 0; i < m.order; ++i) {
        num *= z - m.zeros[static_cast<size_t>(i)];
        den *= z - m.poles[static_cast<size_t>(i)];
    }
    return num / den;
}

// Coefficients of prod(1 - r_i z^-1), real parts (the roots come in
// conjugate pairs).
void poly_from_roots(const std::array<cplx, kMaxOrder>& roots, int n, std::array<double, kMaxOrder + 1>& out) {
    std::array<cplx, kMaxOrder + 1> p{};
    p[0] = 1.0;
    for (int i = 0; i < n; ++i) {
        for (int k = i + 1; k >= 1; --k) p[static_cast<size_t>(k)] -= roots[static_cast<size_t>(i)] * p[static_cast<size_t>(k - 1)];
    }
    for (int k = 0; k <= kMaxOrder; ++k) out[static_cast<size_t>(k)] = k <= n ? p[static_cast<size_t>(k)].real() : 0.0;
}

// Butterworth-like poles for a given shape parameter x (larger x: poles
// further from z = 1, more out-of-band gain).
void place_poles(Modulator& m, double x) {
    const int n = m.order;
    double me2 = -0.5 * std::pow(x, 2.0 / n);
    for (int k = 0; k < n; ++k) {
        double w = (2.0 * (k + 1) - 1.0) * kPi / n;
        cplx mb2 = 1.0 + me2 * std::exp(cplx(0.0, w));
        cplx p = mb2 - std::sqrt(mb2 * mb2 - 1.0);
        if (std::abs(p) > 1.0) p = 1.0 / p;
        m.poles[static_cast<size_t>(k)] = p;
    }
}

}  // namespace

bool modulator_design(Modulator& m, int order, double rate, double band_hz, double h_inf) {
    if (order < 1 || order > kMaxOrder || !(rate > 0.0) || !(band_hz > 0.0) || rate <= 4.0 * band_hz ||
        !(h_inf > 1.0))
        return false;
    m = Modulator{};
    m.order = order;
    const double wb = 2.0 * kPi * band_hz / rate;

    std::array<double, kMaxOrder> r{};
    legendre_roots(order, r);
    for (int i = 0; i < order; ++i) m.zeros[static_cast<size_t>(i)] = std::exp(cplx(0.0, r[static_cast<size_t>(i)] * wb));

    // Secant search on the pole shape for |H(-1)| = h_inf. An all-zero-pole
    // NTF already has |H(-1)| near 2^order, the most it can have.
    if (h_inf >= std::pow(2.0, order)) {
        for (auto& p : m.poles) p = 0.0;
    } else {
        double x = std::pow(0.3, order - 1), dx = 0.0, fprev = 0.0;
        for (int it = 0; it < 200; ++it) {
            place_poles(m, x);
            double f = eval_zpk(m, -1.0).real() - h_inf;
            if (std::abs(f) < 1e-13 || (it > 0 && f == fprev)) break;
            dx = it == 0 ? -f / 100.0 : -f * dx / (f - fprev);
            x = x + dx > 0.0 ? x + dx : x * 0.1;
            fprev = f;
            if (x > 1e6) return false;
        }
    }

    std::array<double, kMaxOrder + 1> b{};
    poly_from_roots(m.zeros, order, b);
    poly_from_roots(m.poles, order, m.a);
    for (int k = 1; k <= order; ++k) m.c[static_cast<size_t>(k)] = b[static_cast<size_t>(k)] - m.a[static_cast<size_t>(k)];
    return true;
}

void modulator_reset(Modulator& m) {
    m.s.fill(0.0);
    m.resets = 0;
    m.peak = 0.0;
}

namespace {

// The loop for a fixed order, so that the state stays in registers. With
// e = y - w and w = u + f, each state update
//   s_k' = s_{k+1} + c_k e - a_k f
// becomes s_{k+1} - c_k u - b_k f + c_k y (b_k = c_k + a_k, the NTF's
// numerator): only the last term waits for the quantizer decision, which
// keeps the sample-to-sample dependency chain short. A quantizer input of
// exactly -0.0 counts as negative, +0.0 as positive.
template <int N>
void run_order(Modulator& m, const double* in, uint8_t* out, size_t bytes) {
    std::array<double, N + 1> s{}, c{}, b{};
    for (int k = 0; k <= N; ++k) {
        s[k] = m.s[static_cast<size_t>(k)];
        c[k] = m.c[static_cast<size_t>(k)];
        b[k] = m.c[static_cast<size_t>(k)] + m.a[static_cast<size_t>(k)];
    }
    s[N] = 0.0;
    double peak = m.peak;
    const double guard = m.guard;
    for (size_t i = 0; i < bytes; ++i) {
        unsigned byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const double u = *in++;
            double f = s[0];
            double w = u + f;
            const double aw = std::abs(w);
            peak = aw > peak ? aw : peak;
            if (aw > guard) [[unlikely]] {
                // Overload: start the loop afresh rather than emit garbage.
                s.fill(0.0);
                ++m.resets;
                f = 0.0;
                w = u;
            }
            // Sign by bit copy: no data-dependent branch to mispredict.
            const double y = std::copysign(1.0, w);
            byte = (byte << 1) | (std::signbit(w) ? 0u : 1u);
            for (int k = 0; k < N; ++k) s[k] = s[k + 1] - c[k + 1] * u - b[k + 1] * f + c[k + 1] * y;
        }
        out[i] = static_cast<uint8_t>(byte);
    }
    for (int k = 0; k < N; ++k) m.s[static_cast<size_t>(k)] = s[k];
    m.peak = peak;
}

}  // namespace

void modulator_run(Modulator& m, const double* in, uint8_t* out, size_t bytes) {
    switch (m.order) {
        case 1: run_order<1>(m, in, out, bytes); break;
        case 2: run_order<2>(m, in, out, bytes); break;
        case 3: run_order<3>(m, in, out, bytes); break;
        case 4: run_order<4>(m, in, out, bytes); break;
        case 5: run_order<5>(m, in, out, bytes); break;
        case 6: run_order<6>(m, in, out, bytes); break;
        case 7: run_order<7>(m, in, out, bytes); break;
        case 8: run_order<8>(m, in, out, bytes); break;
        case 9: run_order<9>(m, in, out, bytes); break;
        default: break;
    }
}

std::complex<double> modulator_ntf(const Modulator& m, double f) {
    return eval_zpk(m, std::exp(cplx(0.0, 2.0 * kPi * f)));
}

bool tone_add(ToneGen& t, double freq, double amp, double rate) {
    if (t.count >= kMaxTones || !(rate > 0.0)) return false;
    size_t i = static_cast<size_t>(t.count++);
    t.amp[i] = amp;
    t.step[i] = freq / rate;
    // Phase of sample `next`, so tones added later still start at phase 0
    // of the signal's time axis.
    t.phase[i] = std::fmod(t.step[i] * static_cast<double>(t.next), 1.0);
    return true;
}

void tone_fill(ToneGen& t, double* out, size_t n) {
    constexpr size_t kBlock = 256;
    std::fill(out, out + n, 0.0);
    for (size_t start = 0; start < n; start += kBlock) {
        size_t len = std::min(kBlock, n - start);
        for (int k = 0; k < t.count; ++k) {
            size_t i = static_cast<size_t>(k);
            const double amp = t.amp[i];
            const double th = 2.0 * kPi * t.phase[i];
            const double d = 2.0 * kPi * t.step[i];
            double cs = std::cos(th), sn = std::sin(th);
            const double cd = std::cos(d), sd = std::sin(d);
            double* o = out + start;
            for (size_t j = 0; j < len; ++j) {
                o[j] += amp * sn;
                double c2 = cs * cd - sn * sd;
                sn = sn * cd + cs * sd;
                cs = c2;
            }
            // Exact phase bookkeeping in cycles, wrapped to [0, 1).
            double ph = t.phase[i] + t.step[i] * static_cast<double>(len);
            t.phase[i] = ph - std::floor(ph);
        }
    }
    t.next += n;
}

}  // namespace dsdmod
