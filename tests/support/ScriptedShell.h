#pragma once

#include "base/CommonDialog.h"
#include "base/Shell.h"

#include <QElapsedTimer>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// A Shell for tests: answers dialogs from queues, records every message, and runs
// actions at the n-th yield of a place (for example: press Stop at the third
// yield of the scan).
class ScriptedShell : public Shell {
public:
    struct Message {
        QString text;
        int style;
        QString title;
        std::optional<MessageId> id = {}; // none for the Application Error and the prompts
        int statement = 0;                // the Application Error's failing statement
    };
    // What the file dialog answers: a name (empty for Cancel), or a failure number.
    struct DialogAnswer {
        QString fileName;
        int failure = 0;
    };
    // The dialog's properties as they stood when it was shown.
    struct DialogShown {
        bool save;
        QString fileName;
        long flags;
        QString title;
        QString filter;
    };

    // Answers to the Yes/No questions, in order; when empty, a question is answered No.
    std::deque<int> answers;
    std::deque<QString> inputs;
    std::deque<DialogAnswer> dialogAnswers;

    std::vector<Message> messages;
    std::vector<Message> prompts; // style -1
    std::vector<DialogShown> dialogs;

    // The clipboard; the first clipboardBusyAttempts attempts on it fail.
    QString clipboard;
    bool clipboardEverSet = false;
    int clipboardBusyAttempts = 0;
    int clipboardClearAttempts = 0;
    int clipboardSetAttempts = 0;

    // Yield every step of a long loop, so that actions land at precise points.
    bool everyStep = false;
    std::map<YieldPlace, int> yieldCounts;
    int totalYields() const;

    bool programEnded = false;

    // Page visits as the run reported them: the address, the reason of a failed
    // one (empty when the page was downloaded), and how long the visit took.
    struct Visit {
        QString address;
        QString failure;
        bool ended = false;
        qint64 startedNs = 0;
        qint64 durationMs = -1;
    };
    std::vector<Visit> visits;
    // Runs at the end of every visit, with the number of visits ended so far.
    std::function<void(int visitsEnded)> onVisitEnded;

    // Runs action at the n-th (1-based) yield of place.
    void at(YieldPlace place, int n, std::function<void()> action);
    // Runs action at every yield of place.
    void onEvery(YieldPlace place, std::function<void()> action);

    // Shell
    int messageBox(const PlainMessage& message) override;
    void applicationError(const ApplicationError& error) override;
    QString inputBox(const QString& prompt, const QString& title) override;
    void showOpen(CommonDialog& dialog) override;
    void showSave(CommonDialog& dialog) override;
    bool clipboardClear() override;
    bool clipboardSetText(const QString& text) override;
    void yield(YieldPlace place) override;
    bool yieldsEveryStep() const override { return everyStep; }
    void endProgram() override { programEnded = true; }
    void visitStarted(const QString& address) override;
    void visitEnded(const VisitEnd& visit) override;
    // Waits at most 10 ms, as an event loop with a steady stream of events would.
    void waitForSockets(std::vector<WaitSocket>& sockets, int timeoutMs, YieldPlace place) override;

    // Texts of all messages, in order.
    std::vector<QString> messageTexts() const;

private:
    void showDialog(CommonDialog& dialog, bool save);

    std::multimap<std::pair<YieldPlace, int>, std::function<void()>> m_actions;
    std::multimap<YieldPlace, std::function<void()>> m_everyActions;
    QElapsedTimer m_clock;
    int m_visitsEnded = 0;
};
