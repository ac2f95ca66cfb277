// A recording encoder library for the tests: it follows the encoder
// contract, logs every call with its arguments and can be told to fail, to
// deliver streams of exact sizes, to wait, or to block at a gate.
#include "tests/fake_encoder/fake_encoder.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Failure {
    int32_t item;   // setConfigure item, else 0
    int32_t entry;  // 0: every entry
    int32_t frame;  // processFrame number, else 0
    int32_t result;
};

struct PlannedOutput {
    bool withData;
    uint32_t offset;  // stream offset of the first byte
    uint32_t size;
};

struct FakeState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FakeCall> calls;
    int32_t entry = 0;
    std::vector<Failure> initializeFailures, settingFailures, detectFailures, frameFailures;
    std::deque<uint32_t> streamSizes;
    uint32_t frameBytes = 104;
    uint32_t nullOutputSize = 417;
    uint32_t requestSize = 1152;
    int32_t delayEntry = -1;
    int32_t delayMs = 0;
    int32_t gateEntry = 0;
    bool gateBlocked = false;
    bool gateReleased = false;
    int32_t versionNumber = 1;
    char versionText[260] = "fake encoder 1.0";
    int32_t untouchedViolations = 0;
    // The entry in progress.
    const PcmInputDescription* input = nullptr;
    MpgeOutputCallback output = nullptr;
    int32_t frames = 0;
    bool hasStreamSize = false;
    uint32_t streamSize = 0;
    uint32_t streamOffset = 0;
    bool finished = false;
    std::vector<uint8_t> receivedPcm;
};

FakeState& fake() {
    static FakeState state;
    return state;
}

// The gate a test sets for a program it runs as a child, from
// FAKE_ENCODER_CHILD_GATE="ENTRY:NOTIFY_FD:RELEASE_FD". Entry 0: none.
struct ChildGate {
    int32_t entry = 0;
    int notifyFd = -1;
    int releaseFd = -1;
};

ChildGate readChildGate() {
    ChildGate gate;
    const char* text = std::getenv("FAKE_ENCODER_CHILD_GATE");
    if (text == nullptr ||
        std::sscanf(text, "%d:%d:%d", &gate.entry, &gate.notifyFd, &gate.releaseFd) != 3) {
        return ChildGate{};
    }
    return gate;
}

// Tells the test through the notify descriptor, then waits until it writes a
// byte to the release descriptor or closes it.
void passChildGate(int32_t entry) {
    static const ChildGate gate = readChildGate();
    if (gate.entry == 0 || gate.entry != entry) return;
    const char mark = 'b';
    while (write(gate.notifyFd, &mark, 1) < 0 && errno == EINTR) {
    }
    char answer = 0;
    while (read(gate.releaseFd, &answer, 1) < 0 && errno == EINTR) {
    }
}

// A fault a test sets for the encoder helpers of a program it runs, which
// no control of this library reaches: FAKE_ENCODER_CHILD_FAULT="abort:N"
// (the process aborts at its N-th entry), "hang:N" (it never returns from
// its N-th entry), "delay:MS" (every entry takes MS milliseconds more) or
// "refuse:N" (MPGE_detectConfigure refuses its N-th entry and every later one).
struct ChildFault {
    char kind[8] = {};
    int32_t value = 0;
};

ChildFault readChildFault() {
    ChildFault fault;
    const char* text = std::getenv("FAKE_ENCODER_CHILD_FAULT");
    if (text == nullptr || std::sscanf(text, "%7[a-z]:%d", fault.kind, &fault.value) != 2) {
        return ChildFault{};
    }
    return fault;
}

