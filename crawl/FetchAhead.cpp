#include "crawl/FetchAhead.h"

#include "crawl/CrawlHost.h"
#include "crawl/DocumentBase.h"
#include "crawl/ExtractLinks.h"
#include "crawl/LinkScanner.h"
#include "crawl/LinkValue.h"

#include <algorithm>

namespace {

// Pages fetched ahead and not yet visited, per transfer allowed in flight.
constexpr int HeldPerTransfer = 4;
constexpr qint64 HeldMemoryBytes = 64 * 1024 * 1024;
constexpr qint64 HeldDiskBytes = qint64(1024) * 1024 * 1024;
// How far the walk looks ahead for pages to fetch, at most: visits per transfer
// allowed in flight, and steps in all.
constexpr int GuessReachPerTransfer = 2;
constexpr int MaxPlanSteps = 4096;

// Collects the HTML links of a page fetched ahead, resolved as its visit will
// resolve them. What the scan has passed of a page read from its page file may
// leave memory.
class LinkCollector : public LinkSink {
public:
    LinkCollector(const QByteArray& page, const PageBody& body,
                  const std::function<void(const QString&, qsizetype)>& found)
        : m_page(page), m_body(body), m_found(found) {}

    bool progress(qsizetype scanned) override {
        m_body.scannedTo(scanned);
        return true;
    }

    bool matched(const LinkMatch& match) override {
        if (match.isFile())
            return true;
        const char* d = m_page.constData();
        const qsizetype end = FindValueEnd(d, match.valueStart, m_page.size(), match.quote);
        // A value that does not end before the end of the page is dropped.
        if (end >= 0)
            m_found(CleanLinkValue(d + match.valueStart, end - match.valueStart), match.valueStart);
        return true;
    }

private:
    const QByteArray& m_page;
    const PageBody& m_body;
    const std::function<void(const QString&, qsizetype)>& m_found;
};

// The user-agent token robots.txt names us by (RFC 9309, section 2.2.1).
const QString RobotsAgent = QStringLiteral("Orvelle");

// What robots.txt says, from how its download ended (section 2.3.1): its rules;
// all allowed when it is unavailable (4xx); nothing when the server could not say.
RobotsTxt RulesOf(const DownloadResult& result, qint64 maxBytes) {
    if (result.ok()) {
        try {
            return RobotsTxt::parse(result.body.read(maxBytes), RobotsAgent);
        } catch (...) {
            return RobotsTxt::disallowingAll();
        }
    }
    if (result.outcome == DownloadOutcome::HttpError && result.httpStatus >= 400 &&
        result.httpStatus < 500)
        return RobotsTxt();
    return RobotsTxt::disallowingAll();
}

DownloadResult stoppedResult() {
    DownloadResult stopped;
    stopped.outcome = DownloadOutcome::Stopped;
    stopped.failure = QStringLiteral("stopped");
    return stopped;
}

} // namespace

FetchAhead::FetchAhead(CrawlHost& host, URLMon& transfers, const DownloadSettings& settings,
                       const ScanRules& rules, const CrawlScope& scope)
    : m_host(host), m_transfers(transfers), m_settings(settings), m_rules(rules), m_scope(scope) {}

bool FetchAhead::fetchesAhead() const {
    return m_settings.parallel > 1;
}

void FetchAhead::beginRun(const QStringList& addresses) {
    endRun();
    m_listed = addresses;
}

void FetchAhead::atListed(qsizetype index) {
    m_nextListed = std::max(m_nextListed, index + 1);
}

void FetchAhead::followFrom(const QSet<QString>& seen, const QList<QString>& queue,
                            const QList<int>& depths) {
    endFollowing();
    m_following = true;
    if (!fetchesAhead())
        return;
    m_walkSeen.reserve(seen.size());
    for (const QString& link : seen)
        m_walkSeen.insert(qHash(link));
    m_walkQueue.reserve(static_cast<size_t>(queue.size()));
    for (qsizetype i = 0; i < queue.size(); ++i)
        m_walkQueue.push_back({PageAddressOf(queue.at(i)), depths.value(i, 1)});
    walk();
    m_planDirty = true;
}

void FetchAhead::endFollowing() {
    m_following = false;
    m_walkSeen.clear();
    m_walkQueue.clear();
    m_walkQueue.shrink_to_fit();
}

