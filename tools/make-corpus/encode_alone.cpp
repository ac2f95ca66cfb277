// encode-alone: the benchmark's baseline. Encodes every entry of a PCM file
// written by make-corpus through the same contract the converter uses
// (encodeEntry: the library's per-entry set-up, frames and flush), one
// entry after the other into one output file, and reports the time that
// took. Reading the PCM into memory happens before the clock starts.
//
//   encode-alone PCM_FILE KBPS OUTPUT
//
// The encoder library is found as the converter finds it (beside the program
// first). Prints "SECONDS ENTRIES LOAD_SECONDS" on standard error, LOAD_SECONDS
// being the time spent reading the PCM file (which the converter has no
// counterpart of, so the benchmark takes it off the process's time); the
// entry labels go to
// standard output as the converter's do.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "archive/byte_order.h"
#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"

namespace {

constexpr int32_t SampleRate = 22050;

struct PcmEntry {
    std::vector<int16_t> samples;
};

bool readEntries(const char* path, std::vector<PcmEntry>* entries) {
    OwnedFile file = openFile(path, "rb");
    if (!file) return false;
    for (;;) {
        uint8_t countBytes[4];
        size_t got = std::fread(countBytes, 1, sizeof(countBytes), file.get());
        if (got == 0) return std::ferror(file.get()) == 0;
        if (got != sizeof(countBytes)) return false;
        PcmEntry entry;
        entry.samples.resize(readLe32(countBytes));
        std::vector<uint8_t> bytes(entry.samples.size() * 2);
        if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
        for (size_t i = 0; i < entry.samples.size(); ++i) {
            entry.samples[i] = static_cast<int16_t>(readLe16(bytes.data() + 2 * i));
        }
        entries->push_back(std::move(entry));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: encode-alone PCM_FILE KBPS OUTPUT\n");
        return 2;
    }
    const int32_t bitRate = std::atoi(argv[2]);
    std::vector<PcmEntry> entries;
    const auto loadStart = std::chrono::steady_clock::now();
    const bool loaded = readEntries(argv[1], &entries);
    const double loadSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    if (!loaded) {
        std::fprintf(stderr, "encode-alone: cannot read %s\n", argv[1]);
        return 1;
    }
    if (loadEncoderLibrary() == 0) {
        std::fprintf(stderr, "encode-alone: the encoder library cannot be loaded\n");
        return 4;
    }
    OwnedFile output = openFile(argv[3], "wb");
    if (!output) {
        std::fprintf(stderr, "encode-alone: cannot create %s\n", argv[3]);
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    const int32_t count = static_cast<int32_t>(entries.size());
    for (int32_t i = 0; i < count; ++i) {
        char label[64];
        std::snprintf(label, sizeof(label), "z000.vud (%3d/%3d)", i + 1, count);
        const std::vector<int16_t>& samples = entries[static_cast<size_t>(i)].samples;
        if (encodeEntry(label, output.get(), SampleRate, samples.data(),
                        static_cast<uint32_t>(samples.size() * 2), bitRate) < 0) {
            std::fprintf(stderr, "encode-alone: entry %d failed\n", i + 1);
            return 1;
        }
    }
    if (std::fflush(output.get()) != 0) return 1;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    output.reset();
    unloadEncoderLibrary();
    std::fprintf(stderr, "%.6f %d %.6f\n", seconds, count, loadSeconds);
    return 0;
}
