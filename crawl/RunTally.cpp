#include "crawl/RunTally.h"

#include "base/Messages.h"
#include "base/Shell.h"

#include <QStringList>

namespace {

const QString Dash = QStringLiteral(" \u2014 ");
const QString Ellipsis = QStringLiteral("\u2026");

QString pagesText(qint64 n) {
    return RunTally::count(n, QStringLiteral("page"), QStringLiteral("pages"));
}

QString resultsText(qint64 n) {
    return RunTally::count(n, QStringLiteral("result"), QStringLiteral("results"));
}

QString failedText(qint64 n) {
    return RunTally::number(n) + QStringLiteral(" failed");
}

// An address in the status line: shortened in its middle, never cut at its end.
QString statusAddress(const QString& address) {
    return RunTally::middleElided(address, RunTally::AddressCharacters);
}

} // namespace

RunTally::RunTally(QObject* parent) : QObject(parent) {}

void RunTally::clear() {
    m_state = State::Empty;
    m_visits = m_pages = m_results = m_failed = 0;
    m_stopped = false;
    m_address.clear();
    m_lastFailures.clear();
    m_clock.invalidate();
    m_elapsedMs = 0;
    emit stateChanged();
}

void RunTally::start() {
    m_visits = m_pages = m_results = m_failed = 0;
    m_stopped = false;
    m_address.clear();
    m_lastFailures.clear();
    m_elapsedMs = 0;
    m_clock.start();
    m_state = State::Running;
    emit stateChanged();
}

void RunTally::finish(bool stopped) {
    m_elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    m_stopped = stopped;
    m_state = State::Ended;
    emit stateChanged();
}

void RunTally::visitStarted(const QString& address) {
    ++m_visits;
    m_address = address;
}

void RunTally::visitEnded(const VisitEnd& visit) {
    if (visit.outcome == VisitEnd::Outcome::Downloaded)
        ++m_pages;
    if (visit.outcome != VisitEnd::Outcome::Failed)
        return;
    ++m_failed;
    m_lastFailures.push_back({visit.address, visit.failure});
    while (m_lastFailures.size() > static_cast<size_t>(KeptFailures))
        m_lastFailures.pop_front();
}

qint64 RunTally::elapsedMs() const {
    if (m_state == State::Running && m_clock.isValid())
        return m_clock.elapsed();
    return m_elapsedMs;
}

RunTally::StatusParts RunTally::statusParts() const {
    const QString counts = pagesText(m_pages) + QStringLiteral(", ") + resultsText(m_results) +
                           QStringLiteral(", ") + failedText(m_failed);
    // A text without an address.
    const auto plain = [](const QString& text) { return StatusParts{text, {}, {}}; };
    switch (m_state) {
    case State::Empty:
        return {};
    case State::Running:
        if (m_address.isEmpty())
            return plain(QStringLiteral("Fetching") + Dash + counts);
        return {QStringLiteral("Fetching "), statusAddress(m_address), Dash + counts};
    case State::Ended:
        break;
    }
    const QString time = QStringLiteral(" in ") + seconds(m_elapsedMs) + QStringLiteral(" s");
    if (m_stopped)
        return plain(QStringLiteral("Stopped after ") + pagesText(m_pages) + QStringLiteral(": ") +
                     resultsText(m_results) + QStringLiteral(", ") + failedText(m_failed) +
                     QStringLiteral(",") + time);
    if (noPageDownloaded() && !m_lastFailures.empty()) {
        const Failure& last = m_lastFailures.back();
        return {QStringLiteral("No page could be downloaded: ") + failedText(m_failed) +
                    QStringLiteral(" (last: "),
                statusAddress(last.address), QStringLiteral(": ") + last.reason + QLatin1Char(')')};
    }
    return plain(QStringLiteral("Finished: ") + counts + QStringLiteral(",") + time);
}

QString RunTally::text() const {
    const StatusParts parts = statusParts();
    return parts.before + parts.address + parts.after;
}

QString RunTally::text(const std::function<bool(const QString&)>& fits) const {
    const StatusParts parts = statusParts();
    const QString whole = parts.before + parts.address + parts.after;
    if (fits(whole))
        return whole;
    if (!parts.address.isEmpty()) {
        const QString shorter =
            parts.before +
            middleElidedToFit(parts.address,
                              [&](const QString& address) {
                                  return fits(parts.before + address + parts.after);
                              }) +
            parts.after;
        if (fits(shorter))
            return shorter;
    }
    return middleElidedToFit(whole, fits);
}

QString RunTally::failureList() const {
    QStringList lines;
    for (const Failure& f : m_lastFailures)
        lines.append(shortAddress(f.address) + QStringLiteral(": ") + f.reason);
    return lines.join(QLatin1Char('\n'));
}

QString RunTally::number(qint64 n) {
    const bool negative = n < 0;
    // The magnitude as unsigned: the smallest qint64 has no positive counterpart.
    quint64 magnitude = negative ? 0 - static_cast<quint64>(n) : static_cast<quint64>(n);
    QString digits = QString::number(magnitude);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return negative ? QLatin1Char('-') + digits : digits;
}

QString RunTally::count(qint64 n, const QString& one, const QString& many) {
    return number(n) + QLatin1Char(' ') + (n == 1 ? one : many);
}

QString RunTally::seconds(qint64 ms) {
    const qint64 tenths = (qMax<qint64>(ms, 0) + 50) / 100;
    return number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
}

QString RunTally::shortAddress(const QString& address) {
    return ShortText(address, AddressCharacters);
}

QString RunTally::middleElided(const QString& text, qsizetype keep) {
    if (text.size() <= keep)
        return text;
    keep = qMax<qsizetype>(keep, 0);
    // The head gets the odd character; neither end splits a surrogate pair.
    qsizetype head = (keep + 1) / 2;
    qsizetype tail = keep - head;
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + Ellipsis + text.right(tail);
}

QString RunTally::middleElidedToFit(const QString& text,
                                    const std::function<bool(const QString&)>& fits) {
    if (fits(text))
        return text;
    // The most characters kept for which the text fits: fitting never gets
    // easier with more characters, so a binary search finds it.
    qsizetype fitting = 0;
    qsizetype tooMany = text.size();
    while (tooMany - fitting > 1) {
        const qsizetype keep = fitting + (tooMany - fitting) / 2;
        if (fits(middleElided(text, keep)))
            fitting = keep;
        else
            tooMany = keep;
    }
    return middleElided(text, fitting);
}
