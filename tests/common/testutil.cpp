#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace testutil {

namespace {

std::vector<std::string>& temp_dirs() {
    static std::vector<std::string> dirs;
    return dirs;
}

void remove_temp_dirs() {
    for (const auto& d : temp_dirs()) {
        std::error_code ec;
        std::filesystem::remove_all(d, ec);
    }
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, int timeout_seconds) {
    RunResult r;
    int outp[2], errp[2];
    if (pipe(outp) != 0 || pipe(errp) != 0) {
        ADD_FAILURE() << "pipe() failed";
        return r;
    }
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork() failed";
        return r;
    }
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(outp[1], 1);
        dup2(errp[1], 2);
        close(outp[0]);
        close(errp[0]);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outp[1]);
    close(errp[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    struct pollfd fds[2] = {{outp[0], POLLIN, 0}, {errp[0], POLLIN, 0}};
    int open_fds = 2;
    bool killed = false;
    char buf[65536];
    while (open_fds > 0) {
        int wait_ms = 200;
        if (poll(fds, 2, wait_ms) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_fds;
                } else {
                    (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
                }
            }
        }
        if (timeout_seconds > 0 && !killed && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st))
        r.status = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        r.status = 128 + WTERMSIG(st);
    return r;
}

std::string make_temp_dir() {
    // Build the list before registering the clean-up, so that the list is
    // destroyed after the clean-up has run, not before.
    temp_dirs();
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(remove_temp_dirs); });
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dsdtest.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        ADD_FAILURE() << "mkdtemp failed";
        return "/tmp";
    }
    temp_dirs().push_back(name.data());
    return name.data();
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    ASSERT_EQ(std::fclose(f), 0);
}

void write_file(const std::string& path, const std::string& text) {
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

uint64_t file_size(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool dsdgen(const std::vector<std::string>& args) {
    std::vector<std::string> argv{DSDGEN_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run(argv);
    if (r.status != 0) {
        std::string cmd;
        for (const auto& a : argv) cmd += a + " ";
        ADD_FAILURE() << "generator failed (" << r.status << "): " << cmd << "\n" << r.err;
        return false;
    }
    return true;
}

uint64_t be(const std::vector<uint8_t>& b, size_t offset, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | b.at(offset + static_cast<size_t>(i));
    return v;
}

uint64_t le(const std::vector<uint8_t>& b, size_t offset, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(offset + static_cast<size_t>(i));
    return v;
}

void put_be(std::vector<uint8_t>& b, uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_le(std::vector<uint8_t>& b, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_str(std::vector<uint8_t>& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

}  // namespace testutil
