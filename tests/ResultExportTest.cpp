#include "app/Form1.h"
#include "app/Messages.h"
#include "export/ClipboardCopy.h"
#include "export/ListSnapshot.h"
#include "export/SaveComma.h"
#include "export/SaveList.h"
#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedShell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// A list of any number of columns: rows[j][k] is column k + 1 of item j + 1.
void Fill(ListView& list, const QStringList& headers, const QList<QStringList>& rows) {
    for (const QString& header : headers)
        list.AddColumn(header);
    for (const QStringList& row : rows) {
        const int position = list.Add(row.value(0));
        for (int k = 1; k < row.size(); ++k)
            list.SetSubItem(position, k, row[k]);
    }
}

const QStringList ResultsHeader{QStringLiteral("Result(s)")};
const QList<QStringList> WorkedExample{{"index.htm"}, {"docs/manual.pdf"}, {"a.zip"}};
const QByteArray WorkedExampleSpaced = "Result(s)      \t\r\n"
                                       "index.htm      \t\r\n"
                                       "docs/manual.pdf\t\r\n"
                                       "a.zip          \t\r\n";
const QByteArray WorkedExampleComma = "index.htm,\r\ndocs/manual.pdf,\r\na.zip\r\n";

// The two export routines, for cases where they behave alike.
struct Routine {
    const char* name;
    void (*save)(Shell&, const ListView&, const QString&);
    const char* module;
    const char* routine;
    QByteArray (*bytes)(const ListSnapshot&);
};
const Routine Spaced{"Spaced", SaveListviewProperlySpaced, "SaveList", "SaveListviewProperlySpaced",
                     SpacedFileBytes};
const Routine Comma{"Comma", SaveListviewAsCommaDelimToFile, "SaveComma",
                    "SaveListviewAsCommaDelimToFile", CommaDelimitedFileBytes};

void PrintTo(const Routine& r, std::ostream* os) {
    *os << r.name;
}

QString ErrorText(const Routine& r, const QString& description, int statement) {
    return ApplicationErrorText(description, QualifiedName(r.module, r.routine), statement);
}

QStringList FilesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
}
} // namespace

// --- The three formats, byte for byte ---------------------------------------

struct FormatCase {
    const char* name;
    QStringList headers;
    QList<QStringList> rows;
    QByteArray spaced;
    QByteArray comma;
    QString clipboard;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.name;
}

class ExportFormat : public ::testing::TestWithParam<FormatCase> {
protected:
    ExportFormat() { Fill(list, GetParam().headers, GetParam().rows); }
    ScriptedShell shell;
    ListView list;
    QTemporaryDir dir;
};

TEST_P(ExportFormat, SpacedFile) {
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    SaveListviewProperlySpaced(shell, list, path);
    EXPECT_EQ(ReadBytes(path), GetParam().spaced);
    EXPECT_EQ(SpacedFileBytes(ListSnapshot::Of(list)), GetParam().spaced);
    EXPECT_TRUE(shell.messages.empty());
}

TEST_P(ExportFormat, CommaFile) {
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    SaveListviewAsCommaDelimToFile(shell, list, path);
    EXPECT_EQ(ReadBytes(path), GetParam().comma);
    EXPECT_EQ(CommaDelimitedFileBytes(ListSnapshot::Of(list)), GetParam().comma);
    EXPECT_TRUE(shell.messages.empty());
}

