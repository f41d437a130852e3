#include "base/Failure.h"
#include "lists/ListView.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

QStringList texts(const ListView& list) {
    return list.Texts();
}

void fill(ListView& list, const QStringList& items) {
    for (const QString& item : items)
        list.Add(item);
}

TEST(ListView, PositionsRunFromOneAndMoveUpAfterARemoval) {
    ListView list;
    EXPECT_EQ(list.Add(QStringLiteral("a")), 1);
    EXPECT_EQ(list.Add(QStringLiteral("b")), 2);
    EXPECT_EQ(list.Add(QStringLiteral("a")), 3); // duplicates are separate items
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Text(3), QStringLiteral("a"));

    list.Remove(1);
    EXPECT_EQ(texts(list), QStringList({QStringLiteral("b"), QStringLiteral("a")}));
    EXPECT_TRUE(list.Checked(1)); // check marks read as set

    for (int bad : {0, 3, -1})
        EXPECT_THROW(list.Text(bad), Failure) << bad;
    EXPECT_THROW(list.Remove(3), Failure);
    EXPECT_EQ(list.Count(), 2);
}

TEST(ListView, ClearIsOneOperationAndLeavesNothingSelected) {
    ListView list;
    fill(list, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    list.Select(2);
    QSignalSpy resets(&list, &QAbstractItemModel::modelReset);
    QSignalSpy removals(&list, &QAbstractItemModel::rowsRemoved);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.SelectedIndex(), 0);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(removals.count(), 0);
}

// A view is given the start of a very long item only, so that a megabyte link
// does not hold the window up; the item itself stays whole.
TEST(ListView, ViewsShowTheStartOfAVeryLongItem) {
    ListView list;
    const QString longLink = QStringLiteral("http://host.example/") + QString(1 << 20, u'a');
    const QString pair =
        QString(QChar(QChar::highSurrogate(0x1F600))) + QChar(QChar::lowSurrogate(0x1F600));
    // A character outside the BMP across the cut is not split in two.
    const QString cutInAPair = QString(ListView::DisplayedCharacters - 2, u'b') + pair + "tail";
    const QString exact(ListView::DisplayedCharacters, u'c');
    fill(list, {longLink, cutInAPair, exact});
    const auto shown = [&](int row) {
        return list.data(list.index(row), Qt::DisplayRole).toString();
    };

    EXPECT_EQ(list.Text(1), longLink);
    EXPECT_EQ(shown(0), longLink.left(ListView::DisplayedCharacters - 1) + QChar(0x2026));
    EXPECT_EQ(shown(1), cutInAPair.left(ListView::DisplayedCharacters - 2) + QChar(0x2026));
    EXPECT_EQ(shown(2), exact);
}

