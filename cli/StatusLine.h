#pragma once

#include <QElapsedTimer>
#include <QString>

// Standard error: message lines, and, on a terminal, one progress line redrawn
// in place a few times a second. A message erases the progress line first, so
// the two never run into each other.
class StatusLine {
public:
    explicit StatusLine(bool showProgress);

    bool showsProgress() const { return m_enabled; }

    // Writes one line (a newline is added).
    void message(const QString& text);
    // Redraws the progress line when the last drawing is old enough, or at once
    // when forced.
    void progress(qint64 pages, qint64 results, const QString& address, bool force = false);
    // Takes the progress line off the screen (before other output to the terminal,
    // and at the end).
    void erase();

    static constexpr qint64 RefreshIntervalMs = 200;

    // The text with every control character but LF shown as '?': an address or a
    // server's words must not move the cursor or recolour the terminal.
    static QString printable(const QString& text);

private:
    bool m_enabled;
    bool m_shown = false;
    QElapsedTimer m_sinceDrawn;
};