void applyChildFault(int32_t entry) {
    static const ChildFault fault = readChildFault();
    if (std::strcmp(fault.kind, "delay") == 0 && fault.value > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(fault.value));
    } else if (std::strcmp(fault.kind, "abort") == 0 && fault.value == entry) {
        std::abort();
    } else if (std::strcmp(fault.kind, "hang") == 0 && fault.value == entry) {
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

const Failure* findFailure(const std::vector<Failure>& failures, int32_t item, int32_t entry,
                           int32_t frame) {
    for (const Failure& failure : failures) {
        if (failure.item == item && failure.frame == frame &&
            (failure.entry == 0 || failure.entry == entry)) {
            return &failure;
        }
    }
    return nullptr;
}

// Appends a call under the lock and returns its index.
size_t logCall(FakeState& state, int32_t kind, int32_t item = 0, uint32_t value = 0,
               void* pointer = nullptr, int32_t result = 0) {
    FakeCall call{};
    call.kind = kind;
    call.entry = state.entry;
    call.item = item;
    call.value = value;
    call.pointer = pointer;
    call.result = result;
    state.calls.push_back(call);
    return state.calls.size() - 1;
}

int32_t simpleCall(int32_t kind, int32_t result) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    logCall(state, kind, 0, 0, nullptr, result);
    return result;
}

int32_t entryFailure(const std::vector<Failure>& failures, int32_t kind) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Failure* failure = findFailure(failures, 0, state.entry, 0);
    int32_t result = failure != nullptr ? failure->result : 0;
    logCall(state, kind, 0, 0, nullptr, result);
    return result;
}

void fillStream(int32_t entry, uint32_t offset, uint32_t size, std::vector<uint8_t>* bytes) {
    bytes->resize(size);
    for (uint32_t i = 0; i < size; ++i) (*bytes)[i] = fakeEncoderStreamByte(entry, offset + i);
}

}  // namespace

extern "C" {

MPGE_EXPORT int32_t MPGE_initializeWork(void) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.entry;
    state.input = nullptr;
    state.output = nullptr;
    state.frames = 0;
    state.streamOffset = 0;
    state.finished = false;
    state.receivedPcm.clear();
    state.hasStreamSize = !state.streamSizes.empty();
    state.streamSize = state.hasStreamSize ? state.streamSizes.front() : 0;
    if (state.hasStreamSize) state.streamSizes.pop_front();
    const Failure* failure = findFailure(state.initializeFailures, 0, state.entry, 0);
    int32_t result = failure != nullptr ? failure->result : 0;
    logCall(state, FakeInitializeWork, 0, 0, nullptr, result);
    return result;
}

MPGE_EXPORT int32_t MPGE_setConfigure(int32_t item, uint32_t value, void* pointer) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Failure* failure = findFailure(state.settingFailures, item, state.entry, 0);
    int32_t result = failure != nullptr ? failure->result : 0;
    size_t index = logCall(state, FakeSetConfigure, item, value, pointer, result);
    if (item == MPGE_ITEM_INPUT && pointer != nullptr) {
        state.calls[index].input = *static_cast<const PcmInputDescription*>(pointer);
    }
    if (result != 0) return result;
    if (item == MPGE_ITEM_INPUT) state.input = static_cast<const PcmInputDescription*>(pointer);
    if (item == MPGE_ITEM_OUTPUT) state.output = reinterpret_cast<MpgeOutputCallback>(pointer);
    return 0;
}

MPGE_EXPORT int32_t MPGE_getConfigure(int32_t item, void* value) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    int32_t result = item == MPGE_ITEM_REQUEST_SIZE && value != nullptr ? 0 : 1;
    if (result == 0) {
        int32_t size = static_cast<int32_t>(state.requestSize);
        std::memcpy(value, &size, sizeof size);
    }
    logCall(state, FakeGetConfigure, item, 0, value, result);
    return result;
}

MPGE_EXPORT int32_t MPGE_detectConfigure(void) {
    static const ChildFault fault = readChildFault();
    if (std::strcmp(fault.kind, "refuse") == 0 && fault.value >= 1 &&
        fakeEncoderEntryCount() >= fault.value) {
        return simpleCall(FakeDetectConfigure, 1);
    }
    return entryFailure(fake().detectFailures, FakeDetectConfigure);
}

