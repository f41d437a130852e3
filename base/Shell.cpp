#include "base/Shell.h"

#include <poll.h>

void Shell::waitForSockets(std::vector<WaitSocket>& sockets, int timeoutMs, YieldPlace place) {
    yield(place);
    std::vector<pollfd> polled;
    polled.reserve(sockets.size());
    for (const WaitSocket& s : sockets)
        polled.push_back(
            {s.fd, static_cast<short>((s.read ? POLLIN : 0) | (s.write ? POLLOUT : 0)), 0});
    // An interrupted poll (EINTR) simply ends the wait: the caller looks at its
    // flags and waits again.
    if (::poll(polled.data(), polled.size(), timeoutMs) <= 0)
        return;
    for (size_t i = 0; i < sockets.size(); ++i) {
        const short got = polled[i].revents;
        // An error or a hang-up is for libcurl to find out about: it reads.
        sockets[i].readable = (got & (POLLIN | POLLERR | POLLHUP)) != 0;
        sockets[i].writable = (got & POLLOUT) != 0;
    }
}
