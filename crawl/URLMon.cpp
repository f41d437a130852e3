#include "crawl/URLMon.h"

#include "base/Failure.h"
#include "base/Shell.h"
#include "base/SystemIo.h"
#include "crawl/PageFile.h"

#include <QFile>
#include <QHash>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <curl/curl.h>
#include <deque>
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

// "host:port" of an address: the unit of the per-host limit.
QString hostKey(const QString& address) {
    const QUrl url(address);
    const int port = url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    return url.host() + u':' + QString::number(port);
}

} // namespace

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

// One download, from its queue to its result.
struct Transfer {
    enum class State { Queued, Running, Finished };

    URLMon::Id id = 0;
    QByteArray url;
    QString host;
    DownloadSettings settings;
    bool urgent = false;
    State state = State::Queued;
    CURL* easy = nullptr;
    int slot = 0; // 1-based while running: the number of its page file
    bool retried = false;
    qint64 startNs = 0;

    // What libcurl's write callback has received.
    PageBody body;
    bool tooLarge = false;
    bool expandsTooMuch = false;
    QString pageFileError;
    char errorText[CURL_ERROR_SIZE] = {};

    DownloadResult result;

    // Moves what has arrived so far out of memory into a page file, opened and
    // unlinked at once: nothing stays on disk when the program ends.
    bool spill() noexcept {
        try {
            QString path = PageFilePath(slot);
            // The body owns the descriptor from here, whatever fails next.
            body.m_fd = CreatePageFile(path);
            body.m_path = std::move(path);
        } catch (const Failure& f) {
            pageFileError = f.description();
            return false;
        } catch (...) {
            pageFileError = QStringLiteral("Cannot create the page file");
            return false;
        }
        return write(body.m_memory.constData(), static_cast<size_t>(body.m_memory.size())) &&
               (body.m_memory.clear(), body.m_memory.squeeze(), true);
    }

    bool write(const char* data, size_t size) noexcept {
        if (const int error = WriteAll(body.m_fd, data, static_cast<qsizetype>(size))) {
            pageFileError = pageFileFailure("Cannot write the page file ", body.m_path, error);
            return false;
        }
        return true;
    }

    // A libcurl callback: nothing may be thrown from here. Returning less than it
    // was given makes libcurl end the transfer with CURLE_WRITE_ERROR.
    static size_t onData(char* data, size_t size, size_t count, void* userdata) noexcept {
        auto* t = static_cast<Transfer*>(userdata);
        const size_t total = size * count;
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
                t->pageFileError = QStringLiteral("Out of memory");
                return 0;
            }
        }
        t->body.m_size += static_cast<qint64>(total);
        return total;
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

    void setUp(CURL* handle) {
        easy = handle;
        errorText[0] = '\0';
        curl_easy_reset(easy);
        // Only the web: no file://, ftp:// or other scheme, not even through a redirect.
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, Protocols);
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, Protocols);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
        // A status of 400 or above is a failed download, its body is not a page.
        curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, UserAgent);
        // Every encoding libcurl can decode; the page gets the decoded bytes.
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onData);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT,
                         static_cast<long>(settings.connectTimeoutSeconds));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT,
                         static_cast<long>(settings.stallBytesPerSecond));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(settings.stallSeconds));
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(settings.maxPageBytes));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.maxTimeMs));
    }

    long httpStatus() const {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // The seconds a 429 or 503 answer asks to wait before the page is asked for
    // once more (RFC 9110, section 10.2.3: seconds, or an HTTP date, which libcurl
    // reads), with politeness on and the first time only; -1 for no second try.
    int retryAfterSeconds(CURLcode code) const {
        if (settings.waitMs < 0 || retried || code != CURLE_HTTP_RETURNED_ERROR ||
            !pageFileError.isEmpty())
            return -1;
        const long status = httpStatus();
        curl_header* header = nullptr;
        if ((status != 429 && status != 503) ||
            curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
            return -1;
        curl_off_t seconds = 0;
        curl_easy_getinfo(easy, CURLINFO_RETRY_AFTER, &seconds);
        return static_cast<int>(
            std::clamp<curl_off_t>(seconds, 0, DownloadSettings::MaxRetryAfterSeconds));
    }

    // Turns libcurl's verdict into the result.
    void conclude(CURLcode code) {
        result.downloadNs = nowNs() - startNs;
        auto fail = [&](DownloadOutcome outcome, const QString& reason) {
            result.outcome = outcome;
            result.failure = reason;
        };
        if (!pageFileError.isEmpty()) {
            result.pageFileError = pageFileError;
            fail(DownloadOutcome::NetworkError, pageFileError);
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
            fail(DownloadOutcome::NetworkError,
                 QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(code)));
        } else {
            char* effective = nullptr;
            curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
            result.effectiveAddress =
                effective ? QString::fromUtf8(effective) : QString::fromUtf8(url);
            long redirects = 0;
            curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
            result.redirected = redirects > 0;
            result.httpStatus = static_cast<int>(httpStatus());
            result.outcome = DownloadOutcome::Downloaded;
            result.body = std::move(body);
        }
        body = PageBody();
        state = State::Finished;
    }
};

