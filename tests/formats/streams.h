// Stream fixtures for the format library tests: files made from bytes, a
// pipe, memory streams that fail at the n-th byte or cannot seek, and
// capture of what the library prints on standard error.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dsdiff.h"
#include "wsd.h"

namespace fmt_test {

using Bytes = std::vector<uint8_t>;

// A temporary read/write file holding `bytes`, positioned at the start.
inline FILE* stream_with(const Bytes& bytes) {
    FILE* f = std::tmpfile();
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

// Everything in `f`, read from the start.
inline Bytes contents(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    Bytes out;
    for (int c; (c = std::getc(f)) != EOF;) out.push_back(static_cast<uint8_t>(c));
    return out;
}

// The read end of a pipe holding `bytes`, closed for writing: a stream
// that reads but cannot seek.
inline FILE* pipe_reading(const Bytes& bytes) {
    int fds[2];
    if (pipe(fds) != 0) return nullptr;
    EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << "pipe too small";
    close(fds[1]);
    return fdopen(fds[0], "rb");
}

// An unbuffered memory stream whose writes fail once `fail_at` bytes have
// been accepted. Seeks work unless `seekable` is false (ESPIPE).
struct Sink {
    Bytes data;
    size_t pos = 0;
    size_t fail_at = SIZE_MAX;
    bool seekable = true;
    int write_calls = 0;  // failed ones included
};

inline FILE* open_sink(Sink* sink) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* buf, size_t size) -> ssize_t {
        auto* s = static_cast<Sink*>(cookie);
        ++s->write_calls;
        const size_t n = std::min(size, s->pos < s->fail_at ? s->fail_at - s->pos : 0);
        if (n == 0) {
            // 0 rather than -1: stdio takes -1 from a cookie for a huge count.
            errno = ENOSPC;
            return 0;
        }
        if (s->data.size() < s->pos + n) s->data.resize(s->pos + n);
        std::memcpy(s->data.data() + s->pos, buf, n);
        s->pos += n;
        return static_cast<ssize_t>(n);
    };
    io.seek = [](void* cookie, off64_t* offset, int whence) {
        auto* s = static_cast<Sink*>(cookie);
        if (!s->seekable) {
            errno = ESPIPE;
            return -1;
        }
        const off64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? static_cast<off64_t>(s->pos)
                                                  : static_cast<off64_t>(s->data.size());
        if (base + *offset < 0) {
            errno = EINVAL;
            return -1;
        }
        s->pos = static_cast<size_t>(*offset = base + *offset);
        return 0;
    };
    FILE* f = fopencookie(sink, "wb", io);
    // Unbuffered, so that every failing byte surfaces in the call that writes it.
    setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

// Collects what is written to file descriptor 2 until text().
class StderrCapture {
public:
    StderrCapture() : tmp_(std::tmpfile()) {
        std::fflush(stderr);
        saved_ = dup(2);
        dup2(fileno(tmp_), 2);
    }
    ~StderrCapture() { text(); }
    std::string text() {
        if (saved_ < 0) return {};
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
        Bytes b = contents(tmp_);
        std::fclose(tmp_);
        return std::string(b.begin(), b.end());
    }

private:
    int saved_;
    FILE* tmp_;
};

// Restores the two per-program settings of the library when a test ends.
struct SettingsGuard {
    int reporting = dsdiff_reporting;
    int size_order = wsd_size_order;
    ~SettingsGuard() {
        dsdiff_reporting = reporting;
        wsd_size_order = size_order;
    }
};

// One header read of `f` (closed at the end), with what the library printed
// and where it left the stream. `info` starts as given, `reporting` is the
// DSDIFF reporting mode during the read.
template <typename Info>
struct HeaderRead {
    FILE* f;
    Info info;
    int result = -2;
    std::string err;
    long long pos = -1;

    HeaderRead(FILE* file, int (*read)(Info*), Info start = Info{}, int reporting = 1) : f(file), info(start) {
        SettingsGuard guard;
        dsdiff_reporting = reporting;
        info.file = f;
        StderrCapture capture;
        if (f != nullptr) {
            result = read(&info);
            pos = ftello(f);
        }
        err = capture.text();
    }
    HeaderRead(const HeaderRead&) = delete;
    ~HeaderRead() {
        if (f != nullptr) std::fclose(f);
    }
};

}  // namespace fmt_test
