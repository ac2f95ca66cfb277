// Checking MP3 streams in the tests: a frame walker for MPEG audio headers,
// a libmpg123 decoder, and a delay-aligned signal-to-noise measure.
#pragma once

#include <mpg123.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Mp3Frame {
    int32_t versionBits;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int32_t layer;        // 3 for layer III
    int32_t bitRate;      // kbit/s
    int32_t sampleRate;
    int32_t channelMode;  // 3 mono
    uint32_t size;
};

// Walks the whole stream frame by frame. Returns false, with a reason, unless
// every byte belongs to a well-formed frame.
inline bool walkMp3Frames(const std::vector<uint8_t>& bytes, std::vector<Mp3Frame>* frames,
                          std::string* reason) {
    static const int32_t mpeg2Layer3[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                            64, 80, 96, 112, 128, 144, 160, -1};
    static const int32_t mpeg1Layer3[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                            112, 128, 160, 192, 224, 256, 320, -1};
    static const int32_t rates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) {
            *reason = "trailing bytes at " + std::to_string(at);
            return false;
        }
        const uint8_t* h = bytes.data() + at;
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) {
            *reason = "no frame sync at " + std::to_string(at);
            return false;
        }
        Mp3Frame frame{};
        frame.versionBits = (h[1] >> 3) & 3;
        frame.layer = 4 - ((h[1] >> 1) & 3);
        int32_t bitRateIndex = h[2] >> 4;
        int32_t rateIndex = (h[2] >> 2) & 3;
        int32_t padding = (h[2] >> 1) & 1;
        frame.channelMode = h[3] >> 6;
        if (frame.versionBits == 1 || frame.layer != 3 || rateIndex == 3 || bitRateIndex == 0 ||
            bitRateIndex == 15) {
            *reason = "bad header at " + std::to_string(at);
            return false;
        }
        frame.bitRate =
            frame.versionBits == 3 ? mpeg1Layer3[bitRateIndex] : mpeg2Layer3[bitRateIndex];
        frame.sampleRate = rates[frame.versionBits][rateIndex];
        uint32_t factor = frame.versionBits == 3 ? 144 : 72;
        frame.size = factor * static_cast<uint32_t>(frame.bitRate) * 1000 /
                         static_cast<uint32_t>(frame.sampleRate) +
                     static_cast<uint32_t>(padding);
        if (frame.size > bytes.size() - at) {
            *reason = "frame cut short at " + std::to_string(at);
            return false;
        }
        frames->push_back(frame);
        at += frame.size;
    }
    return true;
}

struct DecodedMp3 {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    std::vector<int16_t> samples;
};

inline DecodedMp3 decodeMp3(const std::vector<uint8_t>& bytes) {
    DecodedMp3 decoded;
    mpg123_init();
    int error = 0;
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, &error),
                                                                    mpg123_delete);
    if (!handle) return decoded;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (mpg123_open_feed(handle.get()) != MPG123_OK) return decoded;
    if (mpg123_feed(handle.get(), bytes.data(), bytes.size()) != MPG123_OK) return decoded;
    std::vector<unsigned char> chunk(16384);
    while (true) {
        size_t done = 0;
        int result = mpg123_read(handle.get(), chunk.data(), chunk.size(), &done);
        if (result == MPG123_NEW_FORMAT) {
            mpg123_getformat(handle.get(), &decoded.rate, &decoded.channels, &decoded.encoding);
        }
        const int16_t* samples = reinterpret_cast<const int16_t*>(chunk.data());
        decoded.samples.insert(decoded.samples.end(), samples, samples + done / 2);
        if (result == MPG123_NEED_MORE || result == MPG123_DONE) break;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) return decoded;
    }
    decoded.ok = true;
    return decoded;
}

// The lag (decoded sample index of input sample 0) in [0, maxLag] that best
// matches a window of the input, by normalised cross-correlation.
inline int32_t bestLag(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded,
                       size_t windowStart, size_t windowLength, int32_t maxLag) {
    double best = -2;
    int32_t bestAt = -1;
    for (int32_t lag = 0; lag <= maxLag; ++lag) {
        if (windowStart + windowLength + static_cast<size_t>(lag) > decoded.size()) break;
        double cross = 0, energyIn = 0, energyOut = 0;
        for (size_t i = windowStart; i < windowStart + windowLength; ++i) {
            double x = input[i];
            double y = decoded[i + static_cast<size_t>(lag)];
            cross += x * y;
            energyIn += x * x;
            energyOut += y * y;
        }
        double score = cross / std::sqrt(energyIn * energyOut + 1e-9);
        if (score > best) {
            best = score;
            bestAt = lag;
        }
    }
    return bestAt;
}

// Signal-to-noise ratio in dB of decoded (shifted by lag) against input.
inline double snrDb(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded,
                    int32_t lag) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < input.size() && i + static_cast<size_t>(lag) < decoded.size(); ++i) {
        double x = input[i];
        double y = decoded[i + static_cast<size_t>(lag)];
        signal += x * x;
        noise += (x - y) * (x - y);
    }
    return 10 * std::log10(signal / (noise + 1e-9));
}
