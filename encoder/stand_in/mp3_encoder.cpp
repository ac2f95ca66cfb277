// The stand-in encoder library GOGO.DLL: the ten MPGE_ entry points of
// encoder/mpge.h over libmp3lame. One process-wide encoder state, no handle;
// one entry at a time: initializeWork, settings, detectConfigure,
// processFrame until nonzero, closeCoder, endCoder.
#include <lame/lame.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "encoder/mpge.h"

namespace {

constexpr int32_t StandInVersionNumber = 100;  // 1.00
constexpr const char* StandInName = "VUD stand-in encoder 1.0";

// LAME's algorithm quality (0 best and slowest, 9 fastest). 5 is LAME's own
// default balance: psychoacoustic model and noise shaping on, the costly
// refinements off. On the sample speech (9.9 s at 32 kbit/s) 5 took 61 ms,
// 2 took 112 ms and 0 330 ms; 7 took 40 ms but switches noise shaping off,
// which is what keeps the quantisation noise under speech at low rates.
// At about 160 times real time the encoder is nowhere near the bottleneck.
constexpr int LameQuality = 5;

// Results. Every refusal or failure is nonzero, as the contract asks.
constexpr int32_t Accepted = 0;
constexpr int32_t Refused = 1;
constexpr int32_t OutOfOrder = 2;
constexpr int32_t EncoderFailed = 3;
constexpr int32_t NotSupported = 4;
constexpr int32_t StreamEnded = 1;  // processFrame: the last bytes are out

// Input the encoder resamples from.
constexpr uint32_t MinimumInputRate = 8000;
constexpr uint32_t MaximumInputRate = 192000;

constexpr int32_t Mpeg1BitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int32_t Mpeg2BitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int32_t Mp3SampleRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// Largest input request: 576 output samples per frame below 32 kHz, so
// 576 * 192000 / 8000 input samples, two channels.
constexpr uint32_t MaximumRequestSamples = 576 * (MaximumInputRate / 8000) * 2;
// LAME's worst case for one call: 1.25 bytes per sample plus 7200.
constexpr uint32_t Mp3AreaBytes = MaximumRequestSamples * 5 / 4 + 7200;

enum class Phase {
    Idle,         // no entry; initializeWork starts one
    Configuring,  // initializeWork done, settings accepted
    Encoding,     // detectConfigure done
    Finished,     // the stream was flushed and handed over
    Failed,       // the encoder or the input failed; nothing more is encoded
};

struct CoderState {
    Phase phase;
    lame_global_flags* lame;
    bool inputSet;
    PcmInputDescription input;
    MpgeOutputCallback output;
    int32_t bitRate;
    int32_t outputRate;
    uint32_t requestSamples;  // per channel
    uint32_t requestBytes;
};

CoderState coder{};
int16_t pcmArea[MaximumRequestSamples];
unsigned char mp3Area[Mp3AreaBytes];

template <size_t N>
bool listed(const int32_t (&values)[N], int32_t value) {
    for (int32_t listedValue : values) {
        if (listedValue == value) return true;
    }
    return false;
}

void releaseEncoder() {
    if (coder.lame != nullptr) lame_close(coder.lame);
    coder = CoderState{};
}

// Hands the encoder's last frames to the output callback.
int32_t flushEncoder() {
    int produced = lame_encode_flush(coder.lame, mp3Area, static_cast<int>(sizeof mp3Area));
    if (produced < 0) {
        coder.phase = Phase::Failed;
        return EncoderFailed;
    }
    if (produced > 0) coder.output(mp3Area, static_cast<uint32_t>(produced));
    coder.phase = Phase::Finished;
    return StreamEnded;
}

int32_t encodeRequest() {
    if constexpr (std::endian::native == std::endian::big) {
        for (uint32_t i = 0; i < coder.requestSamples * coder.input.channels; ++i) {
            uint16_t sample = static_cast<uint16_t>(pcmArea[i]);
            pcmArea[i] = static_cast<int16_t>(static_cast<uint16_t>((sample << 8) | (sample >> 8)));
        }
    }
    int samples = static_cast<int>(coder.requestSamples);
    int produced = coder.input.channels == 2
                       ? lame_encode_buffer_interleaved(coder.lame, pcmArea, samples, mp3Area,
                                                        static_cast<int>(sizeof mp3Area))
                       : lame_encode_buffer(coder.lame, pcmArea, pcmArea, samples, mp3Area,
                                            static_cast<int>(sizeof mp3Area));
    if (produced < 0) {
        coder.phase = Phase::Failed;
        return EncoderFailed;
    }
    if (produced > 0) coder.output(mp3Area, static_cast<uint32_t>(produced));
    return Accepted;
}

int32_t acceptInput(uint32_t value, const void* pointer) {
    if (value != MPGE_THROUGH_CALLBACK || pointer == nullptr) return Refused;
    PcmInputDescription input;
    std::memcpy(&input, pointer, sizeof input);
    if (input.callback == nullptr || input.bitsPerSample != 16) return Refused;
    if (input.channels != 1 && input.channels != 2) return Refused;
    if (input.sampleRate < MinimumInputRate || input.sampleRate > MaximumInputRate) return Refused;
    coder.input = input;
    coder.inputSet = true;
    return Accepted;
}

// Sets coder.lame up for the configured entry and sizes one input request;
// false when LAME does not take the settings.
bool prepareEncoder() {
    lame_global_flags* lame = coder.lame;
    lame_set_in_samplerate(lame, static_cast<int>(coder.input.sampleRate));
    lame_set_num_channels(lame, static_cast<int>(coder.input.channels));
    lame_set_out_samplerate(lame, coder.outputRate);
    lame_set_mode(lame, MONO);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, coder.bitRate);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_quality(lame, LameQuality);
    if (lame_init_params(lame) < 0) return false;
    if (lame_get_out_samplerate(lame) != coder.outputRate ||
        lame_get_brate(lame) != coder.bitRate || lame_get_VBR(lame) != vbr_off) {
        return false;
    }

