#include "tests/gui/ChildPrograms.h"

#include "crawl/PageFile.h"
#include "window/Form1.h"
#include "window/qt/CloseOnSignals.h"
#include "window/qt/Form1View.h"
#include "window/qt/QtShell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <cstring>

namespace {
// Still running long after the window was closed: the close did not end it.
constexpr int NotEnded = 3;

struct Window {
    QtShell shell;
    Form1 form{shell};
    Form1View view{form};

    explicit Window(const QString& marker) {
        shell.setParentWindow(&view);
        // As the program does: the page folder goes, then the marker tells the
        // test that the clean-up ran.
        shell.setCleanup([marker] {
            RemovePageFolder();
            QFile file(marker);
            if (file.open(QIODevice::WriteOnly))
                file.write("cleaned up\n");
        });
        form.Form_Load();
        view.show();
    }
};

int closeInLoop(const QString& marker) {
    Window window(marker);
    QTimer::singleShot(0, &window.view, [&window] {
        QTimer::singleShot(100, &window.view, [&window] { window.view.close(); });
        // A long command that yields, as a run does.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000)
            window.shell.yield(YieldPlace::Scan);
        std::_Exit(NotEnded);
    });
    QApplication::exec();
    return NotEnded;
}

int closeDuringRun(const QString& marker, const QString& url, bool bySignal) {
    Window window(marker);
    window.form.ListView1.Add(url);
    window.form.setCheck2(1);
    if (bySignal) {
        CloseOnTerminationSignals(window.view);
    } else {
        // Closes as soon as the run has listed its first result.
        auto* watch = new QTimer(&window.view);
        QObject::connect(watch, &QTimer::timeout, &window.view, [&window] {
            if (window.form.ListView2.Count() > 0)
                window.view.close();
        });
        watch->start(5);
    }
    QTimer::singleShot(0, &window.view, [&window] {
        window.view.findChild<QPushButton*>(QStringLiteral("PushButton7"))->click();
        std::_Exit(NotEnded);
    });
    QApplication::exec();
    return NotEnded;
}
} // namespace

int RunChildProgram(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], CloseInLoop) == 0)
        return closeInLoop(QString::fromLocal8Bit(argv[2]));
    for (const char* mode : {CloseDuringRun, RunUntilSignal})
        if (argc == 4 && std::strcmp(argv[1], mode) == 0)
            return closeDuringRun(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                  mode == RunUntilSignal);
    return -1;
}
