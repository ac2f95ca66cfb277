#include "tools/source_writer/source_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/owned_file.h"

namespace {

constexpr size_t BlockSamples = 1024;
constexpr uint8_t ZeroIndex = 128;

// Nibbles of one delta block, low nibble of each byte first.
struct NibbleWriter {
    std::vector<uint8_t> nibbles;
    void put(uint8_t nibble) { nibbles.push_back(nibble & 0x0F); }
};

struct BlockResult {
    std::vector<uint8_t> bytes;
    std::vector<int16_t> samples;
    uint64_t escapes = 0;
};

BlockResult encodeDeltaBlock(const uint8_t* targets, size_t count, int32_t tolerance) {
    BlockResult result;
    NibbleWriter writer;
    uint8_t accumulator = 0;
    for (size_t k = 0; k < count; ++k) {
        int32_t need = static_cast<int8_t>(static_cast<uint8_t>(targets[k] - accumulator));
        uint8_t value;
        if (need >= -7 && need <= 7) {
            value = escapeValueForStep(need);
        } else if (tolerance > 0 && (need < 0 ? -need : need) - 7 <= tolerance) {
            value = escapeValueForStep(need < 0 ? -7 : 7);
        } else {
            value = escapeValueForStep(need);
        }
        if (value < 15) {
            writer.put(value);
        } else {
            writer.put(15);
            writer.put(value & 0x0F);
            writer.put(value >> 4);
            ++result.escapes;
        }
        accumulator = static_cast<uint8_t>(accumulator + writerDeltaStep(value));
        result.samples.push_back(writerSampleValue(accumulator));
    }
    // A nibble that only fills up the last byte is a code like any other:
    // step 0 repeats the last sample.
    if (writer.nibbles.size() % 2 != 0) {
        writer.put(0);
        result.samples.push_back(writerSampleValue(accumulator));
    }
    for (size_t n = 0; n < writer.nibbles.size(); n += 2) {
        result.bytes.push_back(
            static_cast<uint8_t>(writer.nibbles[n] | (writer.nibbles[n + 1] << 4)));
    }
    return result;
}

BlockResult encodeRawBlock(const uint8_t* targets, size_t count) {
    BlockResult result;
    for (size_t k = 0; k < BlockSamples; ++k) {
        const uint8_t index = k < count ? targets[k] : ZeroIndex;
        result.bytes.push_back(index);
        result.samples.push_back(writerSampleValue(index));
    }
    return result;
}

}  // namespace

int16_t writerSampleValue(uint8_t index) {
    const int32_t v = static_cast<int32_t>(index) - 128;
    return static_cast<int16_t>(2 * v * (v < 0 ? -v : v));
}

int32_t writerDeltaStep(uint8_t value) {
    return (value & 1) != 0 ? (value + 1) / 2 : -(value / 2);
}

uint8_t escapeValueForStep(int32_t step) {
    // Steps are taken modulo 256; bring them into -127..+128.
    int32_t s = ((step % 256) + 256) % 256;
    if (s > 128) s -= 256;
    return static_cast<uint8_t>(s > 0 ? 2 * s - 1 : -2 * s);
}

uint8_t nearestSampleIndex(int16_t value) {
    // The table rises monotonically; find the first entry not below value.
    int32_t low = 0;
    int32_t high = 255;
    while (low < high) {
        const int32_t mid = (low + high) / 2;
        if (writerSampleValue(static_cast<uint8_t>(mid)) < value) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    if (low > 0) {
        const int32_t above = writerSampleValue(static_cast<uint8_t>(low)) - value;
        const int32_t below = value - writerSampleValue(static_cast<uint8_t>(low - 1));
        if (below < above) --low;
    }
    return static_cast<uint8_t>(low);
}

EncodedEntry encodeVoiceEntry(uint16_t id, const int16_t* pcm, size_t count,
                              const WriterOptions& options) {
    EncodedEntry entry;
    entry.id = id;
    std::vector<uint8_t> targets(BlockSamples);
    for (size_t first = 0; first < count; first += BlockSamples) {
        const size_t n = count - first < BlockSamples ? count - first : BlockSamples;
        bool silent = n == BlockSamples && options.choice == BlockChoice::Automatic;
        for (size_t k = 0; k < n && silent; ++k) silent = pcm[first + k] == 0;
        if (silent) {
            entry.blockSizes.push_back(0);
            entry.reconstruction.insert(entry.reconstruction.end(), BlockSamples, 0);
            ++entry.silentBlocks;
            continue;
        }
        for (size_t k = 0; k < n; ++k) targets[k] = nearestSampleIndex(pcm[first + k]);

        BlockResult block;
        bool raw = options.choice == BlockChoice::RawOnly;
        if (!raw) {
            block = encodeDeltaBlock(targets.data(), n, options.escapeTolerance);
            // Size 1024 always means raw; a delta block that large or larger
            // is better stored raw (in DeltaOnly only the forbidden size is).
            raw = block.bytes.size() == BlockSamples ||
                  (options.choice == BlockChoice::Automatic && block.bytes.size() > BlockSamples);
        }
        if (raw) {
            block = encodeRawBlock(targets.data(), n);
            ++entry.rawBlocks;
        } else {
            ++entry.deltaBlocks;
            entry.escapeCodes += block.escapes;
        }
        entry.blockSizes.push_back(static_cast<int16_t>(block.bytes.size()));
        entry.bytes.insert(entry.bytes.end(), block.bytes.begin(), block.bytes.end());
        entry.reconstruction.insert(entry.reconstruction.end(), block.samples.begin(),
                                    block.samples.end());
    }
    return entry;
}

void appendLe16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void appendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<uint8_t>(value >> shift));
}

void putLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes.at(at) = static_cast<uint8_t>(value);
    bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int k = 0; k < 4; ++k) bytes.at(at + k) = static_cast<uint8_t>(value >> (8 * k));
}

std::vector<uint8_t> makeSourceHeader(const char* magic6, int32_t entryCount, uint32_t sampleRate) {
    std::vector<uint8_t> header(32, 0);
    std::memcpy(header.data(), magic6, 6);
    putLe32(header, EntryCountField, static_cast<uint32_t>(entryCount));
    putLe32(header, SampleRateField, sampleRate);
    return header;
}

ArchiveImage buildSourceArchive(const std::vector<EncodedEntry>& entries, uint32_t sampleRate) {
    ArchiveImage image;
    image.bytes = makeSourceHeader("VUDPAC", static_cast<int32_t>(entries.size()), sampleRate);
    uint64_t offset = 32 + 8 * entries.size();
    for (const EncodedEntry& entry : entries) {
        image.entryOffsets.push_back(static_cast<uint32_t>(offset));
        appendLe16(image.bytes, entry.id);
        appendLe16(image.bytes, static_cast<uint16_t>(entry.blockSizes.size()));
        appendLe32(image.bytes, static_cast<uint32_t>(offset));
        offset += 2 * entry.blockSizes.size() + entry.bytes.size();
    }
    for (const EncodedEntry& entry : entries) {
        for (int16_t size : entry.blockSizes) appendLe16(image.bytes, static_cast<uint16_t>(size));
        image.bytes.insert(image.bytes.end(), entry.bytes.begin(), entry.bytes.end());
    }
    return image;
}

bool writeBytesToFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    OwnedFile file = openFile(path.c_str(), "wb");
    if (!file) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return false;
    }
    return std::fclose(file.release()) == 0;
}
