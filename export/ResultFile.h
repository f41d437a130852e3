#pragma once

#include <QString>
#include <memory>

class QFileDevice;

// A results file, written all-or-nothing. A regular file (or a new one) is
// written beside the target and renamed over it on commit, so an existing file
// is replaced only by a complete one and a failure half-way leaves it as it was.
// A target that is not a regular file (a device, a FIFO, a terminal) cannot be
// replaced that way and is written directly.
//
// Every step throws Failure with the system's description of what went wrong.
class ResultFile {
public:
    ResultFile();
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    void create(const QString& path);
    void write(const QByteArray& bytes);
    // Puts the file in place (or, written directly, closes it).
    void commit();
    // The temporary file that commit() puts in place; empty when the file is
    // written directly or the system does not say (it is read from /proc).
    QString temporaryPath() const;

private:
    [[noreturn]] void fail() const;

    std::unique_ptr<QFileDevice> m_file;
};
