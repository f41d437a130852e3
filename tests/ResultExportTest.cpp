#include "base/Messages.h"
#include "export/ClipboardCopy.h"
#include "export/ListSnapshot.h"
#include "export/SaveComma.h"
#include "export/SaveList.h"
#include "tests/support/Files.h"
#include "tests/support/Permissions.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

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
// The files end their lines with CR LF; the clipboard with LF, as pasted text on
// Linux does.

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
                   WorkedExampleComma, "index.htm\ndocs/manual.pdf\na.zip\n"},
        FormatCase{"EmptyList", ResultsHeader, {}, "Result(s)\t\r\n", "", ""},
        FormatCase{"OneResult",
                   ResultsHeader,
                   {{"a.zip"}},
                   "Result(s)\t\r\na.zip    \t\r\n",
                   "a.zip\r\n",
                   "a.zip\n"},
        FormatCase{"ResultWithCommaIsNotQuoted",
                   ResultsHeader,
                   {{"a,b"}, {"c"}},
                   "Result(s)\t\r\na,b      \t\r\nc        \t\r\n",
                   "a,b,\r\nc\r\n",
                   "a,b\nc\n"},
        FormatCase{"TrailingBlanksOffTheClipboardOnly",
                   ResultsHeader,
                   {{"a  "}, {"bb"}},
                   "Result(s)\t\r\na        \t\r\nbb       \t\r\n",
                   "a  ,\r\nbb\r\n",
                   "a\nbb\n"},
        FormatCase{"TwoColumns",
                   {"URL", "Kind"},
                   {{"http://a/", "page"}, {"b", "file link"}},
                   "URL      \tKind     \t\r\nhttp://a/\tpage     \t\r\nb        \tfile link\t\r\n",
                   "URL,Kind,\r\nhttp://a/,page\r\nb,file link\r\n",
                   "http://a/\tpage\nb        \tfile link\n"},
        // Widths count 16-bit characters; the bytes are UTF-8.
        FormatCase{"WidthsCountUtf16Characters",
                   ResultsHeader,
                   {{QStringLiteral("\u00FC123456789\u00FC")}, {QStringLiteral("\U0001F600")}},
                   "Result(s)  \t\r\n\xC3\xBC"
                   "123456789\xC3\xBC\t\r\n"
                   "\xF0\x9F\x98\x80         \t\r\n",
                   "\xC3\xBC"
                   "123456789\xC3\xBC,\r\n\xF0\x9F\x98\x80\r\n",
                   QStringLiteral("\u00FC123456789\u00FC\n\U0001F600\n")}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Failures: one dialog, nothing half-written -----------------------------

class ExportRoutine : public ::testing::TestWithParam<Routine> {
protected:
    ExportRoutine() { Fill(list, ResultsHeader, WorkedExample); }
    ScriptedShell shell;
    ListView list;
    QTemporaryDir dir;
};

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

// --- Targets that cannot be written ----------------------------------------
//
// Each gives one "Application Error" dialog under the statement that met the
// failure, at once, and leaves the target as it was (after Yes to the comma
// export's question where the target exists). They run as an ordinary user
// would, so that permissions hold when the tests run as root.

struct TargetCase {
    const char* name;
    // Makes the target in dir; an empty path when it cannot be made here.
    QString (*make)(const QString& dir);
    // What the dialog says went wrong.
    QString (*description)(const QString& path);
    // True when creating the file fails, false when writing it does.
    bool atCreate;
    // What must hold of the target and its folder afterwards.
    bool (*unchanged)(const QString& path, const QString& dir);
};

void PrintTo(const TargetCase& c, std::ostream* os) {
    *os << c.name;
}

bool NoFilesIn(const QString&, const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::System | QDir::Hidden).isEmpty();
}

