#include "tests/support/LoopbackServer.h"

#include <chrono>
#include <stdexcept>

LoopbackServer::LoopbackServer() {
    m_server.set_logger([this](const httplib::Request& req, const httplib::Response&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string target = req.path;
        if (!req.params.empty()) {
            std::string query;
            for (const auto& [key, value] : req.params)
                query += (query.empty() ? "?" : "&") + key + "=" + value;
            target += query;
        }
        m_requests.push_back(target);
    });
}

LoopbackServer::~LoopbackServer() {
    stop();
}

void LoopbackServer::page(const std::string& path, const std::string& body) {
    m_server.Get(path, [body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "text/html");
    });
}

void LoopbackServer::start() {
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // The socket already listens; connections wait in its backlog until the
    // accept loop runs, but a test that checks is_running() should see it true.
    for (int i = 0; i < 1000 && !m_server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void LoopbackServer::stop() {
    if (m_thread.joinable()) {
        m_server.stop();
        m_thread.join();
    }
}

QString LoopbackServer::url(const std::string& path) const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port) + QString::fromStdString(path);
}

std::vector<std::string> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}
