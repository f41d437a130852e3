#include "tests/gui/WaitUntil.h"
#include "tests/gui/WindowFixture.h"
#include "window/qt/Twips.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

struct Place {
    const char* name;
    const char* caption; // nullptr for the lists
    int left, top, width, height;
};

// Every control in tab order, with its caption and place in twips (the frame's
// choices measured from the frame's corner).
const Place Controls[] = {
    {"ListView1", nullptr, 120, 120, 7800, 2535},
    {"ListView2", nullptr, 120, 5360, 7800, 2535},
    {"Frame1", "Option", 120, 3720, 7800, 1005},
    {"Option1", "Retrieve HTML links", 270, 300, 2085, 255},
    {"Option2", "Retrieve file links", 2430, 300, 2085, 255},
    {"Check2", "Extract forever", 4560, 300, 1695, 255},
    {"Check3", "Stay on the same site", 270, 600, 2145, 255},
    {"Check4", "Obey robots.txt", 2430, 600, 2085, 255},
    {"Depth1", nullptr, 5220, 570, 1080, 330},
    {"PushButton5", "Add One URL", 120, 2750, 3840, 405},
    {"PushButton13", "Load URL List From File", 4080, 2750, 3840, 405},
    {"PushButton11", "Clear List", 120, 3260, 3840, 405},
    {"PushButton7", "Start Finding Links Within URL", 120, 4845, 7800, 405},
    {"PushButton6", "Save Results As Text File", 120, 7980, 3840, 405},
    {"PushButton1", "Save As Comma Delimited", 4080, 7980, 3840, 405},
    {"PushButton3", "Copy Results To Clipboard", 120, 8490, 3840, 405},
    {"PushButton9", "Clear Results", 4080, 8475, 3840, 405},
    {"PushButton2", "Load Sample/Example Sites", 4080, 3260, 3840, 405},
};

// Outside the tab order: the label of the depth, and the status line.
const Place Labels[] = {
    {"Label1", "Depth:", 4560, 600, 600, 255},
    {"StatusLine", "", 120, 8960, 7800, 255},
};

// The window made larger by 300 x 201 pixels: the lists take the height, 100 and
// 101 pixels, and every control the width, each button of a row 150 pixels of it.
struct Grown {
    const char* name;
    int left, top, width, height; // what each gains, in pixels
};
constexpr QSize Larger(300, 201);
const Grown GrownControls[] = {
    {"ListView1", 0, 0, 300, 100},
    {"PushButton5", 0, 100, 150, 0},
    {"PushButton13", 150, 100, 150, 0},
    {"PushButton11", 0, 100, 150, 0},
    {"PushButton2", 150, 100, 150, 0},
    {"Frame1", 0, 100, 300, 0},
    {"Check3", 0, 0, 0, 0},
    {"Depth1", 0, 0, 0, 0},
    {"PushButton7", 0, 100, 300, 0},
    {"ListView2", 0, 100, 300, 101},
    {"PushButton6", 0, 201, 150, 0},
    {"PushButton1", 150, 201, 150, 0},
    {"PushButton3", 0, 201, 150, 0},
    {"PushButton9", 150, 201, 150, 0},
    {"StatusLine", 0, 201, 300, 0},
};

QRect twipsRect(const Place& p, int dpiX, int dpiY) {
    return QRect(TwipsToPixels(p.left, dpiX), TwipsToPixels(p.top, dpiY),
                 TwipsToPixels(p.width, dpiX), TwipsToPixels(p.height, dpiY));
}

const Place& placeOf(const char* name) {
    for (const Place& p : Controls)
        if (std::strcmp(p.name, name) == 0)
            return p;
    for (const Place& p : Labels)
        if (std::strcmp(p.name, name) == 0)
            return p;
    throw std::logic_error(name);
}

QString captionOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        return frame->title();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    return {};
}

class WindowTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        start();
    }
};

