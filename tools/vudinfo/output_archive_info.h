// vudinfo's view of output archives ("VUDMP3"): listing, verification and
// extraction of the MP3 streams.
#pragma once

#include <cstdint>

// Lists the archive at path on standard output. With verify, checks every
// invariant of the format and that every stream is whole, valid MP3 frames.
// With extractDir (may be null), writes each stream as an .mp3 file there.
// 0 when the archive is valid (and extraction worked), 1 otherwise; a reason
// is printed on standard error.
int32_t describeOutputArchive(const char* path, bool verify, const char* extractDir);

// One MPEG audio layer III frame header, as vudinfo checks streams.
struct Mp3FrameHeader {
    int32_t version;  // 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5
    int32_t bitRateKbps;
    int32_t sampleRate;
    int32_t channels;
    int32_t samplesPerFrame;
    int32_t frameLength;  // bytes, header and padding included
    bool padded;
    bool crcProtected;
};

// false unless the four bytes open a valid layer III frame with a listed bit
// rate (free format is not accepted) and a listed sample rate.
bool parseMp3FrameHeader(const uint8_t bytes[4], Mp3FrameHeader* header);

struct Mp3StreamSummary {
    int64_t frameCount;
    int64_t sampleCount;  // per channel, before any encoder delay is removed
    int32_t sampleRate;
    int64_t badOffset;  // where the stream stops being whole frames, or -1
};

// Walks stream as back-to-back frames that all share one version, sample rate
// and channel count, and end exactly at the stream's end. An empty stream is
// whole (no frames). true when the stream is whole.
bool checkMp3Stream(const uint8_t* stream, uint64_t size, Mp3StreamSummary* summary);
