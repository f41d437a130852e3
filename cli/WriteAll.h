#pragma once

#include <QByteArray>

// Writes all of data to a file descriptor, retrying short and interrupted
// writes. Returns 0, or the errno of the write that failed.
int WriteAll(int fd, const QByteArray& data);
