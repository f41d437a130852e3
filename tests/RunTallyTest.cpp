// The run's own tally and the status texts made from it: the formatting alone,
// then what a real run counts (against a server on 127.0.0.1).

#include "crawl/RunTally.h"

#include "base/Shell.h"
#include "tests/support/CrawlFixture.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringList>
#include <gtest/gtest.h>
#include <limits>

namespace {

VisitEnd ended(const QString& address, VisitEnd::Outcome outcome, const QString& failure = {}) {
    VisitEnd end;
    end.address = address;
    end.outcome = outcome;
    end.failure = failure;
    return end;
}

void visit(RunTally& tally, const QString& address,
           VisitEnd::Outcome outcome = VisitEnd::Outcome::Downloaded, const QString& failure = {}) {
    tally.visitStarted(address);
    tally.visitEnded(ended(address, outcome, failure));
}

QString withoutTime(const QString& text) {
    const qsizetype in = text.lastIndexOf(QStringLiteral(", in "));
    return in < 0 ? text : text.left(in);
}

TEST(RunTallyText, NumbersHaveACommaBetweenThousands) {
    EXPECT_EQ(RunTally::number(0), QStringLiteral("0"));
    EXPECT_EQ(RunTally::number(999), QStringLiteral("999"));
    EXPECT_EQ(RunTally::number(1000), QStringLiteral("1,000"));
    EXPECT_EQ(RunTally::number(1234), QStringLiteral("1,234"));
    EXPECT_EQ(RunTally::number(100000), QStringLiteral("100,000"));
    EXPECT_EQ(RunTally::number(1234567), QStringLiteral("1,234,567"));
    EXPECT_EQ(RunTally::number(-1234), QStringLiteral("-1,234"));
    EXPECT_EQ(RunTally::number(std::numeric_limits<qint64>::min()),
              QStringLiteral("-9,223,372,036,854,775,808"));
}

TEST(RunTallyText, SecondsHaveOneDecimal) {
    EXPECT_EQ(RunTally::seconds(0), QStringLiteral("0.0"));
    EXPECT_EQ(RunTally::seconds(49), QStringLiteral("0.0"));
    EXPECT_EQ(RunTally::seconds(50), QStringLiteral("0.1"));
    EXPECT_EQ(RunTally::seconds(1234), QStringLiteral("1.2"));
    EXPECT_EQ(RunTally::seconds(59960), QStringLiteral("60.0"));
    EXPECT_EQ(RunTally::seconds(1234567), QStringLiteral("1,234.6"));
}

TEST(RunTallyText, LongAddressesAreCutAtTwoHundredCharacters) {
    const QString exact = QStringLiteral("http://a.example/") + QString(183, QLatin1Char('x'));
    ASSERT_EQ(exact.size(), 200);
    EXPECT_EQ(RunTally::shortAddress(exact), exact);
    const QString longer = exact + QStringLiteral("yz");
    EXPECT_EQ(RunTally::shortAddress(longer), exact + QStringLiteral("\u2026"));
    // Half a character is never shown.
    QString astral =
        QString(199, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F600") + QStringLiteral("b");
    EXPECT_EQ(RunTally::shortAddress(astral),
              QString(199, QLatin1Char('a')) + QStringLiteral("\u2026"));
}

TEST(RunTallyText, DuringARunItNamesTheAddressAndTheCounts) {
    RunTally tally;
    tally.start();
    EXPECT_TRUE(tally.running());
    EXPECT_EQ(tally.text(), QStringLiteral("Fetching \u2014 0 pages, 0 results, 0 failed"));
    visit(tally, QStringLiteral("http://a.example/"));
    tally.resultListed();
    tally.visitStarted(QStringLiteral("http://b.example/"));
    EXPECT_EQ(tally.text(), QStringLiteral("Fetching http://b.example/ \u2014 2 pages, 1 result, "
                                           "0 failed"));
    tally.visitEnded(ended(QStringLiteral("http://b.example/"), VisitEnd::Outcome::Failed,
                           QStringLiteral("HTTP 404")));
    for (int i = 0; i < 1233; ++i)
        tally.resultListed();
    EXPECT_EQ(tally.text(), QStringLiteral("Fetching http://b.example/ \u2014 2 pages, 1,234 "
                                           "results, 1 failed"));
    const QString longAddress = QStringLiteral("http://c.example/") + QString(300, u'p');
    tally.visitStarted(longAddress);
    EXPECT_EQ(tally.text(), QStringLiteral("Fetching ") + RunTally::shortAddress(longAddress) +
                                QStringLiteral(" \u2014 3 pages, 1,234 results, 1 failed"));
}

TEST(RunTallyText, AtTheEndTheTotals) {
    RunTally tally;
    tally.start();
    visit(tally, QStringLiteral("http://a.example/"));
    tally.resultListed();
    tally.resultListed();
    visit(tally, QStringLiteral("http://b.example/"), VisitEnd::Outcome::Failed,
          QStringLiteral("HTTP 404"));
    tally.finish(false);
    EXPECT_EQ(tally.state(), RunTally::State::Ended);
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^Finished: 2 pages, 2 results, 1 failed, in \\d+\\.\\d s$"))
                    .match(tally.text())
                    .hasMatch())
        << tally.text().toStdString();
    // The elapsed time no longer moves.
    const qint64 elapsed = tally.elapsedMs();
    EXPECT_EQ(tally.elapsedMs(), elapsed);
}

TEST(RunTallyText, AStoppedRunSaysSoFirst) {
    RunTally tally;
    tally.start();
    visit(tally, QStringLiteral("http://a.example/"), VisitEnd::Outcome::Failed,
          QStringLiteral("Timeout was reached"));
    tally.finish(true);
    EXPECT_TRUE(tally.stopped());
    EXPECT_EQ(withoutTime(tally.text()),
              QStringLiteral("Stopped after 1 page: 0 results, 1 failed"));
    EXPECT_TRUE(tally.text().endsWith(QStringLiteral(" s")));
}

TEST(RunTallyText, WhenEveryVisitFailedItNamesTheLastFailure) {
    RunTally tally;
    tally.start();
    visit(tally, QStringLiteral("http://a.example/"), VisitEnd::Outcome::Failed,
          QStringLiteral("Could not resolve host: a.example"));
    visit(tally, QStringLiteral("http://b.example/"), VisitEnd::Outcome::Failed,
          QStringLiteral("HTTP 404"));
    tally.finish(false);
    EXPECT_EQ(tally.text(),
              QStringLiteral("No page could be downloaded: 2 failed (last: http://b.example/: "
                             "HTTP 404)"));
}

TEST(RunTallyText, AVisitAbandonedByStopIsNoFailure) {
    RunTally tally;
    tally.start();
    visit(tally, QStringLiteral("http://a.example/"), VisitEnd::Outcome::Stopped,
          QStringLiteral("Operation was aborted"));
    EXPECT_EQ(tally.pages(), 1);
    EXPECT_EQ(tally.failed(), 0);
    EXPECT_EQ(tally.failureList(), QString());
}

TEST(RunTallyText, TheToolTipListsTheLastTwentyFailuresOnePerLine) {
    RunTally tally;
    tally.start();
    for (int i = 1; i <= 25; ++i)
        visit(tally, QStringLiteral("http://h%1.example/").arg(i), VisitEnd::Outcome::Failed,
              QStringLiteral("HTTP %1").arg(400 + i));
    const QStringList lines = tally.failureList().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), RunTally::KeptFailures);
    EXPECT_EQ(lines.first(), QStringLiteral("http://h6.example/: HTTP 406"));
    EXPECT_EQ(lines.last(), QStringLiteral("http://h25.example/: HTTP 425"));
    EXPECT_EQ(tally.failed(), 25);
}

