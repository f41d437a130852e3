#pragma once

#include "crawl/LinkResolver.h"
#include "crawl/URLMon.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

class CrawlHost;

// Fetches the pages of a run ahead of its visits, many at once, while the visits
// themselves keep the order of a run that fetches one page at a time: the run asks
// for each page when its turn comes, and gets the one fetched ahead for it, or one
// fetched there and then.
//
// What is fetched ahead is what the run will certainly visit: the listed addresses
// after the current one, and once "Extract forever" has been read as checked for a
// listed address, every page its crawl reaches. Every link a visited page leads to
// is visited exactly once whatever the order, so each page fetched ahead is
// scanned on arrival and its own links are fetched ahead too; the visits record
// the links later, with the options as they read then. Nothing is cached: every
// visit takes a transfer of its own, so a run that ends by itself sends the same
// requests as one that fetches one page at a time.
//
// There are no threads and no locks: the transfers are queued here and in the
// download service, and move whenever the run waits for a page.
class FetchAhead {
public:
    FetchAhead(CrawlHost& host, URLMon& transfers, const DownloadSettings& settings);

    // A run starts with these addresses, in the form they are fetched (empty for a
    // blank one, which is never fetched).
    void beginRun(const QStringList& addresses);
    // The run visits listed address index next: the ones before it are behind it.
    void atListed(qsizetype index);
    // The crawl of the current listed address follows its links: seen are the
    // links recorded so far, queue those still to visit.
    void followFrom(const QSet<QString>& seen, const QList<QString>& queue);
    // The crawl of the current listed address has ended.
    void endFollowing();
    // Abandons every transfer and forgets every page fetched ahead.
    void endRun() noexcept;

    // The page for the visit of address: the one fetched ahead for it, else fetched
    // now, ahead of everything else. Waits for it through the shell, and abandons
    // everything as soon as keepGoing() answers false.
    DownloadResult visit(const QString& address, Shell& shell,
                         const std::function<bool()>& keepGoing);

    // Fetches held now (in flight, or arrived and not yet visited).
    int held() const { return static_cast<int>(m_jobs.size()); }

private:
    struct Job {
        QString address;
        bool listed = false;  // one of the listed addresses
        bool explore = false; // a page of the crawl: its links are fetched ahead too
        bool explored = false;
    };

    bool fetchesAhead() const;
    void refill();
    bool roomForMore() const;
    bool startNext();
    void startAhead(const QString& address, bool listed);
    void exploreArrivals();
    void explore(Job& job, const DownloadResult& result);
    URLMon::Id takeJobFor(const QString& address);

    CrawlHost& m_host;
    URLMon& m_transfers;
    const DownloadSettings& m_settings;

    QStringList m_listed;
    qsizetype m_nextListed = 0;
    int m_listedHeld = 0;

    bool m_following = false;
    QSet<size_t> m_seen;             // hashes of the links the crawl is known to reach
    std::vector<QString> m_frontier; // pages of the crawl not yet asked for; newest last
    LinkResolver m_resolver;

    std::unordered_map<URLMon::Id, Job> m_jobs;
    QHash<QString, std::deque<URLMon::Id>> m_byAddress;
    std::vector<URLMon::Id> m_unexplored;
};
