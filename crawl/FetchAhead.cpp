#include "crawl/FetchAhead.h"

#include "crawl/CrawlHost.h"
#include "crawl/ExtractLinks.h"
#include "crawl/LinkScanner.h"
#include "crawl/LinkValue.h"

#include <algorithm>
#include <cstring>

namespace {

// Pages fetched ahead and not yet visited, per transfer allowed in flight.
constexpr int HeldPerTransfer = 4;
constexpr qint64 HeldMemoryBytes = 64 * 1024 * 1024;
constexpr qint64 HeldDiskBytes = qint64(1024) * 1024 * 1024;
// How far down the frontier a page whose host has room is looked for.
constexpr size_t FrontierLookDown = 32;

// Collects the HTML links of a page fetched ahead, resolved as the visit will
// resolve them.
class FrontierSink : public LinkSink {
public:
    FrontierSink(const QByteArray& page, const std::function<void(const QString&)>& found)
        : m_page(page), m_found(found) {}

    bool matched(qsizetype valueStart, bool isFile) override {
        if (isFile)
            return true;
        const char* d = m_page.constData();
        const void* quote =
            valueStart < m_page.size()
                ? std::memchr(d + valueStart, '"', static_cast<size_t>(m_page.size() - valueStart))
                : nullptr;
        // A value that no quote closes before the end of the page is dropped.
        if (quote)
            m_found(
                CleanLinkValue(d + valueStart, static_cast<const char*>(quote) - d - valueStart));
        return true;
    }

private:
    const QByteArray& m_page;
    const std::function<void(const QString&)>& m_found;
};

} // namespace

FetchAhead::FetchAhead(CrawlHost& host, URLMon& transfers, const DownloadSettings& settings)
    : m_host(host), m_transfers(transfers), m_settings(settings) {}

void FetchAhead::beginRun(const QStringList& addresses) {
    endRun();
    m_listed = addresses;
}

void FetchAhead::atListed(qsizetype index) {
    m_nextListed = std::max(m_nextListed, index + 1);
}

void FetchAhead::followFrom(const QSet<QString>& seen, const QList<QString>& queue) {
    m_following = true;
    m_seen.clear();
    m_frontier.clear();
    if (!fetchesAhead())
        return;
    m_seen.reserve(seen.size());
    for (const QString& link : seen)
        m_seen.insert(qHash(link));
    m_frontier.reserve(static_cast<size_t>(queue.size()));
    for (const QString& link : queue)
        m_frontier.push_back(PageAddressOf(link));
}

void FetchAhead::endFollowing() {
    m_following = false;
    m_seen.clear();
    m_frontier.clear();
    m_frontier.shrink_to_fit();
}

void FetchAhead::endRun() noexcept {
    for (const auto& [id, job] : m_jobs)
        m_transfers.cancel(id);
    m_jobs.clear();
    m_byAddress.clear();
    m_unexplored.clear();
    m_listed.clear();
    m_nextListed = 0;
    m_listedHeld = 0;
    endFollowing();
}

bool FetchAhead::fetchesAhead() const {
    return m_settings.parallel > 1;
}

DownloadResult FetchAhead::visit(const QString& address, Shell& shell,
                                 const std::function<bool()>& keepGoing) {
    if (!fetchesAhead())
        return m_transfers.download(address, m_settings, shell, keepGoing);
    DownloadResult stopped;
    stopped.outcome = DownloadOutcome::Stopped;
    stopped.failure = QStringLiteral("stopped");
    if (!keepGoing()) {
        endRun();
        return stopped;
    }
    URLMon::Id id = takeJobFor(address);
    if (id == 0) {
        // Not fetched ahead: asked for now, before anything else.
        if (m_following) {
            const auto it = std::find(m_frontier.rbegin(), m_frontier.rend(), address);
            if (it != m_frontier.rend())
                m_frontier.erase(std::next(it).base());
        }
        id = m_transfers.start(address, m_settings, true);
        m_jobs.emplace(id, Job{address, false, m_following, false});
    } else {
        m_transfers.hurry(id);
    }
    for (;;) {
        m_transfers.pump();
        exploreArrivals();
        if (m_transfers.finished(id))
            break;
        refill();
        m_transfers.wait(shell);
        if (!keepGoing()) {
            // Stop abandons every transfer at once.
            endRun();
            return stopped;
        }
    }
    const auto job = m_jobs.find(id);
    if (job != m_jobs.end()) {
        if (job->second.explore && !job->second.explored)
            explore(job->second, *m_transfers.peek(id));
        m_jobs.erase(job);
    }
    DownloadResult result = m_transfers.take(id);
    refill();
    return result;
}

