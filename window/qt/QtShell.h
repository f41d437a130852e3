#pragma once

#include "base/Shell.h"

#include <functional>

class QFileDialog;
class QWidget;

// The Shell of the desktop window: Qt's message boxes, input prompt, file
// dialogs and clipboard, and turns of the event loop.
class QtShell : public Shell {
public:
    QtShell() = default;

    // The window dialogs are centred on.
    void setParentWindow(QWidget* window) { m_parent = window; }
    // Clean-up to run when the program ends, just before the process exits (the
    // private page folder is removed there). A failure in it is ignored.
    void setCleanup(std::function<void()> cleanup) { m_cleanup = std::move(cleanup); }

    int messageBox(const PlainMessage& message) override;
    void applicationError(const ApplicationError& error) override;
    QString inputBox(const QString& prompt, const QString& title) override;
    void showOpen(CommonDialog& dialog) override;
    void showSave(CommonDialog& dialog) override;
    bool clipboardClear() override;
    bool clipboardSetText(const QString& text) override;
    void yield(YieldPlace place) override;
    void waitForSockets(std::vector<WaitSocket>& sockets, int timeoutMs, YieldPlace place) override;
    void endProgram() override;

    // "Text Files (*.txt)|*.txt|All Files (*.*)|*.*" as Qt name filters; "*.*" becomes "*".
    static QStringList nameFilters(const CommonDialog& dialog);

private:
    int showBox(const QString& text, int style, const QString& title);
    // The dialog's filters, the first one chosen.
    static void setFilters(QFileDialog& box, const CommonDialog& dialog);

    QWidget* m_parent = nullptr;
    std::function<void()> m_cleanup;
};
