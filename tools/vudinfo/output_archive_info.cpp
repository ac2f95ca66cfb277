#include "tools/vudinfo/output_archive_info.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <unordered_map>

#include "archive/output_archive.h"
#include "platform/console_text.h"
#include "platform/owned_file.h"
#include "tools/vudinfo/tool_output_file.h"
#include "tools/vudinfo/utf8_path.h"

namespace {

constexpr int32_t MpegVersion1 = 10;
constexpr int32_t MpegVersion2 = 20;
constexpr int32_t MpegVersion25 = 25;

// Layer III bit rates in kbit/s by index; 0 (free format) and 15 are refused.
constexpr int32_t BitRatesVersion1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                          112, 128, 160, 192, 224, 256, 320, 0};
constexpr int32_t BitRatesVersion2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                          64, 80, 96, 112, 128, 144, 160, 0};
constexpr int32_t SampleRatesVersion1[3] = {44100, 48000, 32000};

}  // namespace

bool parseMp3FrameHeader(const uint8_t bytes[4], Mp3FrameHeader* header) {
    uint32_t word = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                    (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
    if ((word >> 21) != 0x7FF) return false;  // eleven sync bits
    uint32_t versionBits = (word >> 19) & 3;
    uint32_t layerBits = (word >> 17) & 3;
    uint32_t bitRateIndex = (word >> 12) & 15;
    uint32_t sampleRateIndex = (word >> 10) & 3;
    uint32_t emphasis = word & 3;
    if (versionBits == 1 || layerBits != 1) return false;  // reserved version; not layer III
    if (sampleRateIndex == 3 || emphasis == 2) return false;
    switch (versionBits) {
        case 3:
            header->version = MpegVersion1;
            break;
        case 2:
            header->version = MpegVersion2;
            break;
        default:
            header->version = MpegVersion25;
            break;
    }
    bool version1 = header->version == MpegVersion1;
    header->bitRateKbps =
        version1 ? BitRatesVersion1[bitRateIndex] : BitRatesVersion2[bitRateIndex];
    if (header->bitRateKbps == 0) return false;
    int32_t divisor = version1 ? 1 : header->version == MpegVersion2 ? 2 : 4;
    header->sampleRate = SampleRatesVersion1[sampleRateIndex] / divisor;
    header->padded = ((word >> 9) & 1) != 0;
    header->crcProtected = ((word >> 16) & 1) == 0;
    header->channels = ((word >> 6) & 3) == 3 ? 1 : 2;
    header->samplesPerFrame = version1 ? 1152 : 576;
    int32_t factor = version1 ? 144000 : 72000;
    header->frameLength =
        factor * header->bitRateKbps / header->sampleRate + (header->padded ? 1 : 0);
    return true;
}

bool checkMp3Stream(const uint8_t* stream, uint64_t size, Mp3StreamSummary* summary) {
    *summary = {0, 0, 0, -1};
    Mp3FrameHeader first{};
    uint64_t offset = 0;
    while (offset < size) {
        Mp3FrameHeader frame;
        if (size - offset < 4 || !parseMp3FrameHeader(stream + offset, &frame)) break;
        if (summary->frameCount == 0) first = frame;
        if (frame.version != first.version || frame.sampleRate != first.sampleRate ||
            frame.channels != first.channels) {
            break;
        }
        if (static_cast<uint64_t>(frame.frameLength) > size - offset) break;
        offset += static_cast<uint64_t>(frame.frameLength);
        summary->frameCount += 1;
        summary->sampleCount += frame.samplesPerFrame;
    }
    summary->sampleRate = first.sampleRate;
    if (offset == size) return true;
    summary->badOffset = static_cast<int64_t>(offset);
    return false;
}

namespace {

bool readStream(std::FILE* file, const OutputStreamExtent& entry,
                std::unique_ptr<uint8_t[]>* bytes) {
    bytes->reset(new (std::nothrow) uint8_t[entry.streamSize == 0 ? 1 : entry.streamSize]);
    if (!*bytes) return false;
    if (!seekFile(file, entry.streamOffset, SEEK_SET)) return false;
    return std::fread(bytes->get(), 1, entry.streamSize, file) == entry.streamSize;
}

bool prepareFolder(const char* folder) {
    std::error_code error;
    const std::filesystem::path path = utf8Path(folder);
    if (std::filesystem::is_directory(path, error)) return true;
    return std::filesystem::create_directory(path, error) && !error;
}

// z001_0003.mp3; a (file number, id) pair seen before in this extraction gets
// "_2", "_3" and so on, so no stream replaces another.
bool extractStream(const char* folder, const OutputArchiveBlock& block,
                   const OutputStreamExtent& entry, const uint8_t* bytes,
                   std::unordered_map<uint32_t, uint32_t>* seen) {
    uint32_t pair = static_cast<uint32_t>(block.fileNumber) << 16 | entry.id;
    uint32_t occurrence = ++(*seen)[pair];
    char path[4096];
    int length = occurrence == 1 ? std::snprintf(path, sizeof(path), "%s/z%03d_%04u.mp3", folder,
                                                 block.fileNumber, unsigned{entry.id})
                                 : std::snprintf(path, sizeof(path), "%s/z%03d_%04u_%u.mp3", folder,
                                                 block.fileNumber, unsigned{entry.id}, occurrence);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(path)) {
        consolePrint(stderr, "%s: path too long\n", folder);
        return false;
    }
    return writeToolOutputFile(path, bytes, entry.streamSize);
}

}  // namespace

