#include "window/Startup.h"

#include "base/Failure.h"
#include "base/Messages.h"
#include "tests/support/CursorFileMaker.h"
#include "tests/support/Files.h"
#include "tests/support/ScriptedShell.h"
#include "window/CursorFile.h"
#include "window/Form1.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct TitleCase {
    const char* longTitle;
    const char* shortened;
};

class ShortenedTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ShortenedTitleTest, DropsTheLastWordAndMoreWhileOverForty) {
    const TitleCase& c = GetParam();
    EXPECT_EQ(ShortenedTitle(QString::fromUtf8(c.longTitle)), QString::fromUtf8(c.shortened));
}

INSTANTIATE_TEST_SUITE_P(
    Titles, ShortenedTitleTest,
    ::testing::Values(TitleCase{"Orvelle Software", "Orvelle"}, TitleCase{"a b", "a"},
                      // At least one word always goes, even from a short title.
                      TitleCase{"One Two Three", "One Two"},
                      // 41 characters after the first cut: one more word goes.
                      TitleCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbbbb cc",
                                "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
                      // Exactly 40 after the first cut: nothing more goes.
                      TitleCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbbbb cc",
                                "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbbbb"},
                      TitleCase{"Orvelle ", "Orvelle"}));

TEST(ShortenedTitle, ATitleWithoutABlankCannotBeShortened) {
    EXPECT_THROW(ShortenedTitle(QStringLiteral("Orvelle")), Failure);
    // Forty-one letters in one word after the first cut: the second cut fails.
    EXPECT_THROW(ShortenedTitle(QString(41, QLatin1Char('x')) + QStringLiteral(" y")), Failure);
}

class FormLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        form.ApplicationFolder = folder.path();
    }
    QString cursorPath() const { return folder.filePath(QStringLiteral("HAND-M.CUR")); }

    QTemporaryDir folder;
    ScriptedShell shell;
    Form1 form{shell};
};

TEST_F(FormLoadTest, WithoutCompanionFilesSetsUpTheWindowSilently) {
    SetApplicationTitle(QStringLiteral("orvelle_tests"));
    form.Form_Load();
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(form.Caption(), QStringLiteral("Orvelle Software"));
    EXPECT_EQ(form.Icon(), Form1::ApplicationIconName);
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Orvelle"));
    EXPECT_TRUE(form.MouseIconPath().isEmpty());
    ASSERT_EQ(form.ListView1.ColumnCount(), 1);
    EXPECT_EQ(form.ListView1.ColumnText(1), QStringLiteral("URL(s)"));
    EXPECT_EQ(form.ListView1.ColumnWidth(1), 7000);
    ASSERT_EQ(form.ListView2.ColumnCount(), 1);
    EXPECT_EQ(form.ListView2.ColumnText(1), QStringLiteral("Result(s)"));
    EXPECT_EQ(form.ListView2.ColumnWidth(1), 7000);
    EXPECT_EQ(form.ListView1.Count(), 0);
    EXPECT_EQ(form.ListView2.Count(), 0);
    EXPECT_TRUE(form.Option1());
    EXPECT_EQ(form.Check2(), 0);
    EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
}

TEST_F(FormLoadTest, LoadsTheCustomPointerFromTheProgramsFolder) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(cursorPath(), MakeCursorFile(32, 6, 2)));
    form.Form_Load();
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(form.MouseIconPath(), cursorPath());
}

TEST_F(FormLoadTest, ADamagedPointerFileIsReportedAt106AndStartUpGoesOn) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(cursorPath(), MakeCursorFile(32, 6, 2).left(30)));
    form.Form_Load();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text,
              ApplicationErrorText(QStringLiteral("Invalid picture"),
                                   QStringLiteral("in Quillmere2021/08/31.Form1.Form_Load "), 106));
    EXPECT_EQ(shell.messages[0].style, MsgStyle::Exclamation);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Application Error"));
    EXPECT_TRUE(form.MouseIconPath().isEmpty());
    EXPECT_EQ(form.Caption(), QStringLiteral("Orvelle Software"));
    EXPECT_EQ(form.ListView2.ColumnCount(), 1);
}

TEST(FormUnload, EndsTheProgramThroughTheShell) {
    ScriptedShell shell;
    Form1 form(shell);
    form.Form_Unload();
    EXPECT_TRUE(shell.programEnded);
}

struct CursorCase {
    const char* name;
    QByteArray bytes;
    bool valid;
    int hotX, hotY;
};

class CursorFileTest : public ::testing::TestWithParam<CursorCase> {};

TEST_P(CursorFileTest, ReadsTheHotSpotOrRefusesTheFile) {
    const CursorCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("HAND-M.CUR"));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(path, c.bytes));
    if (!c.valid) {
        try {
            ReadCursorFile(path);
            FAIL() << c.name << " was accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), 481) << c.name;
        }
        return;
    }
    const CursorFileInfo info = ReadCursorFile(path);
    EXPECT_EQ(info.width, 32) << c.name;
    EXPECT_EQ(info.hotX, c.hotX) << c.name;
    EXPECT_EQ(info.hotY, c.hotY) << c.name;
}

QByteArray withByte(QByteArray bytes, int at, char value) {
    bytes[at] = value;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CursorFileTest,
    ::testing::Values(
        CursorCase{"cursor", MakeCursorFile(32, 6, 2), true, 6, 2},
        // An icon has no hot spot of its own: it points with its centre.
        CursorCase{"icon", MakeCursorFile(32, 0, 0, 0xff000000, 1), true, 16, 16},
        // A hot spot outside the picture is kept on its edge.
        CursorCase{"hot spot outside", MakeCursorFile(32, 90, 40), true, 31, 31},
        CursorCase{"empty", QByteArray(), false, 0, 0},
        CursorCase{"text", QByteArray("not a cursor at all, only some words"), false, 0, 0},
        CursorCase{"cut short", MakeCursorFile(32, 6, 2).left(200), false, 0, 0},
        CursorCase{"other type", withByte(MakeCursorFile(32, 6, 2), 2, 3), false, 0, 0},
        CursorCase{"no pictures", withByte(MakeCursorFile(32, 6, 2), 4, 0), false, 0, 0},
        CursorCase{"no bitmap header", withByte(MakeCursorFile(32, 6, 2), 22, 12), false, 0, 0}),
    [](const ::testing::TestParamInfo<CursorCase>& info) {
        QString name = QString::fromLatin1(info.param.name);
        name.replace(QLatin1Char(' '), QLatin1Char('_'));
        return name.toStdString();
    });

TEST(CursorFile, AMissingFileIsAFailureWithThePlatformsText) {
    QTemporaryDir dir;
    try {
        ReadCursorFile(dir.filePath(QStringLiteral("missing.cur")));
        FAIL() << "a missing file was read";
    } catch (const Failure& f) {
        EXPECT_FALSE(f.description().isEmpty());
    }
}

} // namespace
