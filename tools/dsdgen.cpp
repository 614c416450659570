// dsdgen: writes DSDIFF, WSD and DSF test files: tones through a delta-sigma
// modulator, constant or random bytes, and on request headers with any
// field bent out of shape. It assembles the files itself, byte by byte,
// so that it can write what a correct writer never would.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dstenc.h"
#include "modulator.h"

namespace {

constexpr int kMaxChannels = 10;
constexpr int kUsageStatus = 2;
constexpr int kIoStatus = 1;

const char kUsage[] =
    "usage: dsdgen [options] OUTPUT\n"
    "Writes a DSDIFF (.dff), WSD (.wsd) or DSF (.dsf) test file.\n"
    "\n"
    "Sound:\n"
    "  --format=dff|wsd|dsf  default: by OUTPUT's extension \".wsd\" or \".dsf\", else dff\n"
    "  --rate=HZ             sampling rate written to the header (default 2822400)\n"
    "  --channels=N          1..10 channels of sound data (default 2)\n"
    "  --seconds=S           length; bytes per channel = floor(S * rate / 8) (default 1.0)\n"
    "  --bytes=N             bytes per channel instead of --seconds (0 allowed)\n"
    "  --ids=A,B,...         channel identifiers, up to 4 bytes each, NUL padded;\n"
    "                        \\xNN for any byte (default SLFT,SRGT for 2 channels,\n"
    "                        else C000,C001,...)\n"
    "  --tone=CH:FREQ:AMP    sine of FREQ Hz, amplitude AMP (fraction of full scale)\n"
    "                        on channel CH (0-based or \"all\"); repeatable, tones add up\n"
    "  --const=CH:BYTE       constant byte on channel CH or all\n"
    "  --random=CH:SEED      uniformly random bytes on channel CH or all\n"
    "                        (other channels: idle pattern 0x69; a later option\n"
    "                        replaces an earlier one on the same channel)\n"
    "  --order=N             modulator order 1..9 (default 7)\n"
    "  --ntf-gain=X          modulator out-of-band gain (default 1.3)\n"
    "DSDIFF shape:\n"
    "  --no-fver  --fver-size=N  --fver-value=N\n"
    "  --no-fs  --fs-size=N\n"
    "  --no-chnl  --chnl-count=N  --chnl-size=N\n"
    "  --no-cmpr  --cmpr-type=XXXX  --cmpr-name=TEXT\n"
    "  --abss  --abss-size=N  --lsco  --lsco-size=N\n"
    "  --unknown-chunk=ID:SIZE   top-level chunk before PROP (repeatable)\n"
    "  --unknown-prop=ID:SIZE    sub-chunk at the start of PROP (repeatable)\n"
    "  --trailing-chunk=ID:SIZE  chunk after the sound data, bytes 0xFF (repeatable)\n"
    "  --form-size=N  --prop-size=N  --data-size=N\n"
    "  --sound-id=ID  --dsti  --header-only\n"
    "DST (a \"DST \" sound chunk of whole 1/75 s frames):\n"
    "  --dst[=MODE]              coded (default): every frame coded alike;\n"
    "                            mix: each frame varies every field, every\n"
    "                            seventh stored plain; mix-coded: the same\n"
    "                            without plain frames; plain: all stored plain\n"
    "  --dst-corrupt=KIND:FRAME  make frame FRAME corrupt: plain-reserved,\n"
    "                            segmented, map (3+ channels), filter-method,\n"
    "                            table-method, short-coded, coefficient,\n"
    "                            probability, reserved, cut, overrun, or huge\n"
    "                            (its DSTF larger than the DST chunk)\n"
    "  --frte-count=N  --dstc  --dst-subchunk=ID:SIZE  --dsti-after\n"
    "WSD shape:\n"
    "  --wsd-size-order=low|be64  --wsd-file-size=N  --wsd-data-offset=N\n"
    "  --wsd-channels=N  --wsd-version=N  --wsd-text-offset=N\n"
    "  --wsd-play-time=N  --wsd-assignment=N\n"
    "DSF shape (1..6 channels; the channel type follows the count, 4 channels: quad):\n"
    "  --dsf-field=NAME:VALUE    header field written as VALUE instead, NAME one of\n"
    "                            dsd_id dsd_size file_size metadata fmt_id fmt_size\n"
    "                            version format_id channel_type channels rate bits\n"
    "                            samples block reserved data_id data_size\n"
    "                            (identifiers: 4 characters); bits:8 also writes\n"
    "                            the sound most significant bit first (repeatable)\n"
    "Tags (DSDIFF, DSF):\n"
    "  --title=TEXT  --artist=TEXT  an ID3v2 tag (DSF: at the metadata offset,\n"
    "                DSDIFF: an \"ID3 \" chunk after the sound)\n"
    "  --id3-version=3|4         ID3v2.3 with UTF-16 text or ID3v2.4 with UTF-8 (default)\n"
    "  --diin=TITLE:ARTIST       DSDIFF: a DIIN chunk (DITI, DIAR) before the sound\n"
    "All:\n"
    "  --header-only             write no sound bytes (the header declares them)\n"
    "  --truncate=N              cut the finished file to N bytes\n"
    "  --help                    this text\n"
    "Numbers: decimal or 0x hex, up to 64 bits.\n";

// ---- options ---------------------------------------------------------------

enum class SourceKind { Idle, Const, Random, Tone };

struct ToneSpec {
    double freq;
    double amp;
};

struct ChannelSource {
    SourceKind kind = SourceKind::Idle;
    uint8_t value = 0x69;
    uint64_t seed = 0;
    std::vector<ToneSpec> tones;
};

struct ExtraChunk {
    std::string id;  // 4 bytes
    uint64_t size = 0;
};

template <typename T>
struct Opt {
    bool set = false;
    T value{};
};

struct Options {
    std::string output;
    std::string format;  // "dff", "wsd", "dsf" or empty for the extension's choice
    uint64_t rate = 2822400;
    int channels = 2;
    Opt<std::string> seconds;
    Opt<uint64_t> bytes;
    Opt<std::vector<std::string>> ids;
    std::vector<std::string> source_args;  // --tone/--const/--random, in order
    int order = dsdmod::kDefaultOrder;
    double ntf_gain = dsdmod::kDefaultOutOfBandGain;

