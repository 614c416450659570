// The history of each side is kept twice in a row, so that the window is
// always one contiguous run of floats for the vector loop; the taps are
// padded with zeros to a multiple of the widest vector.
#include "pcmstage.h"

#include <cstring>

namespace {

constexpr int PAD = 32;  // two vectors of the widest width

int32_t taps_padded = 0;  // P: a multiple of PAD
alignas(64) float h[PCM_STAGE_MAX_TAPS + PAD];
alignas(64) float history[2][2 * (PCM_STAGE_MAX_TAPS + PAD)];
int32_t pos = 0;  // where the next sample goes, 0 to P - 1
bool odd = false;  // an input is waiting for its partner
float result[2];

// Sum of h[t] x[t] over the padded taps in two chains of W lanes.
template <int W>
[[gnu::always_inline]] inline float dot(const float* x) {
    typedef float Lanes __attribute__((vector_size(4 * W)));
    Lanes a = {}, b = {};
    for (int32_t t = 0; t < taps_padded; t += 2 * W) {
        Lanes u, v, p, q;
        std::memcpy(&u, h + t, sizeof u);
        std::memcpy(&v, h + t + W, sizeof v);
        std::memcpy(&p, x + t, sizeof p);
        std::memcpy(&q, x + t + W, sizeof q);
        a += u * p;
        b += v * q;
    }
    a += b;
    float lanes[W];
    std::memcpy(lanes, &a, sizeof a);
    float s = 0.0f;
    for (int i = 0; i < W; ++i) s += lanes[i];
    return s;
}

void both_sides_4(const float* l, const float* r, float* out) { out[0] = dot<4>(l), out[1] = dot<4>(r); }
#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) void both_sides_8(const float* l, const float* r, float* out) {
    out[0] = dot<8>(l), out[1] = dot<8>(r);
}
__attribute__((target("avx512f"))) void both_sides_16(const float* l, const float* r, float* out) {
    out[0] = dot<16>(l), out[1] = dot<16>(r);
}
constexpr void (*levels[])(const float*, const float*, float*) = {both_sides_4, both_sides_8, both_sides_16};
int32_t best_level() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") ? 2 : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 1 : 0;
}
#else
constexpr void (*levels[])(const float*, const float*, float*) = {both_sides_4};
int32_t best_level() { return 0; }
#endif

int32_t level = -1;  // chosen on first use

}  // namespace

int32_t pcm_stage_vector_level(int32_t highest) {
    const int32_t best = best_level();
    level = highest < 0 ? 0 : highest < best ? highest : best;
    return level;
}

int32_t pcm_stage_init(const float* taps, int32_t count) {
    if (count < 1 || count > PCM_STAGE_MAX_TAPS) return 0;
    taps_padded = (count + PAD - 1) / PAD * PAD;
    std::memset(h, 0, sizeof h);
    // The zeros go first: they meet the oldest samples, and only delay the
    // output by the padding.
    std::memcpy(h + (taps_padded - count), taps, sizeof(float) * count);
    std::memset(history, 0, sizeof history);
    pos = 0;
    odd = false;
    return -1;
}

const float* pcm_stage(const float* lr) {
    for (int side = 0; side < 2; ++side) history[side][pos] = history[side][pos + taps_padded] = lr[side];
    pos = pos + 1 == taps_padded ? 0 : pos + 1;
    odd = !odd;
    if (odd) return nullptr;
    if (level < 0) level = best_level();
    // The window, oldest first, now starts where the next sample goes.
    levels[level](history[0] + pos, history[1] + pos, result);
    return result;
}
