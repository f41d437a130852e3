#include "export/SaveComma.h"
#include "export/SaveList.h"
#include "tests/gui/WindowFixture.h"
#include "tests/support/Files.h"

#include <QFile>
#include <QTest>

namespace {

class ButtonWiringTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        start();
    }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
};

TEST_F(ButtonWiringTest, TheUrlListButtonsCallTheirHandlers) {
    shell.inputs.push_back(QStringLiteral("www.one.example"));
    click("PushButton5");
    EXPECT_EQ(shell.prompts.size(), 1u);
    EXPECT_EQ(form->ListView1.Count(), 1);

    click("PushButton2");
    EXPECT_EQ(form->ListView1.Count(), 3);

    click("PushButton13");
    ASSERT_EQ(shell.dialogs.size(), 1u);
    EXPECT_FALSE(shell.dialogs[0].save);

    click("PushButton11");
    EXPECT_EQ(form->ListView1.Count(), 0);
}

TEST_F(ButtonWiringTest, TheResultsButtonsCallTheirHandlers) {
    form->ListView2.Add(QStringLiteral("http://a.example/"));
    form->ListView2.Add(QStringLiteral("http://b.example/page.html"));

    // Each save button writes its own format: the same bytes as its routine.
    const QString spaced = folder.filePath(QStringLiteral("spaced.txt"));
    const QString comma = folder.filePath(QStringLiteral("comma.txt"));
    shell.dialogAnswers.push_back({spaced});
    click("PushButton6");
    shell.dialogAnswers.push_back({comma});
    click("PushButton1");
    ScriptedShell quiet;
    SaveListviewProperlySpaced(quiet, form->ListView2, folder.filePath(QStringLiteral("s")));
    SaveListviewAsCommaDelimToFile(quiet, form->ListView2, folder.filePath(QStringLiteral("c")));
    EXPECT_TRUE(QFile::exists(spaced));
    EXPECT_TRUE(QFile::exists(comma));
    EXPECT_EQ(ReadBytes(spaced), ReadBytes(folder.filePath(QStringLiteral("s"))));
    EXPECT_EQ(ReadBytes(comma), ReadBytes(folder.filePath(QStringLiteral("c"))));
    EXPECT_NE(ReadBytes(spaced), ReadBytes(comma));

    click("PushButton3");
    EXPECT_TRUE(shell.clipboard.contains(QStringLiteral("http://b.example/page.html")));

    click("PushButton9");
    EXPECT_EQ(form->ListView2.Count(), 0);
}

} // namespace
