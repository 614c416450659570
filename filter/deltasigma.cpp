// Lookup-table FIR decimator. Each input byte is looked up once per call:
// the table row for (byte position, byte value) holds that byte's share of
// the 32 outputs whose windows it falls into, and a ring of 32 partial
// outputs collects the shares until the oldest one is complete.
#include "deltasigma.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "deltasigma_lanes.h"

static_assert(DELTASIGMA_WINDOW_BLOCKS == SLOTS);

namespace {

constexpr int MAX_BLOCK_BYTES = MAX_FILTER_LEN / (8 * SLOTS);  // per channel

}  // namespace

constexpr CoeffInfo s_coeff_infos[4] = {
    {2822400, 1, coeff_FDA_2822k, 2048, 256},
    {5644800, 2, coeff_FDA_5644k, 4096, 512},
    {11289600, 4, coeff_FDA_11289k, 8192, 1024},
    {-1, 0, nullptr, 0, 0},
};

namespace {

// The decimator relies on this geometry of every row.
constexpr bool rows_are_consistent() {
    for (const CoeffInfo& row : s_coeff_infos) {
        if (row.rate < 0) return true;
        const int block_bytes = 8 * row.rate_multiple;
        if (row.rate != 2822400 * row.rate_multiple) return false;
        if (row.filter_len != 8 * row.history_bytes) return false;
        if (row.history_bytes != block_bytes * SLOTS) return false;
        if (row.filter_len > MAX_FILTER_LEN) return false;
    }
    return false;
}
static_assert(rows_are_consistent());

const CoeffInfo* p_coeff_info;
int32_t channels;
ChannelSwitch channel_divides[DSD_MAX_CHANNELS];
int32_t add_count[2];

// Channels mixed into each side, in channel order; the per-call loop walks
// these lists instead of testing the flags.
int32_t side_channels[2][DSD_MAX_CHANNELS];

// The lookup table, laid out [byte position][byte value][31 - slot offset]:
// only the rows in use are stored, so the 256 rows of one byte position are
// contiguous and successive lookups do not fight over the same cache sets.
// The offsets run backwards, the order in which their outputs fall due.
alignas(64) float coeff_work[MAX_BLOCK_BYTES * 256 * SLOTS];

// The partial outputs, per side, in the order they fall due: sum[side][k]
// is complete k + 1 calls from now. (The ring of slots walked backwards,
// turned so that the slot read next always comes first: every partial
// output gets the same additions in the same order.)
alignas(64) float sum[2][SLOTS];
int32_t data_index;
float result[2];

// The loop of each width, by vector level; the one to use is picked once
// from what the processor has.
#if DELTASIGMA_X86_64
constexpr AccumulateFn accumulate_levels[] = {accumulate_portable, accumulate_avx2, accumulate_avx512};
constexpr RunFn run_levels[] = {run_portable, run_avx2, run_avx512};


int32_t best_vector_level() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return 2;
    if (__builtin_cpu_supports("avx2")) return 1;
    return 0;
}
#else
constexpr AccumulateFn accumulate_levels[] = {accumulate_portable};
constexpr RunFn run_levels[] = {run_portable};

int32_t best_vector_level() { return 0; }
#endif

int32_t vector_level = -1;  // chosen on first use

}  // namespace

int32_t coeff_deltasigma_vector_level(int32_t highest) {
    const int32_t best = best_vector_level();
    vector_level = highest < 0 ? 0 : highest < best ? highest : best;
    return vector_level;
}

int32_t coeff_deltasigma_init(int32_t rate, int32_t channel_count) {
    return coeff_deltasigma_init_from(s_coeff_infos, rate, channel_count);
}

