// sigmelt while it runs: Ctrl-C in the middle of a long conversion, and
// output files that stop taking data (a full device, a file size limit).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "melt_util.h"

namespace {

using melt::report;
using melt::sigmelt;

class SigmeltRun : public ::testing::Test {
protected:
    std::string dir = testutil::make_temp_dir();
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

// Starts sigmelt with standard output and error going to files, standard
// input from /dev/null, and a file size limit when fsize_limit > 0 (with
// SIGXFSZ ignored, so that the write fails instead of killing it).
pid_t start_sigmelt(const std::vector<std::string>& args, const std::string& out_file, const std::string& err_file,
                    rlim_t fsize_limit = 0) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (fsize_limit > 0) {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit lim = {fsize_limit, fsize_limit};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(125);
    }
    std::vector<char*> argv{const_cast<char*>(SIGMELT_BIN)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Waits for the child, killing it after `seconds`; the exit status, or
// 128 + signal.
int wait_for(pid_t pid, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int st = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
            ADD_FAILURE() << "sigmelt did not end in time";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

std::string text_of(const std::string& file) {
    const auto b = testutil::read_file(file);
    return std::string(b.begin(), b.end());
}

// The source is a pipe fed for as long as the test likes: a DSDIFF header
// declaring a huge sound chunk, then a 1 kHz tone over and over. Ctrl-C once
// two seconds of sound are in the file: status 0, and a header that counts
// exactly the frames present.
TEST_F(SigmeltRun, InterruptGivesAValidShorterFile) {
    const std::string tone = path("tone.dff"), head = path("head.dff");
    ASSERT_TRUE(testutil::dsdgen({"--seconds=1", "--tone=all:1000:0.5", tone}));
    ASSERT_TRUE(testutil::dsdgen({"--header-only", "--bytes=0", "--data-size=1000000000000", head}));
    const auto header = testutil::read_file(head);
    auto sound = testutil::read_file(tone);
    ASSERT_GT(sound.size(), 705600u);
    sound.erase(sound.begin(), sound.end() - 705600);  // the sound chunk ends the file

    const std::string fifo = path("source.dff"), out = path("o.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    signal(SIGPIPE, SIG_IGN);
    const pid_t pid = start_sigmelt({fifo, out}, path("stdout"), path("stderr"));
    ASSERT_GT(pid, 0);

    // Opening blocks until sigmelt opens its end.
    const int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        auto put = [&](const std::vector<uint8_t>& b) {
            size_t done = 0;
            while (done < b.size() && !stop.load()) {
                const ssize_t n = write(fd, b.data() + done, b.size() - done);
                if (n <= 0) return false;
                done += static_cast<size_t>(n);
            }
            return done == b.size();
        };
        if (!put(header)) return;
        while (!stop.load() && put(sound)) {
        }
    });

    // While it runs, the file starts with the placeholder header.
    const uint64_t two_seconds = melt::kHeaderBytes + 4 * 88200;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (testutil::file_size(out) < two_seconds && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto running = testutil::read_file(out);
    ASSERT_GE(running.size(), two_seconds);
    EXPECT_EQ(testutil::le(running, 28, 8), 17179869180u);
    EXPECT_EQ(testutil::le(running, 36, 8), 4294967295u);

    kill(pid, SIGINT);
    const int status = wait_for(pid, 60);
    stop.store(true);
    close(fd);
    feeder.join();

    EXPECT_EQ(status, 0) << text_of(path("stderr"));
    EXPECT_EQ(text_of(path("stderr")), "");
    EXPECT_TRUE(text_of(path("stdout")).ends_with(melt::kClear + "\n\n"));
    const sig::Wave w = melt::load_wave(out);  // header and length agree
    EXPECT_GE(w.sample_count, 88200u);
    // What is there is the tone.
    const auto x = melt::to_unit(w.left, 4410, 44100);
    EXPECT_NEAR(melt::db(sig::fit_sine(x, 1000.0, 44100.0).amplitude), -6.02, 0.05);
}

// A device that takes nothing: even the header fails. The run stops with
// the wave module's report, its own, and a status that is not 0.
TEST_F(SigmeltRun, FullDeviceFailsTheRun) {
    const std::string src = path("s.dff");
    ASSERT_TRUE(testutil::dsdgen({"--seconds=3", "--random=all:3", src}));
    const auto r = sigmelt({src, "/dev/full"}, 60);
    EXPECT_EQ(r.status, 241);
    EXPECT_EQ(r.err, report("wav", 195, "write failed.\n") + report("sigmelt", 240, "write error on /dev/full\n"));
}

// A file size limit stops the data partway: the file keeps the whole frames
// that reached it, its header counts exactly those, and the run fails.
TEST_F(SigmeltRun, WriteFailureKeepsTheFramesWritten) {
    const std::string src = path("s.dff"), full = path("full.wav");
    ASSERT_TRUE(testutil::dsdgen({"--seconds=3", "--tone=0:1000:0.5", "--tone=1:440:0.25", src}));
    ASSERT_EQ(sigmelt({src, full}).status, 0);
    const sig::Wave whole = melt::load_wave(full);
    ASSERT_EQ(whole.sample_count, 132300u);

    for (const uint64_t extra : {0, 1, 2, 3}) {
        SCOPED_TRACE(extra);
        const std::string out = path("cut.wav");
        const uint64_t limit = melt::kHeaderBytes + 4 * 100000 + extra;
        const pid_t pid = start_sigmelt({src, out}, path("stdout"), path("stderr"), limit);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(wait_for(pid, 60), 241);
        EXPECT_TRUE(text_of(path("stderr")).ends_with(report("sigmelt", 240, "write error on " + out + "\n")))
            << text_of(path("stderr"));
        const sig::Wave w = melt::load_wave(out);
        ASSERT_EQ(w.sample_count, 100000u);
        EXPECT_TRUE(std::equal(w.left.begin(), w.left.end(), whole.left.begin()));
        EXPECT_TRUE(std::equal(w.right.begin(), w.right.end(), whole.right.begin()));
    }
}

}  // namespace
