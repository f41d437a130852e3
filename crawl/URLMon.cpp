#include "crawl/URLMon.h"

#include "app/Failure.h"
#include "app/Shell.h"
#include "crawl/PageFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <unistd.h>

namespace {

constexpr long MaxRedirects = 10;
// curl_multi_poll returns at the latest after this, so that the window gets its
// turn even while a server is silent.
constexpr int PollMs = 10;
constexpr qint64 YieldIntervalNs = 10'000'000;
const char* const Protocols = "http,https";
const char* const UserAgent = "Orvelle/" ORVELLE_VERSION;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Where libcurl's write callback puts the page.
struct PageSink {
    int fd = -1;
    qint64 written = 0;
    qint64 limit = 0;
    bool tooLarge = false;
    int writeError = 0;
    qint64 fileNs = 0;
};

// A libcurl callback: nothing may be thrown from here. Returning less than it was
// given makes libcurl end the transfer with CURLE_WRITE_ERROR.
size_t writeToPage(char* data, size_t size, size_t count, void* userdata) noexcept {
    auto* sink = static_cast<PageSink*>(userdata);
    const size_t total = size * count;
    // The limit counts decoded bytes, so a small compressed body that expands
    // past it is caught too.
    if (static_cast<qint64>(total) > sink->limit - sink->written) {
        sink->tooLarge = true;
        return 0;
    }
    const qint64 start = nowNs();
    size_t done = 0;
    while (done < total) {
        const ssize_t n = ::write(sink->fd, data + done, total - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            sink->writeError = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    sink->written += static_cast<qint64>(done);
    sink->fileNs += nowNs() - start;
    return done;
}

void closeAndRemove(int& fd, const QString& path) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    ::unlink(QFile::encodeName(path).constData());
}

QString pageFileFailure(const QString& path, int error) {
    return QStringLiteral("Cannot write the page file ") + path + QStringLiteral(": ") +
           SystemErrorText(error);
}

} // namespace

struct URLMon::Handles {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    QElapsedTimer sinceYield;

    Handles() {
        static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
        if (initialised != CURLE_OK)
            throw Failure(QString::fromUtf8(curl_easy_strerror(initialised)));
        easy = curl_easy_init();
        multi = curl_multi_init();
        if (!easy || !multi) {
            release();
            throw Failure(QStringLiteral("Cannot start the download service"));
        }
        // Only the web: no file://, ftp:// or other scheme, not even through a redirect.
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, Protocols);
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, Protocols);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
        // A status of 400 or above is a failed download, its body is not a page.
        curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, UserAgent);
        // Every encoding libcurl can decode; the page file gets the decoded bytes.
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeToPage);
        sinceYield.start();
    }
    ~Handles() { release(); }

    void release() noexcept {
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        easy = nullptr;
        multi = nullptr;
    }
};

URLMon::URLMon() = default;
URLMon::~URLMon() = default;

void URLMon::release() noexcept {
    m_handles.reset();
}

DownloadResult URLMon::DownloadURLToFile(const QString& address, const QString& path,
                                         const DownloadSettings& settings, Shell& shell,
                                         const std::function<bool()>& keepGoing) {
    DownloadResult result;
    if (!keepGoing()) {
        result.failure = QStringLiteral("stopped");
        return result;
    }
    if (!m_handles)
        m_handles = std::make_unique<Handles>();
    Handles& h = *m_handles;
    CURL* easy = h.easy;

    PageSink sink;
    sink.limit = settings.maxPageBytes;
    const qint64 createStart = nowNs();
    sink.fd = CreatePageFile(path);
    sink.fileNs = nowNs() - createStart;

    const QByteArray url = address.toUtf8();
    h.errorText[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT,
                     static_cast<long>(settings.connectTimeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT,
                     static_cast<long>(settings.stallBytesPerSecond));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(settings.stallSeconds));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(settings.maxPageBytes));

    // The multi interface lets the wait be cut into short polls, between which the
    // window gets its turn and Stop is noticed.
    curl_multi_add_handle(h.multi, easy);
    struct Detach {
        Handles& h;
        PageSink& sink;
        const QString& path;
        bool keepFile = false;
        ~Detach() {
            curl_multi_remove_handle(h.multi, h.easy);
            if (!keepFile)
                closeAndRemove(sink.fd, path);
        }
    } detach{h, sink, path};

    const bool everyStep = shell.yieldsEveryStep();
    bool abandoned = false;
    CURLMcode multiCode = CURLM_OK;
    for (;;) {
        int running = 0;
        multiCode = curl_multi_perform(h.multi, &running);
        if (multiCode != CURLM_OK || running == 0)
            break;
        multiCode = curl_multi_poll(h.multi, nullptr, 0, PollMs, nullptr);
        if (multiCode != CURLM_OK)
            break;
        if (everyStep || h.sinceYield.nsecsElapsed() >= YieldIntervalNs) {
            shell.yield(YieldPlace::Download);
            h.sinceYield.restart();
        }
        if (!keepGoing()) {
            abandoned = true;
            break;
        }
    }

    CURLcode code = CURLE_OK;
    bool finished = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(h.multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            code = message->data.result;
            finished = true;
        }
    }
    result.fileNs = sink.fileNs;
    result.bytes = sink.written;

    if (sink.writeError != 0)
        throw Failure(pageFileFailure(path, sink.writeError));
    if (abandoned) {
        result.failure = QStringLiteral("stopped");
        return result;
    }
    if (multiCode != CURLM_OK) {
        result.failure = QString::fromUtf8(curl_multi_strerror(multiCode));
        return result;
    }
    if (!finished) {
        result.failure = QStringLiteral("transfer did not finish");
        return result;
    }
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        result.failure = QStringLiteral("page larger than %1 bytes").arg(settings.maxPageBytes);
        return result;
    }
    if (code == CURLE_HTTP_RETURNED_ERROR) {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        result.failure = QStringLiteral("HTTP %1").arg(status);
        return result;
    }
    if (code != CURLE_OK) {
        result.failure = QString::fromUtf8(h.errorText[0] ? h.errorText : curl_easy_strerror(code));
        return result;
    }

    const qint64 closeStart = nowNs();
    const int fd = sink.fd;
    sink.fd = -1;
    if (::close(fd) != 0)
        throw Failure(pageFileFailure(path, errno));
    detach.keepFile = true;

    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    result.effectiveAddress = effective ? QString::fromUtf8(effective) : address;
    long redirects = 0;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
    result.redirected = redirects > 0;
    result.fileNs = sink.fileNs + (nowNs() - closeStart);
    result.ok = true;
    return result;
}
