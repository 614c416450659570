#include "util.h"

#include <cstdio>
#include <cstring>

const char UTIL_CLEAR_LINE[] =
    "\r                                                                        ";
static_assert(sizeof UTIL_CLEAR_LINE == 1 + 72 + 1);

namespace {

// Hours only from one hour on; never rounded up.
void print_time(int32_t seconds) {
    if (seconds >= 3600) std::printf("%d:", seconds / 3600);
    std::printf("%02d:%02d ", (seconds / 60) % 60, seconds % 60);
}

}  // namespace

void util_display_fileinfo(int32_t file_no, int32_t file_count, int32_t seconds, const char* name) {
    std::printf("%s\nplaying file %d/%d ", UTIL_CLEAR_LINE, file_no, file_count);
    std::printf("total ");
    print_time(seconds);
    if (const char* slash = std::strrchr(name, '/')) std::printf("\"%s\" ", slash + 1);
    if (std::strlen(name) > 40) std::printf("\n");
    std::printf("\"%s\"\n", name);
    std::fflush(stdout);
}

void util_display_current_time(int32_t seconds, int32_t percent) {
    std::printf("\rposition ");
    if (seconds >= 3600) std::printf("%d:", seconds / 3600);
    std::printf("%02d:%02d buffer %d[%%]", (seconds / 60) % 60, seconds % 60, percent);
    std::printf("    ");
    std::fflush(stdout);
}
