#include "cli/AddressInput.h"

#include "app/Failure.h"
#include "cli/CliShell.h"
#include "lists/FileToList.h"
#include "lists/ListView.h"

#include <unistd.h>

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

bool loadInput(CliShell& shell, const QString& input, ListView& urlList, QString* error) {
    const bool standardInput = input == QStringLiteral("-");
    QString notice;
    shell.onNotice = [&](const QString& text) {
        if (notice.isEmpty())
            notice = text;
    };
    ListView lines;
    QString failure;
    try {
        if (standardInput)
            ReadUrlList(STDIN_FILENO, [&](const QString& item) { lines.Add(item); });
        else
            LoadFileToListview(shell, lines, input);
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
        *error = (standardInput ? QStringLiteral("standard input") : input) + QStringLiteral(": ") +
                 failure;
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
