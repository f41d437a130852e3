#include "crawl/LinkCheck.h"

#include "base/Shell.h"
#include "crawl/FetchAhead.h"

#include <algorithm>

namespace {

const QString RobotsDisallow = QStringLiteral("robots.txt disallows it");

// A link is checked without its fragment: the server never sees it.
QString CheckKey(const QString& link) {
    const qsizetype hash = link.indexOf(QLatin1Char('#'));
    return hash < 0 ? link : link.left(hash);
}

bool IsWebAddress(const QString& link) {
    return link.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           link.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

QString FinalAddress(const QString& key, const QVector<RedirectHop>& redirects) {
    return redirects.isEmpty() ? key : redirects.last().address;
}

LinkStatus NotChecked(const QString& why) {
    LinkStatus status;
    status.checked = false;
    status.error = QStringLiteral("not checked: ") + why;
    return status;
}

} // namespace

AcceptedStatuses::AcceptedStatuses() : m_ranges{{200, 399}} {}

bool AcceptedStatuses::parse(const QString& list, QString* error) {
    std::vector<std::pair<int, int>> ranges;
    const auto code = [](const QString& text, int* value) {
        bool ok = false;
        *value = text.trimmed().toInt(&ok);
        return ok && *value >= 100 && *value <= 599;
    };
    for (const QString& item : list.split(QLatin1Char(','))) {
        const qsizetype dots = item.indexOf(QLatin1String(".."));
        int low = 0, high = 0;
        const bool ok = dots < 0 ? code(item, &low) && code(item, &high)
                                 : code(item.left(dots), &low) && code(item.mid(dots + 2), &high);
        if (!ok || low > high) {
            *error = QStringLiteral("'%1' is not a status code or a range A..B within 100-599")
                         .arg(item.trimmed());
            return false;
        }
        ranges.emplace_back(low, high);
    }
    m_ranges = std::move(ranges);
    return true;
}

bool AcceptedStatuses::accepts(int status) const {
    return std::any_of(m_ranges.begin(), m_ranges.end(), [status](const auto& range) {
        return status >= range.first && status <= range.second;
    });
}

bool AcceptedStatuses::broken(const LinkStatus& status) const {
    return status.checked && (status.status == 0 || !accepts(status.status));
}

LinkCheck::LinkCheck(URLMon& transfers, const DownloadSettings& settings, bool robots, Ready ready)
    : m_transfers(transfers), m_settings(settings), m_robots(robots), m_ready(std::move(ready)) {
    m_settings.method = RequestMethod::Get;
}

void LinkCheck::expectVisits(const QStringList& addresses) {
    for (const QString& address : addresses)
        if (!address.isEmpty())
            ++m_listedToCome[CheckKey(address)];
}

void LinkCheck::resultListed(const ListedResult& result) {
    Entry entry;
    entry.result = result;
    if (!IsWebAddress(result.link)) {
        entry.status = NotChecked(QStringLiteral("not an http or https address"));
    } else {
        entry.key = CheckKey(result.link);
        if (!m_links.contains(entry.key)) {
            // A link the run will visit gets the visit's outcome; any other is
            // asked for.
            Link link;
            const bool visited =
                result.followed || entry.key == m_visiting || m_listedToCome.contains(entry.key);
            link.state = visited ? State::AwaitingVisit : State::ToStart;
            m_links.insert(entry.key, link);
            if (!visited)
                m_toStart.push_back(entry.key);
        }
    }
    m_entries.push_back(std::move(entry));
    // Only what can start is started here: the checks that ended are taken after
    // the visit, not at every link of a page.
    startWhatMay();
    tellReady();
}

void LinkCheck::visitStarted(const QString& address) {
    m_visiting = CheckKey(address);
}

void LinkCheck::visitEnded(const VisitEnd& visit) {
    const QString key = CheckKey(visit.address);
    m_visiting.clear();
    if (visit.depth == 0) {
        const auto toCome = m_listedToCome.find(key);
        if (toCome != m_listedToCome.end() && --*toCome <= 0)
            m_listedToCome.erase(toCome);
    }
    // A visit cut short says nothing: the link is checked after the run.
    if (visit.outcome != VisitEnd::Outcome::Stopped && IsWebAddress(key)) {
        LinkStatus status;
        if (visit.outcome == VisitEnd::Outcome::Failed && visit.failure == RobotsDisallow) {
            status = NotChecked(RobotsDisallow);
        } else {
            status.status = visit.status;
            status.redirects = visit.redirects;
            status.final = FinalAddress(key, visit.redirects);
            status.error = visit.failure;
        }
        const auto it = m_links.find(key);
        if (it == m_links.end()) {
            Link link;
            link.state = State::Done;
            link.status = std::move(status);
            m_links.insert(key, std::move(link));
        } else if (it->state == State::AwaitingVisit) {
            it->status = std::move(status);
            it->state = State::Done;
        }
    }
    poll();
}

void LinkCheck::start(const QString& key, Link& link) {
    if (recall && recall(key, &link.status)) {
        link.state = State::Done;
        return;
    }
    if (m_robots) {
        HostRobots& robots = m_transfers.robotsOf(HostKey(key));
        ConcludeRobots(m_transfers, robots, m_settings.maxPageBytes);
        if (!robots.known) {
            // Asked for once a run for each host, as the visits ask for it.
            if (robots.pending == 0)
                robots.pending = m_transfers.start(RobotsTxt::addressFor(key), m_settings);
            if (link.state != State::AwaitingRobots) {
                link.state = State::AwaitingRobots;
                m_awaitingRobots.push_back(key);
            }
            return;
        }
        if (!robots.rules.allows(key)) {
            link.status = NotChecked(RobotsDisallow);
            link.state = State::Done;
            if (remember)
                remember(key, link.status);
            return;
        }
    }
    DownloadSettings settings = m_settings;
    settings.method = link.headRefused ? RequestMethod::GetHeaders : RequestMethod::Head;
    link.id = m_transfers.start(key, settings);
    link.state = State::Running;
    m_running.push_back(key);
}

void LinkCheck::conclude(const QString& key, Link& link) {
    const DownloadResult result = m_transfers.take(link.id);
    link.id = 0;
    // A server that does not do HEAD is asked by GET, read up to its headers.
    if (!link.headRefused && (result.httpStatus == 405 || result.httpStatus == 501)) {
        link.headRefused = true;
        DownloadSettings settings = m_settings;
        settings.method = RequestMethod::GetHeaders;
        link.id = m_transfers.start(key, settings);
        return;
    }
    link.status.status = result.httpStatus;
    link.status.redirects = result.redirects;
    link.status.final = FinalAddress(key, result.redirects);
    link.status.error = result.ok() ? QString() : result.failure;
    link.state = State::Done;
    if (remember && result.outcome != DownloadOutcome::Stopped)
        remember(key, link.status);
}

void LinkCheck::poll() {
    for (size_t i = 0; i < m_running.size();) {
        Link& link = m_links[m_running[i]];
        if (m_transfers.finished(link.id))
            conclude(m_running[i], link);
        if (link.state == State::Done) {
            m_running[i] = std::move(m_running.back());
            m_running.pop_back();
        } else {
            ++i;
        }
    }
    for (size_t i = 0; i < m_awaitingRobots.size();) {
        const QString key = m_awaitingRobots[i];
        Link& link = m_links[key];
        start(key, link);
        if (link.state != State::AwaitingRobots) {
            m_awaitingRobots[i] = m_awaitingRobots.back();
            m_awaitingRobots.pop_back();
        } else {
            ++i;
        }
    }
    startWhatMay();
    tellReady();
}

void LinkCheck::startWhatMay() {
    while (!m_toStart.empty() &&
           static_cast<int>(m_running.size() + m_awaitingRobots.size()) < ahead) {
        const QString key = m_toStart.front();
        m_toStart.pop_front();
        Link& link = m_links[key];
        if (link.state == State::ToStart)
            start(key, link);
    }
}

void LinkCheck::tellReady() {
    while (!m_entries.empty()) {
        Entry& entry = m_entries.front();
        if (!entry.key.isEmpty()) {
            const Link& link = m_links[entry.key];
            if (link.state != State::Done)
                return;
            entry.status = link.status;
        }
        m_ready(entry.result, entry.status);
        m_entries.pop_front();
    }
}

bool LinkCheck::finish(Shell& shell, const std::function<bool()>& keepGoing) {
    // The visits that did not come: their links are asked for now, in the order
    // of the results.
    for (const Entry& entry : m_entries) {
        if (entry.key.isEmpty())
            continue;
        Link& link = m_links[entry.key];
        if (link.state == State::AwaitingVisit) {
            link.state = State::ToStart;
            m_toStart.push_back(entry.key);
        }
    }
    m_visiting.clear();
    for (;;) {
        poll();
        if (m_entries.empty())
            return true;
        const bool moving = !m_running.empty() || !m_awaitingRobots.empty() || !m_toStart.empty();
        if (!moving || !keepGoing())
            break;
        m_transfers.wait(shell);
    }
    // Stopped: what is left is told as it stands.
    for (const QString& key : m_running)
        m_transfers.cancel(m_links[key].id);
    m_running.clear();
    m_awaitingRobots.clear();
    m_toStart.clear();
    for (Link& link : m_links)
        if (link.state != State::Done) {
            link.status = NotChecked(QStringLiteral("the run was stopped"));
            link.state = State::Done;
        }
    tellReady();
    return false;
}
