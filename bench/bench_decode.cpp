// Decoding speed of voice entries, one item = one decoded sample. The data
// comes from the bundled speech samples: as stored (the mix of silent, raw
// and delta blocks), and re-encoded by the archive writer as delta blocks
// with escape codes, delta blocks without escape codes, and raw blocks.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/block_decoder.h"
#include "archive/source_archive.h"
#include "platform/owned_file.h"
#include "tools/source_writer/source_writer.h"

namespace {

struct Corpus {
    std::vector<SourceEntryData> entries;
    uint64_t samples = 0;
};

SourceEntryData copyEntry(const EncodedEntry& encoded) {
    SourceEntryData data;
    data.blockCount = static_cast<uint32_t>(encoded.blockSizes.size());
    data.blockSizes.reset(new int16_t[data.blockCount]);
    std::memcpy(data.blockSizes.get(), encoded.blockSizes.data(), 2 * data.blockCount);
    data.compressedLength = encoded.bytes.size();
    data.compressedBytes.reset(new uint8_t[encoded.bytes.size()]);
    std::memcpy(data.compressedBytes.get(), encoded.bytes.data(), encoded.bytes.size());
    return data;
}

// The entries of samples/voice as stored.
Corpus& storedSpeech() {
    static Corpus corpus = [] {
        buildDecodeTables();
        Corpus c;
        for (const char* name : {"z001.vud", "z002.vud", "z003.vud"}) {
            const std::string path = std::string(VUD_SOURCE_DIR) + "/samples/voice/" + name;
            OwnedFile file = openFile(path.c_str(), "rb");
            int32_t count = 0;
            if (!file || readSourceHeader(file.get(), &count, nullptr) != 0) continue;
            SourceEntryTable table = readSourceEntryTable(file.get(), count);
            if (!table.entries) continue;
            for (int32_t i = 0; i < count; ++i) {
                SourceEntryData data;
                if (!readSourceEntryData(file.get(), table.entries.get(), i, &data)) continue;
                DecodedEntry decoded;
                if (!decodeSourceEntryReference(data, &decoded)) continue;
                c.samples += decoded.sampleCount;
                c.entries.push_back(std::move(data));
            }
        }
        return c;
    }();
    return corpus;
}

// The speech re-encoded by the writer with the given options.
Corpus reencoded(BlockChoice choice, int32_t tolerance) {
    Corpus c;
    WriterOptions options;
    options.choice = choice;
    options.escapeTolerance = tolerance;
    for (const SourceEntryData& data : storedSpeech().entries) {
        DecodedEntry decoded;
        if (!decodeSourceEntryReference(data, &decoded)) continue;
        const EncodedEntry encoded =
            encodeVoiceEntry(1, decoded.samples.get(), decoded.sampleCount, options);
        c.samples += encoded.reconstruction.size();
        c.entries.push_back(copyEntry(encoded));
    }
    return c;
}

Corpus& deltaWithEscapes() {
    static Corpus corpus = reencoded(BlockChoice::DeltaOnly, 0);
    return corpus;
}
Corpus& deltaWithFewEscapes() {
    static Corpus corpus = reencoded(BlockChoice::DeltaOnly, 6);
    return corpus;
}
Corpus& deltaWithoutEscapes() {
    static Corpus corpus = reencoded(BlockChoice::DeltaOnly, 1 << 20);
    return corpus;
}
Corpus& rawBlocks() {
    static Corpus corpus = reencoded(BlockChoice::RawOnly, 0);
    return corpus;
}

// One pass over a corpus; kept out of line so that a profiler can count the
// decoding alone (valgrind --toggle-collect='decodeAll*').
template <bool (*decode)(const SourceEntryData&, DecodedEntry*)>
[[gnu::noinline]] bool decodeAll(const Corpus& c) {
    for (const SourceEntryData& data : c.entries) {
        DecodedEntry decoded;
        if (!decode(data, &decoded)) return false;
        benchmark::DoNotOptimize(decoded.samples.get());
        benchmark::ClobberMemory();
    }
    return true;
}

template <bool (*decode)(const SourceEntryData&, DecodedEntry*)>
void decodeCorpus(benchmark::State& state, Corpus& (*corpus)()) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        if (!decodeAll<decode>(c)) state.SkipWithError("decoding failed");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c.samples));
    state.counters["samples"] = static_cast<double>(c.samples);
}

void BM_DecodeSpeechMix(benchmark::State& state) {
    decodeCorpus<decodeSourceEntry>(state, storedSpeech);
}
void BM_DecodeSpeechDelta(benchmark::State& state) {
    decodeCorpus<decodeSourceEntry>(state, deltaWithEscapes);
}
void BM_DecodeSpeechDeltaFewEscapes(benchmark::State& state) {
    decodeCorpus<decodeSourceEntry>(state, deltaWithFewEscapes);
}
void BM_DecodeDeltaNoEscapes(benchmark::State& state) {
    decodeCorpus<decodeSourceEntry>(state, deltaWithoutEscapes);
}
void BM_DecodeRaw(benchmark::State& state) {
    decodeCorpus<decodeSourceEntry>(state, rawBlocks);
}

void BM_DecodeSpeechMixReference(benchmark::State& state) {
    decodeCorpus<decodeSourceEntryReference>(state, storedSpeech);
}
void BM_DecodeSpeechDeltaReference(benchmark::State& state) {
    decodeCorpus<decodeSourceEntryReference>(state, deltaWithEscapes);
}
void BM_DecodeDeltaNoEscapesReference(benchmark::State& state) {
    decodeCorpus<decodeSourceEntryReference>(state, deltaWithoutEscapes);
}
void BM_DecodeRawReference(benchmark::State& state) {
    decodeCorpus<decodeSourceEntryReference>(state, rawBlocks);
}

}  // namespace

BENCHMARK(BM_DecodeSpeechMix);
BENCHMARK(BM_DecodeSpeechDelta);
BENCHMARK(BM_DecodeSpeechDeltaFewEscapes);
BENCHMARK(BM_DecodeDeltaNoEscapes);
BENCHMARK(BM_DecodeRaw);
BENCHMARK(BM_DecodeSpeechMixReference);
BENCHMARK(BM_DecodeSpeechDeltaReference);
BENCHMARK(BM_DecodeDeltaNoEscapesReference);
BENCHMARK(BM_DecodeRawReference);
