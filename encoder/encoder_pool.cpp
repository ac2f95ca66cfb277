// The number of encoders a run uses, and the pool of helper processes that
// encode with N > 1.
#include "encoder/encoder_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "encoder/encoder_library.h"
#include "encoder/helper_protocol.h"
#include "platform/child_process.h"
#include "platform/dynamic_library.h"
#include "platform/install_layout.h"
#include "platform/path_limits.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace {

std::atomic<int32_t> jobCount{1};

}  // namespace

void setEncoderJobCount(int32_t jobs) {
    if (jobs < 1) jobs = 1;
    if (jobs > MaxEncoderJobs) jobs = MaxEncoderJobs;
    jobCount.store(jobs);
}

int32_t encoderJobCount() {
    return jobCount.load();
}

int32_t parseEncoderJobCount(const char* text) {
    if (text == nullptr || text[0] == '\0') return 0;
    int32_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        value = value * 10 + (*c - '0');
        if (value > MaxEncoderJobs) return 0;
    }
    return value;
}

int32_t defaultEncoderJobCount() {
    const int32_t chosen = parseEncoderJobCount(std::getenv("VUD_JOBS"));
    if (chosen >= 1) return chosen;
    const int32_t processors = availableProcessorCount();
    return processors > MaxEncoderJobs ? MaxEncoderJobs : processors;
}

