#include "hostile.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "testutil.h"

namespace hostile {

struct Capture {
    int out_fd = -1, err_fd = -1;
    std::string out, err;
    std::thread reader;
};

namespace {

void drain(Capture* c) {
    struct pollfd fds[2] = {{c->out_fd, POLLIN, 0}, {c->err_fd, POLLIN, 0}};
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? c->out : c->err).append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void child_exec(const std::vector<char*>& args, int out_fd, int err_fd, const Options& o) {
    const int in_fd = open("/dev/null", O_RDONLY);
    if (in_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) _exit(125);
    signal(SIGPIPE, SIG_DFL);  // the tests ignore it for themselves
    if (o.file_limit >= 0) {
        // A write past the limit then fails with EFBIG instead of killing
        // the process, as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {static_cast<rlim_t>(o.file_limit), static_cast<rlim_t>(o.file_limit)};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(125);
    }
    if (o.as_nobody) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
    }
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

Child spawn(const std::vector<std::string>& argv, const Options& options) {
    Child c;
    c.options = options;
    int outp[2], errp[2];
    if (pipe2(outp, O_CLOEXEC) != 0 || pipe2(errp, O_CLOEXEC) != 0) return c;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (options.as_nobody || options.file_limit >= 0) {
        c.pid = fork();
        if (c.pid == 0) child_exec(args, outp[1], errp[1], options);
    } else {
        // No fork of this (possibly sanitized, large) process: much cheaper
        // for the many plain runs.
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, outp[1], 1);
        posix_spawn_file_actions_adddup2(&fa, errp[1], 2);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&c.pid, args[0], &fa, &attr, args.data(), environ) != 0) c.pid = -1;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&fa);
    }
    close(outp[1]);
    close(errp[1]);
    c.capture = std::make_shared<Capture>();
    c.capture->out_fd = outp[0];
    c.capture->err_fd = errp[0];
    c.capture->reader = std::thread(drain, c.capture.get());
    return c;
}

bool finished(Child& c) {
    if (c.reaped) return true;
    int st = 0;
    const pid_t r = waitpid(c.pid, &st, WNOHANG);
    if (r == c.pid) {
        c.reaped = true;
        c.wait_status = st;
    }
    return c.reaped;
}

Outcome wait(Child& c) {
    Outcome o;
    if (c.pid < 0) {
        if (c.capture) c.capture->reader.join();
        o.err = "the program could not be started";
        o.timed_out = true;
        return o;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(c.options.timeout_seconds);
    while (!finished(c)) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(c.pid, SIGKILL);
            o.timed_out = true;
            while (waitpid(c.pid, &c.wait_status, 0) < 0 && errno == EINTR) {
            }
            c.reaped = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The pipes close when the child (and anything it left running) ends.
    c.capture->reader.join();
    if (WIFEXITED(c.wait_status))
        o.status = WEXITSTATUS(c.wait_status);
    else if (WIFSIGNALED(c.wait_status))
        o.signal = WTERMSIG(c.wait_status);
    o.out = c.capture->out;
    o.err = c.capture->err;
    return o;
}

Outcome run(const std::vector<std::string>& argv, const Options& options) {
    Child c = spawn(argv, options);
    return wait(c);
}

std::string describe(const Outcome& o) {
    std::string s = o.timed_out ? "timed out" : o.signal ? "killed by signal " + std::to_string(o.signal)
                                                         : "status " + std::to_string(o.status);
    return s + ", stderr: \"" + o.err + "\"";
}

std::string fault(const Outcome& o) {
    if (o.timed_out) return "hang (timed out)";
    if (o.signal != 0) return "crash (signal " + std::to_string(o.signal) + ")";
    if (o.err.find("Sanitizer") != std::string::npos || o.err.find("runtime error") != std::string::npos)
        return "sanitizer report";
    return {};
}

// ---- outputs --------------------------------------------------------------

namespace {

Extent start(const std::string& path, std::vector<uint8_t>& bytes, size_t header) {
    Extent e;
    bytes = testutil::read_file(path);
    e.actual = testutil::file_size(path);
    if (bytes.size() < header) e.problem = "shorter than its header (" + std::to_string(bytes.size()) + " bytes)";
    return e;
}

bool has(const std::vector<uint8_t>& b, size_t at, const char* text) {
    return std::memcmp(b.data() + at, text, std::strlen(text)) == 0;
}

}  // namespace

Extent rf64_extent(const std::string& path) {
    std::vector<uint8_t> b;
    Extent e = start(path, b, 84);
    if (!e.problem.empty()) return e;
    if (!has(b, 0, "RF64") || !has(b, 8, "WAVEds64") || !has(b, 48, "fmt ") || !has(b, 76, "data")) {
        e.problem = "not an RF64 header";
        return e;
    }
    const uint64_t riff = testutil::le(b, 20, 8), data = testutil::le(b, 28, 8), frames = testutil::le(b, 36, 8);
    if (data != 4 * frames || riff != data + 76) {
        e.problem = "ds64 sizes disagree";
        return e;
    }
    e.valid = true;
    e.declared = 84 + data;
    return e;
}

Extent wsd_extent(const std::string& path, bool be64) {
    std::vector<uint8_t> b;
    Extent e = start(path, b, 2048);
    if (!e.problem.empty()) return e;
    if (!has(b, 0, "1bit") || testutil::be(b, 0x18, 4) != 2048) {
        e.problem = "not a WSD header";
        return e;
    }
    e.valid = true;
    e.declared = be64 ? testutil::be(b, 0x0C, 8) : testutil::be(b, 0x0C, 4) | testutil::be(b, 0x10, 4) << 32;
    return e;
}

Extent dff_extent(const std::string& path) {
    std::vector<uint8_t> b;
    Extent e = start(path, b, 130);
    if (!e.problem.empty()) return e;
    if (!has(b, 0, "FRM8") || !has(b, 12, "DSD ") || !has(b, 118, "DSD ")) {
        e.problem = "not the two-channel DSDIFF header";
        return e;
    }
    const uint64_t form = testutil::be(b, 4, 8), sound = testutil::be(b, 122, 8);
    if (form != sound + 118) {
        e.problem = "form size and sound size disagree";
        return e;
    }
    e.valid = true;
    e.declared = 130 + sound;
    return e;
}

std::vector<std::string> list_files(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* ent = readdir(d)) {
        const std::string n = ent->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace hostile
