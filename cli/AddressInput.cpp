#include "cli/AddressInput.h"

#include "base/Failure.h"
#include "base/Messages.h"
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

// Every address of the URL list file at input ("-" is standard input), through
// the reader that fails with a Failure. A FIFO or a device is read as well: the
// person named it ("-i <(cmd)", "-i /dev/stdin").
void readInput(const QString& input, QStringList& addresses) {
    const auto add = [&](const QString& item) {
        if (!isBlank(item))
            addresses.append(item);
    };
    if (input == QStringLiteral("-"))
        ReadUrlList(STDIN_FILENO, add);
    else if (!FileExists(input))
        throw Failure(QStringLiteral("file not found"));
    else
        ReadUrlListFile(input, add, true);
}

// All or nothing: a file refused half-way adds none of its lines.
bool loadInput(const QString& input, ListView& urlList, QString* error) {
    QStringList addresses;
    try {
        readInput(input, addresses);
    } catch (...) {
        const QString name =
            input == QStringLiteral("-") ? QStringLiteral("standard input") : input;
        *error = name + QStringLiteral(": ") + DescribeCurrentException();
        return false;
    }
    for (const QString& address : std::as_const(addresses))
        urlList.Add(address);
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
