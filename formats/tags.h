// Tags of a source, carried into the converter's wave file: a DSF file's
// ID3v2 tag, a DSDIFF file's "ID3 " chunk (common in rips) or, without one,
// the title and artist of its "DIIN" chunk. In the wave file they follow
// the sound as an "id3 " chunk (the ID3v2 bytes as they are) and a
// "LIST"/"INFO" chunk (INAM title, IART artist, IPRD album, ICRD year).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Larger tags (pictures, mostly) are left behind.
constexpr uint64_t TAG_MAX_BYTES = uint64_t{16} << 20;

struct Tags {
    std::vector<uint8_t> id3;  // the whole ID3v2 tag, empty when there is none
    std::string title, artist, album, year;  // UTF-8
};

// Reads the ID3v2 tag at `offset` of f into t, with its text fields. False,
// t untouched, when there is no whole, readable tag there. Moves the stream.
bool readId3Tag(FILE* f, uint64_t offset, Tags* t);

// Walks the chunks of the DSDIFF file f for an "ID3 " chunk, or failing
// that a "DIIN" chunk's title and artist, into t. A chunk that does not add
// up ends the walk with what was found. Moves the stream.
void readDsdiffTags(FILE* f, Tags* t);

// The wave chunks that carry t, empty when t holds nothing.
std::vector<uint8_t> waveTagChunks(const Tags& t);
