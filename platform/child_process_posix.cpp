// Helper processes over two pipes, POSIX. Every descriptor made here is
// close-on-exec and the child starts with every descriptor above the
// standard three closed, so a child holds no end of another child's pipes
// and sees its input end as soon as its parent closes it or goes.
#include <fcntl.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/child_process.h"

extern char** environ;

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define VUD_SPAWN_CLOSEFROM 1
#endif

struct ChildProcess {
    pid_t pid = -1;
    int input = -1;   // the write end of the child's standard input
    int output = -1;  // the read end of the child's standard output
};

namespace {

// The children alive now, for childProcessTerminateAll: a signal handler
// reads it, so it is a fixed array of atomics, not a list under a lock.
constexpr int32_t ChildSlotCount = 128;
std::atomic<pid_t> liveChildren[ChildSlotCount];

void rememberChild(pid_t pid) {
    for (std::atomic<pid_t>& slot : liveChildren) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) return;
    }
}

void forgetChild(pid_t pid) {
    for (std::atomic<pid_t>& slot : liveChildren) {
        pid_t held = pid;
        if (slot.compare_exchange_strong(held, 0)) return;
    }
}

// The parent's process number, handed to the child in its environment so
// that it can tell whether the parent it was started by is still there.
constexpr const char* ParentVariable = "VUD_CHILD_PARENT";

// environ with ParentVariable=<this process> in place of any such entry.
struct ChildEnvironment {
    std::unique_ptr<char*[]> entries;
    char parentEntry[48] = {};
};

bool makeChildEnvironment(ChildEnvironment* made) {
    size_t count = 0;
    while (environ[count] != nullptr) ++count;
    made->entries.reset(new (std::nothrow) char*[count + 2]);
    if (!made->entries) return false;
    std::snprintf(made->parentEntry, sizeof made->parentEntry, "%s=%ld", ParentVariable,
                  static_cast<long>(getpid()));
    const size_t nameLength = std::strlen(ParentVariable);
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const char* entry = environ[i];
        if (std::strncmp(entry, ParentVariable, nameLength) == 0 && entry[nameLength] == '=') {
            continue;
        }
        made->entries[kept++] = environ[i];
    }
    made->entries[kept++] = made->parentEntry;
    made->entries[kept] = nullptr;
    return true;
}

void closeDescriptor(int* descriptor) {
    if (*descriptor >= 0) close(*descriptor);
    *descriptor = -1;
}

// The two ends of one pipe, closed on every way out unless released.
struct OwnedPipe {
    int ends[2] = {-1, -1};
    ~OwnedPipe() {
        closeDescriptor(&ends[0]);
        closeDescriptor(&ends[1]);
    }
};

// A pipe whose ends lie above the standard descriptors: with standard input
// or output closed in the parent, an end numbered 0 or 1 would be moved onto
// by the other pipe's dup2 in the child.
bool openPipe(OwnedPipe* pipe) {
    if (pipe2(pipe->ends, O_CLOEXEC) != 0) {
        pipe->ends[0] = pipe->ends[1] = -1;
        return false;
    }
    for (int& end : pipe->ends) {
        if (end > STDERR_FILENO) continue;
        const int moved = fcntl(end, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) return false;
        close(end);
        end = moved;
    }
    return true;
}

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    bool made = posix_spawn_file_actions_init(&actions) == 0;
    ~SpawnActions() {
        if (made) posix_spawn_file_actions_destroy(&actions);
    }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    bool made = posix_spawnattr_init(&attributes) == 0;
    ~SpawnAttributes() {
        if (made) posix_spawnattr_destroy(&attributes);
    }
};

bool prepareActions(posix_spawn_file_actions_t* actions, int requestEnd, int replyEnd) {
    if (posix_spawn_file_actions_adddup2(actions, requestEnd, STDIN_FILENO) != 0) return false;
    if (posix_spawn_file_actions_adddup2(actions, replyEnd, STDOUT_FILENO) != 0) return false;
#ifdef VUD_SPAWN_CLOSEFROM
    // Descriptors opened without close-on-exec, by us or a library, stay
    // with the parent.
    if (posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1) != 0) return false;
