#include "app/Failure.h"
#include "app/Form1.h"
#include "app/Main.h"
#include "app/Shell.h"
#include "app/Statements.h"
#include "crawl/ExtractLinks.h"
#include "crawl/PageFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <exception>
#include <unistd.h>

namespace {

// Tells the shell how a visit ended, also when it ends in a Failure on its way to
// the run's statement.
class VisitReport {
public:
    VisitReport(Shell& shell, QString address) : m_shell(shell), m_address(std::move(address)) {
        m_shell.visitStarted(m_address);
    }
    ~VisitReport() {
        Silently([&] {
            if (std::uncaught_exceptions() > m_pending)
                m_shell.visitEnded(m_address,
                                   m_failure.isEmpty() ? QStringLiteral("failed") : m_failure);
            else
                m_shell.visitEnded(m_address, m_failure);
        });
    }
    void fail(const QString& reason) { m_failure = reason; }

private:
    Shell& m_shell;
    QString m_address;
    QString m_failure;
    int m_pending = std::uncaught_exceptions();
};

} // namespace

bool ExtractLinks::CrawlPage(ListView& list, const QString& address, int fileNumber) {
    SetPageAddress(address);
    // A blank address leaves nothing to fetch.
    if (PageAddress.isEmpty())
        return false;

    Shell& shell = m_form.shell();
    VisitReport report(shell, PageAddress);
    ++Stats.visits;
    QElapsedTimer clock;
    clock.start();

    DownloadResult download;
    try {
        const QString path = PageFilePath(fileNumber);
        download = Transfers.DownloadURLToFile(PageAddress, path, Download, shell,
                                               [this] { return m_form.RunFlag(); });
        Stats.fileNs += download.fileNs;
        Stats.downloadNs += clock.nsecsElapsed() - download.fileNs;
        if (!download) {
            report.fail(download.failure);
            return false;
        }
        // Relative links resolve against where the page came from.
        if (download.redirected)
            BaseAddress = download.effectiveAddress;

        clock.restart();
        try {
            ReadPageFile(path, PageBytes, Download.maxPageBytes);
        } catch (...) {
            ::unlink(QFile::encodeName(path).constData());
            throw;
        }
        PageLength = PageBytes.size();
        Stats.fileNs += clock.nsecsElapsed();

        clock.restart();
        ScanPageForLinks(list);
        Stats.scanNs += clock.nsecsElapsed();

        clock.restart();
        DeleteFileQuietly(shell, path);
        Stats.fileNs += clock.nsecsElapsed();
    } catch (const Failure& f) {
        report.fail(f.description());
        throw;
    }
    ++Stats.downloaded;
    Stats.bytes += PageLength;
    return true;
}
