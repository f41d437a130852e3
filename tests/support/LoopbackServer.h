#pragma once

#include <QString>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A real HTTP server on 127.0.0.1, on a port the system chooses, for the
// duration of a test. Handlers are cpp-httplib's; every request's path (with its
// query) is recorded in arrival order.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& server() { return m_server; }

    // Serves body as text/html at path.
    void page(const std::string& path, const std::string& body);

    // Starts listening; call after the handlers are set.
    void start();
    void stop();

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by path.
    QString url(const std::string& path = "/") const;

    std::vector<std::string> requests() const;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};
