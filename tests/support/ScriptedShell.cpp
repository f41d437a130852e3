#include "tests/support/ScriptedShell.h"

#include "base/Failure.h"
#include "base/Messages.h"

#include <algorithm>

int ScriptedShell::totalYields() const {
    int total = 0;
    for (const auto& [place, count] : yieldCounts)
        total += count;
    return total;
}

void ScriptedShell::at(YieldPlace place, int n, std::function<void()> action) {
    m_actions.emplace(std::make_pair(place, n), std::move(action));
}

void ScriptedShell::onEvery(YieldPlace place, std::function<void()> action) {
    m_everyActions.emplace(place, std::move(action));
}

int ScriptedShell::messageBox(const PlainMessage& message) {
    messages.push_back({message.text, message.style, message.title, message.id});
    if ((message.style & 0xF) != MsgStyle::YesNo)
        return MsgAnswer::Ok;
    if (answers.empty())
        return MsgAnswer::No;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

void ScriptedShell::applicationError(const ApplicationError& error) {
    messages.push_back({error.text(), MsgStyle::Exclamation, ApplicationErrorTitle(), std::nullopt,
                        error.statement});
}

QString ScriptedShell::inputBox(const QString& prompt, const QString& title) {
    prompts.push_back({prompt, -1, title});
    if (inputs.empty())
        return {};
    QString answer = inputs.front();
    inputs.pop_front();
    return answer;
}

void ScriptedShell::showDialog(CommonDialog& dialog, bool save) {
    dialogs.push_back({save, dialog.FileName, dialog.Flags, dialog.DialogTitle, dialog.Filter});
    DialogAnswer answer;
    if (!dialogAnswers.empty()) {
        answer = dialogAnswers.front();
        dialogAnswers.pop_front();
    }
    if (answer.failure != 0)
        throw Failure(QStringLiteral("The buffer is too small"), answer.failure);
    dialog.FileName = answer.fileName;
}

void ScriptedShell::showOpen(CommonDialog& dialog) {
    showDialog(dialog, false);
}

void ScriptedShell::showSave(CommonDialog& dialog) {
    showDialog(dialog, true);
}

bool ScriptedShell::clipboardClear() {
    ++clipboardClearAttempts;
    if (clipboardBusyAttempts > 0) {
        --clipboardBusyAttempts;
        return false;
    }
    clipboard.clear();
    return true;
}

bool ScriptedShell::clipboardSetText(const QString& text) {
    ++clipboardSetAttempts;
    if (clipboardBusyAttempts > 0) {
        --clipboardBusyAttempts;
        return false;
    }
    clipboard = text;
    clipboardEverSet = true;
    return true;
}

void ScriptedShell::yield(YieldPlace place) {
    const int n = ++yieldCounts[place];
    // Copy the actions out first: an action may schedule more.
    std::vector<std::function<void()>> due;
    auto range = m_actions.equal_range({place, n});
    for (auto it = range.first; it != range.second; ++it)
        due.push_back(it->second);
    auto every = m_everyActions.equal_range(place);
    for (auto it = every.first; it != every.second; ++it)
        due.push_back(it->second);
    for (auto& action : due)
        action();
}

std::vector<QString> ScriptedShell::messageTexts() const {
    std::vector<QString> texts;
    for (const Message& m : messages)
        texts.push_back(m.text);
    return texts;
}

void ScriptedShell::visitStarted(const QString& address) {
    if (!m_clock.isValid())
        m_clock.start();
    visits.push_back({address, {}, false, m_clock.nsecsElapsed()});
}

void ScriptedShell::waitForSockets(std::vector<WaitSocket>& sockets, int timeoutMs,
                                   YieldPlace place) {
    Shell::waitForSockets(sockets, timeoutMs < 0 ? 10 : std::min(timeoutMs, 10), place);
}

void ScriptedShell::visitEnded(const VisitEnd& visit) {
    for (auto it = visits.rbegin(); it != visits.rend(); ++it) {
        if (it->address == visit.address && !it->ended) {
            it->failure = visit.failure;
            it->ended = true;
            it->durationMs = (m_clock.nsecsElapsed() - it->startedNs) / 1'000'000;
            break;
        }
    }
    if (onVisitEnded)
        onVisitEnded(++m_visitsEnded);
}
