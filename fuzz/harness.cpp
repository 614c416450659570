#define FUZZ_HOOKS_IMPL
#include "harness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "program_hooks.h"
#include "wsd.h"

namespace std {

void fuzz_exit(int status) { throw fuzzhook::ProgramExit{status}; }

}  // namespace std

namespace {

// Streams opened by the program and not closed yet.
std::vector<FILE*> program_files;

std::string stdout_path;

void remove_work_dir() {
    fuzzhook::clear_work_dir();
    std::remove(stdout_path.c_str());
    rmdir(fuzzhook::work_dir().c_str());
}

}  // namespace

namespace std {

FILE* fuzz_fopen(const char* path, const char* mode) {
    FILE* f = ::fopen(path, mode);
    if (f != nullptr) program_files.push_back(f);
    return f;
}

int fuzz_fclose(FILE* f) {
    auto it = std::find(program_files.begin(), program_files.end(), f);
    if (it != program_files.end()) program_files.erase(it);
    return ::fclose(f);
}

}  // namespace std

namespace fuzzhook {

void close_program_files() {
    for (FILE* f : program_files) ::fclose(f);
    program_files.clear();
}

const std::string& work_dir() {
    static std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/dsdfuzz.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return std::string(buf.data());
    }();
    static bool ready = [] {
        // Kept outside the cleared folder's file list by its name.
        stdout_path = dir + ".stdout";
        if (std::freopen(stdout_path.c_str(), "w", stdout) == nullptr) {
            std::perror("freopen");
            std::abort();
        }
        std::atexit(remove_work_dir);
        return true;
    }();
    (void)ready;
    return dir;
}

std::string work_path(const char* name) { return work_dir() + "/" + name; }

namespace {

// Removes everything below `dir`, folders included.
void clear_folder(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    closedir(d);
    for (const std::string& n : names) {
        const std::string path = dir + "/" + n;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            clear_folder(path);
            rmdir(path.c_str());
        } else {
            std::remove(path.c_str());
        }
    }
}

}  // namespace

void clear_work_dir() { clear_folder(work_dir()); }

void write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = ::fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || ::fclose(f) != 0)
        fail("cannot write %s", path.c_str());
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = ::fopen(path.c_str(), "rb");
    if (f == nullptr) fail("cannot read %s", path.c_str());
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    ::fclose(f);
    return bytes;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int run_program(int (*program_main)(int, char**), const std::vector<std::string>& args) {
    work_dir();
    std::vector<std::vector<char>> storage;
    std::vector<char*> argv;
    for (const std::string& a : args) {
        storage.emplace_back(a.begin(), a.end());
        storage.back().push_back('\0');
    }
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    struct sigaction old_int;
    sigaction(SIGINT, nullptr, &old_int);
    int status;
    try {
        status = program_main(static_cast<int>(args.size()), argv.data());
    } catch (const ProgramExit& e) {
        status = e.status;
    }
    sigaction(SIGINT, &old_int, nullptr);
    close_program_files();
    std::fflush(stdout);
    return status;
}

std::string take_stdout() {
    work_dir();
    std::fflush(stdout);
    std::vector<uint8_t> bytes = read_file(stdout_path);
    if (ftruncate(fileno(stdout), 0) != 0) fail("cannot truncate standard output");
    std::rewind(stdout);
    return std::string(bytes.begin(), bytes.end());
}

void fail(const char* format, ...) {
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: ");
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
    std::abort();
}

Source look_at(const std::string& path) {
    Source src;
    FILE* f = ::fopen(path.c_str(), "rb");
    if (f == nullptr) fail("cannot open %s", path.c_str());
    fseeko(f, 0, SEEK_END);
    src.length = static_cast<uint64_t>(ftello(f));
    std::rewind(f);

    const int reporting = dsdiff_reporting;
    dsdiff_reporting = 0;
    DsdiffInfo d{};
    d.file = f;
    if (readDsdHeader(&d) == 0) {
        src.type = 1;
        src.data_offset = static_cast<uint64_t>(ftello(f));
        src.data_size = d.data_size;
        src.sample_rate = d.sample_rate;
        src.channel_count = d.channel_count;
        std::memcpy(src.channel_ids, d.channel_ids, sizeof src.channel_ids);
    } else {
        std::rewind(f);
        WsdInfo w{};
        w.file = f;
        if (readWsdHeader(&w) == 0) {
            src.type = 2;
            src.data_offset = w.data_offset;
            src.wsd_file_size = w.file_size;
            src.sample_rate = w.sample_rate;
            src.channel_count = w.channel_count;
        }
    }
    dsdiff_reporting = reporting;
    ::fclose(f);
    return src;
}

