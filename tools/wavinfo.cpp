// wavinfo: what a 16-bit PCM wave file (RF64 or RIFF) holds: its format,
// frame count and, per channel, the frequency and level of the tone in it.
// A developer's check of the converter's output, e.g. in tools/demo.sh.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

uint64_t le(const uint8_t* p, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

struct WaveFile {
    uint16_t format_tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    uint64_t frames = 0;       // as the header says
    uint64_t data_offset = 0;
    uint64_t data_size = 0;    // as the header says
    std::vector<std::vector<double>> samples;  // per channel, full scale 1.0
};

bool read_all(const char* name, std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(name, "rb");
    if (f == nullptr) return false;
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Walks the chunks; the ds64 sizes stand in for 32-bit fields of all ones.
const char* parse(const std::vector<uint8_t>& b, WaveFile& w) {
    if (b.size() < 12) return "too short for a wave file";
    const bool rf64 = std::memcmp(b.data(), "RF64", 4) == 0;
    if (!rf64 && std::memcmp(b.data(), "RIFF", 4) != 0) return "neither RF64 nor RIFF";
    if (std::memcmp(b.data() + 8, "WAVE", 4) != 0) return "not a WAVE form";
    uint64_t ds64_data = 0, ds64_frames = 0;
    bool have_fmt = false, have_data = false;
    size_t pos = 12;
    while (pos + 8 <= b.size() && !have_data) {
        const uint8_t* id = b.data() + pos;
        const uint64_t size = le(id + 4, 4);
        const size_t body = pos + 8;
        if (std::memcmp(id, "ds64", 4) == 0 && size >= 24 && body + 24 <= b.size()) {
            ds64_data = le(b.data() + body + 8, 8);
            ds64_frames = le(b.data() + body + 16, 8);
        } else if (std::memcmp(id, "fmt ", 4) == 0 && size >= 16 && body + 16 <= b.size()) {
            w.format_tag = static_cast<uint16_t>(le(b.data() + body, 2));
            w.channels = static_cast<uint16_t>(le(b.data() + body + 2, 2));
            w.rate = static_cast<uint32_t>(le(b.data() + body + 4, 4));
            w.bits = static_cast<uint16_t>(le(b.data() + body + 14, 2));
            have_fmt = true;
        } else if (std::memcmp(id, "data", 4) == 0) {
            w.data_offset = body;
            w.data_size = (rf64 && size == 0xFFFFFFFFu) ? ds64_data : size;
            have_data = true;
            break;
        }
        pos = body + static_cast<size_t>(size) + (size & 1);
        if (size > b.size()) break;
    }
    if (!have_fmt) return "no format chunk";
    if (!have_data) return "no data chunk";
    if (w.format_tag != 1 || w.bits != 16 || w.channels == 0) return "not 16-bit PCM";
    const uint64_t frame_bytes = 2ull * w.channels;
    w.frames = rf64 && ds64_frames != 0 ? ds64_frames : w.data_size / frame_bytes;
    const uint64_t present = (b.size() - w.data_offset) / frame_bytes;
    const uint64_t n = std::min(present, w.data_size / frame_bytes);
    w.samples.assign(w.channels, {});
    for (uint64_t i = 0; i < n; ++i)
        for (uint16_t c = 0; c < w.channels; ++c) {
            const auto v = static_cast<int16_t>(le(b.data() + w.data_offset + i * frame_bytes + 2 * c, 2));
            w.samples[c].push_back(v / 32767.0);
        }
    return nullptr;
}

// Frequency from the rising zero crossings (interpolated), then level from
// a least-squares fit of a sine at that frequency. Skips the first tenth of
// a second, where a filter may still be starting.
bool tone(const std::vector<double>& x, double rate, double& freq, double& amplitude) {
    const size_t start = std::min(x.size(), static_cast<size_t>(rate / 10));
    double mean = 0;
    for (size_t i = start; i < x.size(); ++i) mean += x[i];
    if (x.size() - start < 16) return false;
    mean /= static_cast<double>(x.size() - start);
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = start + 1; i < x.size(); ++i) {
        const double a = x[i - 1] - mean, b = x[i] - mean;
        if (a < 0 && b >= 0) {
            const double t = static_cast<double>(i - 1) + a / (a - b);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 3) return false;
    freq = rate * (crossings - 1) / (last - first);
    // Normal equations for s*sin + c*cos + d over the whole periods.
    const auto begin = static_cast<size_t>(std::ceil(first)), end = static_cast<size_t>(last);
    double m[3][4] = {};
    for (size_t i = begin; i < end; ++i) {
        const double ph = 2 * std::numbers::pi * freq * static_cast<double>(i) / rate;
        const double v[3] = {std::sin(ph), std::cos(ph), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) m[r][k] += v[r] * v[k];
            m[r][3] += v[r] * x[i];
        }
    }
    for (int p = 0; p < 3; ++p) {  // Gauss-Jordan, the matrix is well conditioned
        if (std::fabs(m[p][p]) < 1e-12) return false;
        for (int r = 0; r < 3; ++r) {
            if (r == p) continue;
            const double f = m[r][p] / m[p][p];
            for (int k = p; k < 4; ++k) m[r][k] -= f * m[p][k];
        }
    }
    amplitude = std::hypot(m[0][3] / m[0][0], m[1][3] / m[1][1]);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WAVE_FILE\n", argc > 0 ? argv[0] : "wavinfo");
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!read_all(argv[1], bytes)) {
        std::fprintf(stderr, "%s: cannot read\n", argv[1]);
        return 1;
    }
    WaveFile w;
    if (const char* problem = parse(bytes, w)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], problem);
        return 1;
    }
    const uint64_t present = w.samples[0].size();
    std::printf("%s: %s, %u channels, %u Hz, %u bits, %llu frames (%.3f s)\n", argv[1],
                std::memcmp(bytes.data(), "RF64", 4) == 0 ? "RF64" : "RIFF", w.channels, w.rate, w.bits,
                static_cast<unsigned long long>(w.frames), w.rate ? static_cast<double>(w.frames) / w.rate : 0.0);
    if (present != w.frames)
        std::printf("  the file holds %llu frames, not %llu\n", static_cast<unsigned long long>(present),
                    static_cast<unsigned long long>(w.frames));
    for (uint16_t c = 0; c < w.channels; ++c) {
        double freq = 0, amplitude = 0;
        if (w.channels == 2)
            std::printf("  %s", c == 0 ? "left:  " : "right: ");
        else
            std::printf("  channel %u: ", c);
        if (tone(w.samples[c], w.rate, freq, amplitude) && amplitude > 1e-6)
            std::printf("tone %.2f Hz at %.2f dBFS\n", freq, 20 * std::log10(amplitude));
        else
            std::printf("no tone\n");
    }
    return present == w.frames ? 0 : 1;
}
