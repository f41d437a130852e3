#include "crawl/URLMon.h"

#include "base/Failure.h"
#include "base/Shell.h"
#include "base/SystemIo.h"
#include "crawl/PageFile.h"
#include "crawl/RequestIdentity.h"
#include "crawl/TrustedStore.h"

#include <QFile>
#include <QHash>
#include <QUrl>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <deque>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr long MaxRedirects = 10;
// Even when libcurl has nothing due, a wait ends after this long: a safety net,
// not a heartbeat.
constexpr int LongestWaitMs = 500;
const char* const Protocols = "http,https";
const char* const UserAgent = "Orvelle/" ORVELLE_VERSION;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString pageFileFailure(const char* what, const QString& path, int error) {
    return QLatin1String(what) + path + QStringLiteral(": ") + SystemErrorText(error);
}

// What a host's connections were seen to speak.
enum class Multiplex {
    Unknown,
    Yes, // HTTP/2: its transfers are streams on shared connections
    No,  // one transfer at a time on each connection
};

// What the TLS handshake of a transfer's connection agreed on (ALPN, RFC 7301):
// "h2" is HTTP/2, anything else or nothing HTTP/1.1. Unknown when libcurl's TLS is
// not OpenSSL, or the connection is not TLS.
Multiplex NegotiatedProtocol(CURL* easy) noexcept {
    curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
        info->backend != CURLSSLBACKEND_OPENSSL || !info->internals)
        return Multiplex::Unknown;
    const unsigned char* name = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(static_cast<SSL*>(info->internals), &name, &length);
    return length == 2 && std::memcmp(name, "h2", 2) == 0 ? Multiplex::Yes : Multiplex::No;
}

// What transfers found out of their host's protocol as their requests went out.
struct ProtocolNotice {
    QString host;
    Multiplex multiplex;
};

} // namespace

QString HostKey(const QString& address) {
    const QUrl url(address);
    const QString scheme = url.scheme();
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    return scheme + QStringLiteral("://") + url.host() + u':' + QString::number(port);
}

QByteArray CaBundleFromEnvironment() {
    QByteArray bundle = qgetenv("CURL_CA_BUNDLE");
    if (bundle.isEmpty())
        bundle = qgetenv("SSL_CERT_FILE");
    return bundle;
}

QByteArray SystemCaBundle() {
    QByteArray bundle;
    if (CURL* probe = curl_easy_init()) {
        char* path = nullptr;
        if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &path) == CURLE_OK && path)
            bundle = path;
        curl_easy_cleanup(probe);
    }
    return bundle;
}

PageBody::~PageBody() {
    release();
}

void PageBody::release() noexcept {
    if (m_map)
        UnmapPageFile(m_map, m_mapSize);
    if (m_fd >= 0)
        ::close(m_fd);
    m_map = nullptr;
    m_mapSize = 0;
    m_released = 0;
    m_fd = -1;
}

PageBody::PageBody(PageBody&& other) noexcept
    : m_memory(std::move(other.m_memory)), m_fd(std::exchange(other.m_fd, -1)),
      m_size(std::exchange(other.m_size, 0)), m_path(std::move(other.m_path)),
      m_map(std::exchange(other.m_map, nullptr)), m_mapSize(std::exchange(other.m_mapSize, 0)),
      m_released(std::exchange(other.m_released, 0)) {}

PageBody& PageBody::operator=(PageBody&& other) noexcept {
    if (this != &other) {
        release();
        m_memory = std::move(other.m_memory);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = std::exchange(other.m_size, 0);
        m_path = std::move(other.m_path);
        m_map = std::exchange(other.m_map, nullptr);
        m_mapSize = std::exchange(other.m_mapSize, 0);
        m_released = std::exchange(other.m_released, 0);
    }
    return *this;
}

namespace {

// The length of an open page file, checked against the largest page kept.
qint64 PageFileLength(int fd, const QString& path, qint64 maxBytes) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw Failure(pageFileFailure("Cannot read the page file ", path, errno));
    if (st.st_size > maxBytes)
        throw Failure(pageFileFailure("Cannot read the page file ", path, EFBIG));
    return st.st_size;
}

} // namespace

QByteArray PageBody::read(qint64 maxBytes) const {
    if (m_fd < 0)
        return m_memory;
    QByteArray bytes(static_cast<qsizetype>(PageFileLength(m_fd, m_path, maxBytes)),
                     Qt::Uninitialized);
    const qsizetype done =
        ::lseek(m_fd, 0, SEEK_SET) == 0 ? ReadFully(m_fd, bytes.data(), bytes.size()) : -1;
    if (done < 0)
        throw Failure(pageFileFailure("Cannot read the page file ", m_path, errno));
    bytes.resize(done);
    return bytes;
}

QByteArray PageBody::view(qint64 maxBytes) const {
    if (m_fd < 0)
        return m_memory;
    if (!m_map) {
        const qint64 length = PageFileLength(m_fd, m_path, maxBytes);
        // An empty file has nothing to map.
        if (length == 0)
            return QByteArray();
        m_map = MapPageFile(m_fd, length, m_path);
        m_mapSize = length;
    }
    if (m_mapSize > maxBytes)
        throw Failure(pageFileFailure("Cannot read the page file ", m_path, EFBIG));
    return QByteArray::fromRawData(m_map, static_cast<qsizetype>(m_mapSize));
}

void PageBody::scannedTo(qint64 offset) const noexcept {
    if (!m_map)
        return;
    // A scan that starts again from the front reads back what was let go.
    if (offset < m_released)
        m_released = 0;
    // A little behind the scan stays: a match is checked a few bytes back.
    constexpr qint64 Behind = 64 * 1024;
    const qint64 upTo = std::min(offset, m_mapSize) - Behind;
    if (upTo > m_released)
        m_released = ReleasePageFileMap(m_map, m_released, upTo);
}

// How the connections of a run are made, the same for every transfer.
struct ConnectionSetup {
    // The bundle of the certificates trusted where a request identity adds none:
    // that of CURL_CA_BUNDLE, else SSL_CERT_FILE, else the system's; and its
    // store, made for the first TLS connection.
    QByteArray bundle;
    TrustedStore* system = nullptr;
    // Where the bundle cannot be read, libcurl is left to load it: the
    // certificates to trust in place of the system's, or null for its default.
    const char* caFile = nullptr;
    // Leave out libcurl's default certificate folder: with a folder set, libcurl
    // keeps no certificate store from one connection to the next and parses the
    // whole bundle again for each (CURLOPT_CA_CACHE_TIMEOUT).
    bool noCaPath = false;
    // TLS sessions shared by every transfer, so that a new connection to a host
    // resumes one instead of a full handshake.
    CURLSH* share = nullptr;
    // The store of the certificates a request identity trusts.
    TrustedStore* trusted = nullptr;
};

