// Encoding one decoded entry through the encoder library.
#include "encoder/entry_encoding.h"

#include <cstdint>
#include <cstring>

#include "encoder/encoder_library.h"
#include "platform/console_text.h"

std::atomic<int32_t> bitRateSelection{InitialBitRateSelection};

EntryEncodeState entryEncodeState{};

namespace {

struct ItemRun {
    int32_t first;
    int32_t last;
};

// Set to 0 in this order; their answers are not examined.
constexpr ItemRun ZeroedItemRuns[] = {{MPGE_ITEM_ZEROED_LOW_FIRST, MPGE_ITEM_ZEROED_LOW_LAST},
                                      {MPGE_ITEM_ZEROED_HIGH_FIRST, MPGE_ITEM_ZEROED_HIGH_LAST}};

}  // namespace

int32_t pcmInputCallback(void* buffer, uint32_t size) {
    EntryEncodeState& state = entryEncodeState;
    if (state.pcmBytesLeft == 0) return 1;
    uint32_t n = state.pcmBytesLeft < size ? state.pcmBytesLeft : size;
    std::memcpy(buffer, state.pcmCursor, n);
    if (n < size) std::memset(static_cast<uint8_t*>(buffer) + n, 0, size - n);
    state.pcmCursor += n;
    state.pcmBytesLeft -= n;
    return 0;
}

int32_t mp3OutputCallback(void* data, uint32_t size) {
    EntryEncodeState& state = entryEncodeState;
    if (data == nullptr) return 0;
    if (size > static_cast<uint32_t>(INT32_MAX - state.mp3BytesWritten)) {
        state.writeFailed = true;
        return 0;
    }
    if (std::fwrite(data, 1, size, state.mp3Stream) != size) state.writeFailed = true;
    state.mp3BytesWritten += static_cast<int32_t>(size);
    return 0;
}

void showEntryLabel(const char* label) {
    consolePrint(stdout, "%s\r", label);
    std::fflush(stdout);
}

int32_t encodeEntry(const char* label, std::FILE* stream, int32_t sampleRate, const void* pcm,
                    uint32_t byteCount, int32_t bitRate) {
    const EncoderLibrary& library = encoderLibrary;
    // Never called without a library in the programs; a failed entry, not a
    // crash, if it ever is.
    if (library.module == nullptr) return -1;
    if (library.initializeWork() != 0) return -1;

    entryEncodeState =
        EntryEncodeState{static_cast<const uint8_t*>(pcm), byteCount, stream, 0, false, false};
    // The library may keep this address until MPGE_endCoder.
    PcmInputDescription input{pcmInputCallback, 0, 16, static_cast<uint32_t>(sampleRate), 1};

    if (library.setConfigure(MPGE_ITEM_INPUT, MPGE_THROUGH_CALLBACK, &input) != 0) return -1;
    if (library.setConfigure(MPGE_ITEM_OUTPUT, MPGE_THROUGH_CALLBACK,
                             reinterpret_cast<void*>(&mp3OutputCallback)) != 0) {
        return -1;
    }
    if (library.setConfigure(MPGE_ITEM_MODE, 0, nullptr) != 0) return -1;
    if (library.setConfigure(MPGE_ITEM_BITRATE, static_cast<uint32_t>(bitRate), nullptr) != 0) {
        return -1;
    }
    if (library.setConfigure(MPGE_ITEM_OUTPUT_RATE, EncoderOutputRate, nullptr) != 0) return -1;
    for (const ItemRun& run : ZeroedItemRuns) {
        for (int32_t item = run.first; item <= run.last; ++item) {
            library.setConfigure(item, 0, nullptr);
        }
    }

    if (library.detectConfigure() != 0) return -1;
    int32_t requestSize = 0;
    library.getConfigure(MPGE_ITEM_REQUEST_SIZE, &requestSize);

    showEntryLabel(label);
    entryEncodeState.labelShown = true;

    while (library.processFrame() == 0) {
    }
    library.closeCoder();
    library.endCoder();

    // The entry's bytes must be in the file, not only in the stream's buffer,
    // before its size is recorded: a failed write makes the entry fail.
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0) entryEncodeState.writeFailed = true;
    if (entryEncodeState.writeFailed) return -1;
    return entryEncodeState.mp3BytesWritten;
}