// The pool: one thread per helper does that helper's blocking I/O; the
// worker hands entries in and takes streams out in table order.
namespace {

constexpr uint32_t HelperReleaseGraceMilliseconds = 2000;
constexpr auto CheckInterval = std::chrono::milliseconds(50);
// A wait between two looks at the clock longer than this was no wait of
// this program: it was stopped (Ctrl-Z, a debugger) or not run at all, and
// its helpers with it. Such a gap is not counted against a helper.
constexpr int64_t LongestCountedGapMilliseconds = 1000;
// Test settings, in milliseconds: the answer base, and the start's bound.
constexpr const char* TestAnswerBaseVariable = "VUD_TEST_HELPER_LIMIT_MS";
constexpr const char* TestStartBoundVariable = "VUD_TEST_HELPER_START_MS";

enum class JobState : int32_t {
    Empty,     // no entry in this slot
    Waiting,   // handed in, not yet taken by a helper
    Encoding,  // a helper has it
    Done,      // its stream (or failure) is back
};

struct Job {
    int64_t sequence = -1;
    JobState state = JobState::Empty;
    PooledEntry entry{};
    PooledStream stream{};
    int32_t helper = -1;
    int64_t limitMilliseconds = 0;    // the helper's time allowed for its answer
    int64_t countedMilliseconds = 0;  // the helper's time counted so far
    int64_t sentAt = 0;               // awakeMilliseconds() when a helper took it
};

enum : int32_t { NoAnswerYet = -1 };

struct Helper {
    int32_t index = 0;
    OwnedChildProcess child;
    ThreadHandle thread = nullptr;
    int32_t readyVersion = NoAnswerYet;  // the library version it loaded; 0: not usable
    bool alive = false;                  // its pipes work; false once one broke
    bool busy = false;  // blocked on its pipes: awaiting its first answer or an entry's
};

struct Pool {
    std::mutex mutex;
    std::condition_variable changed;
    std::unique_ptr<Job[]> ring;
    int32_t capacity = 0;
    // Sequence numbers: [taken, nextToSend) are with helpers or done,
    // [nextToSend, submitted) wait.
    int64_t taken = 0;
    int64_t nextToSend = 0;
    int64_t submitted = 0;
    Helper helpers[MaxEncoderJobs];
    int32_t helperCount = 0;
    int32_t liveHelpers = 0;
    bool serving = false;  // every helper answered: they take entries
    bool stopping = false;
    int64_t lastLook = 0;                // awakeMilliseconds() when the clock was last read
    int64_t answerBaseMilliseconds = 0;  // of this pool's run
};

std::unique_ptr<Pool> pool;
char helperPathOverride[PathCapacity] = {};
std::atomic<uint32_t> answerBaseMilliseconds{EncoderHelperAnswerBaseMilliseconds};

Job& slotOf(Pool& p, int64_t sequence) {
    return p.ring[static_cast<size_t>(sequence % p.capacity)];
}

// The time since the last look that counts as the helpers' own: none when
// it was a gap in which this program did not run.
int64_t countedSinceLastLook(Pool& p) {
    const int64_t now = awakeMilliseconds();
    const int64_t elapsed = now - p.lastLook;
    p.lastLook = now;
    return elapsed >= 0 && elapsed <= LongestCountedGapMilliseconds ? elapsed : 0;
}

// Counts the time since the last look toward every entry a helper has.
void countHelperTime(Pool& p) {
    const int64_t counted = countedSinceLastLook(p);
    for (int64_t sequence = p.taken; sequence < p.nextToSend; ++sequence) {
        Job& job = slotOf(p, sequence);
        if (job.state != JobState::Encoding) continue;
        // An entry taken since the last look counts only its own time.
        const int64_t own = p.lastLook - job.sentAt;
        job.countedMilliseconds += own < counted ? (own > 0 ? own : 0) : counted;
    }
}

// The test setting in variable, or fallback.
uint32_t millisecondsSetting(const char* variable, uint32_t fallback) {
    const char* text = std::getenv(variable);
    if (text == nullptr || text[0] == '\0') return fallback;
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
}

bool helperProgramPath(char* buffer, int32_t capacity) {
    if (helperPathOverride[0] != '\0') {
        return std::snprintf(buffer, static_cast<size_t>(capacity), "%s", helperPathOverride) <
               capacity;
    }
    return installedFilePath(HelperFolderFromPrograms, EncoderHelperFileName, buffer, capacity);
}

bool sendHello(ChildProcess* child, const char* libraryPath) {
    const size_t length = std::strlen(libraryPath);
    if (length < 1 || length > HelloPathLimit) return false;
    uint8_t bytes[HelloHeaderSize];
    packHelloHeader(HelloHeader{static_cast<uint32_t>(length)}, bytes);
    return childProcessWrite(child, bytes, sizeof bytes) &&
           childProcessWrite(child, libraryPath, length);
}

int32_t readReady(ChildProcess* child) {
    uint8_t bytes[ReadyHeaderSize];
    ReadyHeader ready{};
    if (!childProcessRead(child, bytes, sizeof bytes) || !unpackReadyHeader(bytes, &ready)) {
        return 0;
    }
    return ready.versionNumber;
}

// Takes a stream's bytes off the pipe without keeping them.
bool skipBytes(ChildProcess* child, size_t byteCount) {
    uint8_t chunk[64 * 1024];
    while (byteCount > 0) {
        const size_t take = byteCount < sizeof chunk ? byteCount : sizeof chunk;
        if (!childProcessRead(child, chunk, take)) return false;
        byteCount -= take;
    }
    return true;
}

// Sends one entry and reads its stream. false when a pipe broke or the
// answer made no sense: the helper is of no further use.
bool exchangeEntry(ChildProcess* child, PooledEntry* entry, PooledStream* stream) {
    uint8_t header[EntryHeaderSize];
    packEntryHeader(EntryHeader{entry->sampleRate, entry->bitRate, entry->byteCount}, header);
    const bool sent = childProcessWrite(child, header, sizeof header) &&
                      childProcessWrite(child, entry->samples.get(), entry->byteCount);
    // The helper holds its own copy now.
    entry->samples.reset();
    if (!sent) return false;

    uint8_t answer[StreamHeaderSize];
    StreamHeader reply{};
    if (!childProcessRead(child, answer, sizeof answer) || !unpackStreamHeader(answer, &reply)) {
        return false;
    }
    stream->size = reply.streamSize;
    stream->labelReached = reply.labelReached;
    if (reply.streamSize <= 0) return true;
    // A stream the archive cannot hold is never held in memory either.
    if (reply.streamSize > entry->streamLimit) {
        return skipBytes(child, static_cast<size_t>(reply.streamSize));
    }
    stream->bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(reply.streamSize)]);
    if (!stream->bytes) return false;
    return childProcessRead(child, stream->bytes.get(), static_cast<size_t>(reply.streamSize));
}

// Waits for the helper's first answer, then for the start to let the
// helpers serve. false when the pool stops first.
bool awaitServing(Pool& p, Helper& helper) {
    const int32_t version = readReady(helper.child.get());
    std::unique_lock<std::mutex> lock(p.mutex);
    helper.readyVersion = version;
    helper.busy = false;
    p.changed.notify_all();
    p.changed.wait(lock, [&p] { return p.stopping || p.serving; });
    return !p.stopping;
}

