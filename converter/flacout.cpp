#include "flacout.h"

#if SIGMELT_FLAC
#include <sys/types.h>

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

namespace {

FLAC__StreamEncoder* encoder = nullptr;
FLAC__StreamMetadata* comment_block = nullptr;  // kept until the encoder is done
FILE* out = nullptr;
uint32_t sample_bytes = 2;

// The samples of one call, converted for the encoder in pieces.
constexpr size_t PIECE_FRAMES = 4096;
FLAC__int32 piece[2 * PIECE_FRAMES];

FLAC__StreamEncoderWriteStatus write_bytes(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                           uint32_t, uint32_t, void*) {
    return std::fwrite(buffer, 1, bytes, out) == bytes ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
                                                        : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus seek_to(const FLAC__StreamEncoder*, FLAC__uint64 offset, void*) {
    return fseeko(out, static_cast<off_t>(offset), SEEK_SET) == 0 ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                                                  : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus tell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void*) {
    const off_t at = ftello(out);
    if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(at);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

}  // namespace

bool flacout_available() { return true; }

bool flacout_begin(FILE* f, uint32_t rate, uint32_t bits, const std::vector<std::string>& comments) {
    out = f;
    sample_bytes = bits / 8;
    encoder = FLAC__stream_encoder_new();
    if (encoder == nullptr) return false;
    if (!comments.empty()) {
        comment_block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
        if (comment_block == nullptr) return false;
        for (const std::string& c : comments) {
            FLAC__StreamMetadata_VorbisComment_Entry entry{
                static_cast<FLAC__uint32>(c.size()), reinterpret_cast<FLAC__byte*>(const_cast<char*>(c.data()))};
            if (!FLAC__metadata_object_vorbiscomment_append_comment(comment_block, entry, true)) return false;
        }
        if (!FLAC__stream_encoder_set_metadata(encoder, &comment_block, 1)) return false;
    }
    const bool set = FLAC__stream_encoder_set_channels(encoder, 2) &&
                     FLAC__stream_encoder_set_bits_per_sample(encoder, bits) &&
                     FLAC__stream_encoder_set_sample_rate(encoder, rate) &&
                     FLAC__stream_encoder_set_compression_level(encoder, 5);
    return set && FLAC__stream_encoder_init_stream(encoder, write_bytes, seek_to, tell, nullptr, nullptr) ==
                      FLAC__STREAM_ENCODER_INIT_STATUS_OK;
}

bool flacout_write(const uint8_t* bytes, size_t n) {
    const size_t frame_bytes = 2 * sample_bytes;
    for (size_t frames = n / frame_bytes; frames > 0;) {
        const size_t k = frames < PIECE_FRAMES ? frames : PIECE_FRAMES;
        for (size_t i = 0; i < 2 * k; ++i, bytes += sample_bytes) {
            // Little-endian, sign-extended from the top byte.
            uint32_t v = 0;
            for (uint32_t b = 0; b < sample_bytes; ++b) v |= static_cast<uint32_t>(bytes[b]) << (8 * b);
            const uint32_t shift = 32 - 8 * sample_bytes;
            piece[i] = static_cast<FLAC__int32>(v << shift) >> shift;
        }
        if (!FLAC__stream_encoder_process_interleaved(encoder, piece, static_cast<uint32_t>(k))) return false;
        frames -= k;
    }
    return true;
}

bool flacout_end() {
    if (encoder == nullptr) return false;
    const bool ok = FLAC__stream_encoder_finish(encoder) != 0;
    FLAC__stream_encoder_delete(encoder);
    encoder = nullptr;
    if (comment_block != nullptr) FLAC__metadata_object_delete(comment_block);
    comment_block = nullptr;
    return ok;
}
#else
bool flacout_available() { return false; }
bool flacout_begin(FILE*, uint32_t, uint32_t, const std::vector<std::string>&) { return false; }
bool flacout_write(const uint8_t*, size_t) { return false; }
bool flacout_end() { return false; }
#endif