struct URLMon::Engine {
    struct Host {
        int running = 0;
        // Seen answering over HTTP/2: its transfers share connections.
        bool multiplexed = false;
        // With politeness on, no request starts before this.
        qint64 readyAtNs = 0;
    };
    // A server that asked to be left alone for a while, for the shell to tell.
    struct WaitNotice {
        QString address;
        int status;
        int seconds;
    };

    CURLM* multi = nullptr;
    std::vector<CURL*> handles; // by slot - 1; null while a slot is free
    std::vector<bool> slotBusy;
    std::unordered_map<Id, std::unique_ptr<Transfer>> transfers;
    std::deque<Id> queue; // urgent ones first, then in the order asked for
    QHash<QString, Host> hosts;
    QHash<int, int> sockets; // what libcurl waits for on each socket
    qint64 deadlineNs = -1;  // when libcurl wants its time-out action, or none
    Id nextId = 1;
    int runningCount = 0;
    std::vector<WaitNotice> notices;

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
    }
    ~Engine() {
        abandonAll();
        for (CURL* easy : handles)
            if (easy)
                curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
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

    int hostLimit(const Transfer& t) const {
        if (t.settings.waitMs >= 0)
            return 1;
        const auto host = hosts.constFind(t.host);
        const bool shared = host != hosts.cend() && host->multiplexed;
        return shared ? std::max(t.settings.parallel, t.settings.perHost) : t.settings.perHost;
    }

    bool hostHasRoom(const Transfer& t) const {
        const Host host = hosts.value(t.host);
        return host.running < hostLimit(t) && (t.settings.waitMs < 0 || nowNs() >= host.readyAtNs);
    }

    // The soonest a queued transfer waits for its host's pause to end, in
    // nanoseconds from now; -1 when none waits so.
    qint64 nextReadyInNs() const {
        qint64 soonest = -1;
        const qint64 now = nowNs();
        for (const Id id : queue) {
            const Transfer& t = *transfers.at(id);
            const qint64 readyAt = hosts.value(t.host).readyAtNs;
            if (t.settings.waitMs >= 0 && readyAt > now && (soonest < 0 || readyAt - now < soonest))
                soonest = readyAt - now;
        }
        return soonest;
    }

    int freeSlot() {
        const auto free = std::find(slotBusy.begin(), slotBusy.end(), false);
        if (free != slotBusy.end())
            return static_cast<int>(free - slotBusy.begin()) + 1;
        slotBusy.push_back(false);
        handles.push_back(nullptr);
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
        t.setUp(easy);
        const auto limit = static_cast<long>(std::max(1, t.settings.perHost));
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, limit);
        t.startNs = nowNs();
        if (curl_multi_add_handle(multi, easy) != CURLM_OK)
            throw Failure(QStringLiteral("Cannot start the download service"));
        slotBusy[static_cast<size_t>(slot - 1)] = true;
        t.state = Transfer::State::Running;
        ++hosts[t.host].running;
        ++runningCount;
    }

    // Takes a running transfer off libcurl and gives back its slot.
    void detach(Transfer& t) noexcept {
        if (t.slot == 0)
            return;
        curl_multi_remove_handle(multi, t.easy);
        slotBusy[static_cast<size_t>(t.slot - 1)] = false;
        auto host = hosts.find(t.host);
        if (host != hosts.end())
            --host->running;
        --runningCount;
        t.slot = 0;
    }

    void startQueued() {
        for (auto it = queue.begin(); it != queue.end();) {
            Transfer& t = *transfers.at(*it);
            const bool room = t.urgent || runningCount < t.settings.parallel;
            if (room && hostHasRoom(t)) {
                begin(t);
                it = queue.erase(it);
            } else {
                ++it;
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
            long version = 0;
            curl_easy_getinfo(t->easy, CURLINFO_HTTP_VERSION, &version);
            if (version >= CURL_HTTP_VERSION_2_0)
                hosts[t->host].multiplexed = true;
            const CURLcode code = message->data.result;
            const qint64 pauseNs = t->settings.waitMs * 1'000'000;
            if (const int seconds = t->retryAfterSeconds(code); seconds >= 0) {
                retryLater(*t, seconds);
                continue;
            }
            t->conclude(code);
            detach(*t);
            if (t->settings.waitMs >= 0)
                hosts[t->host].readyAtNs = nowNs() + pauseNs;
        }
    }

    // Puts a transfer back at the head of the queue, its host paused for seconds.
    void retryLater(Transfer& t, int seconds) {
        detach(t);
        notices.push_back({QString::fromUtf8(t.url), static_cast<int>(t.httpStatus()), seconds});
        t.retried = true;
        t.body = PageBody();
        t.tooLarge = false;
        t.state = Transfer::State::Queued;
        Host& host = hosts[t.host];
        host.readyAtNs =
            std::max(host.readyAtNs, nowNs() + std::max<qint64>(seconds * 1'000'000'000LL,
                                                                t.settings.waitMs * 1'000'000));
        queue.push_front(t.id);
    }

    void act(curl_socket_t fd, int mask) {
        int running = 0;
        curl_multi_socket_action(multi, fd, mask, &running);
    }

    void pump() {
        for (int round = 0; round < 2; ++round) {
            startQueued();
            if (deadlineNs >= 0 && nowNs() >= deadlineNs) {
                deadlineNs = -1;
                act(CURL_SOCKET_TIMEOUT, 0);
            }
            collectFinished();
        }
    }

    void abandon(Transfer& t) noexcept {
        detach(t);
        queue.erase(std::remove(queue.begin(), queue.end(), t.id), queue.end());
    }

    void abandonAll() noexcept {
        for (auto& [id, t] : transfers)
            detach(*t);
        transfers.clear();
        queue.clear();
    }
};

