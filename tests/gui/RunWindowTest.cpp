#include "tests/gui/ChildPrograms.h"
#include "tests/gui/WaitUntil.h"
#include "tests/gui/WindowFixture.h"
#include "tests/support/LoopbackServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

// The run itself is built beside the harvester; until it is, these tests have
// nothing to drive. Its first statement answers an empty URL list with a message.
bool CrawlRunBuilt() {
    ScriptedShell shell;
    Form1 form(shell);
    form.PushButton7_Click();
    return !shell.messages.empty();
}

#define REQUIRE_CRAWL_RUN()                                                                        \
    if (!CrawlRunBuilt())                                                                          \
    GTEST_SKIP() << "PushButton7_Click is still a stub on this branch"

std::string links(const std::vector<std::string>& targets) {
    std::string body = "<html><body>";
    for (const std::string& target : targets)
        body += "<a href=\"" + target + "\">" + target + "</a>\n";
    return body + "<img src=\"picture.png\"></body></html>";
}

// Nothing listens on port 1 of 127.0.0.1: a connection there is refused at once.
const QString Refused = QStringLiteral("http://127.0.0.1:1/");

// A site without end: /p/N links to /p/2N+1 and /p/2N+2.
void ServeEndlessTree(LoopbackServer& server) {
    server.server().Get(
        R"(/p/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
            const long n = std::stol(request.matches[1]);
            response.set_content(
                links({"/p/" + std::to_string(2 * n + 1), "/p/" + std::to_string(2 * n + 2)}),
                "text/html");
        });
}

class RunWindowTest : public WindowFixture {
protected:
    void SetUp() override {
        REQUIRE_CRAWL_RUN();
        WindowFixture::SetUp();
        // Every step of the run yields, and every yield is a turn of the event
        // loop, as in the window: it repaints, and clicks and moves land there.
        shell.everyStep = true;
        for (YieldPlace place : {YieldPlace::Run, YieldPlace::Download, YieldPlace::Scan,
                                 YieldPlace::Value, YieldPlace::Delete})
            shell.onEvery(place, [] { QCoreApplication::processEvents(); });
    }

    // Runs action once, at the first scan yield at which when() holds.
    void onceWhileScanning(std::function<bool()> when, std::function<void()> action) {
        auto done = std::make_shared<bool>(false);
        shell.onEvery(YieldPlace::Scan, [=] {
            if (!*done && when()) {
                *done = true;
                action();
            }
        });
    }

    bool saidDone() const {
        const auto texts = shell.messageTexts();
        return std::find(texts.begin(), texts.end(), QStringLiteral("Done.")) != texts.end();
    }

    QString url(const std::string& path) const { return server.url(path); }

    QString statusText() const { return view->statusLine()->text(); }
    QString statusToolTip() const { return view->statusLine()->toolTip(); }

    // Runs action once, at the first yield of place at which when() holds.
    void onceAt(YieldPlace place, std::function<bool()> when, std::function<void()> action) {
        auto done = std::make_shared<bool>(false);
        shell.onEvery(place, [=] {
            if (!*done && when()) {
                *done = true;
                action();
            }
        });
    }

    LoopbackServer server;
};

TEST_F(RunWindowTest, ClickingStartFillsTheResultsAndSaysDone) {
    server.page("/index.html", links({"/one.html", "two.html", "http://other.example/three"}));
    server.start();
    start();
    form->ListView1.Add(url("/index.html"));

    QString captionDuringRun;
    Qt::CursorShape cursorDuringRun = Qt::ArrowCursor;
    onceWhileScanning([] { return true; },
                      [&] {
                          captionDuringRun = button("PushButton7")->text();
                          cursorDuringRun = cursorShape();
                      });
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return saidDone(); }));

    EXPECT_EQ(captionDuringRun, QStringLiteral("Stop"));
    EXPECT_EQ(cursorDuringRun, Qt::WaitCursor);
    EXPECT_EQ(form->ListView2.Texts(),
              (QStringList{url("/one.html"), url("/two.html"), "http://other.example/three"}));
    EXPECT_TRUE(WaitUntil([&] { return view->listView2()->model()->rowCount() == 3; }));
    EXPECT_EQ(shell.messages.back().title, QStringLiteral("Orvelle"));
    EXPECT_EQ(button("PushButton7")->text(), QStringLiteral("Start Finding Links Within URL"));
    EXPECT_EQ(cursorShape(), Qt::ArrowCursor);
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/index.html"}));
}

