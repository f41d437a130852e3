// The run's own tally and the status texts made from it: the formatting alone,
// then what a real run counts (against a server on 127.0.0.1).

#include "crawl/RunTally.h"

#include "base/Shell.h"
#include "tests/support/CrawlFixture.h"
#include "tests/support/QtPrinters.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringList>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

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

// --- The status texts, one run a row -----------------------------------------

struct Visit {
    const char* address;
    VisitEnd::Outcome outcome;
    const char* failure;
};
constexpr VisitEnd::Outcome Downloaded = VisitEnd::Outcome::Downloaded;
constexpr VisitEnd::Outcome Failed = VisitEnd::Outcome::Failed;
constexpr VisitEnd::Outcome Stopped = VisitEnd::Outcome::Stopped;

enum class RunEnd { Running, Finished, StoppedByUser };

struct TextCase {
    const char* name;
    std::vector<Visit> visits;
    int results;
    RunEnd end;
    // A visit started last and still going on (running rows only).
    QString fetching;
    // The text without ", in T s" at its end.
    QString text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class StatusText : public ::testing::TestWithParam<TextCase> {};

TEST_P(StatusText, SaysWhatTheRunDid) {
    const TextCase& c = GetParam();
    RunTally tally;
    tally.start();
    for (const Visit& v : c.visits)
        visit(tally, QString::fromLatin1(v.address), v.outcome, QString::fromLatin1(v.failure));
    for (int i = 0; i < c.results; ++i)
        tally.resultListed();
    if (!c.fetching.isEmpty())
        tally.visitStarted(c.fetching);
    if (c.end != RunEnd::Running)
        tally.finish(c.end == RunEnd::StoppedByUser);
    const QString text = tally.text();
    EXPECT_EQ(withoutTime(text), c.text);
    const bool timed = c.end != RunEnd::Running && !c.text.startsWith(QStringLiteral("No page"));
    EXPECT_EQ(QRegularExpression(QStringLiteral(", in \\d+\\.\\d s$")).match(text).hasMatch(),
              timed)
        << text.toStdString();
}

const QString LongAddress =
    QStringLiteral("http://c.example/") + QString(150, u'p') + QString(150, u'q');

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusText,
    ::testing::Values(
        TextCase{"NothingYet",
                 {},
                 0,
                 RunEnd::Running,
                 {},
                 "Fetching \u2014 0 pages, 0 results, 0 failed"},
        // The visit under way is no page yet.
        TextCase{"FetchingTheSecond",
                 {{"http://a.example/", Downloaded, ""}},
                 1,
                 RunEnd::Running,
                 "http://b.example/",
                 "Fetching http://b.example/ \u2014 1 page, 1 result, 0 failed"},
        TextCase{"AFailedVisitIsNoPage",
                 {{"http://a.example/", Downloaded, ""}, {"http://b.example/", Failed, "HTTP 404"}},
                 1234,
                 RunEnd::Running,
                 "http://c.example/",
                 "Fetching http://c.example/ \u2014 1 page, 1,234 results, 1 failed"},
        // A long address loses its middle, never its end.
        TextCase{"ALongAddressIsShortenedInItsMiddle",
                 {},
                 0,
                 RunEnd::Running,
                 LongAddress,
                 "Fetching " + LongAddress.left(100) + "\u2026" + LongAddress.right(100) +
                     " \u2014 0 pages, 0 results, 0 failed"},
        TextCase{"Finished",
                 {{"http://a.example/", Downloaded, ""},
                  {"http://b.example/", Downloaded, ""},
                  {"http://c.example/", Failed, "HTTP 404"},
                  {"http://d.example/", Failed, "HTTP 500"},
                  {"http://e.example/", Failed, "Could not resolve host: e.example"}},
                 339,
                 RunEnd::Finished,
                 {},
                 "Finished: 2 pages, 339 results, 3 failed"},
        TextCase{"StoppedSaysSoFirst",
                 {{"http://a.example/", Downloaded, ""},
                  {"http://b.example/", Failed, "Timeout was reached"},
                  {"http://c.example/", Stopped, "Operation was aborted"}},
                 4,
                 RunEnd::StoppedByUser,
                 {},
                 "Stopped after 1 page: 4 results, 1 failed"},
        TextCase{"NoPageCouldBeDownloaded",
                 {{"http://a.example/", Failed, "Could not resolve host: a.example"},
                  {"http://b.example/", Failed, "HTTP 404"}},
                 0,
                 RunEnd::Finished,
                 {},
                 "No page could be downloaded: 2 failed (last: http://b.example/: HTTP 404)"},
        // A listed page kept out by the run's rules was no visit, and no failure.
        TextCase{"NothingVisited",
                 {},
                 0,
                 RunEnd::Finished,
                 {},
                 "Finished: 0 pages, 0 results, 0 failed"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

// --- The status text in a given width ----------------------------------------

struct FitCase {
    const char* name;
    QString fetching; // the address being fetched; empty: every visit failed
    int width;        // in characters
    QString text;
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.name;
}

class FittedText : public ::testing::TestWithParam<FitCase> {};

TEST_P(FittedText, ShortensTheAddressInItsMiddle) {
    const FitCase& c = GetParam();
    RunTally tally;
    tally.start();
    if (c.fetching.isEmpty()) {
        visit(tally, QStringLiteral("http://www.example.org/a/long/way/down/index.html"), Failed,
              QStringLiteral("Could not resolve host: www.example.org"));
        tally.finish(false);
    } else {
        tally.visitStarted(c.fetching);
    }
    const QString text = tally.text([&](const QString& t) { return t.size() <= c.width; });
    EXPECT_EQ(text, c.text);
    EXPECT_LE(text.size(), c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FittedText,
    ::testing::Values(
        FitCase{"FitsAsItIs", "http://a.example/", 60,
                "Fetching http://a.example/ \u2014 0 pages, 0 results, 0 failed"},
        FitCase{"AddressLosesItsMiddle", "http://www.example.com/0123456789/index.html", 60,
                "Fetching http://www\u2026ndex.html \u2014 0 pages, 0 results, 0 failed"},
        FitCase{"TheFailureKeepsItsReason",
                {},
                110,
                "No page could be downloaded: 1 failed (last: http://www.\u2026/index.html: Could "
                "not resolve host: www.example.org)"},
        // Too narrow even for "…" as the address: the whole text loses its middle.
        FitCase{"TooNarrowForTheCounts", "http://a.example/", 20, "Fetching h\u2026 0 failed"},
        // A surrogate pair is kept whole or not at all.
        FitCase{"NoHalfCharacters",
                QStringLiteral("http://a.example/") + QString::fromUcs4(U"\U0001F600") +
                    QStringLiteral("xyz"),
                50, "Fetching http:\u2026xyz \u2014 0 pages, 0 results, 0 failed"}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

TEST(RunTallyText, AVisitAbandonedByStopIsNoFailure) {
    RunTally tally;
    tally.start();
    visit(tally, QStringLiteral("http://a.example/"), VisitEnd::Outcome::Stopped,
          QStringLiteral("Operation was aborted"));
    EXPECT_EQ(tally.visits(), 1);
    EXPECT_EQ(tally.pages(), 0);
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
    RunTallyCount() : CrawlFixture(5000) {}
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
