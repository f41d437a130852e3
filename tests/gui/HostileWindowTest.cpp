// A hostile server met by the real window: one whose page holds a link of ten
// megabytes. (Stop during a dripping download is the run's: CrawlRunTest.cpp.)

#include "crawl/PageFile.h"
#include "tests/gui/WindowFixture.h"
#include "tests/support/LoopbackServer.h"

#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeView>

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
