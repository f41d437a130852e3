#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A real HTTP server on 127.0.0.1, on a port the system chooses, for the
// duration of a test. Handlers are cpp-httplib's; every request's path (with its
// query) is recorded in arrival order, before it is answered.
class LoopbackServer {
public:
    LoopbackServer();
    // Over TLS, presenting the certificate in certPath with the key in keyPath.
    LoopbackServer(const std::string& certPath, const std::string& keyPath);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& server() { return *m_server; }

    // Serves body as text/html at path.
    void page(const std::string& path, const std::string& body);

    // Answers path with a redirect to location (absolute, or a path on this server).
    void redirect(const std::string& path, const std::string& location, int status = 302);
    // Answers path with the status and a small HTML body.
    void status(const std::string& path, int status);
    // Sends body in chunks of one byte, one every interval; gives up when the client
    // goes away or the server stops.
    void drip(const std::string& path, const std::string& body, std::chrono::milliseconds interval);
    // Sends head bytes of filler at once, then nothing more, holding the transfer
    // open until the client goes away or the server stops: a large download in
    // progress.
    void hang(const std::string& path, size_t head);
    // Bytes the drip handlers have sent so far.
    size_t dripped() const { return m_dripped; }

    // Starts listening on host (a loopback address); call after the handlers are set.
    void start(const std::string& host = "127.0.0.1");
    void stop();

    int port() const { return m_port; }
    // "http://<host>:<port>" (https:// over TLS) followed by path.
    QString url(const std::string& path = "/") const;

    std::vector<std::string> requests() const;
    // The client port of every request, in arrival order: one port per connection.
    std::vector<int> clientPorts() const;

private:
    explicit LoopbackServer(std::unique_ptr<httplib::Server> server);

    std::unique_ptr<httplib::Server> m_server;
    bool m_tls = false;
    std::thread m_thread;
    int m_port = 0;
    std::string m_host = "127.0.0.1";
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<int> m_clientPorts;
    std::atomic<size_t> m_dripped{0};
    std::atomic<bool> m_stopping{false};
};
