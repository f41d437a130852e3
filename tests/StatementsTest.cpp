#include "base/Statements.h"

#include "base/Failure.h"
#include "base/Messages.h"
#include "base/Pacer.h"
#include "tests/support/ScriptedShell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

const QString Support = QStringLiteral("Please email screenshot of this message to ") +
                        QStringLiteral(ORVELLE_SUPPORT_EMAIL);

// A routine without failure handling of its own: its failure goes to the caller.
void passingRoutine() {
    throw Failure(QStringLiteral("File not found"), 53);
}

TEST(ApplicationError, ShowsFourLinesWithTheFailingStatement) {
    ScriptedShell shell;
    Statements s(shell, QualifiedName("Form1", "PushButton9_Click"));
    EXPECT_FALSE(s.run(100, [] { throw Failure(QStringLiteral("Object required"), 424); }));

    ASSERT_EQ(shell.messages.size(), 1u);
    const auto& m = shell.messages[0];
    EXPECT_EQ(m.text, QStringLiteral("Object required\r\n"
                                     "in Quillmere2021/08/31.Form1.PushButton9_Click at line 100"
                                     "\r\r") +
                          Support);
    EXPECT_EQ(m.style, 48);
    EXPECT_EQ(m.title, QStringLiteral("Application Error"));
}

TEST(ApplicationError, EmptyDescriptionLeavesTheFirstLineEmpty) {
    ScriptedShell shell;
    Statements s(shell, QualifiedName("Form1", "PushButton11_Click"));
    s.run(100, [] { throw Failure(QString()); });
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.startsWith(
        QStringLiteral("\r\nin Quillmere2021/08/31.Form1.PushButton11_Click at line 100\r\r")));
}

TEST(ApplicationError, PassingRoutineIsReportedUnderTheCallersStatementAndTheCallerGoesOn) {
    ScriptedShell shell;
    Statements s(shell, QualifiedName("Form1", "PushButton13_Click"));
    std::vector<int> ran;
    s.run(102, [&] { ran.push_back(102); });
    s.run(104, [&] {
        passingRoutine();
        ran.push_back(-1); // never reached: the failure ends the called routine
    });
    s.run(106, [&] { ran.push_back(106); });

    EXPECT_EQ(ran, (std::vector<int>{102, 106}));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.contains(
        QStringLiteral("Form1.PushButton13_Click at line 104\r\r")));
    EXPECT_TRUE(shell.messages[0].text.startsWith(QStringLiteral("File not found\r\n")));
}

TEST(ApplicationError, EveryFailingStatementGivesOneDialogAndOtherExceptionsAreDescribed) {
    ScriptedShell shell;
    Statements s(shell, QualifiedName("SaveList", "SaveListviewProperlySpaced"));
    for (int n = 0; n < 3; ++n)
        s.run(222, [] { throw std::runtime_error("disk full"); });
    ASSERT_EQ(shell.messages.size(), 3u);
    EXPECT_EQ(shell.messages[2].text, QStringLiteral("disk full\r\nin Quillmere2021/08/31.SaveList."
                                                     "SaveListviewProperlySpaced at line 222\r\r") +
                                          Support);
}

TEST(ApplicationError, InterceptedFailureIsNotReportedAndEndsTheRoutine) {
    ScriptedShell shell;
    Statements s(shell, QualifiedName("Form1", "PushButton13_Click"));
    int intercepted = 0;
    const bool ok = s.run(
        108, [] { throw Failure(QStringLiteral("buffer"), 20476); },
        [&](const Failure& f) {
            intercepted = f.number();
            return f.number() == 20476;
        });
    EXPECT_FALSE(ok);
    EXPECT_EQ(intercepted, 20476);
    EXPECT_TRUE(shell.messages.empty());
}

TEST(FailureModes, SilentStepsShowNothing) {
    ScriptedShell shell;
    int after = 0;
    Silently([] { throw Failure(QStringLiteral("ignored")); });
    // Running out of memory is no failure of the step: it goes on to the statement.
    EXPECT_THROW(Silently([] { throw std::bad_alloc(); }), std::bad_alloc);
    IgnoringFailures("test", [] { throw Failure(QStringLiteral("to stderr")); });
    ++after;
    EXPECT_EQ(after, 1);
    EXPECT_TRUE(shell.messages.empty());
}

TEST(PlainMessages, CarryTheApplicationTitleAndGiveTheAnswer) {
    ScriptedShell shell;
    EXPECT_EQ(MsgBox(shell, MessageId::FileNotFound), MsgAnswer::Ok);
    shell.answers = {MsgAnswer::Yes, MsgAnswer::No};
    EXPECT_EQ(MsgBox(shell, MessageId::OverwriteQuestion, QStringLiteral("a.txt")), MsgAnswer::Yes);
    EXPECT_EQ(MsgBox(shell, MessageId::OverwriteQuestion, QStringLiteral("a.txt")), MsgAnswer::No);
    ASSERT_EQ(shell.messages.size(), 3u);
    for (const auto& m : shell.messages)
        EXPECT_EQ(m.title, QStringLiteral("Orvelle"));
    EXPECT_EQ(shell.messages[0].style, 0);
    EXPECT_EQ(shell.messages[1].style, 4);
}

TEST(FileExists, AnswersForFilesAndFoldersAndNeverFails) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("list.txt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("missing.txt"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("no/such/folder/list.txt"))));
    // A NUL must not cut the path short and answer for the file before it.
    EXPECT_FALSE(FileExists(file + QChar(0) + QStringLiteral("x")));
}

TEST(Pacer, YieldsAtEveryStepWhenTheShellAsksAndOtherwiseByTime) {
    ScriptedShell everyStep;
    everyStep.everyStep = true;
    Pacer precise(everyStep, YieldPlace::Scan);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(precise.step());
    EXPECT_EQ(everyStep.yieldCounts[YieldPlace::Scan], 5);

    // Without it, a loop that works for a while yields now and then, never at
    // every step.
    ScriptedShell paced;
    Pacer pacer(paced, YieldPlace::Export);
    QElapsedTimer timer;
    timer.start();
    long steps = 0;
    while (timer.elapsed() < 50) {
        pacer.step();
        ++steps;
    }
    const int yields = paced.yieldCounts[YieldPlace::Export];
    EXPECT_GE(yields, 1);
    EXPECT_LT(yields, steps / 10);
}

} // namespace
