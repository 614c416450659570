#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

namespace ts {

namespace fs = std::filesystem;

std::string bin(const std::string& name) {
    return std::string(DSD_BUILD_DIR) + (name == "dsdgen" || name == "coeffgen" ? "/tools/" : "/bin/") + name;
}

std::string tmpdir() {
    static std::vector<std::string> made;
    if (made.empty()) std::atexit([] { for (const auto& d : made) fs::remove_all(d); });
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/dsdtest.XXXXXX";
    EXPECT_NE(mkdtemp(name.data()), nullptr);
    fs::permissions(name, fs::perms::all);  // runs as nobody write here too
    return made.emplace_back(name);
}

std::vector<std::string> emulated(const std::vector<std::string>& argv) {
    std::vector<std::string> full;
    std::istringstream emulator(argv.at(0).starts_with(DSD_BUILD_DIR) ? DSD_EMULATOR : "");  // a cross build's, or none
    for (std::string word; emulator >> word;) full.push_back(word);
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

Child start(const std::vector<std::string>& argv, const Options& o) {
    Child c;
    c.capture = tmpdir(), c.timeout = o.timeout;
    // util-linux's setpriv and prlimit set the user and the limit, then exec
    // the program in place: the pid stays the program's.
    std::vector<std::string> full;
    if (o.as_nobody) full = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    if (o.file_limit >= 0) full.insert(full.end(), {"/usr/bin/prlimit", "--fsize=" + std::to_string(o.file_limit), "--"});
    signal(SIGXFSZ, SIG_IGN);  // inherited: a write past the limit fails instead of killing
    for (const std::string& word : emulated(argv)) full.push_back(word);
    std::vector<char*> args;
    for (auto& a : full) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (c.capture + "/out").c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (c.capture + "/err").c_str(), O_WRONLY | O_CREAT, 0644);
    if (!o.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, o.cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE), sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    if (posix_spawn(&c.pid, args[0], &fa, &attr, args.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << args[0];
        c.done = true;
    }
    posix_spawnattr_destroy(&attr), posix_spawn_file_actions_destroy(&fa);
    return c;
}

bool ended(Child& c) {
    int st = 0;
    if (c.done || waitpid(c.pid, &st, WNOHANG) != c.pid) return c.done;
    c.done = true;
    c.result.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
    c.result.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + c.result.signal;
    for (auto [name, text] : {std::pair("/out", &c.result.out), std::pair("/err", &c.result.err)})
        for (const uint8_t byte : read_file(c.capture + name)) text->push_back(static_cast<char>(byte));
    return true;
}

Result finish(Child& c) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(c.timeout);
    while (!ended(c)) {
        if (std::chrono::steady_clock::now() > deadline && !c.result.timed_out) {
            kill(c.pid, SIGKILL);
            c.result.timed_out = true;
            ADD_FAILURE() << "still running after " << c.timeout << " s: killed";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return c.result;
}

Result run(const std::vector<std::string>& argv, const Options& o) {
    Child c = start(argv, o);
    return finish(c);
}

bool gen(const std::vector<std::string>& args) {
    std::vector<std::string> argv{bin("dsdgen")};
    argv.insert(argv.end(), args.begin(), args.end());
    const Result r = run(argv);
    EXPECT_EQ(r.status, 0) << "dsdgen failed: " << r.err;
    return r.status == 0;
}

uint64_t size_of(const std::string& path) {
    std::error_code ec;
    const uintmax_t n = fs::file_size(path, ec);
    return ec ? 0 : n;
}

Bytes read_file(const std::string& path) {
    Bytes b(size_of(path));
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) b.resize(std::fread(b.data(), 1, b.size(), f)), std::fclose(f);
    return b;
}

void write_file(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ(bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    EXPECT_EQ(std::fclose(f), 0);
}

bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    return std::sort(names.begin(), names.end()), names;
}

std::string report(const std::string& module, int line, const std::string& message) {
    return "\nERROR " + module + " " + std::to_string(line) + " " + message;
}

}  // namespace ts
