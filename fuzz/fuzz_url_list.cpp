// The URL list file reader: a file of any bytes, read through its path as the
// "Load URL List From File" command reads it, and into the URL list.
//
// Checks, besides the sanitizers: the items are exactly the lines that the line
// rule gives (CR, LF or CR LF end a line; a CR or CR LF at the very end adds
// nothing, an LF at the very end adds an empty item), each decoded on its own.
#include "base/Failure.h"
#include "fuzz/support/FuzzSupport.h"
#include "lists/FileToList.h"
#include "lists/ListView.h"

#include <QStringDecoder>
#include <sys/mman.h>
#include <unistd.h>

namespace {

QList<QByteArray> ExpectedLines(const QByteArray& d) {
    QList<QByteArray> lines;
    QByteArray current;
    bool endedWithLf = false;
    for (qsizetype i = 0; i < d.size(); ++i) {
        const char c = d[i];
        if (c == '\r' || c == '\n') {
            lines.append(current);
            current.clear();
            endedWithLf = c == '\n';
            if (c == '\r' && i + 1 < d.size() && d[i + 1] == '\n')
                ++i;
        } else {
            current += c;
        }
    }
    if (!current.isEmpty() || endedWithLf)
        lines.append(current);
    return lines;
}

QStringList Decoded(const QList<QByteArray>& lines) {
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::ConvertInitialBom |
                                                         QStringConverter::Flag::Stateless);
    QStringList items;
    for (const QByteArray& line : lines)
        items.append(decoder.decode(line));
    return items;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A regular file in memory, read through its path like any other file.
    const int fd = ::memfd_create("urllist", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> lines = ExpectedLines(bytes);
    const QStringList expected = Decoded(lines);
    // A UTF-16 text, or a line longer than 1 MiB, is refused whole.
    bool refused = bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
    for (const QByteArray& line : lines)
        refused = refused || line.size() > (1 << 20);

    QStringList items;
    bool failed = false;
    try {
        ReadUrlListFile(path, [&](const QString& item) { items.append(item); });
    } catch (const Failure&) {
        failed = true;
    }
    FuzzCheck(failed == refused, "a file was refused, or not, against the rules");
    FuzzCheck(failed || items == expected, "the items are not the file's lines");

    NullShell shell;
    ListView list;
    try {
        LoadFileToListview(shell, list, path);
    } catch (const Failure&) {
    }
    FuzzCheck(list.Texts() == (refused ? QStringList() : expected),
              "the list does not hold the file's lines");
    ::close(fd);
    return 0;
}
