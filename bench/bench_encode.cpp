// Encoding speech through encodeEntry and the stand-in GOGO.DLL against
// calling libmp3lame directly with the same settings, on the same PCM. The
// difference is what the binding, the callbacks and the per-frame requests
// cost; it should stay under 3 %.
#include <benchmark/benchmark.h>
#include <lame/lame.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"
#include "tools/sample_speech/speech_pcm.h"

namespace {

// The stand-in's setting (encoder/stand_in/mp3_encoder.cpp).
constexpr int LameQuality = 5;

const SpeechPcm& speech() {
    static const SpeechPcm pcm = loadSampleSpeech(VUD_SOURCE_DIR);
    return pcm;
}

bool encoderReady() {
    static const bool ready = loadEncoderLibrary() > 0;
    return ready;
}

// The direct call: one lame_encode_buffer over the whole PCM, then the flush,
// written to the stream as the stand-in's output is.
__attribute__((noinline)) int32_t encodeDirect(std::FILE* stream, const std::vector<int16_t>& pcm,
                                               int32_t sampleRate, int32_t bitRate,
                                               std::vector<unsigned char>* mp3) {
    lame_global_flags* lame = lame_init();
    if (lame == nullptr) return -1;
    lame_set_in_samplerate(lame, sampleRate);
    lame_set_num_channels(lame, 1);
    lame_set_out_samplerate(lame, 22050);
    lame_set_mode(lame, MONO);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, bitRate);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_quality(lame, LameQuality);
    int32_t total = -1;
    if (lame_init_params(lame) >= 0) {
        int produced =
            lame_encode_buffer(lame, pcm.data(), pcm.data(), static_cast<int>(pcm.size()),
                               mp3->data(), static_cast<int>(mp3->size()));
        int flushed = produced < 0 ? -1
                                   : lame_encode_flush(lame, mp3->data() + produced,
                                                       static_cast<int>(mp3->size()) - produced);
        if (flushed >= 0) {
            total = produced + flushed;
            std::fwrite(mp3->data(), 1, static_cast<size_t>(total), stream);
            std::fflush(stream);
        }
    }
    lame_close(lame);
    return total;
}

__attribute__((noinline)) int32_t encodeThroughStandIn(std::FILE* stream,
                                                       const std::vector<int16_t>& pcm,
                                                       int32_t sampleRate, int32_t bitRate) {
    return encodeEntry("bench", stream, sampleRate, pcm.data(),
                       static_cast<uint32_t>(pcm.size() * 2), bitRate);
}

bool prepare(benchmark::State& state) {
    if (speech().samples.empty()) {
        state.SkipWithError("samples/voice/z001.vud not readable");
        return false;
    }
    if (!encoderReady()) {
        state.SkipWithError("GOGO.DLL not found beside the program");
        return false;
    }
    return true;
}

void setSpeechCounters(benchmark::State& state) {
    double seconds = static_cast<double>(speech().samples.size()) / speech().sampleRate;
    state.counters["speech_s/s"] =
        benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_EncodeEntryThroughStandIn(benchmark::State& state) {
    if (!prepare(state)) return;
    OwnedFile sink = openFile("/dev/null", "wb");
    for (auto _ : state) {
        std::rewind(sink.get());
        benchmark::DoNotOptimize(encodeThroughStandIn(sink.get(), speech().samples,
                                                      static_cast<int32_t>(speech().sampleRate),
                                                      static_cast<int32_t>(state.range(0))));
    }
    setSpeechCounters(state);
}

void BM_EncodeLameDirect(benchmark::State& state) {
    if (!prepare(state)) return;
    OwnedFile sink = openFile("/dev/null", "wb");
    std::vector<unsigned char> mp3(speech().samples.size() * 5 / 4 + 7200);
    for (auto _ : state) {
        std::rewind(sink.get());
        benchmark::DoNotOptimize(encodeDirect(sink.get(), speech().samples,
                                              static_cast<int32_t>(speech().sampleRate),
                                              static_cast<int32_t>(state.range(0)), &mp3));
    }
    setSpeechCounters(state);
}

// Both ways in turn within each iteration, so that a noisy machine slows
// both alike; reports the binding's overhead in per cent of the direct call
// (from the fastest round of each, the least disturbed).
void BM_EncodeOverhead(benchmark::State& state) {
    if (!prepare(state)) return;
    OwnedFile sink = openFile("/dev/null", "wb");
    std::vector<unsigned char> mp3(speech().samples.size() * 5 / 4 + 7200);
    int32_t bitRate = static_cast<int32_t>(state.range(0));
    int32_t rate = static_cast<int32_t>(speech().sampleRate);
    double fastestDirect = 1e30, fastestStandIn = 1e30;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        encodeDirect(sink.get(), speech().samples, rate, bitRate, &mp3);
        auto t1 = std::chrono::steady_clock::now();
        encodeThroughStandIn(sink.get(), speech().samples, rate, bitRate);
        auto t2 = std::chrono::steady_clock::now();
        fastestDirect = std::min(fastestDirect, std::chrono::duration<double>(t1 - t0).count());
        fastestStandIn = std::min(fastestStandIn, std::chrono::duration<double>(t2 - t1).count());
    }
    state.counters["direct_ms"] = fastestDirect * 1000;
    state.counters["stand_in_ms"] = fastestStandIn * 1000;
    state.counters["overhead_%"] = (fastestStandIn / fastestDirect - 1) * 100;
}

}  // namespace

BENCHMARK(BM_EncodeEntryThroughStandIn)->Arg(8)->Arg(32)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLameDirect)->Arg(8)->Arg(32)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOverhead)->Arg(32)->Arg(160)->Unit(benchmark::kMillisecond)->MinTime(3);
