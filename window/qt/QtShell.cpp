#include "window/qt/QtShell.h"

#include "base/CommonDialog.h"
#include "base/Messages.h"
#include "base/Statements.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

int QtShell::messageBox(const PlainMessage& message) {
    return showBox(message.text, message.style, message.title);
}

void QtShell::applicationError(const ApplicationError& error) {
    showBox(error.text(), MsgStyle::Exclamation, ApplicationErrorTitle());
}

int QtShell::showBox(const QString& text, int style, const QString& title) {
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setText(DisplayText(text));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    const bool question = (style & 0xF) == MsgStyle::YesNo;
    if (question)
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    else
        box.setStandardButtons(QMessageBox::Ok);
    if ((style & 0xF0) == MsgStyle::Exclamation)
        box.setIcon(QMessageBox::Warning);
    const int result = box.exec();
    if (!question)
        return MsgAnswer::Ok;
    return result == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

QString QtShell::inputBox(const QString& prompt, const QString& title) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(m_parent, title, DisplayText(prompt), QLineEdit::Normal, {}, &ok);
    return ok ? text : QString();
}

QStringList QtShell::nameFilters(const CommonDialog& dialog) {
    // Qt takes a filter's patterns from the parentheses at its end: a description
    // that already shows its pattern, as "Text Files (*.txt)" does, gets the Qt
    // pattern in their place rather than a second pair. "*.*" becomes "*", since
    // many files here have no extension.
    QStringList filters;
    for (const auto& [description, pattern] : dialog.FilterPairs()) {
        QString qtPattern = pattern.trimmed();
        qtPattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        qtPattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString label = description.trimmed();
        const QString shown = QLatin1Char('(') + pattern.trimmed() + QLatin1Char(')');
        if (label.endsWith(shown))
            label = label.chopped(shown.size()).trimmed();
        filters.append(label + QStringLiteral(" (") + qtPattern + QLatin1Char(')'));
    }
    return filters;
}

void QtShell::setFilters(QFileDialog& box, const CommonDialog& dialog) {
    const QStringList filters = nameFilters(dialog);
    box.setNameFilters(filters);
    if (!filters.isEmpty())
        box.selectNameFilter(filters.constFirst());
}

void QtShell::showOpen(CommonDialog& dialog) {
    QFileDialog box(m_parent, dialog.DialogTitle);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    // One existing or typed name: a missing file gets "File not found" from the command.
    box.setFileMode(QFileDialog::AnyFile);
    setFilters(box, dialog);
    dialog.FileName.clear();
    if (box.exec() == QDialog::Accepted && !box.selectedFiles().isEmpty())
        dialog.FileName = box.selectedFiles().constFirst();
}

void QtShell::showSave(CommonDialog& dialog) {
    QFileDialog box(m_parent, dialog.DialogTitle);
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setFileMode(QFileDialog::AnyFile);
    setFilters(box, dialog);
    // The commands ask before replacing a file; the dialog must not ask as well.
    box.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.FileName.clear();
    if (box.exec() == QDialog::Accepted && !box.selectedFiles().isEmpty())
        dialog.FileName = box.selectedFiles().constFirst();
}

bool QtShell::clipboardClear() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool QtShell::clipboardSetText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(text);
    // Read it back: a set that did not take is seen, and the retry is real.
    return clipboard->text() == text;
}

void QtShell::yield(YieldPlace /*place*/) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtShell::waitForSockets(std::vector<WaitSocket>& sockets, int timeoutMs,
                             YieldPlace /*place*/) {
    // The event loop itself waits: on the sockets, on the time-out, and on the
    // window's own events (a click on Stop, a repaint), whichever comes first.
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    bool woken = false;
    auto watch = [&](WaitSocket& s, QSocketNotifier::Type type, bool WaitSocket::*ready) {
        auto notifier = std::make_unique<QSocketNotifier>(s.fd, type);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&s, ready, &woken] {
            s.*ready = true;
            woken = true;
        });
        notifiers.push_back(std::move(notifier));
    };
    for (WaitSocket& s : sockets) {
        if (s.read)
            watch(s, QSocketNotifier::Read, &WaitSocket::readable);
        if (s.write)
            watch(s, QSocketNotifier::Write, &WaitSocket::writable);
    }
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&woken] { woken = true; });
    if (timeoutMs >= 0)
        timer.start(timeoutMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!woken)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtShell::endProgram() {
    if (m_cleanup)
        WithoutFailing(m_cleanup);
    // Ends here and now, also from inside a run's nested event loop: no statement
    // of any routine runs after this, no further page is fetched.
    std::fflush(nullptr);
    std::_Exit(0);
}