TEST(ListView, ColumnsAndSubItemsForExportsOfSeveralColumns) {
    ListView list;
    list.AddColumn(QStringLiteral("URL"));
    list.AddColumn(QStringLiteral("Title"));
    list.SetColumnWidth(1, 7000);
    list.Add(QStringLiteral("http://a.example/"));
    list.SetSubItem(1, 1, QStringLiteral("A"));
    list.Add(QStringLiteral("http://b.example/"));

    EXPECT_EQ(list.ColumnCount(), 2);
    EXPECT_EQ(list.ColumnText(2), QStringLiteral("Title"));
    EXPECT_EQ(list.ColumnWidth(1), 7000);
    EXPECT_EQ(list.SubItem(1, 1), QStringLiteral("A"));
    EXPECT_EQ(list.SubItem(2, 1), QString());
    EXPECT_THROW(list.SubItem(1, 2), Failure);
    EXPECT_THROW(list.ColumnText(3), Failure);
    EXPECT_EQ(list.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Title"));
}

// Delete and double-click remove the selected item unless the window is busy.
class RemoveSelected : public ::testing::Test {
protected:
    ScriptedShell shell;
    Form1 form{shell};

    void SetUp() override {
        fill(form.ListView1,
             {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
        fill(form.ListView2, {QStringLiteral("r1"), QStringLiteral("r2")});
    }
};

TEST_F(RemoveSelected, DeleteRemovesTheSelectedItemAndSelectsTheNext) {
    form.ListView1.Select(2);
    form.ListView1_KeyDown(Form1::DeleteKey);
    EXPECT_EQ(texts(form.ListView1), QStringList({QStringLiteral("one"), QStringLiteral("three")}));
    EXPECT_EQ(form.ListView1.SelectedIndex(), 2);

    // Shift+Delete removes too, and repeated Delete keeps removing to the end.
    form.ListView1_KeyDown(Form1::DeleteKey, 1);
    EXPECT_EQ(texts(form.ListView1), QStringList({QStringLiteral("one")}));
    EXPECT_EQ(form.ListView1.SelectedIndex(), 1);
    form.ListView1_KeyDown(Form1::DeleteKey);
    EXPECT_EQ(form.ListView1.Count(), 0);
    form.ListView1_KeyDown(Form1::DeleteKey); // empty list: nothing happens
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(RemoveSelected, DoubleClickRemovesFromEitherList) {
    form.ListView2.Select(1);
    form.ListView2_DblClick();
    EXPECT_EQ(texts(form.ListView2), QStringList({QStringLiteral("r2")}));
    form.ListView1.Select(3);
    form.ListView1_DblClick();
    EXPECT_EQ(form.ListView1.Count(), 2);
}

TEST_F(RemoveSelected, OtherKeysNoSelectionAndTheBusyWindowRemoveNothing) {
    form.ListView1_KeyDown(Form1::DeleteKey); // nothing selected
    form.ListView1.Select(1);
    form.ListView1_KeyDown(8); // Backspace
    form.ListView1_KeyDown(45);
    form.setMousePointer(Form1::PointerHourglass);
    form.ListView1_KeyDown(Form1::DeleteKey);
    form.ListView1_DblClick();
    form.ListView2.Select(1);
    form.ListView2_DblClick();
    EXPECT_EQ(form.ListView1.Count(), 3);
    EXPECT_EQ(form.ListView2.Count(), 2);

    // The hand over the start button ends the busy state until the run sets the
    // hourglass again.
    form.MouseMove(Form1::Control::PushButton7);
    EXPECT_FALSE(form.IsBusy());
    form.ListView1_KeyDown(Form1::DeleteKey);
    EXPECT_EQ(form.ListView1.Count(), 2);
}

TEST_F(RemoveSelected, ClearListIsRefusedWhileBusyAndClearResultsIsNot) {
    form.setMousePointer(Form1::PointerHourglass);
    form.PushButton11_Click();
    form.PushButton9_Click();
    EXPECT_EQ(form.ListView1.Count(), 3);
    EXPECT_EQ(form.ListView2.Count(), 0);

    form.setMousePointer(Form1::PointerDefault);
    form.PushButton11_Click();
    form.PushButton11_Click(); // already empty: nothing visible
    EXPECT_EQ(form.ListView1.Count(), 0);
    EXPECT_TRUE(shell.messages.empty());
}

struct HoverCase {
    const char* name;
    Form1::Control control;
    int fromArrow;
    int fromHourglass;
};

void PrintTo(const HoverCase& c, std::ostream* os) {
    *os << c.name;
}

class HoverRule : public ::testing::TestWithParam<HoverCase> {};

TEST_P(HoverRule, SetsThePointerButKeepsTheHourglassExceptOverStart) {
    ScriptedShell shell;
    Form1 form(shell);
    const HoverCase c = GetParam();
    form.MouseMove(c.control);
    EXPECT_EQ(form.MousePointer(), c.fromArrow);
    form.setMousePointer(Form1::PointerHourglass);
    form.MouseMove(c.control);
    EXPECT_EQ(form.MousePointer(), c.fromHourglass);
}

using C = Form1::Control;
INSTANTIATE_TEST_SUITE_P(Controls, HoverRule,
                         ::testing::Values(HoverCase{"Form", C::Form, 0, 11},
                                           HoverCase{"ListView1", C::ListView1, 0, 11},
                                           HoverCase{"ListView2", C::ListView2, 0, 11},
                                           HoverCase{"Frame1", C::Frame1, 0, 11},
                                           HoverCase{"Option1", C::Option1, 0, 11},
                                           HoverCase{"Check2", C::Check2, 0, 11},
                                           HoverCase{"PushButton2", C::PushButton2, 99, 11},
                                           HoverCase{"PushButton5", C::PushButton5, 99, 11},
                                           HoverCase{"PushButton9", C::PushButton9, 99, 11},
                                           HoverCase{"PushButton11", C::PushButton11, 99, 11},
                                           HoverCase{"PushButton13", C::PushButton13, 99, 11},
                                           HoverCase{"PushButton6", C::PushButton6, 99, 11},
                                           HoverCase{"PushButton1", C::PushButton1, 99, 11},
                                           HoverCase{"PushButton3", C::PushButton3, 99, 11},
                                           HoverCase{"PushButton7", C::PushButton7, 99, 99}),
                         [](const ::testing::TestParamInfo<HoverCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Form1State, OptionButtonsAreMutuallyExclusive) {
    ScriptedShell shell;
    Form1 form(shell);
    EXPECT_TRUE(form.Option1());
    EXPECT_FALSE(form.Option2());
    form.setOption2(true);
    EXPECT_FALSE(form.Option1());
    EXPECT_TRUE(form.Option2());
    form.setOption1(true);
    EXPECT_TRUE(form.Option1());
    EXPECT_EQ(form.Check2(), 0);
    EXPECT_EQ(form.PushButton7Caption(), QStringLiteral("Start Finding Links Within URL"));
}

} // namespace