TEST_P(ExportFormat, ClipboardText) {
    shell.clipboard = QStringLiteral("before");
    EXPECT_TRUE(CopyListviewToClipboard(shell, list));
    if (GetParam().rows.isEmpty()) {
        EXPECT_EQ(shell.clipboard, QStringLiteral("before"));
        EXPECT_EQ(shell.clipboardClearAttempts, 0);
        EXPECT_EQ(shell.clipboardSetAttempts, 0);
    } else {
        EXPECT_EQ(shell.clipboard, GetParam().clipboard);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExportFormat,
    ::testing::Values(
        FormatCase{"WorkedExample", ResultsHeader, WorkedExample, WorkedExampleSpaced,
                   WorkedExampleComma, "index.htm\r\ndocs/manual.pdf\r\na.zip\r\n"},
        FormatCase{"EmptyList", ResultsHeader, {}, "Result(s)\t\r\n", "", ""},
        FormatCase{"OneResult",
                   ResultsHeader,
                   {{"a.zip"}},
                   "Result(s)\t\r\na.zip    \t\r\n",
                   "a.zip\r\n",
                   "a.zip\r\n"},
        FormatCase{"ResultWithCommaIsNotQuoted",
                   ResultsHeader,
                   {{"a,b"}, {"c"}},
                   "Result(s)\t\r\na,b      \t\r\nc        \t\r\n",
                   "a,b,\r\nc\r\n",
                   "a,b\r\nc\r\n"},
        FormatCase{"TrailingBlanksOffTheClipboardOnly",
                   ResultsHeader,
                   {{"a  "}, {"bb"}},
                   "Result(s)\t\r\na        \t\r\nbb       \t\r\n",
                   "a  ,\r\nbb\r\n",
                   "a\r\nbb\r\n"},
        FormatCase{"TwoColumns",
                   {"URL", "Kind"},
                   {{"http://a/", "page"}, {"b", "file link"}},
                   "URL      \tKind     \t\r\nhttp://a/\tpage     \t\r\nb        \tfile link\t\r\n",
                   "URL,Kind,\r\nhttp://a/,page\r\nb,file link\r\n",
                   "http://a/\tpage\r\nb        \tfile link\r\n"},
        // Widths count 16-bit characters; the bytes are UTF-8.
        FormatCase{"WidthsCountUtf16Characters",
                   ResultsHeader,
                   {{QStringLiteral("\u00FC123456789\u00FC")}, {QStringLiteral("\U0001F600")}},
                   "Result(s)  \t\r\n\xC3\xBC"
                   "123456789\xC3\xBC\t\r\n"
                   "\xF0\x9F\x98\x80         \t\r\n",
                   "\xC3\xBC"
                   "123456789\xC3\xBC,\r\n\xF0\x9F\x98\x80\r\n",
                   QStringLiteral("\u00FC123456789\u00FC\r\n\U0001F600\r\n")}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Failures: one dialog, nothing half-written -----------------------------

class ExportRoutine : public ::testing::TestWithParam<Routine> {
protected:
    ExportRoutine() { Fill(list, ResultsHeader, WorkedExample); }
    ScriptedShell shell;
    ListView list;
    QTemporaryDir dir;
};

TEST_P(ExportRoutine, MissingFolderGivesOneDialogAndNoFile) {
    const QString path = dir.filePath(QStringLiteral("no such folder/out.txt"));
    GetParam().save(shell, list, path);
    ASSERT_EQ(shell.messages.size(), 1u);
    const int statement = GetParam().save == SaveListviewProperlySpaced ? 156 : 120;
    EXPECT_EQ(shell.messages[0].text,
              ErrorText(GetParam(), QStringLiteral("No such file or directory"), statement));
    EXPECT_EQ(shell.messages[0].style, MsgStyle::Exclamation);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Application Error"));
    EXPECT_TRUE(FilesIn(dir).isEmpty());
}

TEST_P(ExportRoutine, FolderAsTargetGivesOneDialog) {
    shell.answers = {MsgAnswer::Yes};
    GetParam().save(shell, list, dir.path());
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages.back().style, MsgStyle::Exclamation);
    EXPECT_EQ(shell.messages.size(), GetParam().save == SaveListviewAsCommaDelimToFile ? 2u : 1u);
    EXPECT_TRUE(QFileInfo(dir.path()).isDir());
}

TEST_P(ExportRoutine, FullDeviceGivesOneDialog) {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full here";
    shell.answers = {MsgAnswer::Yes}; // the comma export asks first
    GetParam().save(shell, list, QStringLiteral("/dev/full"));
    const auto& messages = shell.messages;
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().style, MsgStyle::Exclamation);
    EXPECT_TRUE(messages.back().text.startsWith(QStringLiteral("No space left on device\r\n")))
        << qPrintable(messages.back().text);
    const size_t questions = GetParam().save == SaveListviewAsCommaDelimToFile ? 1 : 0;
    EXPECT_EQ(messages.size(), questions + 1);
    struct stat st;
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device must not be replaced by a file";
}

TEST_P(ExportRoutine, NulInTheNameWritesNoOtherFile) {
    shell.answers = {MsgAnswer::Yes};
    GetParam().save(shell, list, dir.filePath(QStringLiteral("a.txt")) + QChar(0) + "b");
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].style, MsgStyle::Exclamation);
    EXPECT_TRUE(FilesIn(dir).isEmpty());
}

TEST_P(ExportRoutine, FifoWithoutReaderGivesOneDialogAtOnce) {
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    shell.answers = {MsgAnswer::Yes};
    GetParam().save(shell, list, fifo);
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages.back().style, MsgStyle::Exclamation);
}