TEST_F(WindowTest, ShowsEveryControlWithItsCaptionAndPlace) {
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Orvelle Software"));
    EXPECT_FALSE(view->windowIcon().isNull());
    const int dpiX = view->logicalDpiX();
    const int dpiY = view->logicalDpiY();
    EXPECT_EQ(view->size(), QSize(TwipsToPixels(8040, dpiX), TwipsToPixels(9300, dpiY)));
    if (dpiX == 96 && dpiY == 96) {
        EXPECT_EQ(view->size(), QSize(536, 620));
    }
    // Larger, never smaller, than the first size.
    EXPECT_EQ(view->minimumSize(), view->size());
    EXPECT_GT(view->maximumSize().width(), view->width());
    EXPECT_TRUE(view->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(view->palette().color(QPalette::Window), QColor(Qt::white));

    for (const Place& p : Controls) {
        SCOPED_TRACE(p.name);
        QWidget* widget = control(p.name);
        ASSERT_NE(widget, nullptr);
        if (p.caption) {
            EXPECT_EQ(captionOf(widget), QString::fromLatin1(p.caption));
        }
        EXPECT_EQ(widget->geometry(), twipsRect(p, dpiX, dpiY));
        EXPECT_TRUE(widget->isVisible());
        const bool isButton = qobject_cast<QPushButton*>(widget) != nullptr;
        EXPECT_EQ(widget->font().family(), QStringLiteral("Arial"));
        EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), isButton ? 11.25 : 9.0);
        EXPECT_TRUE(QFontInfo(widget->font()).bold());
        const QPalette::ColorRole face = isButton ? QPalette::Button : QPalette::Window;
        EXPECT_EQ(widget->palette().color(face), QColor(Qt::white));
    }
    const Place& label = placeOf("Label1");
    EXPECT_EQ(captionOf(control("Label1")), QString::fromLatin1(label.caption));
    EXPECT_EQ(control("Label1")->geometry(), twipsRect(label, dpiX, dpiY));
    EXPECT_EQ(control("Label1")->palette().color(QPalette::Window), QColor(Qt::white));
    for (const char* name : {"Option1", "Check2", "Check3", "Check4", "Label1", "Depth1"})
        EXPECT_EQ(control(name)->parentWidget(), control("Frame1")) << name;
    EXPECT_TRUE(qobject_cast<QRadioButton*>(control("Option1"))->isChecked());
    EXPECT_FALSE(qobject_cast<QRadioButton*>(control("Option2"))->isChecked());
    for (const char* name : {"Check2", "Check3", "Check4"})
        EXPECT_FALSE(qobject_cast<QCheckBox*>(control(name))->isChecked()) << name;
    // The depth: 0 to 99, no limit at first.
    auto* depth = qobject_cast<QSpinBox*>(control("Depth1"));
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->minimum(), 0);
    EXPECT_EQ(depth->maximum(), 99);
    EXPECT_EQ(depth->value(), 0);
    EXPECT_EQ(depth->text(), QStringLiteral("no limit"));
}

TEST_F(WindowTest, ALargerWindowGivesTheHeightToTheListsAndTheWidthToEveryControl) {
    const int dpiX = view->logicalDpiX();
    const int dpiY = view->logicalDpiY();
    const QSize first = view->size();
    const int column = view->listView1()->header()->sectionSize(0);
    view->resize(first + Larger);
    ASSERT_TRUE(WaitUntil([&] { return view->size() == first + Larger; }));
    for (const Grown& g : GrownControls) {
        SCOPED_TRACE(g.name);
        const QRect at = twipsRect(placeOf(g.name), dpiX, dpiY);
        EXPECT_EQ(control(g.name)->geometry(), QRect(at.left() + g.left, at.top() + g.top,
                                                     at.width() + g.width, at.height() + g.height));
    }
    EXPECT_EQ(view->listView1()->header()->sectionSize(0), column + Larger.width());
    EXPECT_EQ(view->listView2()->header()->sectionSize(0), column + Larger.width());
    // Back to the first size, everything is where it was; smaller it does not get.
    view->resize(first - QSize(50, 50));
    ASSERT_TRUE(WaitUntil([&] { return view->size() == first; }));
    for (const Place& p : Controls)
        EXPECT_EQ(control(p.name)->geometry(), twipsRect(p, dpiX, dpiY)) << p.name;
    EXPECT_EQ(view->listView1()->header()->sectionSize(0), column);
}

