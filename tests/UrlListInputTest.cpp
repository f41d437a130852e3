#include "base/Messages.h"
#include "lists/FileToList.h"
#include "tests/support/Files.h"
#include "tests/support/Permissions.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QStringList Items(const ListView& list) {
    return list.Texts();
}

class UrlListInput : public ::testing::Test {
protected:
    UrlListInput() : form(shell) { form.ListView1.AddColumn(QStringLiteral("URL(s)")); }

    QString pathOf(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QString errorText(const QString& description, int statement) const {
        return ApplicationErrorText(description, QualifiedName("Form1", "PushButton13_Click"),
                                    statement);
    }

    ScriptedShell shell;
    Form1 form;
    QTemporaryDir dir;
};
} // namespace

// --- Add One URL -----------------------------------------------------------

struct PromptCase {
    const char* name;
    QString answer;
    QStringList added;
};

void PrintTo(const PromptCase& c, std::ostream* os) {
    *os << c.name;
}

class AddOneUrl : public UrlListInput, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(AddOneUrl, AppendsTheAnswerVerbatim) {
    shell.inputs.push_back(GetParam().answer);
    form.PushButton5_Click();
    ASSERT_EQ(shell.prompts.size(), 1u);
    EXPECT_EQ(shell.prompts[0].text, QStringLiteral("Enter website address to add: "));
    EXPECT_EQ(shell.prompts[0].title, QStringLiteral("Orvelle"));
    EXPECT_EQ(Items(form.ListView1), GetParam().added);
    EXPECT_TRUE(shell.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AddOneUrl,
    ::testing::Values(PromptCase{"CancelledAddsNothing", QString(), {}},
                      PromptCase{"AddressAdded",
                                 QStringLiteral("www.example.net"),
                                 {QStringLiteral("www.example.net")}},
                      PromptCase{"TwoBlanksKept", QStringLiteral("  "), {QStringLiteral("  ")}},
                      PromptCase{"LeadingAndTrailingBlanksKept",
                                 QStringLiteral(" a.example "),
                                 {QStringLiteral(" a.example ")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UrlListInput, SameAddressTwiceGivesTwoItems) {
    shell.inputs = {QStringLiteral("a.example"), QStringLiteral("a.example")};
    form.PushButton5_Click();
    form.PushButton5_Click();
    EXPECT_EQ(Items(form.ListView1), QStringList({"a.example", "a.example"}));
}

TEST_F(UrlListInput, SampleButtonAppendsBothSitesOnEveryPress) {
    form.ListView1.Add(QStringLiteral("first"));
    form.PushButton2_Click();
    form.PushButton2_Click();
    EXPECT_EQ(Items(form.ListView1), QStringList({"first", "www.example.com", "www.example.org",
                                                  "www.example.com", "www.example.org"}));
    EXPECT_TRUE(shell.messages.empty());
}

// --- Load URL List From File: line ends and content -------------------------

struct FileCase {
    const char* name;
    QByteArray bytes;
    QStringList items;
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadUrlListFile : public UrlListInput, public ::testing::WithParamInterface<FileCase> {};

TEST_P(LoadUrlListFile, AppendsEveryLineAfterTheExistingItems) {
    const QString path = pathOf("list.txt");
    WriteBytes(path, GetParam().bytes);
    form.ListView1.Add(QStringLiteral("existing"));
    shell.dialogAnswers.push_back({path});
    form.PushButton13_Click();
    EXPECT_EQ(Items(form.ListView1), QStringList{"existing"} + GetParam().items);
    EXPECT_TRUE(shell.messages.empty()) << qPrintable(shell.messages[0].text);
}

const QByteArray LongLine((1 << 20) - 1, 'x');

INSTANTIATE_TEST_SUITE_P(
    Files, LoadUrlListFile,
    ::testing::Values(
        FileCase{"CrLf", "one\r\ntwo\r\nthree\r\n", {"one", "two", "three"}},
        FileCase{"LfAddsTrailingEmptyItem", "one\ntwo\nthree\n", {"one", "two", "three", ""}},
        FileCase{"Cr", "one\rtwo\rthree\r", {"one", "two", "three"}},
        FileCase{"NoLineEndAtTheEnd", "one\r\ntwo", {"one", "two"}},
        FileCase{"BlankLineGivesEmptyItem", "one\r\n\r\nthree\r\n", {"one", "", "three"}},
        FileCase{"EmptyFileAddsNothing", "", {}},
        FileCase{"LfInsideCrLine", "a\nb\r\nc", {"a", "b", "c"}},
        FileCase{"BlanksAndTabsKept", " a \t\r\n", {" a \t"}},
        FileCase{"ByteOrderMarkStaysInFirstItem",
                 "\xEF\xBB\xBFone\r\ntwo\r\n",
                 {QChar(0xFEFF) + QStringLiteral("one"), "two"}},
        FileCase{"Utf8", "caf\xC3\xA9.example\r\n", {QStringLiteral("caf\u00E9.example")}},
        FileCase{"NulBytesKept",
                 QByteArray("a\0b\r\n", 5),
                 {QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")}},
        FileCase{
            "CrLfAcrossReadBoundary", LongLine + "\r\nz", {QString::fromLatin1(LongLine), "z"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Load URL List From File: the dialog and its answers --------------------

TEST_F(UrlListInput, OpenDialogIsSetUpBeforeItShows) {
    form.CommonDialog1.FileName = QStringLiteral("left over");
    form.PushButton13_Click();
    ASSERT_EQ(shell.dialogs.size(), 1u);
    const auto& shown = shell.dialogs[0];
    EXPECT_FALSE(shown.save);
    EXPECT_EQ(shown.fileName, QString());
    EXPECT_EQ(shown.flags, 2621441);
    EXPECT_EQ(shown.title,
              QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files"));
    EXPECT_EQ(shown.filter, QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*"));
}

TEST_F(UrlListInput, CancelledDialogAddsNothingAndSaysNothing) {
    shell.dialogAnswers.push_back({QString()});
    form.PushButton13_Click();
    EXPECT_EQ(form.ListView1.Count(), 0);
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(UrlListInput, MissingFileSaysFileNotFound) {
    shell.dialogAnswers.push_back({pathOf("missing.txt")});
    form.PushButton13_Click();
    EXPECT_EQ(form.ListView1.Count(), 0);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("File not found"));
    EXPECT_EQ(shell.messages[0].style, MsgStyle::OkOnly);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Orvelle"));
}

TEST_F(UrlListInput, SeveralNamesAskForJustOne) {
    const QString a = pathOf("a.txt");
    WriteBytes(a, "one\r\n");
    shell.dialogAnswers.push_back({dir.path() + QChar(0) + "a.txt" + QChar(0) + "b.txt"});
    form.PushButton13_Click();
    EXPECT_EQ(form.ListView1.Count(), 0);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Please select just one file."));
    EXPECT_EQ(shell.messages[0].style, MsgStyle::OkOnly);
}

TEST_F(UrlListInput, OverfullDialogSaysTooManyFilesAndEnds) {
    shell.dialogAnswers.push_back({QString(), 20476});
    form.PushButton13_Click();
    EXPECT_EQ(form.ListView1.Count(), 0);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text,
              QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                             "the \"Add All\" button."));
    EXPECT_EQ(shell.messages[0].style, MsgStyle::OkOnly);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Orvelle"));
}

struct OddPathCase {
    const char* name;
    // Makes the path in dir; an empty path when the case cannot be made here.
    std::function<QString(const QString& dir)> make;
    const char* description;
};

void PrintTo(const OddPathCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadOddPath : public UrlListInput, public ::testing::WithParamInterface<OddPathCase> {};

// A folder, a FIFO with no writer or an endless device would hang the window or
// fill the memory, and a file that cannot be read gives nothing to add: each is
// one failure reported at statement 118, at once, with the list unchanged. The
// command runs as an ordinary user would, so that permissions hold under root too.
TEST_P(LoadOddPath, IsReportedAtOnceAndAddsNothing) {
    const QString path = GetParam().make(dir.path());
    if (path.isEmpty())
        GTEST_SKIP() << "not available here";
    shell.dialogAnswers.push_back({path});
    const QByteArray report = InChildWithoutFileOverride([&] {
        form.PushButton13_Click();
        QStringList lines{QString::number(form.ListView1.Count())};
        for (const auto& message : shell.messages)
            lines.append(message.text);
        return lines.join(u'\n').toUtf8();
    });
    EXPECT_EQ(QString::fromUtf8(report),
              QStringLiteral("0\n") + errorText(QString::fromUtf8(GetParam().description), 118));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LoadOddPath,
    ::testing::Values(
        OddPathCase{"Folder", [](const QString& d) { return d; }, "not a regular file"},
        OddPathCase{"Fifo",
                    [](const QString& d) {
                        const QString fifo = d + QStringLiteral("/fifo");
                        return ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 ? fifo
                                                                                        : QString();
                    },
                    "not a regular file"},
        OddPathCase{"DevZero",
                    [](const QString&) {
                        return QFile::exists(QStringLiteral("/dev/zero"))
                                   ? QStringLiteral("/dev/zero")
                                   : QString();
                    },
                    "not a regular file"},
        // Refused whole: the lines before the fault are not added either.
        OddPathCase{"Utf16LittleEndian",
                    [](const QString& d) {
                        const QString file = d + QStringLiteral("/utf16le.txt");
                        WriteBytes(file, QByteArray("\xFF\xFEw\0w\0\r\0\n\0", 10));
                        return file;
                    },
                    "The file is UTF-16: save it as UTF-8."},
        OddPathCase{"Utf16BigEndian",
                    [](const QString& d) {
                        const QString file = d + QStringLiteral("/utf16be.txt");
                        WriteBytes(file, QByteArray("\xFE\xFF\0w\0w", 6));
                        return file;
                    },
                    "The file is UTF-16: save it as UTF-8."},
        OddPathCase{"LineLongerThan1MiB",
                    [](const QString& d) {
                        const QString file = d + QStringLiteral("/long.txt");
                        WriteBytes(file, "one\r\ntwo\r\n" + QByteArray((1 << 20) + 1, 'x'));
                        return file;
                    },
                    "Line 3 is longer than 1 MiB; nothing was added."},
        OddPathCase{"Unreadable",
                    [](const QString& d) {
                        const QString file = d + QStringLiteral("/unreadable.txt");
                        WriteBytes(file, "one\r\ntwo\r\n");
                        return ::chmod(QFile::encodeName(file).constData(), 0) == 0 ? file
                                                                                    : QString();
                    },
                    "Permission denied"}),
    [](const auto& info) { return std::string(info.param.name); });

// A list of a million addresses (about 40 MB) loads whole, and the list then
// answers every command at once.
TEST(HeavyUrlList, MillionLineFileLoadsAndTheListStaysUsable) {
    constexpr int Lines = 1'000'000;
    const auto line = [](int i) { return QStringLiteral("www.site%1.example/index.html").arg(i); };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("urls.txt"));
    {
        QByteArray bytes;
        for (int i = 1; i <= Lines; ++i)
            bytes += line(i).toLatin1() + "\r\n";
        WriteBytes(path, bytes);
    }
    ScriptedShell shell;
    Form1 form(shell);
    form.ListView1.AddColumn(QStringLiteral("URL(s)"));
    shell.dialogAnswers.push_back({path});
    form.PushButton13_Click();
    EXPECT_TRUE(shell.messages.empty());
    ASSERT_EQ(form.ListView1.Count(), Lines);
    EXPECT_EQ(form.ListView1.Text(1), line(1));
    EXPECT_EQ(form.ListView1.Text(Lines), line(Lines));

    form.ListView1.Select(Lines / 2);
    form.ListView1_KeyDown(Form1::DeleteKey);
    EXPECT_EQ(form.ListView1.Count(), Lines - 1);
    EXPECT_EQ(form.ListView1.Text(Lines / 2), line(Lines / 2 + 1));
    shell.inputs.push_back(QStringLiteral("www.last.example"));
    form.PushButton5_Click();
    EXPECT_EQ(form.ListView1.Text(Lines), QStringLiteral("www.last.example"));
    form.PushButton11_Click();
    EXPECT_EQ(form.ListView1.Count(), 0);
    EXPECT_TRUE(shell.messages.empty());
}

TEST(ReadUrlList, ReadsFromADescriptorAsFromAFile) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const QByteArray bytes = "one\r\ntwo\n";
    ASSERT_EQ(::write(fds[1], bytes.constData(), bytes.size()), bytes.size());
    ::close(fds[1]);
    QStringList items;
    ReadUrlList(fds[0], [&](const QString& item) { items.append(item); });
    ::close(fds[0]);
    EXPECT_EQ(items, QStringList({"one", "two", ""}));
}