#endif
    return true;
}

// The child's signal mask is set whole, so one started from a thread that
// blocks everything (a worker) is not left deaf to what it should hear.
bool prepareAttributes(posix_spawnattr_t* attributes) {
    // The terminal's keys and a hang-up reach the whole process group; the
    // parent decides what they mean and ends its children itself.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signalNumber : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaddset(&blocked, signalNumber);
    // Ignored dispositions survive exec: a parent that ignores these would
    // otherwise hand that on (an ignored SIGCHLD even changes how wait works).
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGPIPE, SIGCHLD, SIGXFSZ}) sigaddset(&defaults, signalNumber);
    const short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    return posix_spawnattr_setsigmask(attributes, &blocked) == 0 &&
           posix_spawnattr_setsigdefault(attributes, &defaults) == 0 &&
           posix_spawnattr_setflags(attributes, flags) == 0;
}

bool readAll(int descriptor, void* bytes, size_t byteCount) {
    if (descriptor < 0 || (bytes == nullptr && byteCount > 0)) return false;
    auto* cursor = static_cast<unsigned char*>(bytes);
    while (byteCount > 0) {
        const ssize_t got = read(descriptor, cursor, byteCount);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        cursor += got;
        byteCount -= static_cast<size_t>(got);
    }
    return true;
}

// A write into a pipe whose reader is gone raises SIGPIPE, which ends the
// process unless it ignores the signal. Whatever the program did with it,
// the write here only fails: SIGPIPE is blocked in this thread while it
// writes, and the one it raised (none was pending before) is taken back.
bool writeAll(int descriptor, const void* bytes, size_t byteCount) {
    if (descriptor < 0 || (bytes == nullptr && byteCount > 0)) return false;
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    sigset_t previousMask;
    if (pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask) != 0) return false;

    const auto* cursor = static_cast<const unsigned char*>(bytes);
    bool broken = false;
    while (byteCount > 0) {
        const ssize_t written = write(descriptor, cursor, byteCount);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            broken = written < 0 && errno == EPIPE;
            break;
        }
        cursor += written;
        byteCount -= static_cast<size_t>(written);
    }
    if (broken && !pendingBefore) {
        const timespec noWait{};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    return byteCount == 0;
}

// The child's state: reaped, or still there after the wait.
bool waitForExit(pid_t pid, uint32_t graceMilliseconds) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    // Short naps first: a child that sees its input end usually exits within
    // a millisecond or two.
    long napNanoseconds = 1000000;
    for (;;) {
        int status = 0;
        const pid_t reaped = waitpid(pid, &status, WNOHANG);
        if (reaped == pid) return true;
        // ECHILD: reaped already (by a SIGCHLD handler of the program); any
        // other error would repeat forever.
        if (reaped < 0 && errno != EINTR) return true;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t elapsed = (int64_t{now.tv_sec} - start.tv_sec) * 1000 +
                                (int64_t{now.tv_nsec} - start.tv_nsec) / 1000000;
        if (elapsed >= int64_t{graceMilliseconds}) return false;
        const timespec nap{0, napNanoseconds};
        nanosleep(&nap, nullptr);
        if (napNanoseconds < 10000000) napNanoseconds *= 2;
    }
}

void reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// The child's side: standard input, and the copy of standard output taken
// before it was pointed at the null device.
int requestDescriptor = -1;
int replyDescriptor = -1;

bool isPipe(int descriptor) {
    struct stat status {};
    return fstat(descriptor, &status) == 0 && S_ISFIFO(status.st_mode);
}

}  // namespace