MPGE_EXPORT int32_t MPGE_processFrame(void) {
    FakeState& state = fake();
    std::unique_lock<std::mutex> lock(state.mutex);
    size_t index = logCall(state, FakeProcessFrame);
    int32_t entry = state.entry;
    int32_t frame = ++state.frames;
    const Failure* failure = findFailure(state.frameFailures, 0, entry, frame);
    int32_t early = 0;
    if (failure != nullptr) early = failure->result;
    if (state.input == nullptr || state.output == nullptr || state.finished) early = 2;
    if (early != 0) {
        state.calls[index].result = early;
        return early;
    }
    int32_t delayMs =
        (frame == 1 && (state.delayEntry == 0 || state.delayEntry == entry)) ? state.delayMs : 0;
    if (frame == 1 && state.gateEntry == entry && !state.gateReleased) {
        state.gateBlocked = true;
        state.changed.notify_all();
        state.changed.wait(lock, [&state] { return state.gateReleased; });
        state.gateBlocked = false;
    }
    MpgeInputCallback input = state.input->callback;
    MpgeOutputCallback output = state.output;
    uint32_t requestSize = state.requestSize;
    lock.unlock();

    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    if (frame == 1) {
        passChildGate(entry);
        applyChildFault(entry);
    }
    std::vector<uint8_t> buffer(requestSize, 0xA5);
    int32_t answer = input(buffer.data(), requestSize);

    lock.lock();
    logCall(state, FakeInputCallback, 0, requestSize, nullptr, answer);
    std::vector<PlannedOutput> planned;
    if (answer == 0) {
        state.receivedPcm.insert(state.receivedPcm.end(), buffer.begin(), buffer.end());
        uint32_t share = state.frameBytes;
        if (state.hasStreamSize) {
            uint32_t left = state.streamSize - state.streamOffset;
            if (share > left) share = left;
        }
        if (share > 0) planned.push_back({true, state.streamOffset, share});
        state.streamOffset += share;
    } else {
        for (uint8_t byte : buffer) {
            if (byte != 0xA5) {
                ++state.untouchedViolations;
                break;
            }
        }
        planned.push_back({false, 0, state.nullOutputSize});
        uint32_t rest = state.hasStreamSize ? state.streamSize - state.streamOffset : 0;
        uint32_t half = rest / 2;
        if (half > 0) planned.push_back({true, state.streamOffset, half});
        if (rest - half > 0) planned.push_back({true, state.streamOffset + half, rest - half});
        state.streamOffset += rest;
        state.finished = true;
    }
    lock.unlock();

    std::vector<uint8_t> bytes;
    for (const PlannedOutput& part : planned) {
        void* data = nullptr;
        if (part.withData) {
            fillStream(entry, part.offset, part.size, &bytes);
            data = bytes.data();
        }
        int32_t reply = output(data, part.size);
        lock.lock();
        logCall(state, FakeOutputCallback, 0, part.size, data, reply);
        lock.unlock();
    }

    int32_t result = answer == 0 ? 0 : 1;
    lock.lock();
    state.calls[index].result = result;
    return result;
}

MPGE_EXPORT int32_t MPGE_closeCoder(void) {
    return simpleCall(FakeCloseCoder, 0);
}

MPGE_EXPORT int32_t MPGE_endCoder(void) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.input = nullptr;
    state.output = nullptr;
    logCall(state, FakeEndCoder);
    return 0;
}

MPGE_EXPORT int32_t MPGE_getUnitStates(void*) {
    return simpleCall(FakeGetUnitStates, -1);
}

#ifndef FAKE_ENCODER_OMIT_PROCESS_TRACK
MPGE_EXPORT int32_t MPGE_processTrack(void*) {
    return simpleCall(FakeProcessTrack, -1);
}
#endif

MPGE_EXPORT int32_t MPGE_getVersion(int32_t* versionNumber, char* versionText) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    logCall(state, FakeGetVersion);
    if (versionNumber != nullptr) *versionNumber = state.versionNumber;
    if (versionText != nullptr)
        std::memcpy(versionText, state.versionText, sizeof state.versionText);
    return 0;
}