TEST_F(RunWindowTest, StopDuringARunEndsItAndKeepsWhatWasFound) {
    server.page("/a.html", links({"/a1", "/a2", "/a3"}));
    server.page("/b.html", links({"/b1", "/b2", "/b3", "/b4", "/b5", "/b6"}));
    server.page("/c.html", links({"/c1"}));
    server.start();
    start();
    // One page at a time: nothing is fetched ahead of the visits.
    form->harvestRun().Settings.download.parallel = 1;
    for (const char* path : {"/a.html", "/b.html", "/c.html"})
        form->ListView1.Add(url(path));

    // Stop, pressed while the second page is being scanned.
    onceWhileScanning([&] { return server.requests().size() == 2; },
                      [&] { QTest::mouseClick(button("PushButton7"), Qt::LeftButton); });
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return saidDone(); }));

    const QStringList found = form->ListView2.Texts();
    EXPECT_TRUE(found.contains(url("/a3")));
    EXPECT_FALSE(found.contains(url("/b6")));
    EXPECT_FALSE(found.contains(url("/c1")));
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/a.html", "/b.html"}));
    EXPECT_EQ(button("PushButton7")->text(), QStringLiteral("Start Finding Links Within URL"));
    EXPECT_EQ(cursorShape(), Qt::ArrowCursor);
}

TEST_F(RunWindowTest, DuringARunTheHourglassSurvivesClearListAndTheStartButtonShowsTheHand) {
    server.page("/index.html", links({"/one", "/two"}));
    server.start();
    start();
    form->ListView1.Add(url("/index.html"));

    Qt::CursorShape overClearList = Qt::ArrowCursor, overStart = Qt::ArrowCursor,
                    overWindow = Qt::WaitCursor;
    int urlsAfterClearList = -1;
    onceWhileScanning([] { return true; },
                      [&] {
                          moveMouseTo(button("PushButton11"));
                          overClearList = cursorShape();
                          // Busy: Clear List leaves the URL list alone.
                          QTest::mouseClick(button("PushButton11"), Qt::LeftButton);
                          urlsAfterClearList = form->ListView1.Count();
                          moveMouseTo(button("PushButton7"));
                          overStart = cursorShape();
                          moveMouseTo(view.get(), QPoint(4, 4));
                          overWindow = cursorShape();
                      });
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return saidDone(); }));

    EXPECT_EQ(overClearList, Qt::WaitCursor);
    EXPECT_EQ(urlsAfterClearList, 1);
    EXPECT_EQ(overStart, Qt::PointingHandCursor);
    EXPECT_EQ(overWindow, Qt::ArrowCursor);
}

TEST_F(RunWindowTest, ClosingDuringARunAsksTheShellToEndTheProgram) {
    server.page("/index.html", links({"/one", "/two"}));
    server.start();
    start();
    form->ListView1.Add(url("/index.html"));
    bool endedBeforeClose = true;
    onceWhileScanning([] { return true; },
                      [&] {
                          endedBeforeClose = shell.programEnded;
                          view->close();
                      });
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return shell.programEnded; }));
    EXPECT_FALSE(endedBeforeClose);
}