// libcurl loads no certificates of its own: a TLS context it makes verifies with
// the store (CURLOPT_SSL_CTX_FUNCTION).
CURLcode InstallStore(CURL*, void* context, void* store) noexcept {
    X509_STORE_up_ref(static_cast<X509_STORE*>(store));
    SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(context), static_cast<X509_STORE*>(store));
    return CURLE_OK;
}

void UseStore(CURL* easy, X509_STORE* store) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &InstallStore);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, store);
}

// One download, from its queue to its result.
struct Transfer {
    enum class State { Queued, Running, Finished };

    URLMon::Id id = 0;
    // The address asked for, and the one being asked now: a redirect's Location.
    QByteArray origin;
    QByteArray url;
    QString host;
    DownloadSettings settings;
    bool urgent = false;
    State state = State::Queued;
    CURL* easy = nullptr;
    int slot = 0; // 1-based while running: the number of its page file
    qint64 startNs = 0;
    // Times asked for again so far, and when the next try may start.
    int retries = 0;
    qint64 readyAtNs = 0;
    // Where to tell what the first connection speaks, once it is made, while the
    // host's protocol is not known; null once told or when it need not be.
    std::vector<ProtocolNotice>* tellProtocol = nullptr;
    // The run's count of the bytes running transfers hold in memory, and what
    // this one has added to it.
    qint64* receiving = nullptr;
    qint64 counted = 0;

    // What libcurl's write callback has received.
    PageBody body;
    bool tooLarge = false;
    bool expandsTooMuch = false;
    // A GetHeaders transfer abandoned once the headers had come.
    bool stoppedAfterHeaders = false;
    // Why a redirect was not followed; empty when none was refused.
    QString redirectFailure;
    // A failure of this program (a page file, memory), for a LocalError.
    QString localError;
    // The seconds of a Retry-After longer than the settings allow; -1 when none.
    int askedToWaitSeconds = -1;
    char errorText[CURL_ERROR_SIZE] = {};

    // The stall check. requestNs is when the request went out (-1 before), and
    // received the bytes of the answer that have come since, as libcurl counts
    // them. The marks are what had arrived at earlier checks, each at least a
    // quarter of the stall time after the one before; the first is the newest one
    // at least the stall time old once there is one.
    struct Mark {
        qint64 ns;
        qint64 bytes;
    };
    qint64 requestNs = -1;
    qint64 received = 0;
    std::array<Mark, 8> marks{};
    int markCount = 0;
    bool stalled = false;

    DownloadResult result;

    // The header lines of the request, handed to libcurl: they live as long as
    // the transfer.
    curl_slist* headerLines = nullptr;

    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer() { curl_slist_free_all(headerLines); }

    // Moves what has arrived so far out of memory into a page file, opened and
    // unlinked at once: nothing stays on disk when the program ends.
    bool spill() noexcept {
        try {
            QString path = PageFilePath(slot);
            // The body owns the descriptor from here, whatever fails next.
            body.m_fd = CreatePageFile(path);
            body.m_path = std::move(path);
        } catch (const Failure& f) {
            localError = f.description();
            return false;
        } catch (...) {
            localError = QStringLiteral("Cannot create the page file");
            return false;
        }
        if (!write(body.m_memory.constData(), static_cast<size_t>(body.m_memory.size())))
            return false;
        body.m_memory.clear();
        body.m_memory.squeeze();
        uncount();
        return true;
    }

    // Takes what this transfer holds in memory out of the run's count.
    void uncount() noexcept {
        if (receiving)
            *receiving -= counted;
        counted = 0;
    }

    bool write(const char* data, size_t size) noexcept {
        if (const int error = WriteAll(body.m_fd, data, static_cast<qsizetype>(size))) {
            localError = pageFileFailure("Cannot write the page file ", body.m_path, error);
            return false;
        }
        return true;
    }

    // A libcurl callback: nothing may be thrown from here. Returning less than it
    // was given makes libcurl end the transfer with CURLE_WRITE_ERROR.
    static size_t onData(char* data, size_t size, size_t count, void* userdata) noexcept {
        auto* t = static_cast<Transfer*>(userdata);
        const size_t total = size * count;
        // The body of a redirect is not the page: it is read past, so that the
        // connection stays open for the next request.
        if (!t->redirectTarget().isEmpty())
            return total;
        if (t->settings.method == RequestMethod::GetHeaders) {
            t->stoppedAfterHeaders = true;
            return 0;
        }
        // The limit counts decoded bytes, so a small compressed body that expands
        // past it is caught too.
        if (static_cast<qint64>(total) > t->settings.maxPageBytes - t->body.m_size) {
            t->tooLarge = true;
            return 0;
        }
        if (t->expandsTooFar(t->body.m_size + static_cast<qint64>(total))) {
            t->expandsTooMuch = true;
            return 0;
        }
        if (t->body.m_fd < 0 &&
            t->body.m_size + static_cast<qint64>(total) > t->settings.memoryPageBytes &&
            !t->spill())
            return 0;
        if (t->body.m_fd >= 0) {
            if (!t->write(data, total))
                return 0;
        } else {
            try {
                t->body.m_memory.append(data, static_cast<qsizetype>(total));
            } catch (...) {
                t->localError = QStringLiteral("Out of memory");
                return 0;
            }
            if (t->receiving)
                *t->receiving += static_cast<qint64>(total);
            t->counted += static_cast<qint64>(total);
        }
        t->body.m_size += static_cast<qint64>(total);
        return total;
    }

    // The request is about to go out, on a connection made or reused: the stall
    // check starts here, so that neither a queue nor the connection counts.
    static int onRequest(void* userdata, char*, char*, int, int) noexcept {
        auto* t = static_cast<Transfer*>(userdata);
        t->startStallCheck(nowNs());
        // The first request goes to the transfer's own host (a redirect may lead
        // elsewhere): its connection's handshake tells the host's protocol long
        // before an answer would.
        if (std::vector<ProtocolNotice>* notices = std::exchange(t->tellProtocol, nullptr)) {
            const Multiplex multiplex = NegotiatedProtocol(t->easy);
            if (multiplex != Multiplex::Unknown) {
                try {
                    notices->push_back({t->host, multiplex});
                } catch (...) {
                    // Learnt at the answer instead.
                }
            }
        }
        return CURL_PREREQFUNC_OK;
    }

