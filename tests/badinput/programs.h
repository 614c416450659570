// The three programs in their five modes, run on one source in a folder of
// its own, with every outcome judged the same way: the expected status, a
// clear report, no crash, hang or sanitizer report, and every output file
// left behind checked against its header.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostile.h"

namespace bad {

enum Mode { SIGMELT, CF_SHOW, CF_COPY, X4_SHOW, X4_COPY };
constexpr Mode kModes[] = {SIGMELT, CF_SHOW, CF_COPY, X4_SHOW, X4_COPY};
const char* mode_name(Mode m);

// The display's two outcomes with status 0.
constexpr int SHOWN = 0;
constexpr int NOT_DSDIFF = -1;

// Outputs a mode writes for the source `dir`/`src_name`: out.wav;
// pair.wsd and pair.dff; src_0.wsd to src_3.wsd.
std::vector<std::string> output_names(Mode m, const std::string& src_name);

// Arguments for a run: `ids` are the two identifiers copied (chanfork uses
// them for both of its outputs, chanfork2chx4 for all four pairs).
std::vector<std::string> command(Mode m, const std::string& src, const std::string& dir,
                                 const std::vector<std::string>& ids);

// What a run should end with. `status` is the exit status as the program
// passes it to exit() (the platform keeps its low 8 bits), or for the
// display modes SHOWN / NOT_DSDIFF (both exit with 0) or 26.
struct Expect {
    int status = 0;
    int channels = 2;            // of the source, to size partial copies
    int64_t sigmelt_frames = -1;  // exact frame count of a successful conversion, -1 for any
    bool check_outputs = true;    // false where the output name is taken by something else
};

// Runs one mode and checks it all; removes the outputs afterwards.
void check_mode(Mode m, const std::string& src, const std::string& dir, const std::vector<std::string>& ids,
                const Expect& e, const hostile::Options& opt = {});

// All five modes at once (their outputs never meet), `e` indexed by Mode.
void check_all_modes(const std::string& src, const std::string& dir, const std::vector<std::string>& ids,
                     const Expect (&e)[5], const hostile::Options& opt = {});

// The same for some of the modes.
void check_modes(const std::vector<Mode>& modes, const std::string& src, const std::string& dir,
                 const std::vector<std::string>& ids, const Expect (&e)[5], const hostile::Options& opt = {});

// Judges an outcome that has already happened (the run is the caller's).
void judge(Mode m, const hostile::Outcome& o, const std::string& src, const std::string& dir, const Expect& e);

// Removes what the mode may have written.
void remove_outputs(Mode m, const std::string& src, const std::string& dir);

}  // namespace bad
