#pragma once

#include "crawl/CrawlScope.h"
#include "crawl/FetchAhead.h"
#include "crawl/LinkScanner.h"
#include "crawl/ListedResult.h"
#include "crawl/PageLinks.h"
#include "crawl/RunSettings.h"
#include "crawl/SitemapSource.h"
#include "crawl/URLMon.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

class RunHost;
class RunSink;
class Statements;
class VisitRecord;
struct RecordedVisit;

// One harvest run, whoever drives it: visits the listed addresses in order and,
// with "Extract forever", every page each of them leads to (the newest queued link
// next), scans every page for its links and hands each result and each visit to
// its sink. It reads what may change during the run (the run flag, which links
// to record, "Extract forever") from its host at the moment it matters. The
// window drives it from its start button, the command line directly.
class HarvestRun {
public:
    HarvestRun(RunHost& host, RunSink& sink);
    ~HarvestRun();
    HarvestRun(const HarvestRun&) = delete;
    HarvestRun& operator=(const HarvestRun&) = delete;

    // Read when a run starts, and by the visits and scans of tests.
    RunSettings Settings;
    // Where the run's steps are recorded and told again from; none by default.
    // Read when a run starts.
    VisitRecord* Record = nullptr;

    // The run's statements are numbered as those of the start button's handler,
    // and reported under its name, whoever drives the run.
    static QString StatementsName();

    // Visits addresses (as they stand now: a list changed during the run changes
    // nothing in it) until they end or the run flag drops. Its statements (112 to
    // 140) go through s, which reports a failing one and goes on.
    void Run(Statements& s, const QStringList& addresses);
    // Abandons every transfer, forgets every page fetched ahead and closes the
    // connections: nothing outlives a run.
    void End() noexcept;
    // The download service of the run, for what else the run's transfers are
    // to share it with (the checks of its links).
    URLMon& transfers() { return m_transfers; }

    // The page being visited: its address in the form it is fetched (empty for a
    // blank address, which is not fetched), the address its relative links
    // resolve against, where it was finally delivered from, its bytes and its
    // depth (steps from the listed address).
    struct Page {
        QString address;
        QString base;
        QString finalAddress;
        QByteArray bytes;
        qsizetype length = 0;
        int depth = 0;
    } page;

    // The crawl of the listed address being visited: that address as listed, the
    // HTML links seen so far, and those still to visit with their depths.
    struct Crawl {
        QString listed;
        QSet<QString> seen;
        QList<QString> queue;
        QList<int> depths;
    } crawl;

    // Brings an address into the form it is fetched in (PageAddressOf); the
    // base address becomes the same.
    void SetPageAddress(const QString& address);
    // Reads the page's links and records each, while the run flag holds; yields
    // now and then (YieldPlace::Scan, and YieldPlace::Value inside a long value)
    // and stops at once when the flag drops. A <base href> of the page becomes
    // the base address first.
    void ScanPageForLinks();
    // The attribute value starting at position p (0-based) of the page, up to the
    // next double quote, as text. Empty when no quote closes it.
    QString ReadQuotedValue(qsizetype p);
    // Records one link of the page, as the options read now: a file link is
    // listed every time, an HTML link the first time it is seen (and queued when
    // the crawl follows it).
    void RecordLink(const PageLink& link);
    // Visits one address: sets it up, gets its page (fetched ahead, or now),
    // records its links and lets it go. True when the page was downloaded.
    bool CrawlPage(const QString& address);

private:
    class LiveReading;
    bool followQueuedLinks(Statements& s);
    void recordAll(const std::vector<PageLink>& links);
    bool replayStep(qint64 step, RecordedVisit& visit);
    void endReplay();
    void keepStep(qint64 step, RecordedVisit& visit);
    bool readsSitemaps() const;
    void readSitemaps(const QString& listed);
    void takeSitemapPages(bool delivered, bool follows);
    bool visitSitemapPages(Statements& s);
    void compareWithSitemap();

    RunHost& m_host;
    RunSink& m_sink;
    // The download service; its connections are kept from one page to the next.
    URLMon m_transfers;
    // The pages of the run fetched ahead of its visits.
    FetchAhead m_ahead;
    // The body of the page a visit scans, whose map may let go of what the scan
    // has passed; null when none.
    const PageBody* m_scanning = nullptr;

    // Where the run stands, for the steps told again and for fetching ahead once
    // they run out: the steps (pages it was to visit) taken so far, the visits
    // among them that fetched, the listed address and whether its crawl follows.
    qint64 m_steps = 0;
    qint64 m_visits = 0;
    bool m_replaying = false;
    QStringList m_addresses;
    qsizetype m_listedIndex = 0;
    bool m_following = false;
    // The links of the visit being recorded, as RecordLink gets them.
    std::vector<PageLink>* m_capture = nullptr;

    // The sitemaps of the site of the listed address (--sitemaps), the pages of
    // them its crawl visits one by one when it follows no links, and the pages it
    // visited, for the comparison.
    SitemapSource m_sitemaps;
    QStringList m_sitemapVisits;
    std::vector<ListedResult> m_crawlVisits;
};
