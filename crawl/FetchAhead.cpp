#include "crawl/FetchAhead.h"

#include "base/Shell.h"
#include "crawl/RunHost.h"

#include <algorithm>

namespace {

// What the pages fetched ahead and not yet visited may hold: their links in
// memory, pages not yet read in page files (a full TEMP pauses fetching ahead, it
// fails nothing); and, as a safety net far above what a site's frontier needs,
// how many there may be.
constexpr qint64 HeldMemoryBytes = 24 * 1024 * 1024;
// What a held page costs besides its links and addresses.
constexpr qint64 HeldPerPage =
    static_cast<qint64>(sizeof(FetchedPage) + sizeof(DownloadResult)) + 256;
constexpr qint64 HeldDiskBytes = qint64(1024) * 1024 * 1024;
constexpr size_t MaxHeldPages = 65536;
// Listed addresses fetched ahead per transfer allowed in flight: their order is
// fixed, so more would only wait.
constexpr int ListedPerTransfer = 4;
// How far the walk looks ahead for pages to fetch, at most: visits per transfer
// allowed in flight, and steps in all.
constexpr int GuessReachPerTransfer = 2;
constexpr int MaxPlanSteps = 4096;

// Keeps the links of a page fetched ahead, each visitable one with the form it is
// fetched in, and counts the memory they hold.
class Collector : public PageLinkSink {
public:
    Collector(std::vector<PageLink>& links, qint64& bytes, qint64 limit, const PageBody& body)
        : m_links(links), m_bytes(bytes), m_limit(limit), m_body(body) {}

    // What the scan has passed of a page read from its page file may leave memory.
    bool progress(qsizetype scanned) override {
        m_body.scannedTo(scanned);
        return true;
    }

    // A page whose links would hold more than the limit is read at its visit.
    bool next() override { return m_bytes <= m_limit; }
    bool full() const { return m_bytes > m_limit; }

    void found(PageLink&& link) override {
        if (link.visitable) {
            link.fetchAs = PageAddressOf(link.link);
            // Mostly the same text: then it is held once.
            if (link.fetchAs == link.link)
                link.fetchAs = link.link;
            else
                m_bytes += 2 * link.fetchAs.size();
        }
        m_bytes += static_cast<qint64>(sizeof(PageLink)) + 2 * link.link.size() + 32;
        m_links.push_back(std::move(link));
    }

private:
    std::vector<PageLink>& m_links;
    qint64& m_bytes;
    qint64 m_limit;
    const PageBody& m_body;
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

} // namespace

bool ConcludeRobots(URLMon& transfers, HostRobots& robots, qint64 maxBytes) {
    if (robots.known || robots.pending == 0 || !transfers.finished(robots.pending))
        return false;
    robots.rules = RulesOf(transfers.take(robots.pending), maxBytes);
    robots.known = true;
    robots.pending = 0;
    return true;
}

namespace {

DownloadResult stoppedResult() {
    DownloadResult stopped;
    stopped.outcome = DownloadOutcome::Stopped;
    stopped.failure = QStringLiteral("stopped");
    return stopped;
}

} // namespace

FetchAhead::FetchAhead(RunHost& host, URLMon& transfers, const RunSettings& settings)
    : m_host(host), m_transfers(transfers), m_run(settings), m_settings(settings.download),
      m_rules(settings.scan), m_scope(settings.scope) {}

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
    m_walkSeen = seen;
    m_walkQueue.reserve(static_cast<size_t>(queue.size()));
    for (qsizetype i = 0; i < queue.size(); ++i)
        push(PageAddressOf(queue.at(i)), depths.value(i, 1));
    walk();
    m_planDirty = true;
}

void FetchAhead::endFollowing() {
    m_following = false;
    m_walkSeen.clear();
    m_walkQueue.clear();
    m_walkQueue.shrink_to_fit();
    m_pending.clear();
    m_pending.shrink_to_fit();
    m_requested.clear();
}

void FetchAhead::push(const QString& page, int depth) {
    m_walkQueue.push_back({page, depth});
    if (!requested(page))
        m_pending.push_back({page, depth});
}

bool FetchAhead::requested(const QString& address) const {
    return m_requested.contains(address) || started(address);
}

void FetchAhead::endRun() noexcept {
    for (const auto& [id, job] : m_jobs)
        m_transfers.cancel(id);
    m_transfers.forgetRobots();
    m_robotsPending.clear();
    m_jobs.clear();
    m_byAddress.clear();
    m_unscanned.clear();
    m_listed.clear();
    m_nextListed = 0;
    m_listedHeld = 0;
    m_visiting.clear();
    m_visits = 0;
    m_heldMemory = 0;
    m_heldDisk = 0;
    endFollowing();
}

