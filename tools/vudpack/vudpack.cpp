// vudpack: turns 16-bit PCM WAV files into one source voice archive, one
// entry per WAV file, for the bundled samples and for hand-made test data.
//
//   vudpack [--rate-field N] [--tolerance N] [--first-id N] OUT.vud IN.wav...
//
// The header's sample-rate field is the first WAV file's rate unless
// --rate-field gives it (0 stands for 22050 Hz in the format).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/source_writer/source_writer.h"
#include "tools/source_writer/wav_file.h"

namespace {

bool parseNumber(const char* text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

int usage() {
    std::fprintf(stderr,
                 "usage: vudpack [--rate-field N] [--tolerance N] [--first-id N] OUT.vud "
                 "IN.wav...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long rateField = -1;
    long tolerance = 0;
    long firstId = 1;
    int arg = 1;
    for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; arg += 2) {
        if (arg + 1 >= argc) return usage();
        long* target = nullptr;
        if (std::strcmp(argv[arg], "--rate-field") == 0) target = &rateField;
        if (std::strcmp(argv[arg], "--tolerance") == 0) target = &tolerance;
        if (std::strcmp(argv[arg], "--first-id") == 0) target = &firstId;
        if (target == nullptr || !parseNumber(argv[arg + 1], target)) return usage();
    }
    if (argc - arg < 2 || firstId < 0 || firstId + (argc - arg - 1) > 0xFFFF) return usage();
    const std::string outPath = argv[arg++];

    WriterOptions options;
    options.escapeTolerance = static_cast<int32_t>(tolerance);
    std::vector<EncodedEntry> entries;
    uint32_t firstRate = 0;
    for (; arg < argc; ++arg) {
        WavAudio audio;
        std::string error;
        if (!readWavFile(argv[arg], &audio, &error)) {
            std::fprintf(stderr, "vudpack: %s: %s\n", argv[arg], error.c_str());
            return 1;
        }
        if (entries.empty()) firstRate = audio.sampleRate;
        if (audio.samples.size() > 65535u * 1024u) {
            std::fprintf(stderr, "vudpack: %s: too long for one entry\n", argv[arg]);
            return 1;
        }
        const auto id = static_cast<uint16_t>(firstId + static_cast<long>(entries.size()));
        entries.push_back(
            encodeVoiceEntry(id, audio.samples.data(), audio.samples.size(), options));
        const EncodedEntry& e = entries.back();
        std::printf(
            "%s: id %u, %zu samples, %zu blocks (%u silent, %u raw, %u delta), %llu escapes, %zu "
            "bytes\n",
            argv[arg], e.id, audio.samples.size(), e.blockSizes.size(), e.silentBlocks, e.rawBlocks,
            e.deltaBlocks, static_cast<unsigned long long>(e.escapeCodes), e.bytes.size());
    }
    const uint32_t rate = rateField >= 0 ? static_cast<uint32_t>(rateField) : firstRate;
    const ArchiveImage image = buildSourceArchive(entries, rate);
    if (!writeBytesToFile(outPath, image.bytes)) {
        std::fprintf(stderr, "vudpack: cannot write %s\n", outPath.c_str());
        return 1;
    }
    std::printf("%s: %zu entries, %zu bytes, sample-rate field %u\n", outPath.c_str(),
                entries.size(), image.bytes.size(), rate);
    return 0;
}
