#pragma once

#include <QString>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP server on 127.0.0.1 that misbehaves below HTTP, where cpp-httplib cannot:
// for the tests of servers that never let a connection in, never answer, or
// break off in the middle of a page. It stops by itself when destroyed.
class RawServer {
public:
    enum class Behaviour {
        // The connection is never made: the listening queue is kept full, so the
        // system drops every new attempt unanswered.
        NeverAccept,
        // Reads the request and answers nothing, holding the connection open.
        NeverAnswer,
        // Sends the start of an answer, then resets the connection (RST).
        ResetMidBody,
        // Sends the start of an answer, then closes the connection (FIN) early.
        CloseMidBody,
        // Sends a status line, then header lines without end, as fast as they go.
        EndlessHeaders,
        // Resets the first connection once its request is read, before a byte of
        // the answer; answers every later request with partial whole, then closes.
        ResetFirst,
    };

    // partial is what ResetMidBody and CloseMidBody send before they break off,
    // and what ResetFirst answers after the first time.
    explicit RawServer(Behaviour behaviour, std::string partial = {});
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    // "http://127.0.0.1:<port>" followed by path.
    QString url(const std::string& path = "/") const;
    // Requests read so far.
    int requests() const { return m_requests; }

private:
    void serve();
    void answer(int client);

    Behaviour m_behaviour;
    std::string m_partial;
    int m_listener = -1;
    int m_filler = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
    std::vector<int> m_held;
    std::thread m_thread;
};
