#include "reference_decimator.h"

#include <cstring>

namespace reference {

namespace {

const CoeffInfo* info;
int32_t channels;
int32_t divides[MAX_CHANNELS][2];
int32_t counts[2];
float work[256][32][128];
float ring[1024][2];
int32_t data_index;
float result[2];

}  // namespace

int32_t init(int32_t rate, int32_t channel_count) {
    channels = channel_count;
    counts[0] = counts[1] = 0;
    for (int32_t c = 0; c < channel_count; ++c) {
        divides[c][0] = channel_switches[c].to_left != 0 ? -1 : 0;
        divides[c][1] = channel_switches[c].to_right != 0 ? -1 : 0;
        if (divides[c][0]) ++counts[0];
        if (divides[c][1]) ++counts[1];
    }
    const CoeffInfo* row = s_coeff_infos;
    for (; row->rate >= 0; ++row)
        if (row->rate == rate) break;
    if (row->rate < 0) return 0;
    info = row;

    const int32_t n = row->filter_len;
    static float h[MAX_FILTER_LEN];
    for (int32_t i = 0; i < n - 1; ++i) h[i] = row->coeffs[i];
    h[n - 1] = 0.0f;

    const int32_t b = 8 * row->rate_multiple;
    for (int v = 0; v < 256; ++v) {
        float s[8];
        for (int j = 0; j < 8; ++j) s[j] = (v >> (7 - j)) & 1 ? 1.0f : -1.0f;
        for (int32_t k = 0; k < n / 8; ++k) {
            float acc = 0.0f;
            for (int j = 0; j < 8; ++j) acc += s[j] * h[8 * k + j];
            work[v][k % b][k / b] = acc;
        }
    }
    std::memset(ring, 0, sizeof(float) * 2 * row->history_bytes);
    data_index = 0;
    return -1;
}

const float* filter(const uint8_t* block) {
    const int32_t b = 8 * info->rate_multiple;
    const int32_t s = info->history_bytes / b;
    float left[128] = {}, right[128] = {};
    for (int32_t r = 0; r < b; ++r) {
        for (int32_t c = 0; c < channels; ++c) {
            const uint8_t v = block[r * channels + c];
            for (int32_t q = 0; q < s; ++q) {
                if (divides[c][0]) left[q] += work[v][r][q];
                if (divides[c][1]) right[q] += work[v][r][q];
            }
        }
    }
    const int32_t p = (s - data_index) % s;
    result[0] = counts[0] != 0 ? ring[p][0] / static_cast<float>(counts[0]) : 0.0f;
    ring[p][0] = 0.0f;
    result[1] = counts[1] != 0 ? ring[p][1] / static_cast<float>(counts[1]) : 0.0f;
    ring[p][1] = 0.0f;
    for (int32_t i = 0; i < s; ++i) {
        ring[(p + i) % s][0] += left[i];
        ring[(p + i) % s][1] += right[i];
    }
    data_index = (data_index + 1) % s;
    return result;
}

int32_t next_slot() {
    const int32_t s = info->history_bytes / (8 * info->rate_multiple);
    return (s - data_index) % s;
}

}  // namespace reference
