#include "tests/support/LoopbackServer.h"

#include <chrono>
#include <stdexcept>

LoopbackServer::LoopbackServer() : LoopbackServer(std::make_unique<httplib::Server>()) {}

LoopbackServer::LoopbackServer(const std::string& certPath, const std::string& keyPath)
    : LoopbackServer(std::make_unique<httplib::SSLServer>(certPath.c_str(), keyPath.c_str())) {
    m_tls = true;
    if (!static_cast<httplib::SSLServer&>(*m_server).is_valid())
        throw std::runtime_error("cannot serve TLS with " + certPath);
}

LoopbackServer::LoopbackServer(std::unique_ptr<httplib::Server> server)
    : m_server(std::move(server)) {
    // Headers and body go out in separate writes; without this, Nagle's algorithm
    // and the client's delayed ACK hold every keep-alive response for 40 ms.
    m_server->set_tcp_nodelay(true);
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string target = req.path;
        if (!req.params.empty()) {
            std::string query;
            for (const auto& [key, value] : req.params)
                query += (query.empty() ? "?" : "&") + key + "=" + value;
            target += query;
        }
        m_requests.push_back(target);
        m_clientPorts.push_back(req.remote_port);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

LoopbackServer::~LoopbackServer() {
    stop();
}

void LoopbackServer::page(const std::string& path, const std::string& body) {
    m_server->Get(path, [body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "text/html");
    });
}

void LoopbackServer::redirect(const std::string& path, const std::string& location, int status) {
    m_server->Get(path, [this, location, status](const httplib::Request&, httplib::Response& res) {
        const bool absolute = location.find("://") != std::string::npos;
        res.status = status;
        res.set_header("Location", absolute ? location : url(location).toStdString());
    });
}

void LoopbackServer::status(const std::string& path, int status) {
    m_server->Get(path, [status](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content("<a href=\"should-not-be-seen.html\">x</a>", "text/html");
    });
}

void LoopbackServer::drip(const std::string& path, const std::string& body,
                          std::chrono::milliseconds interval) {
    m_server->Get(path, [this, body, interval](const httplib::Request&, httplib::Response& res) {
        // Not text/*: the server would compress it, and hold the bytes back.
        res.set_chunked_content_provider(
            "application/octet-stream",
            [this, body, interval](size_t offset, httplib::DataSink& sink) {
                if (m_stopping || offset >= body.size()) {
                    sink.done();
                    return !m_stopping;
                }
                std::this_thread::sleep_for(interval);
                if (m_stopping || !sink.write(body.data() + offset, 1))
                    return false;
                ++m_dripped;
                return true;
            });
    });
}

void LoopbackServer::hang(const std::string& path, size_t head) {
    m_server->Get(path, [this, head](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(
            "application/octet-stream", [this, head](size_t offset, httplib::DataSink& sink) {
                static const std::string filler(64 * 1024, 'x');
                if (offset < head)
                    return sink.write(filler.data(), std::min(filler.size(), head - offset));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return !m_stopping && sink.is_writable();
            });
    });
}

void LoopbackServer::start(const std::string& host) {
    m_host = host;
    m_port = m_server->bind_to_any_port(host);
    if (m_port <= 0)
        throw std::runtime_error("cannot listen on " + host);
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // The socket already listens; connections wait in its backlog until the
    // accept loop runs, but a test that checks is_running() should see it true.
    for (int i = 0; i < 1000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LoopbackServer::stop() {
    if (m_thread.joinable()) {
        m_stopping = true;
        m_server->stop();
        m_thread.join();
    }
}

QString LoopbackServer::url(const std::string& path) const {
    return QStringLiteral("%1://%2:%3")
               .arg(QLatin1String(m_tls ? "https" : "http"))
               .arg(QString::fromStdString(m_host))
               .arg(m_port) +
           QString::fromStdString(path);
}

std::vector<std::string> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<int> LoopbackServer::clientPorts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clientPorts;
}
