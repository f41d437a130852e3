#pragma once

#include "base/Shell.h"
#include "cli/StatusLine.h"
#include "crawl/RunHost.h"

#include <QString>
#include <functional>

class RunTally;

// The Shell of the command line, and the host of its run. Nobody is there to
// answer: the overwrite questions are answered Yes (the person named the output
// file), any other question No; dialogs are cancelled and the clipboard is never
// had. "Done." is not printed, other plain messages go to standard error; an
// "Application Error" goes there too and is counted. Each yield looks for Ctrl-C,
// which stops the run as the window's Stop button does, and keeps the progress
// line fresh.
class CliShell : public Shell, public RunHost {
public:
    struct Settings {
        bool progress = false;       // draw the progress line (standard error is a terminal)
        bool visitMessages = true;   // "failed: ADDRESS: reason" lines
        qint64 maxPages = 0;         // stop after this many visits; 0 is no limit
        bool fileLinks = false;      // "Retrieve file links" instead of HTML links
        bool extractForever = false; // "Extract forever"
    };

    explicit CliShell(const Settings& settings);

    // The tally the progress line shows.
    void attach(const RunTally& tally) { m_tally = &tally; }

    // At every yield.
    std::function<void()> onYield;

    int applicationErrors() const { return m_applicationErrors; }
    qint64 visits() const { return m_visitsEnded; }
    // True once the run was stopped (Ctrl-C, page limit, broken output).
    bool stopPressed() const { return m_stopPressed; }
    // Stops the run: it ends at its next check.
    void pressStop() { m_stopPressed = true; }

    // A visit starts, and ends: the progress line, the failure lines and the page
    // limit.
    void visitStarted(const QString& address) override;
    void visitEnded(const VisitEnd& visit) override;

    // A line on standard error, clear of the progress line: with the program's
    // name before it, and as it is.
    void printError(const QString& text);
    void printLine(const QString& text);
    // Takes the progress line off the screen before the program writes its results
    // or ends.
    void finish();

    // Shell
    int messageBox(const PlainMessage& message) override;
    void applicationError(const ApplicationError& error) override;
    QString inputBox(const QString& prompt, const QString& title) override;
    void showOpen(CommonDialog& dialog) override;
    void showSave(CommonDialog& dialog) override;
    bool clipboardClear() override { return false; }
    bool clipboardSetText(const QString&) override { return false; }
    void yield(YieldPlace place) override;
    void endProgram() override;
    void serverAskedToWait(const QString& address, int status, int seconds) override;

    // RunHost
    Shell& shell() override { return *this; }
    bool keepRunning() const override { return !m_stopPressed; }
    bool recordsFileLinks() const override { return m_settings.fileLinks; }
    bool followsLinks() const override { return m_settings.extractForever; }

private:
    void showProgress(bool force);

    Settings m_settings;
    StatusLine m_status;
    const RunTally* m_tally = nullptr;
    int m_applicationErrors = 0;
    qint64 m_visitsEnded = 0;
    QString m_currentAddress;
    bool m_stopPressed = false;
};
