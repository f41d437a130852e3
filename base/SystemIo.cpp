#include "base/SystemIo.h"

#include <QFile>
#include <cerrno>
#include <unistd.h>

qsizetype ReadFully(int fd, char* buffer, qsizetype size) {
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int WriteAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= n;
    }
    return 0;
}

int WriteAll(int fd, const QByteArray& data) {
    return WriteAll(fd, data.constData(), data.size());
}

bool ReadWholeFile(const QString& path, QByteArray* bytes, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    *bytes = file.readAll();
    return true;
}
