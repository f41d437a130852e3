#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>

struct VisitEnd;

// What a run has done so far, counted by the run itself: the visits started (blank
// addresses are never visits) and the pages they downloaded, the results it
// listed, the visits whose download failed, the latest failures with their
// reasons, the address being visited, how long it took and whether it was stopped. The window's
// status line and the command line's progress line draw from it; the texts are made here, so that a
// front end only shows them.
class RunTally : public QObject {
    Q_OBJECT
public:
    enum class State {
        Empty,   // before the first run, and after a run that had no address to visit
        Running, // a run is in progress
        Ended,   // the last run has ended
    };

    struct Failure {
        QString address;
        QString reason;
    };

    // How many failures are kept for the tool tip, and where an address is cut.
    static constexpr int KeptFailures = 20;
    static constexpr qsizetype AddressCharacters = 200;

    explicit RunTally(QObject* parent = nullptr);

    // Back to Empty: nothing to show.
    void clear();
    // A run starts: every count back to zero, the clock started.
    void start();
    // A run ends; stopped when the user (or the command line on their behalf) pressed Stop.
    void finish(bool stopped);

    // Counting, as the run goes. A visit abandoned by Stop is no failure.
    void visitStarted(const QString& address);
    void visitEnded(const VisitEnd& visit);
    void resultListed() { ++m_results; }

    State state() const { return m_state; }
    bool running() const { return m_state == State::Running; }
    // The visits started, and the pages downloaded: a failed visit, or one
    // abandoned by Stop, is a visit but no page.
    qint64 visits() const { return m_visits; }
    qint64 pages() const { return m_pages; }
    qint64 results() const { return m_results; }
    qint64 failed() const { return m_failed; }
    bool stopped() const { return m_stopped; }
    // Visits failed, and none downloaded its page.
    bool noPageDownloaded() const { return m_pages == 0 && m_failed > 0; }
    // The address being visited (the one the run records), as it is fetched.
    const QString& currentAddress() const { return m_address; }
    // The latest failures of the run, oldest first, at most KeptFailures.
    const std::deque<Failure>& lastFailures() const { return m_lastFailures; }
    // From the start of the run to now, or to its end once it has ended.
    qint64 elapsedMs() const;

    // The status line: empty, "Fetching …" during a run, the totals at its end.
    QString text() const;
    // The same, made to fit where fits() says it does: the address is shortened in
    // its middle with "…" as far as needed, and only a text that does not fit even
    // so is shortened in its own middle.
    QString text(const std::function<bool(const QString&)>& fits) const;
    // The latest failures, "address: reason", one per line; empty when none failed.
    QString failureList() const;

    // 1234567 as "1,234,567", whatever the locale.
    static QString number(qint64 n);
    // "1 page", "2 pages".
    static QString count(qint64 n, const QString& one, const QString& many);
    // Tenths of seconds as "12.3" (thousands with commas).
    static QString seconds(qint64 ms);
    // The address, cut at AddressCharacters with "…".
    static QString shortAddress(const QString& address);
    // The first and the last characters of text, keep of them in all, with "…" in
    // place of the rest; text itself when it has no more than keep. A surrogate
    // pair is kept whole or not at all.
    static QString middleElided(const QString& text, qsizetype keep);
    // The longest middleElided(text, keep) for which fits() holds; "…" alone when
    // none does.
    static QString middleElidedToFit(const QString& text,
                                     const std::function<bool(const QString&)>& fits);

signals:
    // The state changed: a run started or ended, or the tally was cleared. The
    // counts change in between without a signal (a front end looks now and then).
    void stateChanged();

private:
    // The status text in three parts: the address alone is shortened to fit.
    struct StatusParts {
        QString before;
        QString address;
        QString after;
    };
    StatusParts statusParts() const;

    State m_state = State::Empty;
    qint64 m_visits = 0;
    qint64 m_pages = 0;
    qint64 m_results = 0;
    qint64 m_failed = 0;
    bool m_stopped = false;
    QString m_address;
    std::deque<Failure> m_lastFailures;
    QElapsedTimer m_clock;
    qint64 m_elapsedMs = 0;
};
