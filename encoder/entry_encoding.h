// Encoding one decoded entry into an MP3 stream appended to the output, and
// the table of selectable bit rates.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iterator>

constexpr uint32_t EncoderOutputRate = 22050;

struct BitRateRow {
    const char* text;  // as listed in the dialog
    int32_t kbps;
};

// Defined here, not in the source file, so that vudconv's usage text can
// list the rates while compiling.
inline constexpr BitRateRow BitRateTable[] = {
    {"8kbit/s", 8},     {"16kbit/s", 16},   {"24kbit/s", 24},   {"32kbit/s", 32},
    {"40kbit/s", 40},   {"48kbit/s", 48},   {"56kbit/s", 56},   {"64kbit/s", 64},
    {"80kbit/s", 80},   {"96kbit/s", 96},   {"112kbit/s", 112}, {"128kbit/s", 128},
    {"144kbit/s", 144}, {"160kbit/s", 160},
};
constexpr int32_t BitRateRowCount = static_cast<int32_t>(std::size(BitRateTable));
constexpr int32_t InitialBitRateSelection = 3;  // 32 kbit/s

// Row of BitRateTable; written by the dialog while no run is active.
extern std::atomic<int32_t> bitRateSelection;

// The entry being encoded. The library's callbacks carry no context, so they
// reach the entry only through this one record: one encoding at a time.
struct EntryEncodeState {
    const uint8_t* pcmCursor;  // next PCM byte not yet handed to the library
    uint32_t pcmBytesLeft;
    std::FILE* mp3Stream;
    int32_t mp3BytesWritten;  // MP3 bytes handed to mp3Stream for this entry
    bool writeFailed;         // a write to mp3Stream failed, or the count would overflow
    bool labelShown;          // the library accepted the settings and the label was shown
};

extern EntryEncodeState entryEncodeState;

// The library's input callback: 0 when buffer holds exactly size bytes (PCM,
// then zeros after its end), 1 when no PCM is left (buffer untouched).
int32_t pcmInputCallback(void* buffer, uint32_t size);
// The library's output callback: appends the bytes to mp3Stream; always 0.
int32_t mp3OutputCallback(void* data, uint32_t size);

// Shows the label of the entry being encoded (standard output, where the
// front ends take it from).
void showEntryLabel(const char* label);

// Bytes of MP3 appended to stream, or -1 when the library refused to start
// or the stream could not be written.
int32_t encodeEntry(const char* label, std::FILE* stream, int32_t sampleRate, const void* pcm,
                    uint32_t byteCount, int32_t bitRate);
