// Hostile servers met by the real window: one that drips a byte every two
// seconds, with no stall time-out to save the run, and one whose page holds a
// link of ten megabytes.

#include "crawl/PageFile.h"
#include "tests/gui/WindowFixture.h"
#include "tests/support/LoopbackServer.h"

#include <QElapsedTimer>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <iostream>

namespace {

class HostileWindowTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        // Every yield of the run is a turn of the event loop, as in the window.
        for (YieldPlace place : {YieldPlace::Run, YieldPlace::Download, YieldPlace::Scan,
                                 YieldPlace::Value, YieldPlace::Delete})
            shell.onEvery(place, [] { QCoreApplication::processEvents(); });
    }
    void TearDown() override {
        server.stop();
        WindowFixture::TearDown();
        RemovePageFolder();
    }

    LoopbackServer server;
};

// While the download waits, the window goes on handling its events (a timer of
// 10 ms keeps firing) and a click on Stop ends the visit and the run at once.
TEST_F(HostileWindowTest, StaysResponsiveAndStopsWhileAServerDrips) {
    server.drip("/drip", "<a href=\"never.html\">", std::chrono::seconds(2));
    server.start();
    start();
    form->harvestRun().Settings.download.stallMs = 60'000;
    form->ListView1.Add(server.url("/drip"));

    QElapsedTimer clock;
    qint64 lastTickMs = -1, longestGapMs = 0, stopClickedMs = -1;
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTickMs >= 0)
            longestGapMs = std::max(longestGapMs, now - lastTickMs);
        lastTickMs = now;
        ++ticks;
    });
    QTimer::singleShot(1000, [&] {
        stopClickedMs = clock.elapsed();
        QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    });
    clock.start();
    ticker.start();
    // The run happens inside this click, and Stop is clicked inside one of its turns.
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);
    const qint64 endedMs = clock.elapsed();
    ticker.stop();

    ASSERT_GE(stopClickedMs, 0) << "Stop was never clicked";
    ASSERT_EQ(shell.visits.size(), 1u);
    EXPECT_EQ(shell.visits[0].failure, QStringLiteral("stopped"));
    EXPECT_EQ(shell.messageTexts(), std::vector<QString>{QStringLiteral("Done.")});
    EXPECT_EQ(button("PushButton7")->text(), QStringLiteral("Start Finding Links Within URL"));
    EXPECT_TRUE(form->ListView2.Texts().isEmpty());
    EXPECT_GT(ticks, 50) << "the window's events waited while the download did";
    EXPECT_LT(endedMs - stopClickedMs, 5000) << "Stop did not end the run";
    std::cout << "[ figure   ] ms from the Stop click to the end of the run: "
              << endedMs - stopClickedMs
              << "\n[ figure   ] longest ms between two 10 ms ticks: " << longestGapMs << std::endl;
}

// The link is listed whole, but the window lays out only its start: one row of
// megabytes would otherwise hold the window up for seconds at every change of
// the list, Stop included.
TEST_F(HostileWindowTest, ListsALinkOfTenMegabytesButLaysOutOnlyItsStart) {
    const std::string path = "/" + std::string(10 << 20, 'a');
    server.page("/", "<a href=\"" + path + "\">");
    server.start();
    start();
    form->ListView1.Add(server.url("/"));
    QTest::mouseClick(button("PushButton7"), Qt::LeftButton);

    EXPECT_EQ(shell.messageTexts(), std::vector<QString>{QStringLiteral("Done.")});
    ASSERT_EQ(form->ListView2.Count(), 1);
    EXPECT_EQ(form->ListView2.Text(1), server.url(path));
    auto* list = view->findChild<QTreeView*>(QStringLiteral("ListView2"));
    ASSERT_NE(list, nullptr);
    const QModelIndex row = list->model()->index(0, 0);
    EXPECT_LE(list->model()->data(row).toString().size(), ListView::DisplayedCharacters);
    QStyleOptionViewItem option;
    option.font = list->font();
    option.fontMetrics = list->fontMetrics();
    EXPECT_LT(list->itemDelegate()->sizeHint(option, row).width(), 100'000)
        << "the row is laid out whole";
}

} // namespace
