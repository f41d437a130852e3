#include "app/Messages.h"

#include "app/Shell.h"

#include <QFile>
#include <sys/stat.h>

namespace {
QString& titleStorage() {
    static QString title = QStringLiteral("Orvelle");
    return title;
}
} // namespace

const QString& ApplicationTitle() {
    return titleStorage();
}

void SetApplicationTitle(const QString& title) {
    titleStorage() = title;
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

int MsgBox(Shell& shell, const QString& text, int style) {
    return shell.messageBox(text, style, ApplicationTitle());
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