int32_t coeff_deltasigma_init_from(const CoeffInfo* rows, int32_t rate, int32_t channel_count) {
    // The routing table has room for DSD_MAX_CHANNELS entries only.
    if (channel_count > DSD_MAX_CHANNELS) return 0;

    channels = channel_count;
    add_count[0] = 0;
    add_count[1] = 0;
    for (int32_t c = 0; c < channel_count; ++c) {
        channel_divides[c].to_left = channel_switches[c].to_left != 0 ? -1 : 0;
        channel_divides[c].to_right = channel_switches[c].to_right != 0 ? -1 : 0;
        if (channel_divides[c].to_left) side_channels[0][add_count[0]++] = c;
        if (channel_divides[c].to_right) side_channels[1][add_count[1]++] = c;
    }

    const CoeffInfo* row = rows;
    while (row->rate >= 0 && row->rate != rate) ++row;
    if (row->rate < 0) return 0;

    if (row->filter_len > MAX_FILTER_LEN) {
        std::fputs("Filter work area size is too small. Re define MAX_FILTER_LEN\n", stderr);
        std::fflush(stderr);
        std::exit(156);
    }
    p_coeff_info = row;

    // Taps with a zero appended, so that the window is a whole number of
    // bytes.
    const int32_t n = row->filter_len;
    static float h[MAX_FILTER_LEN];
    std::memcpy(h, row->coeffs, sizeof(float) * (n - 1));
    h[n - 1] = 0.0f;

    const int32_t block_bytes = row->history_bytes / SLOTS;
    for (int v = 0; v < 256; ++v) {
        for (int32_t group = 0; group < n / 8; ++group) {
            const int32_t r = group % block_bytes;
            const int32_t q = group / block_bytes;
            const float* taps = h + 8 * group;
            // The most significant bit is the earliest sample; a set bit
            // counts +1, a clear bit -1.
            float acc = 0.0f;
            for (int j = 0; j < 8; ++j) acc += ((v >> (7 - j)) & 1) ? taps[j] : -taps[j];
            coeff_work[(r * 256 + v) * SLOTS + (SLOTS - 1 - q)] = acc;
        }
    }

    std::memset(sum, 0, sizeof sum);
    data_index = 0;
    // Chosen now, not on first use, where several threads could race.
    if (vector_level < 0) vector_level = best_vector_level();
    return -1;
}

float* coeff_deltasigma(const uint8_t* block) {
    if (p_coeff_info == nullptr) {  // never prepared: nothing to filter
        result[0] = result[1] = 0.0f;
        return result;
    }
    const int32_t block_bytes = p_coeff_info->history_bytes / SLOTS;

    if (vector_level < 0) vector_level = best_vector_level();
    alignas(64) float acc[2][SLOTS];
    const Accumulation a{coeff_work, block_bytes, channels, {side_channels[0], side_channels[1]},
                         {add_count[0], add_count[1]}};
    accumulate_levels[vector_level](a, block, acc);

    // The output due now was filled over the last 32 calls and is complete.
    // acc[side][j] holds slot offset 31 - j, due in j + 1 calls: offset i
    // is read in 32 - i calls, offset 0, the oldest taps, in 32 into a slot
    // just emptied (0 + x, as the ring had it, keeps a -0 from coming out).
    for (int side = 0; side < 2; ++side) {
        const int32_t count = add_count[side];
        result[side] = count != 0 ? sum[side][0] / static_cast<float>(count) : 0.0f;
        float* due = sum[side];
        const float* share = acc[side];
        for (int32_t k = 0; k < SLOTS - 1; ++k) due[k] = due[k + 1] + share[k];
        due[SLOTS - 1] = 0.0f + share[SLOTS - 1];
    }

    data_index = (data_index + 1) % SLOTS;
    return result;
}

void coeff_deltasigma_run(const uint8_t* blocks, int32_t n, float* out) {
    if (n <= 0) return;
    if (p_coeff_info == nullptr) {
        std::memset(out, 0, sizeof(float) * 2 * static_cast<size_t>(n));
        return;
    }
    if (vector_level < 0) vector_level = best_vector_level();
    const Accumulation a{coeff_work, p_coeff_info->history_bytes / SLOTS, channels,
                         {side_channels[0], side_channels[1]}, {add_count[0], add_count[1]}};
    run_levels[vector_level](a, sum, blocks, n, out);
    result[0] = out[2 * n - 2];
    result[1] = out[2 * n - 1];
    data_index = (data_index + n) % SLOTS;
}

void coeff_deltasigma_run_state(DeltasigmaState* state, const uint8_t* blocks, int32_t n, float* out) {
    if (n <= 0) return;
    if (p_coeff_info == nullptr) {
        std::memset(out, 0, sizeof(float) * 2 * static_cast<size_t>(n));
        return;
    }
    const Accumulation a{coeff_work, p_coeff_info->history_bytes / SLOTS, channels,
                         {side_channels[0], side_channels[1]}, {add_count[0], add_count[1]}};
    run_levels[vector_level < 0 ? 0 : vector_level](a, state->due, blocks, n, out);
}
