// Hostile surroundings rather than hostile bytes: a source that is a
// folder, missing, unreadable, unreadable past its opening, a symlink loop,
// a pipe that ends early, a file that shrinks while it is read; an output
// that is a folder, in a folder that cannot be written or searched, on a
// full disk, or the source itself. Each run ends with its report and the
// specified status, without a crash or a hang, and what it leaves behind
// does not claim more than it holds unless the copy failed half-way (then
// the outputs stay as they are, as the extractors specify).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "programs.h"
#include "testutil.h"

namespace {

using bad::CF_COPY;
using bad::CF_SHOW;
using bad::NOT_DSDIFF;
using bad::SHOWN;
using bad::SIGMELT;
using bad::X4_COPY;
using bad::X4_SHOW;

const std::vector<std::string> kIds = {"SLFT", "SRGT"};

std::string make_source(const std::string& dir, const std::string& name, const std::string& length = "--bytes=4096") {
    const std::string path = dir + "/" + name;
    EXPECT_TRUE(testutil::dsdgen({"--channels=2", length, "--random=all:9", path}));
    return path;
}

// Statuses by mode: sigmelt, display, chanfork copy, display, chanfork2chx4 copy.
void expect_all(const std::string& src, const std::string& dir, int sig, int show, int cf, int x4,
                const hostile::Options& opt = {}) {
    bad::Expect e[5];
    const int s[] = {sig, show, cf, show, x4};
    for (bad::Mode m : bad::kModes) e[m].status = s[m];
    bad::check_all_modes(src, dir, kIds, e, opt);
}

// The uid the privilege-dropping runs use can start the programs.
bool nobody_can_run() {
    const hostile::Outcome o = hostile::run({SIGMELT_BIN}, {.as_nobody = true});
    return o.status == 27;
}

#define REQUIRE_NOBODY()                                                                                 \
    do {                                                                                                 \
        if (geteuid() != 0) GTEST_SKIP() << "not root: cannot run as another user";                      \
        if (!nobody_can_run()) GTEST_SKIP() << "uid 65534 cannot reach the build folder: test skipped"; \
    } while (0)

// A temporary folder that uid 65534 may use.
std::string open_dir() {
    const std::string dir = testutil::make_temp_dir();
    chmod(dir.c_str(), 0777);
    return dir;
}

TEST(SourceSurroundings, Folder) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/src.dff";
    ASSERT_EQ(mkdir(src.c_str(), 0755), 0);
    // A folder opens for reading but yields no bytes: no format is found.
    expect_all(src, dir, 134, NOT_DSDIFF, 136, 108);
}

TEST(SourceSurroundings, Missing) {
    const std::string dir = testutil::make_temp_dir();
    expect_all(dir + "/src.dff", dir, 100, 26, 131, 103);
}

TEST(SourceSurroundings, SymlinkLoop) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/src.dff";
    ASSERT_EQ(symlink("src.dff", src.c_str()), 0);
    expect_all(src, dir, 100, 26, 131, 103);
}

TEST(SourceSurroundings, UnreadableFile) {
    REQUIRE_NOBODY();
    const std::string dir = open_dir();
    const std::string src = make_source(dir, "src.dff");
    ASSERT_EQ(chmod(src.c_str(), 0), 0);
    expect_all(src, dir, 100, 26, 131, 103, {.as_nobody = true});
}

TEST(SourceSurroundings, ReadFailsAfterOpening) {
    // Opens, but reading at offset 0 fails (EIO).
    const std::string dir = testutil::make_temp_dir();
    expect_all("/proc/self/mem", dir, 134, NOT_DSDIFF, 136, 108);
}

// ---- pipes ------------------------------------------------------------------

// Writes `bytes` into the FIFO once the child has opened it, in pieces with
// short pauses, and closes it: a slow source that ends early.
void feed(const std::string& fifo, hostile::Child& child, const std::vector<uint8_t>& bytes) {
    int fd = -1;
    while (fd < 0) {
        fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) break;
        if (errno != ENXIO || hostile::finished(child)) return;  // no reader (yet)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    fcntl(fd, F_SETFL, 0);
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = std::min<size_t>(512, bytes.size() - at);
        const ssize_t w = write(fd, bytes.data() + at, n);
        if (w <= 0) break;  // the reader has gone
        at += static_cast<size_t>(w);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
}

TEST(SourceSurroundings, PipeThatEndsEarly) {
    signal(SIGPIPE, SIG_IGN);
    const std::string gen_dir = testutil::make_temp_dir();
    const std::vector<uint8_t> file = testutil::read_file(make_source(gen_dir, "whole.dff"));
    const size_t header = file.size() - 8192;
    // The header and 1000 of the 8192 sound bytes.
    const std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<long>(header + 1000));

    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/src.dff";
    const int status[] = {0, SHOWN, 228, SHOWN, 177};
    for (bad::Mode m : bad::kModes) {
        unlink(src.c_str());
        ASSERT_EQ(mkfifo(src.c_str(), 0644), 0);
        hostile::Child c = hostile::spawn(bad::command(m, src, dir, kIds));
        feed(src, c, part);
        bad::Expect e;
        e.status = status[m];
        e.sigmelt_frames = 1000 / 16;
        bad::judge(m, hostile::wait(c), src, dir, e);
        bad::remove_outputs(m, src, dir);
    }
}

