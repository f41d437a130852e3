#pragma once

#include "base/Messages.h"
#include "base/RedirectHop.h"

#include <QString>
#include <QVector>
#include <vector>

class CommonDialog;

// How a page visit ended, with where its time went.
struct VisitEnd {
    enum class Outcome { Downloaded, Failed, Stopped };
    QString address;
    Outcome outcome = Outcome::Failed;
    // Empty when the page was downloaded, else a short reason.
    QString failure;
    // Where the page was finally delivered from, the status of the last answer (0:
    // none), its content type, and the page's steps from the listed address.
    QString finalAddress;
    int status = 0;
    // The redirects followed on the way, in order.
    QVector<RedirectHop> redirects;
    QString contentType;
    int depth = 0;
    qint64 bytes = 0;      // the page's length
    qint64 downloadNs = 0; // from the request to the page's last byte
    qint64 scanNs = 0;     // scanning the page and recording its links
};

// A socket the download service waits on: what it waits for, and what the wait
// found.
struct WaitSocket {
    int fd = -1;
    bool read = false;
    bool write = false;
    bool readable = false;
    bool writable = false;
};

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
    // Waits until one of the sockets is ready or timeoutMs has passed (-1: no limit),
    // and marks the ready ones; handles pending events meanwhile, as a yield of place
    // does. A signal ends the wait early. This one yields, then polls.
    virtual void waitForSockets(std::vector<WaitSocket>& sockets, int timeoutMs, YieldPlace place);

    // Ends the program at once, after the clean-up.
    virtual void endProgram() = 0;

    // Progress of a run, for front ends that report it; the window shows nothing.
    virtual void visitStarted(const QString& address) { (void)address; }
    virtual void visitEnded(const VisitEnd& visit) { (void)visit; }
    // A server answered address with status (429 or 503) and asked to be left alone
    // for seconds: the download service waits that long, then asks once more.
    virtual void serverAskedToWait(const QString& address, int status, int seconds) {
        (void)address;
        (void)status;
        (void)seconds;
    }
};