    bool no_fver = false, no_fs = false, no_chnl = false, no_cmpr = false;
    Opt<uint64_t> fver_size, fver_value, fs_size, chnl_count, chnl_size;
    Opt<std::string> cmpr_type, cmpr_name;
    bool abss = false, lsco = false;
    Opt<uint64_t> abss_size, lsco_size;
    std::vector<ExtraChunk> unknown_chunks, unknown_props, trailing_chunks;
    Opt<uint64_t> form_size, prop_size, data_size;
    Opt<std::string> sound_id;
    bool dsti = false;
    Opt<std::string> dst;
    std::vector<std::pair<std::string, uint64_t>> dst_corrupt;  // kind, frame
    Opt<uint64_t> frte_count;
    bool dstc = false, dsti_after = false;
    std::vector<ExtraChunk> dst_subchunks;

    Opt<std::string> wsd_size_order;
    Opt<uint64_t> wsd_file_size, wsd_data_offset, wsd_channels, wsd_version, wsd_text_offset, wsd_play_time,
        wsd_assignment;

    std::vector<std::pair<std::string, std::string>> dsf_fields;  // name, value
    Opt<std::string> title, artist, diin_title, diin_artist;
    int id3_version = 4;

    bool header_only = false;
    Opt<uint64_t> truncate;

    std::string first_dff_option, first_wsd_option, first_dsf_option, first_tag_option;
};

Options opt;
std::vector<ChannelSource> sources;
uint64_t bytes_per_channel = 0;

[[noreturn]] void usage_error(const std::string& msg) {
    std::fprintf(stderr, "dsdgen: %s\n(dsdgen --help shows the options)\n", msg.c_str());
    std::exit(kUsageStatus);
}

FILE* out_file = nullptr;  // the output while it is being written
bool out_removable = false;  // a regular file (never remove a device)

[[noreturn]] void io_error(const std::string& msg) {
    std::fprintf(stderr, "dsdgen: %s: %s\n", msg.c_str(), std::strerror(errno));
    // A half-written file would pass for a test input: remove it.
    if (out_file) {
        std::fclose(out_file);
        if (out_removable) std::remove(opt.output.c_str());
    }
    std::exit(kIoStatus);
}

bool parse_u64(const std::string& s, uint64_t& out) {
    if (s.empty()) return false;
    size_t i = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (v > (UINT64_MAX - d) / static_cast<unsigned>(base)) return false;
        v = v * static_cast<unsigned>(base) + d;
    }
    out = v;
    return true;
}

uint64_t number(const std::string& name, const std::string& s, uint64_t max = UINT64_MAX) {
    uint64_t v;
    if (!parse_u64(s, v)) usage_error("--" + name + ": not a number: \"" + s + "\"");
    if (v > max) usage_error("--" + name + ": " + s + " is above " + std::to_string(max));
    return v;
}

double real_number(const std::string& name, const std::string& s) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || errno != 0 || !std::isfinite(v))
        usage_error("--" + name + ": not a number: \"" + s + "\"");
    return v;
}

// Byte strings on the command line: \xNN stands for any byte, \\ for a
// backslash.
std::string unescape(const std::string& name, const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        uint64_t v;
        if (i + 3 < s.size() && s[i + 1] == 'x' && parse_u64("0x" + s.substr(i + 2, 2), v)) {
            out += static_cast<char>(v);
            i += 3;
            continue;
        }
        usage_error("--" + name + ": bad escape in \"" + s + "\" (use \\xNN or \\\\)");
    }
    return out;
}

// Chunk identifiers are padded with blanks, as DSDIFF does ("FS  ").
std::string chunk_id(const std::string& name, const std::string& s) {
    std::string id = unescape(name, s);
    if (id.size() > 4) usage_error("--" + name + ": identifier longer than 4 bytes: \"" + s + "\"");
    id.resize(4, ' ');
    return id;
}

ExtraChunk extra_chunk(const std::string& name, const std::string& s) {
    size_t colon = s.rfind(':');
    if (colon == std::string::npos) usage_error("--" + name + ": expected ID:SIZE, got \"" + s + "\"");
    return {chunk_id(name, s.substr(0, colon)), number(name, s.substr(colon + 1))};
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t p = s.find(sep, start);
        parts.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) break;
        start = p + 1;
    }
    return parts;
}