TEST(SourceSurroundings, WsdThroughAPipe) {
    // Telling the formats apart needs a rewind, which a pipe cannot do: the
    // converter refuses the source with its report instead of misreading it.
    signal(SIGPIPE, SIG_IGN);
    const std::string gen_dir = testutil::make_temp_dir();
    const std::vector<uint8_t> file = testutil::read_file(make_source(gen_dir, "whole.wsd"));
    const std::string dir = testutil::make_temp_dir();
    const std::string src = dir + "/src.wsd";
    ASSERT_EQ(mkfifo(src.c_str(), 0644), 0);
    hostile::Child c = hostile::spawn(bad::command(SIGMELT, src, dir, kIds));
    feed(src, c, file);
    bad::judge(SIGMELT, hostile::wait(c), src, dir, {134});
}

// ---- a source that shrinks while it is read ------------------------------------

TEST(SourceSurroundings, ShrinksWhileRead) {
    // Sparse: takes no disk space, and is far too long to be read before
    // the test stops the program.
    constexpr uint64_t kSound = uint64_t{1} << 36;
    struct Case {
        bad::Mode mode;
        int status;
        uint64_t watch_bytes;  // output size that shows the run is well under way
    };
    for (const Case& c : {Case{SIGMELT, 0, 84 + (256u << 10)}, Case{CF_COPY, 228, 2048 + (4u << 20)},
                          Case{X4_COPY, 177, 2048 + (4u << 20)}}) {
        SCOPED_TRACE(bad::mode_name(c.mode));
        const std::string dir = testutil::make_temp_dir();
        const std::string src = dir + "/src.dff";
        ASSERT_TRUE(testutil::dsdgen({"--channels=2", "--header-only", "--data-size=" + std::to_string(kSound), src}));
        const uint64_t header = testutil::file_size(src);
        ASSERT_EQ(truncate(src.c_str(), static_cast<off_t>(header + kSound)), 0);

        // The file-size limit only guards the disk should the test be too
        // slow to stop the program in time.
        hostile::Child child = hostile::spawn(bad::command(c.mode, src, dir, kIds),
                                              {.file_limit = int64_t{512} << 20, .timeout_seconds = 60});
        const std::string watched = dir + "/" + bad::output_names(c.mode, "src.dff")[0];
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (testutil::file_size(watched) < c.watch_bytes && !hostile::finished(child) &&
               std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_FALSE(hostile::finished(child)) << "ended before the source could shrink";

        // Stopped while it reads, the source loses all but its first 4 KiB
        // of sound, far behind where the reading stands.
        kill(child.pid, SIGSTOP);
        ASSERT_EQ(truncate(src.c_str(), static_cast<off_t>(header + 4096)), 0);
        kill(child.pid, SIGCONT);

        bad::Expect e;
        e.status = c.status;
        bad::judge(c.mode, hostile::wait(child), src, dir, e);
        bad::remove_outputs(c.mode, src, dir);
    }
}

// ---- outputs ------------------------------------------------------------------

TEST(OutputSurroundings, Folder) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = make_source(dir, "src.dff");
    for (const char* name : {"out.wav", "pair.wsd", "src_0.wsd"}) ASSERT_EQ(mkdir((dir + "/" + name).c_str(), 0755), 0);
    // The converter cannot open it; the extractors find the name taken.
    bad::Expect e[5];
    const int s[] = {367, SHOWN, 123, SHOWN, 95};
    for (bad::Mode m : bad::kModes) {
        e[m].status = s[m];
        e[m].check_outputs = false;
    }
    for (bad::Mode m : bad::kModes) {
        const hostile::Outcome o = hostile::run(bad::command(m, src, dir, kIds));
        bad::judge(m, o, src, dir, e[m]);
    }
    struct stat st;
    ASSERT_EQ(stat((dir + "/out.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_FALSE(testutil::file_exists(dir + "/pair.dff"));
}

TEST(OutputSurroundings, FolderNotWritable) {
    REQUIRE_NOBODY();
    const std::string dir = open_dir();
    const std::string src = make_source(dir, "src.dff");
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    expect_all(src, dir, 367, SHOWN, 153, 131, {.as_nobody = true});
    chmod(dir.c_str(), 0777);
}

TEST(OutputSurroundings, FolderNotSearchable) {
    REQUIRE_NOBODY();
    const std::string dir = open_dir();
    const std::string src = make_source(dir, "src.dff");
    const std::string closed = dir + "/closed";
    ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
    // Whether the name exists cannot be told: the extractors refuse it as
    // taken; the converter cannot create it.
    bad::Expect e;
    e.check_outputs = false;
    e.status = 367;
    bad::judge(SIGMELT, hostile::run({SIGMELT_BIN, src, closed + "/out.wav"}, {.as_nobody = true}), src, dir, e);
    e.status = 123;
    bad::judge(CF_COPY, hostile::run({CHANFORK_BIN, src, "SLFT", "SRGT", closed + "/pair.wsd"}, {.as_nobody = true}),
               src, dir, e);
    // chanfork2chx4 names its outputs after a source that lies in there.
    const std::string hidden_src = closed + "/src.dff";
    e.status = 95;
    bad::judge(X4_COPY, hostile::run(bad::command(X4_COPY, hidden_src, closed, kIds), {.as_nobody = true}),
               hidden_src, closed, e);
    EXPECT_TRUE(hostile::list_files(closed).empty());
}

TEST(OutputSurroundings, MissingFolder) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = make_source(dir, "src.dff");
    bad::Expect e;
    e.check_outputs = false;
    e.status = 367;
    bad::judge(SIGMELT, hostile::run({SIGMELT_BIN, src, dir + "/none/out.wav"}), src, dir, e);
    e.status = 153;
    bad::judge(CF_COPY, hostile::run({CHANFORK_BIN, src, "SLFT", "SRGT", dir + "/none/pair.wsd"}), src, dir, e);
}

// A full disk: a file-size limit, with SIGXFSZ ignored so that the writes
// fail with EFBIG. The converter ends with its write error and leaves a
// file whose header counts exactly the frames in it (or, when not even the
// header fits, an empty file); the extractors end with theirs.
TEST(OutputSurroundings, DiskFull) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = make_source(dir, "src.dff", "--seconds=0.25");  // 44100 bytes of output
    for (int64_t limit : {0, 50, 83, 84, 86, 1024, 20000}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        bad::check_mode(SIGMELT, src, dir, kIds, {241}, {.file_limit = limit});
    }
    for (int64_t limit : {0, 1000, 2048, 2060, 100000}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        bad::check_mode(CF_COPY, src, dir, kIds, {246}, {.file_limit = limit});
        bad::check_mode(X4_COPY, src, dir, kIds, {183}, {.file_limit = limit});
    }
    // The frames that fit, and a header that counts them.
    bad::remove_outputs(SIGMELT, src, dir);
    const hostile::Outcome o = hostile::run(bad::command(SIGMELT, src, dir, kIds), {.file_limit = 1024});
    EXPECT_EQ(o.status, 241) << hostile::describe(o);
    const hostile::Extent x = hostile::rf64_extent(dir + "/out.wav");
    EXPECT_TRUE(x.valid) << x.problem;
    EXPECT_EQ(x.actual, 84u + (1024 - 84) / 4 * 4);
    EXPECT_EQ(x.declared, x.actual);
}

TEST(OutputSurroundings, DevFull) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = make_source(dir, "src.dff");
    bad::Expect e;
    e.status = 241;
    e.check_outputs = false;
    bad::judge(SIGMELT, hostile::run({SIGMELT_BIN, src, "/dev/full"}), src, dir, e);
}

