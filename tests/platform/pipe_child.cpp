// The child the child-process test starts. Every message either way is a
// 32-bit length in the machine's byte order, then that many bytes. The first
// argument picks what it does:
//   echo         sends every request back until its input ends
//   exit         exits at once
//   crash        reads one request, then aborts
//   hang         reads one request, then waits for ever
//   print        prints to standard output around every reply, then echoes
//   report       sends its process id, the descriptors above the standard
//                three it was started with (POSIX; space-separated), its
//                arguments after the first (each ended by a NUL) and the
//                pipes a program it started now would inherit (POSIX; standard
//                error aside), then echoes
// Exit status 3 when its standard input or output is not a pipe (started by
// hand), 2 for an unknown mode.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/child_process.h"
#include "platform/program_arguments.h"

namespace {

bool readMessage(std::string* message) {
    uint32_t length = 0;
    if (!parentPipeRead(&length, sizeof length)) return false;
    message->resize(length);
    return parentPipeRead(message->data(), length);
}

bool writeMessage(const std::string& message) {
    const uint32_t length = static_cast<uint32_t>(message.size());
    return parentPipeWrite(&length, sizeof length) &&
           parentPipeWrite(message.data(), message.size());
}

int echo(bool print) {
    std::string message;
    while (readMessage(&message)) {
        if (print) {
            std::printf("a line on standard output before reply %zu\n", message.size());
            std::fflush(stdout);
        }
        if (!writeMessage(message)) return 1;
    }
    return 0;
}

std::string openDescriptors() {
    std::string list;
#if !defined(_WIN32)
    for (int descriptor = 3; descriptor < 1024; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) < 0) continue;
        if (!list.empty()) list += ' ';
        list += std::to_string(descriptor);
    }
#endif
    return list;
}

// Pipes without close-on-exec, standard error aside.
std::string inheritablePipes() {
    std::string list;
#if !defined(_WIN32)
    for (int descriptor = 0; descriptor < 1024; ++descriptor) {
        if (descriptor == STDERR_FILENO) continue;
        const int flags = fcntl(descriptor, F_GETFD);
        struct stat status {};
        if (flags < 0 || (flags & FD_CLOEXEC) != 0 || fstat(descriptor, &status) != 0) continue;
        if (!S_ISFIFO(status.st_mode)) continue;
        if (!list.empty()) list += ' ';
        list += std::to_string(descriptor);
    }
#endif
    return list;
}

long processId() {
#if defined(_WIN32)
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
}

[[noreturn]] void waitForEver() {
    for (;;) {
#if defined(_WIN32)
        Sleep(INFINITE);
#else
        pause();
#endif
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything of ours opens one.
    const std::string descriptors = openDescriptors();
    utf8ProgramArguments(&argc, &argv);
    const char* mode = argc > 1 ? argv[1] : "";
#if !defined(_WIN32)
    // Standard output into a pipe is buffered here (not so on Windows): what
    // waits in the buffer must end on the null device, not in a reply.
    if (std::strcmp(mode, "print") == 0) std::printf("a line before the pipes are taken\n");
#endif
    if (!takeParentPipes()) return 3;
    std::string message;
    if (std::strcmp(mode, "echo") == 0) return echo(false);
    if (std::strcmp(mode, "print") == 0) return echo(true);
    if (std::strcmp(mode, "exit") == 0) return 0;
    if (std::strcmp(mode, "crash") == 0) {
#if !defined(_WIN32)
        // A crash on purpose leaves no core file behind.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
#endif
        if (readMessage(&message)) std::abort();
        return 1;
    }
    if (std::strcmp(mode, "hang") == 0) {
        if (readMessage(&message)) waitForEver();
        return 1;
    }
    if (std::strcmp(mode, "report") == 0) {
        std::string arguments;
        for (int i = 2; i < argc; ++i) arguments.append(argv[i], std::strlen(argv[i]) + 1);
        if (!writeMessage(std::to_string(processId())) || !writeMessage(descriptors) ||
            !writeMessage(arguments) || !writeMessage(inheritablePipes())) {
            return 1;
        }
        return echo(false);
    }
    return 2;
}
