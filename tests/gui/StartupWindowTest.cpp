#include "base/Messages.h"
#include "tests/gui/WindowFixture.h"
#include "tests/support/CursorFileMaker.h"
#include "tests/support/Files.h"

#include <QPixmap>

namespace {

class StartupWindowTest : public WindowFixture {
protected:
    QString cursorPath() const { return folder.filePath(QStringLiteral("HAND-M.CUR")); }
};

TEST_F(StartupWindowTest, WithHandCursorFileTheHandIsThatPicture) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(cursorPath(), MakeCursorFile(32, 6, 2)));
    start();
    EXPECT_TRUE(shell.messages.empty());
    form->setMousePointer(Form1::PointerCustom);
    const QCursor cursor = view->cursor();
    ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(6, 2));
    EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(cursor.pixmap().toImage().pixelColor(16, 16), QColor(0x20, 0x60, 0xc0));
    form->setMousePointer(Form1::PointerDefault);
    EXPECT_EQ(view->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(StartupWindowTest, WithoutHandCursorFileNothingIsAskedAndTheSystemHandShows) {
    start();
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_TRUE(view->isVisible());
    form->setMousePointer(Form1::PointerCustom);
    EXPECT_EQ(view->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(StartupWindowTest, ADamagedHandCursorFileIsReportedAndTheWindowStillShows) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(cursorPath(), QByteArray("MZ this is no cursor")));
    start();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.contains(QStringLiteral("Form1.Form_Load at line 106")));
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Orvelle Software"));
    form->setMousePointer(Form1::PointerCustom);
    EXPECT_EQ(view->cursor().shape(), Qt::PointingHandCursor);
}

} // namespace