void FetchAhead::endRun() noexcept {
    for (const auto& [id, job] : m_jobs)
        m_transfers.cancel(id);
    for (const Robots& robots : std::as_const(m_robots))
        if (robots.pending != 0)
            m_transfers.cancel(robots.pending);
    m_robots.clear();
    m_jobs.clear();
    m_byAddress.clear();
    m_unscanned.clear();
    m_listed.clear();
    m_nextListed = 0;
    m_listedHeld = 0;
    m_visiting.clear();
    endFollowing();
}

DownloadResult FetchAhead::visit(const QString& address, Shell& shell,
                                 const std::function<bool()>& keepGoing) {
    if (!fetchesAhead())
        return m_transfers.download(address, m_settings, shell, keepGoing);
    if (!keepGoing()) {
        endRun();
        return stoppedResult();
    }
    URLMon::Id id = takeJobFor(address);
    m_visiting = address;
    if (id == 0) {
        // Not fetched ahead: asked for now, before anything else.
        id = m_transfers.start(address, m_settings, true);
        m_jobs.emplace(id, Job{address, false, false, {}});
    } else {
        m_transfers.hurry(id);
    }
    for (;;) {
        m_transfers.pump();
        scanArrivals();
        if (m_transfers.finished(id))
            break;
        refill();
        m_transfers.wait(shell);
        if (!keepGoing()) {
            // Stop abandons every transfer at once.
            endRun();
            return stoppedResult();
        }
    }
    const auto job = m_jobs.find(id);
    if (job != m_jobs.end()) {
        if (m_following) {
            if (!job->second.scanned)
                scan(job->second, *m_transfers.peek(id));
            // Taken out of the fetches ahead already: the walk cannot find it there.
            if (!m_walkQueue.empty() && m_walkQueue.back().page == address)
                walkThrough(job->second, m_walkQueue.back().depth);
            walk();
        }
        m_jobs.erase(job);
        m_planDirty = true;
    }
    m_visiting.clear();
    DownloadResult result = m_transfers.take(id);
    refill();
    return result;
}