// The status line during a run and at its end: one good page, one 404 and one
// refused port. Clear Results during the run leaves the run's count alone.
TEST_F(RunWindowTest, TheStatusLineCountsPagesResultsAndFailures) {
    server.page("/good.html", links({"/one", "/two", "/three"}));
    // Slow enough for the window to be seen while it is fetched.
    server.server().Get("/missing.html", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        res.status = 404;
    });
    server.start();
    start();
    // In the order of the list, one page at a time.
    form->harvestRun().Settings.download.parallel = 1;
    form->ListView1.Add(url("/good.html"));
    form->ListView1.Add(url("/missing.html"));
    form->ListView1.Add(Refused);
    EXPECT_EQ(statusText(), QString());

    // After the first visit, while the second page is being fetched: the page
    // under way is not counted yet.
    const QString during = QStringLiteral("Fetching ") + url("/missing.html") +
                           QStringLiteral(" \u2014 1 page, 3 results, 0 failed");
    bool reached = false;
    QString tallyDuring, shownDuring;
    onceAt(
        YieldPlace::Download,
        [&] { return shell.visits.size() == 2 && shell.visits[0].ended && !shell.visits[1].ended; },
        [&] {
            reached = true;
            tallyDuring = form->Tally().text();
            QTest::mouseClick(button("PushButton9"), Qt::LeftButton);
            // The window redraws it within a tenth of a second or so.
            WaitUntil([&] { return statusText() == during; }, 2000);
            shownDuring = statusText();
        });
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return saidDone(); }, 30000));

    ASSERT_TRUE(reached);
    EXPECT_EQ(tallyDuring, during);
    EXPECT_EQ(shownDuring, during);
    EXPECT_EQ(form->ListView2.Count(), 0);
    const QString finished = statusText();
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^Finished: 1 page, 3 results, 2 failed, in \\d+\\.\\d s$"))
                    .match(finished)
                    .hasMatch())
        << finished.toStdString();
    const QStringList failures = statusToolTip().split(QLatin1Char('\n'));
    ASSERT_EQ(failures.size(), 2) << statusToolTip().toStdString();
    EXPECT_EQ(failures[0], url("/missing.html") + QStringLiteral(": HTTP 404"));
    EXPECT_TRUE(failures[1].startsWith(Refused + QStringLiteral(": Failed to connect")))
        << failures[1].toStdString();
    // The same reasons as the run reported.
    EXPECT_EQ(failures[1], Refused + QStringLiteral(": ") + shell.visits[2].failure);
    // "Done." keeps its text; the status line carries the totals.
    EXPECT_EQ(shell.messageTexts(), std::vector<QString>{QStringLiteral("Done.")});
}

TEST_F(RunWindowTest, ARunWhereEveryAddressFailsSaysNoPageCouldBeDownloaded) {
    server.status("/missing.html", 404);
    server.start();
    start();
    form->harvestRun().Settings.download.parallel = 1;
    form->ListView1.Add(Refused);
    form->ListView1.Add(QStringLiteral("   "));
    form->ListView1.Add(url("/missing.html"));
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return saidDone(); }, 30000));

    // The blank address is no visit.
    const QString lastFailure = url("/missing.html") + QStringLiteral(": HTTP 404)");
    EXPECT_EQ(form->Tally().text(),
              QStringLiteral("No page could be downloaded: 2 failed (last: ") + lastFailure);
    EXPECT_EQ(statusToolTip().count(QLatin1Char('\n')), 1);
    // Too long for the label at the window's first size: the address gives way in
    // its middle, the rest is shown whole. A larger window shows it all.
    QLabel* label = view->statusLine();
    const QString shown = statusText();
    EXPECT_TRUE(
        shown.startsWith(QStringLiteral("No page could be downloaded: 2 failed (last: http")))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("\u2026")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/missing.html: HTTP 404)"))) << shown.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->contentsRect().width());
    view->resize(view->size() + QSize(400, 0));
    EXPECT_TRUE(WaitUntil([&] { return statusText() == form->Tally().text(); }));

    // Clear List empties the status line once no run is going on.
    QTest::mouseClick(button("PushButton11"), Qt::LeftButton);
    EXPECT_EQ(statusText(), QString());
    EXPECT_EQ(statusToolTip(), QString());

    // A start with no address leaves the status line empty again.
    form->ListView1.Clear();
    shell.messages.clear();
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    EXPECT_EQ(shell.messageTexts(), std::vector<QString>{QStringLiteral("No URLs added.")});
    EXPECT_EQ(statusText(), QString());
    EXPECT_EQ(statusToolTip(), QString());
}

