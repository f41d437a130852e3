#include "cli/ResultOutput.h"

#include "cli/WriteAll.h"
#include "lists/ListView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstring>

namespace {

QByteArray renderLines(const ListView& list) {
    QByteArray bytes;
    for (int i = 1; i <= list.Count(); ++i)
        bytes += list.Text(i).toLocal8Bit() + '\n';
    return bytes;
}

// The "Save Results As Text File" layout: every cell padded with blanks to the
// width of the longest text of its column (header included, counted in 16-bit
// characters) and closed by a tab; CR LF after every line, the header first.
QByteArray renderSpaced(const ListView& list) {
    const int columns = std::max(list.ColumnCount(), 1);
    QList<qsizetype> widths(columns, 0);
    auto cell = [&](int row, int column) {
        return column == 1 ? list.Text(row) : list.SubItem(row, column - 1);
    };
    for (int k = 1; k <= columns; ++k) {
        qsizetype width = k <= list.ColumnCount() ? list.ColumnText(k).size() : 0;
        for (int j = 1; j <= list.Count(); ++j)
            width = std::max(width, cell(j, k).size());
        widths[k - 1] = width;
    }
    auto padded = [&](const QString& text, int k) -> QString {
        return text +
               QString(std::max<qsizetype>(widths[k - 1] - text.size(), 0), QLatin1Char(' ')) +
               QLatin1Char('\t');
    };
    QString out;
    for (int k = 1; k <= columns; ++k)
        out += padded(k <= list.ColumnCount() ? list.ColumnText(k) : QString(), k);
    out += QStringLiteral("\r\n");
    for (int j = 1; j <= list.Count(); ++j) {
        if (!list.Checked(j))
            continue;
        for (int k = 1; k <= columns; ++k)
            out += padded(cell(j, k), k);
        out += QStringLiteral("\r\n");
    }
    return out.toLocal8Bit();
}

// The "Save As Comma Delimited" layout for the one-column results list: one
// result per line, a comma after every result but the last, CR LF after each.
QByteArray renderComma(const ListView& list) {
    QString out;
    const int count = list.Count();
    for (int j = 1; j <= count; ++j) {
        out += list.Text(j);
        if (j != count)
            out += QLatin1Char(',');
        out += QStringLiteral("\r\n");
    }
    return out.toLocal8Bit();
}

} // namespace

QByteArray RenderResults(OutputFormat format, const ListView& list) {
    switch (format) {
    case OutputFormat::Spaced:
        return renderSpaced(list);
    case OutputFormat::Comma:
        return renderComma(list);
    case OutputFormat::Lines:
        break;
    }
    return renderLines(list);
}

QString OutputPathProblem(const QString& path) {
    const QFileInfo target(path);
    if (target.isDir())
        return QStringLiteral("is a folder");
    const QFileInfo folder(target.absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder ") + QDir::toNativeSeparators(folder.filePath()) +
               QStringLiteral(" does not exist");
    if (!folder.isDir())
        return QDir::toNativeSeparators(folder.filePath()) + QStringLiteral(" is not a folder");
    return {};
}

bool WriteResultsFile(const QString& path, const QByteArray& bytes, QString* error) {
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A device or a pipe has no folder entry to replace.
        QFile device(path);
        if (!device.open(QIODevice::WriteOnly) || device.write(bytes) != bytes.size() ||
            !device.flush()) {
            *error = device.errorString();
            return false;
        }
        device.close();
        if (device.error() != QFileDevice::NoError) {
            *error = device.errorString();
            return false;
        }
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

ResultStream::ResultStream(ListView& list, int fd, std::function<void()> beforeWrite)
    : m_list(list), m_fd(fd), m_beforeWrite(std::move(beforeWrite)) {
    m_sinceFlush.start();
    m_connection = QObject::connect(&list, &QAbstractItemModel::rowsInserted, &list,
                                    [this](const QModelIndex&, int first, int last) {
                                        // Nothing may escape a slot.
                                        try {
                                            append(first, last);
                                        } catch (...) {
                                        }
                                    });
}

ResultStream::~ResultStream() {
    QObject::disconnect(m_connection);
}

void ResultStream::append(int firstRow, int lastRow) {
    if (m_error != 0)
        return;
    for (int row = firstRow; row <= lastRow; ++row)
        m_pending += m_list.Text(row + 1).toLocal8Bit() + '\n';
}

bool ResultStream::flush() {
    m_sinceFlush.start();
    if (m_error != 0)
        return false;
    if (m_pending.isEmpty())
        return true;
    if (m_beforeWrite)
        m_beforeWrite();
    m_error = WriteAll(m_fd, m_pending);
    m_pending.clear();
    return m_error == 0;
}

bool ResultStream::flushIfDue() {
    if (m_sinceFlush.elapsed() < FlushIntervalMs)
        return m_error == 0;
    return flush();
}