TEST_F(WindowTest, TheStatusLineIsALabelBelowTheButtonsOutsideTheTabOrder) {
    auto* label = qobject_cast<QLabel*>(control("StatusLine"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label, view->statusLine());
    const int dpiX = view->logicalDpiX();
    const int dpiY = view->logicalDpiY();
    EXPECT_EQ(label->geometry(), twipsRect(placeOf("StatusLine"), dpiX, dpiY));
    EXPECT_TRUE(label->isVisible());
    // The window's font, on white.
    EXPECT_EQ(label->font(), view->font());
    EXPECT_EQ(label->font().family(), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 9.0);
    EXPECT_TRUE(label->autoFillBackground());
    EXPECT_EQ(label->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    // Before the first run it says nothing.
    EXPECT_EQ(label->text(), QString());
    EXPECT_EQ(label->toolTip(), QString());
    // Below the last row of buttons, inside the window.
    EXPECT_GE(label->geometry().top(), button("PushButton3")->geometry().bottom());
    EXPECT_LE(label->geometry().bottom(), view->height());
}

TEST_F(WindowTest, ListsShowOneColumnSevenThousandTwipsWideAndTheToolTip) {
    const QString tip =
        QStringLiteral("Double-click item to remove it. Move | line to right and out "
                       "of window to reveal full names.");
    const QString headers[] = {QStringLiteral("URL(s)"), QStringLiteral("Result(s)")};
    QTreeView* lists[] = {view->listView1(), view->listView2()};
    for (int i = 0; i < 2; ++i) {
        QTreeView* list = lists[i];
        EXPECT_FALSE(list->isHeaderHidden());
        EXPECT_EQ(list->model()->columnCount(), 1);
        EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), headers[i]);
        EXPECT_EQ(list->header()->sectionSize(0), TwipsToPixels(7000, view->logicalDpiX()));
        EXPECT_EQ(list->toolTip(), tip);
    }
}

TEST_F(WindowTest, TabsThroughTheControlsInTheirOrder) {
    QStringList names;
    for (const Place& p : Controls)
        names.append(QLatin1String(p.name));
    QStringList chain;
    QWidget* w = control("ListView1");
    for (int steps = 0; steps < 200 && chain.size() < names.size(); ++steps) {
        if (names.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain.append(w->objectName());
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, names);
}

TEST_F(WindowTest, OptionsAndCheckBoxesFollowTheFormBothWays) {
    auto* option2 = qobject_cast<QRadioButton*>(control("Option2"));
    QTest::mouseClick(option2, Qt::LeftButton);
    EXPECT_TRUE(form->Option2());
    EXPECT_FALSE(form->Option1());
    const std::pair<const char*, int (Form1::*)() const> boxes[] = {
        {"Check2", &Form1::Check2}, {"Check3", &Form1::Check3}, {"Check4", &Form1::Check4}};
    for (const auto& [name, value] : boxes) {
        QTest::mouseClick(control(name), Qt::LeftButton);
        EXPECT_EQ(((*form).*value)(), 1) << name;
    }
    auto* depth = qobject_cast<QSpinBox*>(control("Depth1"));
    depth->setFocus();
    QTest::keyClick(depth, Qt::Key_Up);
    QTest::keyClick(depth, Qt::Key_Up);
    EXPECT_EQ(form->Depth1(), 2);
    EXPECT_EQ(depth->text(), QStringLiteral("2"));

    form->setOption1(true);
    form->setCheck2(0);
    form->setCheck3(0);
    form->setCheck4(0);
    form->setDepth1(150);
    EXPECT_TRUE(qobject_cast<QRadioButton*>(control("Option1"))->isChecked());
    EXPECT_FALSE(option2->isChecked());
    for (const auto& [name, value] : boxes)
        EXPECT_FALSE(qobject_cast<QCheckBox*>(control(name))->isChecked()) << name;
    EXPECT_EQ(form->Depth1(), 99);
    EXPECT_EQ(depth->value(), 99);
}

TEST_F(WindowTest, CaptionsAndListsRedrawFromTheForm) {
    form->setPushButton7Caption(Form1::StopCaption);
    EXPECT_EQ(button("PushButton7")->text(), QStringLiteral("Stop"));
    form->ListView2.Add(QStringLiteral("http://a.example/"));
    EXPECT_TRUE(WaitUntil([&] { return view->listView2()->model()->rowCount() == 1; }));
    // Clear Results clears the list shown.
    QTest::mouseClick(button("PushButton9"), Qt::LeftButton);
    EXPECT_EQ(form->ListView2.Count(), 0);
}

TEST_F(WindowTest, TheResultsListScrollsToTheLatestResult) {
    for (int i = 1; i <= 500; ++i)
        form->ListView2.EnsureVisible(
            form->ListView2.Add(QStringLiteral("http://host.example/%1").arg(i)));
    QTreeView* list = view->listView2();
    ASSERT_TRUE(WaitUntil([&] {
        return list->viewport()->rect().contains(list->visualRect(list->model()->index(499, 0)));
    }));
}

// Items reach the view in batches; what is removed or cleared meanwhile, shown
// yet or not, never reaches it.
TEST_F(WindowTest, TheViewShowsTheListAsItStandsAfterChangesBetweenTurns) {
    ListView& items = form->ListView2;
    QAbstractItemModel* shown = view->listView2()->model();
    const auto shownTexts = [shown] {
        QStringList texts;
        for (int row = 0; row < shown->rowCount(); ++row)
            texts.append(shown->index(row, 0).data().toString());
        return texts;
    };
    items.Add(QStringLiteral("a"));
    items.Add(QStringLiteral("b"));
    ASSERT_TRUE(WaitUntil([&] { return shown->rowCount() == 2; }));
    items.Add(QStringLiteral("c"));
    items.Add(QStringLiteral("d"));
    items.Remove(1);
    items.Remove(3);
    EXPECT_TRUE(WaitUntil([&] {
        return shownTexts() == QStringList{"b", "c"};
    })) << shownTexts().join(',').toStdString();
    items.Add(QStringLiteral("e"));
    items.Clear();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown->rowCount(), 0);
}