URLMon::Id FetchAhead::takeJobFor(const QString& address) {
    const auto found = m_byAddress.find(address);
    if (found == m_byAddress.end())
        return 0;
    std::deque<URLMon::Id>& ids = *found;
    // Any of them is the same request; one of the crawl for a page of the crawl and
    // a listed one for a listed address, so that each is explored as it should be;
    // one that has arrived before one in flight.
    auto rank = [&](URLMon::Id id) {
        const auto job = m_jobs.find(id);
        const bool sameKind = job != m_jobs.end() && job->second.listed == !m_following;
        return (sameKind ? 0 : 2) + (m_transfers.finished(id) ? 0 : 1);
    };
    auto pick = std::min_element(ids.begin(), ids.end(),
                                 [&](URLMon::Id a, URLMon::Id b) { return rank(a) < rank(b); });
    const URLMon::Id id = *pick;
    ids.erase(pick);
    if (ids.empty())
        m_byAddress.erase(found);
    const auto job = m_jobs.find(id);
    if (job != m_jobs.end() && job->second.listed) {
        job->second.listed = false;
        --m_listedHeld;
    }
    return id;
}

void FetchAhead::exploreArrivals() {
    for (size_t i = 0; i < m_unexplored.size();) {
        const URLMon::Id id = m_unexplored[i];
        const DownloadResult* result = m_transfers.peek(id);
        const auto job = m_jobs.find(id);
        if (job == m_jobs.end() || result) {
            if (job != m_jobs.end() && !job->second.explored)
                explore(job->second, *result);
            m_unexplored[i] = m_unexplored.back();
            m_unexplored.pop_back();
        } else {
            ++i;
        }
    }
}

void FetchAhead::explore(Job& job, const DownloadResult& result) {
    job.explored = true;
    if (!m_following || !result.ok() || !result.pageFileError.isEmpty())
        return;
    QByteArray page;
    try {
        page = result.body.read(m_settings.maxPageBytes);
    } catch (...) {
        // The visit meets the same failure and reports it.
        return;
    }
    m_resolver.setBase(result.redirected ? result.effectiveAddress : job.address);
    const std::function<void(const QString&)> found = [&](const QString& value) {
        const LinkResolver::Result link = m_resolver.resolve(value, false);
        const size_t key = qHash(link.link);
        if (m_seen.contains(key))
            return;
        m_seen.insert(key);
        if (link.visitable)
            m_frontier.push_back(PageAddressOf(link.link));
    };
    FrontierSink sink(page, found);
    LinkScanner().scan(page.constData(), page.size(), sink);
}

bool FetchAhead::roomForMore() const {
    const int limit = HeldPerTransfer * m_settings.parallel;
    if (static_cast<int>(m_jobs.size()) >= limit)
        return false;
    if (m_transfers.running() >= m_settings.parallel)
        return false;
    qint64 memory = m_transfers.receivingBytes();
    qint64 disk = 0;
    for (const auto& [id, job] : m_jobs)
        if (const DownloadResult* result = m_transfers.peek(id))
            (result->body.onDisk() ? disk : memory) += result->body.size();
    return memory < HeldMemoryBytes && disk < HeldDiskBytes;
}

void FetchAhead::refill() {
    if (!fetchesAhead() || !m_host.RunFlag())
        return;
    while (roomForMore() && startNext()) {
    }
}

bool FetchAhead::startNext() {
    // First the pages of the crawl, newest first: the visits go deep first.
    if (m_following && !m_frontier.empty()) {
        const size_t lookDown = std::min(m_frontier.size(), FrontierLookDown);
        for (size_t k = 1; k <= lookDown; ++k) {
            const size_t at = m_frontier.size() - k;
            if (m_transfers.canStartNow(m_frontier[at], m_settings)) {
                const QString address = m_frontier[at];
                m_frontier.erase(m_frontier.begin() + static_cast<std::ptrdiff_t>(at));
                startAhead(address, false);
                return true;
            }
        }
        return false;
    }
    // Then the listed addresses to come; while a crawl follows links, or is about to,
    // only a few, so that they leave the room to its pages.
    const int listedLimit = (m_following || m_host.Check2() == 1)
                                ? m_settings.parallel
                                : HeldPerTransfer * m_settings.parallel;
    while (m_nextListed < m_listed.size() && m_listedHeld < listedLimit) {
        const QString& address = m_listed.at(m_nextListed);
        if (address.isEmpty()) {
            ++m_nextListed;
            continue;
        }
        if (!m_transfers.canStartNow(address, m_settings))
            return false;
        ++m_nextListed;
        startAhead(address, true);
        return true;
    }
    return false;
}

void FetchAhead::startAhead(const QString& address, bool listed) {
    const URLMon::Id id = m_transfers.start(address, m_settings, false);
    m_jobs.emplace(id, Job{address, listed, !listed && m_following, false});
    m_byAddress[address].push_back(id);
    if (listed)
        ++m_listedHeld;
    else if (m_following)
        m_unexplored.push_back(id);
}