void parse_args(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            if (!opt.output.empty()) usage_error("more than one output file: \"" + arg + "\"");
            if (arg == "--") {
                if (i + 1 >= argc) usage_error("no output file after --");
                arg = argv[++i];
            }
            opt.output = arg;
            continue;
        }
        size_t eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const bool has_value = eq != std::string::npos;
        const std::string val = has_value ? arg.substr(eq + 1) : std::string();
        auto flag = [&](const char* n) {
            if (name != n) return false;
            if (has_value) usage_error("--" + name + " takes no value");
            return true;
        };
        auto valued = [&](const char* n) {
            if (name != n) return false;
            if (!has_value) usage_error("--" + name + " needs a value (--" + name + "=...)");
            return true;
        };
        auto dff = [&] {
            if (opt.first_dff_option.empty()) opt.first_dff_option = "--" + name;
        };
        auto wsd = [&] {
            if (opt.first_wsd_option.empty()) opt.first_wsd_option = "--" + name;
        };
        auto dsf = [&] {
            if (opt.first_dsf_option.empty()) opt.first_dsf_option = "--" + name;
        };
        auto tag = [&] {
            if (opt.first_tag_option.empty()) opt.first_tag_option = "--" + name;
        };
        auto set = [&](Opt<uint64_t>& o, uint64_t max = UINT64_MAX) {
            o.set = true;
            o.value = number(name, val, max);
        };

        if (flag("help")) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (valued("format")) {
            if (val != "dff" && val != "wsd" && val != "dsf") usage_error("--format must be dff, wsd or dsf");
            opt.format = val;
        } else if (valued("rate")) {
            opt.rate = number(name, val, UINT32_MAX);
        } else if (valued("channels")) {
            uint64_t n = number(name, val);
            if (n < 1 || n > kMaxChannels) usage_error("--channels must be 1..10");
            opt.channels = static_cast<int>(n);
        } else if (valued("seconds")) {
            opt.seconds = {true, val};
        } else if (valued("bytes")) {
            set(opt.bytes);
        } else if (valued("ids")) {
            dff();
            opt.ids.set = true;
            opt.ids.value = split(val, ',');
        } else if (valued("tone") || valued("const") || valued("random")) {
            opt.source_args.push_back(arg);
        } else if (valued("order")) {
            uint64_t n = number(name, val);
            if (n < 1 || n > dsdmod::kMaxOrder) usage_error("--order must be 1..9");
            opt.order = static_cast<int>(n);
        } else if (valued("ntf-gain")) {
            opt.ntf_gain = real_number(name, val);
            if (!(opt.ntf_gain > 1.0)) usage_error("--ntf-gain must be above 1");
        } else if (flag("no-fver")) {
            dff();
            opt.no_fver = true;
        } else if (valued("fver-size")) {
            dff();
            set(opt.fver_size);
        } else if (valued("fver-value")) {
            dff();
            set(opt.fver_value, UINT32_MAX);
        } else if (flag("no-fs")) {
            dff();
            opt.no_fs = true;
        } else if (valued("fs-size")) {
            dff();
            set(opt.fs_size);
        } else if (flag("no-chnl")) {
            dff();
            opt.no_chnl = true;
        } else if (valued("chnl-count")) {
            dff();
            set(opt.chnl_count, UINT16_MAX);
        } else if (valued("chnl-size")) {
            dff();
            set(opt.chnl_size);
        } else if (flag("no-cmpr")) {
            dff();
            opt.no_cmpr = true;
        } else if (valued("cmpr-type")) {
            dff();
            opt.cmpr_type = {true, chunk_id(name, val)};
        } else if (valued("cmpr-name")) {
            dff();
            opt.cmpr_name = {true, unescape(name, val)};
            if (opt.cmpr_name.value.size() > 255) usage_error("--cmpr-name: longer than 255 bytes");
        } else if (flag("abss")) {
            dff();
            opt.abss = true;
        } else if (valued("abss-size")) {
            dff();
            opt.abss = true;
            set(opt.abss_size);
        } else if (flag("lsco")) {
            dff();
            opt.lsco = true;
        } else if (valued("lsco-size")) {
            dff();
            opt.lsco = true;
            set(opt.lsco_size);
        } else if (valued("unknown-chunk")) {
            dff();
            opt.unknown_chunks.push_back(extra_chunk(name, val));
        } else if (valued("unknown-prop")) {
            dff();
            opt.unknown_props.push_back(extra_chunk(name, val));
        } else if (valued("trailing-chunk")) {
            dff();
            opt.trailing_chunks.push_back(extra_chunk(name, val));
        } else if (valued("form-size")) {
            dff();
            set(opt.form_size);
        } else if (valued("prop-size")) {
            dff();
            set(opt.prop_size);
        } else if (valued("data-size")) {
            dff();
            set(opt.data_size);
        } else if (valued("sound-id")) {
            dff();
            opt.sound_id = {true, chunk_id(name, val)};
        } else if (flag("dsti")) {
            dff();
            opt.dsti = true;
        } else if (name == "dst") {
            dff();
            opt.dst = {true, has_value ? val : "coded"};
            if (opt.dst.value != "coded" && opt.dst.value != "mix" && opt.dst.value != "mix-coded" && opt.dst.value != "plain")
                usage_error("--dst: MODE must be coded, mix, mix-coded or plain");
        } else if (valued("dst-corrupt")) {
            dff();
            const size_t colon = val.rfind(':');
            dstenc::Corrupt kind;
            if (colon == std::string::npos || (val.substr(0, colon) != "huge" && !dstenc::corrupt_from_name(val.substr(0, colon).c_str(), kind)))
                usage_error("--dst-corrupt: expected KIND:FRAME, got \"" + val + "\"");
            opt.dst_corrupt.emplace_back(val.substr(0, colon), number(name, val.substr(colon + 1)));
        } else if (valued("frte-count")) {
            dff();
            set(opt.frte_count, UINT32_MAX);
        } else if (flag("dstc")) {
            dff();
            opt.dstc = true;
        } else if (flag("dsti-after")) {
            dff();
            opt.dsti_after = true;
        } else if (valued("dst-subchunk")) {
            dff();
            opt.dst_subchunks.push_back(extra_chunk(name, val));
        } else if (flag("header-only")) {
            opt.header_only = true;
        } else if (valued("wsd-size-order")) {
            wsd();
            if (val != "low" && val != "be64") usage_error("--wsd-size-order must be low or be64");
            opt.wsd_size_order = {true, val};
        } else if (valued("wsd-file-size")) {
            wsd();
            set(opt.wsd_file_size);
        } else if (valued("wsd-data-offset")) {
            wsd();
            set(opt.wsd_data_offset, UINT32_MAX);
        } else if (valued("wsd-channels")) {
            wsd();
            set(opt.wsd_channels, UINT8_MAX);
        } else if (valued("wsd-version")) {
            wsd();
            set(opt.wsd_version, UINT8_MAX);
        } else if (valued("wsd-text-offset")) {
            wsd();
            set(opt.wsd_text_offset, UINT32_MAX);
        } else if (valued("wsd-play-time")) {
            wsd();
            set(opt.wsd_play_time, UINT32_MAX);
        } else if (valued("wsd-assignment")) {
            wsd();
            set(opt.wsd_assignment, UINT32_MAX);
        } else if (valued("dsf-field")) {
            dsf();
            const size_t colon = val.find(':');
            if (colon == std::string::npos) usage_error("--dsf-field: expected NAME:VALUE, got \"" + val + "\"");
            opt.dsf_fields.emplace_back(val.substr(0, colon), val.substr(colon + 1));
        } else if (valued("title")) {
            tag();
            opt.title = {true, val};
        } else if (valued("artist")) {
            tag();
            opt.artist = {true, val};
        } else if (valued("id3-version")) {
            tag();
            if (val != "3" && val != "4") usage_error("--id3-version must be 3 or 4");
            opt.id3_version = val[0] - '0';
        } else if (valued("diin")) {
            dff();
            const size_t colon = val.find(':');
            if (colon == std::string::npos) usage_error("--diin: expected TITLE:ARTIST, got \"" + val + "\"");
            opt.diin_title = {true, val.substr(0, colon)};
            opt.diin_artist = {true, val.substr(colon + 1)};
        } else if (valued("truncate")) {
            set(opt.truncate);
        } else {
            usage_error("unknown option \"" + arg + "\"");
        }
    }
    if (opt.output.empty()) usage_error("no output file given");
}