ChildProcess* childProcessStart(const char* program, const char* const* arguments) {
    if (program == nullptr || arguments == nullptr || arguments[0] == nullptr) return nullptr;
    OwnedPipe request;
    OwnedPipe reply;
    if (!openPipe(&request) || !openPipe(&reply)) return nullptr;
    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.made || !attributes.made) return nullptr;
    if (!prepareActions(&actions.actions, request.ends[0], reply.ends[1])) return nullptr;
    if (!prepareAttributes(&attributes.attributes)) return nullptr;

    ChildEnvironment environment;
    if (!makeChildEnvironment(&environment)) return nullptr;

    auto* child = new (std::nothrow) ChildProcess;
    if (child == nullptr) return nullptr;
    // posix_spawn takes the arguments as char* const[] but never changes them.
    const int failed = posix_spawn(&child->pid, program, &actions.actions, &attributes.attributes,
                                   const_cast<char* const*>(arguments), environment.entries.get());
    if (failed != 0) {
        delete child;
        return nullptr;
    }
    rememberChild(child->pid);
    child->input = request.ends[1];
    child->output = reply.ends[0];
    request.ends[1] = -1;
    reply.ends[0] = -1;
    return child;
}

bool childProcessWrite(ChildProcess* child, const void* bytes, size_t byteCount) {
    return child != nullptr && writeAll(child->input, bytes, byteCount);
}

bool childProcessRead(ChildProcess* child, void* bytes, size_t byteCount) {
    return child != nullptr && readAll(child->output, bytes, byteCount);
}

void childProcessCloseInput(ChildProcess* child) {
    if (child != nullptr) closeDescriptor(&child->input);
}

// The pid stays the child's until childProcessRelease reaps it, which no
// other call overlaps, so the signal can never reach another process.
void childProcessTerminate(ChildProcess* child) {
    if (child != nullptr && child->pid > 0) kill(child->pid, SIGKILL);
}

void childProcessRelease(ChildProcess* child, uint32_t graceMilliseconds) {
    if (child == nullptr) return;
    closeDescriptor(&child->input);
    closeDescriptor(&child->output);
    if (!waitForExit(child->pid, graceMilliseconds)) {
        kill(child->pid, SIGKILL);
        reap(child->pid);
    }
    forgetChild(child->pid);
    delete child;
}

void childProcessTerminateAll() {
    for (std::atomic<pid_t>& slot : liveChildren) {
        const pid_t pid = slot.load();
        if (pid > 0) kill(pid, SIGKILL);
    }
}

// Linux ends the child when the parent dies. A parent that died before the
// request took effect is no longer the one named in the environment (the
// child was handed to another process meanwhile): the child then ends as the
// request would have ended it.
void endWithParent() {
#if defined(__linux__)
    const char* named = std::getenv(ParentVariable);
    if (named == nullptr) return;  // not started by childProcessStart
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (std::strtol(named, nullptr, 10) != static_cast<long>(getppid())) raise(SIGKILL);
#endif
}

bool takeParentPipes() {
    if (!isPipe(STDIN_FILENO) || !isPipe(STDOUT_FILENO)) return false;
    endWithParent();
    // Both pipes move above the standard descriptors, close-on-exec, so that
    // nothing the library might start holds them; standard input and output
    // become the null device. Not flushed first: what the program printed
    // before belongs on the null device, not in front of the first reply.
    const int request = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int reply = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int nullInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int nullOutput = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const bool moved = request >= 0 && reply >= 0 && nullInput >= 0 && nullOutput >= 0 &&
                       dup2(nullInput, STDIN_FILENO) >= 0 && dup2(nullOutput, STDOUT_FILENO) >= 0;
    for (int descriptor : {nullInput, nullOutput}) {
        if (descriptor >= 0) close(descriptor);
    }
    if (!moved) {
        for (int descriptor : {request, reply}) {
            if (descriptor >= 0) close(descriptor);
        }
        return false;
    }
    requestDescriptor = request;
    replyDescriptor = reply;
    return true;
}

bool parentPipeRead(void* bytes, size_t byteCount) {
    return readAll(requestDescriptor, bytes, byteCount);
}

bool parentPipeWrite(const void* bytes, size_t byteCount) {
    return writeAll(replyDescriptor, bytes, byteCount);
}
