// Threads on POSIX: pthreads, because thread creation must report failure
// through a result rather than an exception.
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "platform/thread.h"

struct PlatformThread {
    pthread_t thread;
    ThreadProcedure procedure;
    void* argument;
    int32_t result;
};

namespace {

void* runThread(void* raw) {
    PlatformThread* thread = static_cast<PlatformThread*>(raw);
    // Written before the thread ends; pthread_join orders it before the read.
    thread->result = thread->procedure(thread->argument);
    return nullptr;
}

}  // namespace

ThreadHandle threadStart(ThreadProcedure procedure, void* argument) {
    if (procedure == nullptr) return nullptr;
    PlatformThread* thread = new (std::nothrow) PlatformThread{};
    if (thread == nullptr) return nullptr;
    thread->procedure = procedure;
    thread->argument = argument;
    thread->result = -1;
    if (pthread_create(&thread->thread, nullptr, runThread, thread) != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

int32_t threadJoin(ThreadHandle thread) {
    if (thread == nullptr) return -1;
    int32_t result = -1;
    if (pthread_join(thread->thread, nullptr) == 0) result = thread->result;
    delete thread;
    return result;
}

void sleepMilliseconds(uint32_t milliseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