    // libcurl's progress callback; a non-zero answer abandons the transfer.
    static int onProgress(void* userdata, curl_off_t, curl_off_t now, curl_off_t,
                          curl_off_t) noexcept {
        auto* t = static_cast<Transfer*>(userdata);
        t->received = static_cast<qint64>(now);
        return t->stalledAt(nowNs()) ? 1 : 0;
    }

    void startStallCheck(qint64 now) noexcept {
        requestNs = now;
        received = 0;
        marks[0] = {now, 0};
        markCount = 1;
    }

    // True when fewer than stallBytesPerSecond bytes a second have arrived over the
    // last stallMs (or a little more: the span from the newest mark at least that
    // old). libcurl's own low-speed check counts whole seconds, and checks only
    // while its one-second timer runs; this one runs at every progress callback
    // and at every pump of the service.
    bool stalledAt(qint64 now) noexcept {
        if (stalled)
            return true;
        if (requestNs < 0 || settings.stallMs <= 0 || settings.stallBytesPerSecond <= 0)
            return false;
        // A count that went back is that of a new request, after a redirect.
        if (received < marks[markCount - 1].bytes)
            startStallCheck(now);
        const qint64 windowNs = settings.stallMs * 1'000'000;
        auto dropOldest = [&] {
            std::move(marks.begin() + 1, marks.begin() + markCount, marks.begin());
            --markCount;
        };
        if (now - marks[markCount - 1].ns >= windowNs / 4) {
            if (markCount == static_cast<int>(marks.size()))
                dropOldest();
            marks[markCount++] = {now, received};
        }
        while (markCount > 1 && now - marks[1].ns >= windowNs)
            dropOldest();
        const qint64 spanNs = now - marks[0].ns;
        if (spanNs < windowNs)
            return false;
        stalled = static_cast<double>(received - marks[0].bytes) * 1e9 <
                  static_cast<double>(settings.stallBytesPerSecond) * static_cast<double>(spanNs);
        return stalled;
    }

    QString stallText() const {
        // In libcurl's words, in seconds with a fraction where there is one.
        return QStringLiteral("Operation too slow. Less than %1 bytes/sec transferred the last "
                              "%2 seconds")
            .arg(settings.stallBytesPerSecond)
            .arg(QString::number(static_cast<double>(settings.stallMs) / 1000.0));
    }

    // True when decoded bytes are far more than the bytes that came over the wire.
    bool expandsTooFar(qint64 decoded) const noexcept {
        if (decoded <= settings.expansionCheckBytes)
            return false;
        // The body as received, before any content decoding.
        curl_off_t received = 0;
        curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
        return decoded / settings.maxExpansion > static_cast<qint64>(received);
    }