TEST_F(RunWindowTest, AStoppedExtractForeverRunSaysStoppedAfter) {
    ServeEndlessTree(server);
    server.start();
    start();
    form->setCheck2(1);
    form->ListView1.Add(url("/p/0"));
    onceWhileScanning([&] { return shell.visits.size() >= 4; },
                      [&] { QTest::mouseClick(button("PushButton7"), Qt::LeftButton); });
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return saidDone(); }, 30000));

    const QRegularExpressionMatch match =
        QRegularExpression(
            QStringLiteral(
                "^Stopped after (\\d+) pages: (\\d+) results, 0 failed, in \\d+\\.\\d s$"))
            .match(statusText());
    ASSERT_TRUE(match.hasMatch()) << statusText().toStdString();
    // The visit that Stop abandoned downloaded no page.
    const auto downloaded =
        std::count_if(shell.visits.begin(), shell.visits.end(),
                      [](const ScriptedShell::Visit& v) { return v.ended && v.failure.isEmpty(); });
    EXPECT_EQ(match.captured(1).toInt(), static_cast<int>(downloaded));
    EXPECT_EQ(match.captured(2).toInt(), form->ListView2.Count());
    EXPECT_EQ(statusToolTip(), QString());
    // Clear Results empties it too.
    QTest::mouseClick(button("PushButton9"), Qt::LeftButton);
    EXPECT_EQ(statusText(), QString());
}

// --- What a crawl keeps to: the frame's second row ---------------------------

class KeptCrawlTest : public RunWindowTest {
protected:
    // Ticks "Extract forever" and the given check box in the window, and runs.
    void crawlWith(const char* checkBox) {
        QTest::mouseClick(control("Check2"), Qt::LeftButton);
        if (checkBox)
            QTest::mouseClick(control(checkBox), Qt::LeftButton);
        QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return saidDone(); }, 30000));
    }
    static std::set<std::string> asSet(const std::vector<std::string>& paths) {
        return {paths.begin(), paths.end()};
    }
};

// The other site is 127.0.0.2: its link is listed, its page never asked for.
TEST_F(KeptCrawlTest, StayOnTheSameSiteLeavesAnotherHostAlone) {
    LoopbackServer other;
    other.page("/elsewhere.html", links({"/further.html"}));
    other.start("127.0.0.2");
    server.page("/index.html", links({"/own.html", other.url("/elsewhere.html").toStdString()}));
    server.page("/own.html", links({}));
    server.start();
    start();
    form->ListView1.Add(url("/index.html"));
    crawlWith("Check3");

    EXPECT_TRUE(other.requests().empty());
    EXPECT_EQ(asSet(server.requests()), (std::set<std::string>{"/index.html", "/own.html"}));
    EXPECT_TRUE(form->ListView2.Texts().contains(other.url("/elsewhere.html")));
    // The run's choices last for the run: the scope is as it was before.
    EXPECT_EQ(form->harvestRun().Settings.scope.hosts, CrawlScope::Hosts::Any);
}

// robots.txt keeps out a followed page and a listed one alike; neither is asked
// for, not even ahead of its visit.
TEST_F(KeptCrawlTest, ObeyRobotsTxtForTheListedAddressesAndEveryPageFollowed) {
    server.page("/robots.txt", "User-agent: *\nDisallow: /private/\n");
    server.page("/index.html", links({"/private/followed.html", "/public.html"}));
    server.page("/public.html", links({}));
    server.page("/private/listed.html", links({"/public.html"}));
    server.start();
    start();
    form->ListView1.Add(url("/index.html"));
    form->ListView1.Add(url("/private/listed.html"));
    crawlWith("Check4");

    const std::vector<std::string> requests = server.requests();
    EXPECT_EQ(asSet(requests),
              (std::set<std::string>{"/robots.txt", "/index.html", "/public.html"}));
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/robots.txt"), 1);
    EXPECT_TRUE(form->ListView2.Texts().contains(url("/private/followed.html")));
    // The listed page kept out says why; a followed one is no visit at all.
    EXPECT_EQ(form->Tally().failed(), 1);
    EXPECT_TRUE(form->Tally().failureList().contains(QStringLiteral("robots.txt disallows it")));
}

