// Limits that every reader of the library and every program share.
#pragma once

#include <cstdint>

// Channels a source may hold: the readers refuse more.
constexpr int DSD_MAX_CHANNELS = 10;

// The supported sampling rates, multiples of the lowest one.
constexpr uint32_t DSD_BASE_RATE = 2822400;
constexpr uint32_t DSD_MAX_RATE = 4 * DSD_BASE_RATE;

constexpr bool dsd_rate_supported(uint64_t rate) {
    return rate == DSD_BASE_RATE || rate == 2 * DSD_BASE_RATE || rate == DSD_MAX_RATE;
}