// floor(S * rate / 8) for a decimal S, exactly (no binary rounding of S).
uint64_t bytes_from_seconds(const std::string& s, uint64_t rate) {
    unsigned __int128 num = 0, den = 1;
    bool point = false, digits = false;
    for (char c : s) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (num > (static_cast<unsigned __int128>(1) << 80)) usage_error("--seconds: too many digits");
            num = num * 10 + static_cast<unsigned>(c - '0');
            if (point) {
                if (den > (static_cast<unsigned __int128>(1) << 80)) usage_error("--seconds: too many digits");
                den *= 10;
            }
        } else {
            usage_error("--seconds: not a non-negative decimal number: \"" + s + "\"");
        }
    }
    if (!digits) usage_error("--seconds: not a non-negative decimal number: \"" + s + "\"");
    unsigned __int128 v = num * rate / (den * 8);
    if (v > UINT64_MAX) usage_error("--seconds: too long");
    return static_cast<uint64_t>(v);
}

// The channel selector of --tone/--const/--random: a number or "all".
std::vector<int> channel_list(const std::string& name, const std::string& s) {
    std::vector<int> list;
    if (s == "all") {
        for (int c = 0; c < opt.channels; ++c) list.push_back(c);
        return list;
    }
    uint64_t c = number(name, s);
    if (c >= static_cast<uint64_t>(opt.channels))
        usage_error("--" + name + ": channel " + s + " does not exist (" + std::to_string(opt.channels) +
                    " channels)");
    list.push_back(static_cast<int>(c));
    return list;
}

void resolve_sources() {
    sources.assign(static_cast<size_t>(opt.channels), ChannelSource{});
    for (const std::string& arg : opt.source_args) {
        size_t eq = arg.find('=');
        std::string name = arg.substr(2, eq - 2);
        std::vector<std::string> parts = split(arg.substr(eq + 1), ':');
        if (name == "tone") {
            if (parts.size() != 3) usage_error("--tone: expected CH:FREQ:AMP, got \"" + arg.substr(eq + 1) + "\"");
            double freq = real_number(name, parts[1]), amp = real_number(name, parts[2]);
            if (freq < 0.0) usage_error("--tone: negative frequency");
            if (amp < 0.0 || amp > 1.0) usage_error("--tone: amplitude must be 0..1");
            if (opt.rate == 0) usage_error("--tone: needs a rate above 0");
            if (freq >= static_cast<double>(opt.rate) / 2.0) usage_error("--tone: frequency must be below half the rate");
            for (int c : channel_list(name, parts[0])) {
                ChannelSource& src = sources[static_cast<size_t>(c)];
                if (src.kind != SourceKind::Tone) src = ChannelSource{SourceKind::Tone, 0, 0, {}};
                if (src.tones.size() >= static_cast<size_t>(dsdmod::kMaxTones))
                    usage_error("--tone: at most 8 tones per channel");
                src.tones.push_back({freq, amp});
            }
        } else {
            if (parts.size() != 2) usage_error("--" + name + ": expected CH:VALUE, got \"" + arg.substr(eq + 1) + "\"");
            uint64_t v = number(name, parts[1], name == "const" ? UINT8_MAX : UINT64_MAX);
            for (int c : channel_list(name, parts[0])) {
                ChannelSource& src = sources[static_cast<size_t>(c)];
                src = ChannelSource{};
                if (name == "const") {
                    src.kind = SourceKind::Const;
                    src.value = static_cast<uint8_t>(v);
                } else {
                    src.kind = SourceKind::Random;
                    src.seed = v;
                }
            }
        }
    }
}

// ---- output ----------------------------------------------------------------

struct Out {
    FILE* f = nullptr;
    uint64_t written = 0;
    uint64_t limit = UINT64_MAX;  // --truncate: nothing past it is written
};

Out out;

void out_write(const void* p, size_t n) {
    if (out.written >= out.limit) return;
    uint64_t room = out.limit - out.written;
    size_t take = n > room ? static_cast<size_t>(room) : n;
    if (take > 0 && std::fwrite(p, 1, take, out.f) != take) io_error("writing " + opt.output);
    out.written += take;
}

void out_write(const std::vector<uint8_t>& b) { out_write(b.data(), b.size()); }

void out_write_sound(const uint8_t* p, size_t n) { out_write(p, n); }

void put_be(std::vector<uint8_t>& b, uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_str(std::vector<uint8_t>& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// ---- sound data ------------------------------------------------------------

struct ChannelState {
    dsdmod::Modulator mod;
    dsdmod::ToneGen tone;
    uint64_t rng = 0;
    std::vector<double> scratch;
};

std::vector<ChannelState> states;

uint64_t splitmix64(uint64_t& s) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void prepare_channels() {
    states.assign(sources.size(), ChannelState{});
    const double rate = static_cast<double>(opt.rate);
    // The noise zeros cover 20 kHz at the usual rates; odd low rates keep
    // the same share of their band.
    const double band = std::min(dsdmod::kDefaultBandHz, rate / 141.12);
    for (size_t c = 0; c < sources.size(); ++c) {
        const ChannelSource& src = sources[c];
        ChannelState& st = states[c];
        if (src.kind == SourceKind::Tone) {
            if (!dsdmod::modulator_design(st.mod, opt.order, rate, band, opt.ntf_gain))
                usage_error("cannot design a modulator of order " + std::to_string(opt.order) + " with gain " +
                            std::to_string(opt.ntf_gain));
            for (const ToneSpec& t : src.tones) dsdmod::tone_add(st.tone, t.freq, t.amp, rate);
        } else if (src.kind == SourceKind::Random) {
            // Each channel gets its own stream: --random=all:S and
            // --random=N:S give channel N the same bytes.
            st.rng = src.seed ^ (0xD1B54A32D192ED03ull * (c + 1));
        }
    }
}

void fill_channel(size_t c, uint8_t* buf, size_t n) {
    const ChannelSource& src = sources[c];
    ChannelState& st = states[c];
    switch (src.kind) {
        case SourceKind::Idle:
            std::memset(buf, 0x69, n);
            break;
        case SourceKind::Const:
            std::memset(buf, src.value, n);
            break;
        case SourceKind::Random: {
            size_t i = 0;
            for (; i + 8 <= n; i += 8) {
                uint64_t r = splitmix64(st.rng);
                std::memcpy(buf + i, &r, 8);
            }
            if (i < n) {
                uint64_t r = splitmix64(st.rng);
                std::memcpy(buf + i, &r, n - i);
            }
            break;
        }
        case SourceKind::Tone: {
            constexpr size_t kPiece = 4096;  // bytes modulated per tone block
            st.scratch.resize(kPiece * 8);
            for (size_t i = 0; i < n; i += kPiece) {
                size_t len = std::min(kPiece, n - i);
                dsdmod::tone_fill(st.tone, st.scratch.data(), len * 8);
                dsdmod::modulator_run(st.mod, st.scratch.data(), buf + i, len);
            }
            break;
        }
    }
}

// DSF stores blocks of 4096 bytes per channel, the first sample of a byte in
// its least significant bit unless the header says 8 bits per sample.
constexpr size_t kDsfBlock = 4096;
bool dsf_out = false, dsf_msb_first = false;

uint8_t reversed(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i & 1) << (7 - i)));
    return r;
}