FetchedPage FetchAhead::visit(const QString& address, Shell& shell,
                              const std::function<bool()>& keepGoing) {
    if (!fetchesAhead()) {
        FetchedPage page;
        page.download = m_transfers.download(address, m_settings, shell, keepGoing);
        return page;
    }
    const auto stop = [this] {
        // Stop abandons every transfer at once.
        endRun();
        FetchedPage stopped;
        stopped.download = stoppedResult();
        return stopped;
    };
    if (!keepGoing())
        return stop();
    ++m_visits;
    URLMon::Id id = takeJobFor(address);
    m_visiting = address;
    if (m_following)
        m_requested.insert(address);
    if (id == 0) {
        // Not fetched ahead: asked for now, before anything else.
        id = m_transfers.start(address, m_settings, true);
        m_jobs.emplace(id, Job::of(address, false));
        m_unscanned.push_back(id);
    } else {
        m_transfers.hurry(id);
    }
    bool waited = false;
    for (;;) {
        m_transfers.pump();
        scanArrivals();
        const auto job = m_jobs.find(id);
        if (job == m_jobs.end())
            return stop();
        if (job->second.result)
            break;
        refill();
        m_transfers.wait(shell);
        waited = true;
        if (!keepGoing())
            return stop();
    }
    if (!waited) {
        shell.yield(YieldPlace::Download);
        if (!keepGoing())
            return stop();
    }
    const auto found = m_jobs.find(id);
    Job job = std::move(found->second);
    hold(job, -1);
    m_jobs.erase(found);
    const size_t pending = m_pending.size();
    if (m_following) {
        // Taken out of the fetches ahead already: the walk cannot find it there.
        if (!m_walkQueue.empty() && m_walkQueue.back().page == address)
            walkThrough(job, m_walkQueue.back().depth);
        walk();
    }
    // A visit changes what is worth fetching when it makes room (a page limit's
    // budget, the memory its page held, when the plan had run out of either), or
    // when the walk finds pages not asked for: once every page has arrived, the
    // visits that remain need no plan.
    if (m_planBlocked || m_run.maxPages > 0 || m_pending.size() > pending)
        m_planDirty = true;
    m_visiting.clear();
    FetchedPage page;
    page.download = std::move(*job.result);
    page.scanned = job.read;
    page.links = std::move(job.links);
    page.bytes = job.bytes;
    refill();
    return page;
}

