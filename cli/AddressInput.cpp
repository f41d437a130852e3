#include "cli/AddressInput.h"

#include "app/Failure.h"
#include "app/Messages.h"
#include "cli/CliShell.h"
#include "lists/ListView.h"

#include <QFile>
#include <QTemporaryFile>
#include <cstdio>

namespace {

// Nothing to visit: no characters but blanks, and perhaps the byte-order mark
// that the first line of a file keeps.
bool isBlank(const QString& address) {
    for (QChar c : address)
        if (!c.isSpace() && c != QChar(0xFEFF))
            return false;
    return true;
}

void addUnlessBlank(ListView& list, const QString& address) {
    if (!isBlank(address))
        list.Add(address);
}

// Appends the lines of the file at path to list, by the rules of "Load URL List
// From File": a line ends at CR, CR LF or LF; a missing file gives "File not found".
void loadUrlListFile(CliShell& shell, ListView& list, const QString& path) {
    if (!FileExists(path)) {
        MsgBox(shell, QStringLiteral("File not found"));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(file.errorString());
    const QString text = QString::fromLocal8Bit(file.readAll());
    if (file.error() != QFileDevice::NoError)
        throw Failure(file.errorString());
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            list.Add(line);
            line.clear();
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            list.Add(line);
            line.clear();
            // An LF at the very end leaves an empty last item.
            if (i + 1 == text.size())
                list.Add(QString());
        } else {
            line += c;
        }
    }
    if (!line.isEmpty())
        list.Add(line);
}

// Standard input, copied whole into a temporary file, so that it is read by the
// same routine as any URL list file.
bool copyStandardInput(QTemporaryFile& copy, QString* error) {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    if (!copy.open()) {
        *error = copy.errorString();
        return false;
    }
    char buffer[65536];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0) {
            *error = in.errorString();
            return false;
        }
        if (n == 0)
            break;
        if (copy.write(buffer, n) != n) {
            *error = copy.errorString();
            return false;
        }
    }
    if (!copy.flush()) {
        *error = copy.errorString();
        return false;
    }
    copy.close();
    return true;
}

bool loadInput(CliShell& shell, const QString& input, ListView& urlList, QString* error) {
    const bool standardInput = input == QStringLiteral("-");
    const QString name = standardInput ? QStringLiteral("standard input") : input;
    QTemporaryFile copy;
    QString path = input;
    if (standardInput) {
        if (!copyStandardInput(copy, error)) {
            *error = name + QStringLiteral(": ") + *error;
            return false;
        }
        path = copy.fileName();
    }

    QString notice;
    shell.onNotice = [&](const QString& text) {
        if (notice.isEmpty())
            notice = text;
    };
    ListView lines;
    QString failure;
    try {
        loadUrlListFile(shell, lines, path);
    } catch (const Failure& f) {
        failure = f.description();
    } catch (...) {
        failure = DescribeCurrentException();
    }
    shell.onNotice = nullptr;

    if (notice == QStringLiteral("File not found"))
        failure = QStringLiteral("file not found");
    else if (!notice.isEmpty() && failure.isEmpty())
        failure = CliShell::terminalText(notice);
    if (!failure.isEmpty()) {
        *error = name + QStringLiteral(": ") + failure;
        return false;
    }
    for (int i = 1; i <= lines.Count(); ++i)
        addUnlessBlank(urlList, lines.Text(i));
    return true;
}

} // namespace

bool LoadAddresses(CliShell& shell, const HarvestOptions& options, ListView& urlList,
                   QString* error) {
    for (const QString& address : options.addresses)
        addUnlessBlank(urlList, address);
    for (const QString& input : options.inputFiles)
        if (!loadInput(shell, input, urlList, error))
            return false;
    return true;
}
