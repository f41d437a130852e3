#include "crawl/PageFile.h"
#include "window/Form1.h"
#include "window/qt/ApplicationIcon.h"
#include "window/qt/CloseOnSignals.h"
#include "window/qt/Form1View.h"
#include "window/qt/QtShell.h"

#include <QApplication>

// The window takes no arguments: every start begins with both lists empty.
int main(int argc, char** argv) {
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
    view.show();
    app.exec();
    // The event loop ends without the window closing only when the session ends:
    // that ends the program the same way.
    form.Form_Unload();
    return 0;
}
