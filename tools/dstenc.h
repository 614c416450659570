// DST encoder of the test-signal generator: codes frames of 1-bit sound
// the way a DST decoder reads them back, with every field of the frame
// format selectable (and, on request, one field made corrupt), so that the
// tests can reach each path of a decoder. Written on its own from the frame
// format, not from the format library's decoder.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace dstenc {

constexpr int kMaxFilter = 128;
constexpr int kMaxTable = 64;

using Filter = std::array<int, kMaxFilter>;

// How one frame is written.
struct Choice {
    bool plain = false;      // stored uncoded
    int filter_map = 1;      // 0: the one-bit "all share element 0"; 1: an element per channel; 2: channel c uses c % 2
    int table_map = -1;      // -1: the filters' mapping; else a map kind as above, written on its own
    int filter_method = 1;   // -1: coefficients stored plain; 0..2: coded by that method
    int table_method = 1;
    std::vector<int> filter_lengths = {kMaxFilter};  // element e: filter_lengths[e % size]
    std::vector<int> table_lengths = {kMaxTable};
    uint32_t half = 0;       // bit c: half probability for channel c
};

// The corrupt cases of the frame format, one per frame at most.
enum class Corrupt {
    None, PlainReserved, Segmented, Map, FilterMethod3, TableMethod3, ShortCoded, Coefficient, Probability,
    Reserved, Cut, Overrun
};

// Names on the command line ("plain-reserved", "segmented", ...); false for an unknown one.
bool corrupt_from_name(const char* name, Corrupt& out);

// Predictors of kMaxFilter coefficients, one per channel, fitted to
// `bytes_per_channel` bytes of interleaved sound (least-squares over the
// stretch, quantised to -256..255).
std::vector<Filter> design_filters(const uint8_t* sound, int channels, uint64_t bytes_per_channel);

// The varied choice of frame `index` of a file: over consecutive frames it
// goes through every mapping, every coding method of filters and tables,
// stored plain or coded, half probability on and off, the longest filters
// and tables; every seventh frame plain unless `coded_only`.
Choice mixed_choice(uint64_t index, int channels, bool coded_only);

// One frame: `bits` (a multiple of 8) bits of each channel, bits / 8 x
// channels bytes in the "DSD " chunk layout.
std::vector<uint8_t> encode_frame(const uint8_t* sound, int channels, uint32_t bits,
                                  const std::vector<Filter>& filters, const Choice& choice,
                                  Corrupt corrupt = Corrupt::None);

}  // namespace dstenc
