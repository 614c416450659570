// The coefficient sets of the output rates beyond today's 44.1 kHz: the
// decimator's rows for 88.2 and 176.4 kHz output, one per input rate, and
// the second stage of the steep 44.1 kHz output (88.2 kHz halved).
#pragma once

#include <cstdint>

#include "deltasigma.h"

extern const float coeff_FDA_2822k_88k[1023];
extern const float coeff_FDA_5644k_88k[2047];
extern const float coeff_FDA_11289k_88k[4095];
extern const float coeff_FDA_2822k_176k[511];
extern const float coeff_FDA_88k_44k[255];

// Rows for coeff_deltasigma_init_from, ended by a negative rate like
// s_coeff_infos: flat within 0.01 dB to 20 kHz, at least 120 dB down from
// the output rate less 20 kHz, a smooth slope between.
extern const CoeffInfo s_coeff_infos_88k[4];
extern const CoeffInfo s_coeff_infos_176k[4];

// The rows for an output rate (44100: the gentle s_coeff_infos), or null.
const CoeffInfo* coeff_rows_for_output(int32_t out_rate);