// A depth of 1: the listed page and the pages it links to, whose links are listed
// but not followed.
TEST_F(KeptCrawlTest, ADepthOfOneFollowsOneStep) {
    ServeEndlessTree(server);
    server.start();
    start();
    form->ListView1.Add(url("/p/0"));
    auto* depth = qobject_cast<QSpinBox*>(control("Depth1"));
    depth->setValue(1);
    crawlWith(nullptr);

    EXPECT_EQ(asSet(server.requests()), (std::set<std::string>{"/p/0", "/p/1", "/p/2"}));
    EXPECT_EQ(form->ListView2.Texts(), (QStringList{url("/p/1"), url("/p/2"), url("/p/5"),
                                                    url("/p/6"), url("/p/3"), url("/p/4")}));
}

// During a run the status line is redrawn a few times a second, not at every link.
TEST_F(RunWindowTest, TheStatusLineIsRedrawnAtMostTenTimesASecond) {
    std::vector<std::string> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back("/link" + std::to_string(i));
    server.page("/many.html", links(many));
    server.start();
    start();
    form->ListView1.Add(url("/many.html"));
    QElapsedTimer clock;
    int changes = 0;
    QString last = statusText();
    shell.onEvery(YieldPlace::Scan, [&] {
        if (statusText() != last) {
            last = statusText();
            ++changes;
        }
    });
    clock.start();
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return saidDone(); }, 30000));
    const qint64 elapsedMs = clock.elapsed();

    EXPECT_GE(shell.yieldCounts[YieldPlace::Scan], 2000);
    // A timer may fire up to 5 % early.
    EXPECT_LE(changes, elapsedMs * 105 / (100 * Form1View::StatusRefreshMs) + 2)
        << changes << " changes in " << elapsedMs << " ms";
    EXPECT_TRUE(
        statusText().startsWith(QStringLiteral("Finished: 1 page, 2,000 results, 0 failed, in ")))
        << statusText().toStdString();
}

// The real window with the real shell, in a process of its own: an "Extract
// forever" run over a site without end, and the window closed while it runs, by
// its close button or by a signal that asks a program to end (a signal arrives
// during the download of a large page, with the page file open).
class RunShutdown : public ::testing::TestWithParam<int> {};

TEST_P(RunShutdown, ClosingDuringARunEndsTheProgramAndNoFurtherPageIsFetched) {
    REQUIRE_CRAWL_RUN();
    const int signal = GetParam();
    LoopbackServer server;
    ServeEndlessTree(server);
    server.hang("/large", 12 << 20);
    server.start();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString temp = dir.filePath(QStringLiteral("temp"));
    ASSERT_TRUE(QDir().mkpath(temp));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temp);
    environment.insert(QStringLiteral("TEMP"), temp);
    // Qt's own runtime folder stays out of the folder under watch.
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    const QString marker = dir.filePath(QStringLiteral("cleaned"));

    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (signal == 0) {
        child.start(QCoreApplication::applicationFilePath(),
                    {QLatin1String(CloseDuringRun), marker, server.url("/p/0")});
    } else {
        child.start(QCoreApplication::applicationFilePath(),
                    {QLatin1String(RunUntilSignal), marker, server.url("/large")});
        // The page folder appears when the page outgrows memory.
        ASSERT_TRUE(WaitUntil([&] { return !QDir(temp).isEmpty(); }, 20000))
            << "no page file was made";
        ::kill(static_cast<pid_t>(child.processId()), signal);
    }
    ASSERT_TRUE(child.waitForFinished(20000)) << "the program kept running after its window closed";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_TRUE(QFile::exists(marker)) << "the clean-up did not run";

    const size_t fetched = server.requests().size();
    EXPECT_GE(fetched, 1u);
    QTest::qWait(300);
    EXPECT_EQ(server.requests().size(), fetched);
    // The private page folder went with the program.
    EXPECT_TRUE(QDir(temp).isEmpty())
        << QDir(temp).entryList().join(QLatin1Char(' ')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Ways, RunShutdown, ::testing::Values(0, SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             switch (info.param) {
                             case SIGINT:
                                 return std::string("Sigint");
                             case SIGTERM:
                                 return std::string("Sigterm");
                             case SIGHUP:
                                 return std::string("Sighup");
                             default:
                                 return std::string("CloseButton");
                             }
                         });

} // namespace
