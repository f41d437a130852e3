#include "base/Messages.h"
#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
QString Question(const QString& path) {
    return QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?");
}

class ResultCommands : public ::testing::Test {
protected:
    ResultCommands() : form(shell) {
        form.ListView2.AddColumn(QStringLiteral("Result(s)"));
        for (const char* text : {"index.htm", "docs/manual.pdf", "a.zip"})
            form.ListView2.Add(QLatin1String(text));
    }
    ScriptedShell shell;
    Form1 form;
    QTemporaryDir dir;
};
} // namespace

// --- "Save Results As Text File" and "Save As Comma Delimited" --------------

struct SaveCommand {
    const char* name;
    void (Form1::*click)();
    QByteArray written;
    // How often an existing file is asked about: the comma export asks again.
    size_t questions;
    const char* exportModule;
    const char* exportRoutine;
};

void PrintTo(const SaveCommand& c, std::ostream* os) {
    *os << c.name;
}

class SaveCommands : public ResultCommands, public ::testing::WithParamInterface<SaveCommand> {
protected:
    void click() { (form.*GetParam().click)(); }
    QString pathOf(const char* name) const { return dir.filePath(QLatin1String(name)); }
};

TEST_P(SaveCommands, DialogIsSetUpBeforeItShows) {
    form.CommonDialog1.FileName = QStringLiteral("left over");
    click();
    ASSERT_EQ(shell.dialogs.size(), 1u);
    const auto& shown = shell.dialogs[0];
    EXPECT_TRUE(shown.save);
    EXPECT_EQ(shown.fileName, QString());
    EXPECT_EQ(shown.flags, 2621953);
    EXPECT_EQ(shown.title, QStringLiteral("Save"));
    EXPECT_EQ(shown.filter, QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
}

TEST_P(SaveCommands, CancelWritesNothingAndSaysNothing) {
    shell.dialogAnswers.push_back({QString()});
    click();
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
}

TEST_P(SaveCommands, NewNameIsWrittenUnchangedWithoutQuestion) {
    shell.dialogAnswers.push_back({pathOf("results")});
    click();
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(ReadBytes(pathOf("results")), GetParam().written);
    EXPECT_FALSE(QFile::exists(pathOf("results.txt")));
}

TEST_P(SaveCommands, NoToTheQuestionLeavesTheFileUntouched) {
    const QString path = pathOf("results.txt");
    WriteBytes(path, "keep me");
    shell.dialogAnswers.push_back({path});
    shell.answers = {MsgAnswer::No};
    click();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, Question(path));
    EXPECT_EQ(shell.messages[0].style, MsgStyle::YesNo);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Orvelle"));
    EXPECT_EQ(ReadBytes(path), QByteArray("keep me"));
}

TEST_P(SaveCommands, YesToEveryQuestionReplacesTheFile) {
    const QString path = pathOf("results.txt");
    WriteBytes(path, "old");
    shell.dialogAnswers.push_back({path});
    shell.answers = {MsgAnswer::Yes, MsgAnswer::Yes};
    click();
    ASSERT_EQ(shell.messages.size(), GetParam().questions);
    for (const auto& message : shell.messages)
        EXPECT_EQ(message.text, Question(path));
    EXPECT_EQ(ReadBytes(path), GetParam().written);
}

TEST_P(SaveCommands, HourglassWhileWritingAndArrowAfter) {
    shell.everyStep = true;
    std::vector<int> pointers;
    shell.onEvery(YieldPlace::Export, [&] { pointers.push_back(form.MousePointer()); });
    shell.dialogAnswers.push_back({pathOf("results.txt")});
    click();
    ASSERT_FALSE(pointers.empty());
    for (int pointer : pointers)
        EXPECT_EQ(pointer, Form1::PointerHourglass);
    EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
}

// "Clear Results" does not wait for the hourglass: pressed during the save, it
// empties the list while the file gets every result there was at the start.
TEST_P(SaveCommands, ClearResultsDuringTheSaveLeavesTheFileWhole) {
    shell.everyStep = true;
    shell.at(YieldPlace::Export, 2, [&] { form.PushButton9_Click(); });
    shell.dialogAnswers.push_back({pathOf("results.txt")});
    click();
    EXPECT_EQ(form.ListView2.Count(), 0);
    EXPECT_EQ(ReadBytes(pathOf("results.txt")), GetParam().written);
    EXPECT_TRUE(shell.messages.empty());
}

