#include "crawl/PageFile.h"

#include "app/Failure.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The private folder of this program; removed at the end of the program by the
// destructor (a program that ends through _Exit calls RemovePageFolder first).
struct PrivateFolder {
    std::string path;
    ~PrivateFolder() { remove(); }

    void remove() noexcept {
        if (path.empty())
            return;
        if (DIR* dir = ::opendir(path.c_str())) {
            const int fd = ::dirfd(dir);
            while (const dirent* entry = ::readdir(dir)) {
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                    ::unlinkat(fd, name, 0);
            }
            ::closedir(dir);
        }
        ::rmdir(path.c_str());
        path.clear();
    }
};

PrivateFolder& folder() {
    static PrivateFolder instance;
    return instance;
}

std::string temporaryBase() {
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "/tmp";
}

QString nativeName(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// True when the folder made earlier is still there, ours, and private.
bool stillPrivate(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

const std::string& privateFolder() {
    PrivateFolder& current = folder();
    if (!current.path.empty() && stillPrivate(current.path))
        return current.path;
    current.path.clear();
    const std::string base = temporaryBase();
    std::string name = base + (base.back() == '/' ? "" : "/") + "orvelle-XXXXXX";
    // mkdtemp makes a new folder of a unique name with mode 0700.
    if (!::mkdtemp(name.data())) {
        const int error = errno;
        throw Failure(QStringLiteral("Cannot make a private folder for the page file in ") +
                      nativeName(base) + QStringLiteral(": ") + SystemErrorText(error));
    }
    current.path = name;
    return current.path;
}

} // namespace

QString PageFilePath(int fileNumber) {
    return nativeName(privateFolder()) + QStringLiteral("/HTML") + QString::number(fileNumber) +
           QStringLiteral(".tmp");
}

int CreatePageFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // A fresh file each time: whatever stands at the path goes first (unlink removes
    // a symbolic link itself, not what it points to), and O_EXCL with O_NOFOLLOW
    // refuses anything that appears there in between.
    if (::unlink(native.constData()) != 0 && errno != ENOENT) {
        const int error = errno;
        throw Failure(QStringLiteral("Cannot replace the page file ") + path +
                      QStringLiteral(": ") + SystemErrorText(error));
    }
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        throw Failure(QStringLiteral("Cannot create the page file ") + path + QStringLiteral(": ") +
                      SystemErrorText(error));
    }
    return fd;
}

void ReadPageFile(const QString& path, QByteArray& bytes, qint64 maxBytes) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Failure(QStringLiteral("Cannot open the page file ") + path + QStringLiteral(": ") +
                      SystemErrorText(error));
    }
    auto fail = [&](int error) {
        ::close(fd);
        throw Failure(QStringLiteral("Cannot read the page file ") + path + QStringLiteral(": ") +
                      SystemErrorText(error));
    };
    struct stat st;
    if (::fstat(fd, &st) != 0)
        fail(errno);
    if (!S_ISREG(st.st_mode))
        fail(EINVAL);
    if (st.st_size > maxBytes)
        fail(EFBIG);
    bytes.resize(static_cast<qsizetype>(st.st_size));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (n == 0)
            break; // the file got shorter: keep what is there
        done += n;
    }
    bytes.resize(done);
    ::close(fd);
}

void RemovePageFolder() noexcept {
    folder().remove();
}

QString PageFolder() {
    return nativeName(folder().path);
}