URLMon::URLMon() = default;
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
    t->url = address.toUtf8();
    t->host = hostKey(address);
    t->settings = settings;
    t->urgent = urgent;
    const Id id = t->id;
    e.transfers.emplace(id, std::move(t));
    if (urgent)
        e.queue.push_front(id);
    else
        e.queue.push_back(id);
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
        auto& queue = m_engine->queue;
        queue.erase(std::remove(queue.begin(), queue.end(), id), queue.end());
        queue.push_front(id);
        m_engine->startQueued();
    }
}

bool URLMon::canStartNow(const QString& address, const DownloadSettings& settings,
                         int spare) const {
    if (!m_engine)
        return true;
    Transfer probe;
    probe.host = hostKey(address);
    probe.settings = settings;
    const Engine::Host host = m_engine->hosts.value(probe.host);
    return m_engine->runningCount < settings.parallel &&
           host.running + spare < m_engine->hostLimit(probe) &&
           (settings.waitMs < 0 || nowNs() >= host.readyAtNs);
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

int URLMon::running() const {
    return m_engine ? m_engine->runningCount : 0;
}

int URLMon::queued() const {
    return m_engine ? static_cast<int>(m_engine->queue.size()) : 0;
}

qint64 URLMon::receivingBytes() const {
    qint64 total = 0;
    if (m_engine)
        for (const auto& [id, t] : m_engine->transfers)
            if (t->state == Transfer::State::Running)
                total += t->body.memory().size();
    return total;
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