TEST(RunTallyText, StartAndClearResetEverythingAndSaySo) {
    RunTally tally;
    QSignalSpy spy(&tally, &RunTally::stateChanged);
    tally.start();
    visit(tally, QStringLiteral("http://a.example/"), VisitEnd::Outcome::Failed,
          QStringLiteral("HTTP 500"));
    tally.resultListed();
    tally.finish(false);
    tally.start();
    EXPECT_EQ(tally.pages(), 0);
    EXPECT_EQ(tally.results(), 0);
    EXPECT_EQ(tally.failed(), 0);
    EXPECT_TRUE(tally.lastFailures().empty());
    EXPECT_EQ(tally.currentAddress(), QString());
    tally.clear();
    EXPECT_EQ(tally.text(), QString());
    EXPECT_EQ(spy.count(), 4);
    // Counting raises no signal: the front ends look at their own pace.
    visit(tally, QStringLiteral("http://a.example/"));
    tally.resultListed();
    EXPECT_EQ(spy.count(), 4);
}

// --- What a real run counts ------------------------------------------------

class RunTallyCount : public CrawlFixture {
protected:
    RunTallyCount() : CrawlFixture(5) {}
    const RunTally& tally() { return form.Tally(); }
};

TEST_F(RunTallyCount, FileLinksAreResultsToo) {
    server.page("/a.html", R"(<img src="x.png"><img src="x.png"><a href="b">b</a>)");
    server.start();
    form.setOption2(true);
    form.ListView1.Add(server.url("/a.html"));
    press();
    expectRunEnded();
    EXPECT_EQ(form.ListView2.Count(), 2);
    EXPECT_EQ(tally().results(), 2);
}

} // namespace
