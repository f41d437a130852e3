#pragma once

#include "app/Messages.h"

#include <QString>

class CommonDialog;

// Where a long loop yields to the event loop; a test shell can act at the n-th
// yield of one place (press Stop during a scan, clear the list during an export).
enum class YieldPlace { Run, Download, Scan, Value, Delete, Export, Copy };

// What the core needs from a desktop or a terminal: message boxes, the input
// prompt, the file dialogs, the clipboard, and turns of the event loop.
class Shell {
public:
    virtual ~Shell() = default;

    // A modal plain message box. Returns 1 for OK, 6 for Yes, 7 for No.
    virtual int messageBox(const PlainMessage& message) = 0;
    // The modal "Application Error" dialog (style 48, its own title).
    virtual void applicationError(const ApplicationError& error) = 0;
    // A one-line input prompt; an empty text when cancelled.
    virtual QString inputBox(const QString& prompt, const QString& title) = 0;
    // The open and save dialogs. They set dialog.FileName (empty when cancelled)
    // and may throw Failure (20476 when the chosen names do not fit).
    virtual void showOpen(CommonDialog& dialog) = 0;
    virtual void showSave(CommonDialog& dialog) = 0;
    // One attempt each; false when the clipboard could not be had.
    virtual bool clipboardClear() = 0;
    virtual bool clipboardSetText(const QString& text) = 0;

    // Lets pending events be handled (repaint, a click on Stop).
    virtual void yield(YieldPlace place) = 0;
    // True when every step of a long loop should yield (tests acting at a precise point).
    virtual bool yieldsEveryStep() const { return false; }

    // Ends the program at once, after the clean-up.
    virtual void endProgram() = 0;

    // Progress of a run, for front ends that report it; the window shows nothing.
    virtual void visitStarted(const QString& address) { (void)address; }
    // failure is empty when the page was downloaded, else a short reason.
    virtual void visitEnded(const QString& address, const QString& failure) {
        (void)address;
        (void)failure;
    }
};
