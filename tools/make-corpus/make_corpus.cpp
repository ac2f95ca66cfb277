// make-corpus: a folder of source voice archives cut from speech, for the
// end-to-end benchmark (bench/e2e-convert.sh).
//
//   make-corpus [--archives N] [--entries M] [--seconds S] [--long-seconds L]
//               [--pcm FILE] OUT_FOLDER SPEECH.wav...
//
// The speech files (16-bit, 22050 Hz) are joined into one signal. Archive a
// (z001.vud, z002.vud, ...) holds M entries, each an S-second window of the
// signal at its own offset and gain; with --long-seconds the first entry of
// the first archive is L seconds long instead (the signal repeats). --pcm
// writes every entry's decoded PCM (what a correct decoder makes of it) as
// records of a 32-bit little-endian sample count and the samples, for
// encode-alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/source_writer/source_writer.h"
#include "tools/source_writer/wav_file.h"

namespace {

constexpr uint32_t CorpusSampleRate = 22050;

struct CorpusOptions {
    long archives = 4;
    long entries = 75;
    double seconds = 3.0;
    double longSeconds = 0.0;
    std::string pcmPath;
    std::string outFolder;
    std::vector<std::string> speech;
};

int usage() {
    std::fprintf(stderr,
                 "usage: make-corpus [--archives N] [--entries M] [--seconds S] "
                 "[--long-seconds L] [--pcm FILE] OUT_FOLDER SPEECH.wav...\n");
    return 2;
}

bool parseOptions(int argc, char** argv, CorpusOptions* options) {
    int arg = 1;
    for (; arg + 1 < argc && std::strncmp(argv[arg], "--", 2) == 0; arg += 2) {
        const char* name = argv[arg];
        const char* value = argv[arg + 1];
        char* end = nullptr;
        if (std::strcmp(name, "--archives") == 0) {
            options->archives = std::strtol(value, &end, 10);
        } else if (std::strcmp(name, "--entries") == 0) {
            options->entries = std::strtol(value, &end, 10);
        } else if (std::strcmp(name, "--seconds") == 0) {
            options->seconds = std::strtod(value, &end);
        } else if (std::strcmp(name, "--long-seconds") == 0) {
            options->longSeconds = std::strtod(value, &end);
        } else if (std::strcmp(name, "--pcm") == 0) {
            options->pcmPath = value;
            continue;
        } else {
            return false;
        }
        if (end == value || *end != '\0') return false;
    }
    if (argc - arg < 2) return false;
    options->outFolder = argv[arg++];
    if (!options->outFolder.empty() && options->outFolder.back() != '/') {
        options->outFolder += '/';
    }
    for (; arg < argc; ++arg) options->speech.emplace_back(argv[arg]);
    return options->archives >= 1 && options->archives <= 999 && options->entries >= 1 &&
           options->entries <= 9999 && options->seconds > 0 && options->longSeconds >= 0;
}

// Samples from offset on, repeating the signal, scaled by gain.
std::vector<int16_t> window(const std::vector<int16_t>& signal, size_t offset, size_t count,
                            double gain) {
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        double value = signal[(offset + i) % signal.size()] * gain;
        if (value > 32767) value = 32767;
        if (value < -32768) value = -32768;
        samples[i] = static_cast<int16_t>(value);
    }
    return samples;
}

bool appendPcm(std::FILE* pcm, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> record;
    record.reserve(4 + 2 * samples.size());
    appendLe32(record, static_cast<uint32_t>(samples.size()));
    for (int16_t sample : samples) appendLe16(record, static_cast<uint16_t>(sample));
    return std::fwrite(record.data(), 1, record.size(), pcm) == record.size();
}

}  // namespace

int main(int argc, char** argv) {
    CorpusOptions options;
    if (!parseOptions(argc, argv, &options)) return usage();

    std::vector<int16_t> signal;
    for (const std::string& path : options.speech) {
        WavAudio audio;
        std::string error;
        if (!readWavFile(path, &audio, &error)) {
            std::fprintf(stderr, "make-corpus: %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        if (audio.sampleRate != CorpusSampleRate) {
            std::fprintf(stderr, "make-corpus: %s: %u Hz, not %u Hz\n", path.c_str(),
                         audio.sampleRate, CorpusSampleRate);
            return 1;
        }
        signal.insert(signal.end(), audio.samples.begin(), audio.samples.end());
    }
    if (signal.empty()) {
        std::fprintf(stderr, "make-corpus: no speech\n");
        return 1;
    }

    std::FILE* pcm = nullptr;
    if (!options.pcmPath.empty()) {
        pcm = std::fopen(options.pcmPath.c_str(), "wb");
        if (pcm == nullptr) {
            std::fprintf(stderr, "make-corpus: cannot create %s\n", options.pcmPath.c_str());
            return 1;
        }
    }
    static const double Gains[] = {1.0, 0.8, 0.6, 0.9, 0.7};
    const size_t entrySamples = static_cast<size_t>(options.seconds * CorpusSampleRate);
    const size_t longSamples = static_cast<size_t>(options.longSeconds * CorpusSampleRate);
    uint64_t totalSamples = 0;
    int status = 0;
    for (long a = 0; a < options.archives && status == 0; ++a) {
        std::vector<EncodedEntry> entries;
        entries.reserve(static_cast<size_t>(options.entries));
        for (long e = 0; e < options.entries; ++e) {
            const long index = a * options.entries + e;
            // Offsets spread over the signal by a step prime to most lengths.
            const size_t offset = static_cast<size_t>(index) * 7919u * 13u % signal.size();
            const size_t count = (a == 0 && e == 0 && longSamples > 0) ? longSamples : entrySamples;
            std::vector<int16_t> samples =
                window(signal, offset, count, Gains[static_cast<size_t>(index) % 5]);
            EncodedEntry entry = encodeVoiceEntry(static_cast<uint16_t>(index + 1), samples.data(),
                                                  samples.size(), WriterOptions{});
            if (pcm != nullptr && !appendPcm(pcm, entry.reconstruction)) status = 1;
            totalSamples += entry.reconstruction.size();
            entry.reconstruction.clear();
            entry.reconstruction.shrink_to_fit();
            entries.push_back(std::move(entry));
        }
        char name[32];
        std::snprintf(name, sizeof(name), "z%03ld.vud", a + 1);
        std::string path = options.outFolder + name;
        if (!writeBytesToFile(path, buildSourceArchive(entries, CorpusSampleRate).bytes)) {
            std::fprintf(stderr, "make-corpus: cannot write %s\n", path.c_str());
            status = 1;
        }
    }
    if (pcm != nullptr && std::fclose(pcm) != 0) status = 1;
    if (status == 0) {
        std::printf("%ld archives, %ld entries, %.1f s of audio\n", options.archives,
                    options.archives * options.entries,
                    static_cast<double>(totalSamples) / CorpusSampleRate);
    }
    return status;
}