// Channel after channel, one block each, the last block padded with zeros.
void write_dsf_blocks(const std::vector<std::vector<uint8_t>>& chan, size_t n) {
    std::vector<uint8_t> block(kDsfBlock);
    for (size_t at = 0; at < n; at += kDsfBlock) {
        for (const std::vector<uint8_t>& c : chan) {
            std::fill(block.begin(), block.end(), 0);
            for (size_t i = 0; i < std::min(kDsfBlock, n - at); ++i)
                block[i] = dsf_msb_first ? c[at + i] : reversed(c[at + i]);
            out_write(block.data(), block.size());
        }
    }
}

// The sound, block by block, to `sink` (interleaved bytes).
void make_sound(void (*sink)(const uint8_t*, size_t)) {
    const size_t ch = sources.size();
    // Whole DSF blocks per piece, and the same pieces for every format, so
    // that all three carry the same sound.
    const size_t frames_per_block = std::max<size_t>(kDsfBlock, (size_t{4} << 20) / ch / kDsfBlock * kDsfBlock);
    std::vector<std::vector<uint8_t>> chan(ch);
    std::vector<uint8_t> inter(ch > 1 ? frames_per_block * ch : 0);
    uint64_t left = bytes_per_channel;
    while (left > 0 && (sink != out_write_sound || out.written < out.limit)) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, frames_per_block));
        std::vector<std::thread> workers;
        for (size_t c = 0; c < ch; ++c) {
            chan[c].resize(n);
            // Tones are the slow part: one thread per tone channel.
            if (sources[c].kind == SourceKind::Tone && ch > 1)
                workers.emplace_back(fill_channel, c, chan[c].data(), n);
            else
                fill_channel(c, chan[c].data(), n);
        }
        for (auto& w : workers) w.join();
        if (dsf_out) {
            write_dsf_blocks(chan, n);
        } else if (ch == 1) {
            sink(chan[0].data(), n);
        } else {
            for (size_t c = 0; c < ch; ++c) {
                const uint8_t* src = chan[c].data();
                uint8_t* dst = inter.data() + c;
                for (size_t i = 0; i < n; ++i) dst[i * ch] = src[i];
            }
            sink(inter.data(), n * ch);
        }
        left -= n;
    }
}

// ---- ID3v2 tag -------------------------------------------------------------

// A 28-bit size in four bytes of 7 bits.
void put_syncsafe(std::vector<uint8_t>& b, uint64_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (7 * i) & 0x7F));
}

