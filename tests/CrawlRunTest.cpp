// The start button's run over the URL list, page visits included, against a real
// server on 127.0.0.1 and real page files in a temporary TEMP.

#include "crawl/PageFile.h"
#include "tests/support/CrawlFixture.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawServer.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <sys/stat.h>

namespace {

using Requests = std::vector<std::string>;

int modeOf(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// A page whose links stand after some text, so that a stop early in the scan
// leaves them unseen.
std::string linksPage(std::initializer_list<const char*> links) {
    std::string body = "<html><body><p>" + std::string(64, '.') + "</p>";
    for (const char* link : links)
        body += std::string("<a href=\"") + link + "\">" + link + "</a>";
    return body + "</body></html>";
}

class CrawlRun : public CrawlFixture {
protected:
    CrawlRun() : CrawlFixture(5000) {}

    void list(std::initializer_list<const char*> paths) {
        for (const char* path : paths)
            form.ListView1.Add(server.url(path));
    }
    using Texts = std::vector<std::string>;
    Texts urls(std::initializer_list<const char*> paths) const {
        Texts all;
        for (const char* path : paths)
            all.push_back(server.url(path).toStdString());
        return all;
    }
    Texts results() const {
        Texts all;
        for (const QString& text : form.ListView2.Texts())
            all.push_back(text.toStdString());
        return all;
    }
    std::string lastRequest() const {
        const Requests all = server.requests();
        return all.empty() ? std::string() : all.back();
    }
};

TEST_F(CrawlRun, EmptyListSaysSoAndChangesNothing) {
    form.MouseMove(Form1::Control::PushButton7);
    press();
    EXPECT_EQ(shell.messageTexts(), std::vector<QString>{QStringLiteral("No URLs added.")});
    EXPECT_EQ(form.PushButton7Caption(), Form1::StartCaption);
    EXPECT_EQ(form.MousePointer(), Form1::PointerCustom);
    EXPECT_EQ(shell.totalYields(), 0);
}

// A listed address whose visit comes to nothing, followed by one that works: nothing
// is recorded for the first, no message is shown, and the run goes on. The table
// holds every kind of server that gives no page, hostile ones included; each gives
// up after the short time-outs set here (200 ms to connect, 200 ms of stall), and how
// long it took is written to the test's output. (A body that stalls half-way is
// the download's own test: URLMonTest.cpp.)
struct Unfruitful {
    const char* name;
    const char* failure; // the reason reported for the visit; empty: downloaded
};

void PrintTo(const Unfruitful& c, std::ostream* os) {
    *os << c.name;
}

class UnfruitfulVisit : public CrawlRun, public ::testing::WithParamInterface<Unfruitful> {};

// The start of a page whose body the servers below break off.
const std::string PartialPage = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                "Content-Length: 100000\r\n\r\n" +
                                linksPage({"partial.html"});

TEST_P(UnfruitfulVisit, RecordsNothingAndTheRunGoesOn) {
    const std::string name = GetParam().name;
    server.status("/NotFound", 404);
    server.server().Get("/ServerError", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content(linksPage({"error.html"}), "text/html");
    });
    server.redirect("/RedirectToFile", "file://" + QFile::encodeName(temp.path()).toStdString());
    server.redirect("/RedirectToPasswd", "file:///etc/passwd");
    server.redirect("/RedirectToFtp", "ftp://127.0.0.1/");
    server.redirect("/RedirectLoop", "/RedirectLoop");
    server.page("/EmptyBody", "");
    server.page("/next", "");
    server.start();
    form.harvestRun().Settings.download.connectTimeoutMs = 200;
    form.harvestRun().Settings.download.stallMs = 200;
    form.setCheck2(1);
    std::unique_ptr<RawServer> raw;
    const std::pair<const char*, RawServer::Behaviour> rawServers[] = {
        {"NeverAccepts", RawServer::Behaviour::NeverAccept},
        {"NeverAnswers", RawServer::Behaviour::NeverAnswer},
        {"ResetMidBody", RawServer::Behaviour::ResetMidBody},
        {"ClosedMidBody", RawServer::Behaviour::CloseMidBody},
        {"EndlessHeaders", RawServer::Behaviour::EndlessHeaders},
    };
    for (const auto& [rawName, behaviour] : rawServers) {
        if (name == rawName)
            raw = std::make_unique<RawServer>(behaviour, PartialPage);
    }
    if (raw) {
        form.ListView1.Add(raw->url("/"));
    } else if (name == "Refused") {
        LoopbackServer closed;
        closed.start();
        form.ListView1.Add(closed.url("/"));
    } else {
        list({("/" + name).c_str()});
    }
    list({"/next"});

    press();

    EXPECT_TRUE(results().empty());
    expectRunEnded();
    ASSERT_EQ(shell.visits.size(), 2u);
    EXPECT_TRUE(shell.visits[0].failure.contains(QLatin1String(GetParam().failure)))
        << shell.visits[0].failure.toStdString();
    EXPECT_EQ(shell.visits[0].failure.isEmpty(), !*GetParam().failure);
    EXPECT_EQ(lastRequest(), "/next");
    RecordProperty("msToGiveUp", std::to_string(shell.visits[0].durationMs));
    std::cout << "[ gave up  ] " << name << " after " << shell.visits[0].durationMs
              << " ms: " << shell.visits[0].failure.toStdString() << std::endl;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnfruitfulVisit,
    ::testing::Values(Unfruitful{"Refused", "onnect"}, Unfruitful{"NeverAccepts", "Timeout"},
                      Unfruitful{"NeverAnswers", "too slow"}, Unfruitful{"ResetMidBody", "reset"},
                      Unfruitful{"ClosedMidBody", "closed"}, Unfruitful{"EndlessHeaders", "header"},
                      Unfruitful{"NotFound", "HTTP 404"}, Unfruitful{"ServerError", "HTTP 500"},
                      Unfruitful{"RedirectLoop", "redirects"}, Unfruitful{"RedirectToFile", "file"},
                      Unfruitful{"RedirectToPasswd", "file"}, Unfruitful{"RedirectToFtp", "ftp"},
                      Unfruitful{"EmptyBody", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CrawlRun, ResultsAccumulateAndALinkIsListedUnderEachListedAddress) {
    server.page("/a", linksPage({"x.html", "shared.html", "x.html"}));
    server.page("/b", linksPage({"shared.html", "y.html"}));
    server.start();
    list({"/a", "/b"});
    press();
    press();
    const Texts once = urls({"/x.html", "/shared.html", "/shared.html", "/y.html"});
    Texts twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(results(), twice);
    expectRunEnded({QStringLiteral("Done."), QStringLiteral("Done.")});
}

TEST_F(CrawlRun, ExtractForeverVisitsEachQueuedLinkOnceNewestFirst) {
    server.page("/", linksPage({"1.html", "2.html", "3.html"}));
    server.page("/3.html", linksPage({"3a.html", "1.html"}));
    for (const char* path : {"/1.html", "/2.html", "/3a.html"})
        server.page(path, linksPage({"3.html"}));
    server.start();
    list({"/"});
    form.setCheck2(1);
    bool hourglassThroughout = true;
    shell.onEvery(YieldPlace::Download,
                  [&] { hourglassThroughout &= form.IsBusy() && form.RunFlag(); });
    shell.everyStep = true;
    press();
    EXPECT_EQ(server.requests(), (Requests{"/", "/3.html", "/3a.html", "/2.html", "/1.html"}));
    EXPECT_EQ(results(), urls({"/1.html", "/2.html", "/3.html", "/3a.html"}));
    EXPECT_TRUE(hourglassThroughout);
    expectRunEnded();
}

// Stop pressed while the second of three listed addresses is visited: the third is
// never asked for, and "Done." ends the run.
struct StopPoint {
    const char* name;
    YieldPlace place;
    bool secondRecorded; // whether the second page's link made it in before the stop
};

void PrintTo(const StopPoint& c, std::ostream* os) {
    *os << c.name;
}

class StopDuringSecondAddress : public CrawlRun, public ::testing::WithParamInterface<StopPoint> {};

TEST_P(StopDuringSecondAddress, EndsTheRunWithoutTheThird) {
    server.page("/one", linksPage({"one.html"}));
    // Slow enough for the download to yield after the server has seen the request.
    server.drip("/two", linksPage({"two.html"}), std::chrono::milliseconds(2));
    server.page("/three", linksPage({"three.html"}));
    server.start();
    list({"/one", "/two", "/three"});
    shell.everyStep = true;
    bool pressed = false;
    shell.onEvery(GetParam().place, [&] {
        if (!pressed && lastRequest() == "/two") {
            pressed = true;
            press();
        }
    });
    press();
    EXPECT_TRUE(pressed);
    EXPECT_EQ(server.requests(), (Requests{"/one", "/two"}));
    Texts expected = urls({"/one.html"});
    if (GetParam().secondRecorded)
        expected.push_back(server.url("/two.html").toStdString());
    EXPECT_EQ(results(), expected);
    expectRunEnded();
}

INSTANTIATE_TEST_SUITE_P(Places, StopDuringSecondAddress,
                         ::testing::Values(StopPoint{"Download", YieldPlace::Download, false},
                                           StopPoint{"Scan", YieldPlace::Scan, false},
                                           StopPoint{"Delete", YieldPlace::Delete, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CrawlRun, StopDuringAForeverStepEndsTheRun) {
    server.page("/", linksPage({"a.html", "b.html"}));
    server.page("/b.html", linksPage({"c.html"}));
    server.page("/other", linksPage({"d.html"}));
    server.start();
    list({"/", "/other"});
    form.setCheck2(1);
    shell.everyStep = true;
    shell.onEvery(YieldPlace::Scan, [&] {
        if (form.RunFlag() && lastRequest() == "/b.html")
            press();
    });
    press();
    EXPECT_EQ(server.requests(), (Requests{"/", "/b.html"}));
    EXPECT_EQ(results(), urls({"/a.html", "/b.html"}));
    expectRunEnded();
}

// A server that drips its page a byte at a time, with no stall time-out near: the
// window keeps getting its turns while the download waits, and Stop, pressed in
// one of them, ends the visit and the run at once. The transfer is abandoned (the
// download yields no more, and little of the page was sent), the next listed
// address is never asked for, and the run ends stopped, with no failure counted.
TEST_F(CrawlRun, StopDuringADrippingDownloadEndsTheVisitAndTheRunAtOnce) {
    server.drip("/drip", linksPage({"late.html"}), std::chrono::milliseconds(50));
    server.page("/after", linksPage({"after.html"}));
    server.start();
    list({"/drip", "/after"});
    constexpr int StopAt = 20; // about 0.2 s: the scripted shell waits 10 ms at most
    QElapsedTimer clock;
    qint64 lastYieldNs = -1, longestGapNs = 0, stopPressedNs = -1;
    shell.onEvery(YieldPlace::Download, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastYieldNs >= 0)
            longestGapNs = std::max(longestGapNs, now - lastYieldNs);
        lastYieldNs = now;
    });
    shell.at(YieldPlace::Download, StopAt, [&] {
        stopPressedNs = clock.nsecsElapsed();
        press();
    });
    clock.start();
    press();
    const qint64 endedNs = clock.nsecsElapsed();

    EXPECT_EQ(shell.yieldCounts[YieldPlace::Download], StopAt);
    EXPECT_LT(server.dripped(), 20u);
    EXPECT_EQ(server.requests(), (Requests{"/drip"}));
    ASSERT_EQ(shell.visits.size(), 1u);
    EXPECT_EQ(shell.visits[0].failure, QStringLiteral("stopped"));
    EXPECT_TRUE(results().empty());
    const RunTally& tally = form.Tally();
    // Visited, not downloaded, and no failure.
    EXPECT_EQ(tally.visits(), 1);
    EXPECT_EQ(tally.pages(), 0);
    EXPECT_EQ(tally.failed(), 0);
    EXPECT_TRUE(tally.stopped());
    EXPECT_TRUE(
        tally.text().startsWith(QStringLiteral("Stopped after 0 pages: 0 results, 0 failed, in ")))
        << tally.text().toStdString();
    expectRunEnded();
    std::cout << "[ figure   ] ms from Stop to the end of the run: "
              << (endedNs - stopPressedNs) / 1'000'000
              << "\n[ figure   ] longest ms between two turns of the window: "
              << longestGapNs / 1'000'000 << std::endl;
}

TEST_F(CrawlRun, SecondStartWhileAStoppedRunWindsDownIsIgnored) {
    server.page("/one", linksPage({"one.html"}));
    server.page("/two", linksPage({"two.html"}));
    server.start();
    list({"/one", "/two"});
    form.setCheck2(1);
    shell.at(YieldPlace::Delete, 1, [&] {
        press(); // Stop
        ASSERT_EQ(form.PushButton7Caption(), Form1::StartCaption);
        press(); // Start again, while the first run is still on the stack
    });
    press();
    EXPECT_EQ(server.requests(), (Requests{"/one"}));
    expectRunEnded();
}

TEST_F(CrawlRun, ListEditedDuringTheRunChangesNothingInIt) {
    for (const char* path : {"/one", "/two", "/three", "/four"})
        server.page(path, "");
    server.start();
    list({"/one", "/two", "/three"});
    shell.at(YieldPlace::Delete, 1, [&] {
        form.ListView1.Remove(1);
        form.ListView1.Remove(1);
        form.ListView1.Add(server.url("/four"));
    });
    press();
    EXPECT_EQ(server.requests(), (Requests{"/one", "/two", "/three"}));
    expectRunEnded();
}

TEST_F(CrawlRun, RedirectIsFollowedAndLinksResolveAgainstTheFinalAddress) {
    server.redirect("/old", "/dir/page.html");
    server.page("/dir/page.html", linksPage({"next.html"}));
    server.redirect("/folder", "/folder/", 301);
    server.page("/folder/", linksPage({"inside.html"}));
    server.start();
    list({"/old", "/folder"});
    press();
    EXPECT_EQ(results(), urls({"/dir/next.html", "/folder/inside.html"}));
    expectRunEnded();
}

TEST_F(CrawlRun, PageFileIsPrivateAndGoneAfterEachVisit) {
    server.page("/", linksPage({"a.html"}));
    server.page("/a.html", "a large page");
    server.start();
    list({"/"});
    form.setCheck2(1);
    form.harvestRun().Settings.download.memoryPageBytes = 4;
    int checked = 0;
    shell.onEvery(YieldPlace::Delete, [&] {
        EXPECT_EQ(QFileInfo(PageFolder()).path(), temp.path());
        EXPECT_EQ(modeOf(PageFolder()), 0700);
        // Unlinked as soon as it was open.
        EXPECT_TRUE(QDir(PageFolder()).isEmpty());
        ++checked;
    });
    press();
    EXPECT_EQ(checked, 2);
    expectRunEnded();
}

TEST_F(CrawlRun, LinkPlantedAtThePageFilePathIsNeverFollowed) {
    server.page("/", linksPage({"real.html"}));
    server.start();
    const QString target = temp.path() + QStringLiteral("/precious.html");
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<a href=\"planted.html\">");
    }
    ASSERT_TRUE(QFile::link(target, PageFilePath(1)));
    form.harvestRun().Settings.download.memoryPageBytes = 4;
    list({"/"});
    press();
    EXPECT_EQ(results(), urls({"/real.html"}));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("<a href=\"planted.html\">"));
    expectRunEnded();
}

