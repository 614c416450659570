#include "programs.h"

#include <unistd.h>

#include <cstdlib>
#include <iterator>

#include "testutil.h"

namespace bad {

const char* mode_name(Mode m) {
    switch (m) {
        case SIGMELT: return "sigmelt";
        case CF_SHOW: return "chanfork (display)";
        case CF_COPY: return "chanfork (copy)";
        case X4_SHOW: return "chanfork2chx4 (display)";
        case X4_COPY: return "chanfork2chx4 (copy)";
    }
    return "?";
}

namespace {

// "src.dff" -> "src"
std::string stem(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || name.size() < 5 ? name : name.substr(0, dot);
}

std::string base_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The report a failing run must print: module, line and message, as far as
// the status tells them.
std::string expected_report(Mode m, int status, const std::string& src) {
    const std::string not_dsdiff = "file " + src + " is not DSDIFF format.\n";
    auto line = [](const char* module, int n) { return "\nERROR " + std::string(module) + " " + std::to_string(n) + " "; };
    if (status == 156) return line("wsd", 155);
    if (status == 276) return line("dsdiff", 275);
    switch (m) {
        case SIGMELT:
            if (status == 191) return line("wav", 189);
            return line("sigmelt", status - 1);
        case CF_COPY:
            if (status == 136) return not_dsdiff;
            return line("main", status - 1);
        case X4_COPY:
            if (status == 108) return not_dsdiff;
            if (status == 122) return " not found\n";
            if (status == 177) return line("main", 173);
            return line("main", status - 1);
        default:
            return {};
    }
}

uint64_t consumed_before_read_error(const std::string& err) {
    const std::string key = "read data error at ";
    const size_t at = err.find(key);
    if (at == std::string::npos) return UINT64_MAX;
    return std::strtoull(err.c_str() + at + key.size(), nullptr, 10);
}

hostile::Extent extent_of(Mode m, const std::string& name, const std::string& path) {
    if (m == SIGMELT) return hostile::rf64_extent(path);
    if (name.size() > 4 && name.substr(name.size() - 4) == ".dff") return hostile::dff_extent(path);
    // chanfork2chx4 writes the file size as one 64-bit value, chanfork as
    // two halves, the low one first.
    return hostile::wsd_extent(path, m == X4_COPY);
}

}  // namespace

std::vector<std::string> output_names(Mode m, const std::string& src_name) {
    switch (m) {
        case SIGMELT: return {"out.wav"};
        case CF_COPY: return {"pair.wsd", "pair.dff"};
        case X4_COPY: {
            std::vector<std::string> v;
            for (int k = 0; k < 4; ++k) v.push_back(stem(src_name) + "_" + std::to_string(k) + ".wsd");
            return v;
        }
        default: return {};
    }
}

std::vector<std::string> command(Mode m, const std::string& src, const std::string& dir,
                                 const std::vector<std::string>& ids) {
    const std::string l = ids.size() > 0 ? ids[0] : "SLFT", r = ids.size() > 1 ? ids[1] : "SRGT";
    switch (m) {
        case SIGMELT: return {SIGMELT_BIN, src, dir + "/out.wav"};
        case CF_SHOW: return {CHANFORK_BIN, src};
        case CF_COPY: return {CHANFORK_BIN, src, l, r, dir + "/pair.wsd", l, r, dir + "/pair.dff"};
        case X4_SHOW: return {CHANFORK2CHX4_BIN, src};
        case X4_COPY: return {CHANFORK2CHX4_BIN, l, r, l, r, l, r, l, r, src};
    }
    return {};
}

void remove_outputs(Mode m, const std::string& src, const std::string& dir) {
    for (const std::string& n : output_names(m, base_name(src))) {
        const std::string p = dir + "/" + n;
        unlink(p.c_str());
    }
}

void judge(Mode m, const hostile::Outcome& o, const std::string& src, const std::string& dir, const Expect& e) {
    SCOPED_TRACE(std::string(mode_name(m)) + " on " + src);
    const std::string f = hostile::fault(o);
    EXPECT_TRUE(f.empty()) << f << ": " << hostile::describe(o);
    if (!f.empty()) return;

    if (m == CF_SHOW || m == X4_SHOW) {
        const std::string not_dsdiff = "file " + src + " is not DSDIFF format.\n";
        if (e.status == 26) {
            EXPECT_EQ(o.status, 26) << hostile::describe(o);
            EXPECT_EQ(o.out, "");
            EXPECT_EQ(o.err, "");
            return;
        }
        EXPECT_EQ(o.status, 0) << hostile::describe(o);
        if (e.status == SHOWN) {
            EXPECT_EQ(o.out.rfind("sampling frequency:\t", 0), 0u) << "stdout: " << o.out;
            EXPECT_EQ(o.err, "");
        } else {
            EXPECT_EQ(o.out, "");
            const bool ends = o.err.size() >= not_dsdiff.size() &&
                              o.err.compare(o.err.size() - not_dsdiff.size(), not_dsdiff.size(), not_dsdiff) == 0;
            EXPECT_TRUE(ends) << "stderr: \"" << o.err << "\"";
        }
        return;
    }

    // A POSIX exit status keeps the low 8 bits of what the program passed
    // to exit(): 367 arrives as 111.
    EXPECT_EQ(o.status, e.status & 0xFF) << hostile::describe(o) << " (expected " << e.status << ")";
    if (o.status != (e.status & 0xFF)) return;
    if (e.status != 0) {
        const std::string report = expected_report(m, e.status, src);
        EXPECT_NE(o.err.find(report), std::string::npos) << "no report \"" << report << "\": " << hostile::describe(o);
    }

    if (!e.check_outputs) return;
    // Every output the run may have left, against its own header.
    const std::vector<std::string> names = output_names(m, base_name(src));
    const bool copy_failed_midway = (m == CF_COPY && e.status == 228) || (m == X4_COPY && e.status == 177);
    const bool write_failed = (m == SIGMELT && e.status == 241) || (m == CF_COPY && e.status == 246) ||
                              (m == X4_COPY && e.status == 183);
    const bool pair_not_found = m == CF_COPY && (e.status == 167 || e.status == 171);
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string path = dir + "/" + names[i];
        SCOPED_TRACE(names[i]);
        const bool exists = testutil::file_exists(path);
        if (e.status == 0 || copy_failed_midway) {
            ASSERT_TRUE(exists);
            const hostile::Extent x = extent_of(m, names[i], path);
            ASSERT_TRUE(x.valid) << x.problem;
            if (e.status == 0) {
                EXPECT_EQ(x.declared, x.actual) << "header and length disagree";
            } else {
                // The header was written for the whole copy before the
                // source ran out; the file keeps every whole frame read.
                const uint64_t consumed = consumed_before_read_error(o.err);
                ASSERT_NE(consumed, UINT64_MAX);
                const uint64_t header = names[i].ends_with(".dff") ? 130 : 2048;
                EXPECT_EQ(x.actual, header + 2 * (consumed / static_cast<uint64_t>(e.channels)));
                EXPECT_GE(x.declared, x.actual);
            }
            if (m == SIGMELT && e.status == 0 && e.sigmelt_frames >= 0) {
                EXPECT_EQ(x.actual, 84 + 4 * static_cast<uint64_t>(e.sigmelt_frames));
            }
        } else if (write_failed) {
            // A write failed: what is left must not claim more than it holds
            // where this system fixes the header up (the converter), and is
            // left as it is by the extractors.
            if (!exists) continue;
            const hostile::Extent x = extent_of(m, names[i], path);
            // The converter empties a file whose first header did not go
            // out, and otherwise cuts it to the frames the header counts.
            if (m == SIGMELT && x.actual > 0) {
                ASSERT_TRUE(x.valid) << x.problem << " (" << x.actual << " bytes)";
                EXPECT_EQ(x.declared, x.actual);
            }
        } else if (pair_not_found) {
            // The failing group's output has been created and stays empty;
            // the later ones are never created.
            if (i == 0) {
                EXPECT_TRUE(exists);
                EXPECT_EQ(testutil::file_size(path), 0u);
            } else {
                EXPECT_FALSE(exists);
            }
        } else {
            EXPECT_FALSE(exists) << "a refused run left an output";
        }
    }
}

