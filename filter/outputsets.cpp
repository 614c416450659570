#include "outputsets.h"

// Every row fills the decimator's window of 32 blocks, a block being what
// one output consumes: 8 x rate_multiple x 44100 / output rate bytes of
// each channel. For 176.4 kHz from the two higher rates the 88.2 kHz sets of
// half the rate serve: the same cut-off relative to the rate, the same
// length.
constexpr CoeffInfo s_coeff_infos_88k[4] = {
    {2822400, 1, coeff_FDA_2822k_88k, 1024, 128},
    {5644800, 2, coeff_FDA_5644k_88k, 2048, 256},
    {11289600, 4, coeff_FDA_11289k_88k, 4096, 512},
    {-1, 0, nullptr, 0, 0},
};
constexpr CoeffInfo s_coeff_infos_176k[4] = {
    {2822400, 1, coeff_FDA_2822k_176k, 512, 64},
    {5644800, 2, coeff_FDA_2822k_88k, 1024, 128},
    {11289600, 4, coeff_FDA_5644k_88k, 2048, 256},
    {-1, 0, nullptr, 0, 0},
};

namespace {

constexpr bool rows_fit(const CoeffInfo* rows, int32_t out_rate) {
    for (; rows->rate >= 0; ++rows) {
        const int32_t block_bytes = 8 * rows->rate_multiple * 44100 / out_rate;
        if (rows->filter_len != 8 * rows->history_bytes || rows->history_bytes != 32 * block_bytes ||
            rows->filter_len > MAX_FILTER_LEN)
            return false;
    }
    return true;
}
static_assert(rows_fit(s_coeff_infos_88k, 88200) && rows_fit(s_coeff_infos_176k, 176400));

}  // namespace

const CoeffInfo* coeff_rows_for_output(int32_t out_rate) {
    switch (out_rate) {
        case 44100: return s_coeff_infos;
        case 88200: return s_coeff_infos_88k;
        case 176400: return s_coeff_infos_176k;
        default: return nullptr;
    }
}
