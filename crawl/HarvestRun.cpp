#include "crawl/HarvestRun.h"

#include "base/Messages.h"
#include "base/Pacer.h"
#include "base/Statements.h"
#include "crawl/LinkValue.h"
#include "crawl/RunHost.h"
#include "crawl/RunSink.h"
#include "crawl/VisitRecord.h"

#include <QUrl>
#include <algorithm>
#include <optional>
#include <utility>

// Records the links of the page as they are read, pacing the reading: the run flag
// is tested before each value and between stretches of the page, so a Stop pressed
// in any yield (the scan's or the value reader's) ends the scan before the next
// link.
class HarvestRun::LiveReading : public PageLinkSink {
public:
    explicit LiveReading(HarvestRun& run)
        : m_run(run), m_pacer(run.m_host.shell(), YieldPlace::Scan) {}

    bool next() override {
        m_pacer.step();
        return m_run.m_host.keepRunning();
    }
    bool progress(qsizetype scanned) override {
        if (m_run.m_scanning)
            m_run.m_scanning->scannedTo(scanned);
        return next();
    }
    bool proceed() override {
        if (!m_run.m_host.keepRunning())
            return false;
        m_valuePacer.emplace(m_run.m_host.shell(), YieldPlace::Value);
        return true;
    }
    void valueStretch() override {
        if (m_valuePacer)
            m_valuePacer->step();
    }
    // Under "Retrieve HTML links" a file link leaves no trace: it is not even resolved.
    bool wants(LinkKind kind) override {
        return kind == LinkKind::Href || m_run.m_host.recordsFileLinks();
    }
    void found(PageLink&& link) override { m_run.RecordLink(link); }

private:
    HarvestRun& m_run;
    Pacer m_pacer;
    std::optional<Pacer> m_valuePacer;
};

namespace {

// The bytes of the page that may be read: its length, but never past the buffer.
qsizetype UsableLength(const QByteArray& page, qsizetype length) {
    return std::clamp<qsizetype>(length, 0, page.size());
}

} // namespace

HarvestRun::HarvestRun(RunHost& host, RunSink& sink)
    : m_host(host), m_sink(sink), m_ahead(host, m_transfers, Settings),
      m_sitemaps(m_transfers, m_ahead, Settings, sink) {}

HarvestRun::~HarvestRun() = default;

QString HarvestRun::StatementsName() {
    return QualifiedName("Form1", "PushButton7_Click");
}

void HarvestRun::SetPageAddress(const QString& address) {
    Silently([&] {
        page.address = PageAddressOf(address);
        page.base = page.address;
    });
}

void HarvestRun::ScanPageForLinks() {
    Silently([&] {
        if (!m_host.keepRunning())
            return;
        // A shared copy: the bytes stay valid whatever happens in a yield.
        const QByteArray bytes = page.bytes;
        LiveReading reading(*this);
        page.base = ReadPageLinks(bytes.constData(), UsableLength(bytes, page.length), page.base,
                                  Settings.scan, reading);
    });
}

QString HarvestRun::ReadQuotedValue(qsizetype p) {
    QString value;
    Silently([&] {
        const QByteArray bytes = page.bytes;
        const qsizetype length = UsableLength(bytes, page.length);
        Pacer pacer(m_host.shell(), YieldPlace::Value);
        const qsizetype end = FindValueEndPaced(bytes.constData(), length, p, ValueQuote::Double,
                                                [&] { pacer.step(); });
        if (end >= 0)
            value = DecodeValueBytes(bytes.constData() + p, end - p);
    });
    return value;
}

void HarvestRun::RecordLink(const PageLink& link) {
    if (m_capture)
        m_capture->push_back(link);
    Silently([&] {
        // The options are read now, at each link, so a change during a run takes
        // effect with the next link.
        const bool files = m_host.recordsFileLinks();
        bool listed = files;
        bool followed = false;
        if (!link.isFile()) {
            const TakenLink taken = TakeLink(link, page.depth, crawl.seen, Settings.scope);
            followed = taken.followed;
            if (taken.followed) {
                crawl.queue.append(link.link);
                crawl.depths.append(page.depth + 1);
            }
            listed = taken.first && !files;
        }
        if (listed && Settings.scope.lists(link.link))
            m_sink.resultListed(ListedResult{link.link, link.kind, page.finalAddress, crawl.listed,
                                             page.depth, ResultSource::Page, followed});
    });
}

void HarvestRun::recordAll(const std::vector<PageLink>& links) {
    // The links were read when the page arrived; they are recorded now, paced and
    // stopped as a scan would be.
    Pacer pacer(m_host.shell(), YieldPlace::Scan);
    if (m_capture)
        m_capture->reserve(m_capture->size() + links.size());
    for (const PageLink& link : links) {
        pacer.step();
        if (!m_host.keepRunning())
            return;
        RecordLink(link);
    }
}

