// Writing source voice archives from PCM, for test fixtures, the benchmark and
// the bundled samples. The writer keeps its own reconstruction of what every
// block decodes to, computed from the format's rules independently of the
// decoder, so writer -> reader -> decoder can be checked sample for sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class BlockChoice {
    Automatic,  // silent for all-zero runs, delta where it is smaller, raw otherwise
    DeltaOnly,  // every block delta (no silent blocks), however many escape codes
    RawOnly,    // every block raw (the last one padded with zeros)
};

struct WriterOptions {
    BlockChoice choice = BlockChoice::Automatic;
    // How far (in sample-table steps) a delta block may fall behind the
    // signal before it spends an escape code; 0 follows the signal exactly
    // (as exactly as 8-bit square-law samples allow), a large value never
    // escapes.
    int32_t escapeTolerance = 0;
};

// One entry as written: its block sizes, its compressed bytes and the PCM
// that a correct decoder makes of them.
struct EncodedEntry {
    uint16_t id = 0;
    std::vector<int16_t> blockSizes;
    std::vector<uint8_t> bytes;
    std::vector<int16_t> reconstruction;
    uint32_t silentBlocks = 0;
    uint32_t rawBlocks = 0;
    uint32_t deltaBlocks = 0;
    uint64_t escapeCodes = 0;
};

// Encodes count samples, in blocks of 1024 (the last one shorter).
EncodedEntry encodeVoiceEntry(uint16_t id, const int16_t* pcm, size_t count,
                              const WriterOptions& options);

// The index of the sample-table value nearest to a PCM value.
uint8_t nearestSampleIndex(int16_t value);
// The sample-table value of an index and the delta-table step of a value,
// computed from the format's formulas.
int16_t writerSampleValue(uint8_t index);
int32_t writerDeltaStep(uint8_t value);
// The 8-bit escape value whose step moves the accumulator by `step` (mod 256).
uint8_t escapeValueForStep(int32_t step);

// A whole archive in memory, with where each part landed, so tests can
// damage single fields afterwards.
struct ArchiveImage {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> entryOffsets;  // where each entry's size list starts
};

// Header, table, then each entry's size list and bytes, in order, offsets
// ascending. The stored entry count is entries.size().
ArchiveImage buildSourceArchive(const std::vector<EncodedEntry>& entries, uint32_t sampleRate);

// The 32-byte header with every field under the caller's control.
std::vector<uint8_t> makeSourceHeader(const char* magic6, int32_t entryCount, uint32_t sampleRate);

// Little-endian field helpers over a byte vector (put* overwrite in place).
void appendLe16(std::vector<uint8_t>& bytes, uint16_t value);
void appendLe32(std::vector<uint8_t>& bytes, uint32_t value);
void putLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value);
void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);

// Offsets of the header fields and of table record i.
constexpr size_t EntryCountField = 16;
constexpr size_t SampleRateField = 24;
constexpr size_t tableRecordAt(size_t i) {
    return 32 + 8 * i;
}

// Writes bytes to path; false on any failure.
bool writeBytesToFile(const std::string& path, const std::vector<uint8_t>& bytes);
