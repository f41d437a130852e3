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
// Written with plain system calls rather than QTemporaryDir: the command line
// removes it from a signal handler too, where only async-signal-safe calls may run.
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
        ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        throw Failure(QStringLiteral("Cannot create the page file ") + path + QStringLiteral(": ") +
                      SystemErrorText(error));
    }
    return fd;
}

void RemovePageFolder() noexcept {
    folder().remove();
}

QString PageFolder() {
    return nativeName(folder().path);
}
