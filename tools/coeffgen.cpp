// Writes the three coefficient modules of the decimation filter into the
// folder given on the command line.
#include "coeffgen_design.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: coeffgen <output folder>\n");
        return 2;
    }
    for (const CoeffgenSet& set : coeffgen_sets) {
        const std::string path = std::string(argv[1]) + "/" + set.module + ".cpp";
        const std::string text = coeffgen_module_text(set);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (std::fclose(f) != 0 || !ok) {
            std::fprintf(stderr, "coeffgen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
