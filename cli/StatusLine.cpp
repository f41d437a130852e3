#include "cli/StatusLine.h"

#include "base/SystemIo.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int terminalColumns() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Erase to the start of the line: carriage return, then "erase in line" (ECMA-48 EL).
const QByteArray EraseLine("\r\033[K");

} // namespace

StatusLine::StatusLine(bool showProgress) : m_enabled(showProgress) {}

QString StatusLine::printable(const QString& text) {
    QString shown = text;
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\n') || (u >= 0x7F && u < 0xA0))
            c = QLatin1Char('?');
    }
    return shown;
}

void StatusLine::message(const QString& text) {
    erase();
    // A message that cannot be written has nowhere else to go.
    WriteAll(STDERR_FILENO, printable(text).toLocal8Bit() + '\n');
}

void StatusLine::progress(qint64 pages, qint64 results, const QString& address, bool force) {
    if (!m_enabled)
        return;
    if (!force && m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < RefreshIntervalMs)
        return;
    m_sinceDrawn.start();
    QString line = QString::number(pages) +
                   (pages == 1 ? QStringLiteral(" page, ") : QStringLiteral(" pages, ")) +
                   QString::number(results) +
                   (results == 1 ? QStringLiteral(" result") : QStringLiteral(" results"));
    if (!address.isEmpty())
        line += QStringLiteral(": ") + address;
    // One column short of the width, so the terminal never wraps the line.
    const int width = terminalColumns() - 1;
    if (line.size() > width)
        line = line.left(std::max(width - 3, 0)) + QStringLiteral("...");
    WriteAll(STDERR_FILENO, EraseLine + printable(line).toLocal8Bit());
    m_shown = true;
}

void StatusLine::erase() {
    if (!m_shown)
        return;
    WriteAll(STDERR_FILENO, EraseLine);
    m_shown = false;
}