void fakeEncoderReset(void) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.clear();
    state.entry = 0;
    state.initializeFailures.clear();
    state.settingFailures.clear();
    state.detectFailures.clear();
    state.frameFailures.clear();
    state.streamSizes.clear();
    state.frameBytes = 104;
    state.nullOutputSize = 417;
    state.requestSize = 1152;
    state.delayEntry = -1;
    state.delayMs = 0;
    state.gateEntry = 0;
    state.gateReleased = true;  // lets a call still waiting at an old gate go on
    state.changed.notify_all();
    state.versionNumber = 1;
    std::memset(state.versionText, 0, sizeof state.versionText);
    std::strcpy(state.versionText, "fake encoder 1.0");
    state.untouchedViolations = 0;
    state.input = nullptr;
    state.output = nullptr;
    state.frames = 0;
    state.hasStreamSize = false;
    state.streamSize = 0;
    state.streamOffset = 0;
    state.finished = false;
    state.receivedPcm.clear();
}

int32_t fakeEncoderCallCount(void) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    return static_cast<int32_t>(state.calls.size());
}

int32_t fakeEncoderGetCall(int32_t index, FakeCall* call) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (index < 0 || static_cast<size_t>(index) >= state.calls.size() || call == nullptr) {
        return -1;
    }
    *call = state.calls[static_cast<size_t>(index)];
    return 0;
}

int32_t fakeEncoderEntryCount(void) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.entry;
}

void fakeEncoderFailInitialize(int32_t entry, int32_t result) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.initializeFailures.push_back({0, entry, 0, result});
}

void fakeEncoderFailSetting(int32_t item, int32_t entry, int32_t result) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.settingFailures.push_back({item, entry, 0, result});
}

void fakeEncoderFailDetect(int32_t entry, int32_t result) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.detectFailures.push_back({0, entry, 0, result});
}

void fakeEncoderFailFrame(int32_t entry, int32_t frame, int32_t result) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.frameFailures.push_back({0, entry, frame, result});
}

void fakeEncoderQueueStreamSize(uint32_t bytes) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.streamSizes.push_back(bytes);
}

uint8_t fakeEncoderStreamByte(int32_t entry, uint32_t offset) {
    return static_cast<uint8_t>(entry * 37 + offset * 7 + (offset >> 8));
}

void fakeEncoderSetFrameBytes(uint32_t bytes) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.frameBytes = bytes;
}

void fakeEncoderSetNullOutputSize(uint32_t size) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.nullOutputSize = size;
}

void fakeEncoderSetRequestSize(uint32_t bytes) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.requestSize = bytes;
}

uint32_t fakeEncoderReceivedPcm(uint8_t* buffer, uint32_t capacity) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    uint32_t total = static_cast<uint32_t>(state.receivedPcm.size());
    uint32_t copied = total < capacity ? total : capacity;
    if (copied > 0 && buffer != nullptr) std::memcpy(buffer, state.receivedPcm.data(), copied);
    return total;
}

int32_t fakeEncoderUntouchedViolations(void) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.untouchedViolations;
}

void fakeEncoderSetDelay(int32_t entry, int32_t ms) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.delayEntry = entry;
    state.delayMs = ms;
}

void fakeEncoderBlockAtEntry(int32_t entry) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.gateEntry = entry;
    state.gateReleased = false;
}

int32_t fakeEncoderWaitUntilBlocked(int32_t timeoutMs) {
    FakeState& state = fake();
    std::unique_lock<std::mutex> lock(state.mutex);
    bool blocked = state.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [&state] { return state.gateBlocked; });
    return blocked ? 1 : 0;
}

void fakeEncoderRelease(void) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.gateReleased = true;
    state.changed.notify_all();
}

void fakeEncoderSetVersion(int32_t number, const char* text) {
    FakeState& state = fake();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.versionNumber = number;
    std::memset(state.versionText, 0, sizeof state.versionText);
    if (text != nullptr) std::strncpy(state.versionText, text, sizeof state.versionText - 1);
}

}  // extern "C"