void check_mode(Mode m, const std::string& src, const std::string& dir, const std::vector<std::string>& ids,
                const Expect& e, const hostile::Options& opt) {
    remove_outputs(m, src, dir);
    const hostile::Outcome o = hostile::run(command(m, src, dir, ids), opt);
    judge(m, o, src, dir, e);
    remove_outputs(m, src, dir);
}

void check_modes(const std::vector<Mode>& modes, const std::string& src, const std::string& dir,
                 const std::vector<std::string>& ids, const Expect (&e)[5], const hostile::Options& opt) {
    std::vector<hostile::Child> children;
    for (Mode m : modes) {
        remove_outputs(m, src, dir);
        children.push_back(hostile::spawn(command(m, src, dir, ids), opt));
    }
    for (size_t i = 0; i < modes.size(); ++i) {
        const hostile::Outcome o = hostile::wait(children[i]);
        judge(modes[i], o, src, dir, e[modes[i]]);
        remove_outputs(modes[i], src, dir);
    }
}

void check_all_modes(const std::string& src, const std::string& dir, const std::vector<std::string>& ids,
                     const Expect (&e)[5], const hostile::Options& opt) {
    check_modes({std::begin(kModes), std::end(kModes)}, src, dir, ids, e, opt);
}

}  // namespace bad
