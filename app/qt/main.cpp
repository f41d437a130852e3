#include "app/Form1.h"
#include "app/qt/Form1View.h"
#include "app/qt/QtShell.h"
#include "crawl/PageFile.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvelle"));
    QApplication::setApplicationVersion(QStringLiteral(ORVELLE_VERSION));

    QtShell shell;
    // Closing the window ends the program at once; the page folder goes first.
    shell.setCleanup([] { RemovePageFolder(); });
    Form1 form(shell);
    form.Form_Load();
    Form1View view(form);
    shell.setParentWindow(&view);
    view.show();
    return app.exec();
}
