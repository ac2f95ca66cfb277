// What the program and an encoder helper say to each other over the helper's
// pipes. Every message starts with a fixed-size little-endian header; the
// receiver checks the header's magic and every size before it reads on.
//
//   program -> helper  Hello    magic, path length, then the library's path
//   helper -> program  Ready    magic, the library's version number (0: the
//                               helper could not load it)
//   program -> helper  Entry    magic, sample rate, bit rate, PCM byte count,
//                               then the PCM bytes
//   helper -> program  Stream   magic, stream size (-1: the entry failed),
//                               whether the label step was reached, then the
//                               stream's bytes
//
// The helper serves Entry messages one at a time until its input ends.
#pragma once

#include <cstdint>

constexpr uint32_t HelloMagic = 0x4f4c4548;   // "HELO"
constexpr uint32_t ReadyMagic = 0x59444552;   // "REDY"
constexpr uint32_t EntryMagic = 0x52544e45;   // "ENTR"
constexpr uint32_t StreamMagic = 0x4d525453;  // "STRM"

constexpr int32_t HelloHeaderSize = 8;
constexpr int32_t ReadyHeaderSize = 8;
constexpr int32_t EntryHeaderSize = 16;
constexpr int32_t StreamHeaderSize = 12;
// A library path longer than this is refused by both sides.
constexpr uint32_t HelloPathLimit = 4096;

struct HelloHeader {
    uint32_t pathLength;
};

struct ReadyHeader {
    int32_t versionNumber;
};

struct EntryHeader {
    int32_t sampleRate;
    int32_t bitRate;
    uint32_t pcmByteCount;
};

struct StreamHeader {
    int32_t streamSize;  // bytes that follow; -1 when the entry failed
    bool labelReached;   // the encoding got as far as showing the entry's label
};

void packHelloHeader(const HelloHeader& header, uint8_t* bytes);
void packReadyHeader(const ReadyHeader& header, uint8_t* bytes);
void packEntryHeader(const EntryHeader& header, uint8_t* bytes);
void packStreamHeader(const StreamHeader& header, uint8_t* bytes);

// false when the magic is not the message's or a field is out of range.
bool unpackHelloHeader(const uint8_t* bytes, HelloHeader* header);
bool unpackReadyHeader(const uint8_t* bytes, ReadyHeader* header);
bool unpackEntryHeader(const uint8_t* bytes, EntryHeader* header);
bool unpackStreamHeader(const uint8_t* bytes, StreamHeader* header);