    // One request is the input that makes one output frame, rounded up.
    uint64_t frameSamples = static_cast<uint64_t>(lame_get_framesize(lame));
    uint64_t samples = (frameSamples * coder.input.sampleRate + coder.outputRate - 1) /
                       static_cast<uint64_t>(coder.outputRate);
    if (samples == 0 || samples * coder.input.channels > MaximumRequestSamples) return false;
    coder.requestSamples = static_cast<uint32_t>(samples);
    coder.requestBytes = coder.requestSamples * coder.input.channels * 2;
    return true;
}

// The state of an entry still open when the library is unloaded (or the
// process ends) is released with it.
__attribute__((destructor)) void releaseAtUnload() {
    releaseEncoder();
}

}  // namespace

extern "C" {

MPGE_EXPORT int32_t MPGE_CALL MPGE_initializeWork(void) {
    // An entry abandoned before MPGE_endCoder is released here.
    releaseEncoder();
    coder.phase = Phase::Configuring;
    return Accepted;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_setConfigure(int32_t item, uint32_t value, void* pointer) {
    if (coder.phase != Phase::Configuring) return OutOfOrder;
    switch (item) {
        case MPGE_ITEM_INPUT:
            return acceptInput(value, pointer);
        case MPGE_ITEM_OUTPUT:
            if (value != MPGE_THROUGH_CALLBACK || pointer == nullptr) return Refused;
            coder.output = reinterpret_cast<MpgeOutputCallback>(pointer);
            return Accepted;
        case MPGE_ITEM_BITRATE: {
            int32_t bitRate = static_cast<int32_t>(value);
            if (value > 320 ||
                !(listed(Mpeg1BitRates, bitRate) || listed(Mpeg2BitRates, bitRate))) {
                return Refused;
            }
            coder.bitRate = bitRate;
            return Accepted;
        }
        case MPGE_ITEM_OUTPUT_RATE: {
            int32_t rate = static_cast<int32_t>(value);
            if (value > 48000 || !listed(Mp3SampleRates, rate)) return Refused;
            coder.outputRate = rate;
            return Accepted;
        }
        case MPGE_ITEM_MODE:
            return value == 0 ? Accepted : Refused;
    }
    // Settings the encoder has no use for: only their value 0 is taken.
    const bool zeroed = (item >= MPGE_ITEM_ZEROED_LOW_FIRST && item <= MPGE_ITEM_ZEROED_LOW_LAST) ||
                        (item >= MPGE_ITEM_ZEROED_HIGH_FIRST && item <= MPGE_ITEM_ZEROED_HIGH_LAST);
    if (zeroed) return value == 0 ? Accepted : Refused;
    return Refused;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_getConfigure(int32_t item, void* value) {
    if (item != MPGE_ITEM_REQUEST_SIZE || value == nullptr) return Refused;
    if (coder.phase != Phase::Encoding) return OutOfOrder;
    int32_t requestBytes = static_cast<int32_t>(coder.requestBytes);
    std::memcpy(value, &requestBytes, sizeof requestBytes);
    return Accepted;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_detectConfigure(void) {
    if (coder.phase != Phase::Configuring) return OutOfOrder;
    if (!coder.inputSet || coder.output == nullptr || coder.bitRate == 0 || coder.outputRate == 0) {
        return Refused;
    }
    // The bit rate must be in the table of the MPEG version of the output rate.
    bool mpeg1 = coder.outputRate >= 32000;
    if (!listed(mpeg1 ? Mpeg1BitRates : Mpeg2BitRates, coder.bitRate)) return Refused;

    // The encoder exists only from here on: an entry whose settings were
    // refused (its caller gives up without MPGE_endCoder) holds nothing.
    coder.lame = lame_init();
    if (coder.lame == nullptr) return EncoderFailed;
    if (!prepareEncoder()) {
        lame_close(coder.lame);
        coder.lame = nullptr;
        return Refused;
    }
    coder.phase = Phase::Encoding;
    return Accepted;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_processFrame(void) {
    switch (coder.phase) {
        case Phase::Encoding:
            break;
        case Phase::Finished:
            return StreamEnded;
        case Phase::Idle:
        case Phase::Configuring:
        case Phase::Failed:
            return OutOfOrder;
    }
    int32_t answer = coder.input.callback(pcmArea, coder.requestBytes);
    if (answer == 0) return encodeRequest();
    if (answer == 1) return flushEncoder();
    coder.phase = Phase::Failed;
    return Refused;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_closeCoder(void) {
    // A stream stopped before its end still gets its buffered frames.
    int32_t result = Accepted;
    if (coder.phase == Phase::Encoding && flushEncoder() != StreamEnded) result = EncoderFailed;
    if (coder.lame != nullptr) lame_close(coder.lame);
    coder.lame = nullptr;
    return result;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_endCoder(void) {
    releaseEncoder();
    return Accepted;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_getUnitStates(void*) {
    return NotSupported;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_processTrack(void*) {
    return NotSupported;
}

MPGE_EXPORT int32_t MPGE_CALL MPGE_getVersion(int32_t* versionNumber, char* versionText) {
    if (versionNumber != nullptr) *versionNumber = StandInVersionNumber;
    if (versionText != nullptr) {
        std::snprintf(versionText, 260, "%s (LAME %s)", StandInName, get_lame_version());
    }
    return Accepted;
}

}  // extern "C"
