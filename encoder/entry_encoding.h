// Encoding one decoded entry into an MP3 stream appended to the output, and
// the table of selectable bit rates.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

constexpr int32_t BitRateRowCount = 14;
constexpr int32_t InitialBitRateSelection = 3;  // 32 kbit/s
constexpr uint32_t EncoderOutputRate = 22050;

struct BitRateRow {
    const char* text;  // as listed in the dialog
    int32_t kbps;
};

extern const BitRateRow BitRateTable[BitRateRowCount];

// Row of BitRateTable; written by the dialog while no run is active.
extern std::atomic<int32_t> bitRateSelection;

// Bytes of MP3 appended to stream, or -1 when the library refused to start
// or the stream could not be written.
int32_t encodeEntry(const char* label, std::FILE* stream, int32_t sampleRate, const void* pcm,
                    uint32_t byteCount, int32_t bitRate);