URLMon::Id FetchAhead::takeJobFor(const QString& address) {
    const auto found = m_byAddress.find(address);
    if (found == m_byAddress.end())
        return 0;
    std::deque<URLMon::Id>& ids = *found;
    // Any of them is the same request: one that has arrived before one in flight,
    // a listed one for a listed address and one of the crawl for a page of the crawl.
    auto rank = [&](URLMon::Id id) {
        const auto job = m_jobs.find(id);
        const bool sameKind = job != m_jobs.end() && job->second.listed == !m_following;
        return (sameKind ? 0 : 2) + (m_transfers.finished(id) ? 0 : 1);
    };
    const auto pick = std::min_element(
        ids.begin(), ids.end(), [&](URLMon::Id a, URLMon::Id b) { return rank(a) < rank(b); });
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

bool FetchAhead::allows(const QString& address, Shell& shell,
                        const std::function<bool()>& keepGoing) {
    if (!m_scope.robots)
        return true;
    if (!fetchesAhead()) {
        const QString robots = RobotsTxt::addressFor(address);
        auto known = m_robots.find(robots);
        if (known == m_robots.end()) {
            const DownloadResult result =
                m_transfers.download(robots, m_settings, shell, keepGoing);
            if (result.outcome == DownloadOutcome::Stopped)
                return false;
            known =
                m_robots.insert(robots, Robots{0, true, RulesOf(result, m_settings.maxPageBytes)});
        }
        return known->rules.allows(address);
    }
    Verdict verdict;
    while ((verdict = robotsVerdict(address)) == Verdict::Unknown) {
        refill();
        m_transfers.wait(shell);
        if (!keepGoing()) {
            endRun();
            return false;
        }
        m_transfers.pump();
        scanArrivals();
    }
    return verdict == Verdict::Allowed;
}

FetchAhead::Verdict FetchAhead::robotsVerdict(const QString& page) {
    if (!m_scope.robots)
        return Verdict::Allowed;
    const QString address = RobotsTxt::addressFor(page);
    auto robots = m_robots.find(address);
    // Asked for once a run for each host and port, before any of its pages, and
    // ahead of everything else.
    if (robots == m_robots.end())
        robots = m_robots.insert(address,
                                 Robots{m_transfers.start(address, m_settings, true), false, {}});
    if (!robots->known)
        return Verdict::Unknown;
    return robots->rules.allows(page) ? Verdict::Allowed : Verdict::Disallowed;
}

bool FetchAhead::concludeRobots() {
    bool concluded = false;
    for (Robots& robots : m_robots) {
        if (robots.known || !m_transfers.finished(robots.pending))
            continue;
        robots.rules = RulesOf(m_transfers.take(robots.pending), m_settings.maxPageBytes);
        robots.known = true;
        robots.pending = 0;
        concluded = true;
    }
    return concluded;
}

void FetchAhead::scanArrivals() {
    bool arrived = concludeRobots();
    for (size_t i = 0; i < m_unscanned.size();) {
        const URLMon::Id id = m_unscanned[i];
        const auto job = m_jobs.find(id);
        const DownloadResult* result = m_transfers.peek(id);
        if (job != m_jobs.end() && !result) {
            ++i;
            continue;
        }
        if (job != m_jobs.end() && !job->second.scanned) {
            scan(job->second, *result);
            arrived = true;
        }
        m_unscanned[i] = m_unscanned.back();
        m_unscanned.pop_back();
    }
    if (arrived) {
        walk();
        m_planDirty = true;
    }
}

void FetchAhead::scan(Job& job, const DownloadResult& result) {
    job.scanned = true;
    if (!result.ok())
        return;
    // A large page is read through a map of its page file, which lasts as long as
    // the result: the scan ends before this function does.
    QByteArray page;
    try {
        page = result.body.view(m_settings.maxPageBytes);
    } catch (...) {
        // The visit meets the same failure and reports it.
        return;
    }
    // As the visit will read them: against the base element's href, but that
    // value itself against the address the page came from.
    const QString delivery = result.redirected ? result.effectiveAddress : job.address;
    qsizetype baseHrefStart = -1;
    LinkResolver deliveryResolver;
    deliveryResolver.setBase(delivery);
    const std::function<void(const QString&, qsizetype)> found = [&](const QString& value,
                                                                     qsizetype start) {
        const LinkResolver::Result link =
            (start == baseHrefStart ? deliveryResolver : m_resolver).resolve(value, false);
        const bool followed = link.visitable && m_scope.inScope(link.link);
        job.links.push_back({qHash(link.link), followed ? PageAddressOf(link.link) : QString()});
    };
    LinkCollector collector(page, result.body, found);
    m_resolver.setBase(
        DocumentBase(page.constData(), page.size(), delivery, m_rules, collector, &baseHrefStart));
    LinkScanner(LinkScanner::Method::Best, m_rules).scan(page.constData(), page.size(), collector);
}

bool FetchAhead::started(const QString& address) const {
    return address == m_visiting || m_byAddress.contains(address);
}

FetchAhead::Job* FetchAhead::arrivedJob(const QString& address) {
    const auto found = m_byAddress.constFind(address);
    if (found == m_byAddress.cend())
        return nullptr;
    for (const URLMon::Id id : *found) {
        const auto job = m_jobs.find(id);
        if (job != m_jobs.end() && job->second.scanned)
            return &job->second;
    }
    return nullptr;
}

void FetchAhead::walk() {
    // Takes the newest queued page while it has arrived, as the visits will.
    // A page robots.txt keeps out is passed over, as the visits will.
    while (m_following && !m_walkQueue.empty()) {
        const Step& next = m_walkQueue.back();
        const Verdict verdict = robotsVerdict(next.page);
        if (verdict == Verdict::Unknown)
            return;
        if (verdict == Verdict::Disallowed) {
            m_walkQueue.pop_back();
            m_walkTurned = true;
            continue;
        }
        const Job* job = arrivedJob(next.page);
        if (!job)
            return;
        walkThrough(*job, next.depth);
    }
}

void FetchAhead::walkThrough(const Job& job, int depth) {
    m_walkQueue.pop_back();
    m_walkTurned = true;
    for (const Link& link : job.links) {
        if (m_walkSeen.contains(link.key))
            continue;
        m_walkSeen.insert(link.key);
        if (!link.page.isEmpty() && m_scope.withinDepth(depth + 1)) {
            m_walkQueue.push_back({link.page, depth + 1});
            m_walkTurned = false;
        }
    }
}

int FetchAhead::heldLimit() const {
    return HeldPerTransfer * m_settings.parallel;
}

bool FetchAhead::roomForMore() const {
    if (static_cast<int>(m_jobs.size()) >= heldLimit() ||
        m_transfers.running() >= m_settings.parallel)
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
    if (m_planDirty) {
        m_planDirty = false;
        planAhead();
    }
    while (startListed()) {
    }
}

void FetchAhead::planAhead() {
    if (!m_following || m_walkQueue.empty())
        return;
    // The page the walk waits for is the next the visits need once they catch up:
    // it goes first, whatever the bounds.
    const QString& next = m_walkQueue.back().page;
    if (!started(next) && robotsVerdict(next) == Verdict::Allowed)
        startAhead(next, false, true);
    // Then the walk goes on as if every page still in flight led nowhere new: the
    // pages it reaches so come next, in that order, unless one in flight proves to
    // lead elsewhere first. One connection to each host stays free for the page
    // the visits will wait for, except for the pages they need next once the walk
    // has turned back: those are the pages they will wait for.
    QSet<size_t> seen;
    std::vector<Step> pushed;
    // With a depth limit a link's depth depends on which page finds it first, so
    // what the pages in flight lead to is known only once they have arrived.
    const bool guessBeyond = m_scope.maxDepth < 0;
    size_t below = m_walkQueue.size();
    // Past a page in flight the order is a guess, the more so the further it goes:
    // the guess stops a few visits ahead, so that the room is left to what the
    // pages in flight lead to.
    int position = 0;
    const int reach = GuessReachPerTransfer * m_settings.parallel;
    for (int step = 0; step < MaxPlanSteps && position < reach && roomForMore(); ++step) {
        Step entry;
        if (!pushed.empty()) {
            entry = std::move(pushed.back());
            pushed.pop_back();
        } else if (below > 0) {
            entry = m_walkQueue[--below];
        } else {
            return;
        }
        const QString& address = entry.page;
        ++position;
        if (robotsVerdict(address) != Verdict::Allowed)
            continue;
        if (!started(address)) {
            // The last places are kept for the pages the visits will need next once
            // the walk turns back: when the page it took last led nowhere new.
            const bool near = m_walkTurned && position <= 2 * m_settings.perHost;
            if ((!near &&
                 static_cast<int>(m_jobs.size()) >= heldLimit() - 2 * m_settings.perHost) ||
                !m_transfers.canStartNow(address, m_settings, near ? 0 : 1))
                return;
            startAhead(address, false, false);
            continue;
        }
        const Job* job = guessBeyond ? arrivedJob(address) : nullptr;
        if (!job)
            continue;
        for (const Link& link : job->links) {
            if (m_walkSeen.contains(link.key) || seen.contains(link.key))
                continue;
            seen.insert(link.key);
            if (!link.page.isEmpty())
                pushed.push_back({link.page, entry.depth + 1});
        }
    }
}

bool FetchAhead::startListed() {
    // While a crawl follows links, or is about to, only a few listed addresses are
    // fetched ahead, so that they leave the room to its pages.
    const int listedLimit = (m_following || m_host.Check2() == 1)
                                ? m_settings.parallel
                                : HeldPerTransfer * m_settings.parallel;
    while (m_nextListed < m_listed.size() && m_listedHeld < listedLimit && roomForMore()) {
        // Brought into the form it is fetched in only now: a list of millions is
        // not held twice.
        const QString address = PageAddressOf(m_listed.at(m_nextListed));
        if (address.isEmpty()) {
            ++m_nextListed;
            continue;
        }
        if (!m_transfers.canStartNow(address, m_settings, m_following ? 1 : 0))
            return false;
        ++m_nextListed;
        startAhead(address, true, false);
        return true;
    }
    return false;
}

void FetchAhead::startAhead(const QString& address, bool listed, bool urgent) {
    const URLMon::Id id = m_transfers.start(address, m_settings, urgent);
    m_jobs.emplace(id, Job{address, listed, false, {}});
    m_byAddress[address].push_back(id);
    if (listed)
        ++m_listedHeld;
    else
        m_unscanned.push_back(id);
}