    // A libcurl callback: one header line of an answer, of any hop. A cookie an
    // answer sets is gathered, never sent during the run.
    static size_t onHeader(char* data, size_t size, size_t count, void* userdata) noexcept {
        auto* t = static_cast<Transfer*>(userdata);
        const size_t total = size * count;
        static const QByteArray SetCookie = QByteArrayLiteral("set-cookie:");
        try {
            if (total > static_cast<size_t>(SetCookie.size()) &&
                qstrnicmp(data, SetCookie.constData(), SetCookie.size()) == 0) {
                char* at = nullptr;
                curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &at);
                t->settings.identity->answered(
                    at ? QString::fromUtf8(at) : QString::fromUtf8(t->url),
                    QByteArray(data + SetCookie.size(),
                               static_cast<qsizetype>(total) - SetCookie.size())
                        .trimmed());
            }
        } catch (...) {
            // A cookie that cannot be kept is lost; the page is not.
        }
        return total;
    }

    // What the request says of who asks, for its address: every hop of a transfer
    // is set up here, so that a value goes only to a host it is for.
    void setUpIdentity() {
        curl_slist_free_all(headerLines);
        headerLines = nullptr;
        const RequestIdentity* identity = settings.identity.get();
        curl_easy_setopt(easy, CURLOPT_USERAGENT,
                         identity && !identity->userAgent.isEmpty()
                             ? identity->userAgent.constData()
                             : UserAgent);
        if (!identity)
            return;
        const QString address = QString::fromUtf8(url);
        for (const QByteArray& line : identity->headersFor(address)) {
            curl_slist* more = curl_slist_append(headerLines, line.constData());
            if (!more)
                throw Failure(QStringLiteral("Out of memory"));
            headerLines = more;
        }
        if (headerLines)
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerLines);
        // libcurl gives a login set so to no other host a redirect leads to
        // (CURLOPT_UNRESTRICTED_AUTH is off).
        if (const RequestIdentity::Login* login = identity->loginFor(address)) {
            curl_easy_setopt(easy, CURLOPT_USERNAME, login->user.constData());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, login->password.constData());
        }
        if (identity->insecure) {
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        }
        if (identity->answers) {
            curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
            curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        }
    }

    // The certificates a TLS connection of this transfer trusts: those of its
    // request identity, when it adds some, else the run's bundle. Null: libcurl
    // loads them.
    X509_STORE* trustedStore(const ConnectionSetup& connection) const {
        const RequestIdentity* identity = settings.identity.get();
        if (identity && !identity->trustedCertificates.isEmpty())
            return connection.trusted ? connection.trusted->of(identity->trustedCertificates)
                                      : nullptr;
        return connection.system ? connection.system->ofFile(connection.bundle) : nullptr;
    }

    // The request for address: the one asked for, or the next one of a redirect,
    // each set up afresh. pipeWait: wait for a connection being made to the host
    // to tell whether it multiplexes (HTTP/2) before opening another.
    void setUp(CURL* handle, const ConnectionSetup& connection, bool pipeWait,
               const QByteArray& address) {
        easy = handle;
        errorText[0] = '\0';
        curl_easy_reset(easy);
        // Only the web: no file://, ftp:// or other scheme. Redirects are followed
        // here, not by libcurl, so that each request is set up for its own address
        // and every hop is known.
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, Protocols);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        if (settings.method == RequestMethod::Head)
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        // A status of 400 or above is a failed download, its body is not a page.
        curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
        // Every encoding libcurl can decode; the page gets the decoded bytes.
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, pipeWait ? 1L : 0L);
        if (X509_STORE* store = address.startsWith("https:") ? trustedStore(connection) : nullptr) {
            UseStore(easy, store);
        } else {
            if (connection.caFile)
                curl_easy_setopt(easy, CURLOPT_CAINFO, connection.caFile);
            if (connection.noCaPath)
                curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        }
        if (connection.share)
            curl_easy_setopt(easy, CURLOPT_SHARE, connection.share);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onData);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
        curl_easy_setopt(easy, CURLOPT_URL, address.constData());
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(std::max<qint64>(settings.connectTimeoutMs, 1)));
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::onRequest);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(settings.maxPageBytes));
        // The time limit counts from the first request, through every redirect.
        qint64 timeoutMs = settings.maxTimeMs;
        if (timeoutMs > 0 && !result.redirects.isEmpty())
            timeoutMs = std::max<qint64>(timeoutMs - (nowNs() - startNs) / 1'000'000, 1);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
        setUpIdentity();
    }

    // Where the answer that came redirects to (RFC 9110, section 15.4: its
    // Location, which libcurl resolves against the address asked, RFC 3986
    // section 5); empty when it is not a redirect to follow.
    QByteArray redirectTarget() const {
        const long status = httpStatus();
        if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
            return QByteArray();
        char* location = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || !location)
            return QByteArray();
        return QByteArray(location);
    }

    // Takes the redirect the answer asks for: the hop is recorded, and true when
    // the next request may go out, else the reason is kept for the result.
    bool takeRedirect(const QByteArray& target) {
        result.redirects.push_back({static_cast<int>(httpStatus()), QString::fromUtf8(target)});
        const QByteArray scheme = target.left(target.indexOf(':')).toLower();
        if (scheme != "http" && scheme != "https") {
            redirectFailure = QStringLiteral("redirect to a %1 address not followed: ")
                                  .arg(QString::fromUtf8(scheme)) +
                              QString::fromUtf8(target);
            return false;
        }
        if (result.redirects.size() > MaxRedirects) {
            redirectFailure = QStringLiteral("too many redirects (more than %1)").arg(MaxRedirects);
            return false;
        }
        url = target;
        body = PageBody();
        requestNs = -1;
        markCount = 0;
        return true;
    }

    long httpStatus() const {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // The seconds a 429 or 503 answer asks to wait before the page is asked for
    // once more (RFC 9110, section 10.2.3: seconds, or an HTTP date, which libcurl
    // reads; a date gone by is 0); -1 when it asks nothing.
    int retryAfterSeconds(long status) const {
        curl_header* header = nullptr;
        if ((status != 429 && status != 503) ||
            curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
            return -1;
        curl_off_t seconds = 0;
        curl_easy_getinfo(easy, CURLINFO_RETRY_AFTER, &seconds);
        return static_cast<int>(std::clamp<curl_off_t>(seconds, 0, 1'000'000'000));
    }

    // True when the connection was refused, or broke off (reset, or closed with no
    // answer) before a byte of the answer came: the server never saw the request,
    // or dropped it unread.
    bool brokenBeforeTheAnswer(CURLcode code) const {
        if (code != CURLE_COULDNT_CONNECT && code != CURLE_GOT_NOTHING &&
            code != CURLE_SEND_ERROR && code != CURLE_RECV_ERROR)
            return false;
        long headerBytes = 0;
        curl_off_t bodyBytes = 0;
        curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headerBytes);
        curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &bodyBytes);
        return headerBytes == 0 && bodyBytes == 0;
    }

    // Whether a transfer that ended with code is to be tried again: one that
    // failed in a way that seldom lasts, with retries left. A time-out, a 500
    // and every other failure are final: they rarely change, and each would cost
    // the whole wait again. retryAfter is what the server asked for (-1: nothing).
    bool triesAgain(CURLcode code, int* retryAfter) {
        *retryAfter = -1;
        if (!localError.isEmpty() || stalled || tooLarge || expandsTooMuch)
            return false;
        const long status = code == CURLE_HTTP_RETURNED_ERROR ? httpStatus() : 0;
        const bool transient = status == 429 || status == 502 || status == 503 || status == 504 ||
                               (status == 0 && brokenBeforeTheAnswer(code));
        if (!transient)
            return false;
        const int asked = retryAfterSeconds(status);
        // Politeness waits out a Retry-After once, even with no retries.
        const int allowed =
            asked >= 0 && settings.waitMs >= 0 ? std::max(1, settings.retries) : settings.retries;
        if (retries >= allowed)
            return false;
        if (asked > settings.maxRetryWaitSeconds) {
            askedToWaitSeconds = asked;
            return false;
        }
        *retryAfter = asked;
        return true;
    }

    // Back to where it was before its first try, for the next.
    void prepareRetry() {
        ++retries;
        state = State::Queued;
        body = PageBody();
        tooLarge = false;
        expandsTooMuch = false;
        stoppedAfterHeaders = false;
        // A try starts again from the address asked for.
        url = origin;
        result.redirects.clear();
        requestNs = -1;
        markCount = 0;
        stalled = false;
        tellProtocol = nullptr;
    }

    // Turns libcurl's verdict into the result.
    void conclude(CURLcode code) {
        result.downloadNs = nowNs() - startNs;
        char* type = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
            result.contentType = QString::fromUtf8(type);
        auto fail = [&](DownloadOutcome outcome, const QString& reason) {
            result.outcome = outcome;
            result.failure = reason;
        };
        // A GetHeaders transfer ends on purpose when its headers are in.
        if (stoppedAfterHeaders && code == CURLE_WRITE_ERROR)
            code = CURLE_OK;
        if (!localError.isEmpty()) {
            fail(DownloadOutcome::LocalError, localError);
        } else if (!redirectFailure.isEmpty()) {
            result.httpStatus = static_cast<int>(httpStatus());
            fail(DownloadOutcome::NetworkError, redirectFailure);
        } else if (stalled) {
            fail(DownloadOutcome::NetworkError, stallText());
        } else if (askedToWaitSeconds >= 0) {
            result.httpStatus = static_cast<int>(httpStatus());
            fail(DownloadOutcome::HttpError,
                 QStringLiteral("server asked to wait %1 s").arg(askedToWaitSeconds));
        } else if (expandsTooMuch) {
            fail(DownloadOutcome::TooLarge, QStringLiteral("page expands too much"));
        } else if (tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            fail(DownloadOutcome::TooLarge,
                 QStringLiteral("page larger than %1 bytes").arg(settings.maxPageBytes));
        } else if (code == CURLE_HTTP_RETURNED_ERROR) {
            const long status = httpStatus();
            result.httpStatus = static_cast<int>(status);
            fail(DownloadOutcome::HttpError, QStringLiteral("HTTP %1").arg(status));
        } else if (code != CURLE_OK) {
            QString reason = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(code));
            // A server that speaks plain HTTP on the port answers the TLS hello
            // with text, which TLS reads as a record of an unknown version.
            if (url.startsWith("https:") &&
                (code == CURLE_SSL_CONNECT_ERROR ||
                 reason.contains(QLatin1String("wrong version number"), Qt::CaseInsensitive)))
                reason =
                    QStringLiteral("TLS handshake failed (is this a plain http:// server?): ") +
                    reason;
            fail(DownloadOutcome::NetworkError, reason);
        } else {
            char* effective = nullptr;
            curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
            result.effectiveAddress =
                effective ? QString::fromUtf8(effective) : QString::fromUtf8(url);
            result.redirected = !result.redirects.isEmpty();
            result.httpStatus = static_cast<int>(httpStatus());
            result.outcome = DownloadOutcome::Downloaded;
            result.body = std::move(body);
        }
        body = PageBody();
        state = State::Finished;
    }
};

