#pragma once

#include "crawl/CrawlScope.h"
#include "crawl/LinkScanner.h"
#include "crawl/PageLinks.h"
#include "crawl/RobotsTxt.h"
#include "crawl/RunSettings.h"
#include "crawl/URLMon.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

class RunHost;

// Takes the rules of a host's robots.txt once the download asked for them
// (robots.pending) has finished, from how it ended (RFC 9309, section 2.3.1):
// true when they became known now.
bool ConcludeRobots(URLMon& transfers, HostRobots& robots, qint64 maxBytes);

// The page a visit gets: its download and, when it was read on arrival, its links
// as read then (its body is let go once read) and its length.
struct FetchedPage {
    DownloadResult download;
    bool scanned = false;
    std::vector<PageLink> links;
    qint64 bytes = 0;
};

// Fetches the pages of a run ahead of its visits, many at once, while the visits
// themselves keep the order of a run that fetches one page at a time: the run asks
// for each page when its turn comes, and gets the one fetched ahead for it, or one
// fetched there and then.
//
// What is fetched ahead is what the run will certainly visit: the listed addresses
// after the current one, and once "Extract forever" has been read as checked for a
// listed address, the pages its crawl goes on to. The order of those visits is a
// function of the pages' contents (the newest queued link next), so it is worked
// out ahead over the pages that have arrived: each is read on arrival (once: its
// visit records the links read then), and the walk takes its links as the visit
// will (TakeLink). The pages the walk reaches are fetched
// in its order, the first one it waits for before all others. A page the crawl's
// scope leaves out, past its depth or kept out by robots.txt is never fetched:
// the walk asks the same CrawlScope as the visits, and waits for robots.txt
// before a host's first page as the visits do. The visits record
// the links later, with the options as they read then. Nothing is cached: every
// visit takes a transfer of its own, so a run that ends by itself sends the same
// requests as one that fetches one page at a time.
//
// There are no threads and no locks: the transfers are queued here and in the
// download service, and move whenever the run waits for a page.
class FetchAhead {
public:
    FetchAhead(RunHost& host, URLMon& transfers, const RunSettings& settings);

    // A run starts with these addresses, as listed (PageAddressOf gives the form
    // in which each is fetched; a blank one is never fetched).
    void beginRun(const QStringList& addresses);
    // The run visits listed address index next: the ones before it are behind it.
    void atListed(qsizetype index);
    // The crawl of the current listed address follows its links: seen are the
    // links recorded so far, queue those still to visit and depths theirs.
    void followFrom(const QSet<QString>& seen, const QList<QString>& queue,
                    const QList<int>& depths);
    // The crawl of the current listed address has ended.
    void endFollowing();
    // Abandons every transfer and forgets every page fetched ahead.
    void endRun() noexcept;
    // The run had made this many visits before it began fetching here (those it
    // was told again): the page limit counts them.
    void countVisits(qint64 visits) { m_visits = visits; }

    // The page for the visit of address: the one fetched ahead for it, else fetched
    // now, ahead of everything else. Waits for it through the shell, and abandons
    // everything as soon as keepGoing() answers false. A page that is there already
    // still lets the shell's events be handled once, as a wait would, so that what
    // a person did meanwhile (Stop, the other kind of links) applies to this visit.
    FetchedPage visit(const QString& address, Shell& shell, const std::function<bool()>& keepGoing);
    // True when robots.txt lets the crawl visit address (always, unless the scope
    // honours it). Its host's robots.txt is fetched first, once a run, waiting
    // through the shell as visit() does; false once keepGoing() answers false.
    bool allows(const QString& address, Shell& shell, const std::function<bool()>& keepGoing);
    // The robots.txt of the host of address, fetched first as allows() does, also
    // when the scope does not honour it (its Sitemap lines are read); null once
    // keepGoing() answers false.
    const RobotsTxt* robotsOf(const QString& address, Shell& shell,
                              const std::function<bool()>& keepGoing);

private:
    struct Job {
        QString address;
        bool listed = false; // one of the listed addresses, else a page of the crawl
        // Once arrived: its download, and its links when they could be read.
        std::optional<DownloadResult> result;
        bool read = false;
        std::vector<PageLink> links;
        qint64 bytes = 0; // the page's length
        qint64 held = 0;  // the memory its links hold

        static Job of(const QString& address, bool listed) {
            Job job;
            job.address = address;
            job.listed = listed;
            return job;
        }
    };
    // A page the crawl's queue holds, with its depth.
    struct Step {
        QString page;
        int depth = 0;
    };
    // What robots.txt says of a page: Unknown while it is being fetched.
    enum class Verdict { Allowed, Disallowed, Unknown };

    bool fetchesAhead() const;
    void refill();
    bool roomForMore() const;
    bool withinBudget() const;
    void hold(const Job& job, qint64 sign);
    bool requested(const QString& address) const;
    void push(const QString& page, int depth);
    void planAhead();
    bool startListed();
    void startAhead(const QString& address, bool listed, bool urgent);
    void scanArrivals();
    void arrive(Job& job, DownloadResult&& result);
    void walk();
    void walkThrough(const Job& job, int depth);
    Verdict robotsVerdict(const QString& page);
    // The robots.txt of the host of page, once known; asked for, ahead of
    // everything else, the first time.
    const HostRobots* knownRobots(const QString& page);
    bool concludeRobots();
    Job* arrivedJob(const QString& address);
    bool started(const QString& address) const;
    URLMon::Id takeJobFor(const QString& address);

    RunHost& m_host;
    URLMon& m_transfers;
    const RunSettings& m_run;
    const DownloadSettings& m_settings;
    const ScanRules& m_rules;
    const CrawlScope& m_scope;

    QStringList m_listed;
    qsizetype m_nextListed = 0;
    int m_listedHeld = 0;

    // The crawl's queue and seen links as they will stand once the visits have
    // caught up with the pages that arrived.
    bool m_following = false;
    QSet<QString> m_walkSeen;
    std::vector<Step> m_walkQueue; // newest last
    // The pages of the walk's queue not yet asked for, newest last: what remains
    // of the frontier once the near pages are under way. Entries asked for since
    // are passed over as they come up.
    std::vector<Step> m_pending;
    // The pages of the crawl asked for so far: none is asked for twice.
    QSet<QString> m_requested;
    bool m_planDirty = false;
    bool m_planBlocked = false; // the last plan stopped for want of room
    bool m_walkTurned = false;  // the page the walk took last led nowhere new

    std::unordered_map<URLMon::Id, Job> m_jobs;
    QHash<QString, std::vector<URLMon::Id>> m_byAddress;
    std::vector<URLMon::Id> m_unscanned;
    QString m_visiting;  // the address whose page a visit waits for
    qint64 m_visits = 0; // visits of the run so far
    // What the pages fetched ahead hold, in memory and in page files.
    qint64 m_heldMemory = 0;
    qint64 m_heldDisk = 0;
    // The hosts whose robots.txt is being fetched (HostKey): what it says is kept
    // in the download service's record of the host.
    std::vector<QString> m_robotsPending;
};
