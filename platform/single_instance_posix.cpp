// The name is an abstract-namespace local socket, per user: nothing is left
// in the file system after a crash, and while the holder lives nobody else
// can bind the name. Peers are checked by their credentials, so another user
// can neither be raised nor squat the name unnoticed.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/single_instance.h"
#include "platform/thread.h"

struct SingleInstance {
    int listener;
};

namespace {

constexpr int32_t ClaimAttempts = 40;
constexpr uint32_t ClaimRetryMilliseconds = 25;

bool addressOf(const char* name, sockaddr_un* address, socklen_t* length) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    // sun_path[0] stays 0: an abstract name, not terminated.
    const size_t room = sizeof address->sun_path - 1;
    const int written = std::snprintf(address->sun_path + 1, room, "vud-single-instance/%u/%s",
                                      static_cast<unsigned>(getuid()), name);
    if (written < 0 || static_cast<size_t>(written) >= room) return false;
    *length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(written));
    return true;
}

bool peerIsThisUser(int connection) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
    return size == sizeof credentials && credentials.uid == getuid();
}

// 1 asked, 0 nobody listens (yet), -1 a stranger holds the name or an error.
int32_t askHolder(const sockaddr_un& address, socklen_t length) {
    const int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connection < 0) return -1;
    int32_t result = -1;
    if (connect(connection, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        // The connection itself is the request.
        result = peerIsThisUser(connection) ? 1 : -1;
    } else if (errno == ECONNREFUSED || errno == ENOENT || errno == EAGAIN) {
        result = 0;
    }
    close(connection);
    return result;
}

}  // namespace

const char* sharedInstanceName(const char* name) {
    const char* chosen = std::getenv("VUD_INSTANCE_NAME");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : name;
}

InstanceClaim claimSingleInstance(const char* name, SingleInstance** instance) {
    if (instance == nullptr) return InstanceClaim::Unavailable;
    *instance = nullptr;
    sockaddr_un address;
    socklen_t length = 0;
    if (name == nullptr || !addressOf(name, &address, &length)) return InstanceClaim::Unavailable;
    for (int32_t attempt = 0; attempt < ClaimAttempts; ++attempt) {
        const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listener < 0) return InstanceClaim::Unavailable;
        if (bind(listener, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            if (listen(listener, 16) != 0) {
                close(listener);
                return InstanceClaim::Unavailable;
            }
            auto* held = new (std::nothrow) SingleInstance{listener};
            if (held == nullptr) {
                close(listener);
                return InstanceClaim::Unavailable;
            }
            *instance = held;
            return InstanceClaim::First;
        }
        const int bindError = errno;
        close(listener);
        if (bindError != EADDRINUSE) return InstanceClaim::Unavailable;
        const int32_t asked = askHolder(address, length);
        if (asked > 0) return InstanceClaim::Another;
        if (asked < 0) return InstanceClaim::Unavailable;
        // The holder is between bind and listen, or going away: try again.
        sleepMilliseconds(ClaimRetryMilliseconds);
    }
    return InstanceClaim::Unavailable;
}

int32_t singleInstanceDescriptor(const SingleInstance* instance) {
    return instance == nullptr ? -1 : instance->listener;
}

bool takeActivationRequests(SingleInstance* instance) {
    if (instance == nullptr) return false;
    bool asked = false;
    for (;;) {
        const int connection = accept4(instance->listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return asked;
        }
        if (peerIsThisUser(connection)) asked = true;
        close(connection);
    }
}

void releaseSingleInstance(SingleInstance* instance) {
    if (instance == nullptr) return;
    close(instance->listener);
    delete instance;
}