int32_t helperThread(void* argument) {
    Helper& helper = *static_cast<Helper*>(argument);
    Pool& p = *pool;
    if (!awaitServing(p, helper)) return 0;
    for (;;) {
        int64_t sequence = 0;
        PooledEntry entry{};
        {
            std::unique_lock<std::mutex> lock(p.mutex);
            p.changed.wait(lock, [&p] { return p.stopping || p.nextToSend < p.submitted; });
            if (p.stopping) break;
            sequence = p.nextToSend++;
            Job& job = slotOf(p, sequence);
            job.state = JobState::Encoding;
            job.helper = helper.index;
            job.sentAt = awakeMilliseconds();
            // Moved out under the lock: a discard may reuse the slot meanwhile.
            entry = std::move(job.entry);
            helper.busy = true;
        }
        PooledStream stream{nullptr, -1, false};
        const bool working = exchangeEntry(helper.child.get(), &entry, &stream);
        if (!working) stream = PooledStream{nullptr, -1, false};

        std::lock_guard<std::mutex> lock(p.mutex);
        helper.busy = false;
        Job& job = slotOf(p, sequence);
        if (job.sequence == sequence && job.state == JobState::Encoding) {
            job.stream = std::move(stream);
            job.state = JobState::Done;
        }
        if (!working) {
            helper.alive = false;
            p.liveHelpers -= 1;
        }
        p.changed.notify_all();
        if (!working) break;
    }
    return 0;
}

// Waits until every helper has answered, within the start's bound. true
// when every one loaded the program's library.
bool awaitHelpersReady(Pool& p, bool (*giveUp)(void*), void* context) {
    const int64_t bound =
        millisecondsSetting(TestStartBoundVariable, EncoderHelperStartMilliseconds);
    int64_t waited = 0;
    std::unique_lock<std::mutex> lock(p.mutex);
    for (;;) {
        if (giveUp != nullptr) {
            // Not under the lock: the caller's test may take locks of its own.
            lock.unlock();
            const bool given = giveUp(context);
            lock.lock();
            if (given) return false;
        }
        int32_t answered = 0;
        for (int32_t i = 0; i < p.helperCount; ++i) {
            const int32_t version = p.helpers[i].readyVersion;
            if (version == NoAnswerYet) continue;
            if (version == 0 || version != encoderLibrary.versionNumber) return false;
            answered += 1;
        }
        if (answered == p.helperCount) {
            p.serving = true;
            p.liveHelpers = p.helperCount;
            p.changed.notify_all();
            return true;
        }
        waited += countedSinceLastLook(p);
        if (waited > bound) return false;
        p.changed.wait_for(lock, CheckInterval);
    }
}

}  // namespace

void setEncoderHelperPath(const char* path) {
    std::snprintf(helperPathOverride, sizeof helperPathOverride, "%s", path != nullptr ? path : "");
}

void setEncoderHelperAnswerBase(uint32_t milliseconds) {
    answerBaseMilliseconds.store(milliseconds);
}

bool encoderPoolStart(int32_t helperCount, bool (*giveUp)(void* context), void* context) {
    encoderPoolStop();
    if (helperCount < 1 || helperCount > MaxEncoderJobs) return false;
    if (encoderLibrary.module == nullptr) return false;
    char libraryPath[PathCapacity];
    char programPath[PathCapacity];
    if (!libraryFilePath(encoderLibrary.module, libraryPath, sizeof libraryPath)) return false;
    if (!helperProgramPath(programPath, sizeof programPath)) return false;

    pool.reset(new (std::nothrow) Pool);
    if (!pool) return false;
    Pool& p = *pool;
    p.capacity = helperCount * 2;
    p.ring.reset(new (std::nothrow) Job[static_cast<size_t>(p.capacity)]);
    if (!p.ring) {
        pool.reset();
        return false;
    }
    p.lastLook = awakeMilliseconds();
    p.answerBaseMilliseconds =
        millisecondsSetting(TestAnswerBaseVariable, answerBaseMilliseconds.load());
    const char* const arguments[] = {EncoderHelperFileName, nullptr};
    bool started = true;
    // All started before any answer is awaited: they load the library at once.
    for (int32_t i = 0; i < helperCount && started; ++i) {
        Helper& helper = p.helpers[i];
        helper.index = i;
        helper.child.reset(childProcessStart(programPath, arguments));
        p.helperCount = i + 1;
        started = helper.child != nullptr && sendHello(helper.child.get(), libraryPath);
        helper.alive = started;
        helper.busy = started;
        if (started) {
            helper.thread = threadStart(helperThread, &helper);
            started = helper.thread != nullptr;
        }
    }
    if (started) started = awaitHelpersReady(p, giveUp, context);
    if (!started) encoderPoolStop();
    return started;
}

