#include "cli/CliShell.h"

#include "base/CommonDialog.h"
#include "base/Messages.h"
#include "cli/Interrupt.h"
#include "crawl/PageFile.h"
#include "crawl/RunTally.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

CliShell::CliShell(const Settings& settings) : m_settings(settings), m_status(settings.progress) {}

void CliShell::printError(const QString& text) {
    m_status.message(QStringLiteral("orvelle-harvest: ") + text);
}

void CliShell::printLine(const QString& text) {
    m_status.message(text);
}

void CliShell::finish() {
    m_status.erase();
}

int CliShell::messageBox(const PlainMessage& message) {
    switch (message.id) {
    case MessageId::OverwriteQuestion:
        // The person asked for the file on the command line.
        return MsgAnswer::Yes;
    case MessageId::Done:
        return MsgAnswer::Ok;
    default:
        break;
    }
    printError(DisplayText(message.text));
    return (message.style & 0xF) == MsgStyle::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

void CliShell::applicationError(const ApplicationError& error) {
    ++m_applicationErrors;
    m_status.message(QStringLiteral("orvelle-harvest: ") + ApplicationErrorTitle() +
                     QLatin1Char('\n') + DisplayText(error.text()));
}

QString CliShell::inputBox(const QString&, const QString&) {
    return {};
}

void CliShell::showOpen(CommonDialog& dialog) {
    dialog.FileName.clear();
}

void CliShell::showSave(CommonDialog& dialog) {
    dialog.FileName.clear();
}

void CliShell::yield(YieldPlace) {
    QCoreApplication::processEvents();
    if (Interrupt::count() > 0)
        pressStop();
    showProgress(false);
    if (onYield)
        onYield();
}

void CliShell::endProgram() {
    m_status.erase();
    RemovePageFolder();
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}

void CliShell::visitStarted(const QString& address) {
    m_currentAddress = address;
    showProgress(false);
}

void CliShell::visitEnded(const VisitEnd& visit) {
    ++m_visitsEnded;
    // A transfer that Stop abandoned is no failure of the site.
    if (!visit.failure.isEmpty() && m_settings.visitMessages && !m_stopPressed)
        // A hostile address or reason can run to megabytes: both are cut.
        m_status.message(QStringLiteral("failed: ") + RunTally::shortAddress(visit.address) +
                         QStringLiteral(": ") + RunTally::shortAddress(visit.failure));
    if (m_settings.maxPages > 0 && m_visitsEnded >= m_settings.maxPages)
        pressStop();
    showProgress(false);
}

void CliShell::serverAskedToWait(const QString& address, int status, int seconds) {
    if (m_settings.visitMessages)
        m_status.message(
            QStringLiteral("waiting %1 s: %2 answered HTTP %3 with Retry-After; asking "
                           "once more")
                .arg(seconds)
                .arg(address)
                .arg(status));
}

void CliShell::showProgress(bool force) {
    if (!m_status.showsProgress())
        return;
    if (!m_tally)
        return;
    // The run's own tally: the pages it visited and the results it listed.
    m_status.progress(m_tally->pages(), m_tally->results(), m_tally->currentAddress(), force);
}
