// vud-encoder-helper: one encoder of the program's encoder pool. It loads
// the encoder library the program names, then encodes the entries the
// program sends, one at a time, with the same entry encoding as the program
// itself, and sends each stream back. It ends when its input ends: when the
// program is done with it, or gone.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "encoder/helper_protocol.h"
#include "platform/child_process.h"
#include "platform/owned_file.h"
#include "platform/process.h"
#include "platform/scratch_file.h"
#include "platform/stop_signals.h"

namespace {

constexpr const char* ProgramName = "vud-encoder-helper";
constexpr size_t CopyChunkSize = 64 * 1024;

enum HelperExit : int {
    HelperDone = 0,        // the program closed the pipe
    HelperFailed = 1,      // no library or scratch stream, or a pipe broke mid-message
    HelperNotStarted = 2,  // started by hand
};

// Reads the Hello message and loads the library it names. The version
// number of the loaded library, or 0.
int32_t loadNamedLibrary() {
    uint8_t bytes[HelloHeaderSize];
    HelloHeader hello{};
    if (!parentPipeRead(bytes, sizeof bytes) || !unpackHelloHeader(bytes, &hello)) return 0;
    std::unique_ptr<char[]> path(new (std::nothrow) char[hello.pathLength + 1]);
    if (!path || !parentPipeRead(path.get(), hello.pathLength)) return 0;
    path[hello.pathLength] = '\0';
    return loadEncoderLibraryFrom(path.get());
}

bool sendReady(int32_t versionNumber) {
    uint8_t bytes[ReadyHeaderSize];
    packReadyHeader(ReadyHeader{versionNumber}, bytes);
    return parentPipeWrite(bytes, sizeof bytes);
}

bool sendStreamHeader(int32_t streamSize, bool labelReached) {
    uint8_t bytes[StreamHeaderSize];
    packStreamHeader(StreamHeader{streamSize, labelReached}, bytes);
    return parentPipeWrite(bytes, sizeof bytes);
}

// Sends the first byteCount bytes of the scratch file.
bool sendScratchBytes(std::FILE* scratch, int32_t byteCount) {
    if (!seekFile(scratch, 0, SEEK_SET)) return false;
    uint8_t chunk[CopyChunkSize];
    size_t left = static_cast<size_t>(byteCount);
    while (left > 0) {
        const size_t want = left < sizeof chunk ? left : sizeof chunk;
        if (std::fread(chunk, 1, want, scratch) != want) return false;
        if (!parentPipeWrite(chunk, want)) return false;
        left -= want;
    }
    return true;
}

// Serves one Entry message. false when the pipe ended or broke: the helper
// is done.
bool serveEntry(std::FILE* scratch) {
    uint8_t bytes[EntryHeaderSize];
    EntryHeader entry{};
    if (!parentPipeRead(bytes, sizeof bytes)) return false;
    if (!unpackEntryHeader(bytes, &entry)) return false;
    // One byte more than asked, so an empty entry still has an address.
    std::unique_ptr<uint8_t[]> pcm(new (std::nothrow) uint8_t[size_t{entry.pcmByteCount} + 1]);
    if (!pcm) {
        // The bytes must still be taken off the pipe before the answer.
        uint8_t discard[CopyChunkSize];
        size_t left = entry.pcmByteCount;
        while (left > 0) {
            const size_t take = left < sizeof discard ? left : sizeof discard;
            if (!parentPipeRead(discard, take)) return false;
            left -= take;
        }
        return sendStreamHeader(-1, false);
    }
    if (!parentPipeRead(pcm.get(), entry.pcmByteCount)) return false;

    int32_t streamSize = -1;
    entryEncodeState.labelShown = false;
    if (seekFile(scratch, 0, SEEK_SET)) {
        // The label goes to standard output, which points at the null device
        // here: the program shows its own, in table order.
        streamSize = encodeEntry("", scratch, entry.sampleRate, pcm.get(), entry.pcmByteCount,
                                 entry.bitRate);
    }
    pcm.reset();
    if (!sendStreamHeader(streamSize, entryEncodeState.labelShown)) return false;
    if (streamSize <= 0) return true;
    return sendScratchBytes(scratch, streamSize);
}

}  // namespace

int main() {
    // A program that is gone is seen as a failed write, not as a signal.
    ignoreWriteSignals();
    if (!takeParentPipes()) {
        std::fprintf(stderr,
                     "%s: a helper of the converter programs, started by them; it takes its "
                     "work from a pipe only\n",
                     ProgramName);
        return HelperNotStarted;
    }
    keepFreedMemoryForReuse();
    // The scratch stream is made before the helper says it is ready: a helper
    // without one (no writable temporary folder) is no use, and the program
    // falls back to encoding itself.
    OwnedFile scratch = openScratchFile();
    const int32_t versionNumber = scratch ? loadNamedLibrary() : 0;
    if (!sendReady(versionNumber) || versionNumber == 0) {
        unloadEncoderLibrary();
        return HelperFailed;
    }
    while (serveEntry(scratch.get())) {
    }
    unloadEncoderLibrary();
    return HelperDone;
}