TEST(OutputSurroundings, Pipe) {
    // The header is written at offset 0 and rewritten there at the end: a
    // pipe cannot seek, and the first header's seek already says so.
    const std::string dir = testutil::make_temp_dir();
    const std::string src = make_source(dir, "src.dff");
    const std::string fifo = dir + "/out.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    bad::Expect e;
    e.status = 191;
    e.check_outputs = false;
    bad::judge(SIGMELT, hostile::run({SIGMELT_BIN, src, fifo}), src, dir, e);
    char buf[256];
    EXPECT_LE(read(reader, buf, sizeof buf), 0) << "bytes went into the pipe";
    close(reader);
}

TEST(OutputSurroundings, TheSourceItself) {
    const std::string dir = testutil::make_temp_dir();
    const std::string src = make_source(dir, "src.dff");
    const std::vector<uint8_t> before = testutil::read_file(src);
    const std::string link = dir + "/link.wav";
    ASSERT_EQ(symlink("src.dff", link.c_str()), 0);
    bad::Expect e;
    e.check_outputs = false;
    e.status = 161;
    for (const std::string& out : {src, link}) bad::judge(SIGMELT, hostile::run({SIGMELT_BIN, src, out}), src, dir, e);
    e.status = 123;
    bad::judge(CF_COPY, hostile::run({CHANFORK_BIN, src, "SLFT", "SRGT", src}), src, dir, e);
    EXPECT_TRUE(testutil::read_file(src) == before) << "the source was changed";
}

}  // namespace