// A write that fails half-way, here at a file size limit, must leave the old file
// as it was: the export is written beside it and only a complete one replaces it.
TEST_P(ExportRoutine, WriteFailingHalfWayLeavesTheOldFileIntact) {
    ListView big;
    QStringList texts;
    for (int i = 0; i < 60'000; ++i)
        texts.append(QStringLiteral("http://host.example/dir/page%1.html").arg(i));
    Fill(big, ResultsHeader, {});
    for (const QString& text : texts)
        big.Add(text);
    const QString path = dir.filePath(QStringLiteral("results.txt"));
    const QByteArray old = "the old results\r\n";
    WriteBytes(path, old);
    const int statement = GetParam().save == SaveListviewProperlySpaced ? 222 : 172;
    const QString expected = ErrorText(GetParam(), QStringLiteral("File too large"), statement);

    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ScriptedShell childShell;
        childShell.answers = {MsgAnswer::Yes};
        GetParam().save(childShell, big, path);
        int code = 0;
        const size_t questions = GetParam().save == SaveListviewAsCommaDelimToFile ? 1 : 0;
        if (childShell.messages.size() != questions + 1)
            code |= 1;
        else if (childShell.messages.back().text != expected)
            code |= 2;
        if (ReadBytes(path) != old)
            code |= 4;
        if (FilesIn(dir) != QStringList{QStringLiteral("results.txt")})
            code |= 8;
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not one dialog, 2: wrong dialog text, "
                                         "4: old file changed, 8: stray files left";
    EXPECT_EQ(ReadBytes(path), old);
}

TEST_P(ExportRoutine, ExistingFileIsReplacedWhole) {
    const QString path = dir.filePath(QStringLiteral("results.txt"));
    WriteBytes(path, QByteArray(10'000, 'o'));
    shell.answers = {MsgAnswer::Yes};
    GetParam().save(shell, list, path);
    EXPECT_EQ(ReadBytes(path), GetParam().save == SaveListviewProperlySpaced ? WorkedExampleSpaced
                                                                             : WorkedExampleComma);
    EXPECT_EQ(FilesIn(dir), QStringList{QStringLiteral("results.txt")});
}

// "Clear Results" can run inside one of the export's yields; what was there when
// the export started is written whole.
TEST_P(ExportRoutine, ClearingTheListDuringTheExportWritesTheSnapshot) {
    shell.everyStep = true;
    shell.at(YieldPlace::Export, 2, [&] { list.Clear(); });
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    GetParam().save(shell, list, path);
    EXPECT_EQ(list.Count(), 0) << "the list was cleared meanwhile";
    EXPECT_EQ(ReadBytes(path), GetParam().save == SaveListviewProperlySpaced ? WorkedExampleSpaced
                                                                             : WorkedExampleComma);
    EXPECT_TRUE(shell.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Routines, ExportRoutine, ::testing::Values(Spaced, Comma),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Targets that are not regular files -------------------------------------

TEST(ExportTarget, FifoIsWrittenDirectlyAndStaysAFifo) {
    QTemporaryDir dir;
    ScriptedShell shell;
    ListView list;
    Fill(list, ResultsHeader, WorkedExample);
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    const QByteArray native = QFile::encodeName(fifo);
    ASSERT_EQ(::mkfifo(native.constData(), 0600), 0);
    const int reader = ::open(native.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    SaveListviewProperlySpaced(shell, list, fifo);
    char buffer[4096];
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(QByteArray(buffer, got > 0 ? got : 0), WorkedExampleSpaced);
    struct stat st;
    ASSERT_EQ(::stat(native.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(ExportTarget, SymbolicLinkKeepsPointingAtTheReplacedFile) {
    QTemporaryDir dir;
    ScriptedShell shell;
    ListView list;
    Fill(list, ResultsHeader, WorkedExample);
    const QString target = dir.filePath(QStringLiteral("target.txt"));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    WriteBytes(target, "old");
    ASSERT_TRUE(QFile::link(target, link));
    SaveListviewProperlySpaced(shell, list, link);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadBytes(target), WorkedExampleSpaced);
}

// --- The comma export's own question ----------------------------------------

TEST(CommaExport, NoToItsQuestionLeavesTheFileUntouched) {
    QTemporaryDir dir;
    ScriptedShell shell;
    ListView list;
    Fill(list, ResultsHeader, WorkedExample);
    const QString path = dir.filePath(QStringLiteral("results.txt"));
    WriteBytes(path, "keep me");
    shell.answers = {MsgAnswer::No};
    SaveListviewAsCommaDelimToFile(shell, list, path);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text,
              QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"));
    EXPECT_EQ(shell.messages[0].style, MsgStyle::YesNo);
    EXPECT_EQ(shell.messages[0].title, QStringLiteral("Orvelle"));
    EXPECT_EQ(ReadBytes(path), QByteArray("keep me"));
}

TEST(ClipboardCopy, ClearingTheListDuringTheCopyCopiesTheSnapshot) {
    ScriptedShell shell;
    ListView list;
    Fill(list, ResultsHeader, WorkedExample);
    shell.everyStep = true;
    shell.at(YieldPlace::Copy, 2, [&] { list.Clear(); });
    EXPECT_TRUE(CopyListviewToClipboard(shell, list));
    EXPECT_EQ(shell.clipboard, QStringLiteral("index.htm\r\ndocs/manual.pdf\r\na.zip\r\n"));
}
