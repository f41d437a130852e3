#include "export/ResultFile.h"

#include "base/Failure.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// True when path names something that exists and is neither a regular file nor
// a folder (symbolic links followed): /dev/full, a FIFO, /dev/stdout.
bool IsSpecialFile(const QByteArray& native) {
    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        return false;
    return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}
} // namespace

ResultFile::ResultFile() = default;
ResultFile::~ResultFile() = default; // an uncommitted QSaveFile removes its own temporary file

void ResultFile::fail() const {
    QString text = m_file ? m_file->errorString() : QString();
    if (text.isEmpty() || text == QLatin1String("Unknown error"))
        text = SystemErrorText(errno ? errno : EIO);
    throw Failure(text);
}

void ResultFile::create(const QString& path) {
    m_file.reset();
    const QByteArray native = QFile::encodeName(path);
    // The system would stop reading the name at the NUL and write some other file.
    if (path.isEmpty() || native.contains('\0'))
        throw Failure(QStringLiteral("Bad file name"));

    if (IsSpecialFile(native)) {
        // O_NONBLOCK only for the opening: a FIFO with no reader fails at once
        // (ENXIO) instead of blocking the window until one comes.
        const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            throw Failure(SystemErrorText(errno));
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        auto file = std::make_unique<QFile>();
        if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                        QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            m_file = std::move(file);
            fail();
        }
        m_file = std::move(file);
        return;
    }

    auto file = std::make_unique<QSaveFile>(path);
    // A folder where new files cannot be made but the file itself is writable:
    // write it in place rather than not at all.
    file->setDirectWriteFallback(true);
    m_file = std::move(file);
    errno = 0;
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail();
}

void ResultFile::write(const QByteArray& bytes) {
    if (!m_file || !m_file->isOpen())
        throw Failure(QStringLiteral("The file is not open"));
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        // A short write (file size limit, disk nearly full) is followed by a
        // second one that fails with the reason.
        errno = 0;
        const qint64 written = m_file->write(data, left);
        if (written <= 0)
            fail();
        data += written;
        left -= written;
    }
}

void ResultFile::commit() {
    if (!m_file || !m_file->isOpen())
        throw Failure(QStringLiteral("The file is not open"));
    errno = 0;
    if (auto* save = qobject_cast<QSaveFile*>(m_file.get())) {
        if (!save->commit())
            fail();
        return;
    }
    m_file->close();
    if (m_file->error() != QFileDevice::NoError)
        fail();
}

QString ResultFile::temporaryPath() const {
    auto* save = qobject_cast<QSaveFile*>(m_file.get());
    if (!save || !save->isOpen())
        return {};
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", save->handle());
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof target))
        return {};
    const QString path = QFile::decodeName(QByteArray(target, n));
    // Written in place (the folder takes no new file): there is no temporary file.
    if (path == QFileInfo(save->fileName()).canonicalFilePath())
        return {};
    return path;
}
