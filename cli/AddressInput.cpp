#include "cli/AddressInput.h"

#include "app/Failure.h"
#include "app/Messages.h"
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

// Every line of the URL list file at input ("-" is standard input), through the
// reader that fails with a Failure.
void readInput(const QString& input, ListView& lines) {
    const auto add = [&](const QString& item) { lines.Add(item); };
    if (input == QStringLiteral("-"))
        ReadUrlList(STDIN_FILENO, add);
    else if (!FileExists(input))
        throw Failure(QStringLiteral("file not found"));
    else // the user named it: a FIFO such as <(cmd) or a device is read too
        ReadUrlListFile(input, add, /*streams=*/true);
}

bool loadInput(const QString& input, ListView& urlList, QString* error) {
    ListView lines;
    try {
        readInput(input, lines);
    } catch (...) {
        const QString name =
            input == QStringLiteral("-") ? QStringLiteral("standard input") : input;
        *error = name + QStringLiteral(": ") + DescribeCurrentException();
        return false;
    }
    for (int i = 1; i <= lines.Count(); ++i)
        addUnlessBlank(urlList, lines.Text(i));
    return true;
}

} // namespace

bool LoadAddresses(const HarvestOptions& options, ListView& urlList, QString* error) {
    for (const QString& address : options.addresses)
        addUnlessBlank(urlList, address);
    for (const QString& input : options.inputFiles)
        if (!loadInput(input, urlList, error))
            return false;
    return true;
}