int32_t describeOutputArchive(const char* path, bool verify, const char* extractDir) {
    OwnedFile file = openFile(path, "rb");
    if (!file) {
        consolePrint(stderr, "%s: %s\n", path, std::strerror(errno));
        return 1;
    }
    OutputArchiveLayout layout;
    if (!readOutputArchive(file.get(), &layout)) {
        consolePrint(stderr, "%s: not a valid output archive: %s\n", path, layout.reason);
        return 1;
    }
    if (extractDir != nullptr && !prepareFolder(extractDir)) {
        consolePrint(stderr, "%s: cannot use as a folder\n", extractDir);
        return 1;
    }
    consolePrint(stdout, "%s: output archive, %u archives, %lld bytes\n", path, layout.archiveCount,
                 static_cast<long long>(layout.fileLength));

    std::unordered_map<uint32_t, uint32_t> seen;
    int64_t streamCount = 0;
    int64_t badStreams = 0;
    bool extracted = true;
    for (uint32_t k = 0; k < layout.archiveCount; ++k) {
        const OutputArchiveBlock& block = layout.blocks[k];
        consolePrint(stdout,
                     "archive %u: key %u, file number %d, %d entries, offset %u, size %lld\n", k,
                     block.archiveKey, block.fileNumber, block.entryCount, block.blockOffset,
                     static_cast<long long>(block.blockSize));
        for (int32_t i = 0; i < block.entryCount; ++i) {
            const OutputStreamExtent& entry = block.entries[i];
            ++streamCount;
            if (!verify && extractDir == nullptr) {
                consolePrint(stdout, "  id %u: %u bytes\n", unsigned{entry.id}, entry.streamSize);
                continue;
            }
            std::unique_ptr<uint8_t[]> bytes;
            if (!readStream(file.get(), entry, &bytes)) {
                consolePrint(stderr, "%s: archive %u id %u: cannot read its stream\n", path, k,
                             unsigned{entry.id});
                return 1;
            }
            if (verify) {
                Mp3StreamSummary summary;
                if (checkMp3Stream(bytes.get(), entry.streamSize, &summary)) {
                    double seconds =
                        summary.sampleRate > 0
                            ? static_cast<double>(summary.sampleCount) / summary.sampleRate
                            : 0.0;
                    consolePrint(stdout, "  id %u: %u bytes, %lld frames, %.3f s\n",
                                 unsigned{entry.id}, entry.streamSize,
                                 static_cast<long long>(summary.frameCount), seconds);
                } else {
                    ++badStreams;
                    consolePrint(stdout, "  id %u: %u bytes, NOT whole MP3 frames\n",
                                 unsigned{entry.id}, entry.streamSize);
                    consolePrint(stderr,
                                 "%s: archive %u id %u: no valid MP3 frame at stream byte %lld "
                                 "(absolute %lld) after %lld whole frames\n",
                                 path, k, unsigned{entry.id},
                                 static_cast<long long>(summary.badOffset),
                                 static_cast<long long>(entry.streamOffset + summary.badOffset),
                                 static_cast<long long>(summary.frameCount));
                }
            } else {
                consolePrint(stdout, "  id %u: %u bytes\n", unsigned{entry.id}, entry.streamSize);
            }
            if (extractDir != nullptr &&
                !extractStream(extractDir, block, entry, bytes.get(), &seen)) {
                extracted = false;
            }
        }
    }
    if (verify) {
        if (badStreams > 0) {
            consolePrint(stdout, "verify: FAILED, %lld of %lld streams are not whole MP3 frames\n",
                         static_cast<long long>(badStreams), static_cast<long long>(streamCount));
        } else {
            consolePrint(stdout, "verify: ok, %u archives, %lld streams\n", layout.archiveCount,
                         static_cast<long long>(streamCount));
        }
    }
    return badStreams == 0 && extracted ? 0 : 1;
}