struct URLMon::Engine {
    // Everything known of one host (HostKey): its transfers waiting (urgent ones
    // first, then in the order asked for), those running, how it answers, its
    // pause, and what its robots.txt says.
    struct Host {
        std::deque<Id> queue;
        int running = 0;
        Multiplex multiplex = Multiplex::Unknown;
        // No request starts before this: the pause of politeness, or the wait a
        // Retry-After asked for.
        qint64 readyAtNs = 0;
        HostRobots robots;
    };
    // A server that asked to be left alone for a while, for the shell to tell.
    struct WaitNotice {
        QString address;
        int status;
        int seconds;
    };

    // Streams on one HTTP/2 connection, at most.
    static constexpr int StreamsPerConnection = 64;

    CURLM* multi = nullptr;
    CURLSH* share = nullptr;
    std::vector<CURL*> handles; // by slot - 1; null while a slot is free
    std::vector<bool> slotBusy;
    std::vector<Transfer*> occupants; // by slot - 1: the transfer running there, or null
    std::unordered_map<Id, std::unique_ptr<Transfer>> transfers;
    QHash<QString, Host> hosts;
    // The hosts with transfers waiting, in the order they came to wait.
    std::vector<QString> waiting;
    QHash<int, int> sockets; // what libcurl waits for on each socket
    qint64 deadlineNs = -1;  // when libcurl wants its time-out action, or none
    Id nextId = 1;
    int runningCount = 0;
    // The connections the running transfers take, as hostConnections() counts
    // them; and the streams left over on those of the hosts that multiplex.
    int connectionCount = 0;
    int spareStreams = 0;
    qint64 receivingBytes = 0; // what the running transfers hold in memory
    bool multiplexing = false; // some host of the run speaks HTTP/2
    std::vector<WaitNotice> notices;
    std::vector<ProtocolNotice> protocolNotices;
    // As curl does, CURL_CA_BUNDLE (else SSL_CERT_FILE) names the certificates
    // to trust in place of the system's.
    QByteArray caFile;
    ConnectionSetup connection;
    TrustedStore system;
    TrustedStore trusted;
    std::minstd_rand random{std::random_device{}()};

    Engine() {
        static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
        if (initialised != CURLE_OK)
            throw Failure(QString::fromUtf8(curl_easy_strerror(initialised)));
        multi = curl_multi_init();
        if (!multi)
            throw Failure(QStringLiteral("Cannot start the download service"));
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
        // Streams on one HTTP/2 connection, at most; the server's own limit
        // (SETTINGS_MAX_CONCURRENT_STREAMS) lowers it, and libcurl opens another
        // connection to the host, up to its limit, when one is full.
        curl_multi_setopt(multi, CURLMOPT_MAX_CONCURRENT_STREAMS,
                          static_cast<long>(StreamsPerConnection));
        caFile = CaBundleFromEnvironment();
        if (!caFile.isEmpty()) {
            connection.caFile = caFile.constData();
            connection.noCaPath = true;
            connection.bundle = caFile;
        } else {
            // Where the system keeps a bundle, its certificate folder holds the
            // same certificates: the bundle alone is loaded, once.
            const QByteArray bundle = SystemCaBundle();
            connection.noCaPath = !bundle.isEmpty() && ::access(bundle.constData(), R_OK) == 0;
            connection.bundle = bundle;
        }
        share = curl_share_init();
        if (share &&
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK)
            connection.share = share;
        connection.system = &system;
        connection.trusted = &trusted;
    }
    ~Engine() {
        abandonAll();
        for (CURL* easy : handles)
            if (easy)
                curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        if (share)
            curl_share_cleanup(share);
    }

    static int onSocket(CURL*, curl_socket_t fd, int what, void* userdata, void*) noexcept {
        auto* e = static_cast<Engine*>(userdata);
        try {
            if (what == CURL_POLL_REMOVE)
                e->sockets.remove(fd);
            else
                e->sockets.insert(fd, what);
        } catch (...) {
            return -1;
        }
        return 0;
    }

    static int onTimer(CURLM*, long timeoutMs, void* userdata) noexcept {
        auto* e = static_cast<Engine*>(userdata);
        e->deadlineNs = timeoutMs < 0 ? -1 : nowNs() + timeoutMs * 1'000'000;
        return 0;
    }

    // The transfers one host may have at once. Both limits count connections:
    // without multiplexing each transfer has one of its own; over HTTP/2 the
    // transfers are streams, up to StreamsPerConnection on each of at most
    // perHost connections. With politeness on, one at a time whatever the
    // protocol.
    static int hostLimit(const Host& host, const DownloadSettings& settings) {
        if (settings.waitMs >= 0)
            return 1;
        const int perHost = std::max(1, settings.perHost);
        return host.multiplex == Multiplex::Yes ? perHost * StreamsPerConnection : perHost;
    }
    int hostLimit(const Transfer& t) const { return hostLimit(hostOf(t.host), t.settings); }