class RemoveItemTest : public WindowTest {
protected:
    void fill(ListView& list) {
        for (const char* text : {"first", "second", "third"})
            list.Add(QString::fromLatin1(text));
    }
};

TEST_F(RemoveItemTest, DeleteRemovesTheSelectedItemOfEitherList) {
    fill(form->ListView1);
    clickItem(view->listView1(), 2);
    ASSERT_EQ(form->ListView1.SelectedIndex(), 2);
    QTest::keyClick(view->listView1(), Qt::Key_Delete);
    EXPECT_EQ(form->ListView1.Texts(), (QStringList{"first", "third"}));

    fill(form->ListView2);
    clickItem(view->listView2(), 3);
    QTest::keyClick(view->listView2(), Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(form->ListView2.Texts(), (QStringList{"first", "second"}));
    // Any other key removes nothing.
    clickItem(view->listView2(), 1);
    QTest::keyClick(view->listView2(), Qt::Key_Backspace);
    EXPECT_EQ(form->ListView2.Count(), 2);
}

TEST_F(RemoveItemTest, DeleteHeldDownKeepsRemoving) {
    fill(form->ListView1);
    clickItem(view->listView1(), 1);
    QTest::keyClick(view->listView1(), Qt::Key_Delete);
    QTest::keyClick(view->listView1(), Qt::Key_Delete);
    EXPECT_EQ(form->ListView1.Texts(), (QStringList{"third"}));
}

TEST_F(RemoveItemTest, DoubleClickRemovesTheItemClicked) {
    fill(form->ListView1);
    doubleClickItem(view->listView1(), 1);
    EXPECT_EQ(form->ListView1.Texts(), (QStringList{"second", "third"}));
    fill(form->ListView2);
    doubleClickItem(view->listView2(), 2);
    EXPECT_EQ(form->ListView2.Texts(), (QStringList{"first", "third"}));
}

TEST_F(RemoveItemTest, NothingIsRemovedWhileTheWindowIsBusy) {
    fill(form->ListView1);
    fill(form->ListView2);
    clickItem(view->listView1(), 2);
    clickItem(view->listView2(), 2);
    form->setMousePointer(Form1::PointerHourglass);
    QTest::keyClick(view->listView1(), Qt::Key_Delete);
    doubleClickItem(view->listView2(), 2);
    QTest::mouseClick(button("PushButton11"), Qt::LeftButton);
    EXPECT_EQ(form->ListView1.Count(), 3);
    EXPECT_EQ(form->ListView2.Count(), 3);
    // Clear Results acts busy or not.
    QTest::mouseClick(button("PushButton9"), Qt::LeftButton);
    EXPECT_EQ(form->ListView2.Count(), 0);
}

TEST_F(RemoveItemTest, ClickingBesideTheItemsLeavesNoneSelected) {
    fill(form->ListView1);
    clickItem(view->listView1(), 2);
    QTreeView* list = view->listView1();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(10, list->viewport()->height() - 5));
    EXPECT_EQ(form->ListView1.SelectedIndex(), 0);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(form->ListView1.Count(), 3);
}

