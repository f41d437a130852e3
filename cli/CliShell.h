#pragma once

#include "base/Shell.h"
#include "cli/StatusLine.h"

#include <QString>
#include <functional>

class Form1;

// The Shell of the command line. Nobody is there to answer: the overwrite
// questions are answered Yes (the person named the output file), any other
// question No; dialogs are cancelled and the clipboard is never had. "Done." is
// not printed, other plain messages go to standard error; an "Application Error"
// goes there too and is counted. Each yield looks for Ctrl-C, which presses Stop
// as the window's button does, and keeps the progress line fresh.
class CliShell : public Shell {
public:
    struct Settings {
        bool progress = false;     // draw the progress line (standard error is a terminal)
        bool visitMessages = true; // "failed: ADDRESS: reason" lines
        qint64 maxPages = 0;       // press Stop after this many visits; 0 is no limit
    };

    explicit CliShell(const Settings& settings);

    // The window whose Stop button Ctrl-C and the page limit press.
    void attach(Form1& form) { m_form = &form; }

    // After every page visit (the lines written so far are flushed here).
    std::function<void()> onVisitEnded;
    // At every yield.
    std::function<void()> onYield;

    int applicationErrors() const { return m_applicationErrors; }
    qint64 visits() const { return m_visitsEnded; }
    // True once Stop was pressed on the run's behalf (Ctrl-C, page limit, broken output).
    bool stopPressed() const { return m_stopPressed; }
    // Presses Stop while a run is in progress, once.
    void pressStop();

    // A line on standard error, clear of the progress line.
    void printError(const QString& text);
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
    void visitStarted(const QString& address) override;
    void visitEnded(const VisitEnd& visit) override;
    void serverAskedToWait(const QString& address, int status, int seconds) override;

private:
    void showProgress(bool force);

    Settings m_settings;
    StatusLine m_status;
    Form1* m_form = nullptr;
    int m_applicationErrors = 0;
    qint64 m_visitsEnded = 0;
    QString m_currentAddress;
    bool m_stopPressed = false;
};
