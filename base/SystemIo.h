#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The one read loop and the one write loop on file descriptors: a signal that
// interrupts a call (EINTR) retries it, a short count goes on with the rest.

// Reads until size bytes are in buffer or the end of the file is reached.
// Returns the count read (less than size only at the end), or -1 with errno set.
qsizetype ReadFully(int fd, char* buffer, qsizetype size);

// Writes all size bytes of data. Returns 0, or the errno of the write that failed.
int WriteAll(int fd, const char* data, qsizetype size);
int WriteAll(int fd, const QByteArray& data);

// The whole of the file at path in *bytes. False, with "cannot read PATH: REASON"
// in *error, when it cannot be read.
bool ReadWholeFile(const QString& path, QByteArray* bytes, QString* error);