TEST_P(SaveCommands, MissingFolderGivesOneDialogAndTheArrow) {
    shell.dialogAnswers.push_back({pathOf("missing/results.txt")});
    click();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.contains(
        QualifiedName(GetParam().exportModule, GetParam().exportRoutine)))
        << qPrintable(shell.messages[0].text);
    EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
}

TEST_P(SaveCommands, FailingDialogIsReportedAndNothingWritten) {
    shell.dialogAnswers.push_back({QString(), 32755});
    click();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text,
              ApplicationErrorText(QStringLiteral("The buffer is too small"),
                                   QualifiedName("Form1", GetParam().name), 114));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SaveCommands,
    ::testing::Values(SaveCommand{"PushButton6_Click", &Form1::PushButton6_Click,
                                  "Result(s)      \t\r\nindex.htm      \t\r\n"
                                  "docs/manual.pdf\t\r\na.zip          \t\r\n",
                                  1, "SaveList", "SaveListviewProperlySpaced"},
                      SaveCommand{"PushButton1_Click", &Form1::PushButton1_Click,
                                  "index.htm,\r\ndocs/manual.pdf,\r\na.zip\r\n", 2, "SaveComma",
                                  "SaveListviewAsCommaDelimToFile"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResultCommands, CommaSaveAsksTwiceAndNoTheSecondTimeLeavesTheFile) {
    const QString path = dir.filePath(QStringLiteral("results.txt"));
    WriteBytes(path, "keep me");
    shell.dialogAnswers.push_back({path});
    shell.answers = {MsgAnswer::Yes, MsgAnswer::No};
    form.PushButton1_Click();
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[0].text, Question(path));
    EXPECT_EQ(shell.messages[1].text, Question(path));
    EXPECT_EQ(ReadBytes(path), QByteArray("keep me"));
    EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
}

TEST_F(ResultCommands, EmptyResultsStillWriteAFile) {
    form.ListView2.Clear();
    shell.dialogAnswers = {{dir.filePath(QStringLiteral("a.txt"))},
                           {dir.filePath(QStringLiteral("b.csv"))}};
    form.PushButton6_Click();
    form.PushButton1_Click();
    EXPECT_EQ(ReadBytes(dir.filePath(QStringLiteral("a.txt"))), QByteArray("Result(s)\t\r\n"));
    EXPECT_EQ(ReadBytes(dir.filePath(QStringLiteral("b.csv"))), QByteArray());
}

// --- "Copy Results To Clipboard" --------------------------------------------

const QString CopiedMessage = QStringLiteral(
    "Results have been copied to the clipboard.\r\rClick a text area where you normally type "
    "and press Ctrl+V to paste the clipboard.");
const QString BusyMessage =
    QStringLiteral("The clipboard is in use by another program; the results were not copied.");

TEST_F(ResultCommands, CopyPlacesTheResultsAndSaysHowToPaste) {
    form.PushButton3_Click();
    EXPECT_EQ(shell.clipboard, QStringLiteral("index.htm\ndocs/manual.pdf\na.zip\n"));
    EXPECT_EQ(shell.clipboard.size(), 32);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, CopiedMessage);
    EXPECT_EQ(shell.messages[0].style, MsgStyle::OkOnly);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Orvelle"));
    EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
}

TEST_F(ResultCommands, CopyOfEmptyResultsLeavesTheClipboardButShowsTheMessage) {
    form.ListView2.Clear();
    shell.clipboard = QStringLiteral("someone else's text");
    form.PushButton3_Click();
    EXPECT_EQ(shell.clipboard, QStringLiteral("someone else's text"));
    EXPECT_EQ(shell.clipboardClearAttempts + shell.clipboardSetAttempts, 0);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, CopiedMessage);
}

TEST_F(ResultCommands, BrieflyBusyClipboardIsRetried) {
    shell.clipboardBusyAttempts = 5;
    form.PushButton3_Click();
    EXPECT_EQ(shell.clipboard, QStringLiteral("index.htm\ndocs/manual.pdf\na.zip\n"));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, CopiedMessage);
}

TEST_F(ResultCommands, ClipboardBusyForEveryAttemptIsNotCalledACopy) {
    shell.clipboardBusyAttempts = 1'000'000;
    form.PushButton3_Click();
    EXPECT_EQ(shell.clipboardClearAttempts, 1000);
    EXPECT_EQ(shell.clipboardSetAttempts, 1000);
    EXPECT_FALSE(shell.clipboardEverSet);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, BusyMessage);
    EXPECT_EQ(shell.messages[0].style, MsgStyle::OkOnly);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Orvelle"));
}
