#include "tests/support/RawServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Reads until the blank line that ends the request's head, or until the client
// goes away or the server stops.
bool readRequestHead(int client, const std::atomic<bool>& stopping) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd p{client, POLLIN, 0};
        if (stopping)
            return false;
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        head.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

} // namespace

RawServer::RawServer(Behaviour behaviour, std::string partial)
    : m_behaviour(behaviour), m_partial(std::move(partial)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(m_listener, behaviour == Behaviour::NeverAccept ? 0 : 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    if (behaviour == Behaviour::NeverAccept) {
        // With a queue of length 0 one connection that nobody accepts fills it.
        m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = loopback(m_port);
        if (m_filler < 0 ||
            ::connect(m_filler, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
            throw std::runtime_error("cannot fill the listening queue");
        return;
    }
    m_thread = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : m_held)
        ::close(fd);
    if (m_filler >= 0)
        ::close(m_filler);
    ::close(m_listener);
}

QString RawServer::url(const std::string& path) const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port) + QString::fromStdString(path);
}

void RawServer::serve() {
    while (!m_stopping) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        if (!readRequestHead(client, m_stopping)) {
            ::close(client);
            continue;
        }
        ++m_requests;
        answer(client);
    }
}

void RawServer::answer(int client) {
    if (m_behaviour == Behaviour::NeverAnswer) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.push_back(client);
        return;
    }
    if (m_behaviour == Behaviour::EndlessHeaders) {
        std::string lines;
        for (int i = 0; i < 64; ++i)
            lines += "X-Filler: " + std::string(1000, 'a') + "\r\n";
        bool open = ::send(client, "HTTP/1.1 200 OK\r\n", 17, MSG_NOSIGNAL) == 17;
        while (open && !m_stopping)
            open = ::send(client, lines.data(), lines.size(), MSG_NOSIGNAL) > 0;
        ::close(client);
        return;
    }
    const bool resetNow = m_behaviour == Behaviour::ResetFirst && m_requests == 1;
    if (!resetNow)
        ::send(client, m_partial.data(), m_partial.size(), MSG_NOSIGNAL);
    if (m_behaviour == Behaviour::ResetMidBody || resetNow) {
        // Closing with a zero linger time sends RST instead of FIN.
        const linger abort{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(client);
}
