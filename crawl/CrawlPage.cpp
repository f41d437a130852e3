#include "base/Failure.h"
#include "base/Shell.h"
#include "base/Statements.h"
#include "crawl/HarvestRun.h"
#include "crawl/RunHost.h"
#include "crawl/RunSink.h"
#include "crawl/VisitRecord.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <exception>
#include <new>

namespace {

// Tells the run's sink how a visit ended, also when it ends in a Failure on its
// way to the run's statement.
class VisitReport {
public:
    VisitReport(RunSink& sink, const QString& address) : m_sink(sink) {
        m_end.address = address;
        m_sink.visitStarted(address);
    }
    ~VisitReport() {
        WithoutFailing([&] {
            if (std::uncaught_exceptions() > m_pending && m_end.failure.isEmpty())
                m_end.failure = QStringLiteral("failed");
            if (!m_end.failure.isEmpty() && m_end.outcome == VisitEnd::Outcome::Downloaded)
                m_end.outcome = VisitEnd::Outcome::Failed;
            m_sink.visitEnded(m_end);
        });
    }
    void fail(const QString& reason, bool stopped = false) {
        m_end.failure = reason;
        m_end.outcome = stopped ? VisitEnd::Outcome::Stopped : VisitEnd::Outcome::Failed;
    }
    VisitEnd& end() { return m_end; }

private:
    RunSink& m_sink;
    VisitEnd m_end;
    int m_pending = std::uncaught_exceptions();
};

} // namespace

bool HarvestRun::CrawlPage(const QString& address) {
    SetPageAddress(address);
    // A blank address leaves nothing to fetch.
    if (page.address.isEmpty())
        return false;
    // Each page the run is to visit is a step; a recorded one is told again.
    const qint64 step = m_steps++;
    RecordedVisit recorded;
    const bool replayed = replayStep(step, recorded);
    Shell& shell = m_host.shell();
    const auto keepGoing = [this] { return m_host.keepRunning(); };
    // A listed address of another scheme is not fetched. A followed page that
    // robots.txt keeps out was listed, and is not visited; a listed one is not
    // visited either, and says why.
    const bool otherScheme =
        page.depth == 0 && Settings.webAddressesOnly && NamesAnotherScheme(address);
    const bool allowed = otherScheme || (replayed ? recorded.allowed
                                                  : m_ahead.allows(page.address, shell, keepGoing));
    if (!allowed && (page.depth > 0 || !m_host.keepRunning())) {
        recorded.allowed = false;
        keepStep(step, recorded);
        return false;
    }

    VisitReport report(m_sink, otherScheme ? address.trimmed() : page.address);
    report.end().depth = page.depth;
    report.end().outcome = VisitEnd::Outcome::Downloaded;
    if (otherScheme || !allowed) {
        report.fail(otherScheme ? QStringLiteral("not an http or https address")
                                : QStringLiteral("robots.txt disallows it"));
        recorded.allowed = allowed;
        recorded.page.download.failure = report.end().failure;
        keepStep(step, recorded);
        return false;
    }
    try {
        ++m_visits;
        FetchedPage fetched =
            replayed ? std::move(recorded.page) : m_ahead.visit(page.address, shell, keepGoing);
        DownloadResult& download = fetched.download;
        VisitEnd& end = report.end();
        end.downloadNs = download.downloadNs;
        end.status = download.httpStatus;
        end.contentType = download.contentType;
        end.finalAddress = download.redirected ? download.effectiveAddress : page.address;
        end.redirects = download.redirects;
        // A failure of this program, not of the site: the run's statement reports it.
        if (download.outcome == DownloadOutcome::LocalError)
            throw Failure(download.failure);
        // What is kept of the step: the download without its body.
        DownloadResult& kept = recorded.page.download;
        kept.outcome = download.outcome;
        kept.failure = download.failure;
        kept.effectiveAddress = download.effectiveAddress;
        kept.redirected = download.redirected;
        kept.redirects = download.redirects;
        kept.httpStatus = download.httpStatus;
        kept.contentType = download.contentType;
        if (!download) {
            report.fail(download.failure, download.outcome == DownloadOutcome::Stopped);
            if (download.outcome != DownloadOutcome::Stopped)
                keepStep(step, recorded);
            return false;
        }
        // Relative links resolve against where the page came from.
        if (download.redirected)
            page.base = download.effectiveAddress;
        page.finalAddress = download.redirected ? download.effectiveAddress : page.address;
        // The crawl keeps to the host the listed address was delivered from.
        if (page.depth == 0)
            Settings.scope.startAt(page.finalAddress);

        QElapsedTimer clock;
        clock.start();
        recorded.page.scanned = true;
        // Only a run that is recorded keeps its links: a page of millions of links
        // must not hold them all.
        if (Record && !replayed)
            m_capture = &recorded.page.links;
        struct EndCapture {
            std::vector<PageLink>*& capture;
            ~EndCapture() { capture = nullptr; }
        } endCapture{m_capture};
        if (fetched.scanned) {
            // Read when it arrived: its links are recorded as they were read.
            page.bytes = QByteArray();
            page.length = 0;
            report.end().bytes = fetched.bytes;
            recordAll(fetched.links);
        } else {
            // A large page is scanned through a map of its page file, not copied; the
            // map goes with the download at the end of the visit, and the page
            // buffer lets go of it first (a page in memory stays until the next visit).
            page.bytes = download.body.view(Settings.download.maxPageBytes);
            page.length = page.bytes.size();
            const char* const mapped = download.body.onDisk() ? page.bytes.constData() : nullptr;
            const auto unmapped = qScopeGuard([&] {
                m_scanning = nullptr;
                // A visit made meanwhile, in a yield, may have left its own page there.
                if (mapped && page.bytes.constData() == mapped) {
                    page.bytes = QByteArray();
                    page.length = 0;
                }
            });
            report.end().bytes = page.length;
            m_scanning = &download.body;
            ScanPageForLinks();
        }
        report.end().scanNs = clock.nsecsElapsed();
        m_capture = nullptr;
        recorded.page.bytes = report.end().bytes;
        keepStep(step, recorded);
        // For the comparison with the sitemap at the end of the crawl.
        if (Settings.sitemaps == SitemapMode::Compare)
            m_crawlVisits.push_back(ListedResult{page.address, LinkKind::Href, page.finalAddress,
                                                 crawl.listed, page.depth, ResultSource::Unlisted});

        // The page is let go: a page file, already unlinked, closes with it.
        shell.yield(YieldPlace::Delete);
    } catch (const Failure& f) {
        report.fail(f.description());
        throw;
    } catch (const std::bad_alloc&) {
        // The page, or what was found in it, outgrew the memory: the visit ends
        // here and the run's statement reports it.
        page.bytes = QByteArray();
        page.length = 0;
        report.fail(QStringLiteral("Out of memory"));
        throw;
    }
    return true;
}
