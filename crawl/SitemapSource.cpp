#include "crawl/SitemapSource.h"

#include "base/Failure.h"
#include "crawl/CrawlScope.h"
#include "crawl/FetchAhead.h"
#include "crawl/RunSettings.h"
#include "crawl/RunSink.h"
#include "crawl/URLMon.h"

#include <QUrl>
#include <algorithm>

namespace {

QString Counted(qsizetype n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

SitemapSource::SitemapSource(URLMon& transfers, FetchAhead& ahead, const RunSettings& settings,
                             RunSink& sink)
    : m_transfers(transfers), m_ahead(ahead), m_settings(settings), m_sink(sink) {}

QString SitemapSource::keyOf(const QString& address) {
    return QUrl(address)
        .adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments | QUrl::StripTrailingSlash)
        .toString(QUrl::FullyEncoded);
}

void SitemapSource::clear() {
    m_site.clear();
    m_reading = Reading();
    m_keys.clear();
    m_read.clear();
}

bool SitemapSource::readsFor(const QString& address) const {
    return HostKey(address) != m_site;
}

void SitemapSource::restore(const QString& address, Reading&& reading) {
    clear();
    m_site = HostKey(address);
    m_reading = std::move(reading);
    m_keys.reserve(static_cast<qsizetype>(m_reading.pages.size()));
    for (const Entry& entry : m_reading.pages)
        m_keys.insert(keyOf(entry.address));
    for (const Failed& failed : m_reading.failures)
        tell(failed);
}

void SitemapSource::read(const QString& address, Shell& shell,
                         const std::function<bool()>& keepGoing) {
    const QString site = HostKey(address);
    if (site == m_site)
        return;
    clear();
    m_site = site;
    const RobotsTxt* robots = m_ahead.robotsOf(address, shell, keepGoing);
    if (!robots)
        return;
    QUrl probe(address);
    probe.setUserInfo(QString());
    probe.setPath(QStringLiteral("/sitemap.xml"));
    probe.setQuery(QString());
    probe.setFragment(QString());
    QStringList named = robots->sitemaps();
    const QString probeAddress = probe.toString(QUrl::FullyEncoded);
    const bool probed = std::none_of(named.cbegin(), named.cend(), [&](const QString& s) {
        return keyOf(s) == keyOf(probeAddress);
    });
    for (const QString& sitemap : named)
        readOne(sitemap, 0, false, shell, keepGoing);
    if (probed)
        readOne(probeAddress, 0, true, shell, keepGoing);
}

void SitemapSource::fail(const QString& address, const QString& reason, int status) {
    m_reading.failures.push_back({address, reason, status});
    tell(m_reading.failures.back());
}

void SitemapSource::tell(const Failed& failed) {
    m_sink.visitStarted(failed.address);
    VisitEnd end;
    end.address = failed.address;
    end.outcome = VisitEnd::Outcome::Failed;
    end.failure = failed.reason;
    end.status = failed.status;
    m_sink.visitEnded(end);
}

void SitemapSource::readOne(const QString& address, int nesting, bool probe, Shell& shell,
                            const std::function<bool()>& keepGoing) {
    if (!keepGoing())
        return;
    const QUrl url(address);
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        fail(address, QStringLiteral("not an http or https address"));
        return;
    }
    m_read.insert(keyOf(address));
    // With --robots, a sitemap of the site is fetched only where robots.txt allows it.
    if (m_settings.scope.robots && HostKey(address) == m_site) {
        const RobotsTxt* robots = m_ahead.robotsOf(address, shell, keepGoing);
        if (!robots || !robots->allows(address))
            return;
    }
    DownloadSettings settings = m_settings.download;
    settings.maxPageBytes = std::min(settings.maxPageBytes, SitemapDocument::MaxBytes);
    const DownloadResult download = m_transfers.download(address, settings, shell, keepGoing);
    if (download.outcome == DownloadOutcome::Stopped)
        return;
    if (!download) {
        const bool missing = download.outcome == DownloadOutcome::HttpError &&
                             (download.httpStatus == 404 || download.httpStatus == 410);
        if (!(probe && missing))
            fail(address, download.failure, download.httpStatus);
        return;
    }
    QByteArray body;
    try {
        body = download.body.read(settings.maxPageBytes);
    } catch (const Failure& f) {
        fail(address, f.description(), download.httpStatus);
        return;
    } catch (const std::bad_alloc&) {
        fail(address, QStringLiteral("Out of memory"), download.httpStatus);
        return;
    }
    // A .xml.gz served as it is stored; one sent with Content-Encoding: gzip was
    // decoded by the transfer, under the same guards.
    if (IsGzip(body)) {
        QByteArray xml;
        QString failure;
        if (!Gunzip(body, settings.maxPageBytes, settings.expansionCheckBytes,
                    settings.maxExpansion, &xml, &failure)) {
            fail(address, failure, download.httpStatus);
            return;
        }
        body = std::move(xml);
    }
    const SitemapDocument document = ParseSitemap(body);
    body = QByteArray();
    QStringList problems;
    if (!document.failure.isEmpty())
        problems.append(document.failure);
    else
        m_reading.found = true;
    if (document.otherAddresses > 0)
        problems.append(Counted(document.otherAddresses, "address", "addresses") +
                        QStringLiteral(" not http or https left out"));
    if (document.truncated)
        problems.append(QStringLiteral("more than %1 addresses: the rest left out")
                            .arg(SitemapDocument::MaxAddresses));
    if (document.index) {
        // The failures of the index come before those of the sitemaps it names.
        QStringList later;
        QSet<QString> named; // an index that names a sitemap twice names it once
        for (const QString& sitemap : document.addresses) {
            if (named.contains(sitemap))
                continue;
            if (m_read.contains(keyOf(sitemap))) {
                problems.append(QStringLiteral("sitemap index loop: ") + sitemap +
                                QStringLiteral(" is read already"));
            } else if (nesting + 1 > MaxNesting) {
                problems.append(
                    QStringLiteral("sitemap indexes nested deeper than %1: ").arg(MaxNesting) +
                    sitemap + QStringLiteral(" left out"));
            } else if (m_read.size() >= MaxSitemaps) {
                problems.append(QStringLiteral("more than %1 sitemaps for the site: the rest "
                                               "left out")
                                    .arg(MaxSitemaps));
                break;
            } else {
                later.append(sitemap);
                named.insert(sitemap);
                m_read.insert(keyOf(sitemap));
            }
        }
        if (!problems.isEmpty())
            fail(address, problems.join(QStringLiteral("; ")), download.httpStatus);
        for (const QString& sitemap : later)
            readOne(sitemap, nesting + 1, false, shell, keepGoing);
        return;
    }
    // A sitemap lists the pages of its own site only (a sitemap named by robots.txt
    // may be elsewhere): the others are left out, as the protocol has it.
    const QString host = CrawlScope::hostOf(m_site);
    qsizetype elsewhere = 0;
    for (const QString& page : document.addresses) {
        if (CrawlScope::hostOf(page) != host) {
            ++elsewhere;
            continue;
        }
        if (static_cast<qsizetype>(m_reading.pages.size()) >= MaxPages) {
            problems.append(
                QStringLiteral("more than %1 pages for the site: the rest left out").arg(MaxPages));
            break;
        }
        QString key = keyOf(page);
        if (m_keys.contains(key))
            continue;
        m_keys.insert(std::move(key));
        m_reading.pages.push_back({page, address});
    }
    if (elsewhere > 0)
        problems.append(Counted(elsewhere, "address", "addresses") +
                        QStringLiteral(" of another host left out"));
    if (!problems.isEmpty())
        fail(address, problems.join(QStringLiteral("; ")), download.httpStatus);
}
