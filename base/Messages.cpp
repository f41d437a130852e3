#include "base/Messages.h"

#include "base/Shell.h"

#include <QFile>
#include <sys/stat.h>

namespace {
QString& titleStorage() {
    static QString title = QStringLiteral("Orvelle");
    return title;
}

struct MessageRow {
    MessageId id;
    int style;
    const char16_t* text; // %1 stands for the path
};

// The texts of the plain messages, exactly as the window shows them.
const MessageRow MessageTable[] = {
    {MessageId::Done, MsgStyle::OkOnly, u"Done."},
    {MessageId::NoUrlsAdded, MsgStyle::OkOnly, u"No URLs added."},
    {MessageId::FileNotFound, MsgStyle::OkOnly, u"File not found"},
    {MessageId::TooManyFilesSelected, MsgStyle::OkOnly,
     u"You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button."},
    {MessageId::SelectJustOneFile, MsgStyle::OkOnly, u"Please select just one file."},
    {MessageId::OverwriteQuestion, MsgStyle::YesNo, u"Are you sure you wish to overwrite %1 ?"},
    {MessageId::CopiedToClipboard, MsgStyle::OkOnly,
     u"Results have been copied to the clipboard.\r\rClick a text area where you normally type "
     u"and press Ctrl+V to paste the clipboard."},
    {MessageId::ClipboardInUse, MsgStyle::OkOnly,
     u"The clipboard is in use by another program; the results were not copied."},
};

const MessageRow& rowOf(MessageId id) {
    for (const MessageRow& row : MessageTable)
        if (row.id == id)
            return row;
    // Every identifier has its row; the first keeps a missing one harmless.
    return MessageTable[0];
}
} // namespace

const QString& ApplicationTitle() {
    return titleStorage();
}

void SetApplicationTitle(const QString& title) {
    titleStorage() = title;
}

QString ApplicationErrorTitle() {
    return QStringLiteral("Application Error");
}

QString QualifiedName(const char* module, const char* routine) {
    return QStringLiteral("in Quillmere2021/08/31.") + QLatin1String(module) + QLatin1Char('.') +
           QLatin1String(routine) + QLatin1Char(' ');
}

QString SupportRequest() {
    return QStringLiteral("Please email screenshot of this message to ") +
           QStringLiteral(ORVELLE_SUPPORT_EMAIL);
}

QString ApplicationErrorText(const QString& description, const QString& qualifiedName,
                             int statement) {
    return description + QStringLiteral("\r\n") + qualifiedName + QStringLiteral("at line ") +
           QString::number(statement) + QStringLiteral("\r\r") + SupportRequest();
}

QString ApplicationError::text() const {
    return ApplicationErrorText(description, routine, statement);
}

QString MessageText(MessageId id, const QString& path) {
    const QString text = QString::fromUtf16(rowOf(id).text);
    if (id == MessageId::OverwriteQuestion)
        return text.arg(path);
    return text;
}

int MessageStyle(MessageId id) {
    return rowOf(id).style;
}

int MsgBox(Shell& shell, MessageId id, const QString& path) {
    return shell.messageBox({id, MessageText(id, path), MessageStyle(id), ApplicationTitle()});
}

QString DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    // stat() rather than QFileInfo: a path with an embedded NUL must not be
    // cut short and answer for a different file.
    const QByteArray native = QFile::encodeName(path);
    if (native.contains('\0'))
        return false;
    struct stat st;
    return ::stat(native.constData(), &st) == 0;
}

QString ShortText(const QString& text, qsizetype maxCharacters) {
    if (text.size() <= maxCharacters)
        return text;
    qsizetype cut = maxCharacters;
    // Never half a character: a surrogate pair stays whole or goes.
    if (cut > 0 && text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QStringLiteral("\u2026");
}
