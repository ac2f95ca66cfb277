#include "tools/source_writer/wav_file.h"

#include <cstdio>
#include <cstring>

#include "archive/byte_order.h"
#include "platform/owned_file.h"
#include "tools/source_writer/source_writer.h"

bool readWavFile(const std::string& path, WavAudio* audio, std::string* error) {
    OwnedFile file = openFile(path.c_str(), "rb");
    if (!file) {
        *error = "cannot open";
        return false;
    }
    uint8_t riff[12];
    if (std::fread(riff, 1, sizeof riff, file.get()) != sizeof riff ||
        std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
        *error = "not a RIFF/WAVE file";
        return false;
    }
    uint16_t channels = 0;
    uint16_t bits = 0;
    bool haveFormat = false;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, sizeof chunk, file.get()) != sizeof chunk) {
            *error = "no data chunk";
            return false;
        }
        const uint32_t size = readLe32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t format[16];
            if (size < sizeof format ||
                std::fread(format, 1, sizeof format, file.get()) != sizeof format) {
                *error = "short fmt chunk";
                return false;
            }
            if (readLe16(format) != 1) {
                *error = "not integer PCM";
                return false;
            }
            channels = readLe16(format + 2);
            audio->sampleRate = readLe32(format + 4);
            bits = readLe16(format + 14);
            if (bits != 16 || (channels != 1 && channels != 2)) {
                *error = "only 16-bit mono or stereo PCM is supported";
                return false;
            }
            haveFormat = true;
            const long rest = static_cast<long>(size - sizeof format + (size & 1));
            if (rest > 0 && std::fseek(file.get(), rest, SEEK_CUR) != 0) {
                *error = "short fmt chunk";
                return false;
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                *error = "data chunk before fmt chunk";
                return false;
            }
            // Streamed WAV output may leave the size at its maximum: read to the end.
            std::vector<uint8_t> bytes;
            uint8_t buffer[65536];
            size_t got;
            while (bytes.size() < size &&
                   (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
                bytes.insert(bytes.end(), buffer, buffer + got);
            }
            if (bytes.size() > size) bytes.resize(size);
            const size_t frame = 2u * channels;
            const size_t frames = bytes.size() / frame;
            audio->samples.resize(frames);
            for (size_t f = 0; f < frames; ++f) {
                int32_t sum = 0;
                for (uint16_t c = 0; c < channels; ++c) {
                    sum += static_cast<int16_t>(readLe16(bytes.data() + f * frame + 2 * c));
                }
                audio->samples[f] = static_cast<int16_t>(sum / channels);
            }
            return true;
        } else if (std::fseek(file.get(), static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            *error = "broken chunk";
            return false;
        }
    }
}

std::vector<uint8_t> wavFileBytes(const int16_t* samples, size_t count, uint32_t sampleRate) {
    const uint64_t dataBytes = 2 * static_cast<uint64_t>(count);
    if (dataBytes > UINT32_MAX - 36) return {};
    // The header is made whole first: growing the vector piece by piece from
    // string literals trips GCC 12's overflow warning on 32-bit targets.
    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    writeLe32(header + 4, static_cast<uint32_t>(36 + dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    writeLe32(header + 16, 16);
    writeLe16(header + 20, 1);  // integer PCM
    writeLe16(header + 22, 1);  // one channel
    writeLe32(header + 24, sampleRate);
    writeLe32(header + 28, sampleRate * 2);
    writeLe16(header + 32, 2);
    writeLe16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    writeLe32(header + 40, static_cast<uint32_t>(dataBytes));
    std::vector<uint8_t> bytes;
    bytes.reserve(sizeof header + dataBytes);
    bytes.assign(header, header + sizeof header);
    for (size_t k = 0; k < count; ++k) appendLe16(bytes, static_cast<uint16_t>(samples[k]));
    return bytes;
}

bool writeWavFile(const std::string& path, const int16_t* samples, size_t count,
                  uint32_t sampleRate) {
    const std::vector<uint8_t> bytes = wavFileBytes(samples, count, sampleRate);
    return !bytes.empty() && writeBytesToFile(path, bytes);
}