// "Extract forever" for one listed address: visits the newest queued link until the
// queue is empty. False when the run flag dropped, and the run is to end.
bool HarvestRun::followQueuedLinks(Statements& s) {
    bool more = s.test(
        124,
        [&] {
            const bool follow = !crawl.queue.isEmpty() && m_host.keepRunning();
            // Every page this crawl reaches will be visited now: fetch them ahead
            // (once the recorded steps have run out).
            m_following = follow;
            if (follow && !m_replaying)
                m_ahead.followFrom(crawl.seen, crawl.queue, crawl.depths);
            return follow;
        },
        /*ifFailed=*/false);
    while (more) {
        s.run(124, [&] { m_host.visitsGoOn(); });
        qsizetype visited = -1;
        s.run(126, [&] {
            visited = crawl.queue.size() - 1;
            // A copy: the visit appends to the queue.
            const QString address = crawl.queue.at(visited);
            page.depth = crawl.depths.value(visited, page.depth + 1);
            CrawlPage(address);
        });
        // The links the visit appended stay behind the visited one: last in, first out.
        s.run(128, [&] {
            if (visited >= 0 && visited < crawl.queue.size())
                crawl.queue.removeAt(visited);
            if (visited >= 0 && visited < crawl.depths.size())
                crawl.depths.removeAt(visited);
        });
        // A run flag that cannot be read ends the run; a queue that cannot be
        // read is followed on.
        if (s.test(
                130, [&] { return !m_host.keepRunning(); }, /*ifFailed=*/true))
            return false;
        more = s.test(
            134, [&] { return !crawl.queue.isEmpty(); }, /*ifFailed=*/true);
    }
    return true;
}

void HarvestRun::Run(Statements& s, const QStringList& addresses) {
    s.run(112, [&] {
        m_steps = 0;
        m_visits = 0;
        m_addresses = addresses;
        m_listedIndex = 0;
        m_following = false;
        m_sitemaps.clear();
        // Recorded steps are told again without fetching anything.
        m_replaying = Record != nullptr;
        if (!m_replaying)
            m_ahead.beginRun(addresses);
    });
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        // Stop ends the run here: no further listed address is visited.
        const bool running = s.test(
            112,
            [&] {
                m_host.visitsGoOn();
                return m_host.keepRunning();
            },
            /*ifFailed=*/false);
        if (!running)
            break;
        QString address;
        s.run(114, [&] {
            address = addresses.at(i);
            crawl.listed = address;
            page.depth = 0;
            m_listedIndex = i;
            if (!m_replaying)
                m_ahead.atListed(i);
        });
        s.run(116, [&] { crawl.seen = {}; });
        s.run(118, [&] {
            crawl.queue = {};
            crawl.depths = {};
        });
        bool delivered = false;
        s.run(120, [&] {
            readSitemaps(address);
            delivered = CrawlPage(address);
        });
        const bool extractForever = s.test(
            122, [&] { return m_host.followsLinks(); }, /*ifFailed=*/false);
        // --sitemaps only visits the sitemap's pages, and follows nothing.
        const bool follows = extractForever && Settings.sitemaps != SitemapMode::Only;
        bool goOn = true;
        if (readsSitemaps()) {
            s.run(120, [&] { takeSitemapPages(delivered, follows); });
            goOn = visitSitemapPages(s);
        }
        if (!goOn || (follows && !followQueuedLinks(s)))
            s.run(132, [&] { i = addresses.size(); });
        if (readsSitemaps() && goOn)
            s.run(136, [&] { compareWithSitemap(); });
        m_following = false;
        m_ahead.endFollowing();
        s.run(136, [&] { crawl.seen = {}; });
        s.run(138, [&] {
            crawl.queue = {};
            crawl.depths = {};
        });
    } // 140
}

bool HarvestRun::replayStep(qint64 step, RecordedVisit& visit) {
    if (!m_replaying)
        return false;
    if (Record->replay(step, visit))
        return true;
    endReplay();
    return false;
}

void HarvestRun::endReplay() {
    // The recorded steps end here: from now on the run fetches, ahead too, as
    // if it had fetched all along.
    m_replaying = false;
    m_ahead.beginRun(m_addresses);
    m_ahead.atListed(m_listedIndex);
    m_ahead.countVisits(m_visits);
    if (m_following)
        m_ahead.followFrom(crawl.seen, crawl.queue, crawl.depths);
}

void HarvestRun::keepStep(qint64 step, RecordedVisit& visit) {
    // A step the run's end cut short is taken again.
    if (!Record || m_replaying || !m_host.keepRunning())
        return;
    visit.address = page.address;
    visit.listed = m_listedIndex;
    visit.depth = page.depth;
    Record->visited(step, std::move(visit));
}

bool HarvestRun::readsSitemaps() const {
    return Settings.sitemaps != SitemapMode::Off;
}

