#pragma once

#include "base/RedirectHop.h"
#include "crawl/ListedResult.h"
#include "crawl/URLMon.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

class Shell;
struct VisitEnd;

// What became of a link: the status of the last answer (0 when none came), the
// address it ended at after the redirects, the redirects, and why it failed
// (empty when nothing failed). A link that was not asked for at all (not an http
// or https address, or one robots.txt keeps out) is not checked, and says why.
struct LinkStatus {
    int status = 0;
    QString final;
    QVector<RedirectHop> redirects;
    QString error;
    bool checked = true;
};

// The final statuses that count as working: by default 2xx and 3xx.
class AcceptedStatuses {
public:
    AcceptedStatuses();
    // A comma-separated list of codes and ranges A..B within 100-599, such as
    // "200..299,403". False, with the reason in *error, when it is not one.
    bool parse(const QString& list, QString* error);
    bool accepts(int status) const;
    // A checked link that got no answer, or one of a status not accepted.
    bool broken(const LinkStatus& status) const;

private:
    std::vector<std::pair<int, int>> m_ranges;
};

// Checks every distinct http(s) link of a run's results once, through the run's
// download service, so that its per-host limits, pause, retries and robots.txt
// rules apply: HEAD, then GET abandoned after the headers where the server will
// not answer HEAD (405, 501). A link the run visits anyway is not asked for
// again: the visit's outcome is its status. What the results are told is in
// their order, whatever order the checks end in, so the outcome does not depend
// on how many transfers run at once.
//
// It is told each result and each visit as the run makes them, in the run's
// order; a result whose link the run is still to visit (queued by the crawl, the
// page being visited, a listed address yet to come) waits for that visit. Checks
// move whenever the run waits for its transfers; finish() checks what the run
// left unvisited and waits for the rest.
class LinkCheck {
public:
    using Ready = std::function<void(const ListedResult&, const LinkStatus&)>;

    // ready is told each result with its status, in the order of the results.
    // Checks ask with settings (the method aside); robots: robots.txt is honoured.
    LinkCheck(URLMon& transfers, const DownloadSettings& settings, bool robots, Ready ready);

    // The listed addresses of the run, in the form they are fetched: each will be
    // visited once its turn comes.
    void expectVisits(const QStringList& addresses);

    void resultListed(const ListedResult& result);
    void visitStarted(const QString& address);
    void visitEnded(const VisitEnd& visit);
    // Takes what has finished and starts what may start; tells what is ready.
    void poll();
    // After the run: checks the links that were waiting for a visit that did not
    // come, and waits through the shell for every check. False when keepGoing()
    // answered false first: what was still being checked is abandoned, and told as
    // not checked.
    bool finish(Shell& shell, const std::function<bool()>& keepGoing);

    // Checks at most in flight or queued in the download service at once.
    int ahead = 1024;
    // When set: the status of a link checked by an earlier run of the same
    // command, asked before the link is asked for; and each status a request
    // found, told as it is known.
    std::function<bool(const QString& link, LinkStatus* status)> recall;
    std::function<void(const QString& link, const LinkStatus& status)> remember;

private:
    enum class State { AwaitingVisit, ToStart, AwaitingRobots, Running, Done };
    struct Link {
        State state = State::ToStart;
        URLMon::Id id = 0;
        bool headRefused = false;
        LinkStatus status;
    };
    struct Entry {
        ListedResult result;
        QString key; // empty: status below is already known
        LinkStatus status;
    };

    void start(const QString& key, Link& link);
    void conclude(const QString& key, Link& link);
    // Starts what waits to start, as far as ahead allows.
    void startWhatMay();
    void tellReady();

    URLMon& m_transfers;
    DownloadSettings m_settings;
    bool m_robots;
    Ready m_ready;
    QHash<QString, Link> m_links;
    QHash<QString, int> m_listedToCome;
    QString m_visiting;
    std::deque<QString> m_toStart;
    std::vector<QString> m_running;
    std::vector<QString> m_awaitingRobots;
    std::deque<Entry> m_entries;
};
