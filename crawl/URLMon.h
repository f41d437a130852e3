#pragma once

#include <QString>
#include <functional>
#include <memory>

class Shell;

// How pages are fetched. The defaults suit the open web; the command line and the
// tests change them.
struct DownloadSettings {
    // Give up a connection that is not made within this time.
    int connectTimeoutSeconds = 30;
    // Abandon a transfer that delivers fewer than stallBytesPerSecond bytes a second
    // for stallSeconds in a row. There is no overall limit: a large page on a slow
    // line is legitimate, a server that drips a byte now and then is not.
    int stallSeconds = 60;
    int stallBytesPerSecond = 100;
    // The largest page kept (decoded): the page length is a 32-bit count.
    qint64 maxPageBytes = 2147483647;
};

// What one download came to.
struct DownloadResult {
    bool ok = false;
    // Empty on success; else a short reason: "HTTP 404", libcurl's error text,
    // "stopped".
    QString failure;
    // The address the page was finally delivered from, after any redirects.
    QString effectiveAddress;
    bool redirected = false;
    qint64 bytes = 0;
    // Time spent creating and writing the page file, in nanoseconds.
    qint64 fileNs = 0;

    explicit operator bool() const { return ok; }
};

// The download service (module URLMon): fetches one address over HTTP or HTTPS
// into a file. One transfer handle serves every download until release(), so that
// the connections to a host are kept alive from one page to the next.
class URLMon {
public:
    URLMon();
    ~URLMon();
    URLMon(const URLMon&) = delete;
    URLMon& operator=(const URLMon&) = delete;

    // Downloads address into a fresh file at path (see CreatePageFile), yielding to
    // the shell while it waits, and abandons the transfer as soon as keepGoing()
    // answers false. A failed download leaves no file behind. A page file that
    // cannot be created or written is not a failed download: it throws Failure.
    DownloadResult DownloadURLToFile(const QString& address, const QString& path,
                                     const DownloadSettings& settings, Shell& shell,
                                     const std::function<bool()>& keepGoing);

    // Closes the connections kept open; the next download starts afresh.
    void release() noexcept;

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
};
