#include "cli/ResultOutput.h"

#include "base/Failure.h"
#include "base/SystemIo.h"
#include "export/ListSnapshot.h"
#include "export/ResultFile.h"
#include "export/SaveComma.h"
#include "export/SaveList.h"
#include "lists/ListView.h"

#include <QDir>
#include <QFileInfo>

namespace {

QByteArray renderLines(const ListView& list) {
    QByteArray bytes;
    for (int i = 1; i <= list.Count(); ++i)
        bytes += list.Text(i).toLocal8Bit() + '\n';
    return bytes;
}

} // namespace

QByteArray RenderResults(OutputFormat format, const ListView& list) {
    switch (format) {
    case OutputFormat::Spaced:
        return SpacedFileBytes(ListSnapshot::Of(list));
    case OutputFormat::Comma:
        return CommaDelimitedFileBytes(ListSnapshot::Of(list));
    case OutputFormat::Lines:
        break;
    case OutputFormat::Jsonl:
    case OutputFormat::Csv:
        // Records of where each result was found: made as they are found
        // (export/ResultRecord), not from the list.
        return {};
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

std::unique_ptr<ResultFile> OpenResultsFile(const QString& path, QString* error) {
    *error = OutputPathProblem(path);
    if (!error->isEmpty())
        return nullptr;
    try {
        auto file = std::make_unique<ResultFile>();
        file->create(path);
        return file;
    } catch (...) {
        *error = DescribeCurrentException();
    }
    return nullptr;
}

bool WriteResultsFile(ResultFile& file, const QByteArray& bytes, QString* error) {
    try {
        file.write(bytes);
        file.commit();
        return true;
    } catch (...) {
        *error = DescribeCurrentException();
    }
    return false;
}

ResultStream::ResultStream(int fd, std::function<void()> beforeWrite)
    : m_fd(fd), m_beforeWrite(std::move(beforeWrite)) {
    m_sinceFlush.start();
}

ResultStream::~ResultStream() = default;

// A result that could not be made into a line fails the stream: the lines after
// it would leave a gap, so none is written, and the next flush says why.
void ResultStream::lineFailed() noexcept {
    m_failed = true;
    m_pending.clear();
    try {
        m_failure = DescribeCurrentException();
    } catch (...) {
    }
}

void ResultStream::add(const QByteArray& bytes) {
    if (failed())
        return;
    try {
        m_pending += bytes;
    } catch (...) {
        lineFailed();
    }
}

bool ResultStream::flush() {
    m_sinceFlush.start();
    if (failed())
        return false;
    if (m_pending.isEmpty())
        return true;
    if (m_beforeWrite)
        m_beforeWrite();
    m_error = WriteAll(m_fd, m_pending);
    m_pending.clear();
    if (m_error == 0)
        return true;
    m_failed = true;
    m_failure = SystemErrorText(m_error);
    return false;
}

bool ResultStream::flushIfDue() {
    if (m_sinceFlush.elapsed() < FlushIntervalMs)
        return !failed();
    return flush();
}