// A page file that cannot be made is a failure of the visit, reported under the
// statement that made the visit; the run goes on.
TEST_F(CrawlRun, PageFileThatCannotBeMadeIsReportedAt120And126) {
    server.page("/", linksPage({"a.html"}));
    server.page("/a.html", "a large page");
    server.page("/next", "a large page");
    server.start();
    list({"/", "/next"});
    form.setCheck2(1);
    form.harvestRun().Settings.download.memoryPageBytes = 4;
    const QByteArray missing = QFile::encodeName(temp.path()) + "/missing";
    // The listed address's visit works; then the page folder cannot be made again.
    shell.at(YieldPlace::Delete, 1, [&] {
        qputenv("TEMP", missing);
        RemovePageFolder();
    });
    press();
    const std::vector<QString> messages = shell.messageTexts();
    ASSERT_EQ(messages.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(messages[i].contains(QLatin1String("Cannot make a private folder")));
        EXPECT_TRUE(messages[i].contains(QStringLiteral("PushButton7_Click at line ") +
                                         QLatin1String(i == 0 ? "126" : "120")))
            << messages[i].toStdString();
    }
    EXPECT_EQ(messages[2], QStringLiteral("Done."));
    EXPECT_EQ(server.requests(), (Requests{"/", "/a.html", "/next"}));
    EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
}

} // namespace
