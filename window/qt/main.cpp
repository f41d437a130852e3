#include "base/SystemIo.h"
#include "crawl/PageFile.h"
#include "window/Form1.h"
#include "window/WindowCommandLine.h"
#include "window/qt/ApplicationIcon.h"
#include "window/qt/CloseOnSignals.h"
#include "window/qt/Form1View.h"
#include "window/qt/QtShell.h"

#include <QApplication>
#include <unistd.h>

namespace {

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

} // namespace

// orvelle [--help | --version] [ADDRESS...]: the command line is read before Qt
// looks for a display, so that help, the version and a bad command line need none.
// Every start begins with both lists empty but for the addresses given.
int main(int argc, char** argv) {
    const WindowCommandLine commandLine = ReadWindowCommandLine(ArgumentsOf(argc, argv));
    switch (commandLine.action) {
    case WindowCommandLine::Action::Help:
    case WindowCommandLine::Action::Version:
        return WriteAll(STDOUT_FILENO, commandLine.text.toLocal8Bit()) == 0 ? 0 : 1;
    case WindowCommandLine::Action::Error:
        WriteAll(STDERR_FILENO, commandLine.text.toLocal8Bit());
        return WindowCommandLine::UsageError;
    case WindowCommandLine::Action::Open:
        break;
    }

    // Qt takes its own arguments (-platform, -style, ...) from argv here.
    QApplication app(argc, argv);
    // The AppStream id names the desktop entry (org.orvelle.Orvelle.desktop), the
    // Wayland app id and, through the application name, the class of the X11
    // WM_CLASS that the entry's StartupWMClass names.
    const QString applicationId = QStringLiteral("org.orvelle.Orvelle");
    QApplication::setApplicationName(applicationId);
    QApplication::setApplicationVersion(QStringLiteral(ORVELLE_VERSION));
    QGuiApplication::setDesktopFileName(applicationId);
    QApplication::setWindowIcon(ApplicationIcon());

    QtShell shell;
    // Closing the window ends the program at once; the page folder goes first.
    shell.setCleanup([] { RemovePageFolder(); });
    Form1 form(shell);
    Form1View view(form);
    shell.setParentWindow(&view);
    CloseOnTerminationSignals(view);
    form.Form_Load();
    form.AddAddresses(commandLine.addresses);
    view.show();
    app.exec();
    // The event loop ends without the window closing only when the session ends:
    // that ends the program the same way.
    form.Form_Unload();
    return 0;
}
