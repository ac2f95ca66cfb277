// Real speech for the encoder tests and the benchmark: every voice entry of
// the sample archive samples/voice/z001.vud, decoded and joined.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/block_decoder.h"
#include "archive/source_archive.h"
#include "platform/owned_file.h"

struct SpeechPcm {
    std::vector<int16_t> samples;  // empty when the archive cannot be read
    uint32_t sampleRate = 0;
    int32_t entryCount = 0;
};

inline SpeechPcm loadSampleSpeech(const std::string& sourceDir) {
    SpeechPcm speech;
    OwnedFile file = openFile((sourceDir + "/samples/voice/z001.vud").c_str(), "rb");
    if (!file) return speech;
    int32_t entryCount = 0;
    uint32_t sampleRate = 0;
    if (readSourceHeader(file.get(), &entryCount, &sampleRate) != 0 || entryCount <= 0) {
        return speech;
    }
    SourceEntryTable table = readSourceEntryTable(file.get(), entryCount);
    if (!table.entries) return speech;
    buildDecodeTables();
    std::vector<int16_t> joined;
    for (int32_t i = 0; i < entryCount; ++i) {
        SourceEntryData data;
        DecodedEntry decoded;
        if (!readSourceEntryData(file.get(), table.entries.get(), i, &data) ||
            !decodeSourceEntry(data, &decoded)) {
            return speech;
        }
        joined.insert(joined.end(), decoded.samples.get(),
                      decoded.samples.get() + decoded.sampleCount);
    }
    speech.samples = std::move(joined);
    speech.sampleRate = sampleRate == 0 ? 22050 : sampleRate;
    speech.entryCount = entryCount;
    return speech;
}
