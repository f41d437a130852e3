#include "tests/gui/ChildPrograms.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Ended {
    bool finished = false;
    int exitCode = -1;
    qint64 milliseconds = 0;
};

Ended runChild(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), arguments);
    Ended ended;
    ended.finished = child.waitForFinished(15000);
    ended.milliseconds = timer.elapsed();
    if (!ended.finished) {
        child.kill();
        child.waitForFinished();
        return ended;
    }
    if (child.exitStatus() == QProcess::NormalExit)
        ended.exitCode = child.exitCode();
    return ended;
}

TEST(Shutdown, ClosingTheWindowInsideANestedEventLoopEndsTheProgramAfterTheCleanUp) {
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("cleaned"));
    const Ended ended =
        runChild({QLatin1String(CloseInLoop), marker}, QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(ended.finished) << "the program kept running after its window closed";
    EXPECT_EQ(ended.exitCode, 0);
    EXPECT_TRUE(QFile::exists(marker)) << "the clean-up did not run";
    // The command in the child would have gone on for 20 seconds.
    EXPECT_LT(ended.milliseconds, 10000);
}

} // namespace
