#include "base/Failure.h"
#include "base/Shell.h"
#include "base/Statements.h"
#include "crawl/CrawlHost.h"
#include "crawl/ExtractLinks.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <exception>
#include <new>

namespace {

// Tells the run's tally and the shell how a visit ended, also when it ends in a
// Failure on its way to the run's statement.
class VisitReport {
public:
    VisitReport(Shell& shell, RunTally& tally, const QString& address)
        : m_shell(shell), m_tally(tally) {
        m_end.address = address;
        // The tally first: a shell that shows progress reads it.
        m_tally.visitStarted(address);
        m_shell.visitStarted(address);
    }
    ~VisitReport() {
        WithoutFailing([&] {
            if (std::uncaught_exceptions() > m_pending && m_end.failure.isEmpty())
                m_end.failure = QStringLiteral("failed");
            if (!m_end.failure.isEmpty() && m_end.outcome == VisitEnd::Outcome::Downloaded)
                m_end.outcome = VisitEnd::Outcome::Failed;
            m_tally.visitEnded(m_end);
            m_shell.visitEnded(m_end);
        });
    }
    void fail(const QString& reason, bool stopped = false) {
        m_end.failure = reason;
        m_end.outcome = stopped ? VisitEnd::Outcome::Stopped : VisitEnd::Outcome::Failed;
    }
    VisitEnd& end() { return m_end; }

private:
    Shell& m_shell;
    RunTally& m_tally;
    VisitEnd m_end;
    int m_pending = std::uncaught_exceptions();
};

} // namespace

bool ExtractLinks::CrawlPage(ListView& list, const QString& address, int fileNumber) {
    // A page received into a file is numbered by its transfer: one at a time, the
    // first and only one.
    (void)fileNumber;
    SetPageAddress(address);
    // A blank address leaves nothing to fetch.
    if (PageAddress.isEmpty())
        return false;
    Shell& shell = m_host.shell();
    // A followed page that robots.txt keeps out was listed, and is not visited.
    if (PageDepth > 0 && !Ahead.allows(PageAddress, shell, [this] { return m_host.RunFlag(); }))
        return false;

    VisitReport report(shell, Tally, PageAddress);
    report.end().outcome = VisitEnd::Outcome::Downloaded;
    try {
        DownloadResult download =
            Ahead.visit(PageAddress, shell, [this] { return m_host.RunFlag(); });
        report.end().downloadNs = download.downloadNs;
        // A failure of this program, not of the site: the run's statement reports it.
        if (download.outcome == DownloadOutcome::LocalError)
            throw Failure(download.failure);
        if (!download) {
            report.fail(download.failure, download.outcome == DownloadOutcome::Stopped);
            return false;
        }
        // Relative links resolve against where the page came from.
        if (download.redirected)
            BaseAddress = download.effectiveAddress;
        PageFinalAddress = download.redirected ? download.effectiveAddress : PageAddress;
        // The crawl keeps to the host the listed address was delivered from.
        if (PageDepth == 0)
            Scope.startAt(PageFinalAddress);
        // A large page is scanned through a map of its page file, not copied; the
        // map goes with the download at the end of the visit, and the page buffer
        // lets go of it first (a page in memory stays there until the next visit).
        PageBytes = download.body.view(Download.maxPageBytes);
        PageLength = PageBytes.size();
        const char* const mapped = download.body.onDisk() ? PageBytes.constData() : nullptr;
        const auto unmapped = qScopeGuard([&] {
            // A visit made meanwhile, in a yield, may have left its own page there.
            if (mapped && PageBytes.constData() == mapped) {
                PageBytes = QByteArray();
                PageLength = 0;
            }
        });
        report.end().bytes = PageLength;

        QElapsedTimer clock;
        clock.start();
        ScanPageForLinks(list);
        report.end().scanNs = clock.nsecsElapsed();

        // The page is let go: a page file, already unlinked, closes with it.
        shell.yield(YieldPlace::Delete);
    } catch (const Failure& f) {
        report.fail(f.description());
        throw;
    } catch (const std::bad_alloc&) {
        // The page, or what was found in it, outgrew the memory: the visit ends
        // here and the run's statement reports it.
        PageBytes = QByteArray();
        PageLength = 0;
        report.fail(QStringLiteral("Out of memory"));
        throw;
    }
    return true;
}
