// Plain PCM WAV files (16-bit, one channel), for turning speech into
// archives and archives back into something a person can listen to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct WavAudio {
    std::vector<int16_t> samples;
    uint32_t sampleRate = 0;
};

// Reads a 16-bit PCM WAV file; a stereo file is mixed down to one channel.
// false with a one-line reason in *error on failure.
bool readWavFile(const std::string& path, WavAudio* audio, std::string* error);

// The bytes of a 16-bit mono WAV file of count samples; empty when the data
// does not fit the format's 32-bit sizes.
std::vector<uint8_t> wavFileBytes(const int16_t* samples, size_t count, uint32_t sampleRate);

// Writes count samples as a 16-bit mono WAV file; false on any failure.
bool writeWavFile(const std::string& path, const int16_t* samples, size_t count,
                  uint32_t sampleRate);