    // What is known of the host of key, without a copy: nothing, for one the run
    // has not met.
    const Host& hostOf(const QString& key) const {
        static const Host unknown;
        const auto host = hosts.constFind(key);
        return host == hosts.cend() ? unknown : *host;
    }

    // The connections a host's running transfers take: one each, or over HTTP/2
    // as few as hold them all as streams.
    static int hostConnections(const Host& host) {
        return host.multiplex == Multiplex::Yes
                   ? (host.running + StreamsPerConnection - 1) / StreamsPerConnection
                   : host.running;
    }
    static int hostSpareStreams(const Host& host) {
        return host.multiplex == Multiplex::Yes
                   ? hostConnections(host) * StreamsPerConnection - host.running
                   : 0;
    }

    // Changes what a host runs or speaks, the run's counts with it.
    template <typename Change> void changeHost(Host& host, Change change) {
        connectionCount -= hostConnections(host);
        spareStreams -= hostSpareStreams(host);
        change();
        connectionCount += hostConnections(host);
        spareStreams += hostSpareStreams(host);
    }

    void learnProtocol(const QString& key, Multiplex multiplex) {
        Host& host = hosts[key];
        multiplexing = multiplexing || multiplex == Multiplex::Yes;
        changeHost(host, [&] { host.multiplex = multiplex; });
    }

    // True when one more transfer to host stays within the connections allowed
    // in flight: over HTTP/2 it may be a stream on a connection already open.
    bool withinParallel(const Host& host, const DownloadSettings& settings) const {
        const bool newConnection =
            host.multiplex != Multiplex::Yes || host.running % StreamsPerConnection == 0;
        return connectionCount + (newConnection ? 1 : 0) <= settings.parallel;
    }

    // Only a TLS connection can offer HTTP/2 (ALPN; plain http:// is asked in
    // HTTP/1.1), and only while the host has not been seen to answer without it:
    // a transfer made to wait for a connection that will never multiplex waits
    // for that connection's whole transfer, and with a server that closes every
    // connection libcurl forgets what it learnt with the connection, so every
    // transfer would wait for the one before it.
    bool pipeWait(const Transfer& t) const {
        return t.url.startsWith("https:") && hostOf(t.host).multiplex != Multiplex::No;
    }

    // When a queued transfer may start at the earliest: after its host's pause,
    // and for a retry, after its own wait.
    qint64 readyAtNs(const Transfer& t) const {
        return std::max(hostOf(t.host).readyAtNs, t.readyAtNs);
    }

    bool hostHasRoom(const Transfer& t) const {
        return hostOf(t.host).running < hostLimit(t) && nowNs() >= readyAtNs(t);
    }

    // The soonest a queued transfer waits for a pause to end, in nanoseconds from
    // now; -1 when none waits so.
    qint64 nextReadyInNs() const {
        qint64 soonest = -1;
        const qint64 now = nowNs();
        for (const QString& key : waiting)
            for (const Id id : hostOf(key).queue) {
                const qint64 readyAt = readyAtNs(*transfers.at(id));
                if (readyAt > now && (soonest < 0 || readyAt - now < soonest))
                    soonest = readyAt - now;
            }
        return soonest;
    }

    // How often the running transfers' stall checks are due, at least: a quarter
    // of the shortest stall time among those whose request is out; -1 for none.
    qint64 stallCheckEveryNs() const {
        qint64 every = -1;
        for (const Transfer* t : occupants)
            if (t && t->requestNs >= 0 && t->settings.stallMs > 0) {
                const qint64 quarter =
                    std::max<qint64>(t->settings.stallMs * 1'000'000 / 4, 1'000'000);
                every = every < 0 ? quarter : std::min(every, quarter);
            }
        return every;
    }

    int freeSlot() {
        const auto free = std::find(slotBusy.begin(), slotBusy.end(), false);
        if (free != slotBusy.end())
            return static_cast<int>(free - slotBusy.begin()) + 1;
        slotBusy.push_back(false);
        handles.push_back(nullptr);
        occupants.push_back(nullptr);
        return static_cast<int>(slotBusy.size());
    }