// UTF-8 text as UTF-16, little-endian after a byte order mark.
std::vector<uint8_t> utf16(const std::string& s) {
    std::vector<uint8_t> out = {0xFF, 0xFE};
    for (size_t i = 0; i < s.size();) {
        const uint8_t c = static_cast<uint8_t>(s[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t cp = extra ? c & (0x3F >> extra) : c;
        for (int k = 1; k <= extra && i + static_cast<size_t>(k) < s.size(); ++k)
            cp = cp << 6 | (static_cast<uint8_t>(s[i + static_cast<size_t>(k)]) & 0x3F);
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            for (uint32_t unit : {0xD800 + (cp >> 10), 0xDC00 + (cp & 0x3FF)}) out.insert(out.end(), {uint8_t(unit), uint8_t(unit >> 8)});
        } else {
            out.insert(out.end(), {static_cast<uint8_t>(cp), static_cast<uint8_t>(cp >> 8)});
        }
    }
    return out;
}

// Title (TIT2) and artist (TPE1): ID3v2.4 with UTF-8 text and sizes of 7-bit
// bytes, or ID3v2.3 with UTF-16 text and plain big-endian frame sizes.
std::vector<uint8_t> id3_tag() {
    std::vector<uint8_t> frames;
    for (const auto& [id, text] : {std::pair{"TIT2", opt.title}, std::pair{"TPE1", opt.artist}}) {
        if (!text.set) continue;
        std::vector<uint8_t> body = {static_cast<uint8_t>(opt.id3_version == 4 ? 3 : 1)};
        if (opt.id3_version == 4) put_str(body, text.value);
        else for (uint8_t b : utf16(text.value)) body.push_back(b);
        put_str(frames, id);
        if (opt.id3_version == 4) put_syncsafe(frames, body.size());
        else put_be(frames, body.size(), 4);
        put_be(frames, 0, 2);
        frames.insert(frames.end(), body.begin(), body.end());
    }
    std::vector<uint8_t> tag = {'I', 'D', '3', static_cast<uint8_t>(opt.id3_version), 0, 0};
    put_syncsafe(tag, frames.size());
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

// ---- DST -------------------------------------------------------------------

void add_chunk(std::vector<uint8_t>& b, const std::string& id, const std::vector<uint8_t>& body,
               const Opt<uint64_t>& declared = {});
std::vector<uint8_t> filler(uint64_t size, bool trailing);

std::vector<uint8_t> dst_sound;  // the whole sound, interleaved
std::vector<uint8_t> dst_chunk;  // body of the "DST " sound chunk
std::vector<uint64_t> dstf_offsets;  // of each DSTF chunk within dst_chunk
std::vector<uint64_t> dstf_sizes;

void keep_sound(const uint8_t* p, size_t n) { dst_sound.insert(dst_sound.end(), p, p + n); }

uint32_t dst_frame_bits() {
    if (opt.rate == 0 || opt.rate % 600 != 0 || opt.rate / 75 > 150528) usage_error("--dst: the rate must be a multiple of 600 Hz up to 11289600");
    return static_cast<uint32_t>(opt.rate / 75);
}

// Codes the sound into frames (on every core; frames are independent) and
// assembles the sound chunk: FRTE, extra sub-chunks, then DSTF (and DSTC)
// per frame.
void build_dst_chunk() {
    const uint32_t bits = dst_frame_bits();
    const int ch = opt.channels;
    const size_t frame_bytes = bits / 8 * static_cast<size_t>(ch);
    const uint64_t frames = bytes_per_channel / (bits / 8);
    bytes_per_channel = frames * (bits / 8);
    for (const auto& [kind, frame] : opt.dst_corrupt) {
        if (frame >= frames) usage_error("--dst-corrupt: no frame " + std::to_string(frame));
        if (kind == "map" && ch < 3) usage_error("--dst-corrupt=map needs 3 or more channels");
    }
    make_sound(keep_sound);
    const std::vector<dstenc::Filter> filters = dstenc::design_filters(dst_sound.data(), ch, bytes_per_channel);
    std::vector<std::vector<uint8_t>> coded(static_cast<size_t>(frames));
    auto work = [&](uint64_t first, uint64_t step) {
        for (uint64_t f = first; f < frames; f += step) {
            const std::string& mode = opt.dst.value;
            dstenc::Choice choice;
            if (mode == "mix" || mode == "mix-coded") choice = dstenc::mixed_choice(f, ch, mode == "mix-coded");
            choice.plain = choice.plain || mode == "plain";
            dstenc::Corrupt corrupt = dstenc::Corrupt::None;
            for (const auto& [kind, frame] : opt.dst_corrupt)
                if (frame == f && kind != "huge") dstenc::corrupt_from_name(kind.c_str(), corrupt);
            coded[f] = dstenc::encode_frame(dst_sound.data() + f * frame_bytes, ch, bits, filters, choice, corrupt);
        }
    };
    const unsigned workers = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work, w, workers);
    work(0, workers);
    for (auto& t : threads) t.join();

    std::vector<uint8_t>& b = dst_chunk;
    put_str(b, "FRTE");
    put_be(b, 6, 8);
    put_be(b, opt.frte_count.set ? opt.frte_count.value : frames, 4);
    put_be(b, 75, 2);
    for (const ExtraChunk& e : opt.dst_subchunks) add_chunk(b, e.id, filler(e.size, false));
    for (uint64_t f = 0; f < frames; ++f) {
        Opt<uint64_t> declared;
        for (const auto& [kind, frame] : opt.dst_corrupt)
            if (frame == f && kind == "huge") declared = {true, coded[f].size() + (uint64_t{1} << 32)};
        dstf_offsets.push_back(b.size());
        dstf_sizes.push_back(coded[f].size());
        add_chunk(b, "DSTF", coded[f], declared);
        if (opt.dstc) add_chunk(b, "DSTC", std::vector<uint8_t>(4, 0));
    }
    dst_sound.clear();
    dst_sound.shrink_to_fit();
}

// ---- DSDIFF ----------------------------------------------------------------

// A chunk with its 12-byte header; the declared size may differ from the
// body's length on request. Odd bodies get their pad byte.
void add_chunk(std::vector<uint8_t>& b, const std::string& id, const std::vector<uint8_t>& body,
               const Opt<uint64_t>& declared) {
    put_str(b, id);
    put_be(b, declared.set ? declared.value : body.size(), 8);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1u) b.push_back(0);
}

std::vector<uint8_t> filler(uint64_t size, bool trailing) {
    if (size > (uint64_t{256} << 20)) usage_error("extra chunks are limited to 256 MiB");
    std::vector<uint8_t> body(static_cast<size_t>(size));
    for (size_t i = 0; i < body.size(); ++i) body[i] = trailing ? 0xFF : static_cast<uint8_t>(i);
    return body;
}

std::vector<std::string> channel_ids(size_t count) {
    std::vector<std::string> ids;
    for (size_t i = 0; i < count; ++i) {
        std::string id;
        if (opt.ids.set && i < opt.ids.value.size()) {
            id = unescape("ids", opt.ids.value[i]);
            if (id.size() > 4) usage_error("--ids: identifier longer than 4 bytes: \"" + opt.ids.value[i] + "\"");
        } else if (count == 2) {
            id = i == 0 ? "SLFT" : "SRGT";
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "C%03zu", i % 1000);
            id = buf;
        }
        id.resize(4, '\0');
        ids.push_back(id);
    }
    return ids;
}

// The file around the sound data: header before it, pad byte and extra
// chunks after it.
struct Layout {
    std::vector<uint8_t> head;
    bool pad = false;  // a zero byte right after the sound data
    std::vector<uint8_t> tail;
    uint64_t data_bytes = 0;
};

