// Draws the window with a few addresses and results in it and saves the picture:
//   orvelle-screenshot FILE.png
// Run it on a real display or a virtual one (`make screenshot` uses Xvfb).
#include "base/Shell.h"
#include "window/Form1.h"
#include "window/qt/ApplicationIcon.h"
#include "window/qt/Form1View.h"
#include "window/qt/QtShell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {
const char* const Addresses[] = {
    "www.example.com",
    "https://www.example.org/docs/",
    "http://news.example.net/index.html",
};

const char* const Results[] = {
    "http://www.example.com/",
    "http://www.example.com/about/",
    "http://www.example.com/products/index.html",
    "http://www.example.com/contact.html",
    "https://www.example.org/docs/getting-started.html",
    "https://www.example.org/docs/reference/",
    "https://www.example.org/docs/faq.html",
    "https://www.example.org/download/",
    "http://news.example.net/2021/08/harvest.html",
    "http://news.example.net/archive/",
    "http://news.example.net/feed.xml",
    "https://www.example.org/",
};

void settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvelle-screenshot FILE.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QApplication::setApplicationName(QStringLiteral("orvelle"));
    QApplication::setWindowIcon(ApplicationIcon());

    QtShell shell;
    Form1 form(shell);
    Form1View view(form);
    shell.setParentWindow(&view);
    form.Form_Load();
    for (const char* address : Addresses)
        form.ListView1.Add(QString::fromLatin1(address));
    for (const char* result : Results)
        form.ListView2.EnsureVisible(form.ListView2.Add(QString::fromLatin1(result)));
    form.ListView1.Select(2);
    // A crawl of each site that keeps to it, three links deep.
    form.setCheck2(1);
    form.setCheck3(1);
    form.setDepth1(3);

    // The status line as a run over the three addresses leaves it: the tally
    // counts what the run would have counted, over a run of about 1.4 s.
    RunTally& tally = form.Tally();
    tally.start();
    QElapsedTimer run;
    run.start();
    for (const char* address : Addresses) {
        VisitEnd visit;
        visit.address = PageAddressOf(QString::fromLatin1(address));
        visit.outcome = VisitEnd::Outcome::Downloaded;
        tally.visitStarted(visit.address);
        tally.visitEnded(visit);
    }
    for (int i = 0; i < int(std::size(Results)); ++i)
        tally.resultListed();

    view.show();
    QElapsedTimer timer;
    timer.start();
    while (!view.windowHandle()->isExposed() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    settle(300);
    settle(int(std::max<qint64>(1420 - run.elapsed(), 0)));
    tally.finish(false);
    settle(200);

    // What the screen shows, where there is one; the window's own drawing otherwise.
    QPixmap picture;
    if (QScreen* screen = view.screen())
        picture = screen->grabWindow(view.winId());
    if (picture.isNull())
        picture = view.grab();
    if (!picture.save(output, "PNG")) {
        std::fprintf(stderr, "orvelle-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
