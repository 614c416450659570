#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace ts {

namespace fs = std::filesystem;

std::string bin(const std::string& name) {
    return std::string(DSD_BUILD_DIR) + (name == "dsdgen" || name == "coeffgen" ? "/tools/" : "/bin/") + name;
}

std::string tmpdir() {
    static std::vector<std::string> made;
    static const bool cleanup = [] {
        std::atexit([] { for (const auto& d : made) { std::error_code ec; fs::remove_all(d, ec); } });
        return true;
    }();
    (void)cleanup;
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/dsdtest.XXXXXX";
    if (mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    chmod(name.c_str(), 0777);  // runs as nobody write here too
    made.push_back(name);
    return name;
}

Child start(const std::vector<std::string>& argv, const Options& o) {
    Child c;
    c.timeout = o.timeout;
    c.capture = tmpdir();
    // The limit and the other user are set by util-linux's prlimit and
    // setpriv, which exec the program in place: the pid stays the program's.
    std::vector<std::string> full;
    if (o.as_nobody) full = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    if (o.file_limit >= 0) {
        signal(SIGXFSZ, SIG_IGN);  // inherited: a write past the limit fails instead of killing
        full.insert(full.end(), {"/usr/bin/prlimit", "--fsize=" + std::to_string(o.file_limit), "--"});
    }
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& a : full) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (c.capture + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (c.capture + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!o.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, o.cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    if (posix_spawn(&c.pid, args[0], &fa, &attr, args.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << args[0];
        c.done = true;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return c;
}

bool ended(Child& c) {
    if (c.done) return true;
    int st = 0;
    if (waitpid(c.pid, &st, WNOHANG) != c.pid) return false;
    c.done = true;
    c.result.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
    c.result.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + c.result.signal;
    const Bytes out = read_file(c.capture + "/out"), err = read_file(c.capture + "/err");
    c.result.out.assign(out.begin(), out.end());
    c.result.err.assign(err.begin(), err.end());
    return true;
}

Result finish(Child& c) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(c.timeout);
    while (!ended(c)) {
        if (std::chrono::steady_clock::now() > deadline && !c.result.timed_out) {
            kill(c.pid, SIGKILL);
            c.result.timed_out = true;
            ADD_FAILURE() << "program still running after " << c.timeout << " s: killed";
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

Bytes read_file(const std::string& path) {
    Bytes b;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[1 << 16];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) b.insert(b.end(), buf, buf + n);
        std::fclose(f);
    }
    return b;
}

void write_file(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    EXPECT_EQ(std::fclose(f), 0);
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

uint64_t size_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string report(const std::string& module, int line, const std::string& message) {
    return "\nERROR " + module + " " + std::to_string(line) + " " + message;
}

}  // namespace ts
