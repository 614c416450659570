#include "streams.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dsdiff.h"
#include "wsd.h"

namespace fmt_test {

FILE* stream_with(const Bytes& bytes) {
    FILE* f = std::tmpfile();
    if (f == nullptr) {
        ADD_FAILURE() << "tmpfile() failed";
        return nullptr;
    }
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

Bytes contents(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    Bytes out;
    int c;
    while ((c = std::getc(f)) != EOF) out.push_back(static_cast<uint8_t>(c));
    return out;
}

FILE* pipe_reading(const Bytes& bytes) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe() failed";
        return nullptr;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    EXPECT_EQ(done, bytes.size()) << "pipe too small for the fixture";
    close(fds[1]);
    return fdopen(fds[0], "rb");
}

PipeSink pipe_writing() {
    PipeSink s;
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe() failed";
        return s;
    }
    // Large enough for any header written in these tests.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 16);
    s.read_fd = fds[0];
    s.file = fdopen(fds[1], "wb");
    return s;
}

Bytes drain_pipe(PipeSink& sink) {
    if (sink.file != nullptr) std::fclose(sink.file);
    sink.file = nullptr;
    Bytes out;
    uint8_t buf[4096];
    ssize_t n;
    while ((n = read(sink.read_fd, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    close(sink.read_fd);
    sink.read_fd = -1;
    return out;
}

namespace {

ssize_t sink_write(void* cookie, const char* buf, size_t size) {
    auto* s = static_cast<Sink*>(cookie);
    ++s->write_calls;
    size_t room = s->pos < s->fail_at ? s->fail_at - s->pos : 0;
    size_t n = std::min(size, room);
    if (n == 0) {
        // 0 rather than -1: stdio's fwrite on a cookie stream takes -1 for a
        // huge count and reports success; 0 marks the stream as failed.
        errno = ENOSPC;
        return 0;
    }
    if (s->data.size() < s->pos + n) s->data.resize(s->pos + n);
    std::memcpy(s->data.data() + s->pos, buf, n);
    s->pos += n;
    return static_cast<ssize_t>(n);
}

int sink_seek(void* cookie, off64_t* offset, int whence) {
    auto* s = static_cast<Sink*>(cookie);
    if (!s->seekable) {
        errno = ESPIPE;
        return -1;
    }
    off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off64_t>(s->pos)
                                                               : static_cast<off64_t>(s->data.size());
    off64_t target = base + *offset;
    if (target < 0) {
        errno = EINVAL;
        return -1;
    }
    s->pos = static_cast<size_t>(target);
    *offset = target;
    return 0;
}

}  // namespace

FILE* open_sink(Sink* sink) {
    cookie_io_functions_t io{};
    io.write = sink_write;
    io.seek = sink_seek;
    FILE* f = fopencookie(sink, "wb", io);
    if (f == nullptr) {
        ADD_FAILURE() << "fopencookie() failed";
        return nullptr;
    }
    // Unbuffered, so that every failing byte surfaces in the call that writes it.
    setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    tmp_ = std::tmpfile();
    saved_ = dup(2);
    dup2(fileno(tmp_), 2);
}

StderrCapture::~StderrCapture() {
    if (saved_ >= 0) text();
}

std::string StderrCapture::text() {
    if (saved_ < 0) return {};
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    std::string out;
    std::rewind(tmp_);
    int c;
    while ((c = std::getc(tmp_)) != EOF) out.push_back(static_cast<char>(c));
    std::fclose(tmp_);
    tmp_ = nullptr;
    return out;
}

SettingsGuard::SettingsGuard() : reporting_(dsdiff_reporting), size_order_(wsd_size_order) {}

SettingsGuard::~SettingsGuard() {
    dsdiff_reporting = reporting_;
    wsd_size_order = size_order_;
}

}  // namespace fmt_test