void encoderPoolStop() {
    if (!pool) return;
    Pool& p = *pool;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.stopping = true;
        for (int32_t i = 0; i < p.helperCount; ++i) {
            if (p.helpers[i].busy) childProcessTerminate(p.helpers[i].child.get());
        }
        p.changed.notify_all();
    }
    for (int32_t i = 0; i < p.helperCount; ++i) {
        if (p.helpers[i].thread != nullptr) threadJoin(p.helpers[i].thread);
        p.helpers[i].thread = nullptr;
    }
    // No thread uses the pipes any more. Every helper sees its input end at
    // the same moment, and all share one grace period.
    for (int32_t i = 0; i < p.helperCount; ++i) childProcessCloseInput(p.helpers[i].child.get());
    const int64_t graceEnd = awakeMilliseconds() + HelperReleaseGraceMilliseconds;
    for (int32_t i = 0; i < p.helperCount; ++i) {
        const int64_t left = graceEnd - awakeMilliseconds();
        childProcessRelease(p.helpers[i].child.release(),
                            left > 0 ? static_cast<uint32_t>(left) : 0);
    }
    pool.reset();
}

bool encoderPoolRunning() {
    return pool != nullptr;
}

int32_t encoderPoolCapacity() {
    return pool ? pool->capacity : 0;
}

int32_t encoderPoolHeld() {
    if (!pool) return 0;
    std::lock_guard<std::mutex> lock(pool->mutex);
    return static_cast<int32_t>(pool->submitted - pool->taken);
}

bool encoderPoolSubmit(PooledEntry entry) {
    if (!pool) return false;
    Pool& p = *pool;
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.submitted - p.taken >= p.capacity) return false;
    Job& job = slotOf(p, p.submitted);
    // A slot of a discarded entry still with a helper is free for reuse: that
    // helper checks the sequence before storing.
    job = Job{};
    job.sequence = p.submitted;
    job.state = JobState::Waiting;
    job.limitMilliseconds = p.answerBaseMilliseconds + entry.audioMilliseconds;
    job.entry = std::move(entry);
    p.submitted += 1;
    p.changed.notify_all();
    return true;
}

bool encoderPoolTakeOldest(PooledStream* stream) {
    if (!pool) return false;
    Pool& p = *pool;
    std::unique_lock<std::mutex> lock(p.mutex);
    if (p.taken == p.submitted) return false;
    Job& job = slotOf(p, p.taken);
    while (job.state != JobState::Done) {
        if (job.state == JobState::Waiting && p.liveHelpers == 0) {
            // No helper is left to take it.
            job.stream = PooledStream{nullptr, -1, false};
            break;
        }
        countHelperTime(p);
        if (job.state == JobState::Encoding && job.countedMilliseconds > job.limitMilliseconds) {
            // Its helper stops answering: ended, its read fails, the entry
            // comes back failed.
            childProcessTerminate(p.helpers[job.helper].child.get());
        }
        p.changed.wait_for(lock, CheckInterval);
    }
    *stream = std::move(job.stream);
    job = Job{};
    p.taken += 1;
    return true;
}

void encoderPoolDiscard() {
    if (!pool) return;
    Pool& p = *pool;
    std::lock_guard<std::mutex> lock(p.mutex);
    for (int64_t sequence = p.taken; sequence < p.submitted; ++sequence)
        slotOf(p, sequence) = Job{};
    p.taken = p.submitted;
    p.nextToSend = p.submitted;
}

void endEncoderHelpersNow() {
    childProcessTerminateAll();
}
