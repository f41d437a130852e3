#pragma once

#include "base/RedirectHop.h"
#include "crawl/RobotsTxt.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>

class RequestIdentity;
class Shell;

// The key of everything the run knows of a host: "scheme://name:port", the port
// given or the scheme's own.
QString HostKey(const QString& address);

// The certificate bundle trusted in place of the system's store, as curl chooses
// it: CURL_CA_BUNDLE, else SSL_CERT_FILE; empty when neither is set.
QByteArray CaBundleFromEnvironment();
// libcurl's own bundle, the system's; empty when it knows none.
QByteArray SystemCaBundle();

// What a download asks the server for: the page (GET), only its headers (HEAD),
// or the page's headers by GET, the transfer abandoned as soon as they have come
// (for a server that will not answer HEAD).
enum class RequestMethod { Get, Head, GetHeaders };

// How pages are fetched. The defaults suit the open web; the command line and the
// tests change them. Times are in milliseconds.
struct DownloadSettings {
    // The largest page there can be: the page length is a 32-bit count.
    static constexpr qint64 MaxPageBytes = 2147483647;
    static constexpr int MaxRetries = 10;
    static constexpr int MaxRetryWaitSeconds = 3600;

    // Give up a connection that is not made within this time.
    qint64 connectTimeoutMs = 30'000;
    // Abandon a transfer that receives fewer than stallBytesPerSecond bytes a second
    // over stallMs, counted from its request. There is no overall limit: a large
    // page on a slow line is legitimate, a server that drips a byte now and then is
    // not.
    qint64 stallMs = 60'000;
    int stallBytesPerSecond = 100;
    // Abandon a transfer that has not ended this long after it started; 0 for
    // no limit.
    qint64 maxTimeMs = 0;
    // The largest page kept (decoded).
    qint64 maxPageBytes = MaxPageBytes;
    // A compressed page that decodes to more than expansionCheckBytes and to more
    // than maxExpansion times the bytes received is a decompression bomb: no web
    // page compresses that well, and it would cost memory and disk for nothing.
    qint64 expansionCheckBytes = 64 * 1024 * 1024;
    qint64 maxExpansion = 100;
    // A page up to this size is received into memory; a larger one goes on into a
    // page file, unlinked as soon as it is open.
    qint64 memoryPageBytes = 8 * 1024 * 1024;
    // Transfers in flight at once (1: one page at a time, nothing fetched ahead),
    // and connections to one host name and port.
    int parallel = 16;
    int perHost = 6;
    // A page whose transfer failed in a way that seldom lasts (a connection refused
    // or reset before any byte of the answer; HTTP 429, 502, 503 or 504) is asked
    // for again, at most retries times: after retryBaseMs, then twice as long each
    // time, each with up to a quarter more at random. A 429 or 503 with Retry-After
    // waits at least as long as the server asks, its host paused meanwhile, but
    // at most maxRetryWaitSeconds: a server that asks for more has failed the page.
    int retries = 2;
    int maxRetryWaitSeconds = 60;
    qint64 retryBaseMs = 500;
    // Politeness, when 0 or more: one request open to a host at a time, each
    // starting at least waitMs after the one before it there ended; and a 429 or
    // 503 answer with Retry-After is waited out and asked once more even with
    // retries 0. -1: none of it.
    qint64 waitMs = -1;
    // What is asked for; a page unless a link is only being checked.
    RequestMethod method = RequestMethod::Get;
    // Who the requests say they come from, and what each host is told (headers,
    // cookies, credentials, certificates trusted); null: the program's own user
    // agent and nothing more.
    std::shared_ptr<const RequestIdentity> identity;
};

// How a download ended.
enum class DownloadOutcome {
    Downloaded,
    Stopped,      // abandoned: the run was stopped
    HttpError,    // the server answered with a status of 400 or above
    TooLarge,     // larger than DownloadSettings::maxPageBytes, or a decompression bomb
    NetworkError, // no answer: refused, timed out, a broken transfer, a bad address
    LocalError,   // a failure of this program, not of the site: a page file that
                  // cannot be made or written, memory that ran out
};

// A downloaded page: its bytes in memory, or an open, already unlinked page file.
class PageBody {
public:
    PageBody() = default;
    ~PageBody();
    PageBody(PageBody&& other) noexcept;
    PageBody& operator=(PageBody&& other) noexcept;
    PageBody(const PageBody&) = delete;
    PageBody& operator=(const PageBody&) = delete;