std::string pick_id(const Source& src, unsigned selector) {
    if (src.type != 1 || src.channel_count == 0 || selector % 16 == 15) return "NONE";
    // The argument is compared on its first four bytes: a NUL in the file's
    // identifier cuts the argument short, which pads it with NULs again.
    return std::string(src.channel_ids[selector % src.channel_count]);
}

}  // namespace fuzzhook

namespace fuzzhook {

bool display_matches(const std::string& shown, const Source& src) {
    const char* heads[4] = {"sampling frequency:\t", "data size in bytes:\t", "playing time:\t\t", "channel:\t\t"};
    size_t at = 0;
    for (const char* head : heads) {
        if (shown.compare(at, std::strlen(head), head) != 0) return false;
        at = shown.find('\n', at);
        if (at == std::string::npos) return false;
        ++at;
    }
    for (int c = 0; c < src.channel_count; ++c) {
        const std::string line =
            "\tchannel " + std::to_string(c) + " name is \"" + std::string(src.channel_ids[c]) + "\"\n";
        if (shown.compare(at, line.size(), line) != 0) return false;
        at += line.size();
    }
    return at == shown.size();
}

int channel_named(const Source& src, const std::string& arg) {
    char id[4] = {};
    for (size_t i = 0; i < 4 && i < arg.size(); ++i) id[i] = arg[i];
    int position = -1;
    for (int c = 0; c < src.channel_count; ++c)
        if (std::memcmp(src.channel_ids[c], id, 4) == 0) position = c;
    return position;
}

namespace {

uint64_t be_at(const std::vector<uint8_t>& b, size_t offset, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = v << 8 | b[offset + i];
    return v;
}

}  // namespace

void check_pair_output(const std::string& path, OutputKind kind, const Source& src,
                       const uint8_t* source_bytes, int left, int right) {
    const std::vector<uint8_t> out = read_file(path);
    const uint64_t frames = src.data_size / static_cast<uint64_t>(src.channel_count);
    const size_t header = kind == OUT_DSDIFF ? DSDIFF_HEADER_SIZE : WSD_HEADER_SIZE;
    if (out.size() != header + 2 * frames)
        fail("%s: %zu bytes for %llu frames", path.c_str(), out.size(), static_cast<unsigned long long>(frames));
    if (kind == OUT_DSDIFF) {
        if (be_at(out, 122, 8) != 2 * frames || be_at(out, 4, 8) != 2 * frames + 118 ||
            be_at(out, 44, 4) != src.sample_rate)
            fail("%s: DSDIFF header does not describe the file", path.c_str());
    } else {
        const uint64_t declared = kind == OUT_WSD_BE64 ? be_at(out, 12, 8)
                                                       : (be_at(out, 16, 4) << 32 | be_at(out, 12, 4));
        if (std::memcmp(out.data(), "1bit", 4) != 0 || declared != out.size() || be_at(out, 24, 4) != 2048 ||
            be_at(out, 36, 4) != src.sample_rate || out[44] != 2)
            fail("%s: WSD header does not describe the file", path.c_str());
    }
    const uint8_t* sound = source_bytes + src.data_offset;
    for (uint64_t i = 0; i < frames; ++i) {
        const uint8_t* frame = sound + i * static_cast<uint64_t>(src.channel_count);
        if (out[header + 2 * i] != frame[left] || out[header + 2 * i + 1] != frame[right])
            fail("%s: frame %llu differs from the source", path.c_str(), static_cast<unsigned long long>(i));
    }
}

}  // namespace fuzzhook
