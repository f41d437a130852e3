#include "crawl/PageFile.h"

#include "base/Failure.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder's path, and the highest page file number asked for, as a signal
// handler can read them: a handler may not allocate or take a lock.
char g_folderForSignal[PATH_MAX];
volatile std::sig_atomic_t g_highestFileNumber = 0;

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
        g_folderForSignal[0] = '\0';
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
    // mkdtemp makes a new folder of a unique name with mode 0700. A signal handler
    // removes it by the path recorded for it: no signal may come in between.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    const bool made = ::mkdtemp(name.data()) != nullptr;
    const int error = errno;
    if (made && name.size() < sizeof g_folderForSignal)
        std::memcpy(g_folderForSignal, name.c_str(), name.size() + 1);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!made)
        throw Failure(QStringLiteral("Cannot make a private folder for the page file in ") +
                      nativeName(base) + QStringLiteral(": ") + SystemErrorText(error));
    current.path = name;
    return current.path;
}

} // namespace

QString PageFilePath(int fileNumber) {
    if (fileNumber > g_highestFileNumber)
        g_highestFileNumber = fileNumber;
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
    ::unlink(native.constData());
    return fd;
}

const char* MapPageFile(int fd, qint64 size, const QString& path) {
    void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        const int error = errno;
        throw Failure(QStringLiteral("Cannot read the page file ") + path + QStringLiteral(": ") +
                      SystemErrorText(error));
    }
    // Read once, front to back: read ahead far, and the pages behind may go.
    ::madvise(map, static_cast<size_t>(size), MADV_SEQUENTIAL);
    return static_cast<const char*>(map);
}

qint64 ReleasePageFileMap(const char* map, qint64 from, qint64 upTo) noexcept {
    static const qint64 pageSize = ::sysconf(_SC_PAGESIZE);
    const qint64 start = from / pageSize * pageSize;
    const qint64 end = upTo / pageSize * pageSize;
    if (end > start)
        ::madvise(const_cast<char*>(map) + start, static_cast<size_t>(end - start), MADV_DONTNEED);
    return std::max(from, end);
}

void UnmapPageFile(const char* map, qint64 size) noexcept {
    ::munmap(const_cast<char*>(map), static_cast<size_t>(size));
}

void RemovePageFolder() noexcept {
    folder().remove();
}

void RemovePageFolderFromSignalHandler() noexcept {
    if (g_folderForSignal[0] == '\0')
        return;
    const int folder = ::open(g_folderForSignal, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        // Each page file is unlinked as soon as it is open; one caught in between
        // is removed here by its name, HTML<n>.tmp, written out digit by digit.
        for (int n = 1; n <= g_highestFileNumber; ++n) {
            char name[32] = "HTML";
            char digits[12];
            int count = 0;
            for (int v = n; v > 0 && count < 11; v /= 10)
                digits[count++] = static_cast<char>('0' + v % 10);
            int at = 4;
            while (count > 0)
                name[at++] = digits[--count];
            std::memcpy(name + at, ".tmp", 5);
            ::unlinkat(folder, name, 0);
        }
        ::close(folder);
    }
    ::rmdir(g_folderForSignal);
}

QString PageFolder() {
    return nativeName(folder().path);
}