    // A copy of the page's bytes; reads the page file when there is one. Throws
    // Failure.
    QByteArray read(qint64 maxBytes) const;
    // The page's bytes without a copy, for a scan: the memory they were received
    // into, or a read-only map of the page file, made at the first call. The bytes
    // of a map stay valid as long as this body, or one it is moved into, lives:
    // they must not be kept beyond it. Throws Failure as read() does.
    QByteArray view(qint64 maxBytes) const;
    // A scan of the view has got past offset: the pages of the map before it may
    // leave memory (a later read brings them back from the page file), so that a
    // large page costs little more memory than the stretch being read. Nothing
    // for a page in memory.
    void scannedTo(qint64 offset) const noexcept;
    qint64 size() const { return m_size; }
    bool onDisk() const { return m_fd >= 0; }
    // The bytes kept in memory (empty for a page on disk).
    const QByteArray& memory() const { return m_memory; }

private:
    friend struct Transfer;
    QByteArray m_memory;
    int m_fd = -1;
    qint64 m_size = 0;
    QString m_path; // where the page file was, for messages
    // The map view() made of the page file, unmapped with the body.
    mutable const char* m_map = nullptr;
    mutable qint64 m_mapSize = 0;
    mutable qint64 m_released = 0; // the map's bytes let go so far, from its start
    void release() noexcept;
};

// What one download came to.
struct DownloadResult {
    DownloadOutcome outcome = DownloadOutcome::NetworkError;
    // Empty on success; else a short reason: "HTTP 404", libcurl's error text,
    // "stopped", or for a LocalError the description of this program's failure.
    QString failure;
    // The address the page was finally delivered from, after any redirects.
    QString effectiveAddress;
    bool redirected = false;
    // Every redirect followed, in order; also for a download that failed after
    // some.
    QVector<RedirectHop> redirects;
    // The status of the last answer; 0 when there was none. Its Content-Type.
    int httpStatus = 0;
    QString contentType;
    PageBody body;
    // From the request being handed to libcurl to the last byte, in nanoseconds.
    qint64 downloadNs = 0;

    bool ok() const { return outcome == DownloadOutcome::Downloaded; }
    explicit operator bool() const { return ok(); }
};

// What a host's robots.txt says, as far as the run knows: asked for (pending,
// the download's id), then known.
struct HostRobots {
    quint64 pending = 0;
    bool known = false;
    RobotsTxt rules;
};

// The download service (module URLMon): fetches pages over HTTP or HTTPS, many at
// once, on libcurl's multi interface. It keeps a queue of its own for each host
// name and port and hands a transfer to libcurl only when it can start at once, so
// no time-out counts time spent waiting in a queue. Connections are kept alive
// from one page to the next until release().
//
// There are no threads: transfers move while the run waits in wait(), which hands
// the sockets to the shell; the shell lets its own events be handled meanwhile.
class URLMon {
public:
    using Id = quint64;

    URLMon();
    ~URLMon();
    URLMon(const URLMon&) = delete;
    URLMon& operator=(const URLMon&) = delete;

    // Queues a download of address. An urgent one goes to the head of its host's
    // queue and may start beyond the number of transfers in flight.
    Id start(const QString& address, const DownloadSettings& settings, bool urgent = false);
    // Makes a queued or running download urgent.
    void hurry(Id id);
    // True when a transfer to the host of address could start at once, with
    // spare connections to that host still left over.
    bool canStartNow(const QString& address, const DownloadSettings& settings, int spare = 0) const;
    bool finished(Id id) const;
    // The result of a finished download, left in place; null while it runs.
    const DownloadResult* peek(Id id) const;
    // The result of a finished download; it is forgotten then.
    DownloadResult take(Id id);
    // Abandons one download, or every one; nothing of them is kept.
    void cancel(Id id) noexcept;
    void cancelAll() noexcept;

    // True when one more transfer would stay within the connections allowed in
    // flight (settings.parallel): a connection of its own, or a stream on an
    // HTTP/2 connection already open.
    bool roomForAnother(const DownloadSettings& settings) const;
    // How many transfers could be in flight at once as far as the run knows its
    // hosts: parallel, or where a host speaks HTTP/2, the streams of the
    // connections it may have.
    int transfersAtOnce(const DownloadSettings& settings) const;
    // Downloads in flight (handed to libcurl) and waiting in the queues.
    int running() const;
    int queued() const;
    // Bytes received so far into memory by the downloads in flight.
    qint64 receivingBytes() const;

    // Drives the transfers without waiting: what is ready is read, what has
    // finished is collected, what can start is started.
    void pump();
    // Waits through the shell until a socket is ready or a time-out of libcurl's is
    // due (yielding as YieldPlace::Download), then pumps.
    void wait(Shell& shell);

    // One download from start to end: waits until it finishes, and abandons it as
    // soon as keepGoing() answers false.
    DownloadResult download(const QString& address, const DownloadSettings& settings, Shell& shell,
                            const std::function<bool()>& keepGoing);

    // Abandons every download and closes the connections kept open; the next
    // download starts afresh.
    void release() noexcept;

    // What the run knows of the robots.txt of the host of key (HostKey), kept in
    // that host's record with its queue, connections and pause; and forgetting it
    // all, what is being fetched of it abandoned.
    HostRobots& robotsOf(const QString& key);
    void forgetRobots() noexcept;

    struct Engine;

private:
    std::unique_ptr<Engine> m_engine;
    Engine& engine();
};