bool IsOfType(const QString& path, mode_t type) {
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

class UnwritableTarget : public ::testing::TestWithParam<std::tuple<Routine, TargetCase>> {
protected:
    UnwritableTarget() { Fill(list, ResultsHeader, WorkedExample); }
    ScriptedShell shell;
    ListView list;
    QTemporaryDir dir;
};

TEST_P(UnwritableTarget, GivesOneDialogAndLeavesTheTargetAsItWas) {
    const auto& [routine, target] = GetParam();
    const QString path = target.make(dir.path());
    if (path.isEmpty())
        GTEST_SKIP() << "cannot be made here";
    const bool asks = routine.save == SaveListviewAsCommaDelimToFile && FileExists(path);
    shell.answers = {MsgAnswer::Yes};
    const QByteArray report = InChildWithoutFileOverride([&] {
        routine.save(shell, list, path);
        QStringList lines;
        for (const auto& message : shell.messages)
            lines.append(QString::number(message.style) + u' ' + message.text);
        return lines.join(u'\n').toUtf8();
    });

    const bool spaced = routine.save == SaveListviewProperlySpaced;
    const int statement = target.atCreate ? (spaced ? 156 : 120) : (spaced ? 232 : 182);
    QStringList expected;
    if (asks)
        expected.append(QString::number(MsgStyle::YesNo) + u' ' +
                        QStringLiteral("Are you sure you wish to overwrite ") + path +
                        QStringLiteral(" ?"));
    expected.append(QString::number(MsgStyle::Exclamation) + u' ' +
                    ErrorText(routine, target.description(path), statement));
    EXPECT_EQ(QString::fromUtf8(report), expected.join(u'\n'));
    EXPECT_TRUE(target.unchanged(path, dir.path()));
}

const TargetCase UnwritableTargets[] = {
    {"MissingFolder",
     [](const QString& d) -> QString { return d + QStringLiteral("/no such folder/out.txt"); },
     [](const QString&) -> QString { return QStringLiteral("No such file or directory"); }, true,
     NoFilesIn},
    {"FolderNotWritable",
     [](const QString& d) -> QString {
         const QString folder = d + QStringLiteral("/read-only");
         if (!QDir(d).mkdir(QStringLiteral("read-only")) ||
             ::chmod(QFile::encodeName(folder).constData(), 0555) != 0)
             return QString();
         return folder + QStringLiteral("/out.txt");
     },
     [](const QString&) -> QString { return QStringLiteral("Permission denied"); }, true,
     [](const QString& path, const QString&) { return !QFileInfo::exists(path); }},
    {"ReadOnlyFile",
     [](const QString& d) -> QString {
         const QString file = d + QStringLiteral("/results.txt");
         WriteBytes(file, "keep me");
         return ::chmod(QFile::encodeName(file).constData(), 0444) == 0 ? file : QString();
     },
     [](const QString& path) -> QString {
         return QStringLiteral("Existing file %1 is not writable").arg(path);
     },
     true,
     [](const QString& path, const QString& dir) {
         return ReadBytes(path) == "keep me" && QDir(dir).entryList(QDir::Files).size() == 1;
     }},
    {"Folder", [](const QString& d) -> QString { return d; },
     [](const QString&) -> QString { return QStringLiteral("Filename refers to a directory"); },
     true, [](const QString& path, const QString&) { return QFileInfo(path).isDir(); }},
    {"FullDevice",
     [](const QString&) -> QString {
         return QFile::exists(QStringLiteral("/dev/full")) ? QStringLiteral("/dev/full")
                                                           : QString();
     },
     [](const QString&) -> QString { return QStringLiteral("No space left on device"); }, false,
     [](const QString& path, const QString&) { return IsOfType(path, S_IFCHR); }},
    {"FifoWithoutReader",
     [](const QString& d) -> QString {
         const QString fifo = d + QStringLiteral("/fifo");
         return ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 ? fifo : QString();
     },
     [](const QString&) -> QString { return QStringLiteral("No such device or address"); }, true,
     [](const QString& path, const QString&) { return IsOfType(path, S_IFIFO); }},
    // The system would stop reading the name at the NUL and write another file.
    {"NulInTheName",
     [](const QString& d) -> QString {
         return d + QStringLiteral("/a.txt") + QChar(0) + QStringLiteral("b");
     },
     [](const QString&) -> QString { return QStringLiteral("Bad file name"); }, true, NoFilesIn},
};

INSTANTIATE_TEST_SUITE_P(Targets, UnwritableTarget,
                         ::testing::Combine(::testing::Values(Spaced, Comma),
                                            ::testing::ValuesIn(UnwritableTargets)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    std::get<1>(info.param).name;
                         });

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
    EXPECT_EQ(shell.clipboard, QStringLiteral("index.htm\ndocs/manual.pdf\na.zip\n"));
}