URLMon::Id FetchAhead::takeJobFor(const QString& address) {
    const auto found = m_byAddress.find(address);
    if (found == m_byAddress.end())
        return 0;
    std::vector<URLMon::Id>& ids = *found;
    // Any of them is the same request: one that has arrived before one in flight,
    // a listed one for a listed address and one of the crawl for a page of the crawl.
    auto rank = [&](URLMon::Id id) {
        const auto job = m_jobs.find(id);
        const bool sameKind = job != m_jobs.end() && job->second.listed == !m_following;
        const bool arrived = job != m_jobs.end() && job->second.result;
        return (sameKind ? 0 : 2) + (arrived ? 0 : 1);
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
    const RobotsTxt* rules = robotsOf(address, shell, keepGoing);
    return rules && rules->allows(address);
}

const RobotsTxt* FetchAhead::robotsOf(const QString& address, Shell& shell,
                                      const std::function<bool()>& keepGoing) {
    if (!fetchesAhead()) {
        const QString key = HostKey(address);
        HostRobots& robots = m_transfers.robotsOf(key);
        // Asked for already, by a check of the run's links: its answer is awaited.
        while (!robots.known && robots.pending != 0 && !m_transfers.finished(robots.pending)) {
            m_transfers.wait(shell);
            if (!keepGoing())
                return nullptr;
        }
        ConcludeRobots(m_transfers, robots, m_settings.maxPageBytes);
        if (!robots.known) {
            const DownloadResult result =
                m_transfers.download(RobotsTxt::addressFor(address), m_settings, shell, keepGoing);
            if (result.outcome == DownloadOutcome::Stopped)
                return nullptr;
            // The host's record again: the download may have moved it.
            HostRobots& fetched = m_transfers.robotsOf(key);
            fetched.rules = RulesOf(result, m_settings.maxPageBytes);
            fetched.known = true;
        }
        return &m_transfers.robotsOf(key).rules;
    }
    const HostRobots* known = nullptr;
    while (!(known = knownRobots(address))) {
        refill();
        m_transfers.wait(shell);
        if (!keepGoing()) {
            endRun();
            return nullptr;
        }
        m_transfers.pump();
        scanArrivals();
    }
    return &known->rules;
}

FetchAhead::Verdict FetchAhead::robotsVerdict(const QString& page) {
    if (!m_scope.robots)
        return Verdict::Allowed;
    const HostRobots* robots = knownRobots(page);
    if (!robots)
        return Verdict::Unknown;
    return robots->rules.allows(page) ? Verdict::Allowed : Verdict::Disallowed;
}

const HostRobots* FetchAhead::knownRobots(const QString& page) {
    const QString key = HostKey(page);
    HostRobots& robots = m_transfers.robotsOf(key);
    // Asked for once a run for each host, before any of its pages, and ahead of
    // everything else.
    if (!robots.known && robots.pending == 0) {
        robots.pending = m_transfers.start(RobotsTxt::addressFor(page), m_settings, true);
        m_robotsPending.push_back(key);
    } else if (!robots.known && std::find(m_robotsPending.begin(), m_robotsPending.end(), key) ==
                                    m_robotsPending.end()) {
        // Asked for by a check of the run's links: concluded here all the same.
        m_robotsPending.push_back(key);
    }
    return robots.known ? &robots : nullptr;
}

bool FetchAhead::concludeRobots() {
    bool concluded = false;
    for (size_t i = 0; i < m_robotsPending.size();) {
        HostRobots& robots = m_transfers.robotsOf(m_robotsPending[i]);
        concluded = ConcludeRobots(m_transfers, robots, m_settings.maxPageBytes) || concluded;
        if (!robots.known) {
            ++i;
            continue;
        }
        m_robotsPending[i] = m_robotsPending.back();
        m_robotsPending.pop_back();
    }
    return concluded;
}

void FetchAhead::scanArrivals() {
    bool arrived = concludeRobots();
    for (size_t i = 0; i < m_unscanned.size();) {
        const URLMon::Id id = m_unscanned[i];
        const auto job = m_jobs.find(id);
        if (job != m_jobs.end() && !m_transfers.finished(id)) {
            ++i;
            continue;
        }
        if (job != m_jobs.end()) {
            arrive(job->second, m_transfers.take(id));
            hold(job->second, 1);
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

void FetchAhead::arrive(Job& job, DownloadResult&& result) {
    DownloadResult& arrived = job.result.emplace(std::move(result));
    if (!arrived.ok())
        return;
    try {
        // A large page is read through a map of its page file, which lasts as long
        // as its body: the reading ends before the body goes.
        const QByteArray page = arrived.body.view(m_settings.maxPageBytes);
        // As the visit would read them: against where the page came from.
        const QString delivery = arrived.redirected ? arrived.effectiveAddress : job.address;
        qint64 held = 0;
        Collector collector(job.links, held, HeldMemoryBytes / 4, arrived.body);
        ReadPageLinks(page.constData(), page.size(), delivery, m_rules, collector);
        if (collector.full()) {
            std::vector<PageLink>().swap(job.links);
            return;
        }
        job.bytes = page.size();
        job.read = true;
        // What the visit needs of the page is read: the page itself goes.
        arrived.body = PageBody();
        // With what holds them: the job, its download's record, its addresses and
        // the tables that find it.
        job.held =
            held + HeldPerPage +
            2 * (job.address.size() + arrived.effectiveAddress.size() + arrived.contentType.size());
    } catch (...) {
        // The visit reads the page itself, and meets the same failure.
        std::vector<PageLink>().swap(job.links);
    }
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
        if (job != m_jobs.end() && job->second.result)
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
    for (const PageLink& link : job.links) {
        if (link.isFile() || !TakeLink(link, depth, m_walkSeen, m_scope).followed)
            continue;
        push(link.fetchAs, depth + 1);
        m_walkTurned = false;
    }
}

void FetchAhead::hold(const Job& job, qint64 sign) {
    if (job.read)
        m_heldMemory += sign * job.held;
    else if (job.result)
        (job.result->body.onDisk() ? m_heldDisk : m_heldMemory) += sign * job.result->body.size();
}

bool FetchAhead::roomForMore() const {
    return m_jobs.size() < MaxHeldPages && m_transfers.roomForAnother(m_settings) &&
           m_heldMemory + m_transfers.receivingBytes() < HeldMemoryBytes &&
           m_heldDisk < HeldDiskBytes && withinBudget();
}

bool FetchAhead::withinBudget() const {
    // With a page limit, fewer pages are held than the visits still to come, and no
    // more than may be in flight: however the run ends, it sends at most that many
    // requests more than it visits pages.
    const auto held = static_cast<qint64>(m_jobs.size());
    return m_run.maxPages <= 0 || (held < m_settings.parallel && held < m_run.maxPages - m_visits);
}

void FetchAhead::refill() {
    if (!fetchesAhead() || !m_host.keepRunning())
        return;
    if (m_planDirty) {
        m_planDirty = false;
        planAhead();
    }
    while (startListed()) {
    }
}

void FetchAhead::planAhead() {
    m_planBlocked = false;
    if (!m_following || m_walkQueue.empty())
        return;
    // The page the walk waits for is the next the visits need once they catch up:
    // it goes first, whatever the bounds.
    const QString& next = m_walkQueue.back().page;
    if (!requested(next) && robotsVerdict(next) == Verdict::Allowed)
        startAhead(next, false, true);
    // Then the walk goes on as if every page still in flight led nowhere new: the
    // pages it reaches so come next, in that order, unless one in flight proves to
    // lead elsewhere first. One connection to each host stays free for the page
    // the visits will wait for, except for the pages they need next once the walk
    // has turned back: those are the pages they will wait for.
    QSet<QString> seen;
    std::vector<Step> pushed;
    // With a depth limit a link's depth depends on which page finds it first, so
    // what the pages in flight lead to is known only once they have arrived.
    const bool guessBeyond = m_scope.maxDepth < 0;
    size_t below = m_walkQueue.size();
    // Past a page in flight the order is a guess, the more so the further it goes:
    // the guess stops a few visits ahead, so that the room is left to what the
    // pages in flight lead to.
    int position = 0;
    const int reach = GuessReachPerTransfer * m_transfers.transfersAtOnce(m_settings);
    for (int step = 0; step < MaxPlanSteps && position < reach; ++step) {
        if (!roomForMore()) {
            m_planBlocked = true;
            return;
        }
        Step entry;
        if (!pushed.empty()) {
            entry = std::move(pushed.back());
            pushed.pop_back();
        } else if (below > 0) {
            entry = m_walkQueue[--below];
        } else {
            break;
        }
        const QString& address = entry.page;
        ++position;
        if (robotsVerdict(address) != Verdict::Allowed)
            continue;
        if (!requested(address)) {
            // The last places are kept for the pages the visits will need next once
            // the walk turns back: when the page it took last led nowhere new.
            const bool near = m_walkTurned && position <= 2 * m_settings.perHost;
            if (!m_transfers.canStartNow(address, m_settings, near ? 0 : 1))
                return;
            startAhead(address, false, false);
            continue;
        }
        const Job* job = guessBeyond ? arrivedJob(address) : nullptr;
        if (!job)
            continue;
        for (const PageLink& link : job->links) {
            if (link.isFile() || m_walkSeen.contains(link.link) || seen.contains(link.link))
                continue;
            seen.insert(link.link);
            if (link.visitable && m_scope.inScope(link.link))
                pushed.push_back({link.fetchAs, entry.depth + 1});
        }
    }
    // Then the rest of the frontier, newest first: under "Extract forever" every
    // page of it will be visited, so fetching it ahead is never wasted, as far as
    // the bounds allow; unless a page limit ends the run first.
    while (m_run.maxPages <= 0 && !m_pending.empty()) {
        if (!roomForMore()) {
            m_planBlocked = true;
            return;
        }
        const Step& entry = m_pending.back();
        const Verdict verdict =
            requested(entry.page) ? Verdict::Disallowed : robotsVerdict(entry.page);
        if (verdict == Verdict::Unknown ||
            (verdict == Verdict::Allowed && !m_transfers.canStartNow(entry.page, m_settings, 1)))
            return;
        if (verdict == Verdict::Allowed)
            startAhead(entry.page, false, false);
        m_pending.pop_back();
    }
}

bool FetchAhead::startListed() {
    // While a crawl follows links, or is about to, only a few listed addresses are
    // fetched ahead, so that they leave the room to its pages.
    const int listedLimit = (m_following || m_host.followsLinks())
                                ? m_settings.parallel
                                : ListedPerTransfer * m_transfers.transfersAtOnce(m_settings);
    while (m_nextListed < m_listed.size() && m_listedHeld < listedLimit && roomForMore()) {
        // Brought into the form it is fetched in only now: a list of millions is
        // not held twice.
        const QString& listed = m_listed.at(m_nextListed);
        const QString address = PageAddressOf(listed);
        if (address.isEmpty() || (m_run.webAddressesOnly && NamesAnotherScheme(listed))) {
            ++m_nextListed;
            continue;
        }
        // robots.txt first, where the crawl honours it: it may keep the page out.
        const Verdict verdict = robotsVerdict(address);
        if (verdict == Verdict::Unknown)
            return false;
        if (verdict == Verdict::Disallowed) {
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
    if (!listed)
        m_requested.insert(address);
    const URLMon::Id id = m_transfers.start(address, m_settings, urgent);
    m_jobs.emplace(id, Job::of(address, listed));
    m_byAddress[address].push_back(id);
    m_unscanned.push_back(id);
    if (listed)
        ++m_listedHeld;
}