void HarvestRun::readSitemaps(const QString& listed) {
    m_sitemapVisits.clear();
    m_crawlVisits.clear();
    if (!readsSitemaps())
        return;
    const QString address = PageAddressOf(listed);
    const QString scheme = QUrl(address).scheme();
    // An address that is no web address has no site: the sitemaps of the one
    // before are not its own.
    if (address.isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        m_sitemaps.clear();
        return;
    }
    if (!m_sitemaps.readsFor(address))
        return;
    // Read before the step that visits the listed address: a run told again from
    // its record takes what they came to from there, as long as it holds it.
    const qint64 step = m_steps;
    if (m_replaying) {
        SitemapSource::Reading reading;
        if (Record->replaySitemaps(step, reading)) {
            m_sitemaps.restore(address, std::move(reading));
            return;
        }
        endReplay();
    }
    m_sitemaps.read(address, m_host.shell(), [this] { return m_host.keepRunning(); });
    // A reading the run's end cut short is made again.
    if (Record && m_host.keepRunning())
        Record->sitemapsRead(step, m_listedIndex, m_sitemaps.reading());
}

// The pages the sitemap lists, within the scope of the crawl, are listed as results
// and put after the listed address: visited one by one, or, when the crawl follows
// links, queued to be visited first, in the sitemap's order, before the links of
// the listed page.
void HarvestRun::takeSitemapPages(bool delivered, bool follows) {
    if (!m_host.keepRunning() || Settings.sitemaps == SitemapMode::Compare)
        return;
    // A listed page that did not come still has a site to keep to.
    if (!delivered)
        Settings.scope.startAt(PageAddressOf(crawl.listed));
    const QString listedKey = SitemapSource::keyOf(PageAddressOf(crawl.listed));
    QStringList queued;
    for (const SitemapSource::Entry& entry : m_sitemaps.pages()) {
        if (!Settings.scope.inScope(entry.address))
            continue;
        if (Settings.scope.lists(entry.address))
            m_sink.resultListed(ListedResult{entry.address, LinkKind::Href, entry.sitemap,
                                             crawl.listed, 0, ResultSource::Sitemap});
        if (!Settings.scope.withinDepth(1) || SitemapSource::keyOf(entry.address) == listedKey)
            continue;
        if (!follows)
            m_sitemapVisits.append(entry.address);
        else if (!crawl.seen.contains(entry.address)) {
            crawl.seen.insert(entry.address);
            queued.append(entry.address);
        }
    }
    // The newest queued link is visited next: the sitemap's first page goes last.
    for (qsizetype i = queued.size() - 1; i >= 0; --i) {
        crawl.queue.append(queued.at(i));
        crawl.depths.append(1);
    }
}

// The sitemap's pages one by one, each at depth 1. False when the run flag dropped,
// and the run is to end.
bool HarvestRun::visitSitemapPages(Statements& s) {
    const QStringList pages = std::exchange(m_sitemapVisits, QStringList());
    for (const QString& address : pages) {
        const bool running = s.test(
            124,
            [&] {
                m_host.visitsGoOn();
                return m_host.keepRunning();
            },
            /*ifFailed=*/false);
        if (!running)
            return false;
        s.run(126, [&] {
            page.depth = 1;
            CrawlPage(address);
        });
    }
    return s.test(
        130, [&] { return m_host.keepRunning(); }, /*ifFailed=*/false);
}

// At the end of the crawl of a listed address: the pages the sitemap lists that no
// visited page links to, then the visited pages it does not list. Nothing when no
// sitemap could be read, or the crawl was cut short.
void HarvestRun::compareWithSitemap() {
    if (Settings.sitemaps != SitemapMode::Compare || !m_sitemaps.found() || !m_host.keepRunning())
        return;
    QSet<QString> linked;
    linked.reserve(crawl.seen.size() + 1);
    for (const QString& link : crawl.seen)
        linked.insert(SitemapSource::keyOf(link));
    linked.insert(SitemapSource::keyOf(PageAddressOf(crawl.listed)));
    for (const SitemapSource::Entry& entry : m_sitemaps.pages())
        if (Settings.scope.inScope(entry.address) &&
            !linked.contains(SitemapSource::keyOf(entry.address)) &&
            Settings.scope.lists(entry.address))
            m_sink.resultListed(ListedResult{entry.address, LinkKind::Href, entry.sitemap,
                                             crawl.listed, 0, ResultSource::SitemapOnly});
    QSet<QString> told;
    for (ListedResult& visit : m_crawlVisits) {
        const QString key = SitemapSource::keyOf(visit.link);
        if (m_sitemaps.listsKey(key) || told.contains(key) || !Settings.scope.lists(visit.link))
            continue;
        told.insert(key);
        m_sink.resultListed(visit);
    }
    m_crawlVisits.clear();
}

void HarvestRun::End() noexcept {
    m_ahead.endRun();
    m_transfers.release();
}
