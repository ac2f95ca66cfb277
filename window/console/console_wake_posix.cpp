// The wake pipe: windowbackend::wake writes a byte, the loop polls for it
// beside the descriptors it watches.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "window/console/console_state.h"

namespace {

std::atomic<int> wakeRead{-1};
std::atomic<int> wakeWrite{-1};

}  // namespace

bool openWake() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    wakeRead.store(fds[0]);
    wakeWrite.store(fds[1]);
    return true;
}

void closeWake() {
    close(wakeRead.exchange(-1));
    close(wakeWrite.exchange(-1));
}

void windowbackend::wake() {
    const int fd = wakeWrite.load();
    if (fd < 0) return;
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already wakes the loop; the byte is not needed then.
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    errno = savedErrno;
}

uint32_t waitForWake(int32_t timeoutMilliseconds, int first, int second) {
    // poll passes over the negative descriptors.
    pollfd fds[3] = {{wakeRead.load(), POLLIN, 0}, {first, POLLIN, 0}, {second, POLLIN, 0}};
    if (poll(fds, 3, timeoutMilliseconds) <= 0) return 0;
    if ((fds[0].revents & POLLIN) != 0) {
        char drain[64];
        while (read(fds[0].fd, drain, sizeof drain) > 0) {
        }
    }
    uint32_t ready = 0;
    if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) ready |= 1u;
    if ((fds[2].revents & (POLLIN | POLLHUP)) != 0) ready |= 2u;
    return ready;
}
