#include "window/Startup.h"

#include "base/Failure.h"
#include "base/Messages.h"
#include "base/Shell.h"
#include "base/Statements.h"
#include "window/CursorFile.h"
#include "window/Form1.h"

#include <QCoreApplication>

namespace {
constexpr int InvalidProcedureCall = 5;
constexpr int TitleLimit = 40;
constexpr int ColumnWidthTwips = 7000;

QString withoutLastWord(const QString& title) {
    const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
    if (blank < 0)
        throw Failure(QStringLiteral("Invalid procedure call or argument"), InvalidProcedureCall);
    return title.left(blank);
}
} // namespace

QString ShortenedTitle(const QString& longTitle) {
    QString title = withoutLastWord(longTitle);
    while (title.size() > TitleLimit)
        title = withoutLastWord(title);
    return title;
}

void SkinSetup(Form1& /*form*/) {}

QString MouseIconFile(const Form1& form) {
    return form.AppPath() + QStringLiteral("/HAND-M.CUR");
}

QString Form1::AppPath() const {
    if (!ApplicationFolder.isEmpty())
        return ApplicationFolder;
    return QCoreApplication::applicationDirPath();
}

void Form1::Form_Load() {
    Statements s(m_shell, QualifiedName("Form1", "Form_Load"));
    s.run(100, [&] { SkinSetup(*this); });

    bool haveCursor = false;
    s.run(104, [&] { haveCursor = FileExists(MouseIconFile(*this)); });
    if (haveCursor) {
        s.run(106, [&] {
            // The file is checked here; the window turns it into its pointer.
            const QString path = MouseIconFile(*this);
            ReadCursorFile(path);
            m_mouseIconPath = path;
            emit mouseIconChanged();
        });
    }

    s.run(126, [&] { setCaption(LongTitle); });
    s.run(126, [&] { setIcon(ApplicationIconName); });
    s.run(126, [&] { SetApplicationTitle(ShortenedTitle(LongTitle)); });
    s.run(128, [&] { ListView1.AddColumn(QStringLiteral("URL(s)")); });
    s.run(130, [&] { ListView1.SetColumnWidth(1, ColumnWidthTwips); });
    s.run(132, [&] { ListView2.AddColumn(QStringLiteral("Result(s)")); });
    s.run(134, [&] { ListView2.SetColumnWidth(1, ColumnWidthTwips); });
}

void Form1::Form_Unload() {
    // Ends the program at once: nothing is saved and nothing is asked.
    m_shell.endProgram();
}