Layout dsdiff_layout() {
    Layout l;
    const uint64_t channels = static_cast<uint64_t>(opt.channels);
    if (bytes_per_channel > UINT64_MAX / channels) usage_error("sound data longer than 2^64 bytes");
    l.data_bytes = opt.dst.set ? dst_chunk.size() : bytes_per_channel * channels;
    const uint64_t declared_count = opt.chnl_count.set ? opt.chnl_count.value : channels;
    if (opt.ids.set && !opt.chnl_count.set && opt.ids.value.size() != channels)
        usage_error("--ids: " + std::to_string(opt.ids.value.size()) + " identifiers for " +
                    std::to_string(channels) + " channels");

    std::vector<uint8_t>& head = l.head;
    put_str(head, "FRM8");
    put_be(head, 0, 8);  // form size, patched below
    put_str(head, "DSD ");

    if (!opt.no_fver) {
        std::vector<uint8_t> body;
        put_be(body, opt.fver_value.set ? opt.fver_value.value : 0x01050000, 4);
        add_chunk(head, "FVER", body, opt.fver_size);
    }
    for (const ExtraChunk& e : opt.unknown_chunks) add_chunk(head, e.id, filler(e.size, false));

    std::vector<uint8_t> prop;
    put_str(prop, "SND ");
    for (const ExtraChunk& e : opt.unknown_props) add_chunk(prop, e.id, filler(e.size, false));
    if (!opt.no_fs) {
        std::vector<uint8_t> body;
        put_be(body, opt.rate, 4);
        add_chunk(prop, "FS  ", body, opt.fs_size);
    }
    if (!opt.no_chnl) {
        std::vector<uint8_t> body;
        put_be(body, declared_count, 2);
        for (const std::string& id : channel_ids(static_cast<size_t>(declared_count))) put_str(body, id);
        add_chunk(prop, "CHNL", body, opt.chnl_size);
    }
    if (!opt.no_cmpr) {
        // Count byte plus name are padded to an even length inside the
        // sub-chunk, and the size includes that pad.
        const std::string name = opt.cmpr_name.set ? opt.cmpr_name.value : opt.dst.set ? "DST Encoded" : "not compressed";
        std::vector<uint8_t> body;
        put_str(body, opt.cmpr_type.set ? opt.cmpr_type.value : opt.dst.set ? "DST " : "DSD ");
        body.push_back(static_cast<uint8_t>(name.size()));
        put_str(body, name);
        if (name.size() % 2 == 0) body.push_back(0);
        add_chunk(prop, "CMPR", body);
    }
    if (opt.abss) add_chunk(prop, "ABSS", std::vector<uint8_t>(8, 0), opt.abss_size);
    if (opt.lsco) add_chunk(prop, "LSCO", std::vector<uint8_t>(2, 0), opt.lsco_size);
    put_str(head, "PROP");
    put_be(head, opt.prop_size.set ? opt.prop_size.value : prop.size(), 8);
    head.insert(head.end(), prop.begin(), prop.end());

    if (opt.diin_title.set) {
        // Disc information: title and artist, each a 32-bit count and the text.
        std::vector<uint8_t> diti, diar, diin;
        put_be(diti, opt.diin_title.value.size(), 4);
        put_str(diti, opt.diin_title.value);
        put_be(diar, opt.diin_artist.value.size(), 4);
        put_str(diar, opt.diin_artist.value);
        add_chunk(diin, "DITI", diti);
        add_chunk(diin, "DIAR", diar);
        add_chunk(head, "DIIN", diin);
    }
    if (opt.dsti) add_chunk(head, "DSTI", std::vector<uint8_t>(12, 0));

    put_str(head, opt.sound_id.set ? opt.sound_id.value : opt.dst.set ? "DST " : "DSD ");
    put_be(head, opt.data_size.set ? opt.data_size.value : l.data_bytes, 8);

    // Chunks after the sound data need it padded to an even length.
    if (opt.title.set || opt.artist.set) add_chunk(l.tail, "ID3 ", id3_tag());
    if (opt.dsti_after) {
        // The frame index: where each DSTF chunk starts in the file, and its length.
        std::vector<uint8_t> index;
        for (size_t f = 0; f < dstf_offsets.size(); ++f) {
            put_be(index, head.size() + dstf_offsets[f], 8);
            put_be(index, dstf_sizes[f], 4);
        }
        add_chunk(l.tail, "DSTI", index);
    }
    for (const ExtraChunk& e : opt.trailing_chunks) add_chunk(l.tail, e.id, filler(e.size, true));
    l.pad = (l.data_bytes & 1u) && !l.tail.empty();

    // The form size counts the sound data even when --header-only leaves
    // it out: the header describes the whole file.
    unsigned __int128 form = static_cast<unsigned __int128>(head.size() - 12) + l.data_bytes + (l.pad ? 1 : 0) +
                             l.tail.size();
    if (form > UINT64_MAX && !opt.form_size.set) usage_error("form size above 2^64");
    uint64_t form_size = opt.form_size.set ? opt.form_size.value : static_cast<uint64_t>(form);
    for (int i = 0; i < 8; ++i) head[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(form_size >> (8 * (7 - i)));
    return l;
}

// ---- DSF -------------------------------------------------------------------

// Header fields by name: offset, width (0: a 4-character identifier).
struct DsfField {
    const char* name;
    int offset, width;
};
constexpr DsfField kDsfFields[] = {
    {"dsd_id", 0, 0},     {"dsd_size", 4, 8},      {"file_size", 12, 8}, {"metadata", 20, 8}, {"fmt_id", 28, 0},
    {"fmt_size", 32, 8},  {"version", 40, 4},      {"format_id", 44, 4}, {"channel_type", 48, 4},
    {"channels", 52, 4},  {"rate", 56, 4},         {"bits", 60, 4},      {"samples", 64, 8},  {"block", 72, 4},
    {"reserved", 76, 4},  {"data_id", 80, 0},      {"data_size", 84, 8},
};

void put_le_at(std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

Layout dsf_layout() {
    Layout l;
    const uint64_t channels = static_cast<uint64_t>(opt.channels);
    // The channel type of each count; 4 channels are quad. Beyond 6 there is
    // none (type 0).
    constexpr uint32_t kTypes[11] = {0, 1, 2, 3, 4, 6, 7, 0, 0, 0, 0};
    const uint64_t blocks = (bytes_per_channel + kDsfBlock - 1) / kDsfBlock;
    if (blocks > UINT64_MAX / kDsfBlock / channels - 1) usage_error("sound data longer than 2^64 bytes");
    l.data_bytes = blocks * kDsfBlock * channels;
    if (opt.title.set || opt.artist.set) l.tail = id3_tag();
    std::vector<uint8_t>& h = l.head;
    h.assign(92, 0);
    std::memcpy(h.data(), "DSD ", 4);
    std::memcpy(h.data() + 28, "fmt ", 4);
    std::memcpy(h.data() + 80, "data", 4);
    put_le_at(h, 4, 28, 8);
    put_le_at(h, 12, 92 + l.data_bytes + l.tail.size(), 8);
    put_le_at(h, 20, l.tail.empty() ? 0 : 92 + l.data_bytes, 8);
    put_le_at(h, 32, 52, 8);
    put_le_at(h, 40, 1, 4);
    put_le_at(h, 48, kTypes[channels], 4);
    put_le_at(h, 52, channels, 4);
    put_le_at(h, 56, opt.rate, 4);
    put_le_at(h, 60, 1, 4);
    put_le_at(h, 64, bytes_per_channel * 8, 8);
    put_le_at(h, 72, kDsfBlock, 4);
    put_le_at(h, 84, 12 + l.data_bytes, 8);
    for (const auto& field : opt.dsf_fields) {
        const std::string &name = field.first, &value = field.second;
        const DsfField* f = std::find_if(std::begin(kDsfFields), std::end(kDsfFields),
                                         [&](const DsfField& d) { return name == d.name; });
        if (f == std::end(kDsfFields)) usage_error("--dsf-field: no field \"" + name + "\"");
        if (f->width == 0) {
            const std::string id = chunk_id("dsf-field", value);
            std::memcpy(h.data() + f->offset, id.data(), 4);
        } else {
            put_le_at(h, static_cast<size_t>(f->offset),
                      number("dsf-field", value, f->width == 4 ? UINT32_MAX : UINT64_MAX), f->width);
            if (name == "bits") dsf_msb_first = number("dsf-field", value) == 8;
        }
    }
    dsf_out = true;
    return l;
}

// ---- WSD -------------------------------------------------------------------

Layout wsd_layout() {
    Layout l;
    const uint64_t channels = static_cast<uint64_t>(opt.channels);
    if (bytes_per_channel > (UINT64_MAX - 2048) / channels) usage_error("sound data longer than 2^64 bytes");
    l.data_bytes = bytes_per_channel * channels;
    const uint64_t file_size = opt.wsd_file_size.set ? opt.wsd_file_size.value : 2048 + l.data_bytes;

    std::vector<uint8_t>& h = l.head;
    put_str(h, "1bit");
    put_be(h, 0, 4);
    h.push_back(static_cast<uint8_t>(opt.wsd_version.set ? opt.wsd_version.value : 0x11));
    put_be(h, 0, 3);
    if (opt.wsd_size_order.set && opt.wsd_size_order.value == "be64") {
        put_be(h, file_size, 8);
    } else {
        // Two big-endian halves, the low one first.
        put_be(h, file_size & 0xFFFFFFFFu, 4);
        put_be(h, file_size >> 32, 4);
    }
    put_be(h, opt.wsd_text_offset.set ? opt.wsd_text_offset.value : 128, 4);
    put_be(h, opt.wsd_data_offset.set ? opt.wsd_data_offset.value : 2048, 4);
    put_be(h, 0, 4);
    put_be(h, opt.wsd_play_time.set ? opt.wsd_play_time.value : 0, 4);
    put_be(h, opt.rate, 4);
    put_be(h, 0, 4);
    h.push_back(static_cast<uint8_t>(opt.wsd_channels.set ? opt.wsd_channels.value : channels));
    put_be(h, 0, 3);
    put_be(h, opt.wsd_assignment.set ? opt.wsd_assignment.value : (channels == 2 ? 0x44000000 : 0), 4);
    h.resize(2048, 0);  // the rest of the header and the text area stay empty
    return l;
}

// "wsd" or "dsf" by the name's extension, in any case; else "dff".
std::string format_of(const std::string& s) {
    if (s.size() < 4) return "dff";
    std::string ext = s.substr(s.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".wsd" ? "wsd" : ext == ".dsf" ? "dsf" : "dff";
}

}  // namespace

int main(int argc, char** argv) {
    parse_args(argc, argv);
    const std::string format = opt.format.empty() ? format_of(opt.output) : opt.format;
    if (format != "dff" && !opt.first_dff_option.empty()) usage_error(opt.first_dff_option + " applies to DSDIFF files only");
    if (format != "wsd" && !opt.first_wsd_option.empty()) usage_error(opt.first_wsd_option + " applies to WSD files only");
    if (format != "dsf" && !opt.first_dsf_option.empty()) usage_error(opt.first_dsf_option + " applies to DSF files only");
    if (format == "wsd" && !opt.first_tag_option.empty()) usage_error(opt.first_tag_option + " applies to DSDIFF and DSF files only");
    if (opt.seconds.set && opt.bytes.set) usage_error("give --seconds or --bytes, not both");
    bytes_per_channel =
        opt.bytes.set ? opt.bytes.value : bytes_from_seconds(opt.seconds.set ? opt.seconds.value : "1.0", opt.rate);
    resolve_sources();
    prepare_channels();
    if (opt.dst.set) {
        if (format != "dff") usage_error("--dst applies to DSDIFF files only");
        build_dst_chunk();
    } else if (!opt.dst_corrupt.empty() || opt.frte_count.set || opt.dstc || opt.dsti_after || !opt.dst_subchunks.empty()) {
        usage_error("the DST options need --dst");
    }
    const Layout l = format == "wsd" ? wsd_layout() : format == "dsf" ? dsf_layout() : dsdiff_layout();

    // Everything is checked before the output is created.
    const unsigned __int128 total = static_cast<unsigned __int128>(l.head.size()) +
                                    (opt.header_only ? 0 : static_cast<unsigned __int128>(l.data_bytes) + l.pad) +
                                    l.tail.size();
    if (opt.truncate.set) {
        if (opt.truncate.value > total) usage_error("--truncate is beyond the end of the file");
        out.limit = opt.truncate.value;
    }
    out.f = std::fopen(opt.output.c_str(), "wb");
    if (!out.f) io_error("cannot create " + opt.output);
    out_file = out.f;
    struct stat st;
    out_removable = fstat(fileno(out.f), &st) == 0 && S_ISREG(st.st_mode);
    out_write(l.head);
    if (opt.dst.set && !opt.header_only) {
        out_write(dst_chunk);
        const uint8_t zero = 0;
        if (l.pad) out_write(&zero, 1);
    } else if (!opt.header_only) {
        make_sound(out_write_sound);
        const uint8_t zero = 0;
        if (l.pad) out_write(&zero, 1);
    }
    out_write(l.tail);
    out_file = nullptr;
    if (std::fclose(out.f) != 0) {
        int e = errno;
        if (out_removable) std::remove(opt.output.c_str());
        errno = e;
        io_error("closing " + opt.output);
    }
    return 0;
}