class HoverTest : public WindowTest {};

TEST_F(HoverTest, HandOverCommandButtonsArrowOverListsFrameAndWindow) {
    EXPECT_EQ(cursorShape(), Qt::ArrowCursor);
    moveMouseTo(button("PushButton5"));
    EXPECT_EQ(form->MousePointer(), Form1::PointerCustom);
    // Without HAND-M.CUR the system's pointing hand stands in.
    EXPECT_EQ(cursorShape(), Qt::PointingHandCursor);
    EXPECT_EQ(button("PushButton5")->cursor().shape(), Qt::PointingHandCursor);

    moveMouseTo(view->listView1()->viewport());
    EXPECT_EQ(form->MousePointer(), Form1::PointerDefault);
    EXPECT_EQ(cursorShape(), Qt::ArrowCursor);

    for (const char* name : {"PushButton13", "PushButton11", "PushButton2", "PushButton6",
                             "PushButton1", "PushButton3", "PushButton9", "PushButton7"}) {
        form->setMousePointer(Form1::PointerDefault);
        moveMouseTo(button(name));
        EXPECT_EQ(form->MousePointer(), Form1::PointerCustom) << name;
    }
    // Over the choices nothing changes, and the frame around them does not hear it.
    for (const char* name : {"Option1", "Check2", "Check3", "Check4", "Label1", "Depth1"}) {
        moveMouseTo(control(name));
        EXPECT_EQ(form->MousePointer(), Form1::PointerCustom) << name;
    }
    moveMouseTo(control("Frame1"), QPoint(control("Frame1")->width() - 10, 5));
    EXPECT_EQ(form->MousePointer(), Form1::PointerDefault);

    moveMouseTo(button("PushButton9"));
    moveMouseTo(view->listView2()->header()->viewport());
    EXPECT_EQ(form->MousePointer(), Form1::PointerDefault);
    // The scroll bars and the frame are the list's too.
    for (int i = 0; i < 100; ++i)
        form->ListView1.Add(QStringLiteral("www.example.com"));
    QTRY_VERIFY(view->listView1()->verticalScrollBar()->isVisible());
    moveMouseTo(button("PushButton9"));
    moveMouseTo(view->listView1()->verticalScrollBar());
    EXPECT_EQ(form->MousePointer(), Form1::PointerDefault);
    moveMouseTo(button("PushButton9"));
    moveMouseTo(view->listView1(), QPoint(0, view->listView1()->height() / 2));
    EXPECT_EQ(form->MousePointer(), Form1::PointerDefault);
    moveMouseTo(button("PushButton9"));
    // The gap between two buttons is the window's background.
    moveMouseTo(view.get(), QPoint(view->width() / 2, button("PushButton9")->geometry().top() - 4));
    EXPECT_EQ(form->MousePointer(), Form1::PointerDefault);
}

TEST_F(HoverTest, TheHourglassSurvivesEverythingButTheStartButton) {
    form->setMousePointer(Form1::PointerHourglass);
    EXPECT_EQ(cursorShape(), Qt::WaitCursor);
    moveMouseTo(button("PushButton11"));
    moveMouseTo(view->listView1()->viewport());
    moveMouseTo(control("Frame1"), QPoint(control("Frame1")->width() - 10, 5));
    moveMouseTo(view.get(), QPoint(4, 4));
    EXPECT_EQ(form->MousePointer(), Form1::PointerHourglass);
    EXPECT_EQ(cursorShape(), Qt::WaitCursor);
    // The start button shows the hand during a run, so that Stop can be pressed.
    moveMouseTo(button("PushButton7"));
    EXPECT_EQ(form->MousePointer(), Form1::PointerCustom);
    EXPECT_EQ(cursorShape(), Qt::PointingHandCursor);
    moveMouseTo(view.get(), QPoint(4, 4));
    EXPECT_EQ(cursorShape(), Qt::ArrowCursor);
}

TEST_F(WindowTest, ClosingTheWindowEndsTheProgram) {
    EXPECT_FALSE(shell.programEnded);
    view->close();
    EXPECT_TRUE(shell.programEnded);
}

} // namespace