    void begin(Transfer& t) {
        const int slot = freeSlot();
        CURL*& easy = handles[static_cast<size_t>(slot - 1)];
        if (!easy)
            easy = curl_easy_init();
        if (!easy)
            throw Failure(QStringLiteral("Cannot start the download service"));
        t.slot = slot;
        t.setUp(easy, connection, pipeWait(t), t.url);
        t.receiving = &receivingBytes;
        Host& host = hosts[t.host];
        t.tellProtocol = host.multiplex == Multiplex::Unknown && t.url.startsWith("https:")
                             ? &protocolNotices
                             : nullptr;
        const int perHost = std::max(1, t.settings.perHost);
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(perHost));
        // Room for a connection of every transfer allowed and as many idle ones
        // besides: libcurl's default (four per transfer in flight) shrinks as the
        // transfers end and closes connections the next ones would have used.
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS,
                          static_cast<long>(2 * std::max(t.settings.parallel, perHost)));
        t.startNs = nowNs();
        if (curl_multi_add_handle(multi, easy) != CURLM_OK)
            throw Failure(QStringLiteral("Cannot start the download service"));
        slotBusy[static_cast<size_t>(slot - 1)] = true;
        occupants[static_cast<size_t>(slot - 1)] = &t;
        t.state = Transfer::State::Running;
        changeHost(host, [&] { ++host.running; });
        ++runningCount;
    }

    // Takes a running transfer off libcurl and gives back its slot.
    void detach(Transfer& t) noexcept {
        if (t.slot == 0)
            return;
        curl_multi_remove_handle(multi, t.easy);
        t.uncount();
        slotBusy[static_cast<size_t>(t.slot - 1)] = false;
        occupants[static_cast<size_t>(t.slot - 1)] = nullptr;
        auto host = hosts.find(t.host);
        if (host != hosts.end())
            changeHost(*host, [&] { --host->running; });
        --runningCount;
        t.slot = 0;
    }

    // Puts a transfer in its host's queue: at the head, or at the end.
    void enqueue(Transfer& t, bool atHead) {
        std::deque<Id>& queue = hosts[t.host].queue;
        if (queue.empty())
            waiting.push_back(t.host);
        if (atHead)
            queue.push_front(t.id);
        else
            queue.push_back(t.id);
    }

    void dequeue(const Transfer& t) noexcept {
        const auto host = hosts.find(t.host);
        if (host == hosts.end())
            return;
        std::deque<Id>& queue = host->queue;
        queue.erase(std::remove(queue.begin(), queue.end(), t.id), queue.end());
        if (queue.empty())
            waiting.erase(std::remove(waiting.begin(), waiting.end(), t.host), waiting.end());
    }

    // Starts what can start at once: the urgent transfers of every host first,
    // then the others, each host's in its order.
    void startQueued() {
        for (const bool urgentOnly : {true, false}) {
            for (size_t i = 0; i < waiting.size();) {
                Host& host = hosts[waiting[i]];
                std::deque<Id>& queue = host.queue;
                while (!queue.empty()) {
                    Transfer& t = *transfers.at(queue.front());
                    const bool room = t.urgent || withinParallel(host, t.settings);
                    if ((urgentOnly && !t.urgent) || !room || !hostHasRoom(t))
                        break;
                    begin(t);
                    queue.pop_front();
                }
                if (queue.empty())
                    waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
                else
                    ++i;
            }
        }
    }

    void collectFinished() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Transfer* t = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
            if (!t)
                continue;
            learnMultiplex(*t);
            const CURLcode code = message->data.result;
            if (code == CURLE_OK) {
                const QByteArray target = t->redirectTarget();
                if (!target.isEmpty()) {
                    if (t->takeRedirect(target))
                        redirect(*t);
                    else
                        finish(*t, code);
                    continue;
                }
            }
            int retryAfter = -1;
            if (t->triesAgain(code, &retryAfter))
                retryLater(*t, retryAfter);
            else
                finish(*t, code);
        }
    }

    // What the answer's protocol says of its host; an answer from elsewhere, after
    // a redirect, says nothing of it.
    void learnMultiplex(const Transfer& t) {
        long version = 0;
        curl_easy_getinfo(t.easy, CURLINFO_HTTP_VERSION, &version);
        if (version == 0 || !t.result.redirects.isEmpty())
            return;
        learnProtocol(t.host, version >= CURL_HTTP_VERSION_2_0 ? Multiplex::Yes : Multiplex::No);
    }

    // What the handshakes of new connections told.
    void learnFromHandshakes() {
        for (const ProtocolNotice& notice : std::exchange(protocolNotices, {}))
            learnProtocol(notice.host, notice.multiplex);
    }

    // Sends the next request of a redirect on the transfer's handle and slot: it
    // stays one download, counted against the host it was asked of.
    void redirect(Transfer& t) {
        curl_multi_remove_handle(multi, t.easy);
        t.setUp(t.easy, connection, pipeWait(t), t.url);
        // A handshake made for this hop may be with another host.
        t.tellProtocol = nullptr;
        if (curl_multi_add_handle(multi, t.easy) != CURLM_OK) {
            t.localError = QStringLiteral("Cannot start the download service");
            finish(t, CURLE_OK);
        }
    }

    void finish(Transfer& t, CURLcode code) {
        t.conclude(code);
        detach(t);
        if (t.settings.waitMs >= 0) {
            Host& host = hosts[t.host];
            host.readyAtNs = std::max(host.readyAtNs, nowNs() + t.settings.waitMs * 1'000'000);
        }
    }

    // Ends every running transfer whose stall check fails, also one that libcurl
    // has nothing to say of: its progress callback is not called while no byte
    // comes.
    void abandonStalled() {
        const qint64 now = nowNs();
        for (Transfer* t : occupants)
            if (t && t->stalledAt(now))
                finish(*t, CURLE_OPERATION_TIMEDOUT);
    }

    // How long a transfer waits before it is tried again: what the server asked
    // for, else 0.5 s, 1 s, 2 s ... (retryBaseMs doubled with each try) with up
    // to a quarter more at random, so that many transfers that failed together
    // do not come back together; at most maxRetryWaitSeconds; and with
    // politeness on, at least its pause.
    qint64 retryDelayNs(const Transfer& t, int retryAfter) {
        qint64 delay;
        if (retryAfter >= 0) {
            delay = qint64(retryAfter) * 1'000'000'000;
        } else {
            const qint64 base = std::max<qint64>(t.settings.retryBaseMs, 0) * 1'000'000
                                << std::min(t.retries, DownloadSettings::MaxRetries);
            delay = base + std::uniform_int_distribution<qint64>(0, base / 4)(random);
            delay = std::min(delay, qint64(t.settings.maxRetryWaitSeconds) * 1'000'000'000);
        }
        return std::max(delay, t.settings.waitMs * 1'000'000);
    }

    // Puts a transfer back at the head of its queue, to start again once its wait
    // is over. A server that asked for the wait (Retry-After) has its whole host
    // paused as long, and the shell is told.
    void retryLater(Transfer& t, int retryAfter) {
        detach(t);
        const qint64 readyAt = nowNs() + retryDelayNs(t, retryAfter);
        if (retryAfter >= 0) {
            notices.push_back(
                {QString::fromUtf8(t.url), static_cast<int>(t.httpStatus()), retryAfter});
            Host& host = hosts[t.host];
            host.readyAtNs = std::max(host.readyAtNs, readyAt);
        }
        t.prepareRetry();
        t.readyAtNs = readyAt;
        enqueue(t, true);
    }

    void act(curl_socket_t fd, int mask) {
        int running = 0;
        curl_multi_socket_action(multi, fd, mask, &running);
        learnFromHandshakes();
    }

    void pump() {
        for (int round = 0; round < 2; ++round) {
            startQueued();
            if (deadlineNs >= 0 && nowNs() >= deadlineNs) {
                deadlineNs = -1;
                act(CURL_SOCKET_TIMEOUT, 0);
            }
            collectFinished();
            abandonStalled();
        }
    }

    void abandon(Transfer& t) noexcept {
        detach(t);
        dequeue(t);
    }

    void abandonAll() noexcept {
        for (auto& [id, t] : transfers)
            detach(*t);
        transfers.clear();
        for (Host& host : hosts)
            host.queue.clear();
        waiting.clear();
    }
};

URLMon::URLMon() = default;

HostRobots& URLMon::robotsOf(const QString& key) {
    return engine().hosts[key].robots;
}

