#pragma once

#include "cli/HarvestOptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>

class ListView;
class ResultFile;

// The whole results list in one output format, byte for byte what the window's
// save commands write for the spaced and comma formats.
QByteArray RenderResults(OutputFormat format, const ListView& list);

// Why a results file could not be written at path, found before the run so that
// a long harvest is not lost to a typing mistake; empty when nothing is known
// against it.
QString OutputPathProblem(const QString& path);

// Opens the results file at path before the run, so that a harvest is not lost
// to an output that cannot be written. A regular file (or a new one) is replaced
// all or nothing: the bytes go to a temporary file beside it, made now, which
// takes the file's place only when complete, so a failure leaves an existing
// file as it was. A device or a pipe is opened to be written directly. Null,
// with the reason in *error, on failure.
std::unique_ptr<ResultFile> OpenResultsFile(const QString& path, QString* error);

// Writes bytes to the file opened by OpenResultsFile and puts it in place. False,
// with the reason in *error, on failure.
bool WriteResultsFile(ResultFile& file, const QByteArray& bytes, QString* error);

// Standard output, written as the results are found: what add() is given is
// handed to the file descriptor at every flush.
class ResultStream {
public:
    // beforeWrite runs before each write (to take the progress line off a terminal).
    ResultStream(int fd, std::function<void()> beforeWrite);
    ~ResultStream();
    ResultStream(const ResultStream&) = delete;
    ResultStream& operator=(const ResultStream&) = delete;

    // Appends bytes made elsewhere (a record of a result), to go with the next flush.
    void add(const QByteArray& bytes);
    // Writes what was found since the last flush. False once a write, or the
    // making of a line, has failed; nothing more is written then.
    bool flush();
    // Flushes when the last flush is older than FlushIntervalMs.
    bool flushIfDue();
    // The errno of the write that failed, or 0.
    int error() const { return m_error; }
    // Why the stream failed: the system's text of error(), or what went wrong
    // in making a line.
    const QString& failure() const { return m_failure; }

    static constexpr qint64 FlushIntervalMs = 250;

private:
    void lineFailed() noexcept;
    bool failed() const { return m_failed; }

    int m_fd;
    std::function<void()> m_beforeWrite;
    QByteArray m_pending;
    QElapsedTimer m_sinceFlush;
    bool m_failed = false;
    int m_error = 0;
    QString m_failure;
};