void URLMon::forgetRobots() noexcept {
    if (!m_engine)
        return;
    for (Engine::Host& host : m_engine->hosts) {
        if (host.robots.pending != 0)
            cancel(host.robots.pending);
        host.robots = HostRobots();
    }
}
URLMon::~URLMon() = default;

URLMon::Engine& URLMon::engine() {
    if (!m_engine)
        m_engine = std::make_unique<Engine>();
    return *m_engine;
}

URLMon::Id URLMon::start(const QString& address, const DownloadSettings& settings, bool urgent) {
    Engine& e = engine();
    auto t = std::make_unique<Transfer>();
    t->id = e.nextId++;
    t->origin = address.toUtf8();
    t->url = t->origin;
    t->host = HostKey(address);
    t->settings = settings;
    t->urgent = urgent;
    const Id id = t->id;
    Transfer& queued = *t;
    e.transfers.emplace(id, std::move(t));
    e.enqueue(queued, urgent);
    e.startQueued();
    return id;
}

void URLMon::hurry(Id id) {
    if (!m_engine)
        return;
    const auto it = m_engine->transfers.find(id);
    if (it == m_engine->transfers.end() || it->second->urgent)
        return;
    it->second->urgent = true;
    if (it->second->state == Transfer::State::Queued) {
        m_engine->dequeue(*it->second);
        m_engine->enqueue(*it->second, true);
        m_engine->startQueued();
    }
}

bool URLMon::canStartNow(const QString& address, const DownloadSettings& settings,
                         int spare) const {
    if (!m_engine)
        return true;
    const Engine::Host& host = m_engine->hostOf(HostKey(address));
    return m_engine->withinParallel(host, settings) &&
           host.running + spare < Engine::hostLimit(host, settings) && nowNs() >= host.readyAtNs;
}

bool URLMon::finished(Id id) const {
    if (!m_engine)
        return false;
    const auto it = m_engine->transfers.find(id);
    return it != m_engine->transfers.end() && it->second->state == Transfer::State::Finished;
}

const DownloadResult* URLMon::peek(Id id) const {
    return finished(id) ? &m_engine->transfers.at(id)->result : nullptr;
}

DownloadResult URLMon::take(Id id) {
    auto node = m_engine->transfers.extract(id);
    return std::move(node.mapped()->result);
}

void URLMon::cancel(Id id) noexcept {
    if (!m_engine)
        return;
    const auto it = m_engine->transfers.find(id);
    if (it == m_engine->transfers.end())
        return;
    m_engine->abandon(*it->second);
    m_engine->transfers.erase(it);
}

void URLMon::cancelAll() noexcept {
    if (m_engine)
        m_engine->abandonAll();
}

bool URLMon::roomForAnother(const DownloadSettings& settings) const {
    return !m_engine || m_engine->connectionCount < settings.parallel || m_engine->spareStreams > 0;
}

int URLMon::transfersAtOnce(const DownloadSettings& settings) const {
    if (!m_engine || settings.waitMs >= 0 || !m_engine->multiplexing)
        return settings.parallel;
    return std::max(settings.parallel, std::min(settings.parallel, std::max(1, settings.perHost)) *
                                           Engine::StreamsPerConnection);
}

int URLMon::running() const {
    return m_engine ? m_engine->runningCount : 0;
}

int URLMon::queued() const {
    int count = 0;
    if (m_engine)
        for (const QString& key : m_engine->waiting)
            count += static_cast<int>(m_engine->hostOf(key).queue.size());
    return count;
}

qint64 URLMon::receivingBytes() const {
    return m_engine ? m_engine->receivingBytes : 0;
}

void URLMon::pump() {
    if (m_engine)
        m_engine->pump();
}

void URLMon::wait(Shell& shell) {
    Engine& e = engine();
    e.pump();
    std::vector<WaitSocket> sockets;
    sockets.reserve(static_cast<size_t>(e.sockets.size()));
    for (auto it = e.sockets.cbegin(); it != e.sockets.cend(); ++it) {
        WaitSocket s;
        s.fd = it.key();
        s.read = (it.value() & CURL_POLL_IN) != 0;
        s.write = (it.value() & CURL_POLL_OUT) != 0;
        sockets.push_back(s);
    }
    int timeoutMs = LongestWaitMs;
    if (e.deadlineNs >= 0)
        timeoutMs = static_cast<int>(
            std::clamp<qint64>((e.deadlineNs - nowNs() + 999'999) / 1'000'000, 0, LongestWaitMs));
    // A paused host's queue moves on when its pause ends.
    const qint64 readyInNs = e.nextReadyInNs();
    if (e.runningCount == 0)
        timeoutMs = readyInNs < 0 ? 0 : LongestWaitMs;
    if (readyInNs >= 0)
        timeoutMs = std::min(timeoutMs, static_cast<int>(std::min<qint64>(
                                            (readyInNs + 999'999) / 1'000'000, LongestWaitMs)));
    // The stall checks are due now and then even while no byte comes.
    if (const qint64 everyNs = e.stallCheckEveryNs(); everyNs >= 0)
        timeoutMs = std::min(timeoutMs, static_cast<int>(std::min<qint64>(
                                            (everyNs + 999'999) / 1'000'000, LongestWaitMs)));
    for (const Engine::WaitNotice& notice : std::exchange(e.notices, {}))
        shell.serverAskedToWait(notice.address, notice.status, notice.seconds);
    shell.waitForSockets(sockets, timeoutMs, YieldPlace::Download);
    for (const WaitSocket& s : sockets) {
        const int mask = (s.readable ? CURL_CSELECT_IN : 0) | (s.writable ? CURL_CSELECT_OUT : 0);
        if (mask != 0)
            e.act(s.fd, mask);
    }
    e.pump();
}

DownloadResult URLMon::download(const QString& address, const DownloadSettings& settings,
                                Shell& shell, const std::function<bool()>& keepGoing) {
    DownloadResult stopped;
    stopped.outcome = DownloadOutcome::Stopped;
    stopped.failure = QStringLiteral("stopped");
    if (!keepGoing())
        return stopped;
    const Id id = start(address, settings, true);
    for (;;) {
        pump();
        if (finished(id))
            return take(id);
        wait(shell);
        if (!keepGoing()) {
            cancel(id);
            return stopped;
        }
    }
}

void URLMon::release() noexcept {
    m_engine.reset();
}
